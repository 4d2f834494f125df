// The launchers' probe on port 9080: the exact request head, in one piece.
#include <gtest/gtest.h>

#include "HTTPTestSupport.h"

namespace {

using namespace step;

const std::string kProbeHead = DefaultHead("localhost:9080");

TEST(Probe, Sends148BytesInOneReadAndReturnsTheBody) {
    ASSERT_EQ(kProbeHead.size(), 148u);
    ScriptedServerOptions options;
    options.port = 9080;
    ScriptedServer server({AnswerOnce("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nready"),
                           AnswerOnce("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")},
                          options);
    // As the launcher holds it: defaults, and the bound on the whole fetch.
    TIdHTTP http(nullptr);
    http.SetFetchTimeout(10000);
    EXPECT_EQ(http.GetDocument("http://localhost:9080/kestrin"), "ready");
    const Outcome second = Fetch(http, "http://localhost:9080/kestrin");
    EXPECT_EQ(second.kind, "EIdHTTPProtocolException");
    EXPECT_EQ(second.replyCode, 404);
    for (size_t i = 0; i < 2; ++i) {
        const ConnectionRecord c = server.Connection(i);
        EXPECT_EQ(c.received, kProbeHead) << i;
        EXPECT_EQ(c.recvSizes, std::vector<size_t>{148}) << i;
    }
}

TEST(Probe, RefusedWhileNothingListens) {
    TIdHTTP http(nullptr);
    const Outcome o = Fetch(http, "http://localhost:9080/kestrin");
    EXPECT_EQ(o.kind, "EIdSocketError");
    EXPECT_EQ(o.socketCode, 10061);
    EXPECT_EQ(o.message, "Socket Error # 10061\r\nConnection refused.");
}

}  // namespace
