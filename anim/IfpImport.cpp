// The animation importer's answers to the host, its descriptor and options,
// and DoImport: the package read whole, one animation applied, what happened
// written to the host's log.
#include "anim/IfpImport.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

namespace {

constexpr const char* kLogTitle = "IFP import";
// A package larger than this is refused before it is read.
constexpr std::uint64_t kMaxPackageBytes = std::uint64_t{256} << 20;
// Missing bones named in the log line, at most.
constexpr std::size_t kMissingNamed = 5;

bool sameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The whole file, or false with the reason.
bool readWholeFile(const MCHAR* name, std::vector<std::uint8_t>& bytes, std::string& why)
{
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        why = "cannot be opened";
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) {
        why = "cannot be read";
        return false;
    }
    if (static_cast<std::uint64_t>(size) > kMaxPackageBytes) {
        why = "is " + std::to_string(size) + " bytes, more than an animation package can be";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0, std::ios::beg);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        why = "cannot be read";
        return false;
    }
    return true;
}

// What tells a file apart from the one read before: its size and
// modification time.
struct FileStamp {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified{};
    bool operator==(const FileStamp&) const = default;
};

bool stampOf(const std::string& path, FileStamp& stamp)
{
    std::error_code ec;
    stamp.size = std::filesystem::file_size(path, ec);
    if (ec) return false;
    stamp.modified = std::filesystem::last_write_time(path, ec);
    return !ec;
}

class Options : public IfpImportOptions {
public:
    void SetAnimationName(const MCHAR* name) override { animationName = name ? name : ""; }
    const MCHAR* GetAnimationName() override { return animationName.c_str(); }
    BOOL LoadPackage(const MCHAR* file) override
    {
        kept.reset();
        message.clear();
        try {
            std::vector<std::uint8_t> bytes;
            if (file == nullptr || !stampOf(file, keptStamp) || !readWholeFile(file, bytes, message)) {
                if (message.empty()) message = "cannot be opened";
                return FALSE;
            }
            kept = std::make_unique<ifp::Package>(ifp::readPackage(bytes.data(), bytes.size()));
            keptFile = file;
            message = kept->damage;
            return TRUE;
        } catch (const std::bad_alloc&) {
            kept.reset();
            message = "out of memory";
        }
        return FALSE;
    }
    int GetAnimationCount() override { return kept ? static_cast<int>(kept->animations.size()) : 0; }
    const MCHAR* GetAnimationNameAt(int i) override
    {
        if (!kept || i < 0 || static_cast<std::size_t>(i) >= kept->animations.size()) return nullptr;
        return kept->animations[static_cast<std::size_t>(i)].name.c_str();
    }
    const MCHAR* GetPackageMessage() override { return message.c_str(); }

    // The package LoadPackage kept, when it is this file's and the file
    // still has the size and modification time it had then; else null.
    const ifp::Package* keptFor(const std::string& file) const
    {
        FileStamp stamp;
        return kept && file == keptFile && stampOf(file, stamp) && stamp == keptStamp ? kept.get() : nullptr;
    }

private:
    std::string animationName;
    std::string message;
    std::unique_ptr<ifp::Package> kept;
    std::string keptFile;
    FileStamp keptStamp;
};

Options& options()
{
    static Options o;
    return o;
}

const ifp::Animation* chooseAnimation(const ifp::Package& package, const std::string& wanted)
{
    if (wanted.empty()) return package.animations.empty() ? nullptr : &package.animations.front();
    for (const ifp::Animation& a : package.animations) {
        if (sameText(a.name, wanted)) return &a;
    }
    return nullptr;
}

std::string missingList(const std::vector<std::string>& names)
{
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < kMissingNamed; ++i) {
        list += (i ? ", \"" : "\"") + names[i] + "\"";
    }
    if (names.size() > kMissingNamed) list += ", ...";
    return list;
}

}  // namespace

int IfpImport::ExtCount()
{
    return 1;
}
const MCHAR* IfpImport::Ext(int n)
{
    (void)n;
    return "ifp";
}
const MCHAR* IfpImport::LongDesc()
{
    return "GTA 3 series IFP animation packages";
}
const MCHAR* IfpImport::ShortDesc()
{
    return "Grand Theft Auto IFP";
}
const MCHAR* IfpImport::AuthorName()
{
    return "The Orvik developers";
}
const MCHAR* IfpImport::CopyrightMessage()
{
    return "Copyright (c) The Orvik developers";
}
const MCHAR* IfpImport::OtherMessage1()
{
    return "";
}
const MCHAR* IfpImport::OtherMessage2()
{
    return "";
}
unsigned int IfpImport::Version()
{
    return 100;
}
void IfpImport::ShowAbout(void* hWnd)
{
    (void)hWnd;
}
// The animation moves what is there: the views stay where they are.
BOOL IfpImport::ZoomExtents()
{
    return 0;
}

int IfpImport::DoImport(const MCHAR* name, ImpInterface* ii, Interface* ip, BOOL suppressPrompts)
{
    (void)ii, (void)suppressPrompts;
    if (ip == nullptr || name == nullptr) return 0;
    LogSys* log = ip->Log();
    try {
        // The package LoadPackage kept, else the file read now.
        ifp::Package readNow;
        const ifp::Package* kept = options().keptFor(name);
        if (kept == nullptr) {
            std::vector<std::uint8_t> bytes;
            std::string why;
            if (!readWholeFile(name, bytes, why)) {
                log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: %s", name, why.c_str());
                return 0;
            }
            readNow = ifp::readPackage(bytes.data(), bytes.size());
            if (!readNow.damage.empty()) {
                log->LogEntry(SYSLOG_WARN, FALSE, kLogTitle, "%s: %zu animations read, then %s", name,
                              readNow.animations.size(), readNow.damage.c_str());
            }
        }
        const ifp::Package& package = kept != nullptr ? *kept : readNow;
        const std::string wanted = options().GetAnimationName();
        const ifp::Animation* animation = chooseAnimation(package, wanted);
        if (animation == nullptr) {
            if (wanted.empty()) {
                log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: no animation to import", name);
            } else {
                log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: no animation named \"%s\"", name, wanted.c_str());
            }
            return 0;
        }
        const anim::Applied applied = anim::applyAnimation(*ip, *animation);
        if (!applied.missing.empty()) {
            log->LogEntry(SYSLOG_WARN, FALSE, kLogTitle,
                          "animation \"%s\": %zu of its %zu bones are not in the scene: %s", animation->name.c_str(),
                          applied.missing.size(), animation->bones.size(), missingList(applied.missing).c_str());
        }
        log->LogEntry(SYSLOG_INFO, FALSE, kLogTitle, "animation \"%s\": %zu bones keyed, %zu keys, ticks %d to %d",
                      animation->name.c_str(), applied.bonesMatched, applied.keysSet, applied.range.Start(),
                      applied.range.End());
        return applied.bonesMatched > 0 ? 1 : 0;
    } catch (const std::bad_alloc&) {
        log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: out of memory", name);
    } catch (...) {
        log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: the import failed", name);
    }
    return 0;
}

// The descriptor: static storage, made on first use.
HINSTANCE ifpModuleHandle = nullptr;

ClassDesc2* GetIfpImportDesc()
{
    static IfpImportClassDesc desc;
    return &desc;
}

int IfpImportClassDesc::IsPublic()
{
    return 1;
}
void* IfpImportClassDesc::Create(BOOL loading)
{
    (void)loading;
    return new (std::nothrow) IfpImport();
}
const MCHAR* IfpImportClassDesc::ClassName()
{
    return "Orvik IFP animation";
}
SClass_ID IfpImportClassDesc::SuperClassID()
{
    return SCENE_IMPORT_CLASS_ID;
}
Class_ID IfpImportClassDesc::ClassID()
{
    return IFP_IMPORT_CLASS_ID;
}
const MCHAR* IfpImportClassDesc::Category()
{
    return "Game animation importer";
}
HINSTANCE IfpImportClassDesc::HInstance()
{
    return ifpModuleHandle;
}
FPInterface* IfpImportClassDesc::GetInterface(Interface_ID id)
{
    return id == IFP_IMPORT_OPTIONS_ID ? &options() : nullptr;
}
