#include "IdBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "IdException.h"

namespace {
constexpr size_t kCompactAt = 32768;  // consumed bytes that allow moving the rest to the front
}

void TIdBuffer::MoveToFront() {
    const size_t size = end_ - start_;
    if (size > 0 && start_ > 0) std::memmove(data_.get(), data_.get() + start_, size);
    start_ = 0;
    end_ = size;
}

uint8_t* TIdBuffer::Room(int32_t count) {
    const size_t want = static_cast<size_t>(std::max(count, 0));
    if (capacity_ - end_ >= want) return data_.get() + end_;
    const size_t size = end_ - start_;
    // Moving the unconsumed bytes is worth it when it frees enough room and
    // moves no more than what was consumed before them.
    if (capacity_ - size >= want && start_ >= size) {
        MoveToFront();
        return data_.get() + end_;
    }
    // Grow geometrically; only the unconsumed bytes are carried over, and
    // the new memory is not cleared since it is about to be written.
    const size_t capacity = std::max({size + want, capacity_ * 2, size_t{4096}});
    std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);
    if (size > 0) std::memcpy(grown.get(), data_.get() + start_, size);
    data_ = std::move(grown);
    capacity_ = capacity;
    start_ = 0;
    end_ = size;
    return data_.get() + end_;
}

void TIdBuffer::Commit(int32_t count) {
    if (count > 0) end_ = std::min(capacity_, end_ + static_cast<size_t>(count));
}

void TIdBuffer::Append(const void* bytes, int32_t count) {
    if (count <= 0) return;
    std::memcpy(Room(count), bytes, static_cast<size_t>(count));
    Commit(count);
}

void TIdBuffer::Consume(int32_t count) {
    if (count <= 0) return;
    if (count > Size()) throw EIdNotEnoughDataInBuffer();
    start_ += static_cast<size_t>(count);
    if (start_ == end_) {
        start_ = end_ = 0;
    } else if (start_ >= kCompactAt && end_ - start_ <= start_) {
        MoveToFront();
    }
    if (OnConsumed) OnConsumed(count);
}

void TIdBuffer::Extract(void* out, int32_t count) {
    if (count <= 0) return;
    if (count > Size()) throw EIdNotEnoughDataInBuffer();
    std::memcpy(out, Data(), static_cast<size_t>(count));
    Consume(count);
}

std::string TIdBuffer::ExtractString(int32_t count) {
    if (count <= 0) return {};
    if (count > Size()) throw EIdNotEnoughDataInBuffer();
    std::string s(reinterpret_cast<const char*>(Data()), static_cast<size_t>(count));
    Consume(count);
    return s;
}

void TIdBuffer::Clear() { start_ = end_ = 0; }

int32_t TIdBuffer::Find(const std::string& needle, int32_t from) const {
    const int32_t size = Size();
    const int32_t n = static_cast<int32_t>(needle.size());
    if (from < 0) from = 0;
    if (n == 0 || from + n > size) return -1;
    const uint8_t* base = Data();
    const uint8_t first = static_cast<uint8_t>(needle[0]);
    for (int32_t i = from; i + n <= size;) {
        const void* hit = std::memchr(base + i, first, static_cast<size_t>(size - n - i + 1));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - base);
        if (std::memcmp(base + i, needle.data(), static_cast<size_t>(n)) == 0) return i;
        ++i;
    }
    return -1;
}
