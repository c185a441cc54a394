// glTF export: the document being built (its top-level lists, buffer views
// and accessors in the one buffer) and the JSON writer the extras use.
#include "gltf/GltfDocument.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "support/Text.h"

namespace orvik::gltf {

double tidy(float f)
{
    if (!std::isfinite(f)) return static_cast<double>(f);
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text - 1, f);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

Json jsonPoint(const Point3& p)
{
    return Json::array({tidy(p.x), tidy(p.y), tidy(p.z)});
}

void JsonBuilder::string(const std::string& s)
{
    put(latin1ToUtf8(s));
}

Json& JsonBuilder::put(Json v)
{
    if (stack.empty()) {
        result = std::move(v);
        return result;
    }
    Json& top = *stack.back();
    if (top.is_array()) {
        top.push_back(std::move(v));
        return top.back();
    }
    Json& slot = top[pendingKey];
    slot = std::move(v);
    return slot;
}

Builder::Builder(const Scene& s, ImageSource& i, const GltfOptions& o, GltfExportReport& r)
    : scene(s), imageSource(i), options(o), report(r)
{
}

Json& Builder::add(const char* array, Json value, int& index)
{
    Json& list = doc[array];
    if (list.is_null()) list = Json::array();
    index = static_cast<int>(list.size());
    list.push_back(std::move(value));
    return list.back();
}

int Builder::nextView(std::size_t bytes, int target)
{
    bin.align4();
    Json view = {{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", bytes}};
    if (target != kNoTarget) view["target"] = target;
    int index = 0;
    add("bufferViews", std::move(view), index);
    return index;
}

int Builder::addView(const void* data, std::size_t bytes, int target)
{
    const int index = nextView(bytes, target);
    bin.append(data, bytes);
    return index;
}

int Builder::addView(const ImageBytes& bytes)
{
    const int index = nextView(bytes.size(), kNoTarget);
    bin.append(bytes);
    return index;
}

int Builder::addAccessor(const void* data, std::size_t bytes, int target, int componentType, const char* type,
                         std::size_t count)
{
    const int view = addView(data, bytes, target);
    int index = 0;
    add("accessors", {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}}, index);
    return index;
}

void Builder::build()
{
    // Top-level members in a fixed order; empty lists are dropped at the end.
    doc["asset"] = {{"generator", "orvik (Orvik DFF import, stand-in host scene)"}, {"version", "2.0"}};
    for (const char* list : {"extensionsUsed", "scene", "scenes", "nodes", "meshes", "materials", "textures", "images",
                             "samplers", "skins", "animations", "accessors", "bufferViews", "buffers", "extensions"}) {
        doc[list] = nullptr;
    }
    for (const SceneAnimation& a : options.animations) {
        for (const NodeAnimation& n : a.nodes) animated.insert(n.node);
    }
    addNodes();
    if (options.gameView) placeWheels();
    addAnimations();
    doc["scene"] = 0;
    Json sceneJson = {{"name", doc["nodes"][0]["name"]}, {"nodes", {0}}};
    sceneJson["extras"] = {{"import", {{"file", latin1ToUtf8(scene.import.file)}, {"result", scene.import.result}}}};
    doc["scenes"] = Json::array({sceneJson});
    if (!bin.empty()) doc["buffers"] = Json::array({{{"byteLength", bin.size()}}});
    for (const auto& [text, count] : noteCounts) {
        report.notes.push_back(count > 1 ? text + " (" + std::to_string(count) + " times)" : text);
    }
    auto size = [&](const char* list) { return doc[list].is_array() ? doc[list].size() : 0; };
    report.nodes = size("nodes");
    report.meshes = size("meshes");
    report.materials = size("materials");
    report.textures = size("textures");
    report.skins = size("skins");
    report.animations = size("animations");
    report.lights = doc["extensions"].is_object() ? doc["extensions"]["KHR_lights_punctual"]["lights"].size() : 0;
    for (auto it = doc.begin(); it != doc.end();) it = it->is_null() ? doc.erase(it) : std::next(it);
}

}  // namespace orvik::gltf
