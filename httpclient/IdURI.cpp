#include "IdURI.h"

#include "IdException.h"
#include "IdGlobal.h"

TIdURI::TIdURI(const AnsiString& uri) {
    if (!uri.empty()) ParseURI(uri);
}

void TIdURI::NormalizeSlashes(AnsiString& text) {
    // The ANSI code page is single-byte, so no byte is the trail of a
    // double-byte character.
    for (char& c : text)
        if (c == '\\') c = '/';
}

namespace {

int Pos(char c, const AnsiString& text) {
    const size_t at = text.find(c);
    return at == AnsiString::npos ? 0 : static_cast<int>(at) + 1;
}

}  // namespace

void TIdURI::ParseURI(const AnsiString& uri) {
    uri_ = uri;
    NormalizeSlashes(uri_);
    protocol_.clear();
    username_.clear();
    password_.clear();
    host_.clear();
    port_.clear();
    path_.clear();
    document_.clear();
    query_.clear();
    fragment_.clear();

    AnsiString s = uri_;
    // The separator counts wherever it stands, the very start included: "://x/y"
    // has an empty protocol, host "x" and path "/".
    const size_t scheme = s.find("://");
    const bool hasProtocol = scheme != AnsiString::npos;
    if (hasProtocol) {
        protocol_ = s.substr(0, scheme);
        s.erase(0, scheme + 3);
        AnsiString authority = CutToken(s, "/");
        AnsiString userInfo;
        const size_t at = authority.find('@');
        if (at != AnsiString::npos) {
            userInfo = authority.substr(0, at);
            authority.erase(0, at + 1);
        }
        username_ = CutToken(userInfo, ":");
        password_ = username_.empty() ? AnsiString() : userInfo;
        host_ = CutToken(authority, ":");
        port_ = authority;
    }

    // The query starts at the first "?", or at the first "=" when there is
    // no "?"; the path ends at the last "/" before it.
    int q = Pos('?', s);
    if (q == 0) q = Pos('=', s);
    const int c = q > 0 ? FindLast("/", s, q) : FindLast("/", s, -1);
    path_ = (hasProtocol ? "/" : "") + s.substr(0, static_cast<size_t>(c));
    AnsiString documentText = q > 0 ? s.substr(0, static_cast<size_t>(q - 1)) : s;
    if (q > 0) query_ = s.substr(static_cast<size_t>(q - 1));
    document_ = documentText.substr(static_cast<size_t>(c));
    if (hasProtocol) {
        AnsiString rest = document_;
        document_ = CutToken(rest, "#");
        fragment_ = rest;
    }
    if (fragment_.empty()) {
        AnsiString rest = query_;
        query_ = CutToken(rest, "#");
        fragment_ = rest;
    }
}

AnsiString TIdURI::BuildURI(TIdURIOptionalFieldsSet options) const {
    if (protocol_.empty()) throw EIdURIException("Protocol field is empty");
    AnsiString result = protocol_ + "://";
    if (!username_.empty() && options.Contains(TIdURIOptionalFields::uoUserInfo)) {
        result += username_;
        if (!password_.empty()) result += ":" + password_;
        result += "@";
    }
    if (host_.empty()) throw EIdURIException("Host field is empty");
    result += host_;
    if (!port_.empty()) result += ":" + port_;
    result += path_ + document_ + query_;
    if (!fragment_.empty() && options.Contains(TIdURIOptionalFields::uoFragment)) result += "#" + fragment_;
    return result;
}

AnsiString TIdURI::URLText() {
    uri_ = BuildURI({TIdURIOptionalFields::uoUserInfo, TIdURIOptionalFields::uoFragment});
    return BuildURI({});
}

AnsiString MergePath(const AnsiString& heldPath, const AnsiString& newPath, const AnsiString& delimiter) {
    const char d = delimiter.empty() ? '/' : delimiter[0];
    if (!newPath.empty() && newPath[0] == d) return newPath;
    const bool keepFinal = newPath.empty() || newPath.back() == d;

    AnsiString work = heldPath;
    if (!work.empty() && work.back() != d) work += d;
    work += newPath;

    AnsiString result;
    for (size_t i = 0; i < work.size();) {
        const char ch = work[i];
        if (ch == d) {
            if (i == 0) result.assign(1, d);
            else if (result.empty() || result.back() != d) result += d;
        } else if (ch == '.' && !result.empty() && result.back() == d && i + 1 < work.size() && work[i + 1] == '.') {
            // ".." takes back the last segment.
            result.pop_back();
            while (!result.empty() && result.back() != d) result.pop_back();
            i += 2;
            continue;
        } else {
            result += ch;
        }
        ++i;
    }
    if (result.size() > 1 && result.back() == d && !keepFinal) result.pop_back();
    return result;
}
