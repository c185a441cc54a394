#include "images/FileImages.h"

#include <filesystem>

#include "support/FileIo.h"
#include "support/Paths.h"
#include "support/Text.h"
#include "host/mtl.h"

namespace fs = std::filesystem;

namespace orvik {
namespace {

// Whether path lies inside folder (both real paths), component by component.
bool inside(const fs::path& path, const fs::path& folder)
{
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (f->empty()) continue;  // the trailing "" of "/a/b/"
        if (p == path.end() || *p != *f) return false;
    }
    return p != path.end();
}

}  // namespace

std::vector<std::string> imageFolders(const std::string& model, const std::vector<std::string>& bitmapPaths)
{
    const fs::path folder = fs::path(model).parent_path();
    std::vector<std::string> folders{folder.empty() ? std::string(".") : folder.string()};
    folders.insert(folders.end(), bitmapPaths.begin(), bitmapPaths.end());
    return folders;
}

FileImageSource::FileImageSource(const std::vector<std::string>& folders, std::uint64_t max) : maxBytes(max)
{
    for (const std::string& f : folders) {
        std::error_code ec;
        const fs::path real = fs::canonical(f.empty() ? fs::path(".") : fs::path(f), ec);
        if (!ec) roots.push_back(real.string());
    }
}

TextureImage FileImageSource::imageFor(const BitmapTex& texture)
{
    const MCHAR* mapName = texture.GetMapName();
    if (!texture.MapFileFound() || mapName == nullptr || *mapName == '\0') {
        if (fallback) return fallback(texture);
        return TextureImage{{}, {}, {}, "no image file found", false};
    }
    std::error_code ec;
    const fs::path real = fs::canonical(mapName, ec);
    if (ec) return TextureImage{{}, {}, mapName, "cannot be read: " + errorText(ec.value()), false};
    const std::string key = real.string();
    if (const auto found = files.find(key); found != files.end()) return found->second;

    TextureImage image;
    image.origin = key;
    image.name = fileNameOf(key);
    bool allowed = false;
    for (const std::string& root : roots) allowed = allowed || inside(real, root);
    struct stat st {};
    const std::string cacheKey = allowed && cache != nullptr && ::stat(key.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                                     ? "image " + fileIdentity(st)
                                     : "";
    std::shared_ptr<const CachedImage> kept = cacheKey.empty() ? nullptr : cache->find(cacheKey);
    if (!allowed) {
        image.problem = "found outside the model's folders";
    } else if (kept) {
        image.bytes = kept->bytes;
        ++cacheHits;
    } else if (std::string bytes; ++filesRead, !readRegularFile(key, maxBytes, bytes, image.problem)) {
        image.problem = key + ": " + image.problem;
    } else {
        image.bytes = std::move(bytes);
        if (!cacheKey.empty()) cache->keep(cacheKey, std::make_shared<CachedImage>(CachedImage{image.bytes, false, ""}));
    }
    files.emplace(key, image);
    return image;
}

}  // namespace orvik
