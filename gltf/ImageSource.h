// Where the glTF export gets the image of a texture.
//
// The exporter asks an ImageSource for the image of each main texture it
// exports, once per texture, and embeds the bytes it gets when they are a PNG
// or JPEG image. `main` gives the exporter a FileImageSource: the file the
// host found for the texture, used only when it lies inside the model's
// folder or a --bitmap-path folder, read once as a regular file of bounded
// size. Another source (a texture dictionary) plugs in as its `fallback`, asked
// for the textures whose file the host did not find, or replaces it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class BitmapTex;

namespace orvik {

// Image files larger than this are not embedded (the games' largest textures
// are a few MiB).
inline constexpr std::uint64_t kMaxImageBytes = 64u << 20;

// What a source gives for one texture.
struct TextureImage {
    std::string bytes;       // the image file's bytes; empty when there is no image
    std::string name;        // the glTF image's name (the file name)
    std::string origin;      // where the bytes came from, for the summary (a full path, "x.txd", ...)
    std::string problem;     // why there are no bytes ("no image file found", ...); "" when there are
    bool hasAlpha = false;   // the source knows the image has transparent texels: the material blends
};

class ImageSource {
public:
    virtual ~ImageSource() = default;
    // The image of a texture. Called at most once per texture of an export.
    virtual TextureImage imageFor(const BitmapTex& texture) = 0;
};

// The image files the host found for textures (BitmapTex::GetMapName when
// MapFileFound). A file is used only when its real path (`..` and symbolic
// links resolved) lies inside one of the folders; it is opened without
// following a final symbolic link and without blocking, checked on the open
// descriptor to be a regular file of at most maxBytes, and read once however
// many textures name it.
class FileImageSource : public ImageSource {
public:
    // Folders that do not exist are left out.
    explicit FileImageSource(const std::vector<std::string>& folders, std::uint64_t maxBytes = kMaxImageBytes);
    TextureImage imageFor(const BitmapTex& texture) override;

    // Asked for a texture whose file the host did not find; unset, such a
    // texture has "no image file found".
    std::function<TextureImage(const BitmapTex&)> fallback;

private:
    std::vector<std::string> roots;  // real paths of the folders
    std::uint64_t maxBytes;
    std::map<std::string, TextureImage> files;  // real path -> what reading it gave
};

// Reads a whole file as above (no folder check). False with problem set
// ("not a regular file", "file of N bytes is larger than ...", "cannot be
// read: ...") when it cannot.
bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes, std::string& problem);

// The folders an export of model may take images from: the model's folder
// and the bitmap paths.
std::vector<std::string> imageFolders(const std::string& model, const std::vector<std::string>& bitmapPaths);

}  // namespace orvik
