#include "cli/Convert.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli/Animations.h"
#include "cli/BatchFiles.h"
#include "cli/CollisionPickup.h"
#include "cli/ConvertPlan.h"
#include "cli/ExitStatus.h"
#include "cli/ModelJob.h"
#include "cli/Summary.h"
#include "host/dump.h"
#include "host/loader.h"
#include "host/scene.h"
#include "img/ImgArchive.h"
#include "support/FileIo.h"
#include "support/Files.h"
#include "support/Output.h"
#include "support/Paths.h"
#include "support/Text.h"
#include "support/WorkerPool.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

struct Result {
    bool ok = false;
    std::string reason;
    std::vector<std::string> warnings;
    std::vector<std::string> missingTextures;
    std::vector<std::string> outputs;
    double importSeconds = 0;
    double exportSeconds = 0;    // the glTF document and buffers, textures apart
    double texturesSeconds = 0;  // finding, decoding and PNG-encoding the textures' images
    double writeSeconds = 0;
    std::array<std::size_t, 6> gameView{};  // what --game-view did (gameViewCounts)
    bool noSkeleton = false;                // --ifp: the model has no skinned mesh
    std::size_t animations = 0;             // --ifp: the animations exported with it
    TextureStats textures;                  // decoding and encoding among the textures' time, and the cache's hits
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Converter {
public:
    Converter(PluginLibrary& l, const ConvertOptions& o, std::ostream& outStream, std::ostream& errStream,
              AnimationPlugin* a)
        : lib(l), animations(a), opt(o), out(outStream), err(errStream), plan(o)
    {
    }

    int run();

private:
    std::string convertOne(std::size_t index);
    Result convertModel(const Model& m);
    void finished(std::size_t index, bool answered, const std::string& answer);
    void drawProgress(bool last);
    void clearProgress();
    // The report; without `records` its totals only (what the table shows).
    Json reportJson(double seconds, unsigned workers, bool records = true) const;
    void printTable(double seconds, unsigned workers);

    PluginLibrary& lib;
    AnimationPlugin* animations;
    const ConvertOptions& opt;
    std::ostream& out;
    std::ostream& err;

    ConvertPlan plan;
    std::vector<std::unique_ptr<img::Archive>>& archives = plan.archives;
    std::vector<Model>& models = plan.models;
    const std::vector<std::string>& collectionProblems = plan.problems;
    std::vector<Result> results;
    // Each worker's own (the workers are forked with it empty).
    TextureCache textureCache;
    // Read before the workers are forked, who share it.
    WheelModel wheels;
    // The collision found beside the models, for those that hold none.
    CollisionPickup collisionPickup{plan.archives};
    std::size_t done = 0;
    std::size_t failed = 0;
    Clock::time_point start;
    bool barShown = false;
};

// In a worker: one model, answered as one line of JSON.
std::string Converter::convertOne(std::size_t index)
{
    const Result r = convertModel(models[index]);
    Json j;
    j["ok"] = r.ok;
    j["reason"] = pathAsUtf8(r.reason);
    j["warnings"] = r.warnings;
    j["missingTextures"] = r.missingTextures;
    Json outputs = Json::array();
    for (const std::string& o : r.outputs) outputs.push_back(pathAsUtf8(o));
    j["outputs"] = outputs;
    j["time"] = {r.importSeconds, r.exportSeconds,          r.texturesSeconds,
                 r.writeSeconds,  r.textures.decodeSeconds, r.textures.encodeSeconds};
    j["textures"] = {r.textures.made, r.textures.read, r.textures.hits};
    j["gameView"] = r.gameView;
    if (animations != nullptr) j["animations"] = {r.noSkeleton, r.animations};
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Result Converter::convertModel(const Model& m)
{
    Result r;
    if (!m.problem.empty()) {
        r.reason = m.problem;
        return r;
    }
    std::string file = m.file;
    std::string knownAs = m.file;
    int memoryFd = -1;
    if (m.archive != kNone) {
        // The member's bytes reach the importer from memory, never from a
        // file on disk.
        const img::Archive& a = *archives[m.archive];
        const img::Entry& e = a.index().entries[m.entry];
        memoryFd = ::memfd_create("orvik-member", MFD_CLOEXEC);
        if (memoryFd < 0) {
            r.reason = "cannot hold the member in memory: " + errorText(errno);
            return r;
        }
        int writeError = 0;
        const auto sink = [&](const unsigned char* piece, std::size_t n) {
            return writeAll(memoryFd, piece, n, writeError);
        };
        if (!a.copy(e, sink, r.reason)) {
            if (writeError != 0) r.reason = "cannot hold the member in memory: " + errorText(writeError);
            ::close(memoryFd);
            return r;
        }
        file = "/proc/self/fd/" + std::to_string(memoryFd);
        knownAs = m.shown;
    } else {
        r.reason = checkModelFile(m.file);
        if (!r.reason.empty()) return r;
    }

    const std::vector<std::string> targets = plan.targetsOf(m);
    ModelJob job(file, knownAs, opt.shared);
    job.gltf = targets[0];
    if (opt.json) job.dump = targets.back();
    job.printScriptErrors = false;
    if (wheels.scene) job.wheels = &wheels.wheel;
    job.animations = animations;
    // The images as `orvik import --gltf` takes them: files inside the
    // model's folder or a --bitmap-path folder, then the --txd dictionaries,
    // then the model's own, found when the inputs were collected.
    job.ownDictionary = [this, &m](ModelImages& images, std::string& warning) {
        if (m.archive == kNone) {
            if (!m.dictionaryFile.empty()) images.addModelDictionaryFile(m.dictionaryFile, warning);
        } else if (m.dictionaryEntry != kNone) {
            const img::Archive& a = *archives[m.archive];
            const img::Entry& e = a.index().entries[m.dictionaryEntry];
            std::vector<unsigned char> bytes;
            std::string why;
            struct stat st {};
            const std::string identity =
                ::stat(a.dataPath().c_str(), &st) == 0
                    ? "member " + fileIdentity(st) + "@" + std::to_string(e.offset) + "+" + std::to_string(e.size)
                    : "";
            const std::string shown = a.dataPath() + "/" + std::string(e.name());
            if (a.read(e, bytes, why)) {
                images.addModelDictionary(shown, std::move(bytes), warning, identity);
            } else {
                warning = shown + ": " + why + ", not used";
            }
        }
    };
    // Folders are made only for models that import.
    job.beforeWrite = [this, &m](std::string& why) { return makeFoldersBelow(opt.outDir, m.relative, why); };
    job.collisionIfNone = [this, &m](col::Model& entry) { return collisionPickup.find(m, entry); };
    job.useCache(&textureCache);
    const ModelJobOutcome outcome = job.run(lib);
    if (memoryFd >= 0) ::close(memoryFd);
    resetScene();
    r.importSeconds = outcome.importSeconds;
    r.exportSeconds = outcome.exportSeconds;
    r.texturesSeconds = outcome.texturesSeconds;
    r.writeSeconds = outcome.writeSeconds;
    r.textures = outcome.textures;
    for (const LoggedProblem& p : outcome.logged) r.warnings.push_back(p.text);
    if (!outcome.imported || !outcome.failure.empty()) {
        r.reason = outcome.failure;
        return r;
    }
    if (!outcome.built) {
        const std::string logged = outcome.loggedReason();
        r.reason = logged.empty() ? std::string("the file held no model that could be read")
                                  : "the file held no model that could be read: " + logged;
        return r;
    }
    if (!outcome.imageWarning.empty()) r.warnings.push_back(outcome.imageWarning);
    // Each texture name once, however many materials use it.
    std::set<std::string> seen;
    for (const auto& t : outcome.report.textureImages) {
        if (!t.problem.empty() && seen.insert(asciiLower(t.name)).second) {
            r.missingTextures.push_back(latin1ToUtf8(t.name));
        }
    }
    r.warnings.insert(r.warnings.end(), outcome.report.notes.begin(), outcome.report.notes.end());
    r.outputs = outcome.outputs;
    r.gameView = gameViewCounts(outcome.report);
    r.noSkeleton = outcome.noSkeleton;
    r.animations = outcome.animationsApplied;
    r.ok = true;
    return r;
}

void Converter::clearProgress()
{
    if (barShown) {
        err << "\r\033[K";
        barShown = false;
    }
}

void Converter::drawProgress(bool last)
{
    if (!opt.progress) return;
    constexpr int kWidth = 30;
    const std::size_t total = models.size();
    const int filled = total == 0 ? kWidth : static_cast<int>(done * kWidth / total);
    const double seconds = secondsSince(start);
    std::ostringstream bar;
    bar << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
        << std::string(static_cast<std::size_t>(kWidth - filled), '-') << "] " << done << "/" << total << " models";
    if (failed > 0) bar << ", " << failed << " failed";
    if (seconds > 0) bar << ", " << std::fixed << std::setprecision(1) << double(done) / seconds << "/s";
    bar << "\033[K";
    err << bar.str();
    if (last) {
        err << "\n";
        barShown = false;
    } else {
        barShown = true;
    }
    err.flush();
}

void Converter::finished(std::size_t index, bool answered, const std::string& answer)
{
    Result& r = results[index];
    if (!answered) {
        r.reason = "the import crashed: " + answer;
    } else if (!answer.empty() && answer[0] == '!') {
        r.reason = answer.substr(1);
    } else {
        const Json j = Json::parse(answer, nullptr, false);
        if (j.is_discarded()) {
            r.reason = "the worker gave an answer that cannot be read";
        } else {
            r.ok = j.value("ok", false);
            r.reason = j.value("reason", "");
            r.warnings = j.value("warnings", std::vector<std::string>{});
            r.missingTextures = j.value("missingTextures", std::vector<std::string>{});
            r.outputs = j.value("outputs", std::vector<std::string>{});
            r.gameView = j.value("gameView", r.gameView);
            const Json a = j.value("animations", Json());
            if (a.is_array() && a.size() == 2) {
                r.noSkeleton = a[0].get<bool>();
                r.animations = a[1].get<std::size_t>();
            }
            const auto& t = j["time"];
            if (t.is_array() && t.size() == 6) {
                r.importSeconds = t[0].get<double>();
                r.exportSeconds = t[1].get<double>();
                r.texturesSeconds = t[2].get<double>();
                r.writeSeconds = t[3].get<double>();
                r.textures.decodeSeconds = t[4].get<double>();
                r.textures.encodeSeconds = t[5].get<double>();
            }
            const auto& n = j["textures"];
            if (n.is_array() && n.size() == 3) {
                r.textures.made = n[0].get<std::size_t>();
                r.textures.read = n[1].get<std::size_t>();
                r.textures.hits = n[2].get<std::size_t>();
            }
        }
    }
    ++done;
    if (!r.ok) {
        ++failed;
        clearProgress();
        err << "orvik: " << printablePath(models[index].shown) << ": " << printablePath(r.reason) << "\n";
    }
    drawProgress(done == models.size());
}

Json Converter::reportJson(double seconds, unsigned workers, bool records) const
{
    Json j;
    j["format"] = "orvik-convert-report";
    j["version"] = 1;
    j["out"] = pathAsUtf8(opt.outDir);
    j["workers"] = workers;
    j["seconds"] = seconds;
    std::size_t converted = 0, withWarnings = 0, missing = 0;
    double importS = 0, exportS = 0, texturesS = 0, writeS = 0, decodeS = 0, encodeS = 0;
    std::size_t made = 0, read = 0, hits = 0;
    Json list = Json::array();
    for (std::size_t i = 0; i < models.size(); ++i) {
        const Result& r = results[i];
        converted += r.ok ? 1 : 0;
        withWarnings += r.ok && !r.warnings.empty() ? 1 : 0;
        missing += r.missingTextures.size();
        importS += r.importSeconds;
        exportS += r.exportSeconds;
        texturesS += r.texturesSeconds;
        writeS += r.writeSeconds;
        decodeS += r.textures.decodeSeconds;
        encodeS += r.textures.encodeSeconds;
        made += r.textures.made;
        read += r.textures.read;
        hits += r.textures.hits;
        if (!records) continue;
        Json m;
        m["input"] = pathAsUtf8(models[i].shown);
        m["status"] = r.ok ? "converted" : "failed";
        m["reason"] = r.ok ? Json(nullptr) : Json(r.reason);
        Json outputs = Json::array();
        for (const std::string& o : r.outputs) outputs.push_back(pathAsUtf8(o));
        m["outputs"] = outputs;
        m["warnings"] = r.warnings;
        m["missingTextures"] = r.missingTextures;
        m["seconds"] = {{"import", r.importSeconds},
                        {"export", r.exportSeconds},
                        {"textures", r.texturesSeconds},
                        {"texturesDecode", r.textures.decodeSeconds},
                        {"texturesEncode", r.textures.encodeSeconds},
                        {"write", r.writeSeconds}};
        m["textureImages"] = {{"made", r.textures.made}, {"read", r.textures.read}, {"fromCache", r.textures.hits}};
        if (animations != nullptr) m["animations"] = r.ok && !r.noSkeleton ? Json(r.animations) : Json(nullptr);
        list.push_back(std::move(m));
    }
    j["models"] = models.size();
    j["converted"] = converted;
    j["withWarnings"] = withWarnings;
    j["failed"] = models.size() - converted;
    j["texturesMissing"] = missing;
    j["entriesOutside"] = plan.entriesOutside;
    j["emptyMembers"] = plan.emptyMembers;
    j["membersOverlapping"] = plan.overlapping.size();
    if (animations != nullptr) {
        std::size_t withoutSkeleton = 0;
        for (const Result& r : results) withoutSkeleton += r.ok && r.noSkeleton ? 1 : 0;
        j["withoutSkeleton"] = withoutSkeleton;
    }
    j["notRead"] = collectionProblems;
    // The textures' time holds their decoding and encoding; the rest of it is
    // finding them, reading files and taking images from the cache.
    j["workerSeconds"] = {{"import", importS},         {"export", exportS},         {"textures", texturesS},
                          {"texturesDecode", decodeS}, {"texturesEncode", encodeS}, {"write", writeS}};
    j["textureImages"] = {{"made", made}, {"read", read}, {"fromCache", hits}};
    j["results"] = std::move(list);
    return j;
}

void Converter::printTable(double seconds, unsigned workers)
{
    const Json j = reportJson(seconds, workers, false);
    const auto row = [&](const char* label, std::size_t n) {
        out << std::left << std::setw(20) << label << std::right << std::setw(8) << n << "\n";
    };
    row("models converted", j["converted"].get<std::size_t>());
    row("  with warnings", j["withWarnings"].get<std::size_t>());
    row("failed", j["failed"].get<std::size_t>());
    row("textures missing", j["texturesMissing"].get<std::size_t>());
    if (animations != nullptr) row("without skeleton", j["withoutSkeleton"].get<std::size_t>());
    if (opt.shared.gameView) {
        std::array<std::size_t, 6> total{};  // one line for the whole run
        for (std::size_t k = 0; k < total.size(); ++k)
            for (const Result& r : results) total[k] += r.gameView[k];
        writeGameViewLine(total, opt.shared.wheels, out);
    }
    const auto& ws = j["workerSeconds"];
    out << std::fixed << std::setprecision(2) << models.size() << " models in " << seconds << " s ("
        << (seconds > 0 ? double(models.size()) / seconds : 0.0) << " models/s) with " << workers
        << (workers == 1 ? " worker" : " workers") << "; worker time: import " << ws["import"].get<double>()
        << " s, export " << ws["export"].get<double>() << " s, textures " << ws["textures"].get<double>()
        << " s (decoding " << ws["texturesDecode"].get<double>() << " s, PNG writing "
        << ws["texturesEncode"].get<double>() << " s; " << j["textureImages"]["made"].get<std::size_t>() << " made, "
        << j["textureImages"]["read"].get<std::size_t>() << " files read, "
        << j["textureImages"]["fromCache"].get<std::size_t>() << " from the cache), writing "
        << ws["write"].get<double>() << " s\n";
    out.flush();
}

int Converter::run()
{
    std::string why;
    if (!plan.collect(why)) {
        err << "orvik: " << printablePath(why) << "\n";
        return kExitUsage;
    }
    const std::string badFolder = checkBitmapPaths(opt.shared);
    if (!badFolder.empty()) {
        err << "orvik: " << printablePath(badFolder) << "\n";
        return kExitUsage;
    }
    const std::string badPaint = checkPaint(opt.shared);
    if (!badPaint.empty()) {
        err << "orvik: " << badPaint << "\n";
        return kExitUsage;
    }
    for (const std::string& d : opt.shared.dictionaries) {
        // Each worker reads the dictionaries again; one that cannot be used
        // is a usage error before any model is converted.
        ModelImages check(d, {});
        if (!check.addDictionary(d, why)) {
            err << "orvik: --txd " << printablePath(why) << "\n";
            return kExitUsage;
        }
    }
    if (!models.empty() && !loadWheelModel(lib, opt.shared, wheels, why)) {
        err << "orvik: " << printablePath(why) << "\n";
        return kExitUsage;
    }
    if (models.empty()) {
        plan.writePassedOver(err);
        err << "orvik: no .dff models found in the inputs\n";
        return kExitUsage;
    }
    if (!opt.report.empty() && plan.inputFiles.holds(opt.report)) {
        err << "orvik: " << printablePath(opt.report) << ": the report would replace an input\n";
        return kExitUsage;
    }
    const bool outExisted = pathExists(opt.outDir);
    if (!makeFolder(opt.outDir, why)) {
        err << "orvik: " << printablePath(why) << "\n";
        return kExitUsage;
    }
    // Every target is settled before the first model converts.
    plan.settleOutputs();
    why = plan.checkReport();
    if (!why.empty()) {
        if (!outExisted) ::rmdir(opt.outDir.c_str());
        err << "orvik: " << printablePath(why) << "\n";
        return kExitUsage;
    }
    results.assign(models.size(), Result{});
    plan.writePassedOver(err);

    unsigned workers = opt.workers;
    if (workers == 0) {
        const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
        workers = cores > 0 ? static_cast<unsigned>(cores) : 1;
    }
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, models.size()));

    out.flush();
    err.flush();
    start = Clock::now();
    drawProgress(false);
    WorkerPoolHandlers handlers;
    handlers.work = [this](std::size_t i) { return convertOne(i); };
    handlers.done = [this](std::size_t i, bool answered, const std::string& a) { finished(i, answered, a); };
    if (!runWorkerPool(models.size(), workers, handlers, why)) {
        clearProgress();
        err << "orvik: " << why << "\n";
        return kExitUsage;
    }
    const double seconds = secondsSince(start);
    if (!opt.report.empty()) {
        if (!writeOutputFile(opt.report, reportJson(seconds, workers).dump(2) + "\n", why)) {
            err << "orvik: " << printablePath(opt.report) << ": " << why << "\n";
            printTable(seconds, workers);
            return kExitUsage;
        }
    }
    printTable(seconds, workers);
    if (!standardOutputWritten(out, err)) return kExitUsage;
    return failed == 0 && collectionProblems.empty() && plan.overlapping.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace

CLI::App* addConvertCommand(CLI::App& app, ConvertOptions& conv)
{
    CLI::App* convert = app.add_subcommand("convert", "Convert many models (files, folders, IMG archives) to glTF");
    convert->add_option("INPUT", conv.inputs, "A model, a folder searched for .dff files, or an IMG archive")
        ->required();
    convert->add_option("--out", conv.outDir, "The folder the outputs go to (made when missing)")
        ->type_name("DIR")
        ->required();
    auto* gltfFlag = convert->add_flag("--gltf", conv.gltfText, "Write MODEL.gltf with MODEL.bin");
    convert->add_flag("--glb", conv.glb, "Write MODEL.glb (the default)")->excludes(gltfFlag);
    convert->add_flag("--json", conv.json, "Also write the scene dump MODEL.json");
    convert->add_option("-j,--jobs", conv.workers, "Worker processes (default: the number of cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 256u));
    convert->add_option("--report", conv.report, "Write the results as JSON to FILE")->type_name("FILE");
    addModelOptions(*convert, conv.shared, nullptr);
    return convert;
}

int runConvert(PluginLibrary& lib, const ConvertOptions& options, std::ostream& out, std::ostream& err,
               AnimationPlugin* animations)
{
    Converter c(lib, options, out, err, animations);
    return c.run();
}

}  // namespace orvik

namespace orvik {

int runConvertCommand(const Invocation& inv, ConvertOptions& options)
{
    const std::string plugin = pluginToLoad(inv, options.shared.plugin);
    runMatchingHost(inv, plugin);
    runWithHugePageHeaps(inv);
    PluginLibrary lib;
    openLibrary(lib, plugin);
    // The package is read here, once, before the workers start.
    std::unique_ptr<AnimationPlugin> animations;
    if (!options.shared.ifp.empty()) {
        animations = std::make_unique<AnimationPlugin>(animationPluginFor(inv, plugin), options.shared);
        if (!animations->damage().empty()) {
            std::cerr << "orvik: " << printablePath(options.shared.ifp) << ": " << printable(animations->damage())
                      << "\n";
        }
    }
    options.progress = drawsProgress(options.shared);
    const int status = runConvert(lib, options, std::cout, std::cerr, animations.get());
    animations.reset();
    lib.close();
    return status;
}

}  // namespace orvik
