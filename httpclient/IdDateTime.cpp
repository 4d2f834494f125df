#include "IdDateTime.h"

#include <cmath>
#include <vector>

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days from 1970-01-01 of a proleptic Gregorian date.
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// 1899-12-30, the zero point of the scale, counted from 1970-01-01.
constexpr int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

AnsiString TwoDigits(int v) {
    AnsiString s = IntToStr(v);
    return s.size() < 2 ? "0" + s : s;
}

// 1..12 for a month name (first three letters, any case), else 0.
int MonthOf(const AnsiString& word) {
    if (word.size() < 3) return 0;
    const AnsiString head = UpperCase(word.substr(0, 3));
    for (int i = 0; i < 12; ++i)
        if (head == UpperCase(kMonthNames[i])) return i + 1;
    return 0;
}

bool IsDayName(const AnsiString& word) {
    if (word.size() < 3) return false;
    const AnsiString head = UpperCase(word.substr(0, 3));
    for (const char* day : kDayNames)
        if (head == UpperCase(day)) return true;
    return false;
}

bool ReadDecimal(const AnsiString& text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::vector<AnsiString> Words(const AnsiString& text) {
    std::vector<AnsiString> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        size_t j = i;
        while (j < text.size() && text[j] != ' ') ++j;
        if (j > i) words.push_back(text.substr(i, j - i));
        i = j;
    }
    return words;
}

bool ReadTime(const AnsiString& word, int& h, int& mi, int& s) {
    std::vector<AnsiString> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = word.find(':', start);
        parts.push_back(word.substr(start, at == AnsiString::npos ? AnsiString::npos : at - start));
        if (at == AnsiString::npos) break;
        start = at + 1;
    }
    if (parts.size() < 2 || parts.size() > 3) return false;
    s = 0;
    return ReadDecimal(parts[0], h) && ReadDecimal(parts[1], mi) && (parts.size() < 3 || ReadDecimal(parts[2], s)) &&
           h < 24 && mi < 60 && s < 60;
}

// The date in universal time as written, or false when it cannot be read.
bool ParseUniversal(AnsiString text, TDateTime& value) {
    text = Trim(text);
    if (IsDayName(text)) {
        const size_t blank = text.find(' ');
        text = blank == AnsiString::npos ? AnsiString() : text.substr(blank + 1);
    }
    const size_t firstBlank = text.find(' ');
    const size_t dash = text.find('-');
    if (dash != AnsiString::npos && dash > 0 && (firstBlank == AnsiString::npos || dash < firstBlank)) {
        // "06-Nov-94 ...": the dashes before the first blank separate the parts.
        const size_t end = firstBlank == AnsiString::npos ? text.size() : firstBlank;
        for (size_t i = 0; i < end; ++i)
            if (text[i] == '-') text[i] = ' ';
    }
    std::vector<AnsiString> words = Words(text);
    size_t w = 0;
    if (words.size() < 3) return false;

    int day = 0, month = MonthOf(words[0]);
    if (month != 0) {
        if (!ReadDecimal(words[1], day)) return false;
    } else {
        if (!ReadDecimal(words[0], day)) return false;
        month = MonthOf(words[1]);
        if (month == 0) return false;
    }
    w = 2;

    int year = 0;
    bool yearLast = true;
    if (w < words.size() && ReadDecimal(words[w], year) && year != 1900) {
        yearLast = false;
        ++w;
    }
    int h = 0, mi = 0, s = 0;
    if (w < words.size() && words[w].find(':') != AnsiString::npos) {
        if (!ReadTime(words[w], h, mi, s)) return false;
        ++w;
    }
    if (yearLast) {
        if (w >= words.size() || !ReadDecimal(words[w], year)) return false;
        ++w;
    }
    if (year < 80) year += 2000;
    else if (year < 100) year += 1900;

    TDateTime result = 0;
    if (!TryEncodeDateTime(year, month, day, h, mi, s, result)) return false;

    // "+hhmm" / "-hhmm": the written time is that far ahead of universal time.
    if (w < words.size()) {
        const AnsiString& zone = words[w];
        int hh = 0, mm = 0;
        if (zone.size() > 4 && (zone[0] == '+' || zone[0] == '-') && ReadDecimal(zone.substr(1, 2), hh) &&
            ReadDecimal(zone.substr(3, 2), mm)) {
            const double offset = (hh * 60 + mm) / 1440.0;
            result += zone[0] == '+' ? -offset : offset;
        }
    }
    value = result;
    return true;
}

}  // namespace

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
    value = days + (hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& dayOfWeek) {
    const int64_t ms = std::llround(value * 86400000.0);
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    CivilFromDays(days + kEpochOffset, year, month, day);
    const int64_t secs = rest / 1000;
    hour = static_cast<int>(secs / 3600);
    minute = static_cast<int>(secs / 60 % 60);
    second = static_cast<int>(secs % 60);
    // Day 0 of the scale was a Saturday.
    dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7);
}

AnsiString FormatInternetDate(TDateTime value) {
    int y, m, d, h, mi, s, dow;
    DecodeDateTime(value, y, m, d, h, mi, s, dow);
    const int32_t offset = LocalOffsetMinutes();
    const int32_t magnitude = offset < 0 ? -offset : offset;
    const AnsiString zone = (offset < 0 ? "-" : "+") + TwoDigits(magnitude / 60) + TwoDigits(magnitude % 60);
    const AnsiString time = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
    return Format("%s, %d %s %d %s %s", {kDayNames[dow], d, kMonthNames[m - 1], y, time, zone});
}

TDateTime ReadInternetDate(const AnsiString& text) {
    TDateTime universal = 0;
    if (!ParseUniversal(text, universal)) universal = 0;
    return universal + LocalOffsetMinutes() / 1440.0;
}
