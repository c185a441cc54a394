// Images kept for the next model that uses the same texture: a dictionary's
// texture decoded and PNG-encoded once, an image file read once, however
// many models of a batch name it (every car with the game's shared vehicle
// dictionary, the models of a folder with the dictionary beside them).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "gltf/ImageSource.h"

namespace orvik {

// What a batch worker keeps at most: images and their keys, in bytes.
inline constexpr std::size_t kTextureCacheBytes = std::size_t{64} << 20;

// An image as made from its source, before it is named for one model.
struct CachedImage {
    ImageBytes bytes;  // PNG or the image file's bytes; empty when it could not be made
    bool hasAlpha = false;
    std::string problem;  // why it could not be made (decoding or encoding), without the source's name
};

// Where the textures' time went and what the cache saved, per model.
struct TextureStats {
    std::size_t made = 0;  // dictionary textures decoded and encoded
    std::size_t read = 0;  // image files read
    std::size_t hits = 0;  // images taken from the cache
    double decodeSeconds = 0;
    double encodeSeconds = 0;
};

// Keyed by the identity of the image's source (the dictionary's or the
// file's device, inode, size and modification time, or the archive member's
// place in such a file) and the texture's name, so a file changed between
// two models is made afresh. At most maxBytes (each image's bytes, its
// problem text and its key) are held: keeping an image past the bound drops
// the least recently used ones first; one larger than the bound is not kept.
// Dropped images are made again when asked for.
class TextureCache {
public:
    explicit TextureCache(std::size_t maxBytes = kTextureCacheBytes) : limit(maxBytes) {}

    // The image kept under key, now the most recently used; null when none is.
    std::shared_ptr<const CachedImage> find(const std::string& key);
    void keep(const std::string& key, std::shared_ptr<const CachedImage> image);

    // Whether an image is kept under key, leaving the order as it is.
    bool holds(const std::string& key) const { return index.count(key) != 0; }
    std::size_t bytes() const { return held; }
    std::size_t size() const { return index.size(); }
    std::size_t dropped() const { return droppedCount; }

private:
    using Entry = std::pair<std::string, std::shared_ptr<const CachedImage>>;
    static std::size_t cost(const Entry& e);

    std::size_t limit;
    std::size_t held = 0;
    std::size_t droppedCount = 0;
    std::list<Entry> order;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index;
};

// A file's identity for the keys: "device:inode:size:modification time".
std::string fileIdentity(const struct stat& st);

}  // namespace orvik
