// The run log's lines on the recording test platform.
#include <gtest/gtest.h>

#include "RunLog.h"
#include "TestPlatform.h"

namespace {

TEST(RunLogTest, ControlCharactersAreEscapedAndTheTextCut) {
    struct Case {
        AnsiString text;
        size_t limit;
        AnsiString printable;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK", AnsiString::npos, "HTTP/1.1 200 OK"},
        {"Socket Error # 10061\r\nConnection refused.", AnsiString::npos,
         "Socket Error # 10061\\r\\nConnection refused."},
        {AnsiString("a\tb\x01\x1F\x7F", 6) + AnsiString(1, '\0') + "c", AnsiString::npos, "a\\tb\\x01\\x1F\\x7F\\x00c"},
        {"J\xE9r\xF4me", AnsiString::npos, "J\xE9r\xF4me"},  // ANSI text stays as it is
        {"abcdef", 3, "abc"},
        {"a\rbc", 2, "a\\r"},  // cut counts the characters of the text, not of the escapes
    };
    for (const Case& c : cases) EXPECT_EQ(TRunLog::Printable(c.text, c.limit), c.printable) << c.text;
}

TEST(RunLogTest, WritesOnlyWhileOpen) {
    TestPlatform::Reset();
    TRunLog::Write("before");
    TRunLog::Open("kestrin");
    TestPlatform::Advance(61234);
    TRunLog::Write("one\ntwo");
    TRunLog::Close();
    TRunLog::Write("after");
    EXPECT_EQ(TestPlatform::LogLines(), std::vector<AnsiString>{"2026-12-11 09:01:01.234 kestrin[4242] one\\ntwo"});

    TestPlatform::Reset();
    TestPlatform::SetLogFileOpens(false);
    TRunLog::Open("kestrin");
    EXPECT_FALSE(TRunLog::IsOpen());
    TRunLog::Write("lost");
    EXPECT_TRUE(TestPlatform::LogLines().empty());
}

}  // namespace
