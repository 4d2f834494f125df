#include "SysUtils.h"

#include <cstdio>

bool TryStrToInt(const AnsiString& text, int32_t& value) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) return false;
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        magnitude = magnitude * (hex ? 16 : 10) + digit;
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    if (hex) {
        // A 32-bit pattern: eight F digits give -1.
        uint32_t pattern = static_cast<uint32_t>(magnitude);
        if (negative) pattern = 0u - pattern;
        value = static_cast<int32_t>(pattern);
        return true;
    }
    if (negative) {
        if (magnitude > 2147483648ull) return false;
        value = static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    } else {
        if (magnitude > 2147483647ull) return false;
        value = static_cast<int32_t>(magnitude);
    }
    return true;
}

int32_t StrToInt(const AnsiString& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) throw EConvertError(Format("'%s' is not a valid integer value", {text}));
    return value;
}

int32_t StrToIntDef(const AnsiString& text, int32_t defaultValue) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

AnsiString IntToStr(int64_t value) { return std::to_string(value); }

// The one case mapping of the library: ASCII letters only, as the ANSI
// comparisons of protocol texts need.
static char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

AnsiString UpperCase(AnsiString text) {
    for (char& c : text) c = UpperChar(c);
    return text;
}

bool SameText(const AnsiString& a, const AnsiString& b) {
    // As UpperCase of both would compare, without building the copies:
    // header lookups call this for every line of every answer.
    return a.size() == b.size() && SameTextPrefix(a.data(), b.data(), a.size());
}

bool SameTextPrefix(const char* a, const char* b, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

static bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }

AnsiString Trim(const AnsiString& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsTrimmed(text[first])) ++first;
    while (last > first && IsTrimmed(text[last - 1])) --last;
    return text.substr(first, last - first);
}

AnsiString TrimRight(const AnsiString& text) {
    size_t last = text.size();
    while (last > 0 && IsTrimmed(text[last - 1])) --last;
    return text.substr(0, last);
}

AnsiString Format(const AnsiString& format, std::initializer_list<FormatArg> args) {
    AnsiString out;
    auto next = args.begin();
    auto take = [&](FormatArg::Kind kind) -> const FormatArg& {
        if (next == args.end() || next->kind != kind)
            throw EConvertError("Format '" + format + "' invalid or incompatible with argument");
        return *next++;
    };
    char buf[32];
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        const AnsiString rest = format.substr(i + 1, 3);
        if (rest.compare(0, 1, "%") == 0) {
            out += '%';
            i += 1;
        } else if (rest.compare(0, 1, "s") == 0) {
            out += take(FormatArg::Kind::Text).text;
            i += 1;
        } else if (rest.compare(0, 1, "d") == 0) {
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(take(FormatArg::Kind::Integer).integer));
            out += buf;
            i += 1;
        } else if (rest.compare(0, 1, "x") == 0) {
            std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(take(FormatArg::Kind::Integer).integer));
            out += buf;
            i += 1;
        } else if (rest == ".8x") {
            std::snprintf(buf, sizeof buf, "%.8X", static_cast<unsigned>(take(FormatArg::Kind::Integer).integer));
            out += buf;
            i += 3;
        } else if (rest.compare(0, 1, "p") == 0) {
            std::snprintf(
                buf, sizeof buf, "%.8llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(take(FormatArg::Kind::Pointer).pointer)));
            out += buf;
            i += 1;
        } else {
            throw EConvertError("Format '" + format + "' invalid or incompatible with argument");
        }
    }
    return out;
}
