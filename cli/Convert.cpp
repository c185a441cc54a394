#include "cli/Convert.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

#include "cli/BatchFiles.h"
#include "cli/ColCommand.h"
#include "cli/ExitStatus.h"
#include "cli/ModelJob.h"
#include "host/loader.h"
#include "host/max.h"
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

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Model {
    std::string shown;      // how messages and the report name it
    std::string file;       // the model file; for a member, the archive's .img
    std::size_t archive = kNone;  // index into the archives, or kNone
    std::size_t entry = 0;  // the member's index entry
    std::string relative;   // its outputs below DIR, without extension
    std::string dictionaryFile;          // the dictionary of the same name beside it
    std::size_t dictionaryEntry = kNone;  // the dictionary of the same name in its archive
    std::string problem;    // why it cannot be converted, known before any import
};

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
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Files the outputs must never replace, by identity.
class InputFiles {
public:
    void add(const std::string& path)
    {
        const FileId id = fileIdOf(path);
        if (id.exists) ids.insert(id);
    }
    bool holds(const std::string& path) const
    {
        const FileId id = fileIdOf(path);
        return id.exists && ids.count(id) > 0;
    }

private:
    std::set<FileId> ids;
};

class Converter {
public:
    Converter(PluginLibrary& l, const ConvertOptions& o, std::ostream& outStream, std::ostream& errStream)
        : lib(l), opt(o), out(outStream), err(errStream)
    {
    }

    int run();

private:
    bool collect(std::string& why);
    bool addFolder(const std::string& folder, std::string& why);
    bool addArchive(const std::string& path, std::string& why);
    void addModelFile(const std::string& path, const std::string& relative);
    void settleOutputs();
    std::vector<std::string> targetsOf(const Model& m) const;

    std::string convertOne(std::size_t index);
    Result convertModel(const Model& m);
    void finished(std::size_t index, bool answered, const std::string& answer);
    void drawProgress(bool last);
    void clearProgress();
    Json reportJson(double seconds, unsigned workers) const;
    void printTable(double seconds, unsigned workers);

    PluginLibrary& lib;
    const ConvertOptions& opt;
    std::ostream& out;
    std::ostream& err;

    std::vector<std::unique_ptr<img::Archive>> archives;
    std::vector<Model> models;
    std::vector<Result> results;
    InputFiles inputFiles;
    std::map<std::string, std::vector<std::string>> dictionariesIn;  // folder -> its .txd files
    // The collision entries of the .col files of a folder or an archive, by
    // model name in lower case; read once per worker, when a model there
    // holds no collision of its own.
    struct CollisionPlace {
        std::string file;           // the .col file, or the archive's .img
        std::size_t entry = kNone;  // the .col member of the archive
        std::uint64_t offset = 0;   // of the entry in the file or member
        std::uint64_t size = 0;
    };
    std::map<std::string, std::map<std::string, CollisionPlace>> collisionIn;
    const std::map<std::string, CollisionPlace>& collisionEntriesOf(const Model& m);
    bool collisionFor(const Model& m, col::Model& model);
    void addCollisionIfNone(const Model& m);
    std::size_t done = 0;
    std::size_t failed = 0;
    Clock::time_point start;
    bool barShown = false;
};

void Converter::addModelFile(const std::string& path, const std::string& relative)
{
    Model m;
    m.shown = path;
    m.file = path;
    m.relative = relative;
    // The dictionary of the same base name beside the model, any case; each
    // folder's dictionaries are listed once, however many models it holds.
    const fs::path p(path);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    const auto [listed, fresh] = dictionariesIn.try_emplace(folder.string());
    if (fresh) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            const std::string name = it->path().filename().string();
            if (endsWithNoCase(name, ".txd") && it->is_regular_file(fileEc)) listed->second.push_back(name);
        }
    }
    const std::string name = caseBlindName(stemOf(p.filename().string()) + ".txd", listed->second);
    if (!name.empty()) {
        m.dictionaryFile = (folder / name).string();
        inputFiles.add(m.dictionaryFile);
    }
    inputFiles.add(path);
    models.push_back(std::move(m));
}

bool Converter::addFolder(const std::string& folder, std::string& why)
{
    std::vector<fs::path> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) {
        why = folder + ": cannot be listed: " + ec.message();
        return false;
    }
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            why = folder + ": cannot be listed: " + ec.message();
            return false;
        }
        std::error_code fileEc;
        if (endsWithNoCase(it->path().filename().string(), ".dff") && it->is_regular_file(fileEc)) {
            found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    for (const fs::path& p : found) {
        const std::string rel = p.lexically_relative(folder).generic_string();
        addModelFile(p.string(), rel.substr(0, rel.size() - 4));
    }
    return true;
}

bool Converter::addArchive(const std::string& path, std::string& why)
{
    auto archive = std::make_unique<img::Archive>();
    if (!archive->open(path, why)) return false;
    // The same archive named twice (by its .img and its .dir) is read once.
    for (const auto& a : archives) {
        if (sameFile(a->dataPath(), archive->dataPath())) return true;
    }
    inputFiles.add(archive->dataPath());
    inputFiles.add(archive->indexPath());
    const std::size_t index = archives.size();
    const std::string folder = stemOf(fs::path(archive->dataPath()).filename().string());
    const auto& entries = archive->index().entries;
    // The first readable member of each dictionary name, in any case.
    std::map<std::string, std::size_t> dictionaryEntries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        if (entries[j].problem.empty() && endsWithNoCase(entries[j].name, ".txd")) {
            dictionaryEntries.emplace(asciiLower(entries[j].name), j);
        }
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const img::Entry& e = entries[i];
        if (!endsWithNoCase(e.name, ".dff")) continue;
        Model m;
        m.shown = archive->dataPath() + "/" + e.name;
        m.file = archive->dataPath();
        m.archive = index;
        m.entry = i;
        m.relative = folder + "/" + e.name.substr(0, e.name.size() - 4);
        m.problem = img::nameProblem(e.name);
        if (m.problem.empty()) m.problem = e.problem;
        const auto dictionary = dictionaryEntries.find(asciiLower(stemOf(e.name) + ".txd"));
        if (dictionary != dictionaryEntries.end()) m.dictionaryEntry = dictionary->second;
        models.push_back(std::move(m));
    }
    archives.push_back(std::move(archive));
    return true;
}

bool Converter::collect(std::string& why)
{
    for (const std::string& input : opt.inputs) {
        struct stat st {};
        if (::stat(input.c_str(), &st) != 0) {
            why = input + ": " + (errno == ENOENT ? std::string("no such file or folder") : errorText(errno));
            return false;
        }
        const std::string name = fs::path(input).filename().string();
        if (S_ISDIR(st.st_mode)) {
            if (!addFolder(input, why)) return false;
        } else if (!S_ISREG(st.st_mode)) {
            why = input + ": not a regular file";
            return false;
        } else if (endsWithNoCase(name, ".img") || endsWithNoCase(name, ".dir")) {
            if (!addArchive(input, why)) return false;
        } else {
            addModelFile(input, stemOf(name));
        }
    }
    for (const std::string& d : opt.shared.dictionaries) inputFiles.add(d);
    return true;
}

std::vector<std::string> Converter::targetsOf(const Model& m) const
{
    const std::string base = opt.outDir + "/" + m.relative;
    std::vector<std::string> targets;
    if (opt.gltfText) {
        targets = {base + ".gltf", base + ".bin"};
    } else {
        targets = {base + ".glb"};
    }
    if (opt.json) targets.push_back(base + ".json");
    return targets;
}

// Two models may not share outputs (compared in any case, as a case-blind
// file system would), and no output may replace an input.
void Converter::settleOutputs()
{
    std::map<std::string, std::size_t> owner;
    for (std::size_t i = 0; i < models.size(); ++i) {
        Model& m = models[i];
        if (!m.problem.empty()) continue;
        const auto [at, fresh] = owner.emplace(asciiLower(m.relative), i);
        if (!fresh) {
            m.problem = "its output would be the same as that of " + models[at->second].shown;
            continue;
        }
        for (const std::string& t : targetsOf(m)) {
            if (inputFiles.holds(t)) {
                m.problem = "its output " + t + " would replace an input";
                break;
            }
        }
    }
}

// In a worker: one model, answered as one line of JSON.
std::string Converter::convertOne(std::size_t index)
{
    const Result r = convertModel(models[index]);
    Json j;
    j["ok"] = r.ok;
    j["reason"] = r.reason;
    j["warnings"] = r.warnings;
    j["missingTextures"] = r.missingTextures;
    j["outputs"] = r.outputs;
    j["time"] = {r.importSeconds, r.exportSeconds, r.texturesSeconds, r.writeSeconds};
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

constexpr std::uint64_t kMaxCollisionFile = std::uint64_t{1} << 30;

bool hasColExtension(const std::string& name) { return asciiLower(fs::path(name).extension().string()) == ".col"; }

}  // namespace

const std::map<std::string, Converter::CollisionPlace>& Converter::collisionEntriesOf(const Model& m)
{
    const std::string key =
        m.archive == kNone ? "folder " + fs::path(m.file).parent_path().string() : "archive " + std::to_string(m.archive);
    const auto [found, fresh] = collisionIn.try_emplace(key);
    if (!fresh) return found->second;
    std::map<std::string, CollisionPlace>& names = found->second;
    auto index = [&](const std::vector<std::uint8_t>& bytes, CollisionPlace place) {
        std::string problem;
        for (const col::Model& entry : collisionEntries(bytes.data(), bytes.size(), problem)) {
            place.offset = entry.offset, place.size = entry.size;
            names.try_emplace(asciiLower(entry.name), place);
        }
    };
    if (m.archive == kNone) {
        std::error_code ec;
        std::vector<fs::path> files;
        const fs::path folder = fs::path(m.file).parent_path().empty() ? fs::path(".") : fs::path(m.file).parent_path();
        for (const fs::directory_entry& e : fs::directory_iterator(folder, ec))
            if (hasColExtension(e.path().string())) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            // Found by a search: a link is not followed, and only regular files of bounded size are read.
            RegularFile file;
            std::vector<std::uint8_t> bytes;
            std::string problem;
            if (!file.open(f.string(), Links::refuse, problem) || file.size() > kMaxCollisionFile ||
                !file.readAll(bytes, problem))
                continue;
            index(bytes, CollisionPlace{f.string(), kNone, 0, 0});
        }
    } else {
        const img::Archive& a = *archives[m.archive];
        const auto& entries = a.index().entries;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!hasColExtension(entries[i].name) || !entries[i].problem.empty()) continue;
            std::vector<unsigned char> bytes;
            std::string why;
            if (!a.read(entries[i], bytes, why)) continue;
            index(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), CollisionPlace{a.dataPath(), i, 0, 0});
        }
    }
    return names;
}

bool Converter::collisionFor(const Model& m, col::Model& model)
{
    const auto& names = collisionEntriesOf(m);
    const std::string name = m.archive == kNone ? m.file : archives[m.archive]->index().entries[m.entry].name;
    const auto found = names.find(asciiLower(stemOf(fs::path(name).filename().string())));
    if (found == names.end()) return false;
    const CollisionPlace& place = found->second;
    std::vector<std::uint8_t> bytes;
    if (place.entry == kNone) {
        RegularFile file;
        std::string problem;
        bytes.resize(static_cast<std::size_t>(place.size));
        if (!file.open(place.file, Links::refuse, problem) ||
            !file.readAt(place.offset, bytes.data(), bytes.size(), problem))
            return false;
    } else {
        std::vector<unsigned char> member;
        std::string why;
        const img::Archive& a = *archives[m.archive];
        if (!a.read(a.index().entries[place.entry], member, why) || place.offset + place.size > member.size()) return false;
        bytes.assign(member.begin() + static_cast<std::ptrdiff_t>(place.offset),
                     member.begin() + static_cast<std::ptrdiff_t>(place.offset + place.size));
    }
    col::ReadResult read = col::readCollision(bytes.data(), bytes.size());
    if (read.models.empty()) return false;
    model = std::move(read.models[0]);
    return true;
}

// A model without a collision of its own gets the entry of its name from a
// .col file beside it or in its archive, under its root.
void Converter::addCollisionIfNone(const Model& m)
{
    const Scene& scene = currentScene();
    if (sceneHasCollision(scene)) return;
    INode* root = nullptr;
    for (INode* node : scene.nodes)
        if (root == nullptr && node->GetParentNode() == nullptr) root = node;
    col::Model collision;
    if (collisionFor(m, collision)) addCollisionNodes(collision, root, "collision");
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
        std::vector<unsigned char> bytes;
        if (!a.read(e, bytes, r.reason)) return r;
        int writeError = 0;
        memoryFd = ::memfd_create("orvik-member", MFD_CLOEXEC);
        if (memoryFd < 0 || !writeAll(memoryFd, bytes.data(), bytes.size(), writeError)) {
            r.reason = "cannot hold the member in memory: " + errorText(memoryFd < 0 ? errno : writeError);
            if (memoryFd >= 0) ::close(memoryFd);
            return r;
        }
        file = "/proc/self/fd/" + std::to_string(memoryFd);
        knownAs = m.shown;
    } else {
        r.reason = checkModelFile(m.file);
        if (!r.reason.empty()) return r;
    }

    const std::vector<std::string> targets = targetsOf(m);
    ModelJob job(file, knownAs, opt.shared);
    job.gltf = targets[0];
    if (opt.json) job.dump = targets.back();
    job.printScriptErrors = false;
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
            if (a.read(e, bytes, why)) {
                images.addModelDictionary(a.dataPath() + "/" + e.name, std::move(bytes), warning);
            } else {
                warning = a.dataPath() + "/" + e.name + ": " + why + ", not used";
            }
        }
    };
    // Folders are made only for models that import.
    job.beforeWrite = [this, &m](std::string& why) {
        addCollisionIfNone(m);
        return makeFoldersBelow(opt.outDir, m.relative, why);
    };
    const ModelJobOutcome outcome = job.run(lib);
    if (memoryFd >= 0) ::close(memoryFd);
    resetScene();
    r.importSeconds = outcome.importSeconds;
    r.exportSeconds = outcome.exportSeconds;
    r.texturesSeconds = outcome.texturesSeconds;
    r.writeSeconds = outcome.writeSeconds;
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
            const auto& t = j["time"];
            if (t.is_array() && t.size() == 4) {
                r.importSeconds = t[0].get<double>();
                r.exportSeconds = t[1].get<double>();
                r.texturesSeconds = t[2].get<double>();
                r.writeSeconds = t[3].get<double>();
            }
        }
    }
    ++done;
    if (!r.ok) {
        ++failed;
        clearProgress();
        err << "orvik: " << printable(models[index].shown) << ": " << printable(r.reason) << "\n";
    }
    drawProgress(done == models.size());
}

Json Converter::reportJson(double seconds, unsigned workers) const
{
    Json j;
    j["format"] = "orvik-convert-report";
    j["version"] = 1;
    j["out"] = latin1ToUtf8(opt.outDir);
    j["workers"] = workers;
    j["seconds"] = seconds;
    std::size_t converted = 0, withWarnings = 0, missing = 0;
    double importS = 0, exportS = 0, texturesS = 0, writeS = 0;
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
        Json m;
        m["input"] = latin1ToUtf8(models[i].shown);
        m["status"] = r.ok ? "converted" : "failed";
        m["reason"] = r.ok ? Json(nullptr) : Json(r.reason);
        Json outputs = Json::array();
        for (const std::string& o : r.outputs) outputs.push_back(latin1ToUtf8(o));
        m["outputs"] = outputs;
        m["warnings"] = r.warnings;
        m["missingTextures"] = r.missingTextures;
        m["seconds"] = {{"import", r.importSeconds},
                        {"export", r.exportSeconds},
                        {"textures", r.texturesSeconds},
                        {"write", r.writeSeconds}};
        list.push_back(std::move(m));
    }
    j["models"] = models.size();
    j["converted"] = converted;
    j["withWarnings"] = withWarnings;
    j["failed"] = models.size() - converted;
    j["texturesMissing"] = missing;
    j["workerSeconds"] = {{"import", importS}, {"export", exportS}, {"textures", texturesS}, {"write", writeS}};
    j["results"] = std::move(list);
    return j;
}

void Converter::printTable(double seconds, unsigned workers)
{
    const Json j = reportJson(seconds, workers);
    const auto row = [&](const char* label, std::size_t n) {
        out << std::left << std::setw(20) << label << std::right << std::setw(8) << n << "\n";
    };
    row("models converted", j["converted"].get<std::size_t>());
    row("  with warnings", j["withWarnings"].get<std::size_t>());
    row("failed", j["failed"].get<std::size_t>());
    row("textures missing", j["texturesMissing"].get<std::size_t>());
    const auto& ws = j["workerSeconds"];
    out << std::fixed << std::setprecision(2) << models.size() << " models in " << seconds << " s ("
        << (seconds > 0 ? double(models.size()) / seconds : 0.0) << " models/s) with " << workers
        << (workers == 1 ? " worker" : " workers") << "; worker time: import " << ws["import"].get<double>()
        << " s, export " << ws["export"].get<double>() << " s, textures " << ws["textures"].get<double>()
        << " s, writing " << ws["write"].get<double>() << " s\n";
    out.flush();
}

int Converter::run()
{
    std::string why;
    if (!collect(why)) {
        err << "orvik: " << printable(why) << "\n";
        return kExitUsage;
    }
    const std::string badFolder = checkBitmapPaths(opt.shared);
    if (!badFolder.empty()) {
        err << "orvik: " << printablePath(badFolder) << "\n";
        return kExitUsage;
    }
    for (const std::string& d : opt.shared.dictionaries) {
        // Each worker reads the dictionaries again; one that cannot be used
        // is a usage error before any model is converted.
        ModelImages check(d, {});
        if (!check.addDictionary(d, why)) {
            err << "orvik: --txd " << printable(why) << "\n";
            return kExitUsage;
        }
    }
    if (models.empty()) {
        err << "orvik: no .dff models found in the inputs\n";
        return kExitUsage;
    }
    if (!opt.report.empty() && inputFiles.holds(opt.report)) {
        err << "orvik: " << printable(opt.report) << ": the report would replace an input\n";
        return kExitUsage;
    }
    if (!makeFolder(opt.outDir, why)) {
        err << "orvik: " << printable(opt.outDir) << ": " << printable(why) << "\n";
        return kExitUsage;
    }
    settleOutputs();
    results.assign(models.size(), Result{});

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
            err << "orvik: " << printable(opt.report) << ": " << why << "\n";
            printTable(seconds, workers);
            return kExitUsage;
        }
    }
    printTable(seconds, workers);
    return failed == 0 ? kExitOk : kExitSomeFailed;
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

int runConvert(PluginLibrary& lib, const ConvertOptions& options, std::ostream& out, std::ostream& err)
{
    Converter c(lib, options, out, err);
    return c.run();
}

}  // namespace orvik

namespace orvik {

int runConvertCommand(const Invocation& inv, ConvertOptions& options)
{
    const std::string plugin = pluginToLoad(inv, options.shared.plugin);
    runMatchingHost(inv, plugin);
    PluginLibrary lib;
    openLibrary(lib, plugin);
    options.progress = drawsProgress(options.shared);
    const int status = runConvert(lib, options, std::cout, std::cerr);
    lib.close();
    return status;
}

}  // namespace orvik
