// Materials, parameter blocks, bitmap textures, coordinate generators and
// the bitmap file search of the stand-in host.
#include "host/mtl.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "host/control.h"
#include "host/dump.h"
#include "host/scene.h"

namespace fs = std::filesystem;

// ---- IParamBlock2 ----

IParamBlock2::Param* IParamBlock2::find(ParamID id, ParamType type)
{
    for (Param& p : params)
        if (p.id == id) return p.type == type ? &p : nullptr;
    return nullptr;
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, float v, int tabIndex)
{
    (void)t, (void)tabIndex;
    Param* p = find(id, ParamType::Float);
    if (!p) return FALSE;
    p->f = v;
    p->written = true;
    return TRUE;
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, int v, int tabIndex)
{
    (void)t, (void)tabIndex;
    Param* p = find(id, ParamType::Int);
    if (!p) return FALSE;
    p->i = v;
    p->written = true;
    return TRUE;
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, Color& v, int tabIndex)
{
    Point3 p(v.r, v.g, v.b);
    return SetValue(id, t, p, tabIndex);
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, Point3& v, int tabIndex)
{
    (void)t, (void)tabIndex;
    Param* p = find(id, ParamType::Color);
    if (!p) return FALSE;
    p->c = v;
    p->written = true;
    return TRUE;
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, Texmap* v, int tabIndex)
{
    (void)t, (void)tabIndex;
    Param* p = find(id, ParamType::Texmap);
    if (!p) return FALSE;
    p->tex = v;
    p->written = true;
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, float& v, Interval& ivalid, int tabIndex)
{
    (void)t, (void)ivalid, (void)tabIndex;
    const Param* p = find(id, ParamType::Float);
    if (!p) return FALSE;
    v = p->f;
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, int& v, Interval& ivalid, int tabIndex)
{
    (void)t, (void)ivalid, (void)tabIndex;
    const Param* p = find(id, ParamType::Int);
    if (!p) return FALSE;
    v = p->i;
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, Color& v, Interval& ivalid, int tabIndex)
{
    (void)t, (void)ivalid, (void)tabIndex;
    const Param* p = find(id, ParamType::Color);
    if (!p) return FALSE;
    v = Color(p->c);
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, Texmap*& v, Interval& ivalid, int tabIndex)
{
    (void)t, (void)ivalid, (void)tabIndex;
    const Param* p = find(id, ParamType::Texmap);
    if (!p) return FALSE;
    v = p->tex;  // null while never set
    return TRUE;
}

// ---- Multi/sub-object material ----

void MultiMtl::SetNumSubMtls(int n)
{
    subs.resize(n < 0 ? 0 : static_cast<std::size_t>(n), nullptr);
}

Mtl* MultiMtl::GetSubMtl(int i)
{
    return (i >= 0 && static_cast<std::size_t>(i) < subs.size()) ? subs[static_cast<std::size_t>(i)] : nullptr;
}

void MultiMtl::SetSubMtl(int i, Mtl* m)
{
    // A slot outside the count is refused, as the host's own material does.
    if (i >= 0 && static_cast<std::size_t>(i) < subs.size()) subs[static_cast<std::size_t>(i)] = m;
}

// ---- Game material ----

namespace {

// Kinds of the game material's parameters 0 to 21.
std::vector<IParamBlock2::Param> gameMaterialParams()
{
    using K = ParamType;
    static constexpr K kinds[22] = {
        K::Float, K::Float, K::Float,  K::Color, K::Texmap, K::Int,   K::Int,   K::Texmap, K::Int, K::Float, K::Texmap,
        K::Int,   K::Color, K::Texmap, K::Int,   K::Int,    K::Float, K::Float, K::Int,    K::Int, K::Int,   K::Int,
    };
    std::vector<IParamBlock2::Param> defs;
    defs.reserve(22);
    for (int id = 0; id < 22; ++id) {
        IParamBlock2::Param p;
        p.id = static_cast<ParamID>(id);
        p.type = kinds[id];
        if (p.type == K::Float) p.f = 0.0f;
        if (p.type == K::Int) p.i = 0;
        defs.push_back(p);
    }
    return defs;
}

}  // namespace

GameMtl::GameMtl() : pblock(gameMaterialParams()) {}

// ---- Coordinate generator parameters ----

Animatable* UVGenParams::SubAnim(int i)
{
    return (i >= 0 && i < 4) ? controllers[i] : nullptr;
}

BOOL UVGenParams::AssignController(Animatable* control, int subAnim)
{
    if (subAnim < 0 || subAnim >= 4) return FALSE;
    auto* fc = dynamic_cast<FloatController*>(control);
    if (!fc) return FALSE;  // offsets and tilings are floats
    controllers[subAnim] = fc;
    return TRUE;
}

// ---- Bitmap textures ----

namespace {

bool isRegularFile(const fs::path& p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

}  // namespace

void BitmapTex::SetMapName(const MCHAR* file, bool isUIAction)
{
    (void)isUIAction;
    if (!file) {
        mapName.clear();
        hasMapName = false;
        found = false;
        return;
    }
    mapName = file;
    hasMapName = true;
    if (mapName.empty() || mapName.front() != '/') {  // not an absolute path
        found = false;
        return;
    }
    Scene::FileTests& tests = currentScene().mapFileTests;
    if (!tests.importing) {
        found = isRegularFile(fs::path(mapName));
        return;
    }
    const auto [slot, fresh] = tests.regular.try_emplace(mapName, false);
    if (fresh) slot->second = isRegularFile(fs::path(mapName));
    found = slot->second;
}

BitmapTex* NewDefaultBitmapTex()
{
    auto* tex = new BitmapTex;
    currentScene().adopt(tex);
    return tex;
}

// ---- Bitmap file search ----

std::string_view Scene::FolderListing::spellingOf(std::string_view lowered) const
{
    const std::string_view all(text);
    const auto found =
        std::lower_bound(entries.begin(), entries.end(), lowered,
                         [all](const Entry& e, std::string_view key) { return all.substr(e.at, e.length) < key; });
    if (found == entries.end() || all.substr(found->at, found->length) != lowered) return {};
    return all.substr(found->at + found->length, found->length);
}

namespace {

// Lists folder into listing: the names by their lower-case form, each to
// its smallest spelling, so that the answer does not depend on the order the
// folder is listed in. Listed with the system's directory calls into a buffer
// on the stack: no path object per entry, and no directory stream, whose
// 32 KB buffer would be memory taken fresh at every listing.
void listFolder(const std::string& where, Scene::FolderListing& listing)
{
    const int dir = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;  // not listed: the exact spelling only
    std::string& text = listing.text;
    std::vector<Scene::FolderListing::Entry>& entries = listing.entries;
    alignas(dirent64) char buffer[8192];
    ssize_t got = 0;
    while ((got = ::getdents64(dir, buffer, sizeof buffer)) > 0) {
        const auto end = static_cast<std::size_t>(got);
        for (std::size_t at = 0; at + offsetof(dirent64, d_name) < end;) {
            unsigned short length = 0;  // of the record, name and padding included
            std::memcpy(&length, buffer + at + offsetof(dirent64, d_reclen), sizeof length);
            const std::size_t nameStart = at + offsetof(dirent64, d_name);
            const std::size_t recordEnd = at + length > nameStart && at + length <= end ? at + length : end;
            const char* nameAt = buffer + nameStart;
            const std::string_view name(nameAt, strnlen(nameAt, recordEnd - nameStart));
            at = recordEnd;
            if (name == "." || name == "..") continue;
            const std::size_t start = text.size();
            text.append(name);
            for (std::size_t i = start; i < text.size(); ++i)
                if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] - 'A' + 'a');
            text.append(name);
            entries.push_back({start, name.size()});
        }
    }
    const bool complete = got == 0;
    ::close(dir);
    if (!complete) {  // listed in part: the exact spelling only
        text.clear();
        entries.clear();
        return;
    }
    // By lower-case form, then spelling; the first of each form stays.
    const std::string_view all(text);
    auto lower = [all](const Scene::FolderListing::Entry& e) { return all.substr(e.at, e.length); };
    auto spelling = [all](const Scene::FolderListing::Entry& e) { return all.substr(e.at + e.length, e.length); };
    std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
        const int byLower = lower(a).compare(lower(b));
        return byLower != 0 ? byLower < 0 : spelling(a) < spelling(b);
    });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [&](const auto& a, const auto& b) { return lower(a) == lower(b); }),
                  entries.end());
    listing.listed = true;
}

// Listings kept from one import to the next, for the folders listed last: a
// folder of thousands of models converted one by one would otherwise be
// listed in full for every model. A kept listing is taken again only when
// the folder is the same one with the same modification and change times
// as when it was listed, and it is kept only when its modification time was
// at least kSettledSeconds older than the listing: a folder changed within
// the same tick of its clock as the listing (coarse on some file systems)
// would show the same times without the change.
struct KeptListing {
    std::shared_ptr<const Scene::FolderListing> listing;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};
    std::uint64_t lastUse = 0;
};
constexpr std::size_t kKeptFolders = 16;
constexpr std::time_t kSettledSeconds = 2;

std::unordered_map<std::string, KeptListing>& keptListings()
{
    static std::unordered_map<std::string, KeptListing> kept;  // the host imports on one thread at a time
    return kept;
}

std::size_t& foldersListed()
{
    static std::size_t count = 0;
    return count;
}

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::shared_ptr<const Scene::FolderListing> keptOrListed(const std::string& where)
{
    static std::uint64_t uses = 0;
    ++uses;
    auto& kept = keptListings();
    struct stat st {};
    const bool stamped = ::stat(where.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const auto known = kept.find(where);
    if (stamped && known != kept.end()) {
        KeptListing& k = known->second;
        if (k.device == st.st_dev && k.inode == st.st_ino && sameTime(k.modified, st.st_mtim) &&
            sameTime(k.changed, st.st_ctim)) {
            k.lastUse = uses;
            return k.listing;
        }
    }
    timespec listedAt{};
    clock_gettime(CLOCK_REALTIME, &listedAt);
    auto listing = std::make_shared<Scene::FolderListing>();
    listFolder(where, *listing);
    ++foldersListed();
    if (!stamped || !listing->listed || listedAt.tv_sec - st.st_mtim.tv_sec <= kSettledSeconds) {
        if (known != kept.end()) kept.erase(known);
        return listing;
    }
    if (known == kept.end() && kept.size() >= kKeptFolders) {
        kept.erase(std::min_element(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        }));
    }
    kept[where] = KeptListing{listing, st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, uses};
    return listing;
}

// The listing of folder for this import: the same one for every look-up of
// the import (held in the scene), so that a folder another program keeps
// changing gives one answer throughout, and taken from the kept listings or
// listed once.
const Scene::FolderListing& listingOf(const fs::path& folder)
{
    // Looked up by the folder's own text, without copying the path: a car's
    // textures ask for the listing of the same folder a few hundred times.
    static const std::string kHere = ".";
    const std::string& where = folder.empty() ? kHere : folder.native();
    auto& listings = currentScene().folderListings;
    if (const auto known = listings.find(where); known != listings.end()) return *known->second;
    return *(listings[where] = keptOrListed(where));
}

// The entry of folder whose name equals name, the exact spelling first, then
// ignoring ASCII case (the host's file system compares names that way).
std::optional<fs::path> entryIgnoringCase(const fs::path& folder, const std::string& name)
{
    const fs::path exact = folder / name;
    std::error_code ec;
    const bool special = name.empty() || name == "." || name == "..";
    const Scene::FolderListing* listing = special ? nullptr : &listingOf(folder);
    // Special names, and folders that can be searched but not listed: the
    // exact spelling only.
    if (listing == nullptr || !listing->listed) {
        if (fs::exists(exact, ec)) return exact;
        return std::nullopt;
    }
    const std::string_view match = listing->spellingOf(asciiLowered(name));
    if (match.empty()) return std::nullopt;
    if (match == name || fs::exists(exact, ec)) return exact;
    return folder / match;
}

// The regular file that relative names below folder, each component matched
// ignoring case.
std::optional<fs::path> resolveIn(const fs::path& folder, const fs::path& relative)
{
    fs::path current = folder;
    bool any = false;
    for (const fs::path& part : relative) {
        const std::string s = part.string();
        if (s.empty()) continue;
        std::optional<fs::path> next = entryIgnoringCase(current, s);
        if (!next) return std::nullopt;
        current = *next;
        any = true;
    }
    if (!any || !isRegularFile(current)) return std::nullopt;
    return current;
}

// An absolute name as it stands, else each component matched ignoring case.
std::optional<fs::path> lookUpAsPath(const fs::path& name)
{
    if (isRegularFile(name)) return name;
    return resolveIn(name.root_path(), name.relative_path());
}

// Writes the full form of found into out; false when it does not fit.
bool writeFullPath(const fs::path& found, MCHAR* out)
{
    std::error_code ec;
    fs::path full = fs::absolute(found, ec);
    if (ec) full = found;
    const std::string s = full.lexically_normal().string();
    if (s.size() > static_cast<std::size_t>(MAX_PATH - 1)) return false;
    std::memcpy(out, s.c_str(), s.size() + 1);
    return true;
}

// The folders a relative name is searched in, in order: the imported file's
// folder, then the bitmap paths. Made again only when the imported file or
// the bitmap paths change, not at every look-up.
const std::vector<fs::path>& searchFolders(Scene& scene)
{
    Scene::BitmapSearch& search = scene.bitmapSearch;
    if (search.made && search.importFile == scene.importFile && search.bitmapPaths == scene.options.bitmapPaths)
        return search.folders;
    search.importFile = scene.importFile;
    search.bitmapPaths = scene.options.bitmapPaths;
    search.folders.clear();
    search.listings.clear();
    if (!scene.importFile.empty()) {
        fs::path folder = fs::path(scene.importFile).parent_path();
        search.folders.push_back(folder.empty() ? fs::path(".") : folder);
    }
    for (const std::string& p : scene.options.bitmapPaths)
        if (!p.empty()) search.folders.emplace_back(p);
    search.made = true;
    return search.folders;
}

// The listing of the search's folder i, found in the scene's listings once
// per import: every candidate name of every texture asks for it.
const Scene::FolderListing& searchListing(Scene& scene, std::size_t i)
{
    Scene::BitmapSearch& search = scene.bitmapSearch;
    if (search.listings.size() != search.folders.size()) search.listings.assign(search.folders.size(), nullptr);
    if (search.listings[i] == nullptr) search.listings[i] = &listingOf(search.folders[i]);
    return *search.listings[i];
}

// True when the listing of the search's folder i tells that a name of one
// component (no separator, not "." or "..") is not there in any spelling,
// without any path being made: most candidate names of a texture are not
// there.
bool listedAsAbsent(Scene& scene, std::size_t i, std::string_view lowered)
{
    const Scene::FolderListing& listing = searchListing(scene, i);
    return listing.listed && listing.spellingOf(lowered).empty();
}

}  // namespace

namespace {

// The bitmap search itself: a full path as it stands, a relative name in
// each search folder in turn.
BOOL searchBitmap(Scene& scene, const MCHAR* file, MCHAR* path, bool* listedAbsent = nullptr)
{
    if (listedAbsent != nullptr) *listedAbsent = false;
    // A full path is looked up as it stands and nowhere else. A relative name
    // is never resolved against the working folder of this process, which is
    // not the host's.
    if (file[0] == '/') {
        const auto found = lookUpAsPath(fs::path(file));
        return found && writeFullPath(*found, path) ? TRUE : FALSE;
    }

    const std::string_view text(file);
    const bool oneComponent = text.find('/') == std::string_view::npos && text != "." && text != "..";
    // The lower-case form in a buffer of the call's own: no string made.
    char lowerText[MAX_PATH];
    const bool lowerable = oneComponent && text.size() <= sizeof lowerText;
    if (lowerable) {
        for (std::size_t i = 0; i < text.size(); ++i) lowerText[i] = asciiLowered(text[i]);
    }
    const std::string_view lowered(lowerText, lowerable ? text.size() : 0);
    const std::vector<fs::path>& folders = searchFolders(scene);
    bool everyFolderListed = lowerable;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (lowerable && listedAsAbsent(scene, i, lowered)) continue;
        everyFolderListed = false;
        if (auto found = resolveIn(folders[i], fs::path(file)); found && writeFullPath(*found, path)) return TRUE;
    }
    if (listedAbsent != nullptr) *listedAbsent = everyFolderListed;
    return FALSE;
}

}  // namespace

std::size_t bitmapFolderListings()
{
    return foldersListed();
}

BOOL BMMGetFullFilename(const MCHAR* file, MCHAR* path)
{
    if (!file || !path || file[0] == '\0') return FALSE;
    Scene& scene = currentScene();
    if (!scene.mapFileTests.importing) return searchBitmap(scene, file, path);
    // Looked up by the name's own text: no string is made for a name asked before.
    auto known = scene.bitmapLookups.find(std::string_view(file));
    if (known == scene.bitmapLookups.end()) {
        // A name every folder's listing lacks is not kept: the listings,
        // kept for the import, give the same answer again as cheaply.
        bool listedAbsent = false;
        const BOOL found = searchBitmap(scene, file, path, &listedAbsent);
        if (!listedAbsent) scene.bitmapLookups.emplace(file, found ? std::string(path) : std::string());
        return found;
    }
    if (known->second.empty()) return FALSE;
    std::memcpy(path, known->second.c_str(), known->second.size() + 1);
    return TRUE;
}
