// The images of textures from files: the image files the host found, used
// when they lie inside the model's folder or a --bitmap-path folder.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gltf/ImageSource.h"
#include "support/FileIo.h"  // readRegularFile, how image files are read
#include "images/TextureCache.h"

namespace orvik {

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

    // Files read are kept in `cache` (null: none) by their identity and
    // taken from it; the folder check is made for every model all the same.
    TextureCache* cache = nullptr;
    std::size_t filesRead = 0;
    std::size_t cacheHits = 0;

private:
    std::vector<std::string> roots;  // real paths of the folders
    std::uint64_t maxBytes;
    std::map<std::string, TextureImage> files;  // real path -> what reading it gave
};

// The folders an export of model may take images from: the model's folder
// and the bitmap paths.
std::vector<std::string> imageFolders(const std::string& model, const std::vector<std::string>& bitmapPaths);

}  // namespace orvik
