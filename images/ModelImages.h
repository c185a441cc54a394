// The images a glTF export of one model takes, the same for `orvik import
// --gltf` and for each model of `orvik convert`: the image files the host
// found, used when they lie inside the model's folder or a bitmap path; for
// a texture without one, its image from the texture dictionaries: those
// named with --txd in order, then the model's own (the .txd of its base name
// beside it, or the member of that name in its archive).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "images/FileImages.h"

namespace orvik {

class DictionaryImages;

class ModelImages {
public:
    // model: the model file, or for an archive member ARCHIVE/NAME (whose
    // folder, an archive, holds no image files).
    ModelImages(const std::string& model, const std::vector<std::string>& bitmapPaths);
    ~ModelImages();
    ModelImages(const ModelImages&) = delete;
    ModelImages& operator=(const ModelImages&) = delete;

    // Whether dictionaries can be read by this build (the 64-bit one).
    static bool readsDictionaries();

    // A dictionary named by the user. False with a message ("PATH: not a
    // texture dictionary") when it cannot be used.
    bool addDictionary(const std::string& path, std::string& error);
    // The model's own dictionary beside it, when there is one; a problem
    // reading it goes to warning, and it is not used.
    void addModelDictionary(const std::string& model, std::string& warning);
    // The same for the model's dictionary found already, by its path.
    void addModelDictionaryFile(const std::string& path, std::string& warning);
    // The model's own dictionary from memory (an archive member), named as
    // messages should name it, with its identity for the cache (see
    // LoadedDictionary); one that is no dictionary goes to warning.
    void addModelDictionary(const std::string& name, std::vector<std::uint8_t> bytes, std::string& warning,
                            const std::string& identity = "");

    // The dictionaries loaded, in the order they are searched (files the
    // outputs must not replace).
    std::vector<std::string> dictionaryPaths() const;

    // Images are kept in `cache` for the next model and taken from it
    // (a batch worker's; none unless set).
    void useCache(TextureCache* cache);
    // The dictionary textures made and the images taken from the cache.
    TextureStats textureStats() const;

    // What the exporter asks.
    ImageSource& source() { return files; }

private:
    FileImageSource files;
    std::unique_ptr<DictionaryImages> dictionaries;
};

}  // namespace orvik
