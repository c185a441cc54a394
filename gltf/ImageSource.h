// Where the glTF export gets the image of a texture.
//
// The exporter asks an ImageSource for the image of each main texture it
// exports, once per texture, and embeds the bytes it gets when they are a PNG
// or JPEG image. The sources live in images/: the files the host found, and
// texture dictionaries.
#pragma once

#include <cstdint>
#include <string>

class BitmapTex;

namespace orvik {

// Image files larger than this are not embedded (the games' largest textures
// are a few MiB).
inline constexpr std::uint64_t kMaxImageBytes = 64u << 20;

// What a source gives for one texture.
struct TextureImage {
    std::string bytes;      // the image file's bytes; empty when there is no image
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
