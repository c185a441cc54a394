// The stand-in host's scene: everything an import creates, in creation order,
// and the host state around it. Not part of the SDK: the command-line host,
// the dump and the tests read it; the plug-in never includes this header.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/max.h"

struct HostOptions {
    std::vector<std::string> bitmapPaths;  // --bitmap-path folders, in order
    bool withoutGameMaterial = false;      // the game material plug-in is absent
    bool drawProgress = false;             // draw a progress bar on standard error
    bool printScriptErrors = true;         // print failed statements when quiet errors are off
};

struct ProgressRecord {
    bool hasTitle = false;
    std::string title;
    bool opened = false;
    bool closed = false;
    std::vector<int> updates;
};

struct ScriptRecord {
    std::string text;
    bool ok = false;
    std::string error;  // empty when ok
};

// One system log entry; type is exactly one of the SYSLOG_* kinds.
struct LogRecord {
    DWORD type = 0;
    std::string title;
    std::string text;
};

struct ImportRecord {
    std::string file;
    int result = 0;
    bool zoomExtents = false;
};

class Scene {
public:
    HostOptions options;
    std::string importFile;  // the file being imported (its folder is searched for bitmaps)
    ImportRecord import;
    ProgressRecord progress;

    // Creation order, per kind; the scene owns every object.
    std::vector<INode*> nodes;
    std::vector<TriObject*> meshes;
    std::vector<Mtl*> materials;
    std::vector<BitmapTex*> textures;
    std::vector<FloatController*> controllers;
    std::vector<SkinModifier*> modifiers;
    std::vector<Object*> otherObjects;  // lights, dummies

    std::vector<INode*> selection;
    int commandPanelMode = TASK_MODE_CREATE;
    std::vector<std::string> undo;
    std::vector<ScriptRecord> script;
    std::vector<LogRecord> log;  // system log entries, in order
    // MAXScript globals: name to the modifier bound, or null for undefined.
    std::map<std::string, SkinModifier*> globals;
    // Folder listings of the bitmap search, one per folder and import (listed
    // for it or kept from an earlier import while the folder is unchanged):
    // per folder its names, lower case to the smallest spelling.
    struct FolderListing {
        bool listed = false;  // false: the folder could not be listed
        // Each name's lower-case form followed by its spelling (of the same
        // length), in one text; the entries sorted by lower-case form, one
        // per form.
        struct Entry {
            std::size_t at = 0;
            std::size_t length = 0;
        };
        std::string text;
        std::vector<Entry> entries;
        // The smallest spelling of the name whose lower-case form is lowered;
        // empty when the folder holds none.
        std::string_view spellingOf(std::string_view lowered) const;
    };
    std::unordered_map<std::string, std::shared_ptr<const FolderListing>> folderListings;
    // Whether each bitmap name given to SetMapName names a regular file, as
    // found once per import (kept only while an import runs): a model's
    // materials name the same few textures over and over.
    struct FileTests {
        bool importing = false;
        std::unordered_map<std::string, bool> regular;
    };
    FileTests mapFileTests;
    // BMMGetFullFilename's answer for each name asked, found once per import
    // (kept only while an import runs, as mapFileTests): a model's materials
    // ask for the same few texture names over and over. An empty path: not
    // found. A name every search folder's listing lacks is not kept.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> bitmapLookups;
    Interval animRange{0, 100 * (TIME_TICKSPERSEC / kFrameRate)};  // frames 0 to 100
    // The folders of the bitmap search, as made for this import file and
    // these bitmap paths.
    struct BitmapSearch {
        bool made = false;
        std::string importFile;
        std::vector<std::string> bitmapPaths;
        std::vector<std::filesystem::path> folders;
        // Each folder's listing in folderListings, found at its first use in
        // an import (null until then; cleared with folderListings).
        std::vector<const FolderListing*> listings;
    };
    BitmapSearch bitmapSearch;
    bool animateMode = false;
    int animateSuspendDepth = 0;
    std::vector<bool> animateSaved;

    // Takes ownership of an object made by the host and lists it by kind.
    void adopt(Animatable* obj);
    INode* newNode(Object* obj);
    int indexOfNode(const INode* n) const;
    // The root node (not listed in nodes), its children set to the
    // top-level nodes as they are now.
    INode* rootNode();
    int indexOfMaterial(const Mtl* m) const;
    int indexOfTexture(const Texmap* t) const;
    int indexOfController(const Control* c) const;
    int indexOfModifier(const Modifier* m) const;

    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene();

private:
    std::vector<std::unique_ptr<Animatable>> owned;
    std::vector<std::unique_ptr<INode>> ownedNodes;
    std::unique_ptr<INode> root;
};

// The scene the host interface works on. resetScene drops the current scene
// (and every object in it) and starts an empty one with the given options.
Scene& currentScene();
Scene& resetScene(const HostOptions& options = HostOptions());
// Hands the current scene to the caller, whole, and starts an empty one: a
// model read once and used while other models are imported. Drop it before
// the plug-in library that made its objects is closed.
std::unique_ptr<Scene> takeScene();
