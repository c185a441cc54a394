// Where the glTF export gets the image of a texture.
//
// The exporter asks an ImageSource for the image of each main texture it
// exports, once per texture, and embeds the bytes it gets when they are a PNG
// or JPEG image. The sources live in images/: the files the host found, and
// texture dictionaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class BitmapTex;

namespace orvik {

// Image files larger than this are not embedded (the games' largest textures
// are a few MiB).
inline constexpr std::uint64_t kMaxImageBytes = 64u << 20;

// An image file's bytes, held once and shared by whoever keeps them (the
// texture cache, a source's list of the model's images, the export) instead
// of copied: a large texture's PNG is megabytes, and every copy takes as much
// fresh memory. Never changed once made.
class ImageBytes {
public:
    ImageBytes() = default;
    ImageBytes(std::string bytes)  // NOLINT(google-explicit-constructor): bytes made are bytes held
        : held(bytes.empty() ? nullptr : std::make_shared<const std::string>(std::move(bytes)))
    {
    }
    const std::string& str() const { return held ? *held : none(); }
    const char* data() const { return str().data(); }
    std::size_t size() const { return held ? held->size() : 0; }
    bool empty() const { return size() == 0; }
    friend bool operator==(const ImageBytes& a, const ImageBytes& b) { return a.str() == b.str(); }

private:
    static const std::string& none()
    {
        static const std::string empty;
        return empty;
    }
    std::shared_ptr<const std::string> held;
};

// What a source gives for one texture.
struct TextureImage {
    ImageBytes bytes;       // the image file's bytes; empty when there is no image
    std::string name;       // the glTF image's name (the file name)
    std::string origin;     // where the bytes came from, for the summary (a full path, "x.txd", ...)
    std::string problem;    // why there are no bytes ("no image file found", ...); "" when there are
    bool hasAlpha = false;  // the source knows the image has transparent texels: the material blends
};

class ImageSource {
public:
    virtual ~ImageSource() = default;
    // The image of a texture. Called at most once per texture of an export.
    virtual TextureImage imageFor(const BitmapTex& texture) = 0;
};

}  // namespace orvik
