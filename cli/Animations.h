// The animations of `--ifp FILE [--animation NAME]...`: the animation
// plug-in (the library of the model plug-in's release and width, beside it),
// the package read once per run through the options its importer publishes,
// the animations chosen; then, per model, each animation applied to the
// imported scene through the importer and its keys read back for the glTF
// export, leaving the scene as the model's import made it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/ModelOptions.h"
#include "cli/Plugin.h"
#include "gltf/GltfExport.h"
#include "host/loader.h"

class IfpImportOptions;

namespace orvik {

// The animation library that goes with a model plug-in: Orvik_<rest> beside
// it becomes OrvikIfp_<rest>; a library of another name takes the default
// one beside orvik.
std::string animationPluginFor(const Invocation& inv, const std::string& modelPlugin);

struct AppliedAnimations {
    std::vector<SceneAnimation> animations;  // applied, in the order chosen
    std::size_t notApplied = 0;              // chosen but matching no bone of the model
};

class AnimationPlugin {
public:
    // Loads the library, reads the package and settles the animations: the
    // names given (compared case-insensitively, taken as the package spells
    // them, each once), else every animation of the package. Throws a
    // Failure (one line, exit status 2) for a library or package that cannot
    // be used and for a name the package does not hold.
    AnimationPlugin(const std::string& library, const ModelOptions& options);
    AnimationPlugin(const AnimationPlugin&) = delete;
    AnimationPlugin& operator=(const AnimationPlugin&) = delete;
    ~AnimationPlugin();

    const std::vector<std::string>& chosen() const { return names; }
    // Where and why a damaged package's reading stopped; "" for a whole one.
    const std::string& damage() const { return packageDamage; }

    // Applies each chosen animation to the current scene's skeleton, reads
    // every keyed node's transforms back and removes the keys again (the
    // scene's import record and animation range as they were).
    AppliedAnimations apply();

private:
    PluginLibrary lib;
    IfpImportOptions* options = nullptr;
    std::string package;
    std::vector<std::string> names;
    std::string packageDamage;
};

// Whether the scene holds a skeleton the animations can move: a skinned mesh.
bool sceneHasSkeleton();

}  // namespace orvik
