// String helpers shared by the URL splitter and the socket stack.
#pragma once

#include "../runtime/SysUtils.h"

// Returns the text before the first occurrence of `delimiter` in `input`, or
// the whole input when it does not occur. With `remove`, the input loses the
// returned text and the delimiter (it becomes empty when there was none).
// The case-blind form compares upper-cased copies.
AnsiString CutToken(AnsiString& input, const AnsiString& delimiter, bool remove = true, bool caseSensitive = true);

// Case-blind search of `sub` in `text` backwards, from 1-based position
// min(start, length(text) - length(sub) + 1) down to 1; start -1 means the
// end of the text. Returns the 1-based position, or 0 when not found.
int FindLast(const AnsiString& sub, const AnsiString& text, int start);
