// Texture dictionaries in the command-line host: reading a dictionary file,
// naming the PNG files extracted from it, and finding a texture by name
// across several dictionaries.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "txd/Decode.h"
#include "txd/Dictionary.h"

namespace orvik {

// Largest dictionary file read (the reader keeps offsets in memory).
inline constexpr std::uint64_t kMaxDictionarySize = std::uint64_t{1} << 30;

// A dictionary file held in memory with what was read from it. The textures
// point into `bytes`, so it is neither copied nor moved once loaded.
struct LoadedDictionary {
    std::string path;
    // Where the bytes came from, for the texture cache's keys ("file
    // IDENTITY", "member IDENTITY@OFFSET+SIZE"); "" for bytes of unknown
    // origin, whose textures are not kept.
    std::string identity;
    std::vector<std::uint8_t> bytes;
    txd::Dictionary dictionary;
};

// Reads and parses a dictionary file: a regular file of at most
// kMaxDictionarySize bytes. Returns null with the reason ("not a regular
// file", "cannot be read: ...") when it cannot be read; a file that is no
// dictionary comes back with `dictionary.isDictionary` false.
std::unique_ptr<LoadedDictionary> loadDictionary(const std::string& path, std::string& why);

// A dictionary already in memory (an archive member), named as messages name
// it; parsed as loadDictionary parses a file.
std::unique_ptr<LoadedDictionary> dictionaryFromBytes(const std::string& name, std::vector<std::uint8_t> bytes,
                                                      const std::string& identity = "");

// A file name for a texture: the name with every character that could leave
// the folder or upset a file system ('/', '\\', ':', control characters, a
// leading '.') replaced by '_', "texture" when nothing is left, then ".png";
// names already in `taken` (compared case-insensitively, as the game compares
// texture names) get a suffix "_2", "_3", ... The result is added to `taken`.
std::string pngFileName(const std::string& textureName, std::set<std::string>& taken);

}  // namespace orvik
