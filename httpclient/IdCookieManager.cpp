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

void TIdCookieManager::AddCookie(std::unique_ptr<TIdCookieRFC2109> cookie, const AnsiString& host) {
    if (!cookie || cookie->CookieName().empty()) return;
    for (Entry& entry : cookies_) {
        if (SameText(entry.host, host) && entry.cookie->CookieName() == cookie->CookieName()) {
            entry.cookie = std::move(cookie);
            return;
        }
    }
    cookies_.push_back(Entry{host, std::move(cookie)});
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
