// COM helpers of the class library: the identifiers the launchers use, a
// counted interface reference that releases itself, object creation and
// interface casts that raise the class library's errors.
#pragma once

#include <cstdint>

#include "GuiPlatform.h"
#include "SysUtils.h"

extern const TGUID IID_IUnknown;
extern const TGUID CLSID_ShellLink;
extern const TGUID IID_IShellLinkA;
extern const TGUID IID_IPersistFile;

// Class contexts.
enum : uint32_t { ctxInprocServer = 1, ctxLocalServer = 4 };

// Owns one reference to one interface of a COM object and releases it when
// it goes (or when Out() hands its slot to a call that fills it anew).
class TInterfaceRef {
public:
    TInterfaceRef() = default;
    ~TInterfaceRef() { Clear(); }
    TInterfaceRef(TInterfaceRef&& other) noexcept : raw_(other.raw_) { other.raw_ = nullptr; }
    TInterfaceRef& operator=(TInterfaceRef&& other) noexcept;
    TInterfaceRef(const TInterfaceRef&) = delete;
    TInterfaceRef& operator=(const TInterfaceRef&) = delete;

    void* Get() const { return raw_; }
    explicit operator bool() const { return raw_ != nullptr; }
    // Releases the held reference and gives the slot for an out-parameter.
    void** Out();
    void Clear();

private:
    void* raw_ = nullptr;
};

// The system's text for `code` without trailing blanks, control characters
// and full stops; "OLE error XXXXXXXX" when the system has no text.
AnsiString OleErrorMessage(int32_t code);
// Raises EOleSysError for a failure code (top bit set).
void OleCheck(int32_t result);
// Creates an object of the class, in process or local server, asking for
// IUnknown. Raises EOleSysError.
TInterfaceRef CreateComObject(const TGUID& clsid);
// Another interface of the same object; raises EIntfCastError when the
// object does not support it.
TInterfaceRef InterfaceCast(const TInterfaceRef& object, const TGUID& iid);
