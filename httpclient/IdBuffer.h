// TIdBuffer: a growable byte buffer with a consumed-prefix offset. Taking
// bytes from the front moves no memory; the unconsumed bytes are moved to
// the front only once 32768 bytes have been consumed, and the buffer empties
// itself when everything has been consumed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TIdBuffer {
public:
    int32_t Size() const { return static_cast<int32_t>(data_.size() - start_); }
    bool Empty() const { return Size() == 0; }
    const uint8_t* Data() const { return data_.data() + start_; }
    void Append(const void* bytes, int32_t count);
    // Removes `count` bytes from the front (raises EIdNotEnoughDataInBuffer
    // when fewer are held) and reports them to OnConsumed.
    void Consume(int32_t count);
    void Extract(void* out, int32_t count);      // copy + Consume
    std::string ExtractString(int32_t count);    // copy + Consume
    void Clear();
    // Position (0-based) of `needle` at or after `from`, or -1.
    int32_t Find(const std::string& needle, int32_t from) const;

    // Read progress: called with the number of bytes every time bytes are taken.
    std::function<void(int32_t)> OnConsumed;

private:
    std::vector<uint8_t> data_;
    size_t start_ = 0;
};
