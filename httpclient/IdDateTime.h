// Date-time values for HTTP date headers: a count of days since
// 30 December 1899 with the time of day as fraction, in local time.
#pragma once

#include <cstdint>

#include "../runtime/SysUtils.h"

using TDateTime = double;

// "Www, D Mon YYYY hh:mm:ss +hhmm": the value as local time with the local
// offset from UTC. Raises EIdFailedToRetreiveTimeZoneInfo when the platform
// gives no time-zone information.
AnsiString FormatInternetDate(TDateTime value);

// Reads an HTTP date (RFC 822/1123, RFC 850 and asctime forms, an optional
// "+hhmm"/"-hhmm" offset) and turns it into local time with the current
// local offset. Unreadable text counts as the zero point before that turn;
// only the time-zone query can raise.
TDateTime ReadInternetDate(const AnsiString& text);

// The current local time.
TDateTime NowLocal();

// The local offset from UTC in minutes (east positive), as the platform
// reports it now. Raises EIdFailedToRetreiveTimeZoneInfo on failure.
int32_t LocalOffsetMinutes();

// Calendar helpers of the date scale.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& value);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& dayOfWeek);  // dayOfWeek: 0 = Sunday
