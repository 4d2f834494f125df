#include "ComObj.h"

#include <cstdio>

#include "ShlObj.h"

const TGUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const TGUID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const TGUID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const TGUID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool operator==(const TGUID& a, const TGUID& b) {
    if (a.D1 != b.D1 || a.D2 != b.D2 || a.D3 != b.D3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.D4[i] != b.D4[i]) return false;
    return true;
}

AnsiString GUIDToString(const TGUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.D1),
                  g.D2, g.D3, g.D4[0], g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
    return buf;
}

TInterfaceRef& TInterfaceRef::operator=(TInterfaceRef&& other) noexcept {
    if (this != &other) {
        Clear();
        raw_ = other.raw_;
        other.raw_ = nullptr;
    }
    return *this;
}

void** TInterfaceRef::Out() {
    Clear();
    return &raw_;
}

void TInterfaceRef::Clear() {
    if (raw_) {
        void* raw = raw_;
        raw_ = nullptr;
        GuiPlatform::Release(raw);
    }
}

AnsiString OleErrorMessage(int32_t code) {
    AnsiString text = GuiPlatform::SystemErrorText(code);
    size_t n = text.size();
    while (n > 0 && (static_cast<unsigned char>(text[n - 1]) <= 32 || text[n - 1] == '.')) --n;
    text.resize(n);
    if (text.empty()) return Format("OLE error %.8x", {static_cast<uint32_t>(code)});
    return text;
}

void OleCheck(int32_t result) {
    if (result < 0) throw EOleSysError(OleErrorMessage(result), result);
}

TInterfaceRef CreateComObject(const TGUID& clsid) {
    TInterfaceRef object;
    OleCheck(
        GuiPlatform::CoCreateInstance(clsid, nullptr, ctxInprocServer | ctxLocalServer, IID_IUnknown, object.Out()));
    return object;
}

TInterfaceRef InterfaceCast(const TInterfaceRef& object, const TGUID& iid) {
    TInterfaceRef result;
    if (!object || GuiPlatform::QueryInterface(object.Get(), iid, result.Out()) < 0 || !result) throw EIntfCastError();
    return result;
}
