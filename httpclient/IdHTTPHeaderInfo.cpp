#include "IdHTTPHeaderInfo.h"

#include <cstdint>

#include "IdGlobal.h"

namespace {

// A length as HTTP writes it: decimal digits only, up to 2^63-1.
bool ReadDecimalLength(const AnsiString& text, int64_t& value) {
    if (text.empty()) return false;
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (v > (INT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

enum class LengthState { absent, valid, invalid, conflicting };

// Every Content-Length line, each possibly a comma list: the length when all
// members are decimal and equal.
LengthState ContentLengthOf(const TIdHeaderList& h, int64_t& length) {
    TStringList values;
    h.CollectValues("Content-Length", &values);
    if (values.Count() == 0) return LengthState::absent;
    bool seen = false;
    for (int i = 0; i < values.Count(); ++i) {
        AnsiString rest = values[i];
        do {
            const AnsiString member = Trim(CutToken(rest, ","));
            if (member.empty()) continue;  // an empty list member counts for nothing
            int64_t v = 0;
            if (!ReadDecimalLength(member, v)) return LengthState::invalid;
            if (seen && v != length) return LengthState::conflicting;
            length = v;
            seen = true;
        } while (!rest.empty());
    }
    return seen ? LengthState::valid : LengthState::invalid;
}

}  // namespace

// ---- entity fields ----

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
    headerLines_.SetFoldWidth(1024);
    ResetEntityFields();
}

void TIdEntityHeaderInfo::ResetEntityFields() {
    headerLines_.Clear();
    connection_.clear();
    contentVersion_.clear();
    contentEncoding_.clear();
    contentLanguage_.clear();
    contentType_ = "text/html";
    SetContentLength(-1);
    date_ = 0;
    expires_ = 0;
    lastModified_ = 0;
    contentRangeStart_ = 0;
    contentRangeEnd_ = 0;
}

void TIdEntityHeaderInfo::ResetFields() { ResetEntityFields(); }

void TIdEntityHeaderInfo::BuildHeaderLines() {
    TIdHeaderList& h = headerLines_;
    h.Clear();
    if (!connection_.empty()) h.SetHeaderValue("Connection", connection_);
    if (!contentVersion_.empty()) h.SetHeaderValue("Content-Version", contentVersion_);
    if (!contentEncoding_.empty()) h.SetHeaderValue("Content-Encoding", contentEncoding_);
    if (!contentLanguage_.empty()) h.SetHeaderValue("Content-Language", contentLanguage_);
    if (!contentType_.empty()) h.SetHeaderValue("Content-Type", contentType_);
    if (contentLength_ >= 0) h.SetHeaderValue("Content-Length", IntToStr(contentLength_));
    if (!cacheControl_.empty()) h.SetHeaderValue("Cache-control", cacheControl_);
    if (date_ > 0) h.SetHeaderValue("Date", FormatInternetDate(date_));
    if (expires_ > 0) h.SetHeaderValue("Expires", FormatInternetDate(expires_));
    if (!pragma_.empty()) h.SetHeaderValue("Pragma", pragma_);
    // Custom lines go in as they are, through the whole-text form, so an
    // entry holding line breaks becomes several lines.
    if (customHeaders_.Count() > 0) h.SetText(h.Text() + customHeaders_.Text());
}

void TIdEntityHeaderInfo::ParseHeaderLines() {
    const TIdHeaderList& h = headerLines_;
    connection_ = h.HeaderValue("Connection");
    contentVersion_ = h.HeaderValue("Content-Version");
    contentEncoding_ = h.HeaderValue("Content-Encoding");
    contentLanguage_ = h.HeaderValue("Content-Language");
    contentType_ = h.HeaderValue("Content-Type");
    pragma_ = h.HeaderValue("Pragma");
    int64_t length = -1;
    SetContentLength(ContentLengthOf(h, length) == LengthState::valid ? length : -1);
    date_ = ReadInternetDate(h.HeaderValue("Date"));
    lastModified_ = ReadInternetDate(h.HeaderValue("Last-Modified"));
    const AnsiString expires = h.HeaderValue("Expires");
    int32_t seconds = 0;
    if (TryStrToInt(expires, seconds) && seconds != -1) expires_ = NowLocal() + seconds / 86400.0;
    else expires_ = ReadInternetDate(expires);
}

// ---- request fields ----

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { ResetRequestFields(); }

void TIdRequestHeaderInfo::ResetRequestFields() {
    accept_ = "text/html, */*";
    acceptCharSet_.clear();
    userAgent_ = "Mozilla/3.0 (compatible; HTTP Library)";
    basicAuthentication_ = false;
}

void TIdRequestHeaderInfo::ResetFields() {
    TIdEntityHeaderInfo::ResetFields();
    ResetRequestFields();
}

void TIdRequestHeaderInfo::BuildHeaderLines() {
    TIdEntityHeaderInfo::BuildHeaderLines();
    TIdHeaderList& h = HeaderLines();
    if (!proxyConnection_.empty()) h.SetHeaderValue("Proxy-Connection", proxyConnection_);
    if (!host_.empty()) h.SetHeaderValue("Host", host_);
    if (!accept_.empty()) h.SetHeaderValue("Accept", accept_);
    if (!acceptCharSet_.empty()) h.SetHeaderValue("Accept-Charset", acceptCharSet_);
    if (!acceptEncoding_.empty()) h.SetHeaderValue("Accept-Encoding", acceptEncoding_);
    if (!acceptLanguage_.empty()) h.SetHeaderValue("Accept-Language", acceptLanguage_);
    if (!from_.empty()) h.SetHeaderValue("From", from_);
    if (!referer_.empty()) h.SetHeaderValue("Referer", referer_);
    if (!userAgent_.empty()) h.SetHeaderValue("User-Agent", userAgent_);
    if (LastModified() > 0) h.SetHeaderValue("If-Modified-Since", FormatInternetDate(LastModified()));
    if (ContentRangeStart() != 0 || ContentRangeEnd() != 0) {
        AnsiString range = "bytes=" + IntToStr(ContentRangeStart()) + "-";
        if (ContentRangeEnd() != 0) range += IntToStr(ContentRangeEnd());
        h.SetHeaderValue("Range", range);
    }
    if (authenticator_) {
        const AnsiString value = authenticator_->Authentication();
        if (!value.empty()) h.SetHeaderValue("Authorization", value);
    } else if (basicAuthentication_) {
        authenticator_ = std::make_unique<TIdBasicAuthentication>();
        authenticator_->SetUsername(username_);
        authenticator_->SetPassword(password_);
        const AnsiString value = authenticator_->Authentication();
        if (!value.empty()) h.SetHeaderValue("Authorization", value);
    }
}

// ---- response fields ----

TIdResponseHeaderInfo::TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::ResetFields() {
    TIdEntityHeaderInfo::ResetFields();
    location_.clear();
    server_.clear();
    proxyAuthenticate_.Clear();
    wwwAuthenticate_.Clear();
}

void TIdResponseHeaderInfo::ParseHeaderLines() {
    const TIdHeaderList& h = HeaderLines();
    location_ = h.HeaderValue("Location");
    server_ = h.HeaderValue("Server");
    proxyConnection_ = h.HeaderValue("Proxy-Connection");
    // "bytes 0-499/1234": the unit and a blank, then start "-" end "/" total.
    AnsiString range = h.HeaderValue("Content-Range");
    if (!range.empty()) {
        CutToken(range, " ");
        SetContentRangeStart(static_cast<uint32_t>(StrToInt(CutToken(range, "-"))));
        SetContentRangeEnd(static_cast<uint32_t>(StrToInt(CutToken(range, "/"))));
    }
    wwwAuthenticate_.Clear();
    h.CollectValues("WWW-Authenticate", &wwwAuthenticate_);
    proxyAuthenticate_.Clear();
    h.CollectValues("Proxy-Authenticate", &proxyAuthenticate_);
    TIdEntityHeaderInfo::ParseHeaderLines();
}

// ---- request and response objects ----

TIdHTTPRequest::TIdHTTPRequest(TIdCustomHTTP* client) : client_(client) {}

TIdHTTPResponse::TIdHTTPResponse(TIdCustomHTTP* client) : client_(client) {}

int32_t StatusCodeOf(const AnsiString& statusLine) {
    AnsiString rest = statusLine;
    CutToken(rest, " ");
    rest = Trim(rest);
    return StrToIntDef(CutToken(rest, " "), -1);
}

int32_t TIdHTTPResponse::StatusCode() {
    statusCode_ = StatusCodeOf(statusLine_);
    return statusCode_;
}

void TIdHTTPResponse::ParseHeaderLines() {
    TIdResponseHeaderInfo::ParseHeaderLines();
    const TIdHeaderList& h = HeaderLines();
    framing_ = TIdBodyFraming::bfUntilClosed;
    bodyLength_ = -1;
    framingFault_.clear();
    framingDoubtful_ = false;
    bodyCut_ = false;

    // The codings of every Transfer-Encoding line, in order: the last one
    // decides.
    TStringList codingLines;
    h.CollectValues("Transfer-Encoding", &codingLines);
    AnsiString lastCoding;
    for (int i = 0; i < codingLines.Count(); ++i) {
        AnsiString rest = codingLines[i];
        while (!rest.empty()) {
            const AnsiString coding = Trim(CutToken(rest, ","));
            if (!coding.empty()) lastCoding = coding;
        }
    }
    int64_t length = -1;
    const LengthState lengthState = ContentLengthOf(h, length);
    if (!lastCoding.empty()) {
        // A Content-Length beside it is overruled; a sender of both, or of
        // a transfer coding in HTTP/1.0, may mean another framing than ours.
        framing_ = SameText(lastCoding, "chunked") ? TIdBodyFraming::bfChunked : TIdBodyFraming::bfUntilClosed;
        framingDoubtful_ = lengthState != LengthState::absent || framing_ != TIdBodyFraming::bfChunked ||
                           statusLine_.compare(0, 9, "HTTP/1.0 ") == 0;
        return;
    }
    if (codingLines.Count() > 0) framingDoubtful_ = true;  // a Transfer-Encoding without codings
    switch (lengthState) {
    case LengthState::absent: break;
    case LengthState::valid:
        framing_ = TIdBodyFraming::bfLength;
        bodyLength_ = length;
        break;
    case LengthState::invalid:
        framing_ = TIdBodyFraming::bfInvalid;
        framingFault_ = "Invalid Content-Length.";
        framingDoubtful_ = true;
        break;
    case LengthState::conflicting:
        framing_ = TIdBodyFraming::bfInvalid;
        framingFault_ = "Conflicting Content-Length values.";
        framingDoubtful_ = true;
        break;
    }
}

bool TIdHTTPResponse::KeepConnection(bool connected, TIdHTTPProtocolVersion version) {
    keepConnection_ = connected && !FramingDoubtful();
    if (keepConnection_) {
        const AnsiString connection = Trim(Connection());
        const AnsiString proxyConnection = Trim(ProxyConnection());
        if (version == TIdHTTPProtocolVersion::pv1_1)
            keepConnection_ = !SameText(connection, "CLOSE") && !SameText(proxyConnection, "CLOSE");
        else keepConnection_ = SameText(connection, "KEEP-ALIVE") || SameText(proxyConnection, "KEEP-ALIVE");
    }
    return keepConnection_;
}
