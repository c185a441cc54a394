// A bounded view of bytes with little-endian loads, for the readers of this
// folder. Every load checks that the view holds it and gives zero otherwise;
// the readers check their blocks with holds() first and say what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace orvik::col {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(data != nullptr ? size : 0) {}

    std::uint64_t size() const { return size_; }
    bool holds(std::uint64_t offset, std::uint64_t length) const { return offset <= size_ && size_ - offset >= length; }
    std::uint64_t left(std::uint64_t offset) const { return offset <= size_ ? size_ - offset : 0; }
    // The part from offset on, at most length bytes.
    Bytes part(std::uint64_t offset, std::uint64_t length) const
    {
        if (offset > size_) return Bytes(nullptr, 0);
        return Bytes(data_ + offset, length < size_ - offset ? length : size_ - offset);
    }

    std::uint8_t u8(std::uint64_t at) const { return holds(at, 1) ? data_[at] : 0; }
    std::int8_t i8(std::uint64_t at) const { return static_cast<std::int8_t>(u8(at)); }
    std::uint16_t u16(std::uint64_t at) const
    {
        return holds(at, 2) ? static_cast<std::uint16_t>(data_[at] | (data_[at + 1] << 8)) : std::uint16_t{0};
    }
    std::int16_t i16(std::uint64_t at) const { return static_cast<std::int16_t>(u16(at)); }
    std::uint32_t u32(std::uint64_t at) const
    {
        if (!holds(at, 4)) return 0;
        return static_cast<std::uint32_t>(data_[at]) | (static_cast<std::uint32_t>(data_[at + 1]) << 8) |
               (static_cast<std::uint32_t>(data_[at + 2]) << 16) | (static_cast<std::uint32_t>(data_[at + 3]) << 24);
    }
    std::int32_t i32(std::uint64_t at) const { return static_cast<std::int32_t>(u32(at)); }
    float f32(std::uint64_t at) const
    {
        const std::uint32_t bits = u32(at);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // A text field of length bytes: up to its first NUL, only what the view holds.
    std::string text(std::uint64_t at, std::uint64_t length) const
    {
        std::string s;
        for (std::uint64_t i = 0; i < length && holds(at + i, 1) && data_[at + i] != 0; ++i)
            s.push_back(static_cast<char>(data_[at + i]));
        return s;
    }
    bool allZero(std::uint64_t from) const
    {
        for (std::uint64_t i = from; i < size_; ++i)
            if (data_[i] != 0) return false;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::uint64_t size_;
};

// "count × size fits in what is left", without multiplying.
constexpr bool countFits(std::uint64_t count, std::uint64_t elementSize, std::uint64_t bytesLeft)
{
    return elementSize == 0 || count <= bytesLeft / elementSize;
}

// 48000 -> "48,000".
std::string grouped(std::uint64_t value);
// "0x1A2B0".
std::string hex(std::uint64_t value);

}  // namespace orvik::col
