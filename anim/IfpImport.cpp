// The animation importer's answers to the host, its descriptor and options,
// and DoImport: the package read whole, one animation applied, what happened
// written to the host's log.
#include "anim/IfpImport.h"

#include <cctype>
#include <fstream>
#include <new>

namespace {

constexpr const char* kLogTitle = "IFP import";
// A package larger than this is refused before it is read.
constexpr std::uint64_t kMaxPackageBytes = std::uint64_t{256} << 20;
// Missing bones named in the log line, at most.
constexpr std::size_t kMissingNamed = 5;

class Options : public IfpImportOptions {
public:
    void SetAnimationName(const MCHAR* name) override { animationName = name ? name : ""; }
    const MCHAR* GetAnimationName() override { return animationName.c_str(); }

private:
    std::string animationName;
};

Options& options()
{
    static Options o;
    return o;
}

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

int IfpImport::ExtCount() { return 1; }
const MCHAR* IfpImport::Ext(int n)
{
    (void)n;
    return "ifp";
}
const MCHAR* IfpImport::LongDesc() { return "GTA 3 series IFP animation packages"; }
const MCHAR* IfpImport::ShortDesc() { return "Grand Theft Auto IFP"; }
const MCHAR* IfpImport::AuthorName() { return "The Orvik developers"; }
const MCHAR* IfpImport::CopyrightMessage() { return "Copyright (c) The Orvik developers"; }
const MCHAR* IfpImport::OtherMessage1() { return ""; }
const MCHAR* IfpImport::OtherMessage2() { return ""; }
unsigned int IfpImport::Version() { return 100; }
void IfpImport::ShowAbout(void* hWnd) { (void)hWnd; }
// The animation moves what is there: the views stay where they are.
BOOL IfpImport::ZoomExtents() { return 0; }

int IfpImport::DoImport(const MCHAR* name, ImpInterface* ii, Interface* ip, BOOL suppressPrompts)
{
    (void)ii, (void)suppressPrompts;
    if (ip == nullptr || name == nullptr) return 0;
    LogSys* log = ip->Log();
    try {
        std::vector<std::uint8_t> bytes;
        std::string why;
        if (!readWholeFile(name, bytes, why)) {
            log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: %s", name, why.c_str());
            return 0;
        }
        const ifp::Package package = ifp::readPackage(bytes.data(), bytes.size());
        std::vector<std::uint8_t>().swap(bytes);
        if (!package.damage.empty()) {
            log->LogEntry(SYSLOG_WARN, FALSE, kLogTitle, "%s: %zu animations read, then %s", name,
                          package.animations.size(), package.damage.c_str());
        }
        const std::string wanted = options().GetAnimationName();
        const ifp::Animation* animation = chooseAnimation(package, wanted);
        if (animation == nullptr) {
            if (wanted.empty()) {
                log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: no animation to import", name);
            } else {
                log->LogEntry(SYSLOG_ERROR, FALSE, kLogTitle, "%s: no animation named \"%s\"", name,
                              wanted.c_str());
            }
            return 0;
        }
        const anim::Applied applied = anim::applyAnimation(*ip, *animation);
        if (!applied.missing.empty()) {
            log->LogEntry(SYSLOG_WARN, FALSE, kLogTitle, "animation \"%s\": %zu of its %zu bones are not in the scene: %s",
                          animation->name.c_str(), applied.missing.size(), animation->bones.size(),
                          missingList(applied.missing).c_str());
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

int IfpImportClassDesc::IsPublic() { return 1; }
void* IfpImportClassDesc::Create(BOOL loading)
{
    (void)loading;
    return new (std::nothrow) IfpImport();
}
const MCHAR* IfpImportClassDesc::ClassName() { return "Orvik IFP animation"; }
SClass_ID IfpImportClassDesc::SuperClassID() { return SCENE_IMPORT_CLASS_ID; }
Class_ID IfpImportClassDesc::ClassID() { return IFP_IMPORT_CLASS_ID; }
const MCHAR* IfpImportClassDesc::Category() { return "Game animation importer"; }
HINSTANCE IfpImportClassDesc::HInstance() { return ifpModuleHandle; }
FPInterface* IfpImportClassDesc::GetInterface(Interface_ID id)
{
    return id == IFP_IMPORT_OPTIONS_ID ? &options() : nullptr;
}
