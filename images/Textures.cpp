#include "images/Textures.h"

#include <cerrno>

#include "support/FileIo.h"
#include "images/TextureCache.h"
#include "support/Text.h"

namespace orvik {

std::unique_ptr<LoadedDictionary> loadDictionary(const std::string& path, std::string& why)
{
    RegularFile file;
    if (!file.open(path, Links::follow, why)) {
        if (why == "cannot be read: " + errorText(ENOENT)) why = "no such file";
        if (why == "not a regular file (a folder)") why = "is a folder, not a texture dictionary";
        return nullptr;
    }
    if (file.size() > kMaxDictionarySize) {
        why = "is larger than " + std::to_string(kMaxDictionarySize >> 20) + " MiB";
        return nullptr;
    }
    std::vector<std::uint8_t> bytes;
    if (!file.readAll(bytes, why)) return nullptr;
    struct stat st {};
    const std::string identity = ::fstat(file.fd(), &st) == 0 ? "file " + fileIdentity(st) : "";
    return dictionaryFromBytes(path, std::move(bytes), identity);
}

std::unique_ptr<LoadedDictionary> dictionaryFromBytes(const std::string& name, std::vector<std::uint8_t> bytes,
                                                      const std::string& identity)
{
    auto loaded = std::make_unique<LoadedDictionary>();
    loaded->path = name;
    loaded->identity = identity;
    loaded->bytes = std::move(bytes);
    loaded->dictionary = txd::readDictionary(loaded->bytes);
    return loaded;
}

std::string pngFileName(const std::string& textureName, std::set<std::string>& taken)
{
    std::string base;
    for (const char c : latin1ToUtf8(textureName)) {
        const auto u = static_cast<unsigned char>(c);
        const bool unsafe = c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7F || (base.empty() && c == '.');
        base += unsafe ? '_' : c;
    }
    if (base.empty()) base = "texture";
    std::string name = base + ".png";
    for (int n = 2; taken.count(asciiLower(name)) != 0; ++n) {
        name = base + "_" + std::to_string(n) + ".png";
    }
    taken.insert(asciiLower(name));
    return name;
}

}  // namespace orvik
