// One model through the host, the same for `orvik import` and for each model
// of `orvik convert`: its images gathered (image files, the --txd
// dictionaries, then its own), imported into a fresh scene, the --ifp
// animations applied to its skeleton and read back, the log scanned,
// exported to glTF and dumped in memory, and the outputs committed together
// (none is replaced unless all can be written, and none may replace an
// input: the model, a texture file or a dictionary).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/ModelOptions.h"
#include "col/Collision.h"
#include "gltf/GltfExport.h"
#include "images/ModelImages.h"
#include "support/Output.h"

class PluginLibrary;
class Scene;

namespace orvik {

class AnimationPlugin;

struct LoggedProblem {
    bool error = false;  // an error, else a warning
    std::string text;    // as the plug-in logged it (8-bit text)
};

struct ModelJobOutcome {
    bool imported = false;  // the plug-in ran the import
    bool built = false;     // and the scene holds nodes
    std::string failure;    // why the model's outputs were not made; "" when they were (or none was asked for)
    std::vector<LoggedProblem> logged;  // the log's warnings and errors, in order
    std::string imageWarning;           // the model's own dictionary could not be used
    GltfExportReport report;
    bool noSkeleton = false;               // animations were asked for and the model has no skinned mesh
    std::size_t animationsApplied = 0;     // animations exported with the model
    std::size_t animationsNotApplied = 0;  // matching no bone of the model
    std::vector<std::string> outputs;      // the files committed, in order
    double importSeconds = 0;
    double exportSeconds = 0;    // the glTF document and buffers, images apart
    double texturesSeconds = 0;  // reading dictionaries, finding, decoding and encoding images
    double writeSeconds = 0;
    TextureStats textures;  // decoding and encoding among the textures' time, and the cache's hits

    // Why an import that built nothing built nothing, as the plug-in logged
    // it: its first warning or error, "" when it logged none.
    std::string loggedReason() const { return logged.empty() ? "" : logged.front().text; }
};

// Whether binPath is the buffer of the glTF file already at gltfPath: the
// file there is a glTF document of bounded size, read without following a
// link, one of whose buffers refers to binPath. Only then may an export
// replace a .bin that the user did not name: the pair was written together.
bool bufferBelongsToGltf(const std::string& gltfPath, const std::string& binPath);

// The --wheels model, read once for the run: imported into a scene of its
// own that the run keeps while the other models come and go. It must be
// dropped before the plug-in library is closed.
struct WheelModel {
    std::unique_ptr<Scene> scene;
    BorrowedWheel wheel;
    ~WheelModel();
};

// Reads options.wheels into wheels when it is given: false with the
// one-line reason when it cannot be read or holds no wheel.
bool loadWheelModel(PluginLibrary& lib, const ModelOptions& options, WheelModel& wheels, std::string& error);

class ModelJob {
public:
    // file: what the plug-in opens; knownAs: how the model is named (its
    // path, or ARCHIVE/MEMBER for an archive member in a memory file).
    ModelJob(std::string file, std::string knownAs, const ModelOptions& options);

    std::string dump;  // the scene dump's target, "" for none
    std::string gltf;  // the glTF target (.glb or .gltf), "" for none
    std::string bin;   // a .gltf's buffer file, "" for the one beside it
    bool drawProgress = false;
    bool printScriptErrors = true;
    // The game view's wheel for models that store none (null: generated).
    const BorrowedWheel* wheels = nullptr;
    // The --ifp animations, applied to the model when it has a skeleton.
    AnimationPlugin* animations = nullptr;
    // Adds the model's own dictionary (with a warning when it cannot be
    // used); called when the images are gathered for a glTF export.
    std::function<void(ModelImages&, std::string& warning)> ownDictionary;
    // Gives a collision entry for a model whose import built none; it is
    // built under the scene's first top-level node as the plug-in builds a
    // model's own. False when there is none.
    std::function<bool(col::Model& entry)> collisionIfNone;
    // Runs after a successful import, before the outputs are checked (the
    // folders they go to are made here); false with a reason fails the job.
    std::function<bool(std::string& why)> beforeWrite;

    // Reads the --txd dictionaries and the model's own: false with the
    // message when a --txd dictionary cannot be used. run() does it when it
    // was not done before.
    bool gatherImages(std::string& error);
    // Images are kept in `cache` for the next model and taken from it.
    void useCache(TextureCache* cache) { images.useCache(cache); }

    // Everything else. The scene stays current for the caller to print.
    ModelJobOutcome run(PluginLibrary& lib);

    // The files the outputs must not replace: the model, the dictionaries
    // loaded and, after the import, the image files found.
    std::vector<ProtectedFile> inputs() const;

private:
    std::string file;
    std::string knownAs;
    const ModelOptions& options;
    ModelImages images;
    bool gathered = false;
    std::string imageWarning;
    double gatherSeconds = 0;
};

}  // namespace orvik
