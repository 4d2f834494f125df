#include "IdHeaderList.h"

namespace {

bool StartsContinuation(const AnsiString& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// Whether the line's name (the text before `separator`, none when the line
// has no separator) is `name`, letter case aside; as SameText(NameOfLine)
// would say, without building the name.
bool LineNameIs(const AnsiString& line, const AnsiString& separator, const AnsiString& name) {
    const size_t at = separator.empty() ? AnsiString::npos : line.find(separator);
    if (at == AnsiString::npos) return name.empty();
    return at == name.size() && SameTextPrefix(line.data(), name.data(), at);
}

}  // namespace

AnsiString TIdHeaderList::NameSeparator() const { return TrimRight(valueSeparator_); }

AnsiString TIdHeaderList::NameOfLine(int index) const {
    const AnsiString& line = Strings(index);
    const AnsiString sep = NameSeparator();
    const size_t at = sep.empty() ? AnsiString::npos : line.find(sep);
    if (at == AnsiString::npos) return {};
    AnsiString name = line.substr(0, at);
    return matchCase_ ? name : UpperCase(name);
}

AnsiString TIdHeaderList::ValueOfLine(int index) const {
    if (index < 0 || index >= Count()) return {};
    const AnsiString& line = Strings(index);
    const AnsiString sep = NameSeparator();
    const size_t at = sep.empty() ? AnsiString::npos : line.find(sep);
    AnsiString value = Trim(at == AnsiString::npos ? AnsiString() : line.substr(at + sep.size()));
    if (joinFoldedLines_) {
        // Each continuation adds one space and its trimmed text. The value is
        // extended in place (not rebuilt), so a long run of continuation lines
        // takes linear time; an empty piece leaves no blank behind.
        for (int i = index + 1; i < Count() && StartsContinuation(Strings(i)); ++i) {
            const AnsiString piece = Trim(Strings(i));
            if (piece.empty()) continue;
            if (!value.empty()) value += ' ';
            value += piece;
        }
    }
    return value;
}

int TIdHeaderList::HeaderIndex(const AnsiString& name) const {
    const AnsiString sep = NameSeparator();
    for (int i = 0; i < Count(); ++i)
        if (LineNameIs(Strings(i), sep, name)) return i;
    return -1;
}

AnsiString TIdHeaderList::HeaderValue(const AnsiString& name) const { return ValueOfLine(HeaderIndex(name)); }

void TIdHeaderList::CollectValues(const AnsiString& name, TStringList* values) const {
    if (!values) return;
    const AnsiString sep = NameSeparator();
    for (int i = 0; i < Count(); ++i)
        if (LineNameIs(Strings(i), sep, name)) values->Add(ValueOfLine(i));
}

void TIdHeaderList::RemoveContinuationLines(int index) {
    while (index + 1 < Count() && StartsContinuation(Strings(index + 1))) Delete(index + 1);
}

void TIdHeaderList::SetHeaderValue(const AnsiString& name, const AnsiString& value) {
    int index = HeaderIndex(name);
    if (value.empty()) {
        if (index < 0) return;
        if (foldLongLines_) RemoveContinuationLines(index);
        Delete(index);
        return;
    }
    if (index < 0) index = Add("");
    if (!foldLongLines_) {
        Put(index, name + valueSeparator_ + value);
        return;
    }
    RemoveContinuationLines(index);
    std::vector<AnsiString> pieces = FoldHeaderLine(name + valueSeparator_ + value);
    Put(index, pieces.back());
    for (size_t k = 0; k + 1 < pieces.size(); ++k) Insert(index + static_cast<int>(k), pieces[k]);
}

std::vector<AnsiString> TIdHeaderList::FoldHeaderLine(const AnsiString& line) const {
    const AnsiString wrapped = WrapHeaderText(line, "\r\n ", "\t ,", foldWidth_);
    std::vector<AnsiString> pieces;
    size_t start = 0;
    for (;;) {
        const size_t at = wrapped.find("\r\n", start);
        if (at == AnsiString::npos) {
            // A final line end leaves no piece behind it.
            if (start < wrapped.size() || pieces.empty()) pieces.push_back(TrimRight(wrapped.substr(start)));
            break;
        }
        pieces.push_back(TrimRight(wrapped.substr(start, at - start)));
        start = at + 2;
    }
    return pieces;
}

AnsiString WrapHeaderText(const AnsiString& line, const AnsiString& breakText, const AnsiString& breakChars,
                          int32_t maxColumn) {
    // Positions are 1-based, as the column count is. The ANSI code page is
    // single-byte, so every byte is a character of its own.
    const int len = static_cast<int>(line.size());
    const int breakLen = static_cast<int>(breakText.size());
    auto at = [&](int pos) { return line[static_cast<size_t>(pos - 1)]; };
    auto isBreakChar = [&](char c) { return breakChars.find(c) != AnsiString::npos; };

    int pos = 1, column = 1, lineStart = 1, breakPos = 0;
    bool quoted = false, existingBreak = false;
    AnsiString result;
    while (pos <= len) {
        const char c = at(pos);
        if (breakLen > 0 && c == breakText[0] && !quoted) {
            existingBreak =
                SameText(line.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(breakLen)), breakText);
            if (existingBreak) {
                pos += breakLen - 1;
                breakPos = pos;
            }
        } else if (isBreakChar(c) && !quoted) {
            breakPos = pos;
        } else if (c == '"') {
            quoted = !quoted;
        }
        ++pos;
        ++column;
        if (!quoted && (existingBreak || (column > maxColumn && breakPos > lineStart))) {
            column = pos - breakPos;
            result += line.substr(static_cast<size_t>(lineStart - 1), static_cast<size_t>(breakPos - lineStart + 1));
            if (c != '"') {
                while (pos <= len && (isBreakChar(at(pos)) || at(pos) == '\r' || at(pos) == '\n')) ++pos;
            }
            if (!existingBreak && pos < len) result += breakText;
            lineStart = breakPos + 1;
            existingBreak = false;
        }
    }
    if (lineStart <= len) result += line.substr(static_cast<size_t>(lineStart - 1));
    return result;
}
