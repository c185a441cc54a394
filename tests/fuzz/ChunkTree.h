// The chunk tree of an undamaged file, as the damage tests see it: every
// chunk header with its depth, and whether its body holds child chunks. A
// body counts as children when it is exactly a run of well-formed chunks with
// known stamps; struct and string bodies are always data. The walk of the
// top level stops at the first header that is not a chunk's.
#pragma once

#include <cstdint>
#include <vector>

namespace chunks {

constexpr std::uint32_t kHeader = 12;

inline std::uint32_t load32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline void store32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline bool knownStamp(std::uint32_t s)
{
    return s == 0x310 || s == 0x3FFFF || s == 0x800FFFF || s == 0xC02FFFF || s == 0x1003FFFF || s == 0x1803FFFF;
}

struct Span {
    std::uint32_t offset = 0;  // of the header
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::uint32_t depth = 0;
    bool leaf = true;  // the body is data, not child chunks
    std::uint32_t body() const { return offset + kHeader; }
    std::uint32_t end() const { return offset + kHeader + size; }
};

inline bool holdsChunks(const std::vector<std::uint8_t>& b, std::uint32_t from, std::uint32_t to)
{
    if (from == to) return false;
    while (from < to) {
        if (to - from < kHeader) return false;
        const std::uint32_t size = load32(b, from + 4);
        if (!knownStamp(load32(b, from + 8)) || size > to - from - kHeader) return false;
        from += kHeader + size;
    }
    return true;
}

inline void walk(const std::vector<std::uint8_t>& b, std::uint32_t from, std::uint32_t to, std::uint32_t depth,
                 std::vector<Span>& out)
{
    while (to - from >= kHeader) {
        Span s{from, load32(b, from), load32(b, from + 4), depth, true};
        // What follows a header with an unknown stamp or a size past its
        // parent is not chunks (zero padding at the end of a file, say).
        if (!knownStamp(load32(b, from + 8)) || s.size > to - from - kHeader) return;
        const bool container = s.type != 1 && s.type != 2 && holdsChunks(b, s.body(), s.end());
        s.leaf = !container;
        out.push_back(s);
        if (container) walk(b, s.body(), s.end(), depth + 1, out);
        from = s.end();
    }
}

inline std::vector<Span> chunkTree(const std::vector<std::uint8_t>& b)
{
    std::vector<Span> spans;
    walk(b, 0, static_cast<std::uint32_t>(b.size()), 0, spans);
    return spans;
}

}  // namespace chunks
