// A small set of enumeration values held in one byte, for option sets such
// as TIdHTTPOptions.
#pragma once

#include <cstdint>
#include <initializer_list>

template <class E>
class TIdSet {
public:
    constexpr TIdSet() = default;
    constexpr TIdSet(std::initializer_list<E> values) {
        for (E v : values) bits_ = static_cast<uint8_t>(bits_ | Bit(v));
    }
    constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
    void Include(E v) { bits_ = static_cast<uint8_t>(bits_ | Bit(v)); }
    void Exclude(E v) { bits_ = static_cast<uint8_t>(bits_ & ~Bit(v)); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint8_t Bits() const { return bits_; }
    friend constexpr bool operator==(TIdSet a, TIdSet b) { return a.bits_ == b.bits_; }
    friend constexpr bool operator!=(TIdSet a, TIdSet b) { return a.bits_ != b.bits_; }

private:
    static constexpr uint8_t Bit(E v) { return static_cast<uint8_t>(1u << static_cast<unsigned>(v)); }
    uint8_t bits_ = 0;
};
