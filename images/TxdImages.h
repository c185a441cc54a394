// Images for the glTF export from texture dictionaries: a texture whose file
// the host did not find is looked up by name (case-insensitively, as the game
// does) in the dictionaries named with --txd, in order, then in the .txd of
// the model's base name beside it; its level 0 is embedded as PNG.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gltf/ImageSource.h"
#include "images/TextureCache.h"
#include "images/Textures.h"

namespace orvik {

class DictionaryImages {
public:
    // Loads a dictionary named by the user. False with a message
    // ("PATH: not a texture dictionary") when it cannot be used.
    bool add(const std::string& path, std::string& error);
    // The same for a dictionary already loaded.
    bool add(std::unique_ptr<LoadedDictionary> loaded, std::string& error);
    // Loads the dictionary beside the model (its base name + ".txd", any
    // case) unless it is one already added. Returns its path, or "" when
    // there is none; a problem reading it goes to `warning`.
    std::string addBesideModel(const std::string& model, std::string& warning);
    // The same for the model's dictionary found already: its path.
    std::string addModelDictionary(const std::string& path, std::string& warning);

    bool empty() const { return dictionaries.empty(); }
    // The dictionaries loaded, in the order they are searched.
    std::vector<std::string> paths() const;
    // The image of a texture by its name; `problem` says which dictionaries
    // were searched when none holds it.
    TextureImage imageFor(const std::string& textureName);

    // Images made are kept in `cache` (null: none) and taken from it.
    void useCache(TextureCache* c) { cache = c; }
    const TextureStats& stats() const { return counts; }

private:
    // The texture decoded and PNG-encoded, or taken from the cache.
    std::shared_ptr<const CachedImage> make(const LoadedDictionary& d, const txd::Texture& t, const std::string& key);

    TextureCache* cache = nullptr;
    TextureStats counts;
    std::vector<std::unique_ptr<LoadedDictionary>> dictionaries;
    std::map<std::string, TextureImage> made;  // lower-case name -> image
};

// The dictionary beside a model: the entry of the model's folder named as the
// model's base name plus ".txd", compared case-insensitively (the exact
// spelling first); "" when there is none.
std::string dictionaryBesideModel(const std::string& model);

}  // namespace orvik
