// TIdBuffer: a growable byte buffer with a consumed-prefix offset. Taking
// bytes from the front moves no memory; the buffer empties itself when
// everything has been consumed, and the unconsumed bytes are moved to the
// front only when that costs no more than what was consumed (once 32768
// bytes have been consumed, or when room is needed at the end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TIdBuffer {
public:
    TIdBuffer() = default;
    TIdBuffer(const TIdBuffer&) = delete;
    TIdBuffer& operator=(const TIdBuffer&) = delete;

    int32_t Size() const { return static_cast<int32_t>(end_ - start_); }
    bool Empty() const { return end_ == start_; }
    const uint8_t* Data() const { return data_.get() + start_; }
    void Append(const void* bytes, int32_t count);
    // Room for `count` more bytes at the end, left uninitialised: the caller
    // fills up to `count` bytes there (a receive, say) and then calls
    // Commit with the number it filled. Append must not run in between.
    uint8_t* Room(int32_t count);
    void Commit(int32_t count);
    // Removes `count` bytes from the front (raises EIdNotEnoughDataInBuffer
    // when fewer are held) and reports them to OnConsumed.
    void Consume(int32_t count);
    void Extract(void* out, int32_t count);    // copy + Consume
    std::string ExtractString(int32_t count);  // copy + Consume
    void Clear();
    // Position (0-based) of `needle` at or after `from`, or -1.
    int32_t Find(const std::string& needle, int32_t from) const;

    // Read progress: called with the number of bytes every time bytes are taken.
    std::function<void(int32_t)> OnConsumed;

private:
    void MoveToFront();

    std::unique_ptr<uint8_t[]> data_;
    size_t capacity_ = 0;
    size_t start_ = 0;  // first unconsumed byte
    size_t end_ = 0;    // one past the last byte held
};
