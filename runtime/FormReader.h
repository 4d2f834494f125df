// The text form of a form description, as the class library stores it:
//
//   object Form1: TForm1
//     Caption = 'KESTRIN'
//     Font.Height = -11
//     HTTPOptions = [hoForceEncodeParams]
//     object Label1: TLabel
//       ...
//     end
//   end
//
// Values are integers, quoted texts ('' for a quote, #nn for a character
// code, pieces joined with '+'), identifiers (True, False, enumeration
// values, event handler names) and sets of identifiers in brackets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "SysUtils.h"

KESTRIN_ERROR_CLASS(EReadError, Exception, "");
KESTRIN_ERROR_CLASS(EResNotFound, Exception, "");

struct TFormValue {
    enum class Kind { Integer, String, Identifier, Set };
    Kind kind = Kind::Integer;
    int64_t integer = 0;
    AnsiString text;                // String and Identifier
    std::vector<AnsiString> items;  // Set

    // Each raises EReadError "Invalid property value" for another kind.
    int32_t AsInteger() const;
    const AnsiString& AsString() const;
    const AnsiString& AsIdentifier() const;
    bool AsBoolean() const;  // True / False, in any letter case
    const std::vector<AnsiString>& AsSet() const;
};

// An enumeration value stored as an identifier: its position in `names`
// (letter case ignored). Raises EReadError "Invalid property value" for an
// identifier that is not in the list.
template <class E, size_t N>
E EnumValue(const AnsiString& identifier, const char* const (&names)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (SameText(identifier, names[i])) return static_cast<E>(i);
    throw EReadError("Invalid property value");
}

struct TFormObject {
    AnsiString name;
    AnsiString className;
    int line = 0;
    std::vector<std::pair<AnsiString, TFormValue>> properties;  // in the order stored
    std::vector<TFormObject> children;                          // in the order stored
};

// Parses one object with its nested objects; raises EReadError with the
// line of the first fault.
TFormObject ParseFormText(const AnsiString& text);
