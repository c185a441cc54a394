// The real sample models' meshes and materials against fixed digests
// (tests/golden/samples): per mesh its vertex and face counts and faces per
// material id (the bin mesh's where it holds every face), per material slot
// every parameter of its game material, textures by name, filter and
// addressing; no corner may name a vertex past the mesh's.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "support/Golden.h"
#include "support/ImportHarness.h"

namespace {

using ojson = nlohmann::ordered_json;

// A parameter's value as one word: numbers as the dump gives them, a colour
// in brackets, a texture by its name, filter type and addressing flags.
std::string paramText(const ojson& dump, const ojson& value)
{
    if (value.contains("texture")) {
        if (value["texture"].is_null()) return "no texture";
        const ojson& t = dump["textures"][value["texture"].get<std::size_t>()];
        const ojson& f = t["uvGen"]["flags"];
        std::string flags;
        for (const char* k : {"uWrap", "uMirror", "vWrap", "vMirror"}) flags += f[k].get<bool>() ? '1' : '0';
        return t["name"].dump() + "/filter " + t["filterType"].dump() + "/" + flags;
    }
    return value.begin()->dump();
}

std::string digest(const ojson& dump)
{
    std::ostringstream out;
    std::size_t geometry = 0;
    for (const ojson& mesh : dump["meshes"]) {
        const std::size_t vertices = mesh["vertices"].size();
        std::map<int, int> byMaterial;
        for (const ojson& id : mesh["matIds"]) ++byMaterial[id.get<int>()];
        out << "mesh " << geometry++ << ": " << vertices << " vertices, " << mesh["faces"].size() << " faces;";
        for (const auto& [id, faces] : byMaterial) out << " " << id << ":" << faces;
        out << "\n";
        for (const ojson& face : mesh["faces"])
            for (const ojson& v : face) EXPECT_LT(v.get<std::size_t>(), vertices) << "a corner past the vertices";
    }
    geometry = 0;
    for (const ojson& multi : dump["materials"]) {
        if (multi["class"] != "multi") continue;
        out << "materials " << geometry++ << ":\n";
        for (const ojson& slot : multi["subMaterials"]) {
            out << " ";
            if (slot.is_null()) {
                out << " empty\n";
                continue;
            }
            for (const auto& [id, value] : dump["materials"][slot.get<std::size_t>()]["params"].items()) {
                out << " " << id << "=" << paramText(dump, value);
            }
            out << "\n";
        }
    }
    return out.str();
}

}  // namespace

TEST(SampleDigests, MeshesAndMaterialsOfEverySample)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> files = sampleDffFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        expectGolden("samples/" + std::filesystem::path(path).stem().string() + ".txt",
                     digest(dumpOrderedJson(importFile(path))));
    }
}
