// Loading a plug-in library through its exports, and running an import the
// way the host does. Nothing the plug-in throws gets past these functions.
#include "host/loader.h"

#include <dlfcn.h>

#include <exception>

#include "host/dump.h"
#include "host/interface.h"
#include "host/scene.h"

namespace {

using LibDescriptionFn = const MCHAR* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc* (*)(int);
using LibVersionFn = ULONG (*)();
using CanAutoDeferFn = ULONG (*)();
using LibInitializeFn = int (*)();
using LibShutdownFn = int (*)();

// A library cannot sensibly describe more classes than this.
constexpr int kMaxClasses = 4096;

// The import interface handed to DoImport; the stand-in offers nothing on it.
class HostImpInterface : public ImpInterface {};

template <class Fn>
Fn symbol(void* handle, const char* name)
{
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

// The extension of the file name (after its last dot), without the dot.
std::string extensionOf(const std::string& file)
{
    const std::size_t slash = file.find_last_of("/\\");
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot < nameStart) return {};
    return file.substr(dot + 1);
}

std::string noImporterMessage(const std::string& ext)
{
    return ext.empty() ? "no importer for a file without an extension" : "no importer for extension ." + ext;
}

bool takesExtension(SceneImport& imp, const std::string& ext)
{
    if (ext.empty()) return false;
    const std::string want = asciiLowered(ext);
    const int count = imp.ExtCount();
    for (int i = 0; i < count; ++i) {
        const MCHAR* e = imp.Ext(i);
        if (!e) continue;
        if (*e == '.') ++e;  // tolerate ".dff" as well as "dff"
        if (asciiLowered(e) == want) return true;
    }
    return false;
}

SceneImport* createImporter(ClassDesc& desc)
{
    return static_cast<SceneImport*>(desc.Create(FALSE));
}

// DoImport on the current scene, then ZoomExtents; the importer is deleted.
void runImporter(SceneImport* imp, const std::string& file, const std::string& knownAs, ImportOutcome& outcome)
{
    static HostImpInterface impInterface;
    Scene& scene = currentScene();
    scene.importFile = knownAs;
    scene.folderListings.clear();  // folders may have changed since the last import
    scene.bitmapSearch.listings.clear();
    scene.mapFileTests.regular.clear();
    scene.bitmapLookups.clear();
    scene.mapFileTests.importing = true;
    scene.import = ImportRecord{knownAs, 0, false};
    outcome.ran = true;
    outcome.result = imp->DoImport(file.c_str(), &impInterface, GetCOREInterface(), FALSE);
    scene.mapFileTests.importing = false;
    scene.mapFileTests.regular.clear();
    scene.bitmapLookups.clear();
    scene.import.result = outcome.result;
    scene.import.zoomExtents = imp->ZoomExtents() == 1;
    delete imp;
}

}  // namespace

PluginLibrary::~PluginLibrary()
{
    close();
}

bool PluginLibrary::open(const std::string& path, std::string& error)
{
    close();
    error.clear();
    dlerror();
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        error = "cannot load plug-in " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    auto description = symbol<LibDescriptionFn>(h, "LibDescription");
    auto numberClasses = symbol<LibNumberClassesFn>(h, "LibNumberClasses");
    auto classDesc = symbol<LibClassDescFn>(h, "LibClassDesc");
    auto version = symbol<LibVersionFn>(h, "LibVersion");
    auto autoDefer = symbol<CanAutoDeferFn>(h, "CanAutoDefer");
    auto initialize = symbol<LibInitializeFn>(h, "LibInitialize");
    auto libShutdown = symbol<LibShutdownFn>(h, "LibShutdown");
    const char* missing = !description     ? "LibDescription"
                          : !numberClasses ? "LibNumberClasses"
                          : !classDesc     ? "LibClassDesc"
                          : !version       ? "LibVersion"
                                           : nullptr;
    if (missing) {
        error = path + ": export " + missing + " missing";
        dlclose(h);
        return false;
    }
    try {
        if (initialize && !initialize()) {
            error = path + ": LibInitialize failed";
            dlclose(h);
            return false;
        }
        handle = h;
        shutdown = libShutdown;
        const MCHAR* desc = description();
        libInfo.description = desc ? desc : "";
        libInfo.version = version();
        libInfo.canAutoDefer = autoDefer ? autoDefer() : 0;
        libInfo.numberClasses = numberClasses();
        if (libInfo.numberClasses < 0 || libInfo.numberClasses > kMaxClasses) {
            error = path + ": LibNumberClasses gives " + std::to_string(libInfo.numberClasses);
            close();
            return false;
        }
        for (int i = 0; i < libInfo.numberClasses; ++i) {
            if (ClassDesc* cd = classDesc(i)) libInfo.classes.push_back(cd);
        }
    } catch (const std::exception& e) {
        error = path + ": the plug-in threw during loading: " + e.what();
        handle ? close() : void(dlclose(h));  // before initialization ends: no LibShutdown
        return false;
    } catch (...) {
        error = path + ": the plug-in threw during loading";
        handle ? close() : void(dlclose(h));  // before initialization ends: no LibShutdown
        return false;
    }
    return true;
}

void PluginLibrary::close()
{
    if (!handle) return;
    try {
        if (shutdown) shutdown();
    } catch (...) {
        // The library goes all the same.
    }
    dlclose(handle);
    handle = nullptr;
    shutdown = nullptr;
    libInfo = LibraryInfo{};
}

std::vector<ClassDesc*> PluginLibrary::importers() const
{
    std::vector<ClassDesc*> out;
    for (ClassDesc* cd : libInfo.classes) {
        try {
            if (cd->SuperClassID() == SCENE_IMPORT_CLASS_ID) out.push_back(cd);
        } catch (...) {
            // A descriptor that cannot answer is not an importer.
        }
    }
    return out;
}

ImportOutcome runImport(ClassDesc& desc, const std::string& file)
{
    ImportOutcome outcome;
    const std::string ext = extensionOf(file);
    SceneImport* imp = nullptr;
    try {
        imp = createImporter(desc);
        if (!imp) {
            outcome.error = "the importer could not be created";
            return outcome;
        }
        if (!takesExtension(*imp, ext)) {
            delete imp;
            outcome.error = noImporterMessage(ext);
            return outcome;
        }
        runImporter(imp, file, file, outcome);
    } catch (const std::exception& e) {
        outcome.error = std::string("the importer threw: ") + e.what();
    } catch (...) {
        outcome.error = "the importer threw an exception";
    }
    return outcome;
}

ImportOutcome runImport(PluginLibrary& lib, const std::string& file)
{
    return runImport(lib, file, file);
}

ImportOutcome runImport(PluginLibrary& lib, const std::string& file, const std::string& knownAs)
{
    ImportOutcome outcome;
    const std::string ext = extensionOf(knownAs);
    try {
        const std::vector<ClassDesc*> descs = lib.importers();
        if (descs.empty()) {
            outcome.error = "the plug-in offers no scene importer";
            return outcome;
        }
        for (ClassDesc* desc : descs) {
            SceneImport* imp = createImporter(*desc);
            if (!imp) continue;
            if (!takesExtension(*imp, ext)) {
                delete imp;
                continue;
            }
            runImporter(imp, file, knownAs, outcome);
            return outcome;
        }
        outcome.error = noImporterMessage(ext);
    } catch (const std::exception& e) {
        outcome.error = std::string("the importer threw: ") + e.what();
    } catch (...) {
        outcome.error = "the importer threw an exception";
    }
    return outcome;
}
