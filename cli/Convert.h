// `orvik convert INPUT... --out DIR`: many models in one command. Each input
// is a model file, a folder (searched recursively for .dff, any case) or an
// IMG archive (its .dff members, read by offsets). Every model is imported
// into a fresh scene by one of N worker processes and written under DIR with
// its relative path kept (archive members under a folder named after the
// archive) as glTF, with the scene dump beside it on request. A model that
// holds no collision gets the entry of its name from a .col file in its
// folder or archive.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/ModelOptions.h"
#include "cli/Plugin.h"

class PluginLibrary;

namespace orvik {

class AnimationPlugin;

struct ConvertOptions {
    std::vector<std::string> inputs;
    std::string outDir;
    bool gltfText = false;  // .gltf + .bin instead of .glb
    bool glb = false;       // --glb, the default said
    bool json = false;      // the scene dump beside each model
    unsigned workers = 0;   // 0: the number of cores
    std::string report;     // --report FILE ("" for none)
    bool progress = false;  // draw the progress bar (standard error is a terminal)
    ModelOptions shared;    // the plug-in, images and parts, for every model
};

CLI::App* addConvertCommand(CLI::App& app, ConvertOptions& options);

// Exit status: 0 when every model converted, 4 when some failed, 2 for a
// usage error (an input that does not exist or cannot be read, no model
// found, an output folder that cannot be made); one line on err then.
// With animations, they go into the export of every model with a skeleton.
int runConvert(PluginLibrary& lib, const ConvertOptions& options, std::ostream& out, std::ostream& err,
               AnimationPlugin* animations = nullptr);

// Loads the plug-in (as `import` does), and the animation plug-in and the
// package for --ifp, and runs the conversion on the standard streams.
int runConvertCommand(const Invocation& inv, ConvertOptions& options);

}  // namespace orvik
