// Little-endian loads and stores on bytes of a file buffer, assembled byte by
// byte so that no pointer into the buffer is ever cast to a wider type.
// Header only and standard library only: every format reader (dff/, txd/,
// img/) uses these.
#pragma once

#include <cstdint>
#include <cstring>

inline std::uint16_t loadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t loadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t loadI32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(loadU32(p));
}
inline float loadF32(const std::uint8_t* p)
{
    const std::uint32_t bits = loadU32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline void storeI32(std::uint8_t* p, std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16), p[3] = static_cast<std::uint8_t>(v >> 24);
}
