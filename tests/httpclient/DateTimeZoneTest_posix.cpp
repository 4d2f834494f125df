// The local offset as the C library reports it, in zones east and west.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "IdDateTime.h"

namespace {

class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (hadOld_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST(LocalZone, OffsetSignFollowsTheZone) {
    struct Case {
        const char* zone;
        int32_t minutes;
        const char* suffix;
    } cases[] = {{"UTC0", 0, " +0000"}, {"XST-5:30", 330, " +0530"}, {"YST3", -180, " -0300"}};
    for (const Case& c : cases) {
        ZoneScope scope(c.zone);
        EXPECT_EQ(LocalOffsetMinutes(), c.minutes) << c.zone;
        const AnsiString text = FormatInternetDate(0.5);
        EXPECT_EQ(text, AnsiString("Sat, 30 Dec 1899 12:00:00") + c.suffix) << c.zone;
        // A date written in universal time comes back in the zone's time.
        EXPECT_NEAR(ReadInternetDate("Sat, 30 Dec 1899 12:00:00 GMT"), 0.5 + c.minutes / 1440.0, 1e-7) << c.zone;
    }
}

}  // namespace
