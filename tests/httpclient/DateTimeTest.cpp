// Date headers: the written form and the reader.
#include <gtest/gtest.h>

#include <regex>

#include "IdDateTime.h"

namespace {

TDateTime At(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    TDateTime v = 0;
    EXPECT_TRUE(TryEncodeDateTime(y, m, d, h, mi, s, v));
    return v;
}

AnsiString OffsetText(int32_t minutes) {
    char buf[16];
    const int32_t a = minutes < 0 ? -minutes : minutes;
    std::snprintf(buf, sizeof buf, "%c%02d%02d", minutes < 0 ? '-' : '+', a / 60, a % 60);
    return buf;
}

TEST(DateScale, EncodesAndDecodesDaysSince18991230) {
    EXPECT_DOUBLE_EQ(At(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(At(1970, 1, 1), 25569.0);
    EXPECT_DOUBLE_EQ(At(2000, 3, 1, 12), 36586.5);
    int y, m, d, h, mi, s, dow;
    DecodeDateTime(At(2024, 2, 29, 23, 59, 59), y, m, d, h, mi, s, dow);
    EXPECT_EQ((std::vector<int>{y, m, d, h, mi, s, dow}), (std::vector<int>{2024, 2, 29, 23, 59, 59, 4}));
    TDateTime v;
    EXPECT_FALSE(TryEncodeDateTime(2023, 2, 29, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeDateTime(2023, 13, 1, 0, 0, 0, v));
}

TEST(InternetDate, WritesTheLocalTimeWithTheLocalOffset) {
    const AnsiString zone = OffsetText(LocalOffsetMinutes());
    EXPECT_EQ(FormatInternetDate(At(2024, 3, 5, 7, 8, 9)), "Tue, 5 Mar 2024 07:08:09 " + zone);
    EXPECT_EQ(FormatInternetDate(At(1999, 12, 31, 23, 0, 0)), "Fri, 31 Dec 1999 23:00:00 " + zone);
    const std::regex shape(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? [A-Z][a-z]{2} [0-9]{4} "
        "[0-2][0-9]:[0-5][0-9]:[0-5][0-9] [+-][0-9]{4}");
    EXPECT_TRUE(std::regex_match(FormatInternetDate(NowLocal()), shape)) << FormatInternetDate(NowLocal());
}

TEST(InternetDate, ReadsBackWhatItWrites) {
    const TDateTime value = At(2010, 7, 4, 18, 30, 5);
    EXPECT_NEAR(ReadInternetDate(FormatInternetDate(value)), value, 1e-7);
}

struct ReadCase {
    const char* text;
    TDateTime universal;  // the value in universal time; 0 for unreadable text
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.text; }

class InternetDateRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(InternetDateRead, GivesUniversalTimeTurnedLocal) {
    const ReadCase& c = GetParam();
    EXPECT_NEAR(ReadInternetDate(c.text), c.universal + LocalOffsetMinutes() / 1440.0, 1e-7) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, InternetDateRead,
                         ::testing::Values(ReadCase{"Sun, 06 Nov 1994 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37)},
                                           ReadCase{"Sunday, 06-Nov-94 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37)},
                                           ReadCase{"Sun Nov  6 08:49:37 1994", At(1994, 11, 6, 8, 49, 37)},
                                           ReadCase{"sun, 06 nov 1994 08:49:37 gmt", At(1994, 11, 6, 8, 49, 37)},
                                           ReadCase{"Nov 06 1994 08:49:37", At(1994, 11, 6, 8, 49, 37)},
                                           ReadCase{"06 Nov 1994 08:49:37 +0100", At(1994, 11, 6, 7, 49, 37)},
                                           ReadCase{"06 Nov 1994 08:49:37 -0230", At(1994, 11, 6, 11, 19, 37)},
                                           ReadCase{"6 Nov 05", At(2005, 11, 6)},
                                           ReadCase{"01-Jan-80 00:00:00", At(1980, 1, 1)},
                                           ReadCase{"Thu, 01 Jan 1970 00:00:00 GMT", At(1970, 1, 1)}, ReadCase{"", 0},
                                           ReadCase{"-1", 0}, ReadCase{"not a date", 0},
                                           ReadCase{"32 Nov 1994 08:49:37", 0}, ReadCase{"06 Foo 1994", 0},
                                           ReadCase{"06 Nov 1994 25:00:00", 0}));

}  // namespace
