// The connection's data path over real loopback sockets: lines, exact and
// stream reads, time-outs and deadlines, resets, and the write side.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "IdBuffer.h"
#include "IdIOHandlerSocket.h"
#include "IdTCPClient.h"
#include "RequestHead.h"
#include "ScriptedServer.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A client connected to a scripted server that plays one script.
struct Connected {
    ScriptedServer server;
    TIdTCPClient client{nullptr};
    explicit Connected(Script script, ScriptedServerOptions options = {}) : server({std::move(script)}, options) {
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        client.OpenConnection(0);
    }
};

// ---- the input buffer

TEST(InputBuffer, ConsumingMovesAnOffsetAndCompactsAt32768) {
    TIdBuffer buffer;
    int64_t reported = 0;
    buffer.OnConsumed = [&](int32_t n) { reported += n; };
    std::string bytes(40000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    buffer.Append(bytes.data(), static_cast<int32_t>(bytes.size()));

    const uint8_t* front = buffer.Data();
    EXPECT_EQ(buffer.ExtractString(100), bytes.substr(0, 100));
    EXPECT_EQ(buffer.Data(), front + 100);  // no memory moved
    buffer.Consume(32668);                  // 32768 consumed: the rest moves to the front
    EXPECT_EQ(buffer.Size(), 40000 - 32768);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), 10), bytes.substr(32768, 10));
    EXPECT_EQ(reported, 32768);

    EXPECT_THROW(buffer.Consume(buffer.Size() + 1), EIdNotEnoughDataInBuffer);
    char out[4];
    buffer.Extract(out, 4);
    EXPECT_EQ(std::string(out, 4), bytes.substr(32768, 4));
    buffer.Consume(buffer.Size());
    EXPECT_TRUE(buffer.Empty());
}

TEST(InputBuffer, FindSearchesFromAnOffsetOfTheUnconsumedBytes) {
    TIdBuffer buffer;
    buffer.Append("xxab\nab\n", 8);
    buffer.Consume(2);
    const std::pair<int32_t, int32_t> cases[] = {{0, 2}, {3, 5}, {6, -1}, {100, -1}};
    for (const auto& [from, at] : cases) EXPECT_EQ(buffer.Find("\n", from), at) << from;
    EXPECT_EQ(buffer.Find("ab\n", 1), 3);
}

// ---- reading lines

TEST(ReadLine, EndsAtLineFeedWithOrWithoutCarriageReturn) {
    struct Case {
        const char* name;
        Script script;
        std::vector<AnsiString> lines;
    };
    const Case cases[] = {
        {"crlf and bare lf",
         {step::Send("HTTP/1.1 200 OK\r\nA: b\nC: d\r\n\r\n")},
         {"HTTP/1.1 200 OK", "A: b", "C: d", ""}},
        {"cr inside a line stays", {step::Send("x\ry\n\r\r\n")}, {"x\ry", "\r"}},
        {"line split over sends",
         {step::Send("ab"), step::Pause(30), step::Send("c\r"), step::Pause(30), step::Send("\nd\n")},
         {"abc", "d"}},
        {"zero bytes kept", {step::Send(std::string("a\0b\n", 4))}, {std::string("a\0b", 3)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = c.script;
        script.push_back(step::Silent());
        Connected conn(script);
        for (const AnsiString& line : c.lines) EXPECT_EQ(conn.client.ReadLine(), line);
        EXPECT_FALSE(conn.client.LineSplit());
        EXPECT_FALSE(conn.client.LineTimedOut());
        EXPECT_TRUE(conn.client.InputBuffer().Empty());
    }
}

TEST(ReadLine, OtherTerminatorsAndTheAsciiFilter) {
    Connected conn({step::Send("one||two|"), step::Pause(50), step::Send("|"), step::Pause(300),
                    step::Send("\xC1\xE2\n"), step::Silent()});
    EXPECT_EQ(conn.client.ReadLine("||"), "one");
    EXPECT_EQ(conn.client.ReadLine("||"), "two");  // the terminator straddles two receives
    conn.client.SetASCIIFilter(true);
    EXPECT_EQ(conn.client.ReadLine(), "Ab");  // top bits cleared as the bytes arrive
}

TEST(ReadLine, UnfinishedLineAtCloseReturnsEmptyThenRaises) {
    Connected conn({step::Send("HTTP/1.1 200"), step::Close()});
    EXPECT_EQ(conn.client.ReadLine(), "");
    EXPECT_TRUE(conn.client.LineTimedOut());
    EXPECT_EQ(conn.client.InputBuffer().Size(), 12);  // the bytes stay
    EXPECT_THROW(conn.client.ReadLine(), EIdConnClosedGracefully);
}

TEST(ReadLine, LengthLimitCountsTheCarriageReturn) {
    struct Case {
        const char* name;
        std::string sent;
        bool raises;
        size_t lineLength;
    };
    const Case cases[] = {
        {"16384 before the line feed", std::string(16383, 'a') + "\r\n", false, 16383},
        {"16385 before the line feed", std::string(16384, 'a') + "\r\n", true, 0},
        {"16384 without carriage return", std::string(16384, 'a') + "\n", false, 16384},
        {"no line feed at all", std::string(16385, 'a'), true, 0},  // raises without waiting for more
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected conn({step::Send(c.sent), step::Silent()});
        if (!c.raises) {
            EXPECT_EQ(conn.client.ReadLine(), std::string(c.lineLength, 'a'));
            continue;
        }
        try {
            conn.client.ReadLine();
            ADD_FAILURE() << "no error raised";
        } catch (const EIdReadLnMaxLineLengthExceeded& e) {
            EXPECT_EQ(e.Message(), "Max line length exceeded.");
        }
    }
}

TEST(ReadLine, SplitHandsOutTheLineInPiecesOfTheLimit) {
    Connected conn({step::Send("0123456789abcdefghijXYZ\r\nnext\n"), step::Silent()});
    conn.client.SetMaxLineAction(TIdMaxLineAction::maSplit);
    conn.client.SetMaxLineLength(10);
    EXPECT_EQ(conn.client.ReadLine(), "0123456789");
    EXPECT_TRUE(conn.client.LineSplit());
    EXPECT_EQ(conn.client.ReadLine(), "abcdefghij");
    EXPECT_TRUE(conn.client.LineSplit());
    EXPECT_EQ(conn.client.ReadLine(), "XYZ");
    EXPECT_FALSE(conn.client.LineSplit());
    conn.client.SetMaxLineLength(0);  // no limit
    EXPECT_EQ(conn.client.ReadLine(), "next");
}

// ---- time-outs and the read deadline

TEST(ReadTimeout, SilentServerRaisesReadTimeoutAfterReadTimeout) {
    Connected conn({step::Silent()});
    conn.client.SetReadTimeout(300);
    const auto start = Clock::now();
    try {
        conn.client.ReadLine();
        FAIL() << "no error raised";
    } catch (const EIdReadTimeout& e) {
        EXPECT_EQ(e.Message(), "Read Timeout");
    }
    EXPECT_GE(Clock::now() - start, milliseconds(290));
    EXPECT_TRUE(conn.client.IsConnected());  // a time-out closes nothing
}

TEST(ReadTimeout, ExplicitTimeoutsReportInsteadOfRaising) {
    Connected conn({step::Send("part"), step::Silent()});
    EXPECT_EQ(conn.client.FillInputBuffer(true, 50, false), 4);
    EXPECT_EQ(conn.client.FillInputBuffer(true, 50, false), -1);
    // A line read with its own time-out ends when it runs out, keeping the bytes.
    EXPECT_EQ(conn.client.ReadLine("\n", 50), "");
    EXPECT_TRUE(conn.client.LineTimedOut());
    EXPECT_EQ(conn.client.InputBuffer().Size(), 4);
}

TEST(ReadDeadline, BoundsEveryWaitEvenWithoutReadTimeout) {
    struct Case {
        const char* name;
        int32_t readTimeout;
        int deadlineMs;
    };
    const Case cases[] = {
        {"no read time-out", 0, 200},
        {"longer read time-out", 20000, 200},
        {"deadline already passed", 0, -10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected conn({step::Silent()});
        conn.client.SetReadTimeout(c.readTimeout);
        const auto start = Clock::now();
        conn.client.SetReadDeadline(start + milliseconds(c.deadlineMs));
        EXPECT_THROW(conn.client.ReadLine(), EIdReadTimeout);
        const auto took = Clock::now() - start;
        EXPECT_GE(took, milliseconds(std::max(c.deadlineMs, 0) - 10));
        EXPECT_LT(took, milliseconds(4000));  // the server stays silent for 5 s
        EXPECT_NO_THROW(conn.client.CheckPeerClosed(false));
    }
}

TEST(ReadDeadline, DataBeforeTheDeadlineIsReadAndClearingLiftsIt) {
    Connected conn({step::Send("a\n"), step::Pause(300), step::Send("b\n"), step::Silent()});
    conn.client.SetReadDeadline(Clock::now() + milliseconds(150));
    EXPECT_EQ(conn.client.ReadLine(), "a");
    EXPECT_THROW(conn.client.ReadLine(), EIdReadTimeout);
    conn.client.ClearReadDeadline();
    EXPECT_EQ(conn.client.ReadLine(), "b");
}

// ---- exact and stream reads

TEST(ReadExact, CloseBeforeTheCountLeavesTheBytesBuffered) {
    Connected conn({step::Send("0123456789"), step::Close()});
    char buffer[20];
    conn.client.ReadExact(buffer, 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_THROW(conn.client.ReadExact(buffer, 20), EIdConnClosedGracefully);
    EXPECT_EQ(conn.client.InputBuffer().Size(), 6);
    conn.client.ReadExact(buffer, 6);  // buffered bytes are still there to read
    EXPECT_EQ(std::string(buffer, 6), "456789");
}

TEST(ReadToStream, CountCutShortWritesEveryByteThatCameBeforeRaising) {
    struct Case {
        const char* name;
        Script script;
        int32_t recvBufferSize;
    };
    // A line is read first; what came with it is buffered when the stream
    // read starts. The unfinished last block goes to the stream too.
    const Case cases[] = {
        {"buffered bytes, then an unfinished block",
         {step::Send("HEAD\nbody-"), step::Pause(200), step::Send("0123456789"), step::Pause(200), step::Close()},
         32768},
        {"complete blocks, then an unfinished one",
         {step::Send("HEAD\nbody-"), step::Pause(200), step::Send("0123456789"), step::Pause(200), step::Close()},
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected conn(c.script);
        conn.client.SetRecvBufferSize(c.recvBufferSize);
        EXPECT_EQ(conn.client.ReadLine(), "HEAD");
        TMemoryStream stream;
        EXPECT_THROW(conn.client.ReadToStream(stream, 100), EIdConnClosedGracefully);
        EXPECT_EQ(stream.Bytes(), "body-0123456789");
        EXPECT_TRUE(conn.client.InputBuffer().Empty());
    }
}

TEST(ReadToStream, ExactCountLeavesWhatFollowsAndUntilClosedTakesEverything) {
    Connected conn({step::Send("0123456789rest-of-it"), step::Pause(50), step::Send("-and-more"), step::Close()});
    TMemoryStream counted;
    conn.client.ReadToStream(counted, 10);
    EXPECT_EQ(counted.Bytes(), "0123456789");
    TMemoryStream all;
    conn.client.ReadToStream(all, -1, true);
    EXPECT_EQ(all.Bytes(), "rest-of-it-and-more");
    EXPECT_TRUE(conn.client.InputBuffer().Empty());
}

TEST(ReadToStream, ReceivingAheadBuffersWhatFollowsTheCount) {
    struct Case {
        const char* name;
        bool receiveAhead;
        int32_t recvBufferSize;
        std::string leftInBuffer;  // after the count, before the next line is read
    };
    // The count and what follows it arrive together, after the head line.
    const Case cases[] = {
        {"plain read takes only the count", false, 32768, ""},
        {"ahead: the rest of the receive stays buffered", true, 32768, "\r\nNEXT\n"},
        {"ahead over several blocks: only the last receives ahead", true, 4, "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected conn({step::Send("HEAD\n"), step::Pause(100), step::Send("0123456789\r\nNEXT\n"), step::Silent()});
        conn.client.SetRecvBufferSize(c.recvBufferSize);
        EXPECT_EQ(conn.client.ReadLine(), "HEAD");
        TMemoryStream stream;
        conn.client.ReadToStream(stream, 10, false, c.receiveAhead);
        EXPECT_EQ(stream.Bytes(), "0123456789");
        const TIdBuffer& left = conn.client.InputBuffer();
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(left.Data()), static_cast<size_t>(left.Size())),
                  c.leftInBuffer);
        EXPECT_EQ(conn.client.ReadLine(), "");
        EXPECT_EQ(conn.client.ReadLine(), "NEXT");
    }
}

TEST(ReadToStream, WritesFromTheStreamPositionAndReportsWork) {
    Connected conn({step::Send("abcdef"), step::Silent()});
    TMemoryStream stream;
    stream.WriteBuffer("XYZ", 3);
    int64_t announced = -1, total = 0;
    int ends = 0;
    conn.client.OnWorkBegin = [&](TComponent*, TWorkMode mode, int64_t max) {
        if (mode == TWorkMode::wmRead) announced = max;
    };
    conn.client.OnWork = [&](TComponent*, TWorkMode, int64_t count) { total = count; };
    conn.client.OnWorkEnd = [&](TComponent*, TWorkMode) { ++ends; };
    conn.client.ReadToStream(stream, 6);
    EXPECT_EQ(stream.Bytes(), "XYZabcdef");
    EXPECT_EQ(announced, 6);
    EXPECT_EQ(total, 6);
    EXPECT_EQ(ends, 1);
}

// A stream that keeps its bytes but offers no memory to receive into, as a
// file does: blocks reach it through the input buffer.
class PlainStream : public TStream {
public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        bytes.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return static_cast<int64_t>(bytes.size()); }
    void SetSize(int64_t) override {}
    std::string bytes;
};

TEST(ReadToStream, LongBodiesArriveWholeAndNothingAfterThemIsTaken) {
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 131) >> 3);
    // Uneven pieces, so blocks straddle receives; the next line follows at once.
    Script script = {step::Send("HEAD\n" + body.substr(0, 1000)), step::Pause(30)};
    for (size_t at = 1000; at < body.size(); at += 70001) script.push_back(step::Send(body.substr(at, 70001)));
    script.push_back(step::Send("NEXT\n"));
    script.push_back(step::Silent());
    struct Case {
        const char* name;
        bool memoryStream;
        bool asciiFilter;
    };
    const Case cases[] = {{"memory stream", true, false}, {"plain stream", false, false}, {"ascii filter", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected conn(script);
        conn.client.SetASCIIFilter(c.asciiFilter);
        EXPECT_EQ(conn.client.ReadLine(), "HEAD");
        int64_t reported = 0;
        conn.client.OnWork = [&](TComponent*, TWorkMode, int64_t count) { reported = count; };
        TMemoryStream memory;
        PlainStream plain;
        conn.client.ReadToStream(c.memoryStream ? static_cast<TStream&>(memory) : plain,
                                 static_cast<int32_t>(body.size()));
        std::string expected = body;
        if (c.asciiFilter)
            for (char& ch : expected) ch = static_cast<char>(ch & 0x7F);
        EXPECT_TRUE((c.memoryStream ? memory.Bytes() : plain.bytes) == expected);
        EXPECT_EQ(reported, static_cast<int64_t>(body.size()));
        EXPECT_EQ(conn.client.ReadLine(), "NEXT");
    }
}

TEST(ReadToStream, HugeAnnouncedCountDoesNotAllocateAhead) {
    Connected conn({step::Send("0123456789"), step::Pause(50), step::Close()});
    TMemoryStream stream;
    EXPECT_THROW(conn.client.ReadToStream(stream, int64_t{1} << 40), EIdConnClosedGracefully);
    EXPECT_EQ(stream.Bytes(), "0123456789");
    EXPECT_LE(stream.Capacity(), int64_t(8) << 20);
}

// ---- resets

TEST(ReadReset, ReadSideResetDropsTheSocketSoTheNextFetchConnectsAfresh) {
    ScriptedServer server({{step::Send("HTTP/1.1 2"), step::Pause(100), step::Reset()},
                           {step::Send("HTTP/1.1 200 OK\r\n"), step::Silent()}});
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.OpenConnection(0);
    try {
        client.ReadLine();
        // Some platforms (Wine) report a reset as the end of the stream.
        EXPECT_TRUE(client.LineTimedOut());
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 10054);
        EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(client.PeerClosed());

    // What the next fetch does: probe the old connection, connect when it is gone.
    EXPECT_NO_THROW(client.CheckPeerClosed(false));
    ASSERT_FALSE(client.IsConnected());
    client.CloseConnection();
    client.OpenConnection(0);
    EXPECT_EQ(client.ReadLine(), "HTTP/1.1 200 OK");
    EXPECT_EQ(server.Accepted(), 2);
}

TEST(WriteReset, SendToAResetPeerDropsTheSocketAndRaises) {
    // The pause lets the client read its endpoints after the connect before
    // the reset: a peer already gone makes that step fail instead.
    Connected conn({step::Pause(250), step::Reset()});
    ASSERT_TRUE(conn.server.Connection(0).finished);
    const std::string chunk(4096, 'x');
    bool raised = false;
    for (int i = 0; i < 100 && !raised; ++i) {
        try {
            conn.client.SendText(chunk);
            std::this_thread::sleep_for(milliseconds(10));
        } catch (const EIdSocketError& e) {
            raised = true;
            EXPECT_TRUE(e.SocketCode() == 10054 || e.SocketCode() == 10053 || e.SocketCode() == 10058)
                << e.SocketCode();
        }
    }
    ASSERT_TRUE(raised);
    EXPECT_TRUE(conn.client.PeerClosed());
    EXPECT_FALSE(conn.client.IsConnected());
    EXPECT_THROW(conn.client.SendText("y"), EIdConnClosedGracefully);
}

// ---- writing

TEST(Write, BufferedHeadLeavesInOneSend) {
    Connected conn({step::ReadHead(), step::Close()});
    const std::vector<AnsiString> head = HeadLinesOf(DefaultHead("localhost:9080"));
    size_t length = 0;
    conn.client.BeginBufferedWrite(-1);
    for (const AnsiString& line : head) {
        conn.client.SendLine(line);
        length += line.size() + 2;
    }
    conn.client.EndBufferedWrite();
    const ConnectionRecord record = conn.server.Connection(0);
    EXPECT_EQ(record.received.size(), length);
    EXPECT_EQ(record.recvSizes, std::vector<size_t>{length});
}

TEST(Write, FlushThresholdSendsWhatHasGathered) {
    Connected conn({step::ReadBytes(8), step::Close()});
    conn.client.BeginBufferedWrite(4);
    conn.client.SendText("abcdef");  // reaches the threshold: its first 4 bytes go out
    conn.client.SendText("gh");      // 4 again
    conn.client.EndBufferedWrite();
    EXPECT_EQ(conn.server.Connection(0).received, "abcdefgh");
}

TEST(Write, AfterThePeerClosedNothingIsSentAndTheNextBufferStartsEmpty) {
    ScriptedServer server({{step::Close()}, {step::ReadHead(), step::Close()}});
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.OpenConnection(0);
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    client.BeginBufferedWrite(-1);
    try {
        client.SendText("stale");
        client.EndBufferedWrite();
        FAIL() << "no error raised";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(server.Connection(0).received, "");

    client.OpenConnection(0);
    client.BeginBufferedWrite(-1);
    client.SendText("fresh\r\n\r\n");
    client.EndBufferedWrite();
    EXPECT_EQ(server.Connection(1).received, "fresh\r\n\r\n");
}

TEST(Write, StreamsGoOutInChunksWithAnOptionalCountPrefix) {
    Connected conn({step::ReadBytes(4 + 10 + 10), step::Close()});
    conn.client.SetSendBufferSize(3);
    TMemoryStream body;
    body.WriteBuffer("0123456789", 10);
    conn.client.SendStream(body, true, true, 0);
    body.SetPosition(0);
    conn.client.SendStream(body, false, false, 0);
    EXPECT_EQ(conn.server.Connection(0).received, std::string("\0\0\0\x0A", 4) + "0123456789" + "0123456789");

    body.SetPosition(8);
    EXPECT_THROW(conn.client.SendStream(body, false, false, 5), EIdNoDataToRead);
}

}  // namespace
