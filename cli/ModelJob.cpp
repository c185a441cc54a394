#include "cli/ModelJob.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli/Animations.h"
#include "cli/ColCommand.h"
#include "host/dump.h"
#include "host/loader.h"
#include "host/log.h"
#include "host/max.h"
#include "host/mtl.h"
#include "host/scene.h"
#include "support/FileIo.h"
#include "support/Files.h"

namespace orvik {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Counts the time the export spends getting images (dictionary decoding and
// PNG encoding among it).
class TimedImages : public ImageSource {
public:
    explicit TimedImages(ImageSource& source) : inner(source) {}
    TextureImage imageFor(const BitmapTex& texture) override
    {
        const auto t0 = Clock::now();
        TextureImage image = inner.imageFor(texture);
        seconds += secondsSince(t0);
        return image;
    }
    double seconds = 0;

private:
    ImageSource& inner;
};

}  // namespace

bool bufferBelongsToGltf(const std::string& gltfPath, const std::string& binPath)
{
    constexpr std::uint64_t kMaxDocument = 64u << 20;
    std::string text;
    std::string ignored;
    if (!readRegularFile(gltfPath, kMaxDocument, text, ignored)) return false;
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("buffers") || !doc["buffers"].is_array()) return false;
    const std::string uri = gltfBinUri(gltfPath, binPath);
    for (const nlohmann::json& buffer : doc["buffers"]) {
        if (buffer.is_object() && buffer.contains("uri") && buffer["uri"] == uri) return true;
    }
    return false;
}

WheelModel::~WheelModel() = default;

bool loadWheelModel(PluginLibrary& lib, const ModelOptions& options, WheelModel& wheels, std::string& error)
{
    if (options.wheels.empty()) return true;
    const std::string& file = options.wheels;
    std::string why = checkModelFile(file);
    if (why.empty()) {
        HostOptions host;
        host.bitmapPaths = options.bitmapPaths;
        host.withoutGameMaterial = options.withoutGameMaterial;
        host.printScriptErrors = false;
        resetScene(host);
        const ImportOutcome outcome = runImport(lib, file);
        if (!outcome.ran) {
            why = outcome.error.empty() ? std::string("the plug-in did not import it") : outcome.error;
        } else if (currentScene().nodes.empty()) {
            why = "the file held no model that could be read";
        }
        wheels.scene = takeScene();
        wheels.wheel.file = file;
        if (why.empty()) why = findWheel(*wheels.scene, wheels.wheel);
    }
    if (why.empty()) return true;
    wheels.scene.reset();
    error = file + ": --wheels: " + why;
    return false;
}

ModelJob::ModelJob(std::string modelFile, std::string name, const ModelOptions& o)
    : file(std::move(modelFile)), knownAs(std::move(name)), options(o), images(knownAs, o.bitmapPaths)
{
}

bool ModelJob::gatherImages(std::string& error)
{
    if (gathered) return true;
    const auto t0 = Clock::now();
    for (const std::string& path : options.dictionaries) {
        if (!images.addDictionary(path, error)) return false;
    }
    if (!gltf.empty() && ownDictionary) ownDictionary(images, imageWarning);
    gathered = true;
    gatherSeconds = secondsSince(t0);
    return true;
}

std::vector<ProtectedFile> ModelJob::inputs() const
{
    std::vector<ProtectedFile> out = {{knownAs, "the model file"}};
    for (BitmapTex* tex : currentScene().textures) {
        if (tex->MapFileFound() && tex->GetMapName() != nullptr) out.push_back({tex->GetMapName(), "the texture file"});
    }
    for (const std::string& path : images.dictionaryPaths()) out.push_back({path, "a texture dictionary"});
    if (wheels != nullptr) out.push_back({wheels->file, "the --wheels model"});
    if (!options.ifp.empty()) out.push_back({options.ifp, "the animation package"});
    return out;
}

ModelJobOutcome ModelJob::run(PluginLibrary& lib)
{
    ModelJobOutcome r;
    if (!gatherImages(r.failure)) return r;
    r.imageWarning = imageWarning;
    r.texturesSeconds = gatherSeconds;

    Clock::time_point t0 = Clock::now();
    HostOptions host;
    host.bitmapPaths = options.bitmapPaths;
    host.withoutGameMaterial = options.withoutGameMaterial;
    host.drawProgress = drawProgress;
    host.printScriptErrors = printScriptErrors;
    resetScene(host);
    const ImportOutcome outcome = runImport(lib, file, knownAs);
    r.importSeconds = secondsSince(t0);
    if (!outcome.ran) {
        r.failure = outcome.error.empty() ? std::string("the plug-in did not import it") : outcome.error;
        return r;
    }
    r.imported = true;
    const Scene& scene = currentScene();
    r.built = !scene.nodes.empty();
    AppliedAnimations applied;
    if (r.built && animations != nullptr) {
        t0 = Clock::now();
        r.noSkeleton = !sceneHasSkeleton();
        if (!r.noSkeleton) applied = animations->apply();
        r.animationsApplied = applied.animations.size();
        r.animationsNotApplied = applied.notApplied;
        r.importSeconds += secondsSince(t0);
    }
    for (const LogRecord& entry : scene.log) {
        if (entry.type == SYSLOG_ERROR || entry.type == SYSLOG_WARN) {
            r.logged.push_back({entry.type == SYSLOG_ERROR, entry.text});
        }
    }
    // An import that built nothing replaces no file.
    if (!r.built || (dump.empty() && gltf.empty())) return r;

    if (collisionIfNone && !sceneHasCollision(scene)) {
        col::Model entry;
        if (collisionIfNone(entry)) {
            INode* root = nullptr;
            for (INode* node : scene.nodes)
                if (root == nullptr && node->GetParentNode() == nullptr) root = node;
            addCollisionNodes(entry, root, "collision");
        }
    }
    if (beforeWrite && !beforeWrite(r.failure)) return r;
    std::vector<std::string> targets;
    if (!gltf.empty()) {
        const std::string buffer = bin.empty() ? gltfBinPath(gltf) : bin;
        if (!buffer.empty()) targets.push_back(buffer);
        targets.push_back(gltf);
    }
    if (!dump.empty()) targets.push_back(dump);
    r.failure = checkOutputTargets(targets, inputs());
    if (!r.failure.empty()) return r;

    // The model's files are made in memory and committed together.
    t0 = Clock::now();
    std::vector<OutputFile> files;
    TimedImages timed(images.source());
    if (!gltf.empty()) {
        GltfOptions gltfOptions;
        gltfOptions.path = gltf;
        gltfOptions.binPath = bin;
        gltfOptions.skipParts = options.skipParts;
        gltfOptions.gameView = options.gameView;
        gltfOptions.paint = paintColours(options);
        gltfOptions.wheels = wheels;
        gltfOptions.animations = std::move(applied.animations);
        if (!exportGltf(scene, timed, gltfOptions, r.report, files, r.failure)) return r;
    }
    if (!dump.empty()) {
        files.push_back({dump, {}, [&scene](std::ostream& os) {
                             writeSceneJson(scene, os);
                             os << "\n";
                         }});
    }
    r.texturesSeconds += timed.seconds;
    r.textures = images.textureStats();
    r.exportSeconds = secondsSince(t0) - timed.seconds;
    t0 = Clock::now();
    if (!commitOutputs(files, r.failure)) return r;
    r.writeSeconds = secondsSince(t0);
    for (const OutputFile& f : files) r.outputs.push_back(f.path);
    return r;
}

}  // namespace orvik
