// Local time and offset from the Windows time-zone query.
#include <windows.h>

#include "IdDateTime.h"
#include "IdException.h"

int32_t LocalOffsetMinutes() {
    TIME_ZONE_INFORMATION tz{};
    switch (GetTimeZoneInformation(&tz)) {
    case TIME_ZONE_ID_UNKNOWN: return -tz.Bias;
    case TIME_ZONE_ID_STANDARD: return -(tz.Bias + tz.StandardBias);
    case TIME_ZONE_ID_DAYLIGHT: return -(tz.Bias + tz.DaylightBias);
    default: throw EIdFailedToRetreiveTimeZoneInfo();
    }
}

TDateTime NowLocal() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    TDateTime value = 0;
    TryEncodeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, value);
    return value + st.wMilliseconds / 86400000.0;
}
