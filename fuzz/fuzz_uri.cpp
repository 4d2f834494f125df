// URL splitting and composition, and the two string operations under them.
// Input: a URL text; its first byte also picks the options of composition.
#include <cstddef>
#include <cstdint>

#include "IdException.h"
#include "IdGlobal.h"
#include "IdURI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString text(reinterpret_cast<const char*>(data), size);
    TIdURI uri(text);
    // Every part is readable after any split.
    size_t total = uri.Protocol().size() + uri.Username().size() + uri.Password().size() + uri.Host().size() +
                   uri.Port().size() + uri.Path().size() + uri.Document().size() + uri.Query().size() +
                   uri.Fragment().size();
    (void)total;
    const uint8_t pick = size > 0 ? data[0] : 0;
    TIdURIOptionalFieldsSet options;
    if (pick & 1) options.Include(TIdURIOptionalFields::uoUserInfo);
    if (pick & 2) options.Include(TIdURIOptionalFields::uoFragment);
    try {
        const AnsiString built = uri.BuildURI(options);
        // What was composed splits again, and composes again without error.
        TIdURI again(built);
        again.BuildURI(options);
        (void)uri.URLText();
    } catch (const EIdURIException&) {
        // No protocol or no host: the one failure of composition.
    }

    // CutToken and FindLast over a text and a delimiter taken from it.
    const size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    AnsiString input = text.substr(cut);
    const AnsiString delimiter = text.substr(0, cut % 4);
    AnsiString copy = input;
    const AnsiString token = CutToken(copy, delimiter, (pick & 4) != 0, (pick & 8) != 0);
    if (token.size() > input.size()) __builtin_trap();
    const int start = static_cast<int>(pick) - 128;
    const int at = FindLast(delimiter, input, start);
    // 1-based; an empty text to find matches after the last character.
    if (at < 0 || at > static_cast<int>(input.size()) + 1) __builtin_trap();
    return 0;
}
