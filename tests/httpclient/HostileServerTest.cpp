// Servers that try to hurt the client: oversized heads, memory exhaustion,
// cookies meant to inject header lines, answers of ambiguous length, connects
// that never complete. Each fetch must end in an Exception, in bounded time
// and memory, with nothing carried over to the next fetch.
#include <gtest/gtest.h>

#include <new>

#include "HTTPTestSupport.h"

namespace {

using namespace step;

const std::string kFresh = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfresh";

// `bytes` of valid short header lines "X-Pad-n: ...".
std::string PaddingLines(size_t bytes) {
    std::string lines;
    for (int n = 0; lines.size() < bytes; ++n) lines += "X-Pad-" + std::to_string(n) + ": 0123456789abcdef\r\n";
    return lines;
}

struct HeadCase {
    const char* what;
    std::string answer;
    const char* kind;
};

void PrintTo(const HeadCase& c, std::ostream* os) { *os << c.what; }

class HeaderBlockLimit : public ::testing::TestWithParam<HeadCase> {};

TEST_P(HeaderBlockLimit, EndsTheFetchAndLeavesTheClientDisconnected) {
    const HeadCase& c = GetParam();
    ScriptedServer server({{ReadHead(), Send(c.answer), Silent(3000)}, AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    const Outcome one = Fetch(http, UrlOf(server));
    EXPECT_EQ(one.kind, c.kind) << c.what << ": " << one.message;
    if (one.kind == "EIdHTTPHeaderBlockTooLarge") {
        EXPECT_EQ(one.message, "Header block too large.");
        EXPECT_FALSE(http.IsConnected());
        // Nothing of the cut head is read as the next answer.
        EXPECT_EQ(Fetch(http, UrlOf(server)).body, "fresh") << c.what;
        EXPECT_EQ(server.Accepted(), 2) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeaderBlockLimit,
    ::testing::Values(HeadCase{"a head just under 1 MiB is read",
                               "HTTP/1.1 200 OK\r\n" + PaddingLines((1 << 20) - 200) + "Content-Length: 5\r\n\r\nfresh",
                               "returned"},
                      HeadCase{"a head just over 1 MiB",
                               "HTTP/1.1 200 OK\r\n" + PaddingLines((1 << 20) + 10) + "\r\nbody",
                               "EIdHTTPHeaderBlockTooLarge"},
                      HeadCase{"8 MB of header lines, never ending", "HTTP/1.1 200 OK\r\n" + PaddingLines(8 << 20),
                               "EIdHTTPHeaderBlockTooLarge"},
                      HeadCase{"interim answers add up",
                               [] {
                                   std::string s;
                                   for (int i = 0; i < 40; ++i)
                                       s += "HTTP/1.1 100 Continue\r\n" + PaddingLines(30000) + "\r\n";
                                   return s + kFresh;
                               }(),
                               "EIdHTTPHeaderBlockTooLarge"}),
    [](const ::testing::TestParamInfo<HeadCase>& info) { return "case" + std::to_string(info.index); });

// A body sink that runs out of memory after some bytes, as a 32-bit process
// does when a body fills its address space.
class ExhaustedStream : public TMemoryStream {
public:
    int32_t Write(const void* buffer, int32_t count) override {
        if (Size() + count > 4) throw std::bad_alloc();
        return TMemoryStream::Write(buffer, count);
    }
};

TEST(OutOfMemory, ReachesTheCallerAsEOutOfMemoryAndDisconnects) {
    ScriptedServer server({{ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"), Silent(3000)},
                           AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    ExhaustedStream stream;
    std::string kind = "returned";
    try {
        http.GetDocumentToStream(UrlOf(server), stream);
    } catch (const Exception& e) {
        kind = e.ClassName();
        EXPECT_EQ(e.Message(), "Out of memory");
    } catch (...) {
        kind = "not an Exception";
    }
    EXPECT_EQ(kind, "EOutOfMemory");
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(Fetch(http, UrlOf(server)).body, "fresh");
}

TEST(Cookies, ControlCharactersNeverReachTheNextRequest) {
    const std::string setCookies = std::string("Set-Cookie: n=a") + '\0' + "b\rX-Inj: 1\r\n" +
                                   "Set-Cookie: t=a\tb\r\n"
                                   "Set-Cookie: d\x7F=1\r\n"
                                   "Set-Cookie: ok=1; path=/\r\n";
    ScriptedServer server(
        {AnswerOnce("HTTP/1.1 200 OK\r\n" + setCookies + "Content-Length: 0\r\n\r\n"), AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    EXPECT_EQ(Fetch(http, UrlOf(server)).kind, "returned");
    EXPECT_EQ(Fetch(http, UrlOf(server)).body, "fresh");
    const std::string head = server.Connection(1).received;
    EXPECT_NE(head.find("\r\nCookie: ok=1\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("X-Inj"), std::string::npos) << head;
    EXPECT_EQ(head.find('\0'), std::string::npos);
}

TEST(Cookies, ManyDistinctCookiesAreStoredAndSentInLinearTime) {
    // 40,000 cookies in one head (under the head limit). Comparing each new
    // cookie with every stored one took minutes at this size.
    std::string answer = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 40000; ++i) answer += "Set-Cookie: c" + std::to_string(i) + "=1\r\n";
    answer += "Content-Length: 0\r\n\r\n";
    ScriptedServer server({AnswerOnce(answer), AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    const Outcome one = Fetch(http, UrlOf(server));
    EXPECT_EQ(one.kind, "returned") << one.message;
    EXPECT_EQ(http.CookieManager()->CookieCount(), 40000);
    const Outcome two = Fetch(http, UrlOf(server));
    EXPECT_EQ(two.body, "fresh");
    EXPECT_LT(one.elapsedMs + two.elapsedMs, 10000);
    const std::string head = server.Connection(1).received;
    EXPECT_NE(head.find("c0=1; c1=1"), std::string::npos);
    EXPECT_NE(head.find("c39999=1"), std::string::npos);
}

struct LengthCase {
    const char* what;
    std::string first;       // the first answer
    const char* kind;        // how the first fetch ends
    std::string body;        // what the first fetch returns
    int connections;         // connections the two fetches use
    std::string secondBody;  // what the second fetch returns
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.what; }

class AmbiguousLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(AmbiguousLength, NothingLeftOnTheWireBecomesTheNextAnswer) {
    const LengthCase& c = GetParam();
    // After the first answer the server sends more bytes: on a kept
    // connection the second request would read them as its answer; on a new
    // one it gets "fresh".
    const std::string smuggled = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\ninjected";
    ScriptedServer server(
        {{ReadHead(), Send(c.first), Pause(200), Send(smuggled), ReadHead(), Silent(3000)}, AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    const Outcome one = Fetch(http, UrlOf(server));
    EXPECT_EQ(one.kind, c.kind) << c.what << ": " << one.message;
    EXPECT_EQ(one.body, c.body) << c.what;
    const Outcome two = Fetch(http, UrlOf(server));
    EXPECT_EQ(two.kind, "returned") << c.what << ": " << two.message;
    EXPECT_EQ(two.body, c.secondBody) << c.what;
    EXPECT_EQ(server.Accepted(), c.connections) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AmbiguousLength,
    ::testing::Values(
        // Where the answer ends is unknown: an error, and the connection is
        // not reused.
        LengthCase{"two different Content-Length values",
                   "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 45\r\n\r\nfirst", "EIdHTTPFramingError", "",
                   2, "fresh"},
        // Chunked coding frames it, but the sender may mean the length.
        LengthCase{"Content-Length beside chunked coding",
                   "HTTP/1.1 200 OK\r\nContent-Length: 45\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nfirst\r\n0\r\n\r\n",
                   "returned", "first", 2, "fresh"},
        // A repeated equal value is no conflict: the connection carries the
        // next answer, which is what the server really sent next.
        LengthCase{"the same Content-Length twice",
                   "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\nfirst", "returned", "first", 1,
                   "injected"}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return "case" + std::to_string(info.index); });

struct ConnectCase {
    const char* what;
    int32_t readTimeout;
    int32_t fetchTimeout;
    int64_t minMs, maxMs;
};

void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.what; }

class ConnectBound : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectBound, AConnectThatNeverCompletesEndsByTheFetchBound) {
    const ConnectCase& c = GetParam();
    HangingConnectTarget target;
    TIdHTTP http(nullptr);
    http.SetReadTimeout(c.readTimeout);
    http.SetFetchTimeout(c.fetchTimeout);
    const Outcome o = Fetch(http, "http://127.0.0.1:" + std::to_string(target.Port()) + "/kestrin");
    EXPECT_EQ(o.kind, "EIdConnectTimeout") << c.what << ": " << o.message;
    EXPECT_EQ(o.message, "Connect timed out.");
    EXPECT_GE(o.elapsedMs, c.minMs) << c.what;
    EXPECT_LE(o.elapsedMs, c.maxMs) << c.what;
    EXPECT_FALSE(http.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConnectBound,
    ::testing::Values(ConnectCase{"plain connect under the fetch bound", 0, 500, 450, 1500},
                      ConnectCase{"a connect time limit beyond the fetch bound is cut to it", 5000, 400, 350, 1500}),
    [](const ::testing::TestParamInfo<ConnectCase>& info) { return "case" + std::to_string(info.index); });

TEST(ConnectBound, RefusedFailsAtOnceAndSuccessAddsNoWait) {
    TIdHTTP http(nullptr);
    http.SetFetchTimeout(10000);
    const ReservedPort nothingListens;
    const Outcome refused = Fetch(http, UrlOf(nothingListens));
    EXPECT_EQ(refused.kind, "EIdSocketError");
    EXPECT_EQ(refused.socketCode, 10061);
    EXPECT_EQ(refused.message, "Socket Error # 10061\r\nConnection refused.");
    EXPECT_LT(refused.elapsedMs, 2000);

    // Five fetches, each on a new connection: a connect waited on in steps
    // (125 ms each) would show in the sum.
    ScriptedServer server({AnswerOnce(kFresh)}, {0, 5000, true});
    int64_t total = 0;
    for (int i = 0; i < 5; ++i) {
        const Outcome o = Fetch(http, UrlOf(server));
        EXPECT_EQ(o.body, "fresh") << o.message;
        total += o.elapsedMs;
    }
    EXPECT_EQ(server.Accepted(), 5);
    EXPECT_LT(total, 5 * 125);
    // The request still goes out in one send.
    const ConnectionRecord c = server.Connection(4);
    EXPECT_EQ(c.recvSizes, std::vector<size_t>{c.received.size()});
}

}  // namespace
