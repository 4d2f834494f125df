// Opening and closing a client connection over real loopback sockets, and
// the transport errors on that road.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "IdIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "ScriptedServer.h"

namespace {

struct StatusEvent {
    TComponent* sender;
    TIdStatus status;
    AnsiString text;
};

// A client aimed at a loopback port that records its status events.
struct RecordingClient {
    TIdTCPClient client{nullptr};
    std::vector<StatusEvent> events;
    int connected = 0;
    int disconnected = 0;

    RecordingClient(const AnsiString& host, uint16_t port) {
        client.SetHost(host);
        client.SetPort(port);
        client.OnStatus = [this](TComponent* sender, TIdStatus status, const AnsiString& text) {
            events.push_back({sender, status, text});
        };
        client.OnConnected = [this](TComponent*) { ++connected; };
        client.OnDisconnected = [this](TComponent*) { ++disconnected; };
    }
    std::vector<AnsiString> Texts() const {
        std::vector<AnsiString> out;
        for (const auto& e : events) out.push_back(e.text);
        return out;
    }
};

// Records the waits of a connect with a time limit; `realMs` caps how long
// each really sleeps.
class StepRecordingHandler : public TIdIOHandlerSocket {
public:
    StepRecordingHandler(int32_t realMs) : TIdIOHandlerSocket(nullptr), realMs_(realMs) {}
    std::vector<int32_t> steps;

protected:
    void SleepStep(int32_t ms) override {
        steps.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, realMs_)));
    }

private:
    int32_t realMs_;
};

TEST(Connect, RefusedRaisesSocketError10061AndEndsIdleAfterClose) {
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        const ReservedPort refused;
        RecordingClient c(host, refused.Port());
        try {
            c.client.OpenConnection(0);
            FAIL() << "connected to a closed port";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.SocketCode(), 10061);
            EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
        }
        // Dropped: the handler is kept, its socket released.
        ASSERT_NE(c.client.IOHandler(), nullptr);
        EXPECT_FALSE(c.client.IOHandler()->HasOpenSocket());
        EXPECT_TRUE(c.client.PeerClosed());
        EXPECT_FALSE(c.client.IsConnected());
        EXPECT_EQ(c.connected, 0);

        std::vector<AnsiString> expected;
        if (AnsiString(host) == "localhost") expected.push_back("Resolving hostname localhost.");
        expected.push_back("Connecting to 127.0.0.1.");
        EXPECT_EQ(c.Texts(), expected);
        for (const auto& e : c.events) EXPECT_EQ(e.sender, c.client.IOHandler());

        c.client.CloseConnection();
        EXPECT_EQ(c.client.IOHandler(), nullptr);
        EXPECT_FALSE(c.client.OwnsIOHandler());
    }
}

TEST(Connect, SucceedsReportsStatusAndReadsBothEndpointsBack) {
    ScriptedServer server({{step::Silent()}});
    RecordingClient c("127.0.0.1", server.Port());
    c.client.OpenConnection(0);
    ASSERT_TRUE(c.client.IsConnected());
    EXPECT_TRUE(c.client.OwnsIOHandler());
    EXPECT_EQ(c.connected, 1);

    auto* handler = dynamic_cast<TIdIOHandlerSocket*>(c.client.IOHandler());
    ASSERT_NE(handler, nullptr);
    const TIdSocketHandle* binding = handler->SocketBinding();
    EXPECT_EQ(binding->RemoteIP(), "127.0.0.1");
    EXPECT_EQ(binding->RemotePort(), server.Port());
    EXPECT_EQ(binding->IP(), "127.0.0.1");
    EXPECT_NE(binding->Port(), 0);
    EXPECT_EQ(c.Texts(), (std::vector<AnsiString>{"Connecting to 127.0.0.1.", "Connected."}));
    EXPECT_EQ(c.events[0].sender, handler);
    EXPECT_EQ(c.events[1].sender, &c.client);

    c.events.clear();
    c.client.CloseConnection();
    EXPECT_EQ(c.Texts(), (std::vector<AnsiString>{"Disconnecting.", "Disconnected."}));
    EXPECT_EQ(c.disconnected, 1);
    EXPECT_EQ(c.client.IOHandler(), nullptr);
    EXPECT_TRUE(server.Connection(0).clientClosed);
}

TEST(Connect, NextAttemptAfterAFailureStartsWithNewHandlerAndSocket) {
    ScriptedServer server({{step::Send("hello\n"), step::Silent()}});
    const ReservedPort refused;
    RecordingClient c("127.0.0.1", refused.Port());
    EXPECT_THROW(c.client.OpenConnection(0), EIdSocketError);
    c.client.CloseConnection();

    c.client.SetPort(server.Port());
    c.client.OpenConnection(0);
    EXPECT_FALSE(c.client.PeerClosed());
    EXPECT_EQ(c.client.ReadLine(), "hello");
    c.client.CloseConnection();
}

TEST(Connect, ReconnectOnADroppedConnectionReusesTheHandlerAndEmptiesTheBuffer) {
    ScriptedServer server({{step::Send("a\nleft over"), step::Close()}, {step::Send("b\n"), step::Silent()}});
    RecordingClient c("127.0.0.1", server.Port());
    c.client.OpenConnection(0);
    EXPECT_EQ(c.client.ReadLine(), "a");
    EXPECT_EQ(c.client.ReadLine(), "");  // closed with an unfinished line
    EXPECT_TRUE(c.client.LineTimedOut());
    TIdIOHandler* handler = c.client.IOHandler();

    c.client.OpenConnection(0);  // Dropped -> Connecting with the same handler
    EXPECT_EQ(c.client.IOHandler(), handler);
    EXPECT_EQ(c.client.ReadLine(), "b");
    c.client.CloseConnection();
}

TEST(Connect, UnresolvableHostRaises11001AndReleasesTheSocket) {
    RecordingClient c("no such host.invalid", 80);
    try {
        c.client.OpenConnection(0);
        FAIL() << "no error raised";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    ASSERT_NE(c.client.IOHandler(), nullptr);
    EXPECT_FALSE(c.client.IOHandler()->HasOpenSocket());
    EXPECT_EQ(c.Texts(), std::vector<AnsiString>{"Resolving hostname no such host.invalid."});
}

TEST(Connect, AssignedHandlerStillConnectedRaisesAlreadyConnected) {
    ScriptedServer server({{step::Silent()}});
    TIdIOHandlerSocket handler(nullptr);
    {
        RecordingClient c("127.0.0.1", server.Port());
        c.client.SetIOHandler(&handler);
        c.client.OpenConnection(0);
        EXPECT_FALSE(c.client.OwnsIOHandler());
        const TIdStackSocketHandle socket = handler.SocketBinding()->SocketValue();
        const int32_t localPort = handler.SocketBinding()->Port();
        try {
            c.client.OpenConnection(0);
            FAIL() << "no error raised";
        } catch (const EIdAlreadyConnected& e) {
            EXPECT_EQ(e.Message(), "Already connected.");
        }
        EXPECT_TRUE(c.client.IsConnected());
        EXPECT_EQ(handler.SocketBinding()->SocketValue(), socket);
        EXPECT_EQ(handler.SocketBinding()->Port(), localPort);
        c.client.CloseConnection();
        EXPECT_EQ(c.client.IOHandler(), &handler);  // not owned: kept
    }
    EXPECT_FALSE(handler.HasOpenSocket());
}

TEST(Connect, DestroyedAssignedHandlerIsForgotten) {
    RecordingClient c("127.0.0.1", 1);
    auto* handler = new TIdIOHandlerSocket(nullptr);
    c.client.SetIOHandler(handler);
    delete handler;
    EXPECT_EQ(c.client.IOHandler(), nullptr);
}

TEST(Connect, BindToAnOccupiedLocalPortRaisesCouldNotBind) {
    ScriptedServer occupied({});
    ScriptedServer server({{step::Silent()}});
    RecordingClient c("127.0.0.1", server.Port());
    c.client.SetBoundIP("127.0.0.1");
    c.client.SetBoundPort(occupied.Port());
    try {
        c.client.OpenConnection(0);
        FAIL() << "no error raised";
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(c.client.IOHandler()->HasOpenSocket());
}

TEST(Connect, LocalPortRangeErrors) {
    ScriptedServer occupied({});
    RecordingClient c("127.0.0.1", 1);
    c.client.SetBoundIP("127.0.0.1");
    c.client.SetBoundPortLow(occupied.Port());
    c.client.SetBoundPortHigh(occupied.Port());
    try {
        c.client.OpenConnection(0);
        FAIL() << "no error raised";
    } catch (const EIdCanNotBindPortInRange& e) {
        EXPECT_EQ(e.Message(), Format("Can not bind in port range (%d - %d)", {occupied.Port(), occupied.Port()}));
    }
    c.client.SetBoundPortLow(2000);
    c.client.SetBoundPortHigh(1000);
    try {
        c.client.OpenConnection(0);
        FAIL() << "no error raised";
    } catch (const EIdInvalidPortRange& e) {
        EXPECT_EQ(e.Message(), "Invalid Port Range (2000 - 1000)");
    }
}

TEST(ConnectWithTimeout, RefusedRaisesConnectExceptionWithTheSocketMessageAfterOneStep) {
    StepRecordingHandler handler(125);
    const ReservedPort refused;
    RecordingClient c("127.0.0.1", refused.Port());
    c.client.SetIOHandler(&handler);
    try {
        c.client.OpenConnection(5000);
        FAIL() << "no error raised";
    } catch (const EIdSocketError&) {
        FAIL() << "the failure must come as EIdConnectException";
    } catch (const EIdConnectException& e) {
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    // A fast failure is noticed after the first step, not at the limit.
    EXPECT_EQ(handler.steps, (std::vector<int32_t>{125, 0}));
    EXPECT_FALSE(handler.HasOpenSocket());
}

TEST(ConnectWithTimeout, HangingConnectTimesOutAfterTheStepsOfTheLimit) {
    HangingConnectTarget target;
    const std::pair<int32_t, std::vector<int32_t>> cases[] = {
        {300, {125, 125, 50}},
        {100, {100}},
        {250, {125, 125}},
    };
    for (const auto& [limit, steps] : cases) {
        SCOPED_TRACE(limit);
        StepRecordingHandler handler(5);
        RecordingClient c("127.0.0.1", target.Port());
        c.client.SetIOHandler(&handler);
        const auto start = std::chrono::steady_clock::now();
        try {
            c.client.OpenConnection(limit);
            FAIL() << "connected to a full accept queue";
        } catch (const EIdConnectTimeout& e) {
            EXPECT_EQ(e.Message(), "Connect timed out.");
        }
        EXPECT_EQ(handler.steps, steps);
        EXPECT_FALSE(handler.HasOpenSocket());
        // Closing the socket ended the pending connect: no wait for the platform's own limit.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
}

TEST(ConnectWithTimeout, SucceedsWithALimitAndWithoutOne) {
    ScriptedServer server({{step::Send("one\n"), step::Silent()}, {step::Send("two\n"), step::Silent()}},
                          ScriptedServerOptions{});
    for (int32_t limit : {2000, -2}) {
        SCOPED_TRACE(limit);
        RecordingClient c("127.0.0.1", server.Port());
        c.client.OpenConnection(limit);
        EXPECT_TRUE(c.client.IsConnected());
        EXPECT_EQ(c.client.ReadLine(), limit == -2 ? "two" : "one");
        c.client.CloseConnection();
    }
}

TEST(ConnectionClose, ServerCloseBeforeAnyAnswerRaisesClosedGracefully) {
    ScriptedServer server({{step::Close()}});
    RecordingClient c("127.0.0.1", server.Port());
    c.client.OpenConnection(0);
    c.events.clear();
    try {
        c.client.ReadLine();
        FAIL() << "no error raised";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_TRUE(c.client.PeerClosed());
    EXPECT_FALSE(c.client.IOHandler()->HasOpenSocket());
    EXPECT_EQ(c.Texts(), std::vector<AnsiString>{"Disconnected."});
    EXPECT_EQ(c.disconnected, 1);
    c.client.CloseConnection();
    EXPECT_EQ(c.client.IOHandler(), nullptr);
}

TEST(ConnectionClose, CheckPeerClosedNoticesAnIdleClose) {
    ScriptedServer server({{step::Close()}});
    RecordingClient c("127.0.0.1", server.Port());
    c.client.OpenConnection(0);
    ASSERT_TRUE(server.Connection(0).finished);
    for (int i = 0; i < 200 && c.client.IsConnected(); ++i) {
        c.client.CheckPeerClosed(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_EQ(c.disconnected, 1);
    EXPECT_THROW(c.client.CheckPeerClosed(true), EIdConnClosedGracefully);
}

TEST(ConnectionClose, ReadsAfterCloseConnectionRaiseNotConnected) {
    ScriptedServer server({{step::Silent()}});
    RecordingClient c("127.0.0.1", server.Port());
    c.client.OpenConnection(0);
    c.client.CloseConnection();
    EXPECT_THROW(c.client.ReadLine(), EIdNotConnected);
    EXPECT_THROW(c.client.SendText("x"), EIdNotConnected);
    EXPECT_NO_THROW(c.client.CheckPeerClosed(false));
}

TEST(ConnectionClose, IOHandlerCallsWithoutASocketRaiseDisconnected) {
    TIdIOHandlerSocket handler(nullptr);
    char byte = 0;
    EXPECT_THROW(handler.ReceiveBytes(&byte, 1), EIdClosedSocket);
    EXPECT_THROW(handler.SendBytes(&byte, 1), EIdClosedSocket);
    handler.PrepareBinding();
    EXPECT_THROW(handler.WaitReadable(0), EIdConnClosedGracefully);
}

TEST(ConnectionOptions, NagleOffSetsNoDelayAndSocksDefaults) {
    ScriptedServer server({{step::ReadBytes(1), step::Close()}});
    TIdIOHandlerSocket handler(nullptr);
    EXPECT_TRUE(handler.UseNagle());
    EXPECT_EQ(handler.SocksInfo()->Version(), TSocksVersion::svNoSocks);
    EXPECT_EQ(handler.SocksInfo()->Port(), 1080);
    handler.SetUseNagle(false);

    RecordingClient c("127.0.0.1", server.Port());
    c.client.SetIOHandler(&handler);
    c.client.OpenConnection(0);
    int32_t value = 0;
    int length = sizeof value;
    ASSERT_EQ(
        SharedStack->GetSockOpt(handler.SocketBinding()->SocketValue(), Id_IPPROTO_TCP, Id_TCP_NODELAY, &value, length),
        0);
    EXPECT_NE(value, 0);
    c.client.SendText("x");
    EXPECT_EQ(server.Connection(0).received, "x");
    c.client.CloseConnection();
}

}  // namespace
