#include "images/TxdImages.h"

#include <algorithm>
#include <chrono>

#include "support/FileIo.h"
#include "support/Paths.h"
#include "support/Text.h"
#include "txd/Png.h"

namespace orvik {

bool DictionaryImages::add(const std::string& path, std::string& error)
{
    std::string why;
    std::unique_ptr<LoadedDictionary> d = loadDictionary(path, why);
    if (!d) {
        error = path + ": " + why;
        return false;
    }
    return add(std::move(d), error);
}

bool DictionaryImages::add(std::unique_ptr<LoadedDictionary> loaded, std::string& error)
{
    if (!loaded->dictionary.isDictionary) {
        error = loaded->path + ": not a texture dictionary";
        return false;
    }
    dictionaries.push_back(std::move(loaded));
    return true;
}

std::vector<std::string> DictionaryImages::paths() const
{
    std::vector<std::string> out;
    for (const auto& d : dictionaries) out.push_back(d->path);
    return out;
}

std::string dictionaryBesideModel(const std::string& model)
{
    return siblingWithExtension(model, ".txd");
}

std::string DictionaryImages::addBesideModel(const std::string& model, std::string& warning)
{
    const std::string path = dictionaryBesideModel(model);
    return path.empty() ? "" : addModelDictionary(path, warning);
}

std::string DictionaryImages::addModelDictionary(const std::string& path, std::string& warning)
{
    for (const auto& d : dictionaries) {
        if (sameFile(d->path, path)) return "";
    }
    std::string error;
    if (!add(path, error)) {
        warning = error + ", not used";
        return "";
    }
    return path;
}

std::shared_ptr<const CachedImage> DictionaryImages::make(const LoadedDictionary& d, const txd::Texture& t,
                                                          const std::string& key)
{
    // The dictionary's identity and the name as the lookup compared it.
    const std::string cacheKey = d.identity.empty() || cache == nullptr ? "" : d.identity + "\n" + key;
    if (!cacheKey.empty()) {
        if (auto kept = cache->find(cacheKey)) {
            ++counts.hits;
            return kept;
        }
    }
    auto image = std::make_shared<CachedImage>();
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    // The decoded pixels are made in a buffer the thread keeps for its next
    // texture: a 1024 x 1024 texture's are 4 MB, and memory taken fresh from
    // the system costs a page fault per 4 KB. A buffer over 16 MB is released
    // after its texture. The PNG is written straight into the bytes kept.
    constexpr std::size_t kKept = std::size_t{16} << 20;
    thread_local txd::Image rgba;
    std::string why;
    const bool decoded = txd::decodeLevel0(t, rgba, why);
    const auto t1 = Clock::now();
    counts.decodeSeconds += std::chrono::duration<double>(t1 - t0).count();
    if (std::string png; decoded && txd::encodePng(rgba, png, why)) {
        // The writer keeps the alpha channel exactly when some pixel is not opaque.
        image->hasAlpha = txd::writtenWithAlpha(png);
        image->bytes = std::move(png);
    } else {
        image->problem = why;
    }
    if (decoded) counts.encodeSeconds += std::chrono::duration<double>(Clock::now() - t1).count();
    if (rgba.rgba.capacity() > kKept) rgba.rgba = {};
    ++counts.made;
    if (!cacheKey.empty()) cache->keep(cacheKey, image);
    return image;
}

TextureImage DictionaryImages::imageFor(const std::string& textureName)
{
    const std::string key = asciiLower(textureName);
    if (const auto found = made.find(key); found != made.end()) return found->second;
    TextureImage image;
    image.problem = "no image file found";
    std::string searched;
    for (const auto& d : dictionaries) {
        searched += (searched.empty() ? "" : ", ") + d->path;
        for (const txd::Texture& t : d->dictionary.textures) {
            if (asciiLower(t.name) != key) continue;
            image.origin = d->path + " (texture " + latin1ToUtf8(t.name) + ")";
            const std::shared_ptr<const CachedImage> png = make(*d, t, key);
            if (!png->problem.empty()) {
                image.problem = d->path + ": texture " + latin1ToUtf8(t.name) + ": " + png->problem;
            } else {
                image.bytes = png->bytes;
                image.name = latin1ToUtf8(t.name) + ".png";
                image.problem.clear();
                image.hasAlpha = png->hasAlpha;
            }
            return made[key] = image;
        }
    }
    if (!searched.empty()) image.problem += " and not in " + searched;
    return made[key] = image;
}

}  // namespace orvik
