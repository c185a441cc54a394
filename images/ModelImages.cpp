#include "images/ModelImages.h"

#include "host/max.h"
#include "images/TxdImages.h"

namespace orvik {

ModelImages::ModelImages(const std::string& model, const std::vector<std::string>& bitmapPaths)
    : files(imageFolders(model, bitmapPaths)), dictionaries(std::make_unique<DictionaryImages>())
{
    files.fallback = [this](const BitmapTex& t) {
        if (dictionaries->empty()) {
            TextureImage none;
            none.problem = "no image file found";
            return none;
        }
        return dictionaries->imageFor(t.GetName());
    };
}

bool ModelImages::readsDictionaries()
{
    return true;
}

bool ModelImages::addDictionary(const std::string& path, std::string& error)
{
    return dictionaries->add(path, error);
}

void ModelImages::addModelDictionary(const std::string& model, std::string& warning)
{
    dictionaries->addBesideModel(model, warning);
}

void ModelImages::addModelDictionaryFile(const std::string& path, std::string& warning)
{
    dictionaries->addModelDictionary(path, warning);
}

void ModelImages::addModelDictionary(const std::string& name, std::vector<std::uint8_t> bytes, std::string& warning,
                                     const std::string& identity)
{
    std::string error;
    if (!dictionaries->add(dictionaryFromBytes(name, std::move(bytes), identity), error))
        warning = error + ", not used";
}

std::vector<std::string> ModelImages::dictionaryPaths() const
{
    return dictionaries->paths();
}

void ModelImages::useCache(TextureCache* cache)
{
    files.cache = cache;
    dictionaries->useCache(cache);
}

TextureStats ModelImages::textureStats() const
{
    TextureStats stats = dictionaries->stats();
    stats.hits += files.cacheHits;
    stats.read = files.filesRead;
    return stats;
}

ModelImages::~ModelImages() = default;

}  // namespace orvik
