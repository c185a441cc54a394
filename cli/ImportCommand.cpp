#include "cli/ImportCommand.h"

#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <vector>

#include "cli/Animations.h"
#include "cli/ExitStatus.h"
#include "cli/ModelJob.h"
#include "cli/Summary.h"
#include "gltf/GltfExport.h"
#include "host/dump.h"
#include "host/loader.h"
#include "host/scene.h"
#include "support/Files.h"
#include "support/Output.h"
#include "support/Text.h"

namespace orvik {
namespace {

// The files the import is to write, in commit order; checked before the
// import. Fails with the reason when they cannot be written.
std::vector<std::string> checkTargets(const ImportOptions& opt)
{
    std::vector<std::string> targets;
    if (!opt.json.empty() && opt.json != "-") {
        targets.push_back(opt.json);
    }
    std::string bin;
    if (!opt.gltf.empty()) {
        const std::string bad = checkGltfPath(opt.gltf);
        if (!bad.empty()) {
            fail(opt.gltf, bad);
        }
        bin = gltfBinPath(opt.gltf);
        if (!opt.bin.empty() && bin.empty()) {
            fail(opt.bin, "--bin names the buffer file of a .gltf export; a .glb holds its own");
        }
        if (!opt.bin.empty()) {
            bin = opt.bin;
        }
        if (!bin.empty()) {
            targets.push_back(bin);
        }
        targets.push_back(opt.gltf);
    } else if (!opt.bin.empty()) {
        fail(opt.bin, "--bin goes with --gltf FILE.gltf");
    }
    std::vector<ProtectedFile> inputs = {{opt.model, "the model file"}};
    if (!opt.shared.ifp.empty()) inputs.push_back({opt.shared.ifp, "the animation package"});
    const std::string problem = checkOutputTargets(targets, inputs);
    if (!problem.empty()) {
        throw Failure{problem};
    }
    // A .bin the user did not name is replaced only when it is the one the
    // .gltf being replaced refers to.
    struct stat st {};
    if (!bin.empty() && opt.bin.empty() && ::lstat(bin.c_str(), &st) == 0 && !bufferBelongsToGltf(opt.gltf, bin)) {
        fail(bin, "exists and is not the buffer file of " + opt.gltf +
                      "; remove it or name the buffer file with --bin FILE");
    }
    return targets;
}

// The system log's warnings and errors, one line each on standard error,
// naming the model file (entries do not name it themselves).
void printLogProblems(const ModelJobOutcome& outcome, const std::string& model)
{
    std::cout.flush();
    for (const LoggedProblem& entry : outcome.logged) {
        std::cerr << (entry.error ? "error: " : "warning: ") << printablePath(model) << ": " << printable(entry.text)
                  << "\n";
    }
    std::cerr.flush();
}

}  // namespace

CLI::App* addImportCommand(CLI::App& app, ImportOptions& opt)
{
    CLI::App* import = app.add_subcommand("import", "Import a DFF model and print its scene");
    import->add_option("MODEL", opt.model, "The model file (.dff)")->required();
    import->add_option("--json", opt.json, "Write the scene dump to FILE instead (- for standard output)")
        ->type_name("FILE");
    CLI::Option* gltf =
        import->add_option("--gltf", opt.gltf, "Also write the scene as glTF 2.0: FILE.glb, or FILE.gltf with FILE.bin")
            ->type_name("FILE");
    import
        ->add_option("--bin", opt.bin,
                     "With --gltf FILE.gltf: write its buffer to this file instead of FILE.bin (it may be replaced)")
        ->type_name("FILE");
    addModelOptions(*import, opt.shared, gltf);
    return import;
}

int runImportCommand(const Invocation& inv, const ImportOptions& opt)
{
    // Everything about the file and the outputs is settled before the
    // plug-in sees it.
    const std::string why = checkModelFile(opt.model);
    if (!why.empty()) {
        fail(opt.model, why);
    }
    const std::string badFolder = checkBitmapPaths(opt.shared);
    if (!badFolder.empty()) {
        throw Failure{badFolder};
    }
    const std::string badPaint = checkPaint(opt.shared);
    if (!badPaint.empty()) {
        throw Failure{badPaint};
    }
    if (!opt.shared.dictionaries.empty() && opt.gltf.empty()) {
        fail("--txd", "texture dictionaries are read for --gltf only");
    }
    const std::vector<std::string> targets = checkTargets(opt);
    const std::string plugin = pluginToLoad(inv, opt.shared.plugin);
    runMatchingHost(inv, plugin);
    if (!opt.shared.dictionaries.empty() && !ModelImages::readsDictionaries()) {
        fail("--txd", "texture dictionaries are read by the 64-bit orvik only");
    }
    ModelJob job(opt.model, opt.model, opt.shared);
    job.dump = opt.json == "-" ? "" : opt.json;
    job.gltf = opt.gltf;
    job.bin = opt.bin;
    job.drawProgress = drawsProgress(opt.shared);
    job.ownDictionary = [&opt](ModelImages& images, std::string& warning) {
        images.addModelDictionary(opt.model, warning);
    };
    std::string error;
    if (!job.gatherImages(error)) {
        throw Failure{error};
    }

    PluginLibrary lib;
    openLibrary(lib, plugin);
    // Dropped before the library that made its objects closes.
    WheelModel wheels;
    if (!loadWheelModel(lib, opt.shared, wheels, error)) {
        throw Failure{error};
    }
    if (wheels.scene) job.wheels = &wheels.wheel;
    std::unique_ptr<AnimationPlugin> animations;
    if (!opt.shared.ifp.empty()) {
        animations = std::make_unique<AnimationPlugin>(animationPluginFor(inv, plugin), opt.shared);
        job.animations = animations.get();
        if (!animations->damage().empty()) {
            std::cerr << "orvik: " << printablePath(opt.shared.ifp) << ": " << printable(animations->damage()) << "\n";
        }
    }
    // Every file is made and committed together, before anything is printed,
    // so that a closed standard output cannot cost them.
    const ModelJobOutcome outcome = job.run(lib);
    if (!outcome.imported) {
        fail(opt.model, outcome.failure);
    }
    if (!outcome.failure.empty()) {
        throw Failure{outcome.failure};
    }
    const Scene& scene = currentScene();
    const bool built = outcome.built;
    if (opt.json == "-") {
        writeSceneJson(scene, std::cout);
        std::cout << "\n";
        checkStandardOutput();
    } else if (opt.json.empty() && built) {
        writeSceneSummary(scene, opt.model, std::cout);
        checkStandardOutput();
    }
    if (built && !opt.gltf.empty()) {
        writeGltfSummary(outcome.report, opt.json == "-" ? std::cerr : std::cout);
        if (outcome.report.gameView) {
            writeGameViewLine(gameViewCounts(outcome.report), opt.shared.wheels,
                              opt.json == "-" ? std::cerr : std::cout);
        }
        checkStandardOutput();
    }
    if (outcome.noSkeleton) {
        std::cerr << "orvik: " << printablePath(opt.model) << ": no skinned mesh: the animations are not applied\n";
    }
    if (!outcome.imageWarning.empty()) {
        std::cerr << "orvik: " << printable(outcome.imageWarning) << "\n";
    }
    if (built) {
        printLogProblems(outcome, opt.model);
    }
    resetScene();
    wheels.scene.reset();
    animations.reset();
    lib.close();
    if (!built) {
        // The plug-in cannot tell a failed read from an empty file: a file
        // that went away or became unreadable meanwhile is reported as such.
        const std::string after = checkModelFile(opt.model);
        if (!after.empty()) {
            fail(opt.model, after);
        }
        // The plug-in's logged reason, when there is one, is the line's reason.
        std::cerr << "orvik: " << printablePath(opt.model) << ": the file held no model that could be read";
        if (!targets.empty()) {
            std::cerr << "; no file written";
        }
        if (!outcome.loggedReason().empty()) {
            std::cerr << " (" << printable(outcome.loggedReason()) << ")";
        }
        std::cerr << "\n";
        return kExitNothingRead;
    }
    return kExitOk;
}

}  // namespace orvik
