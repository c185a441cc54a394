// Loading a plug-in library through its exports and running an import the
// way the host does.
#pragma once

#include <string>
#include <vector>

#include "host/plugapi.h"

class Scene;

struct LibraryInfo {
    std::string description;
    int numberClasses = 0;
    ULONG version = 0;
    ULONG canAutoDefer = 0;
    std::vector<ClassDesc*> classes;
};

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Opens the library, resolves its exports and calls LibInitialize. On
    // failure gives false and a one-line reason.
    bool open(const std::string& path, std::string& error);
    // LibShutdown, then closes the library.
    void close();
    const LibraryInfo& info() const { return libInfo; }
    // The descriptors whose super class is the scene importer's.
    std::vector<ClassDesc*> importers() const;

private:
    void* handle = nullptr;
    LibraryInfo libInfo;
    int (*shutdown)() = nullptr;
};

struct ImportOutcome {
    bool ran = false;   // an importer took the file and DoImport ran
    int result = 0;     // DoImport's result
    std::string error;  // why it did not run
};

// Creates the importer whose Ext(i) matches the file's extension
// (case-insensitively), calls DoImport on the current scene, then ZoomExtents,
// and deletes the importer.
ImportOutcome runImport(PluginLibrary& lib, const std::string& file);
// The same for bytes reached under another path (an archive member in a
// memory file): `file` is what DoImport opens; `knownAs` gives the extension
// the importer is chosen by, the name the scene records and the folder the
// bitmap search starts in.
ImportOutcome runImport(PluginLibrary& lib, const std::string& file, const std::string& knownAs);
// The same for an importer descriptor that is linked in (tests).
ImportOutcome runImport(ClassDesc& desc, const std::string& file);
