// The cookie store: name=value cookies kept per host, returned as one
// "Cookie" value for a URL of that host.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "../runtime/Classes.h"

class TIdURI;

// A cookie from a "Set-cookie" line: the name=value pair before the first
// ";"; the attributes after it are kept as received.
class TIdCookieRFC2109 {
public:
    explicit TIdCookieRFC2109(const AnsiString& setCookieValue);
    virtual ~TIdCookieRFC2109() = default;
    virtual const char* ClassName() const { return "TIdCookieRFC2109"; }
    const AnsiString& CookieName() const { return name_; }
    const AnsiString& Value() const { return value_; }
    const AnsiString& Attributes() const { return attributes_; }
    AnsiString CookieText() const { return name_ + "=" + value_; }

private:
    AnsiString name_;
    AnsiString value_;
    AnsiString attributes_;
};

// A cookie from a "Set-cookie2" line.
class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
    using TIdCookieRFC2109::TIdCookieRFC2109;
    const char* ClassName() const override { return "TIdCookieRFC2965"; }
};

class TIdCookieManager : public TComponent {
public:
    explicit TIdCookieManager(TComponent* owner) : TComponent(owner) {}
    const char* ClassName() const override { return "TIdCookieManager"; }

    // Keeps the cookie for the host (case-blind); a cookie of the same name
    // for the same host replaces the held one in its place. A cookie without
    // a name is dropped, and so is one whose name or value holds a control
    // character: it would go verbatim into a later request's "Cookie" line.
    void AddCookie(std::unique_ptr<TIdCookieRFC2109> cookie, const AnsiString& host);
    // "name=value; name2=value2" for the URL's host, "" when none.
    AnsiString GenerateCookieList(const TIdURI& url) const;
    int CookieCount() const { return static_cast<int>(cookies_.size()); }

private:
    struct Entry {
        AnsiString host;
        std::unique_ptr<TIdCookieRFC2109> cookie;
    };
    std::vector<Entry> cookies_;
    // Position in cookies_ of each host (upper-cased) and name, so that an
    // answer with many cookies is stored in linear time.
    std::unordered_map<AnsiString, size_t> index_;
};
