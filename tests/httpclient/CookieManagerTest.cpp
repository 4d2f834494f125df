// The cookie store: what it keeps, what it refuses, and its cost per cookie.
#include <gtest/gtest.h>

#include <chrono>

#include "IdCookieManager.h"
#include "IdURI.h"

namespace {

std::unique_ptr<TIdCookieRFC2109> Cookie(const AnsiString& setCookieValue) {
    return std::make_unique<TIdCookieRFC2109>(setCookieValue);
}

TEST(CookieManager, KeepsOnePerHostAndNameAndRefusesControlCharacters) {
    TIdCookieManager manager(nullptr);
    const struct {
        AnsiString value;
        const char* host;
    } offered[] = {
        {"a=1; path=/", "h"},
        {"b=2", "H"},
        {"a=3", "H"},                    // replaces a=1 in its place (host case-blind)
        {"a=9", "other"},                // another host
        {"=x", "h"},                     // no name
        {AnsiString("n=a\0b", 5), "h"},  // NUL in the value
        {"c=a\rX-Inj: 1", "h"},          // bare CR in the value
        {"d=a\tb", "h"},                 // TAB inside the value
        {"e\x01x=1", "h"},               // control character in the name
        {"f=\x7F", "h"},                 // DEL
        {"g=\x80\xFF ok", "h"},          // 8-bit text is no control character
        {"  h  =  padded \x01", "h"},    // blanks and controls at the ends are trimmed off
    };
    for (const auto& o : offered) manager.AddCookie(Cookie(o.value), o.host);
    EXPECT_EQ(manager.GenerateCookieList(TIdURI("http://h/")), "a=3; b=2; g=\x80\xFF ok; h=padded");
    EXPECT_EQ(manager.GenerateCookieList(TIdURI("http://other/")), "a=9");
    EXPECT_EQ(manager.GenerateCookieList(TIdURI("http://none/")), "");
    EXPECT_EQ(manager.CookieCount(), 5);
}

TEST(CookieManager, StoresManyDistinctCookiesInLinearTime) {
    // 100,000 distinct names, then each replaced once: comparing each new
    // cookie with every stored one takes minutes at this size, linear work a
    // few seconds at most (under the sanitizers, on a loaded machine).
    TIdCookieManager manager(nullptr);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 100000; ++i)
            manager.AddCookie(Cookie("c" + std::to_string(i) + "=" + std::to_string(round)), "h");
    const AnsiString list = manager.GenerateCookieList(TIdURI("http://h/"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(manager.CookieCount(), 100000);
    EXPECT_EQ(list.substr(0, 14), "c0=1; c1=1; c2");
}

}  // namespace
