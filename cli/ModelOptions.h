// The options `import` and `convert` share, added to both by one function:
// the plug-in, the host's settings, where images come from, the parts left
// out of the glTF export and the animations put into it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace orvik {

struct ModelOptions {
    std::vector<std::string> bitmapPaths;   // --bitmap-path folders, in order
    std::vector<std::string> dictionaries;  // --txd files, in order
    std::vector<std::string> skipParts;     // --skip-parts: "dam", "vlo"
    bool gameView = false;                  // --game-view
    std::vector<std::string> paint;         // --paint: #RRGGBB, primary first
    std::string wheels;                     // --wheels: the model the game view takes a wheel from
    std::string plugin;                     // --plugin ("" for the default)
    std::string ifp;                        // --ifp: the animation package ("" for none)
    std::vector<std::string> animations;    // --animation names (none: every animation of the package)
    bool noProgress = false;
    bool withoutGameMaterial = false;
};

// Adds the shared options to a command; --skip-parts, --game-view and --ifp
// need `gltf` when it is given (import's --gltf).
void addModelOptions(CLI::App& command, ModelOptions& options, CLI::Option* gltf);

// The one-line reason when a --bitmap-path is not a folder ("DIR: --bitmap-path
// is not a folder"), else "".
std::string checkBitmapPaths(const ModelOptions& options);

// The one-line reason when --paint names more colours than a vehicle has,
// else "".
std::string checkPaint(const ModelOptions& options);

// The --paint colours, primary first (each already checked as #RRGGBB).
std::vector<std::array<std::uint8_t, 3>> paintColours(const ModelOptions& options);

// Whether the host draws its progress bar: asked for and standard error a terminal.
bool drawsProgress(const ModelOptions& options);

}  // namespace orvik
