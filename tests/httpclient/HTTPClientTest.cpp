// The client object: its defaults, the Request assignment, the proxy
// settings, the ownership of its cookie manager and the tree of its error
// classes.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <type_traits>

#include "IdHTTP.h"

namespace {

TEST(ClientDefaults, ABareClientHasThePublishedDefaults) {
    TIdHTTP http(nullptr);
    EXPECT_EQ(http.Name(), "");
    EXPECT_EQ(http.Tag(), 0);
    EXPECT_FALSE(http.OnStatus);
    EXPECT_FALSE(http.ASCIIFilter());
    EXPECT_EQ(http.Intercept(), nullptr);
    EXPECT_EQ(http.IOHandler(), nullptr);
    EXPECT_EQ(http.MaxLineLength(), 16384);
    EXPECT_EQ(http.MaxLineAction(), TIdMaxLineAction::maException);
    EXPECT_EQ(http.ReadTimeout(), 0);
    EXPECT_EQ(http.RecvBufferSize(), 32768);
    EXPECT_EQ(http.SendBufferSize(), 32768);
    EXPECT_FALSE(http.OnDisconnected);
    EXPECT_FALSE(http.OnWork);
    EXPECT_FALSE(http.OnWorkBegin);
    EXPECT_FALSE(http.OnWorkEnd);
    EXPECT_EQ(http.BoundIP(), "");
    EXPECT_EQ(http.BoundPort(), 0);
    EXPECT_EQ(http.Host(), "");
    EXPECT_FALSE(http.OnConnected);
    EXPECT_EQ(http.Port(), 80);
    EXPECT_EQ(http.AuthRetries(), 3);
    EXPECT_TRUE(http.AllowCookies());
    EXPECT_FALSE(http.HandleRedirects());
    EXPECT_EQ(http.ProtocolVersion(), TIdHTTPProtocolVersion::pv1_1);
    EXPECT_EQ(http.RedirectMaximum(), 15);
    EXPECT_EQ(http.HTTPOptions(), TIdHTTPOptions{TIdHTTPOption::hoForceEncodeParams});
    EXPECT_FALSE(http.OnRedirect);
    EXPECT_FALSE(http.OnSelectAuthorization);
    EXPECT_FALSE(http.OnSelectProxyAuthorization);
    EXPECT_FALSE(http.OnAuthorization);
    EXPECT_FALSE(http.OnProxyAuthorization);
    EXPECT_EQ(http.CookieManager(), nullptr);
    EXPECT_FALSE(http.OwnsCookieManager());
    EXPECT_EQ(http.AuthenticationManager(), nullptr);
    EXPECT_EQ(http.FetchTimeout(), 0);
    EXPECT_EQ(http.AuthRetryCount(), 0);
    EXPECT_EQ(http.ProxyAuthRetryCount(), 0);
    EXPECT_EQ(http.RedirectCount(), 0);

    const TIdProxyConnectionInfo& proxy = *http.ProxyParams();
    EXPECT_EQ(proxy.ProxyServer(), "");
    EXPECT_EQ(proxy.ProxyPort(), 0);
    EXPECT_EQ(proxy.ProxyUsername(), "");
    EXPECT_EQ(proxy.ProxyPassword(), "");
    EXPECT_FALSE(proxy.BasicAuthentication());
    EXPECT_EQ(proxy.Authentication(), nullptr);

    const TIdHTTPRequest& r = *http.Request();
    EXPECT_EQ(r.ContentLength(), -1);
    EXPECT_EQ(r.ContentRangeEnd(), 0u);
    EXPECT_EQ(r.ContentRangeStart(), 0u);
    EXPECT_EQ(r.ContentType(), "text/html");
    EXPECT_EQ(r.Accept(), "text/html, */*");
    EXPECT_FALSE(r.BasicAuthentication());
    EXPECT_EQ(r.UserAgent(), "Mozilla/3.0 (compatible; HTTP Library)");
    EXPECT_EQ(r.Client(), &http);
    EXPECT_EQ(http.Response()->Client(), &http);
    EXPECT_EQ(http.Response()->ContentLength(), -1);

    TIdURI& uri = http.CurrentURI();
    EXPECT_EQ(uri.Port(), "80");
    for (const AnsiString* part : {&uri.Protocol(), &uri.Host(), &uri.Path(), &uri.Document(), &uri.Query(),
                                   &uri.Username(), &uri.Password(), &uri.Fragment()})
        EXPECT_EQ(*part, "");
}

TEST(ClientDefaults, HostAndPortSettersWriteTheCurrentLocation) {
    TIdHTTP http(nullptr);
    http.SetPort(9080);
    http.SetHost("localhost");
    EXPECT_EQ(http.CurrentURI().Port(), "9080");
    EXPECT_EQ(http.CurrentURI().Host(), "localhost");
    EXPECT_EQ(http.Port(), 9080);
}

TEST(ClientRequest, AssignmentCopiesOnlyTheListedFields) {
    TIdHTTP source(nullptr);
    TIdHTTPRequest& s = *source.Request();
    s.SetAccept("a/b");
    s.SetAcceptCharSet("cs");
    s.SetAcceptEncoding("enc");
    s.SetAcceptLanguage("lang");
    s.SetFrom("from");
    s.SetPassword("pw");
    s.SetReferer("ref");
    s.SetUserAgent("ua");
    s.SetUsername("user");
    s.SetBasicAuthentication(true);
    s.SetHost("not-copied");
    s.SetProxyConnection("not-copied");
    s.SetContentType("not/copied");
    s.SetContentLength(7);
    s.SetConnection("not-copied");
    s.CustomHeaders().Add("X: not copied");

    TIdHTTP http(nullptr);
    http.SetRequest(s);
    const TIdHTTPRequest& r = *http.Request();
    EXPECT_NE(&r, &s);
    EXPECT_EQ(r.Accept(), "a/b");
    EXPECT_EQ(r.AcceptCharSet(), "cs");
    EXPECT_EQ(r.AcceptEncoding(), "enc");
    EXPECT_EQ(r.AcceptLanguage(), "lang");
    EXPECT_EQ(r.From(), "from");
    EXPECT_EQ(r.Password(), "pw");
    EXPECT_EQ(r.Referer(), "ref");
    EXPECT_EQ(r.UserAgent(), "ua");
    EXPECT_EQ(r.Username(), "user");
    EXPECT_TRUE(r.BasicAuthentication());
    EXPECT_EQ(r.Host(), "");
    EXPECT_EQ(r.ProxyConnection(), "");
    EXPECT_EQ(r.ContentType(), "text/html");
    EXPECT_EQ(r.ContentLength(), -1);
    EXPECT_EQ(r.Connection(), "");
    EXPECT_EQ(r.CustomHeaders().Count(), 0);
}

TEST(ClientProxy, AuthenticationObjectGoesWithAnotherServerOrPort) {
    TIdProxyConnectionInfo proxy;
    proxy.SetProxyServer("proxy");
    proxy.SetProxyPort(3128);
    proxy.SetProxyUsername("u");
    proxy.SetProxyPassword("p");
    proxy.SetBasicAuthentication(true);
    TIdHeaderList lines;
    proxy.AddProxyAuthorization(lines);
    EXPECT_EQ(lines.HeaderValue("Proxy-Authorization"), "Basic dTpw");
    ASSERT_NE(proxy.Authentication(), nullptr);

    proxy.SetProxyServer("PROXY");  // letter case only
    proxy.SetProxyPort(3128);       // same number
    EXPECT_NE(proxy.Authentication(), nullptr);
    proxy.Clear();
    EXPECT_NE(proxy.Authentication(), nullptr);
    EXPECT_TRUE(proxy.BasicAuthentication());
    EXPECT_EQ(proxy.ProxyServer(), "");
    EXPECT_EQ(proxy.ProxyPort(), 0);  // Clear sets the field without the setter's rule
    proxy.SetProxyPort(8080);
    EXPECT_EQ(proxy.Authentication(), nullptr);

    proxy.AddProxyAuthorization(lines);
    ASSERT_NE(proxy.Authentication(), nullptr);
    proxy.SetProxyServer("other");
    EXPECT_EQ(proxy.Authentication(), nullptr);
}

TEST(ClientCookieManager, OwnershipFollowsWhoMadeIt) {
    // The caller's manager stays the caller's.
    auto* mine = new TIdCookieManager(nullptr);
    {
        TIdHTTP http(nullptr);
        http.SetCookieManager(mine);
        EXPECT_EQ(http.CookieManager(), mine);
        EXPECT_FALSE(http.OwnsCookieManager());
        http.SetCookieManager(mine);  // the same one again changes nothing
        EXPECT_EQ(http.CookieManager(), mine);
    }
    EXPECT_EQ(mine->CookieCount(), 0);  // still alive after the client
    {
        // A manager destroyed first is forgotten by the client.
        TIdHTTP http(nullptr);
        http.SetCookieManager(mine);
        delete mine;
        EXPECT_EQ(http.CookieManager(), nullptr);
    }
    {
        // A manager the client made is freed when another is assigned, and
        // with the client.
        TComponent owner(nullptr);
        auto* http = new TIdHTTP(&owner);
        http->StoreResponseCookies(*http->Request(), *http->Response());
        ASSERT_NE(http->CookieManager(), nullptr);
        EXPECT_TRUE(http->OwnsCookieManager());
        EXPECT_EQ(http->CookieManager()->Owner(), http);
        EXPECT_EQ(http->ComponentCount(), 1);
        TIdCookieManager other(nullptr);
        http->SetCookieManager(&other);
        EXPECT_EQ(http->ComponentCount(), 0);
        EXPECT_EQ(http->CookieManager(), &other);
        EXPECT_FALSE(http->OwnsCookieManager());
        http->StoreResponseCookies(*http->Request(), *http->Response());
        EXPECT_EQ(http->CookieManager(), &other);  // an assigned one is used, none made
        EXPECT_EQ(http->ComponentCount(), 0);
        // The owner frees the client.
    }
}

TEST(ClientCookieManager, KeepsCookiesPerHost) {
    TIdCookieManager manager(nullptr);
    manager.AddCookie(std::make_unique<TIdCookieRFC2109>("a=1; Path=/"), "Host");
    manager.AddCookie(std::make_unique<TIdCookieRFC2965>(" b = 2 ; Version=1"), "host");
    manager.AddCookie(std::make_unique<TIdCookieRFC2109>("c=3"), "other");
    manager.AddCookie(std::make_unique<TIdCookieRFC2109>("a=9"), "HOST");
    manager.AddCookie(std::make_unique<TIdCookieRFC2109>("=x"), "host");
    EXPECT_EQ(manager.GenerateCookieList(TIdURI("http://host/")), "a=9; b=2");
    EXPECT_EQ(manager.GenerateCookieList(TIdURI("http://other:81/x")), "c=3");
    EXPECT_EQ(manager.GenerateCookieList(TIdURI("http://none/")), "");
}

// Every error class of the client, and those of the class library that a
// fetch can raise.
#define KESTRIN_ERROR_CLASSES(X)       \
    X(Exception)                       \
    X(EConvertError)                   \
    X(EOutOfMemory)                    \
    X(EIdException)                    \
    X(EIdSilentException)              \
    X(EIdConnClosedGracefully)         \
    X(EIdSocketError)                  \
    X(EIdClosedSocket)                 \
    X(EIdInvalidSocket)                \
    X(EIdSocketHandleError)            \
    X(EIdCouldNotBindSocket)           \
    X(EIdCanNotBindPortInRange)        \
    X(EIdInvalidPortRange)             \
    X(EIdTCPConnectionError)           \
    X(EIdNotConnected)                 \
    X(EIdIOHandlerPropInvalid)         \
    X(EIdNoDataToRead)                 \
    X(EIdNotEnoughDataInBuffer)        \
    X(EIdFileNotFound)                 \
    X(EIdReadTimeout)                  \
    X(EIdReadLnMaxLineLengthExceeded)  \
    X(EIdHTTPHeaderBlockTooLarge)      \
    X(EIdProtocolReplyError)           \
    X(EIdHTTPProtocolException)        \
    X(EIdFailedToRetreiveTimeZoneInfo) \
    X(EIdStackError)                   \
    X(EIdStackInitializationFailed)    \
    X(EIdStackSetSizeExceeded)         \
    X(EIdWS2StubError)                 \
    X(EIdAlreadyConnected)             \
    X(EIdConnectTimeout)               \
    X(EIdConnectException)             \
    X(EIdURIException)                 \
    X(EIdUnknownProtocol)              \
    X(EIdInvalidServiceName)           \
    X(EIdAlreadyRegisteredAuthenticationMethod)

// The classes of the list whose catch handler takes an error of class E
// (E itself left out).
template <class E>
std::set<std::string> HandlersTaking() {
    std::set<std::string> names;
#define KESTRIN_ADD_IF_BASE(B) \
    if (!std::is_same_v<E, B> && std::is_convertible_v<const E*, const B*>) names.insert(#B);
    KESTRIN_ERROR_CLASSES(KESTRIN_ADD_IF_BASE)
#undef KESTRIN_ADD_IF_BASE
    return names;
}

// Callers tell errors apart by class: a handler for a class takes exactly
// the classes below it (an orderly close, say, is caught as a silent error).
// Each row is a class and all its bases.
TEST(ClientErrors, EachClassDerivesFromItsBasesOnly) {
    using Bases = std::set<std::string>;
    std::map<std::string, Bases> actual;
#define KESTRIN_BASES_OF(E) actual[#E] = HandlersTaking<E>();
    KESTRIN_ERROR_CLASSES(KESTRIN_BASES_OF)
#undef KESTRIN_BASES_OF

    const Bases id = {"EIdException", "Exception"};
    const Bases socketHandle = {"EIdSocketHandleError", "EIdException", "Exception"};
    const Bases connection = {"EIdTCPConnectionError", "EIdException", "Exception"};
    const Bases stack = {"EIdStackError", "EIdException", "Exception"};
    const std::map<std::string, Bases> expected = {
        {"Exception", {}},
        {"EConvertError", {"Exception"}},
        {"EOutOfMemory", {"Exception"}},
        {"EIdException", {"Exception"}},
        {"EIdSilentException", id},
        {"EIdConnClosedGracefully", {"EIdSilentException", "EIdException", "Exception"}},
        {"EIdSocketError", id},
        {"EIdClosedSocket", id},
        {"EIdInvalidSocket", id},
        {"EIdSocketHandleError", id},
        {"EIdCouldNotBindSocket", socketHandle},
        {"EIdCanNotBindPortInRange", socketHandle},
        {"EIdInvalidPortRange", socketHandle},
        {"EIdTCPConnectionError", id},
        {"EIdNotConnected", connection},
        {"EIdIOHandlerPropInvalid", connection},
        {"EIdNoDataToRead", connection},
        {"EIdNotEnoughDataInBuffer", connection},
        {"EIdFileNotFound", connection},
        {"EIdReadTimeout", id},
        {"EIdReadLnMaxLineLengthExceeded", id},
        {"EIdHTTPHeaderBlockTooLarge", id},
        {"EIdProtocolReplyError", id},
        {"EIdHTTPProtocolException", {"EIdProtocolReplyError", "EIdException", "Exception"}},
        {"EIdFailedToRetreiveTimeZoneInfo", id},
        {"EIdStackError", id},
        {"EIdStackInitializationFailed", stack},
        {"EIdStackSetSizeExceeded", stack},
        {"EIdWS2StubError", id},
        {"EIdAlreadyConnected", id},
        {"EIdConnectTimeout", id},
        {"EIdConnectException", id},
        {"EIdURIException", id},
        {"EIdUnknownProtocol", id},
        {"EIdInvalidServiceName", id},
        {"EIdAlreadyRegisteredAuthenticationMethod", id},
    };
    for (const auto& [name, bases] : expected) {
        const auto found = actual.find(name);
        ASSERT_NE(found, actual.end()) << name;
        EXPECT_EQ(found->second, bases) << name;
    }
    EXPECT_EQ(actual.size(), expected.size());  // every class of the list has its row
}

#undef KESTRIN_ERROR_CLASSES

}  // namespace
