#include "cli/Info.h"

#include <iostream>

#include "cli/ExitStatus.h"

#include "support/Text.h"
#include "host/loader.h"

namespace orvik {
namespace {

using Json = nlohmann::ordered_json;

Json textOrNull(const MCHAR* text)
{
    return text != nullptr ? Json(latin1ToUtf8(text)) : Json(nullptr);
}

// Creates an importer the way the host does, asks it everything it answers
// without a file, and deletes it through its virtual destructor.
Json describeImporter(ClassDesc& desc)
{
    void* made = desc.Create(FALSE);
    if (made == nullptr) {
        return nullptr;
    }
    auto* imp = static_cast<SceneImport*>(made);
    Json j;
    const int count = imp->ExtCount();
    j["ExtCount"] = count;
    Json exts = Json::array();
    for (int i = 0; i < count; ++i) {
        exts.push_back(textOrNull(imp->Ext(i)));
    }
    j["Ext"] = exts;
    j["LongDesc"] = textOrNull(imp->LongDesc());
    j["ShortDesc"] = textOrNull(imp->ShortDesc());
    j["AuthorName"] = textOrNull(imp->AuthorName());
    j["CopyrightMessage"] = textOrNull(imp->CopyrightMessage());
    j["OtherMessage1"] = textOrNull(imp->OtherMessage1());
    j["OtherMessage2"] = textOrNull(imp->OtherMessage2());
    j["Version"] = imp->Version();
    j["ZoomExtents"] = imp->ZoomExtents();
    delete imp;
    return j;
}

}  // namespace

nlohmann::ordered_json describeLibrary(const PluginLibrary& lib)
{
    const LibraryInfo& info = lib.info();
    Json j;
    j["LibDescription"] = latin1ToUtf8(info.description);
    j["LibNumberClasses"] = info.numberClasses;
    j["LibVersion"] = info.version;
    j["CanAutoDefer"] = info.canAutoDefer;
    Json classes = Json::array();
    for (ClassDesc* desc : info.classes) {
        if (desc == nullptr) {
            classes.push_back(nullptr);
            continue;
        }
        Json c;
        c["ClassName"] = textOrNull(desc->ClassName());
        c["Category"] = textOrNull(desc->Category());
        c["SuperClassID"] = desc->SuperClassID();
        const Class_ID id = desc->ClassID();
        c["ClassID"] = Json::array({id.PartA(), id.PartB()});
        c["IsPublic"] = desc->IsPublic();
        c["InternalName"] = textOrNull(desc->InternalName());
        c["importer"] = desc->SuperClassID() == SCENE_IMPORT_CLASS_ID ? describeImporter(*desc) : Json(nullptr);
        classes.push_back(c);
    }
    j["classes"] = classes;
    return j;
}

CLI::App* addInfoCommand(CLI::App& app, std::string& plugin)
{
    CLI::App* info = app.add_subcommand("info", "Print, as JSON, what a host learns from the plug-in library");
    info->add_option("--plugin", plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");
    return info;
}

int runInfoCommand(const Invocation& inv, const std::string& named)
{
    const std::string plugin = pluginToLoad(inv, named);
    runMatchingHost(inv, plugin);
    PluginLibrary lib;
    openLibrary(lib, plugin);
    nlohmann::ordered_json j = describeLibrary(lib);
    j["plugin"] = plugin;
    std::cout << j.dump(2) << "\n";
    checkStandardOutput();
    return kExitOk;
}

}  // namespace orvik
