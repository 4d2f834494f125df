// TIdHeaderList: a block of header lines "Name: value", one per entry,
// without line ends. Lookups ignore the letter case of names; long lines are
// folded into continuation lines on write and joined again on read.
#pragma once

#include <cstdint>
#include <vector>

#include "../runtime/Classes.h"

class TIdHeaderList : public TStringList {
public:
    TIdHeaderList() = default;

    const AnsiString& ValueSeparator() const { return valueSeparator_; }
    void SetValueSeparator(const AnsiString& v) { valueSeparator_ = v; }
    bool MatchCase() const { return matchCase_; }
    void SetMatchCase(bool v) { matchCase_ = v; }
    bool JoinFoldedLines() const { return joinFoldedLines_; }
    void SetJoinFoldedLines(bool v) { joinFoldedLines_ = v; }
    bool FoldLongLines() const { return foldLongLines_; }
    void SetFoldLongLines(bool v) { foldLongLines_ = v; }
    int32_t FoldWidth() const { return foldWidth_; }
    void SetFoldWidth(int32_t v) { foldWidth_ = v; }

    // Index of the first line with that name (case-blind), or -1.
    int HeaderIndex(const AnsiString& name) const;
    AnsiString HeaderValue(const AnsiString& name) const;
    // Replaces the first line of that name in place (folded when long), or
    // appends one; an empty value deletes the first line of that name.
    void SetHeaderValue(const AnsiString& name, const AnsiString& value);
    // Appends the value of every line with that name, in order.
    void CollectValues(const AnsiString& name, TStringList* values) const;
    AnsiString NameOfLine(int index) const;
    AnsiString ValueOfLine(int index) const;
    std::vector<AnsiString> FoldHeaderLine(const AnsiString& line) const;
    void RemoveContinuationLines(int index);

private:
    AnsiString NameSeparator() const;

    AnsiString valueSeparator_ = ": ";
    bool matchCase_ = false;
    bool joinFoldedLines_ = true;
    bool foldLongLines_ = true;
    int32_t foldWidth_ = 78;
};

// Breaks `line` after the last break character (outside double quotes)
// before the column limit, inserting `breakText`; a break text already in
// the line starts a new piece. Used for header folding.
AnsiString WrapHeaderText(const AnsiString& line, const AnsiString& breakText, const AnsiString& breakChars,
                          int32_t maxColumn);
