// The options `import` and `convert` share, added to both by one function:
// the plug-in, the host's settings, where images come from and the parts
// left out of the glTF export.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace orvik {

struct ModelOptions {
    std::vector<std::string> bitmapPaths;   // --bitmap-path folders, in order
    std::vector<std::string> dictionaries;  // --txd files, in order
    std::vector<std::string> skipParts;     // --skip-parts: "dam", "vlo"
    bool gameView = false;                  // --game-view: what the game draws (no collision)
    std::string plugin;                     // --plugin ("" for the default)
    bool noProgress = false;
    bool withoutGameMaterial = false;
};

// Adds the shared options to a command; --skip-parts and --game-view need
// `gltf` when it is given (import's --gltf).
void addModelOptions(CLI::App& command, ModelOptions& options, CLI::Option* gltf);

// The one-line reason when a --bitmap-path is not a folder ("DIR: --bitmap-path
// is not a folder"), else "".
std::string checkBitmapPaths(const ModelOptions& options);

// Whether the host draws its progress bar: asked for and standard error a terminal.
bool drawsProgress(const ModelOptions& options);

}  // namespace orvik
