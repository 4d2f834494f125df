// Exception base, integer conversion and the format routine of the class
// library that the launchers and the HTTP client are written against.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <utility>

// Texts are 8-bit strings in the ANSI code page; they go on the wire byte for byte.
using AnsiString = std::string;

// Root of the error hierarchy. Errors are told apart by class (C++ type, and
// ClassName() for reports), never by message.
class Exception : public std::exception {
public:
    explicit Exception(AnsiString message = {}) : message_(std::move(message)) {}
    const AnsiString& Message() const { return message_; }
    void SetMessage(AnsiString message) { message_ = std::move(message); }
    int32_t HelpContext() const { return 0; }
    virtual const char* ClassName() const { return "Exception"; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    AnsiString message_;
};

// Declares an error class that carries only its message. DefaultMessage is
// the text it is raised with unless the raiser passes another one.
#define KESTRIN_ERROR_CLASS(Name, Base, DefaultMessage)                                  \
    class Name : public Base {                                                           \
    public:                                                                              \
        explicit Name(AnsiString message = DefaultMessage) : Base(std::move(message)) {} \
        const char* ClassName() const override { return #Name; }                         \
    }

KESTRIN_ERROR_CLASS(EConvertError, Exception, "");
KESTRIN_ERROR_CLASS(EOutOfMemory, Exception, "Out of memory");
KESTRIN_ERROR_CLASS(EOutOfResources, Exception, "");
KESTRIN_ERROR_CLASS(EIntfCastError, Exception, "Interface not supported");

// A failed COM call; ErrorCode is the HRESULT.
class EOleSysError : public Exception {
public:
    EOleSysError(AnsiString message, int32_t errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const { return errorCode_; }
    const char* ClassName() const override { return "EOleSysError"; }

private:
    int32_t errorCode_;
};

// Integer conversion used wherever a number is read from text: leading
// spaces, one optional sign, then decimal digits within the 32-bit signed
// range, or hexadecimal digits after "$", "x", "X", "0x" or "0X" that fit in
// 32 bits, taken as a 32-bit pattern. Nothing may follow.
bool TryStrToInt(const AnsiString& text, int32_t& value);
// Strict form: raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const AnsiString& text);
// Lenient form: the default when the text is not an integer.
int32_t StrToIntDef(const AnsiString& text, int32_t defaultValue);

AnsiString IntToStr(int64_t value);
AnsiString UpperCase(AnsiString text);                    // ASCII letters only
bool SameText(const AnsiString& a, const AnsiString& b);  // ASCII, case-blind
// The first `count` characters of both are equal, ASCII letter case aside.
bool SameTextPrefix(const char* a, const char* b, size_t count);
AnsiString Trim(const AnsiString& text);  // removes codes 0..32 at both ends
AnsiString TrimRight(const AnsiString& text);

// One argument of Format: an integer, a text or a pointer.
struct FormatArg {
    enum class Kind { Integer, Text, Pointer };
    FormatArg(int32_t v) : kind(Kind::Integer), integer(v) {}
    FormatArg(uint32_t v) : kind(Kind::Integer), integer(v) {}
    FormatArg(int64_t v) : kind(Kind::Integer), integer(v) {}
    FormatArg(const char* v) : kind(Kind::Text), text(v ? v : "") {}
    FormatArg(AnsiString v) : kind(Kind::Text), text(std::move(v)) {}
    FormatArg(const void* v) : kind(Kind::Pointer), pointer(v) {}
    Kind kind;
    int64_t integer = 0;
    AnsiString text;
    const void* pointer = nullptr;
};

// Fills "%s", "%d", "%x", "%.8x" (upper-case hex, zero-padded to 8), "%p"
// (8 upper-case hex digits) and "%%". An argument of the wrong kind, or a
// missing one, raises EConvertError.
AnsiString Format(const AnsiString& format, std::initializer_list<FormatArg> args);
