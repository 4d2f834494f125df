// The cookie store: any Set-Cookie values, for any of a few hosts; the list
// that goes back to a server never holds a control character, so no cookie
// can add or end a line of a later request.
// Input: Set-Cookie values separated by LF; the first byte of each picks the host.
#include <cstddef>
#include <cstdint>

#include "IdCookieManager.h"
#include "IdURI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString text(reinterpret_cast<const char*>(data), size);
    const AnsiString hosts[] = {"h", "H", "other"};
    TIdCookieManager manager(nullptr);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == AnsiString::npos) end = text.size();
        const AnsiString value = text.substr(start, end - start);
        const AnsiString& host = hosts[(value.empty() ? 0 : static_cast<uint8_t>(value[0])) % 3];
        if (static_cast<uint8_t>(value.empty() ? 0 : value[0]) & 4)
            manager.AddCookie(std::make_unique<TIdCookieRFC2965>(value), host);
        else manager.AddCookie(std::make_unique<TIdCookieRFC2109>(value), host);
        start = end + 1;
    }
    for (const char* url : {"http://h/", "http://other/x"}) {
        const AnsiString list = manager.GenerateCookieList(TIdURI(url));
        for (const char c : list) {
            const auto code = static_cast<unsigned char>(c);
            if (code < 0x20 || code == 0x7F) __builtin_trap();
        }
    }
    return 0;
}
