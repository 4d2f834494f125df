// Local time and offset from the C library.
#include <ctime>

#include "IdDateTime.h"
#include "IdException.h"

int32_t LocalOffsetMinutes() {
    const time_t now = time(nullptr);
    struct tm local {};
    if (now == static_cast<time_t>(-1) || !localtime_r(&now, &local)) throw EIdFailedToRetreiveTimeZoneInfo();
    return static_cast<int32_t>(local.tm_gmtoff / 60);
}

TDateTime NowLocal() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm local {};
    const time_t secs = ts.tv_sec;
    localtime_r(&secs, &local);
    TDateTime value = 0;
    TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec > 59 ? 59 : local.tm_sec, value);
    return value + ts.tv_nsec / 1e9 / 86400.0;
}
