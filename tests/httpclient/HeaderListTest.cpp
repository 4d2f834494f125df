// Header lines: lookup, unfolding, replacement, deletion and folding.
#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>

#include "IdHeaderList.h"

namespace {

void Fill(TIdHeaderList& list, std::initializer_list<const char*> lines) {
    for (const char* line : lines) list.Add(line);
}

std::vector<AnsiString> LinesOf(const TIdHeaderList& list) {
    std::vector<AnsiString> lines;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
    return lines;
}

TEST(HeaderListLookup, FindsNamesAndJoinsContinuationLines) {
    TIdHeaderList list;
    Fill(list, {"Content-Type : text/plain", "server: one", " two", "\tthree", "Set-cookie: a=1", "Set-Cookie: b=2",
                "X-Empty:", "no colon here", "X-After:  padded  "});
    // A blank before the colon is part of the name.
    EXPECT_EQ(list.HeaderIndex("Content-Type"), -1);
    EXPECT_EQ(list.HeaderValue("Content-Type"), "");
    EXPECT_EQ(list.HeaderValue("Content-Type "), "text/plain");
    EXPECT_EQ(list.HeaderValue("Server"), "one two three");
    EXPECT_EQ(list.HeaderValue("SET-COOKIE"), "a=1");
    EXPECT_EQ(list.HeaderValue("X-Empty"), "");
    EXPECT_EQ(list.HeaderIndex("X-Empty"), 6);
    EXPECT_EQ(list.HeaderValue("X-After"), "padded");
    EXPECT_EQ(list.NameOfLine(1), "SERVER");
    EXPECT_EQ(list.NameOfLine(7), "");
    EXPECT_EQ(list.ValueOfLine(99), "");

    TStringList cookies;
    list.CollectValues("set-cookie", &cookies);
    ASSERT_EQ(cookies.Count(), 2);
    EXPECT_EQ(cookies[0], "a=1");
    EXPECT_EQ(cookies[1], "b=2");
    list.CollectValues("set-cookie", nullptr);

    list.SetJoinFoldedLines(false);
    EXPECT_EQ(list.HeaderValue("Server"), "one");
    list.SetMatchCase(true);
    EXPECT_EQ(list.NameOfLine(1), "server");
    EXPECT_EQ(list.HeaderValue("SERVER"), "one");
}

TEST(HeaderListLookup, JoinsEmptyAndBlankPiecesWithoutStrayBlanks) {
    TIdHeaderList list;
    Fill(list, {"X-Fold:", " ", " a ", "\t", " b", "X-Next: n"});
    EXPECT_EQ(list.HeaderValue("X-Fold"), "a b");
    EXPECT_EQ(list.HeaderValue("X-Next"), "n");
}

TEST(HeaderListLookup, ALongRunOfContinuationLinesJoinsInLinearTime) {
    // 1,000,000 continuation lines: rebuilding the value for each line copies
    // about 1 TB and takes about a minute; extending it in place takes a few
    // seconds at most (under the sanitizers, on a loaded machine).
    TIdHeaderList list;
    list.Add("Server: s");
    for (int i = 0; i < 1000000; ++i) list.Add(" x");
    const auto start = std::chrono::steady_clock::now();
    const AnsiString value = list.HeaderValue("Server");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(value.size(), 1 + 2 * 1000000u);
    EXPECT_EQ(value.substr(0, 5), "s x x");
}

struct SetCase {
    const char* what;
    std::vector<AnsiString> before;
    const char* name;
    const char* value;
    std::vector<AnsiString> after;
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.what; }

class HeaderListSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(HeaderListSet, ReplacesAppendsOrDeletes) {
    const SetCase& c = GetParam();
    TIdHeaderList list;
    for (const AnsiString& line : c.before) list.Add(line);
    list.SetHeaderValue(c.name, c.value);
    EXPECT_EQ(LinesOf(list), c.after) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeaderListSet,
    ::testing::Values(
        SetCase{"replace in place", {"A: 1", "Host: old", "B: 2"}, "host", "new", {"A: 1", "host: new", "B: 2"}},
        SetCase{"append", {"A: 1"}, "Host", "h", {"A: 1", "Host: h"}},
        SetCase{"only the first of a name", {"X: 1", "X: 2"}, "X", "3", {"X: 3", "X: 2"}},
        SetCase{"replace drops old continuation lines", {"X: a", " b", "Y: c"}, "X", "z", {"X: z", "Y: c"}},
        SetCase{"delete with continuation lines", {"X: a", " b", "\tc", "Y: d"}, "X", "", {"Y: d"}},
        SetCase{"delete an absent name", {"Y: d"}, "X", "", {"Y: d"}},
        // A name that is the start of the wanted one is another name.
        SetCase{"a shorter name is not the name",
                {"Content: 3", "Content-Length: 5"},
                "Content-Length",
                "7",
                {"Content: 3", "Content-Length: 7"}}),
    [](const ::testing::TestParamInfo<SetCase>& info) { return "case" + std::to_string(info.index); });

TEST(HeaderListSet, WithoutFoldingWritesOneLine) {
    TIdHeaderList list;
    list.SetFoldWidth(10);
    list.SetFoldLongLines(false);
    list.Add("X: a");
    list.Add(" b");
    list.SetHeaderValue("X", "one, two, three");
    EXPECT_EQ(LinesOf(list), (std::vector<AnsiString>{"X: one, two, three", " b"}));
}

TEST(HeaderListFold, LinesUpToTheWidthStayWhole) {
    TIdHeaderList list;
    list.SetFoldWidth(1024);
    const AnsiString value(1024 - 8, 'v');  // "Cookie: " + value is 1024 long
    list.SetHeaderValue("Cookie", value);
    EXPECT_EQ(LinesOf(list), (std::vector<AnsiString>{"Cookie: " + value}));
    // Trailing blanks are trimmed even when nothing is folded.
    EXPECT_EQ(list.FoldHeaderLine("A: b  "), (std::vector<AnsiString>{"A: b"}));
}

TEST(HeaderListFold, ALongCookieLineFoldsAtTheLastBreakBeforeTheColumn) {
    // 200 cookies "cNNN=vvvvv; " make a line of about 2400 columns.
    AnsiString value;
    for (int i = 0; i < 200; ++i) {
        if (i) value += "; ";
        value += "c" + std::to_string(100 + i) + "=vvvvvvv";
    }
    TIdHeaderList list;
    list.SetFoldWidth(1024);
    list.Add("Host: h");
    list.SetHeaderValue("Cookie", value);
    ASSERT_GE(list.Count(), 4);
    EXPECT_EQ(list[0], "Host: h");
    AnsiString joined;
    for (int i = 1; i < list.Count(); ++i) {
        const AnsiString& line = list[i];
        EXPECT_LE(line.size(), 1024u) << i;
        EXPECT_FALSE(line.empty());
        EXPECT_NE(line.back(), ' ') << "trailing blank on line " << i;
        if (i > 1) {
            EXPECT_EQ(line[0], ' ') << "continuation line " << i;
        }
        // Each piece ends at a break character: the ";" of "; " is not one,
        // so the break is the blank after it, which is trimmed.
        if (i + 1 < list.Count()) {
            EXPECT_EQ(line.back(), ';') << i;
        }
        joined += line;
    }
    // The first piece is the longest that ends at a blank within column 1024.
    const AnsiString full = "Cookie: " + value;
    const size_t lastBlank = full.rfind(' ', 1023);
    EXPECT_EQ(list[1], full.substr(0, lastBlank));
    // Reading joins the pieces back into the value, one blank per break.
    EXPECT_EQ(list.HeaderValue("Cookie"), value);
}

struct FoldCase {
    const char* line;
    int width;
    std::vector<AnsiString> pieces;
};

void PrintTo(const FoldCase& c, std::ostream* os) { *os << c.line; }

class HeaderListFoldTable : public ::testing::TestWithParam<FoldCase> {};

TEST_P(HeaderListFoldTable, Folds) {
    const FoldCase& c = GetParam();
    TIdHeaderList list;
    list.SetFoldWidth(c.width);
    EXPECT_EQ(list.FoldHeaderLine(c.line), c.pieces) << c.line;
}

INSTANTIATE_TEST_SUITE_P(Table, HeaderListFoldTable,
                         ::testing::Values(
                             // Break at the last blank or comma before the column; a break that
                             // falls on the line's last character adds no break text.
                             FoldCase{"X: aaaa, bbbb, cccc", 10, {"X: aaaa,", " bbbb, cccc"}},
                             // Commas and blanks inside double quotes are no break.
                             FoldCase{"X: \"a, b, c, d\", e", 10, {"X:", " \"a, b, c, d\", e"}},
                             // A break already in the line starts a new piece.
                             FoldCase{"X: a\r\n b", 78, {"X: a", " b"}},
                             // No break character before the column: nothing to fold at.
                             FoldCase{"X:aaaaaaaaaaaaaaaaaaaa", 10, {"X:aaaaaaaaaaaaaaaaaaaa"}}));

}  // namespace
