#include "IdGlobal.h"

#include <cctype>

namespace {

bool SameCharBlind(char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

}  // namespace

AnsiString CutToken(AnsiString& input, const AnsiString& delimiter, bool remove, bool caseSensitive) {
    // The ANSI code page of this system is single-byte, so a byte search finds
    // the same occurrences as a character search.
    const size_t at = caseSensitive ? input.find(delimiter) : UpperCase(input).find(UpperCase(delimiter));
    if (at == AnsiString::npos) {
        AnsiString result = input;
        if (remove) input.clear();
        return result;
    }
    AnsiString result = input.substr(0, at);
    if (remove) input.erase(0, at + delimiter.size());
    return result;
}

int FindLast(const AnsiString& sub, const AnsiString& text, int start) {
    const int last = static_cast<int>(text.size()) - static_cast<int>(sub.size()) + 1;
    int from = (start == -1 || start > last) ? last : start;
    for (int pos = from; pos >= 1; --pos) {
        bool match = true;
        for (size_t i = 0; i < sub.size(); ++i) {
            if (!SameCharBlind(text[static_cast<size_t>(pos - 1) + i], sub[i])) {
                match = false;
                break;
            }
        }
        if (match) return pos;
    }
    return 0;
}
