#include "IdCookieManager.h"

#include "IdGlobal.h"
#include "IdURI.h"

TIdCookieRFC2109::TIdCookieRFC2109(const AnsiString& setCookieValue) {
    AnsiString rest = setCookieValue;
    AnsiString pair = CutToken(rest, ";");
    attributes_ = Trim(rest);
    name_ = Trim(CutToken(pair, "="));
    value_ = Trim(pair);
}

namespace {

bool HoldsControlCharacter(const AnsiString& text) {
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) return true;
    }
    return false;
}

}  // namespace

void TIdCookieManager::AddCookie(std::unique_ptr<TIdCookieRFC2109> cookie, const AnsiString& host) {
    if (!cookie || cookie->CookieName().empty()) return;
    if (HoldsControlCharacter(cookie->CookieName()) || HoldsControlCharacter(cookie->Value())) return;
    // Neither a host (from a checked URL) nor a stored name holds a line feed.
    const AnsiString key = UpperCase(host) + "\n" + cookie->CookieName();
    const auto found = index_.find(key);
    if (found != index_.end()) {
        cookies_[found->second].cookie = std::move(cookie);
        return;
    }
    cookies_.push_back(Entry{host, std::move(cookie)});
    index_.emplace(key, cookies_.size() - 1);
}

AnsiString TIdCookieManager::GenerateCookieList(const TIdURI& url) const {
    AnsiString list;
    for (const Entry& entry : cookies_) {
        if (!SameText(entry.host, url.Host())) continue;
        if (!list.empty()) list += "; ";
        list += entry.cookie->CookieText();
    }
    return list;
}
