// Test-only writer of IMG archives, version 1 (.dir + .img) and version 2
// (VER2). Members are laid out one after the other from the first whole
// sector after the index, each padded with zeros to a whole sector. Every
// field the index stores can be made to lie in one place: a member's offset,
// its size and its raw 24 name bytes, and the version 2 entry count.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace imgw {

struct Member {
    Member(std::string n, std::vector<unsigned char> b, std::optional<std::uint32_t> offset = std::nullopt,
           std::optional<std::uint32_t> size = std::nullopt)
        : name(std::move(n)), bytes(std::move(b)), offsetSectors(offset), sizeSectors(size)
    {
    }

    std::string name;
    std::vector<unsigned char> bytes;
    std::optional<std::uint32_t> offsetSectors;   // written instead of the true offset
    std::optional<std::uint32_t> sizeSectors;     // written instead of the true size
    std::optional<std::array<char, 24>> rawName;  // written instead of the NUL-padded name
    // Version 2: the size goes into the second size word (size in the
    // archive) with the streaming size 0, as some tools write it.
    bool sizeInArchiveWord = false;
};

struct V1Archive {
    std::vector<unsigned char> dir;
    std::vector<unsigned char> img;
};

V1Archive writeV1(const std::vector<Member>& members);
std::vector<unsigned char> writeV2(const std::vector<Member>& members,
                                   std::optional<std::uint32_t> countOverride = std::nullopt);

// Reads a whole file; empty when it cannot be read.
std::vector<unsigned char> readFile(const std::string& path);
// Writes bytes to a file; false when it cannot.
bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace imgw
