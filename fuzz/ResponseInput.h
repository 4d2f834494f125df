// The input layout both response targets share: byte 0 picks the mode, byte 1
// where a stream of two answers splits (mode bit 0), the rest is what the
// server sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The server's answers, one per connection or request: the whole stream, or
// the stream split in two where byte 1 says.
inline std::vector<std::string> AnswersOf(const uint8_t* data, size_t size) {
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    if (!(data[0] & 1)) return {rest};
    const size_t split = rest.size() * data[1] / 256;
    return {rest.substr(0, split), rest.substr(split)};
}
