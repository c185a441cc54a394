// orvik: the command-line host. Loads an Orvik plug-in library through its
// exports the way the host application does, and either reports what the
// library declares (`info`) or imports a model file into the stand-in scene
// and prints it (`import`).
//
// Exit status: 0 success; 2 usage error, unusable file or plug-in; 3 the
// import ran but built nothing.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/Convert.h"
#include "app/Files.h"
#include "app/GltfExport.h"
#include "app/ImgCommand.h"
#include "app/Info.h"
#include "app/Summary.h"
#include "app/Text.h"
#if ORVIK_WITH_TXD
#include "app/TxdCommand.h"
#endif
#include "host/dump.h"
#include "host/loader.h"
#include "host/scene.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNothingBuilt = 3;

constexpr int kOwnBits = static_cast<int>(sizeof(void*) * 8);
// Set for the build of the other width that this one re-executes, so that
// the two never hand a library back and forth.
constexpr const char* kReexecVariable = "ORVIK_REEXECUTED";

// Thrown for a failure that ends the run with exit status 2 and one line.
struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& subject, const std::string& reason)
{
    throw Failure{subject + ": " + reason};
}

struct Options {
    std::string plugin;
    std::string model;
    std::string json;
    std::string gltf;
    std::vector<std::string> bitmapPaths;
    bool noProgress = false;
    bool withoutGameMaterial = false;
};

struct Invocation {
    int argc;
    char** argv;
    std::string self;       // this executable
    bool reexecuted = false;
};

// The library to load: the default one beside this executable, or the one
// named. A bare file name that is not in the current folder is looked up
// beside the executable, where the build puts all four libraries.
std::string pluginToLoad(const Invocation& inv, const std::string& named)
{
    const std::string besideSelf = orvik::directoryOf(inv.self) + "/";
    if (named.empty()) {
        return besideSelf + ORVIK_DEFAULT_PLUGIN;
    }
    if (named.find('/') == std::string::npos && !orvik::pathExists(named) &&
        orvik::pathExists(besideSelf + named)) {
        return besideSelf + named;
    }
    return named;
}

// A library of the other width cannot be loaded into this process: run the
// build of that width (beside this one) with the same arguments instead.
// Returns only when the library fits this process.
void runMatchingHost(const Invocation& inv, const std::string& plugin)
{
    std::string reason;
    const int bits = orvik::elfClass(plugin, reason);
    if (bits == 0) {
        fail(plugin, "cannot load the plug-in: " + reason);
    }
    if (bits == kOwnBits) {
        return;
    }
    const std::string widthText = std::to_string(bits) + "-bit plug-in";
    if (inv.reexecuted) {
        fail(plugin, "cannot load the plug-in: a " + widthText + " in a " + std::to_string(kOwnBits) + "-bit host");
    }
    const char* sibling = bits == 32 ? "orvik_x86" : "orvik";
    const std::string siblingPath = orvik::directoryOf(inv.self) + "/" + sibling;
    if (::access(siblingPath.c_str(), X_OK) != 0) {
        fail(plugin, "cannot load the plug-in: a " + widthText + " needs " + sibling + ", which is not built" +
                         (bits == 32 ? " (the 32-bit build needs g++-multilib)" : ""));
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::setenv(kReexecVariable, "1", 1);
    std::vector<char*> args(inv.argv, inv.argv + inv.argc);
    args[0] = const_cast<char*>(siblingPath.c_str());
    args.push_back(nullptr);
    ::execv(siblingPath.c_str(), args.data());
    fail(siblingPath, "cannot be run: " + orvik::errorText(errno));
}

void openLibrary(PluginLibrary& lib, const std::string& plugin)
{
    std::string error;
    if (!lib.open(plugin, error)) {
        // The loader's reasons may start with the path; it is said once.
        for (const std::string& prefix : {"cannot load plug-in " + plugin + ": ", plugin + ": "}) {
            if (error.compare(0, prefix.size(), prefix) == 0) {
                error.erase(0, prefix.size());
                break;
            }
        }
        fail(plugin, "cannot load the plug-in: " + (error.empty() ? std::string("unknown failure") : error));
    }
}

int runInfo(const Invocation& inv, const Options& opt)
{
    const std::string plugin = pluginToLoad(inv, opt.plugin);
    runMatchingHost(inv, plugin);
    PluginLibrary lib;
    openLibrary(lib, plugin);
    nlohmann::ordered_json j = orvik::describeLibrary(lib);
    j["plugin"] = plugin;
    std::cout << j.dump(2) << "\n";
    std::cout.flush();
    if (!std::cout) {
        fail("standard output", "cannot be written");
    }
    return kExitOk;
}

void writeDump(const Scene& scene, const std::string& target)
{
    if (target == "-") {
        writeSceneJson(scene, std::cout);
        std::cout << "\n";
        std::cout.flush();
        if (!std::cout) {
            fail("standard output", "cannot be written");
        }
        return;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
        fail(target, "cannot be written: " + orvik::errorText(errno));
    }
    writeSceneJson(scene, out);
    out << "\n";
    out.close();
    if (!out) {
        fail(target, "cannot be written");
    }
}

// The system log's warnings and errors, one line each on standard error,
// naming the model file (entries do not name it themselves).
void printLogProblems(const Scene& scene, const std::string& model)
{
    std::cout.flush();
    for (const LogRecord& entry : scene.log) {
        if (entry.type != SYSLOG_ERROR && entry.type != SYSLOG_WARN) {
            continue;
        }
        std::cerr << (entry.type == SYSLOG_ERROR ? "error: " : "warning: ") << orvik::printable(model) << ": "
                  << orvik::printable(entry.text) << "\n";
    }
    std::cerr.flush();
}

int runImportCommand(const Invocation& inv, const Options& opt)
{
    // Everything about the file is settled before the plug-in sees it.
    const std::string why = orvik::checkModelFile(opt.model);
    if (!why.empty()) {
        fail(opt.model, why);
    }
    for (const std::string& dir : opt.bitmapPaths) {
        if (!orvik::isDirectory(dir)) {
            fail(dir, "--bitmap-path is not a folder");
        }
    }
    if (!opt.json.empty() && opt.json != "-" && orvik::sameFile(opt.json, opt.model)) {
        fail(opt.json, "the dump would overwrite the model file");
    }
    const std::string gltfProblem = opt.gltf.empty() ? "" : orvik::checkGltfTargets(opt.gltf, opt.model, opt.json);
    if (!gltfProblem.empty()) {
        fail(opt.gltf, gltfProblem);
    }
    const std::string plugin = pluginToLoad(inv, opt.plugin);
    runMatchingHost(inv, plugin);

    PluginLibrary lib;
    openLibrary(lib, plugin);

    HostOptions host;
    host.bitmapPaths = opt.bitmapPaths;
    host.withoutGameMaterial = opt.withoutGameMaterial;
    host.drawProgress = !opt.noProgress && ::isatty(STDERR_FILENO) == 1;
    resetScene(host);
    const ImportOutcome outcome = runImport(lib, opt.model);
    if (!outcome.ran) {
        fail(opt.model, outcome.error.empty() ? std::string("the plug-in did not import it") : outcome.error);
    }
    const Scene& scene = currentScene();
    if (!opt.json.empty()) {
        writeDump(scene, opt.json);
    } else if (!scene.nodes.empty()) {
        orvik::writeSceneSummary(scene, opt.model, std::cout);
        std::cout.flush();
    }
    if (!opt.gltf.empty()) {
        orvik::GltfExportReport report;
        std::string error;
        orvik::FileImageSource images(orvik::imageFolders(opt.model, opt.bitmapPaths));
        if (!orvik::writeGltf(scene, opt.gltf, images, report, error)) {
            throw Failure{error};
        }
        orvik::writeGltfSummary(report, opt.json == "-" ? std::cerr : std::cout);
        std::cout.flush();
    }
    printLogProblems(scene, opt.model);
    const bool built = !scene.nodes.empty();
    resetScene();
    lib.close();
    if (!built) {
        // The plug-in cannot tell a failed read from an empty file: a file
        // that went away or became unreadable meanwhile is reported as such.
        const std::string after = orvik::checkModelFile(opt.model);
        if (!after.empty()) {
            fail(opt.model, after);
        }
        std::cerr << "orvik: " << orvik::printable(opt.model) << ": the file held no model that could be read\n";
        return kExitNothingBuilt;
    }
    return kExitOk;
}

int run(int argc, char** argv)
{
    Invocation inv{argc, argv, orvik::executablePath(argc > 0 ? argv[0] : nullptr)};
    inv.reexecuted = std::getenv(kReexecVariable) != nullptr;
    ::unsetenv(kReexecVariable);

    Options opt;
    CLI::App app{"Command-line host of the Orvik DFF import plug-in.", "orvik"};
    app.require_subcommand(1);

    CLI::App* info = app.add_subcommand("info", "Print, as JSON, what a host learns from the plug-in library");
    info->add_option("--plugin", opt.plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");

    CLI::App* import = app.add_subcommand("import", "Import a DFF model and print its scene");
    import->add_option("MODEL", opt.model, "The model file (.dff)")->required();
    import->add_option("--json", opt.json, "Write the scene dump to FILE instead (- for standard output)")
        ->type_name("FILE");
    import->add_option("--gltf", opt.gltf, "Also write the scene as glTF 2.0: FILE.glb, or FILE.gltf with FILE.bin")
        ->type_name("FILE");
    import->add_option("--bitmap-path", opt.bitmapPaths, "A folder searched for texture files (repeatable)")
        ->type_name("DIR")
        ->allow_extra_args(false);
    import->add_flag("--no-progress", opt.noProgress, "Draw no progress bar");
    import->add_flag("--without-game-material", opt.withoutGameMaterial,
                     "Run the host without the game material plug-in");
    import->add_option("--plugin", opt.plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");

#if ORVIK_WITH_TXD
    orvik::TxdOptions txdOptions;
    const orvik::TxdCommand txdCommand = orvik::addTxdCommand(app, txdOptions);
#endif
    std::string archive;
    std::string extractDir;
    std::vector<std::string> memberNames;
    CLI::App* img = app.add_subcommand("img", "List or extract the members of an IMG archive");
    img->require_subcommand(1);
    CLI::App* imgList = img->add_subcommand("list", "List the archive's members");
    imgList->add_option("ARCHIVE", archive, "The archive: a .img, or the .dir of a version 1 archive")->required();
    CLI::App* imgExtract = img->add_subcommand("extract", "Write members of the archive into a folder");
    imgExtract->add_option("ARCHIVE", archive, "The archive: a .img, or the .dir of a version 1 archive")->required();
    imgExtract->add_option("DIR", extractDir, "The folder to write into (made when missing)")->required();
    imgExtract->add_option("NAME", memberNames, "Members to write (all when none; any case)");

    orvik::ConvertOptions conv;
    bool convGlb = false;
    CLI::App* convert = app.add_subcommand("convert", "Convert many models (files, folders, IMG archives) to glTF");
    convert->add_option("INPUT", conv.inputs, "A model, a folder searched for .dff files, or an IMG archive")
        ->required();
    convert->add_option("--out", conv.outDir, "The folder the outputs go to (made when missing)")
        ->type_name("DIR")
        ->required();
    auto* convGltfFlag = convert->add_flag("--gltf", conv.gltfText, "Write MODEL.gltf with MODEL.bin");
    convert->add_flag("--glb", convGlb, "Write MODEL.glb (the default)")->excludes(convGltfFlag);
    convert->add_flag("--json", conv.json, "Also write the scene dump MODEL.json");
    convert->add_option("-j,--jobs", conv.workers, "Worker processes (default: the number of cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 256u));
    convert->add_option("--txd", conv.dictionaries, "A texture dictionary for every model (repeatable)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    convert->add_option("--report", conv.report, "Write the results as JSON to FILE")->type_name("FILE");
    convert->add_flag("--no-progress", opt.noProgress, "Draw no progress bar");
    convert->add_flag("--without-game-material", opt.withoutGameMaterial,
                      "Run the host without the game material plug-in");
    convert->add_option("--plugin", opt.plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        if (what.size() > 1 && std::islower(static_cast<unsigned char>(what[1]))) {  // not "MODEL ..."
            what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
        }
        std::cerr << "orvik: " << what << " (see orvik --help)\n";
        return kExitUsage;
    }
    if (info->parsed()) {
        return runInfo(inv, opt);
    }
#if ORVIK_WITH_TXD
    if (txdCommand.txd->parsed()) {
        return orvik::runTxdCommand(txdCommand, txdOptions);
    }
#endif
    if (convert->parsed()) {
        const std::string plugin = pluginToLoad(inv, opt.plugin);
        runMatchingHost(inv, plugin);
        PluginLibrary lib;
        openLibrary(lib, plugin);
        conv.progress = !opt.noProgress && ::isatty(STDERR_FILENO) == 1;
        conv.withoutGameMaterial = opt.withoutGameMaterial;
        const int status = orvik::runConvert(lib, conv, std::cout, std::cerr);
        lib.close();
        return status;
    }
    if (imgList->parsed()) {
        return orvik::listImg(archive, std::cout, std::cerr);
    }
    if (imgExtract->parsed()) {
        return orvik::extractImg(archive, extractDir, memberNames, std::cout, std::cerr);
    }
    return runImportCommand(inv, opt);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        std::cerr << "orvik: " << orvik::printable(f.message) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "orvik: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "orvik: unexpected failure\n";
    }
    return kExitUsage;
}
