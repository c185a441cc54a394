#include "cli/ConvertPlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ostream>

#include "cli/ModelJob.h"
#include "support/Output.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace orvik {

namespace fs = std::filesystem;

void ConvertPlan::addModelFile(const std::string& path, const std::string& relative)
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

// A folder and its subfolders (links to folders are not followed): each
// that cannot be listed is one line and fails the run, the rest still
// converts.
void ConvertPlan::walkFolder(const fs::path& folder, std::vector<fs::path>& found)
{
    std::error_code ec;
    std::vector<fs::path> subfolders;
    fs::directory_iterator it(folder, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        const fs::file_status st = it->symlink_status(typeEc);
        if (fs::is_directory(st)) {
            subfolders.push_back(it->path());
        } else if (endsWithNoCase(it->path().filename().string(), ".dff") && it->is_regular_file(typeEc)) {
            found.push_back(it->path());
        }
    }
    if (ec) problems.push_back(folder.string() + ": cannot be listed: " + errorText(ec.value()));
    for (const fs::path& sub : subfolders) walkFolder(sub, found);
}

bool ConvertPlan::addFolder(const std::string& folder, std::string& why)
{
    std::error_code ec;
    fs::directory_iterator first(folder, ec);
    if (ec) {
        why = folder + ": cannot be listed: " + errorText(ec.value());
        return false;
    }
    std::vector<fs::path> found;
    walkFolder(folder, found);
    std::sort(found.begin(), found.end());
    for (const fs::path& p : found) {
        const std::string rel = p.lexically_relative(folder).generic_string();
        addModelFile(p.string(), rel.substr(0, rel.size() - 4));
    }
    return true;
}

bool ConvertPlan::addArchive(const std::string& path, std::string& why)
{
    auto archive = std::make_unique<img::Archive>();
    if (!archive->open(path, why)) return false;
    // The same archive named twice (by its .img and its .dir) is read once.
    for (const auto& a : archives) {
        if (sameFile(a->dataPath(), archive->dataPath())) return true;
    }
    inputFiles.add(archive->dataPath());
    inputFiles.add(archive->indexPath());
    const std::size_t archiveNumber = archives.size();
    const std::string folder = stemOf(fs::path(archive->dataPath()).filename().string());
    const img::Index& index = archive->index();
    const auto& entries = index.entries;
    // The first readable member of each dictionary name, in any case.
    std::map<std::string, std::size_t> dictionaryEntries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const std::string name(entries[j].name());
        if (entries[j].readable() && !entries[j].empty() && endsWithNoCase(name, ".txd")) {
            dictionaryEntries.emplace(asciiLower(name), j);
        }
    }
    std::size_t outside = 0;
    std::size_t empty = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const img::Entry& e = entries[i];
        if (e.outside()) {
            ++outside;  // counted in one line, not one model each
            continue;
        }
        const std::string name(e.name());
        if (!endsWithNoCase(name, ".dff")) continue;
        if (e.empty()) {
            ++empty;  // no bytes, no model: counted in one line
            continue;
        }
        if (e.problem == img::Problem::overlap) {
            overlapping.push_back({static_cast<std::uint32_t>(archiveNumber), static_cast<std::uint32_t>(i)});
            continue;
        }
        Model m;
        m.shown = archive->dataPath() + "/" + name;
        m.file = archive->dataPath();
        m.archive = archiveNumber;
        m.entry = i;
        m.relative = folder + "/" + name.substr(0, name.size() - 4);
        m.problem = img::nameProblem(name);
        if (m.problem.empty()) m.problem = index.problemText(e);
        const auto dictionary = dictionaryEntries.find(asciiLower(stemOf(name) + ".txd"));
        if (dictionary != dictionaryEntries.end()) m.dictionaryEntry = dictionary->second;
        models.push_back(std::move(m));
    }
    if (outside > 0) {
        problems.push_back(archive->dataPath() + ": " + plural(outside, "entry points", "entries point") +
                           " outside the archive; passed over");
        entriesOutside += outside;
    }
    if (empty > 0) {
        notes.push_back(archive->dataPath() + ": " + plural(empty, ".dff member is", ".dff members are") +
                        " empty; passed over");
        emptyMembers += empty;
    }
    archives.push_back(std::move(archive));
    return true;
}

bool ConvertPlan::collect(std::string& why)
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

std::vector<std::string> ConvertPlan::targetsOf(const Model& m) const
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
void ConvertPlan::settleOutputs()
{
    // Outputs and the folders they need, below DIR, in lower case.
    const auto extensions = [this] {
        std::vector<std::string> e =
            opt.gltfText ? std::vector<std::string>{".gltf", ".bin"} : std::vector<std::string>{".glb"};
        if (opt.json) e.push_back(".json");
        return e;
    }();
    std::map<std::string, std::size_t> owner;
    std::map<std::string, std::size_t> folderOwner;
    for (std::size_t i = 0; i < models.size(); ++i) {
        Model& m = models[i];
        if (!m.problem.empty()) continue;
        const std::string key = asciiLower(m.relative);
        const auto [at, fresh] = owner.emplace(key, i);
        if (!fresh) {
            m.problem = "its output would be the same as that of " + models[at->second].shown;
            continue;
        }
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            folderOwner.emplace(key.substr(0, slash), i);
        }
    }
    // A model's output that is the folder of another's outputs: the later
    // of the two in the run's order fails, whatever the number of workers.
    for (std::size_t i = 0; i < models.size(); ++i) {
        if (!models[i].problem.empty()) continue;
        for (const std::string& ext : extensions) {
            const auto clash = folderOwner.find(asciiLower(models[i].relative) + ext);
            if (clash == folderOwner.end() || !models[clash->second].problem.empty()) continue;
            const std::size_t later = std::max(i, clash->second);
            const std::size_t earlier = std::min(i, clash->second);
            models[later].problem = later == i ? "its output " + models[i].relative + ext + " would be a folder of " +
                                                     models[earlier].shown + "'s outputs"
                                               : "its outputs' folder would be the output " + models[earlier].relative +
                                                     ext + " of " + models[earlier].shown;
        }
    }
    for (Model& m : models) {
        if (!m.problem.empty()) continue;
        const std::vector<std::string> targets = targetsOf(m);
        for (const std::string& t : targets) {
            struct stat st {};
            if (inputFiles.holds(t)) {
                m.problem = "its output " + t + " would replace an input";
            } else if (::lstat(t.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                m.problem = "its output " + t + " is a folder";
            } else if (::lstat(t.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
                m.problem = "its output " + t + " is not a regular file";
            }
            if (!m.problem.empty()) break;
        }
        // A .bin is replaced only beside the .gltf that refers to it.
        struct stat st {};
        if (m.problem.empty() && opt.gltfText && ::lstat(targets[1].c_str(), &st) == 0 &&
            !bufferBelongsToGltf(targets[0], targets[1])) {
            m.problem = "its output " + targets[1] + " exists and is not the buffer file of " + targets[0];
        }
    }
}

// Why the report cannot be written where it is asked for ("" when it can):
// checked as every output is, and never an input or a model's output.
std::string ConvertPlan::checkReport() const
{
    if (opt.report.empty()) return {};
    std::string why = checkOutputTargets({opt.report}, {});
    if (!why.empty()) return why;
    if (inputFiles.holds(opt.report)) return opt.report + ": the report would replace an input";
    char real[PATH_MAX];
    if (::realpath(opt.outDir.c_str(), real) == nullptr) return {};
    const std::string report = asciiLower(outputKey(opt.report));
    const std::string root = std::string(real) + "/";
    if (report.compare(0, root.size(), asciiLower(root)) != 0) return {};
    for (const Model& m : models) {
        for (const std::string& t : targetsOf(m)) {
            if (asciiLower(root + t.substr(opt.outDir.size() + 1)) == report) {
                return opt.report + ": the report would replace the output of " + m.shown;
            }
        }
    }
    return {};
}

void ConvertPlan::writePassedOver(std::ostream& err) const
{
    for (const std::string& line : problems) err << "orvik: " << printablePath(line) << "\n";
    for (const Overlap& o : overlapping) {
        const img::Archive& a = *archives[o.archive];
        const img::Entry& e = a.index().entries[o.entry];
        err << "orvik: " << printablePath(a.dataPath() + "/" + std::string(e.name())) << ": "
            << printablePath(a.index().problemText(e)) << "\n";
    }
    for (const std::string& line : notes) err << "orvik: " << printablePath(line) << "\n";
}

}  // namespace orvik
