// Bounds of one fetch: the whole-fetch time limit, the connection after a
// failed fetch, and memory for announced sizes.
#include <gtest/gtest.h>

#include "HTTPTestSupport.h"
#include "PeakMemory.h"

namespace {

using namespace step;

const std::string kFresh = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfresh";

Script Drip(const std::string& head, int bytes, int pauseMs) {
    Script s = {ReadHead(), Send(head)};
    for (int i = 0; i < bytes; ++i) {
        s.push_back(Send("x"));
        s.push_back(Pause(pauseMs));
    }
    return s;
}

struct BoundCase {
    const char* what;
    Script script;
    int32_t fetchTimeout;
    int64_t minMs, maxMs;
};

void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.what; }

class FetchTimeoutBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(FetchTimeoutBound, EndsTheFetchWithReadTimeoutWithinTheBound) {
    const BoundCase& c = GetParam();
    ScriptedServer server({c.script});
    TIdHTTP http(nullptr);
    http.SetFetchTimeout(c.fetchTimeout);
    const Outcome o = Fetch(http, UrlOf(server));
    EXPECT_EQ(o.kind, "EIdReadTimeout") << c.what << ": " << o.message;
    EXPECT_EQ(o.message, "Read Timeout");
    EXPECT_GE(o.elapsedMs, c.minMs) << c.what;
    EXPECT_LE(o.elapsedMs, c.maxMs) << c.what;
    EXPECT_FALSE(http.IsConnected()) << c.what;
    EXPECT_EQ(http.ReadTimeout(), 0) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FetchTimeoutBound,
    ::testing::Values(
        BoundCase{"accepts and never answers", {ReadHead(), Silent(4000)}, 500, 450, 1300},
        BoundCase{"a body without end, one byte at a time", Drip("HTTP/1.1 200 OK\r\n\r\n", 20, 150), 1000, 950, 1800},
        BoundCase{"a status line that never ends", Drip("HTTP/1.1 200 ", 20, 150), 800, 750, 1600},
        BoundCase{"an error body that stalls: the bound is below the 2000 ms of the error read",
                  {ReadHead(), Send("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\nabc"), Silent(4000)},
                  500,
                  450,
                  1300}),
    [](const ::testing::TestParamInfo<BoundCase>& info) { return "case" + std::to_string(info.index); });

TEST(FetchTimeoutBound, LeavesTheConnectAndTheRequestAlone) {
    TIdHTTP http(nullptr);
    http.SetFetchTimeout(1000);
    const ReservedPort nothingListens;
    const Outcome refused = Fetch(http, UrlOf(nothingListens));
    EXPECT_EQ(refused.kind, "EIdSocketError");
    EXPECT_EQ(refused.socketCode, 10061);

    ScriptedServer server({AnswerOnce(kFresh)});
    EXPECT_EQ(Fetch(http, UrlOf(server)).body, "fresh");
    const ConnectionRecord c = server.Connection(0);
    EXPECT_EQ(c.received, DefaultHead(HostOf(server)));
    EXPECT_EQ(c.recvSizes, std::vector<size_t>{c.received.size()});
}

TEST(FetchTimeoutBound, EveryFetchGetsABoundOfItsOwn) {
    // Two answers on one connection, each 200 ms late: each fits in a bound
    // of 400 ms, together they would not.
    ScriptedServer server({{ReadHead(), Pause(200), Send(kFresh), ReadHead(), Pause(200), Send(kFresh), Silent(3000)}});
    TIdHTTP http(nullptr);
    http.SetFetchTimeout(400);
    EXPECT_EQ(Fetch(http, UrlOf(server)).kind, "returned");
    EXPECT_EQ(Fetch(http, UrlOf(server)).kind, "returned");
    EXPECT_EQ(server.Accepted(), 1);

    // With the bound switched off, a late answer is waited for.
    ScriptedServer late({{ReadHead(), Pause(600), Send(kFresh), Close()}});
    http.SetFetchTimeout(0);
    EXPECT_EQ(Fetch(http, UrlOf(late)).body, "fresh");
}

struct FailCase {
    const char* what;
    std::string answer;  // sent, then the server stays silent
    const char* kind;
    bool cookieStored;  // the header block was complete
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.what; }

class AfterAFailedFetch : public ::testing::TestWithParam<FailCase> {};

TEST_P(AfterAFailedFetch, TheNextFetchUsesAFreshConnection) {
    const FailCase& c = GetParam();
    ScriptedServer server({{ReadHead(), Send(c.answer), Silent(3000)}, AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    http.SetReadTimeout(300);
    const Outcome one = Fetch(http, UrlOf(server));
    EXPECT_EQ(one.kind, c.kind) << c.what << ": " << one.message;
    EXPECT_FALSE(http.IsConnected()) << c.what;

    const Outcome two = Fetch(http, UrlOf(server));
    EXPECT_EQ(two.kind, "returned") << c.what << ": " << two.message;
    EXPECT_EQ(two.body, "fresh") << c.what;
    EXPECT_EQ(server.Accepted(), 2) << c.what;
    // The cookie of a failed answer whose head was complete goes out with
    // the next request.
    const std::string head = server.Connection(1).received;
    EXPECT_EQ(head.find("\r\nCookie: s=1\r\n") != std::string::npos, c.cookieStored) << c.what << head;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AfterAFailedFetch,
    ::testing::Values(
        FailCase{"read time-out in a body of announced length",
                 "HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nContent-Length: 10\r\n\r\nabc", "EIdReadTimeout", true},
        FailCase{"read time-out in a body without length", "HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\n\r\nab",
                 "EIdReadTimeout", true},
        FailCase{"read time-out in the header block", "HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nServer: x",
                 "EIdReadTimeout", false},
        FailCase{"malformed Content-Range",
                 "HTTP/1.1 206 Partial\r\nSet-Cookie: s=1\r\nContent-Range: x\r\nContent-Length: 4\r\n\r\nab",
                 "EConvertError", false}),
    [](const ::testing::TestParamInfo<FailCase>& info) { return "case" + std::to_string(info.index); });

TEST(AfterAFailedFetch, ALineTooLongLeavesTheClientDisconnected) {
    ScriptedServer server(
        {{ReadHead(), Send("HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'y')), Silent(3000)}, AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    EXPECT_EQ(Fetch(http, UrlOf(server)).kind, "EIdReadLnMaxLineLengthExceeded");
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(Fetch(http, UrlOf(server)).body, "fresh");
}

// Records the largest size the client asks a body stream for.
class SizeRecordingStream : public TMemoryStream {
public:
    void SetSize(int64_t size) override {
        largest = std::max(largest, size);
        TMemoryStream::SetSize(size);
    }
    int64_t largest = 0;
};

TEST(AnnouncedSizes, AHugeAnnouncedBodyAllocatesOnlyWhatArrives) {
    struct Case {
        const char* what;
        std::string answer;
        const char* kind;
        std::string body;
    } cases[] = {
        {"Content-Length 2^31-1", "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n0123456789", "returned",
         "0123456789"},
        {"chunk size 7fffffff", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7fffffff\r\n0123456789",
         "EIdConnClosedGracefully", ""},
    };
    for (const Case& c : cases) {
        {
            ScriptedServer server({AnswerOnce(c.answer)});
            TIdHTTP http(nullptr);
            SizeRecordingStream stream;
            std::string kind = "returned";
            try {
                http.GetDocumentToStream(UrlOf(server), stream);
            } catch (const Exception& e) {
                kind = e.ClassName();
            }
            EXPECT_EQ(kind, c.kind) << c.what;
            EXPECT_LE(stream.largest, 64 << 20) << c.what;
            EXPECT_LE(stream.Bytes().size(), 10u) << c.what;
        }
        {
            ScriptedServer server({AnswerOnce(c.answer)});
            TIdHTTP http(nullptr);
            const Outcome o = Fetch(http, UrlOf(server));
            EXPECT_EQ(o.kind, c.kind) << c.what;
            EXPECT_EQ(o.body, c.body) << c.what;
        }
    }
    EXPECT_LT(PeakResidentBytes(), uint64_t{512} << 20);
}

}  // namespace
