// The request side on the wire, and what carries over between fetches: the
// current location, the kept connection and the cookies.
#include <gtest/gtest.h>

#include "HTTPTestSupport.h"

namespace {

using namespace step;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// Lets the client set up a request for `url` without connecting.
struct PreparedRequest {
    AnsiString target, host, port;
};

PreparedRequest SetUpFor(TIdHTTP& http, const AnsiString& url) {
    http.Request()->SetRequestTarget(url);
    http.SetUpRequest(*http.Request());
    return {http.Request()->RequestTarget(), http.Request()->Host(), http.CurrentURI().Port()};
}

TEST(RequestSetUp, PortRuleAndHostLineOverASequenceOfURLs) {
    struct Step {
        const char* url;
        const char* target;
        const char* host;
        const char* port;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{"http://localhost/x", "/x", "localhost", "80"},
         {"http://localhost:8080/x", "/x", "localhost:8080", "8080"},
         {"http://localhost:080/x", "/x", "localhost:080", "080"}},
        {{"http://localhost:9080/kestrin", "/kestrin", "localhost:9080", "9080"},
         // A URL without a port goes to the held one ...
         {"http://localhost/kestrin/demo_install.jsp", "/kestrin/demo_install.jsp", "localhost:9080", "9080"},
         // ... unless it is 80 or 443 (or none), which the protocol decides.
         {"http://localhost:80/a", "/a", "localhost", "80"},
         {"http://localhost/b", "/b", "localhost", "80"},
         {"HTTPS://localhost/c", "/c", "localhost:443", "443"},
         {"http://localhost/d", "/d", "localhost", "80"}},
        // Relative URLs merge into the held path and keep host and port.
        {{"http://h:81/a/b/c.html?q", "/a/b/c.html?q", "h:81", "81"},
         {"../d.html", "/a/d.html", "h:81", "81"},
         {"e/f", "/a/e/f", "h:81", "81"},
         {"/top", "/top", "h:81", "81"},
         {"http://other/", "/", "other:81", "81"}},
    };
    for (const auto& sequence : sequences) {
        TIdHTTP http(nullptr);
        for (const Step& s : sequence) {
            const PreparedRequest got = SetUpFor(http, s.url);
            EXPECT_EQ(got.target, s.target) << s.url;
            EXPECT_EQ(got.host, s.host) << s.url;
            EXPECT_EQ(got.port, s.port) << s.url;
        }
    }
}

TEST(RequestSetUp, CredentialsFromAURLStayForLaterURLs) {
    TIdHTTP http(nullptr);
    SetUpFor(http, "http://user:pw@h/a");
    EXPECT_EQ(http.Request()->Username(), "user");
    EXPECT_EQ(http.Request()->Password(), "pw");
    SetUpFor(http, "http://h/b");
    EXPECT_EQ(http.Request()->Username(), "user");
    EXPECT_EQ(http.CurrentURI().Password(), "pw");
}

TEST(RequestSetUp, RaisesBeforeConnectingForBadURLsAndMethods) {
    using V = TIdHTTPProtocolVersion;
    using M = TIdHTTPMethod;
    struct Case {
        std::string url;  // "{P}" stands for the server's port
        M method;
        V version;
        const char* kind;
        const char* message;
    };
    const Case cases[] = {
        {"ftp://127.0.0.1/x", M::hmGet, V::pv1_1, "EIdUnknownProtocol", ""},
        {"http://127.0.0.1:abc/x", M::hmGet, V::pv1_1, "EConvertError", "'abc' is not a valid integer value"},
        {"https://127.0.0.1:{P}/x", M::hmGet, V::pv1_1, "EIdIOHandlerPropInvalid", "IOHandler value is not valid"},
        {"http://127.0.0.1:{P}/x", M::hmPut, V::pv1_0, "EIdException", "This request method is supported in HTTP 1.1"},
        {"http://127.0.0.1:{P}/x", M::hmOptions, V::pv1_0, "EIdException",
         "This request method is supported in HTTP 1.1"},
        // A line break or NUL in a URL would end the request line early and
        // let the rest pass as header lines of its own.
        {"http://127.0.0.1:{P}/x\r\nX-Injected: 1", M::hmGet, V::pv1_1, "EIdException", "Invalid character in URL"},
        {"http://127.0.0.1:{P}/x\nHost: evil", M::hmGet, V::pv1_1, "EIdException", "Invalid character in URL"},
        {"http://127.0.0.1:{P}/x\rY", M::hmGet, V::pv1_1, "EIdException", "Invalid character in URL"},
        {std::string("http://127.0.0.1:{P}/x\0y", 24), M::hmGet, V::pv1_1, "EIdException", "Invalid character in URL"},
    };
    for (const Case& c : cases) {
        ScriptedServer server({AnswerOnce(kOk)});
        std::string url = c.url;
        const size_t p = url.find("{P}");
        if (p != std::string::npos) url.replace(p, 3, std::to_string(server.Port()));
        TIdHTTP http(nullptr);
        http.SetProtocolVersion(c.version);
        TMemoryStream source, content;
        std::string kind, message;
        try {
            http.RunExchange(c.method, url, &source, &content);
            kind = "returned";
        } catch (const Exception& e) {
            kind = e.ClassName();
            message = e.Message();
        }
        EXPECT_EQ(kind, c.kind) << url;
        EXPECT_EQ(message, c.message) << url;
        EXPECT_EQ(server.Accepted(), 0) << url;
    }
}

TEST(RequestWire, OtherProtocolWithAPortSendsAnOrdinaryRequest) {
    ScriptedServer server({AnswerOnce(kOk)});
    TIdHTTP http(nullptr);
    const Outcome o = Fetch(http, "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/kestrin");
    EXPECT_EQ(o.kind, "returned") << o.message;
    EXPECT_EQ(server.Connection(0).received, DefaultHead(HostOf(server)));
}

TEST(RequestWire, Http10SendsConnectionKeepAliveFirstAndKeepsIt) {
    ScriptedServer server({{ReadHead(), Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"), Close()}});
    TIdHTTP http(nullptr);
    http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
    EXPECT_EQ(Fetch(http, UrlOf(server)).kind, "returned");
    EXPECT_EQ(server.Connection(0).received, WithLines(DefaultHead(HostOf(server), "/kestrin", "HTTP/1.0"),
                                                       {{"Content-Type:", "Connection: keep-alive"}}));
    EXPECT_EQ(http.Request()->Connection(), "keep-alive");
}

TEST(RequestWire, CustomLinesAndRequestFieldsGoOutInOneSend) {
    ScriptedServer server({AnswerOnce(kOk)});
    TIdHTTP http(nullptr);
    TIdHTTPRequest& r = *http.Request();
    r.CustomHeaders().Add("Host: custom");
    r.CustomHeaders().Add("");
    r.CustomHeaders().Add("X-Extra: 1");
    r.SetContentRangeStart(100);
    r.SetReferer("http://r/");
    EXPECT_EQ(Fetch(http, UrlOf(server)).kind, "returned");
    const ConnectionRecord c = server.Connection(0);
    EXPECT_EQ(c.received,
              WithLines(DefaultHead(HostOf(server)),
                        {{"Accept:", "X-Extra: 1"}, {"User-Agent:", "Referer: http://r/"}, {"", "Range: bytes=100-"}}));
    EXPECT_EQ(c.recvSizes.size(), 1u);
}

TEST(RequestWire, ProxySendsTheFullURLToTheProxy) {
    ScriptedServer proxy({AnswerOnce(kOk)});
    TIdHTTP http(nullptr);
    http.ProxyParams()->SetProxyServer("127.0.0.1");
    http.ProxyParams()->SetProxyPort(proxy.Port());
    EXPECT_EQ(Fetch(http, "http://example.invalid:8080/a/b?c").kind, "returned");
    const std::string head = proxy.Connection(0).received;
    EXPECT_EQ(head.rfind("GET http://example.invalid:8080/a/b?c HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nHost: example.invalid:8080\r\n"), std::string::npos) << head;
    EXPECT_EQ(http.CurrentURI().Host(), "example.invalid");
    EXPECT_EQ(http.CurrentURI().Port(), "8080");
}

struct KeepCase {
    const char* what;
    TIdHTTPProtocolVersion version;
    std::string answer;
    bool reused;
    bool serverClosesAfterAnswer = false;
};

void PrintTo(const KeepCase& c, std::ostream* os) { *os << c.what; }

class KeptConnection : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeptConnection, CarriesTheNextFetchOnlyWhenTheAnswerAllows) {
    const KeepCase& c = GetParam();
    Script first = {ReadHead(), Send(c.answer)};
    if (c.serverClosesAfterAnswer) {
        first.push_back(Close());
    } else {
        first.push_back(ReadHead());
        first.push_back(Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond"));
        first.push_back(Silent(3000));
    }
    ScriptedServer server({first, AnswerOnce("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfresh")});
    TIdHTTP http(nullptr);
    http.SetProtocolVersion(c.version);
    http.SetFetchTimeout(2000);
    const Outcome one = Fetch(http, UrlOf(server));
    EXPECT_TRUE(one.kind == "returned" || one.kind == "EIdHTTPProtocolException") << c.what << one.message;
    // The server's close has happened before the next fetch looks for it.
    if (c.serverClosesAfterAnswer) {
        ASSERT_TRUE(server.WaitFinished(1)) << c.what;
    }
    const Outcome two = Fetch(http, UrlOf(server));
    EXPECT_EQ(two.kind, "returned") << c.what << two.message;
    EXPECT_EQ(two.body, c.reused ? "second" : "fresh") << c.what;
    EXPECT_EQ(server.Accepted(), c.reused ? 1 : 2) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeptConnection,
    ::testing::Values(
        KeepCase{"1.1 answer, no Connection", TIdHTTPProtocolVersion::pv1_1, kOk, true},
        KeepCase{"1.0 answer, no Connection: the client's version decides", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", true},
        KeepCase{"close", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n", false},
        KeepCase{"CLOSE with blanks", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 200 OK\r\nConnection:   CLOSE  \r\nContent-Length: 0\r\n\r\n", false},
        KeepCase{"Proxy-Connection close", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 200 OK\r\nProxy-Connection: close\r\nContent-Length: 0\r\n\r\n", false},
        KeepCase{"a list holding close", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 200 OK\r\nConnection: close, x\r\nContent-Length: 0\r\n\r\n", true},
        KeepCase{"error answer kept", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\n!", true},
        KeepCase{"1.0 client, no Connection", TIdHTTPProtocolVersion::pv1_0, kOk, false},
        KeepCase{"1.0 client, keep-alive", TIdHTTPProtocolVersion::pv1_0,
                 "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nok", true},
        KeepCase{"server closed after the answer", TIdHTTPProtocolVersion::pv1_1, kOk, false, true},
        // Bytes past the answer's end would be read as the next answer.
        KeepCase{"bytes left after the answer", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 204 No Content\r\nContent-Length: 4\r\n\r\njunk", false},
        KeepCase{"trailer lines after a chunked body are read", TIdHTTPProtocolVersion::pv1_1,
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\nX-T: 1\r\nX-U: 2\r\n\r\n",
                 true}),
    [](const ::testing::TestParamInfo<KeepCase>& info) { return "case" + std::to_string(info.index); });

struct ChunkCase {
    const char* what;
    std::string head;  // header lines after the status line
    std::string body;
    std::string result;
};

void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.what; }

class BodyFraming : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(BodyFraming, ReadsTheBodyByItsFraming) {
    const ChunkCase& c = GetParam();
    ScriptedServer server({AnswerOnce("HTTP/1.1 200 OK\r\n" + c.head + "\r\n" + c.body)});
    TIdHTTP http(nullptr);
    const Outcome o = Fetch(http, UrlOf(server));
    EXPECT_EQ(o.kind, "returned") << c.what << o.message;
    EXPECT_EQ(o.body, c.result) << c.what;
}

const std::string k26(26, 'z');

INSTANTIATE_TEST_SUITE_P(
    Table, BodyFraming,
    ::testing::Values(
        ChunkCase{"hex size", "Transfer-Encoding: chunked\r\n", "1a\r\n" + k26 + "\r\n0\r\n\r\n", k26},
        ChunkCase{"size with an extension after a blank", "Transfer-Encoding: chunked\r\n",
                  "1A ext=1\r\n" + k26 + "\r\n0\r\n\r\n", k26},
        ChunkCase{"extension joined by ;", "Transfer-Encoding: chunked\r\n", "1a;ext=1\r\n" + k26 + "\r\n0\r\n\r\n",
                  k26},
        ChunkCase{"chunked among other codings", "Transfer-Encoding: gzip, chunked\r\n", "2\r\nab\r\n0\r\n\r\n", "ab"},
        ChunkCase{"capital Chunked", "Transfer-Encoding: Chunked\r\n", "2\r\nab\r\n0\r\n\r\n", "ab"},
        ChunkCase{"chunked wins over Content-Length", "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n",
                  "2\r\nab\r\n0\r\n\r\n", "ab"},
        ChunkCase{"Content-Length 0 with chunked reads chunks", "Content-Length: 0\r\nTransfer-Encoding: chunked\r\n",
                  "2\r\nab\r\n0\r\n\r\n", "ab"},
        ChunkCase{"chunked not the last coding reads to the close", "Transfer-Encoding: chunked, gzip\r\n",
                  "2\r\nab\r\n0\r\n\r\n", "2\r\nab\r\n0\r\n\r\n"}),
    [](const ::testing::TestParamInfo<ChunkCase>& info) { return "case" + std::to_string(info.index); });

TEST(Cookies, InterimAnswersCookiesAndTheFinalOnesGoOutWithTheNextRequest) {
    ScriptedServer server({{ReadHead(),
                            Send("HTTP/1.1 100 Continue\r\nSet-Cookie: a=1\r\n\r\n"
                                 "HTTP/1.1 100 Continue\r\nSet-cookie2: b=2; Version=1\r\n\r\n"
                                 "HTTP/1.1 200 OK\r\nSet-Cookie: c=3; Path=/\r\nContent-Length: 2\r\n\r\nok"),
                            ReadHead(), Send(kOk), Silent(3000)}});
    TIdHTTP http(nullptr);
    EXPECT_EQ(http.CookieManager(), nullptr);
    EXPECT_EQ(Fetch(http, UrlOf(server)).body, "ok");
    ASSERT_NE(http.CookieManager(), nullptr);
    EXPECT_TRUE(http.OwnsCookieManager());
    EXPECT_EQ(Fetch(http, UrlOf(server)).body, "ok");
    const ConnectionRecord c = server.Connection(0, 200);
    const std::string second = c.received.substr(DefaultHead(HostOf(server)).size());
    EXPECT_EQ(second, WithLines(DefaultHead(HostOf(server)), {{"", "Cookie: a=1; b=2; c=3"}}));
}

TEST(Cookies, NoCookieManagerWithoutAllowCookies) {
    ScriptedServer server(
        {AnswerOnce("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nContent-Length: 0\r\n\r\n"), AnswerOnce(kOk)});
    TIdHTTP http(nullptr);
    http.SetAllowCookies(false);
    Fetch(http, UrlOf(server));
    Fetch(http, UrlOf(server));
    EXPECT_EQ(http.CookieManager(), nullptr);
    EXPECT_EQ(server.Connection(1).received, DefaultHead(HostOf(server)));
}

TEST(Redirects, FollowedUpToTheLimitWhenHandled) {
    const std::string moved = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 4\r\n\r\nbody";
    {
        ScriptedServer server({{ReadHead(), Send(moved), ReadHead(), Send(kOk), Silent(3000)}});
        TIdHTTP http(nullptr);
        http.SetHandleRedirects(true);
        const Outcome o = Fetch(http, UrlOf(server));
        EXPECT_EQ(o.kind, "returned") << o.message;
        EXPECT_EQ(o.body, "ok");  // the redirect's body is not kept
        // It was read off the kept connection: the next answer starts at its own first byte.
        EXPECT_EQ(http.Response()->StatusLine(), "HTTP/1.1 200 OK");
        EXPECT_EQ(http.RedirectCount(), 0);
        const ConnectionRecord c = server.Connection(0, 200);
        EXPECT_NE(c.received.find("GET /next HTTP/1.1\r\n"), std::string::npos);
    }
    {
        // The answer that reaches the limit ends the fetch with an empty body.
        ScriptedServer server({{ReadHead(), Send(moved), ReadHead(), Send(moved), Silent(3000)}});
        TIdHTTP http(nullptr);
        http.SetHandleRedirects(true);
        http.SetRedirectMaximum(2);
        const Outcome o = Fetch(http, UrlOf(server));
        EXPECT_EQ(o.kind, "returned") << o.message;
        EXPECT_EQ(o.body, "");
        EXPECT_EQ(http.Response()->Location(), "/next");
    }
    {
        // A handler that declines turns the redirect into the protocol error.
        ScriptedServer server({{ReadHead(), Send(moved), Silent(3000)}});
        TIdHTTP http(nullptr);
        http.SetHandleRedirects(true);
        int32_t seen = -1;
        http.OnRedirect = [&](TComponent*, AnsiString& dest, int32_t& num, bool& handled, TIdHTTPMethod&) {
            EXPECT_EQ(dest, "/next");
            seen = num;
            handled = false;
        };
        const Outcome o = Fetch(http, UrlOf(server));
        EXPECT_EQ(o.kind, "EIdHTTPProtocolException");
        EXPECT_EQ(o.replyCode, 302);
        EXPECT_EQ(o.body, "body");
        EXPECT_EQ(seen, 1);
    }
}

TEST(Redirects, AFailedFetchDoesNotUseUpTheRedirectsOfTheNext) {
    const std::string moved = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n";
    ScriptedServer server(
        {{ReadHead(), Send(moved), ReadHead(), Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), ReadHead(),
          Send(moved), ReadHead(), Send(kOk), Silent(3000)}});
    TIdHTTP http(nullptr);
    http.SetHandleRedirects(true);
    http.SetRedirectMaximum(2);
    EXPECT_EQ(Fetch(http, UrlOf(server)).replyCode, 404);
    EXPECT_EQ(http.RedirectCount(), 2);  // where the failed fetch stopped
    const Outcome o = Fetch(http, UrlOf(server));
    EXPECT_EQ(o.kind, "returned") << o.message;
    EXPECT_EQ(o.body, "ok");
}

TEST(Authorization, A401NamingBasicLeavesABasicAuthenticatorAttached) {
    ScriptedServer server(
        {AnswerOnce("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: basic realm=\"x\"\r\n"
                    "Content-Length: 0\r\n\r\n")});
    TIdHTTP http(nullptr);
    const Outcome o = Fetch(http, UrlOf(server));
    EXPECT_EQ(o.replyCode, 401);
    ASSERT_NE(http.Request()->Authenticator(), nullptr);
    EXPECT_STREQ(http.Request()->Authenticator()->ClassName(), "TIdBasicAuthentication");
    EXPECT_EQ(http.AuthRetryCount(), 1);
}

// The handlers of both negotiations: the select handler may clear the
// scheme; the authorization handler sees the holder's credentials and, when
// it accepts, its changes go back to the holder.
TEST(Authorization, HandlersOfServerAndProxyNegotiation) {
    struct Negotiator : TIdHTTP {
        Negotiator() : TIdHTTP(nullptr) {}
        using TIdCustomHTTP::NegotiateAuthorization;
        using TIdCustomHTTP::NegotiateProxyAuthorization;
    };
    enum class Handler { None, Accepts, Declines, SelectClears };
    struct Case {
        const char* name;
        bool proxy;
        Handler handler;
        bool result;
        const char* seen;    // credentials the handler was given, "" when it did not run
        const char* held;    // the holder's credentials afterwards
        bool authenticator;  // the holder has an authentication object afterwards
    };
    const Case cases[] = {
        {"server, accepted", false, Handler::Accepts, true, "u:p", "u2:p2", true},
        {"server, declined", false, Handler::Declines, false, "u:p", "u:p", true},
        {"server, scheme cleared", false, Handler::SelectClears, false, "", "u:p", false},
        {"server, no handler", false, Handler::None, false, "", "u:p", true},
        // The proxy's password is always asked for again.
        {"proxy, accepted", true, Handler::Accepts, true, "u:", "u2:p2", true},
        {"proxy, declined", true, Handler::Declines, false, "u:", "u:", true},
        {"proxy, scheme cleared", true, Handler::SelectClears, false, "", "u:p", false},
        {"proxy, no handler", true, Handler::None, false, "", "u:", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Negotiator http;
        TIdHTTPRequest& request = *http.Request();
        TIdHTTPResponse& response = *http.Response();
        TIdProxyConnectionInfo& proxy = *http.ProxyParams();
        request.SetUsername("u");
        request.SetPassword("p");
        proxy.SetProxyUsername("u");
        proxy.SetProxyPassword("p");
        (c.proxy ? response.ProxyAuthenticate() : response.WWWAuthenticate()).Add("Basic realm=\"k\"");

        std::string seen;
        auto onSelect = [&](TComponent*, TIdAuthenticationClass& scheme, TIdHeaderList&) {
            if (c.handler == Handler::SelectClears) scheme = nullptr;
        };
        auto onAuthorization = [&](TComponent* sender, TIdAuthentication* auth, bool& handled) {
            EXPECT_EQ(sender, &http);
            seen = auth->Username() + ":" + auth->Password();
            handled = c.handler != Handler::Declines;
            auth->SetUsername("u2");
            auth->SetPassword("p2");
        };
        (c.proxy ? http.OnSelectProxyAuthorization : http.OnSelectAuthorization) = onSelect;
        if (c.handler != Handler::None) (c.proxy ? http.OnProxyAuthorization : http.OnAuthorization) = onAuthorization;

        const bool result = c.proxy ? http.NegotiateProxyAuthorization(request, response)
                                    : http.NegotiateAuthorization(request, response);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(seen, c.seen);
        const std::string held = c.proxy ? proxy.ProxyUsername() + ":" + proxy.ProxyPassword()
                                         : request.Username() + ":" + request.Password();
        EXPECT_EQ(held, c.held);
        EXPECT_EQ((c.proxy ? proxy.Authentication() : request.Authenticator()) != nullptr, c.authenticator);
        EXPECT_EQ(c.proxy ? http.ProxyAuthRetryCount() : http.AuthRetryCount(), 1);
    }
}

}  // namespace
