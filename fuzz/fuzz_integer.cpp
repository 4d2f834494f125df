// Integer conversion from text: the three forms agree on every input, and a
// text that converts converts back to itself when it is plain decimal.
#include <cstddef>
#include <cstdint>

#include "../runtime/SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString text(reinterpret_cast<const char*>(data), size);
    int32_t value = 0;
    const bool ok = TryStrToInt(text, value);
    if (StrToIntDef(text, ok ? value ^ 1 : 12345) != (ok ? value : 12345)) __builtin_trap();
    try {
        const int32_t strict = StrToInt(text);
        if (!ok || strict != value) __builtin_trap();
    } catch (const EConvertError& e) {
        if (ok) __builtin_trap();
        if (e.Message() != "'" + text + "' is not a valid integer value") __builtin_trap();
    }
    // IntToStr gives a text that converts back to the same value.
    if (ok) {
        int32_t back = 0;
        if (!TryStrToInt(IntToStr(value), back) || back != value) __builtin_trap();
    }
    return 0;
}
