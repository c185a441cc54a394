#include "app/ModelImages.h"

#include "host/max.h"

#if ORVIK_WITH_TXD
#include "app/TxdImages.h"
#endif

namespace orvik {

#if ORVIK_WITH_TXD

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

bool ModelImages::readsDictionaries() { return true; }

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

void ModelImages::addModelDictionary(const std::string& name, std::vector<std::uint8_t> bytes, std::string& warning)
{
    std::string error;
    if (!dictionaries->add(dictionaryFromBytes(name, std::move(bytes)), error)) warning = error + ", not used";
}

std::vector<std::string> ModelImages::dictionaryPaths() const { return dictionaries->paths(); }

#else

// The 32-bit build reads no dictionaries.
class DictionaryImages {};

ModelImages::ModelImages(const std::string& model, const std::vector<std::string>& bitmapPaths)
    : files(imageFolders(model, bitmapPaths))
{
}

bool ModelImages::readsDictionaries() { return false; }

bool ModelImages::addDictionary(const std::string& path, std::string& error)
{
    error = path + ": texture dictionaries are read by the 64-bit orvik only";
    return false;
}

void ModelImages::addModelDictionary(const std::string&, std::string&) {}

void ModelImages::addModelDictionaryFile(const std::string&, std::string&) {}

void ModelImages::addModelDictionary(const std::string&, std::vector<std::uint8_t>, std::string&) {}

std::vector<std::string> ModelImages::dictionaryPaths() const { return {}; }

#endif

ModelImages::~ModelImages() = default;

}  // namespace orvik
