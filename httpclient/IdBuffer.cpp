#include "IdBuffer.h"

#include <cstring>

#include "IdException.h"

namespace {
constexpr size_t kCompactAt = 32768;  // consumed bytes that trigger moving the rest to the front
}

void TIdBuffer::Append(const void* bytes, int32_t count) {
    if (count <= 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    data_.insert(data_.end(), p, p + count);
}

void TIdBuffer::Consume(int32_t count) {
    if (count <= 0) return;
    if (count > Size()) throw EIdNotEnoughDataInBuffer();
    start_ += static_cast<size_t>(count);
    if (start_ == data_.size()) {
        data_.clear();
        start_ = 0;
    } else if (start_ >= kCompactAt) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
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

void TIdBuffer::Clear() {
    data_.clear();
    start_ = 0;
}

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
