// The socket stack: error texts, address parsing, name resolution, the
// checks of platform results and the shared stack's life.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "IdGlobal.h"
#include "IdStack.h"
#include "IdTCPClient.h"
#include "ScriptedServer.h"

namespace {

// Keeps the shared stack alive for a test.
class StackTest : public ::testing::Test {
protected:
    TIdTCPClient member{nullptr};
    TIdStack& Stack() { return *SharedStack; }
};

struct ErrorTextCase {
    int32_t code;
    const char* message;
};

TEST_F(StackTest, SocketErrorMessagesHaveTheCodeAndTheFixedText) {
    const ErrorTextCase cases[] = {
        {10061, "Socket Error # 10061\r\nConnection refused."},
        {10054, "Socket Error # 10054\r\nConnection reset by peer."},
        {10035, "Socket Error # 10035\r\nOperation would block. "},  // trailing blank kept
        {10066, "Socket Error # 10066\r\nDirectory not empty"},      // no full stop
        {10004, "Socket Error # 10004\r\nInterrupted system call."},
        {11001, "Socket Error # 11001\r\nHost not found."},
        {11004, "Socket Error # 11004\r\n"},  // other resolver codes: empty second line
        {12345, "Socket Error # 12345\r\n"},
        {0, "Socket Error # 0\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(Stack().SocketErrorText(c.code), c.message);
        try {
            Stack().RaiseSocketFailure(c.code);
            ADD_FAILURE() << "no error raised";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.SocketCode(), c.code);
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST_F(StackTest, BaseStackTableHasNoResolverRow) {
    EXPECT_EQ(Stack().TIdStack::SocketErrorText(11001), "Socket Error # 11001\r\n");
}

TEST_F(StackTest, DottedQuadRecognition) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},  {"255.255.255.255", true},
        {"0.0.0.0", true},    {"$7F.0.0.1", true},
        {"0x7f.0.0.1", true}, {"x7F.0.0.1", true},
        {" 1.2.3.4", true},   {"+1.2.3.4", true},
        {"1.2.3", false},     {"1.2.3.4.5", false},
        {"256.0.0.1", false}, {"-1.0.0.1", false},
        {"localhost", false}, {"", false},
        {"1.2.3.4 ", false},  {"1..2.3", false},
        {"a.b.c.d", false},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Stack().IsDottedQuad(text), expected) << '"' << text << '"';
}

TEST_F(StackTest, TextToAddressTakesTheLowByteOfFourIntegers) {
    const std::pair<const char*, TIdIn4Addr> cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"1.2.3.4.5", {1, 2, 3, 4}},  // after the fourth "." everything is ignored
        {"256.257.0.1", {0, 1, 0, 1}},
        {"$FF.0x10.0.1", {255, 16, 0, 1}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Stack().TextToAddress(text), expected) << text;
    for (const char* bad : {"1.2.3", "a.b.c.d", "", "1.2.3.4x"})
        EXPECT_THROW(Stack().TextToAddress(bad), EConvertError) << bad;
    EXPECT_EQ(Stack().AddressToText({10, 0, 0, 255}), "10.0.0.255");
}

TEST_F(StackTest, LocalhostAndDottedQuadsNeedNoLookup) {
    for (const char* host : {"localhost", "LOCALHOST", "LocalHost"})
        EXPECT_EQ(Stack().HostToAddress(host), "127.0.0.1");
    // Any dotted quad is kept as it is, reachable or not.
    EXPECT_EQ(Stack().HostToAddress("10.20.30.40"), "10.20.30.40");
}

TEST_F(StackTest, UnresolvableNameRaisesHostNotFound) {
    // The blanks make the name invalid, so the resolver refuses it without
    // asking any name server.
    try {
        Stack().HostToAddress("no such host.invalid");
        FAIL() << "no error raised";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
}

TEST_F(StackTest, CheckSocketResultPassesSuccessIgnoresListedCodesAndRaisesOthers) {
    EXPECT_FALSE(Stack().CheckSocketResult(0));
    EXPECT_FALSE(Stack().CheckSocketResult(5, {10061}));

    const ReservedPort refused;
    const uint16_t port = refused.Port();
    TIdStackSocketHandle s = Stack().AllocSocket(Id_SOCK_STREAM, 0);
    EXPECT_TRUE(Stack().CheckSocketResult(Stack().Connect(s, "127.0.0.1", port), {10061}));
    EXPECT_EQ(Stack().LastSocketError(), 10061);
    Stack().CloseSocket(s);

    s = Stack().AllocSocket(Id_SOCK_STREAM, 0);
    try {
        Stack().CheckSocketResult(Stack().Connect(s, "127.0.0.1", port));
        ADD_FAILURE() << "no error raised";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    Stack().CloseSocket(s);
}

TEST_F(StackTest, BindToAPortInUseReportsTheCode) {
    ScriptedServer server({});
    const TIdStackSocketHandle s = Stack().AllocSocket(Id_SOCK_STREAM, 0);
    EXPECT_TRUE(Stack().CheckSocketResult(Stack().Bind(s, "127.0.0.1", server.Port()), {10048}));
    Stack().CloseSocket(s);
}

TEST_F(StackTest, SelectRejectsMoreThan64SocketsInOneList) {
    TIdSocketList many(65, 1);
    EXPECT_THROW(Stack().Select(&many, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
    TIdSocketList fine;
    EXPECT_THROW(Stack().Select(&fine, nullptr, &many, 0), EIdStackSetSizeExceeded);
}

TEST_F(StackTest, SelectRewritesTheListToTheReadySockets) {
    ScriptedServer server({{step::Send("x"), step::Silent()}});
    const TIdStackSocketHandle ready = Stack().AllocSocket(Id_SOCK_STREAM, 0);
    const TIdStackSocketHandle idle = Stack().AllocSocket(Id_SOCK_STREAM, 0);
    ASSERT_FALSE(Stack().CheckSocketResult(Stack().Connect(ready, "127.0.0.1", server.Port())));
    TIdSocketList list{idle, ready};
    EXPECT_EQ(Stack().Select(&list, nullptr, nullptr, 3000), 1);
    EXPECT_EQ(list, TIdSocketList{ready});
    Stack().CloseSocket(ready);
    Stack().CloseSocket(idle);
}

TEST_F(StackTest, ByteOrderHelpers) {
    const uint16_t s = Stack().HToNS(0x1234);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&s)[0], 0x12);
    EXPECT_EQ(Stack().NToHS(s), 0x1234);
    const uint32_t l = Stack().HToNL(0x01020304);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&l)[0], 0x01);
    EXPECT_EQ(Stack().NToHL(l), 0x01020304u);
}

// No component alive here: the test sees the stack come and go.
TEST(SharedStackLife, FirstMemberCreatesItAndLastMemberFreesIt) {
    ASSERT_EQ(StackUsers, 0);
    ASSERT_EQ(SharedStack, nullptr);
    {
        TIdTCPClient first(nullptr);
        EXPECT_EQ(StackUsers, 1);
        TIdStack* stack = SharedStack;
        ASSERT_NE(stack, nullptr);
        {
            TIdTCPClient second(nullptr);
            EXPECT_EQ(StackUsers, 2);
            EXPECT_EQ(SharedStack, stack);
        }
        EXPECT_EQ(StackUsers, 1);
        EXPECT_EQ(SharedStack, stack);
    }
    EXPECT_EQ(StackUsers, 0);
    EXPECT_EQ(SharedStack, nullptr);
    EXPECT_TRUE(PlatformStarted);  // freeing the stack does not undo the start-up
}

TEST(SharedStackLife, ConcurrentJoinsAndLeavesKeepOneStack) {
    ASSERT_EQ(StackUsers, 0);
    TIdTCPClient anchor(nullptr);
    TIdStack* const stack = SharedStack;
    std::atomic<bool> sameStack{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                TIdTCPClient c(nullptr);
                if (SharedStack != stack) sameStack = false;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(sameStack);
    EXPECT_EQ(StackUsers, 1);
}

}  // namespace

// The string helpers the stack parses addresses with.
TEST(CutToken, TakesTheTextBeforeTheDelimiter) {
    struct Case {
        const char* input;
        const char* delimiter;
        bool remove;
        bool caseSensitive;
        const char* result;
        const char* rest;
    };
    const Case cases[] = {
        {"a.b.c", ".", true, true, "a", "b.c"},
        {"abc", ".", true, true, "abc", ""},
        {"abc", ".", false, true, "abc", "abc"},
        {"a::b", "::", true, true, "a", "b"},
        {".x", ".", true, true, "", "x"},
        {"keyXval", "x", true, true, "keyXval", ""},
        {"keyXval", "x", true, false, "key", "val"},
        {"a.b", ".", false, true, "a", "a.b"},
    };
    for (const Case& c : cases) {
        AnsiString input = c.input;
        EXPECT_EQ(CutToken(input, c.delimiter, c.remove, c.caseSensitive), c.result) << c.input;
        EXPECT_EQ(input, c.rest) << c.input;
    }
}

TEST(FindLast, SearchesBackwardsCaseBlind) {
    struct Case {
        const char* sub;
        const char* text;
        int start;
        int position;
    };
    const Case cases[] = {
        {"/", "a/b/c", -1, 4}, {"/", "a/b/c", 3, 2}, {"/", "a/b/c", 4, 4}, {"/", "abc", -1, 0}, {"B", "abcb", -1, 4},
        {"bc", "abcbc", 3, 2}, {"x", "", -1, 0},     {"/", "/a", 100, 1},  {"/", "a/", 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindLast(c.sub, c.text, c.start), c.position) << c.sub << " in " << c.text << " from " << c.start;
}
