// orvik: the command-line host. Loads an Orvik plug-in library through its
// exports the way the host application does, and either reports what the
// library declares (`info`) or imports a model file into the stand-in scene
// and prints it (`import`).
//
// Exit status: 0 success; 2 usage error, unusable file or plug-in; 3 the
// import ran but built nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Convert.h"
#include "support/Files.h"
#include "gltf/GltfExport.h"
#include "cli/ImgCommand.h"
#include "cli/Info.h"
#include "images/ModelImages.h"
#include "support/Output.h"
#include "cli/Summary.h"
#include "cli/ExitStatus.h"
#include "support/Text.h"
#include "cli/TxdCommand.h"
#include "host/dump.h"
#include "host/loader.h"
#include "host/mtl.h"
#include "host/scene.h"

namespace {

using orvik::kExitNothingRead;
using orvik::kExitOk;
using orvik::kExitUsage;

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
    std::string bin;
    std::vector<std::string> bitmapPaths;
    std::vector<std::string> skipParts;
    std::vector<std::string> dictionaries;
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

// Standard output failed (a closed pipe, a full disk): said once, as the
// run's failure; files already committed stay.
void checkStandardOutput()
{
    std::cout.flush();
    if (!std::cout) {
        const int err = errno;
        fail("standard output", "cannot be written" + (err != 0 ? ": " + orvik::errorText(err) : std::string()));
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
    checkStandardOutput();
    return kExitOk;
}

// Whether binPath is the buffer of the glTF file already at gltfPath: the
// file there is a glTF document of bounded size, read without following a
// link, one of whose buffers refers to binPath. Only then may an export
// replace a .bin that the user did not name: the pair was written together.
bool binBelongsToGltf(const std::string& gltfPath, const std::string& binPath)
{
    constexpr std::uint64_t kMaxDocument = 64u << 20;
    const int fd = ::open(gltfPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    std::string text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) <= kMaxDocument) {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("buffers") || !doc["buffers"].is_array()) return false;
    const std::string uri = orvik::gltfBinUri(gltfPath, binPath);
    for (const nlohmann::json& buffer : doc["buffers"]) {
        if (buffer.is_object() && buffer.contains("uri") && buffer["uri"] == uri) return true;
    }
    return false;
}

// The files the import is to write, in commit order; checked before the
// import. Fails with the reason when they cannot be written.
std::vector<std::string> checkTargets(const Options& opt)
{
    std::vector<std::string> targets;
    if (!opt.json.empty() && opt.json != "-") {
        targets.push_back(opt.json);
    }
    std::string bin;
    if (!opt.gltf.empty()) {
        const std::string bad = orvik::checkGltfPath(opt.gltf);
        if (!bad.empty()) {
            fail(opt.gltf, bad);
        }
        bin = orvik::gltfBinPath(opt.gltf);
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
    const std::string problem = orvik::checkOutputTargets(targets, {{opt.model, "the model file"}});
    if (!problem.empty()) {
        throw Failure{problem};
    }
    // A .bin the user did not name is replaced only when it is the one the
    // .gltf being replaced refers to.
    struct stat st {};
    if (!bin.empty() && opt.bin.empty() && ::lstat(bin.c_str(), &st) == 0 && !binBelongsToGltf(opt.gltf, bin)) {
        fail(bin, "exists and is not the buffer file of " + opt.gltf +
                      "; remove it or name the buffer file with --bin FILE");
    }
    return targets;
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
        std::cerr << (entry.type == SYSLOG_ERROR ? "error: " : "warning: ") << orvik::printablePath(model) << ": "
                  << orvik::printable(entry.text) << "\n";
    }
    std::cerr.flush();
}

int runImportCommand(const Invocation& inv, const Options& opt)
{
    // Everything about the file and the outputs is settled before the
    // plug-in sees it.
    const std::string why = orvik::checkModelFile(opt.model);
    if (!why.empty()) {
        fail(opt.model, why);
    }
    for (const std::string& dir : opt.bitmapPaths) {
        if (!orvik::isDirectory(dir)) {
            fail(dir, "--bitmap-path is not a folder");
        }
    }
    if (!opt.dictionaries.empty() && opt.gltf.empty()) {
        fail("--txd", "texture dictionaries are read for --gltf only");
    }
    const std::vector<std::string> targets = checkTargets(opt);
    const std::string plugin = pluginToLoad(inv, opt.plugin);
    runMatchingHost(inv, plugin);
    if (!opt.dictionaries.empty() && !orvik::ModelImages::readsDictionaries()) {
        fail("--txd", "texture dictionaries are read by the 64-bit orvik only");
    }
    // The images of the export: files the host found, then the dictionaries
    // named, in order, then the one beside the model.
    orvik::ModelImages images(opt.model, opt.bitmapPaths);
    std::string besideWarning;
    for (const std::string& path : opt.dictionaries) {
        std::string error;
        if (!images.addDictionary(path, error)) {
            throw Failure{error};
        }
    }
    if (!opt.gltf.empty()) {
        images.addModelDictionary(opt.model, besideWarning);
    }

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
    const bool built = !scene.nodes.empty();

    // An import that built nothing replaces no file. Otherwise every file is
    // made and committed together, before anything is printed, so that a
    // closed standard output cannot cost them.
    orvik::GltfExportReport report;
    if (built && !targets.empty()) {
        std::vector<orvik::ProtectedFile> inputs = {{opt.model, "the model file"}};
        for (BitmapTex* tex : scene.textures) {
            if (tex->MapFileFound() && tex->GetMapName() != nullptr) {
                inputs.push_back({tex->GetMapName(), "the texture file"});
            }
        }
        for (const std::string& path : images.dictionaryPaths()) {
            inputs.push_back({path, "a texture dictionary"});
        }
        const std::string problem = orvik::checkOutputTargets(targets, inputs);
        if (!problem.empty()) {
            throw Failure{problem};
        }
        std::vector<orvik::OutputFile> files;
        if (!opt.json.empty() && opt.json != "-") {
            files.push_back({opt.json, {}, [&scene](std::ostream& out) {
                                 writeSceneJson(scene, out);
                                 out << "\n";
                             }});
        }
        std::string error;
        orvik::GltfOptions options;
        options.skipParts = opt.skipParts;
        if (!opt.gltf.empty() &&
            !orvik::exportGltf(scene, opt.gltf, opt.bin, images.source(), report, files, error, options)) {
            throw Failure{error};
        }
        if (!orvik::commitOutputs(files, error)) {
            throw Failure{error};
        }
    }
    if (opt.json == "-") {
        writeSceneJson(scene, std::cout);
        std::cout << "\n";
        checkStandardOutput();
    } else if (opt.json.empty() && built) {
        orvik::writeSceneSummary(scene, opt.model, std::cout);
        checkStandardOutput();
    }
    if (built && !opt.gltf.empty()) {
        orvik::writeGltfSummary(report, opt.json == "-" ? std::cerr : std::cout);
        checkStandardOutput();
    }
    if (!besideWarning.empty()) {
        std::cerr << "orvik: " << orvik::printable(besideWarning) << "\n";
    }
    // An import that built nothing fails in one line; the plug-in's logged
    // reason, when there is one, is that line's reason.
    std::string loggedReason;
    if (built) {
        printLogProblems(scene, opt.model);
    } else {
        for (const LogRecord& entry : scene.log) {
            if (entry.type == SYSLOG_ERROR || entry.type == SYSLOG_WARN) {
                loggedReason = entry.text;
                break;
            }
        }
    }
    resetScene();
    lib.close();
    if (!built) {
        // The plug-in cannot tell a failed read from an empty file: a file
        // that went away or became unreadable meanwhile is reported as such.
        const std::string after = orvik::checkModelFile(opt.model);
        if (!after.empty()) {
            fail(opt.model, after);
        }
        std::cerr << "orvik: " << orvik::printablePath(opt.model) << ": the file held no model that could be read";
        if (!targets.empty()) {
            std::cerr << "; no file written";
        }
        if (!loggedReason.empty()) {
            std::cerr << " (" << orvik::printable(loggedReason) << ")";
        }
        std::cerr << "\n";
        return kExitNothingRead;
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
    CLI::Option* gltf = import->add_option("--gltf", opt.gltf, "Also write the scene as glTF 2.0: FILE.glb, or FILE.gltf with FILE.bin")
        ->type_name("FILE");
    import->add_option("--bin", opt.bin,
                       "With --gltf FILE.gltf: write its buffer to this file instead of FILE.bin (it may be replaced)")
        ->type_name("FILE");
    import->add_option("--skip-parts", opt.skipParts,
                       "Leave out of the glTF export the vehicle parts whose names end in _dam (damaged) or _vlo "
                       "(low detail)")
        ->type_name("dam,vlo")
        ->delimiter(',')
        ->check(CLI::IsMember({"dam", "vlo"}))
        ->needs(gltf)
        ->allow_extra_args(false);
    import->add_option("--bitmap-path", opt.bitmapPaths, "A folder searched for texture files (repeatable)")
        ->type_name("DIR")
        ->allow_extra_args(false);
    import->add_option("--txd", opt.dictionaries,
                       "A texture dictionary that --gltf takes images from (repeatable; then MODEL's .txd beside it)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    import->add_flag("--no-progress", opt.noProgress, "Draw no progress bar");
    import->add_flag("--without-game-material", opt.withoutGameMaterial,
                     "Run the host without the game material plug-in");
    import->add_option("--plugin", opt.plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");

    orvik::TxdOptions txdOptions;
    const orvik::TxdCommand txdCommand = orvik::addTxdCommand(app, txdOptions);
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
    convert->add_option("--bitmap-path", conv.bitmapPaths, "A folder searched for texture files (repeatable)")
        ->type_name("DIR")
        ->allow_extra_args(false);
    convert->add_option("--skip-parts", conv.skipParts,
                        "Leave out the vehicle parts whose names end in _dam (damaged) or _vlo (low detail)")
        ->type_name("dam,vlo")
        ->delimiter(',')
        ->check(CLI::IsMember({"dam", "vlo"}))
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
    if (txdCommand.txd != nullptr && txdCommand.txd->parsed()) {
        return orvik::runTxdCommand(txdCommand, txdOptions);
    }
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
    // A reader that closes standard output early (`| head`) must not end the
    // run before or while files are committed: writes fail with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        std::cerr << "orvik: " << orvik::printablePath(f.message) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "orvik: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "orvik: unexpected failure\n";
    }
    return kExitUsage;
}
