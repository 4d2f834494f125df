// The header list and the header fields read from it: lookup, unfolding,
// replacement and folding of lines, and the parsing of a received header
// block (numbers, dates, ranges) into a response's fields.
// Input: header lines separated by LF; the first line also gives a name and
// a value to set.
#include <cstddef>
#include <cstdint>

#include "IdException.h"
#include "IdGlobal.h"
#include "IdHTTPHeaderInfo.h"
#include "IdHeaderList.h"

namespace {

void Touch(const AnsiString& text) {
    if (text.size() > (size_t{1} << 30)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString text(reinterpret_cast<const char*>(data), size);
    TIdResponseHeaderInfo info;
    TIdHeaderList& lines = info.HeaderLines();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == AnsiString::npos) end = text.size();
        lines.Add(text.substr(start, end - start));
        start = end + 1;
    }
    const AnsiString names[] = {"Content-Length", "Content-Range", "Date",       "Expires",          "Last-Modified",
                                "Set-Cookie",     "Location",      "Connection", "Transfer-Encoding"};
    for (const AnsiString& name : names) Touch(lines.HeaderValue(name));
    for (int i = 0; i < lines.Count(); ++i) {
        Touch(lines.NameOfLine(i));
        Touch(lines.ValueOfLine(i));
    }
    TStringList values;
    lines.CollectValues("Set-Cookie", &values);

    // A received block may hold anything: parsing it fails only with the
    // errors a fetch reports.
    try {
        info.ParseHeaderLines();
    } catch (const EConvertError&) {
    } catch (const EIdFailedToRetreiveTimeZoneInfo&) {
    }

    // Replace or add the first line's name with its value, folded at a width
    // taken from the input; the folded pieces join back to the value.
    AnsiString first = lines.Count() > 0 ? lines[0] : AnsiString();
    const AnsiString name = CutToken(first, ":");
    if (!name.empty() && name.find_first_of(AnsiString("\r\n\0 \t", 5)) == AnsiString::npos) {
        lines.SetFoldWidth(size > 1 ? 8 + data[1] : 78);
        lines.SetHeaderValue(name, first);
        Touch(lines.HeaderValue(name));
        lines.SetHeaderValue(name, "");
    }
    for (const AnsiString& piece : lines.FoldHeaderLine(text)) Touch(piece);
    return 0;
}
