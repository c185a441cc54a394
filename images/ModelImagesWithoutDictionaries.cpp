// The images of a model in a build without texture dictionaries (the 32-bit
// orvik): image files only.
#include "images/ModelImages.h"

namespace orvik {

// The 32-bit build reads no dictionaries.
class DictionaryImages {};

ModelImages::ModelImages(const std::string& model, const std::vector<std::string>& bitmapPaths)
    : files(imageFolders(model, bitmapPaths))
{
}

bool ModelImages::readsDictionaries()
{
    return false;
}

bool ModelImages::addDictionary(const std::string& path, std::string& error)
{
    error = path + ": texture dictionaries are read by the 64-bit orvik only";
    return false;
}

void ModelImages::addModelDictionary(const std::string&, std::string&) {}

void ModelImages::addModelDictionaryFile(const std::string&, std::string&) {}

void ModelImages::addModelDictionary(const std::string&, std::vector<std::uint8_t>, std::string&, const std::string&) {}

std::vector<std::string> ModelImages::dictionaryPaths() const
{
    return {};
}

void ModelImages::useCache(TextureCache* cache)
{
    files.cache = cache;
}

TextureStats ModelImages::textureStats() const
{
    TextureStats stats;
    stats.hits = files.cacheHits;
    stats.read = files.filesRead;
    return stats;
}

ModelImages::~ModelImages() = default;

}  // namespace orvik
