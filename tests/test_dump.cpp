// The scene dump: valid JSON, exact floats, Latin-1 names, every field of
// the contract, and the harness that imports through it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

#include "host/dump.h"
#include "host/max.h"
#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/ImportHarness.h"

using nlohmann::json;

namespace {

template <class T>
T* create(SClass_ID super, Class_ID cls)
{
    return static_cast<T*>(GetCOREInterface()->CreateInstance(super, cls));
}

TriObject* newMesh() { return create<TriObject>(GEOMOBJECT_CLASS_ID, Class_ID(EDITTRIOBJ_CLASS_ID, 0)); }

// UTF-8 text back to the bytes it was made from, each character below 256 one byte.
std::string latin1(const std::string& utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(((b & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> keys(const nlohmann::ordered_json& object)
{
    std::vector<std::string> out;
    for (const auto& item : object.items()) out.push_back(item.key());
    return out;
}

}  // namespace

TEST(Dump, EmptySceneHasEveryTopLevelFieldInOrder)
{
    resetScene();
    const nlohmann::ordered_json j = dumpOrderedJson(currentScene());
    EXPECT_EQ(keys(j), (std::vector<std::string>{"format", "version", "import", "progress", "nodes", "meshes",
                                                 "materials", "textures", "controllers", "modifiers", "selection",
                                                 "commandPanel", "undo", "script", "globals", "log"}));
    EXPECT_EQ(j["format"], "orvik-scene");
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["progress"]["title"], nullptr);
    EXPECT_EQ(j["progress"]["opened"], false);
    EXPECT_EQ(j["commandPanel"], "create");
    EXPECT_TRUE(j["globals"].is_object());
    EXPECT_EQ(j["import"], (json{{"file", ""}, {"result", 0}, {"zoomExtents", false}}));
}

TEST(Dump, FloatsReadBackExactlyAndNonFiniteValuesAreNull)
{
    resetScene();
    const std::vector<float> values = {0.1f,
                                       -0.0f,
                                       1.0f / 3.0f,
                                       16777217.0f,
                                       std::numeric_limits<float>::min(),
                                       std::numeric_limits<float>::denorm_min(),
                                       std::numeric_limits<float>::max(),
                                       -123456.789f,
                                       std::nextafter(1.0f, 2.0f)};
    TriObject* tri = newMesh();
    Mesh& mesh = tri->mesh;
    mesh.setNumVerts(static_cast<int>(values.size()) + 1);
    for (std::size_t i = 0; i < values.size(); ++i) mesh.verts[i] = Point3(values[i], -values[i], values[i] * 0.5f);
    mesh.verts[values.size()] = Point3(std::numeric_limits<float>::quiet_NaN(),
                                       std::numeric_limits<float>::infinity(), 1.0f);

    const json j = dumpJson(currentScene());
    const json& verts = j["meshes"][0]["vertices"];
    ASSERT_EQ(verts.size(), values.size() + 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(verts[i][0].get<float>(), values[i]) << i;
        EXPECT_EQ(verts[i][1].get<float>(), -values[i]) << i;
        EXPECT_EQ(verts[i][2].get<float>(), values[i] * 0.5f) << i;
    }
    EXPECT_TRUE(std::signbit(verts[1][0].get<float>()));
    EXPECT_EQ(verts[values.size()], (json{nullptr, nullptr, 1.0}));
}

TEST(Dump, NamesAreLatin1AsUtf8AndEscaped)
{
    resetScene();
    const std::string name = "Caf\xE9 \"q\"\\ \x01\t\xFF";
    INode* node = GetCOREInterface()->CreateObjectNode(nullptr);
    node->SetName(name.c_str());
    node->SetUserPropString(name, "\xC0");
    const std::string text = dumpText(currentScene());
    const json j = json::parse(text);  // valid UTF-8 JSON
    const std::string got = j["nodes"][0]["name"];
    EXPECT_EQ(got, "Caf\xC3\xA9 \"q\"\\ \x01\t\xC3\xBF");
    EXPECT_EQ(latin1(got), name);
    EXPECT_EQ(j["nodes"][0]["userProps"][got], "\xC3\x80");
    EXPECT_NE(text.find("\\u0001"), std::string::npos);
}

TEST(Dump, NodesCarryHierarchyTransformsObjectsAndProperties)
{
    Scene& scene = resetScene();
    Interface* ip = GetCOREInterface();
    TriObject* tri = newMesh();
    tri->mesh.setNumVerts(1);
    auto* light = create<GenLight>(LIGHT_CLASS_ID, Class_ID(OMNI_LIGHT_CLASS_ID, 0));
    light->SetAtten(0, 0, 25.0f);
    Point3 colour(255, 128, 0);
    light->SetRGBColor(0, colour);
    light->SetFallsize(0, -0.5f);
    light->Enable(1);
    light->SetConeDisplay(0);
    auto* multi = create<MultiMtl>(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0));

    INode* lightNode = ip->CreateObjectNode(light);
    INode* meshNode = ip->CreateObjectNode(tri);
    INode* dummyNode = ip->CreateObjectNode(create<Object>(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
    Matrix3 parentTm(Point3(0, 1, 0), Point3(-1, 0, 0), Point3(0, 0, 1), Point3(10, 0, 0));
    Matrix3 childTm(Point3(1, 0, 0), Point3(0, 1, 0), Point3(0, 0, 1), Point3(0, 5, 0));
    dummyNode->SetNodeTM(0, parentTm);
    meshNode->SetNodeTM(0, childTm);
    dummyNode->AttachChild(meshNode, 0);
    dummyNode->AttachChild(lightNode, 1);
    meshNode->SetMtl(multi);
    meshNode->SetName("body");
    dummyNode->ShowBone(1);
    dummyNode->Scale(0, parentTm, Point3(10, 10, 10), TRUE, FALSE, PIV_OBJECT_ONLY, TRUE);
    meshNode->SetUserPropInt("zeta", 3);
    meshNode->SetUserPropString("alpha", "x");
    ip->SelectNode(meshNode);
    ip->SelectNode(dummyNode, 0);
    ip->SetCommandPanelTaskMode(TASK_MODE_HIERARCHY);
    theHold.Begin();
    theHold.Accept("Link");

    const json j = dumpJson(scene);
    const json& nodes = j["nodes"];
    const nlohmann::ordered_json ordered = dumpOrderedJson(scene);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(keys(ordered["nodes"][0]), (std::vector<std::string>{"name", "parent", "children", "tm", "object",
                                                          "objectOffset", "material", "boneDisplay", "userProps",
                                                          "modifiers"}));
    EXPECT_EQ(nodes[2]["children"], (json{1, 0}));
    EXPECT_EQ(nodes[1]["parent"], 2);
    EXPECT_EQ(nodes[2]["parent"], nullptr);
    // The mesh node kept its local matrix: world = local x parent.
    EXPECT_EQ(nodes[1]["tm"], (json{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {5, 0, 0}}));
    EXPECT_EQ(nodes[0]["tm"], (json{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}));
    EXPECT_EQ(nodes[1]["object"], (json{{"kind", "mesh"}, {"mesh", 0}}));
    EXPECT_EQ(nodes[2]["object"], (json{{"kind", "dummy"}}));
    EXPECT_EQ(nodes[0]["object"], (json{{"kind", "light"},
                                        {"type", "omni"},
                                        {"atten", {25, 0, 0, 0}},
                                        {"color", {255, 128, 0}},
                                        {"fallsize", -0.5},
                                        {"enabled", true},
                                        {"coneDisplay", false}}));
    EXPECT_EQ(nodes[2]["objectOffset"],
              (json{{"position", {0, 0, 0}}, {"rotation", {0, 0, 0, 1}}, {"scale", {10, 10, 10}}}));
    EXPECT_EQ(nodes[1]["material"], 0);
    EXPECT_EQ(nodes[0]["material"], nullptr);
    EXPECT_EQ(nodes[2]["boneDisplay"], 1);
    EXPECT_EQ(nodes[1]["boneDisplay"], nullptr);
    EXPECT_EQ(keys(ordered["nodes"][1]["userProps"]), (std::vector<std::string>{"zeta", "alpha"}));
    EXPECT_EQ(nodes[1]["userProps"]["zeta"], 3);
    EXPECT_EQ(j["selection"], (json{1, 2}));
    EXPECT_EQ(j["commandPanel"], "hierarchy");
    EXPECT_EQ(j["undo"], (json{"Link"}));
}

TEST(Dump, MeshesListFacesMapsAndNormals)
{
    Scene& scene = resetScene();
    Mesh& plain = newMesh()->mesh;
    plain.setNumVerts(3);
    plain.setNumFaces(1);
    plain.faces[0].setVerts(0, 2, 1);
    plain.faces[0].setMatID(4);
    plain.faces[0].setEdgeVisFlags(1, 0, 1);
    plain.faces[0].smGroup = 0x80000001u;
    plain.setMapSupport(MAP_ALPHA);
    plain.setNumMapVerts(MAP_ALPHA, 1);
    plain.setMapSupport(1);
    plain.setMapSupport(2);
    plain.setMapSupport(2, FALSE);
    plain.mapVerts(MAP_ALPHA)[0] = UVVert(0.5f, 0, 0);
    plain.BuildStripsAndEdges();

    Mesh& smooth = newMesh()->mesh;
    smooth.setNumVerts(3);
    smooth.setNumFaces(1);
    smooth.faces[0].setVerts(0, 1, 2);
    smooth.verts[1] = Point3(1, 0, 0);
    smooth.verts[2] = Point3(0, 1, 0);
    smooth.SpecifyNormals();
    MeshNormalSpec* spec = smooth.GetSpecifiedNormals();
    spec->BuildNormals();
    spec->SetFlag(MESH_NORMAL_MODIFIER_SUPPORT);
    spec->MakeNormalsExplicit(false);

    const json j = dumpJson(scene);
    ASSERT_EQ(j["meshes"].size(), 2u);
    const json& m = j["meshes"][0];
    EXPECT_EQ(m["faces"], (json{{0, 2, 1}}));
    EXPECT_EQ(m["matIds"], (json{4}));
    EXPECT_EQ(m["smGroups"], (json{0x80000001u}));
    EXPECT_EQ(m["edgeVis"], (json{{1, 0, 1}}));
    EXPECT_EQ(m["normals"], nullptr);
    EXPECT_EQ(m["edges"], 3);
    // Only the channels turned on, keyed by number.
    EXPECT_EQ(m["maps"], (json{{"-2", {{"verts", {{0.5, 0, 0}}}, {"faces", {{0, 0, 0}}}}},
                               {"1", {{"verts", json::array()}, {"faces", {{0, 0, 0}}}}}}));
    const json& n = j["meshes"][1]["normals"];
    EXPECT_EQ(n["faces"], (json{{0, 1, 2}}));
    EXPECT_EQ(n["vectors"].size(), 3u);
    EXPECT_EQ(n["vectors"][2], (json{0, 0, 1}));
    EXPECT_EQ(n["explicit"], (json{true, true, true}));
    EXPECT_EQ(n["flags"].get<DWORD>(), spec->GetFlags());
    EXPECT_NE(n["flags"].get<DWORD>() & MESH_NORMAL_MODIFIER_SUPPORT, 0u);
}

TEST(Dump, MaterialsTexturesControllersModifiersScriptAndGlobals)
{
    Scene& scene = resetScene();
    Interface* ip = GetCOREInterface();
    auto* multi = create<MultiMtl>(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0));
    auto* game = create<Mtl>(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID);
    multi->SetNumSubMtls(2);
    multi->SetSubMtl(1, game);
    multi->SetName("multi");
    game->SetMtlFlag(MTL_TEX_DISPLAY_ENABLED);
    BitmapTex* tex = NewDefaultBitmapTex();
    tex->SetName("wheel");
    tex->GetUVGen()->SetFlag(U_MIRROR, 1);
    tex->GetUVGen()->SetFlag(V_WRAP, 0);
    Control* ctrl = NewDefaultFloatController();
    ASSERT_TRUE(tex->GetUVGen()->SubAnim(0)->AssignController(ctrl, UVGEN_V_TILING));
    float v = 2.5f;
    ctrl->SetValue(0, &v);
    // Written parameters of each kind; the texture one names the bitmap.
    IParamBlock2* pb = game->GetParamBlock(0);
    ASSERT_NE(pb, nullptr);
    for (const IParamBlock2::Param& p : pb->Params()) {
        Color c(0.25f, 0.5f, 1.0f);
        switch (p.type) {
        case ParamType::Float: pb->SetValue(p.id, 0, 0.75f); break;
        case ParamType::Int: break;
        case ParamType::Color: pb->SetValue(p.id, 0, c); break;
        case ParamType::Texmap: pb->SetValue(p.id, 0, static_cast<Texmap*>(tex)); break;
        }
    }
    auto* skin = create<SkinModifier>(OSM_CLASS_ID, SKIN_CLASSID);
    INode* bone = ip->CreateObjectNode(nullptr);
    TriObject* tri = newMesh();
    tri->mesh.setNumVerts(2);
    INode* meshNode = ip->CreateObjectNode(tri);
    Matrix3 meshTm(Point3(1, 0, 0), Point3(0, 1, 0), Point3(0, 0, 1), Point3(4, 5, 6));
    meshNode->SetNodeTM(0, meshTm);
    GetCOREInterface12()->AddModifier(*meshNode, *skin);
    skin->AddBoneEx(bone, TRUE);
    const Matrix3 boneBind(Point3(0, 1, 0), Point3(-1, 0, 0), Point3(0, 0, 1), Point3(7, 8, 9));
    skin->SetBoneTm(bone, boneBind, boneBind);
    meshNode->EvalWorldState(0);
    ip->SelectNode(meshNode);
    ip->SetCommandPanelTaskMode(TASK_MODE_MODIFY);
    ExecuteMAXScriptScript("sk= modPanel.GetCurrentObject()", TRUE);
    ExecuteMAXScriptScript("no such statement", TRUE);
    scene.globals["gone"] = nullptr;

    const json j = dumpJson(scene);
    ASSERT_EQ(j["materials"].size(), 2u);
    EXPECT_EQ(j["materials"][0]["class"], "multi");
    EXPECT_EQ(j["materials"][0]["name"], "multi");
    EXPECT_EQ(j["materials"][0]["subMaterials"], (json{nullptr, 1}));
    EXPECT_FALSE(j["materials"][0].contains("params"));
    const json& gm = j["materials"][1];
    EXPECT_EQ(gm["class"], "game");
    EXPECT_EQ(gm["name"], "");
    EXPECT_EQ(gm["flags"], MTL_TEX_DISPLAY_ENABLED);
    std::size_t written = 0;
    for (const IParamBlock2::Param& p : pb->Params()) {
        const std::string id = std::to_string(p.id);
        if (!p.written) {
            EXPECT_FALSE(gm["params"].contains(id)) << id;
            continue;
        }
        ++written;
        switch (p.type) {
        case ParamType::Float: EXPECT_EQ(gm["params"][id], (json{{"float", 0.75}})); break;
        case ParamType::Int: break;
        case ParamType::Color: EXPECT_EQ(gm["params"][id], (json{{"color", {0.25, 0.5, 1.0}}})); break;
        case ParamType::Texmap: EXPECT_EQ(gm["params"][id], (json{{"texture", 0}})); break;
        }
    }
    EXPECT_GT(written, 0u);
    EXPECT_EQ(gm["params"].size(), written);

    const json& t = j["textures"][0];
    EXPECT_EQ(t["class"], "bitmap");
    EXPECT_EQ(t["name"], "wheel");
    EXPECT_EQ(t["mapName"], nullptr);
    EXPECT_EQ(t["found"], false);
    EXPECT_EQ(t["filterType"], 0);
    EXPECT_EQ(t["uvGen"]["flags"],
              (json{{"uWrap", true}, {"uMirror", true}, {"vWrap", false}, {"vMirror", false}}));
    EXPECT_EQ(t["uvGen"]["controllers"],
              (json{{"uOffset", nullptr}, {"vOffset", nullptr}, {"uTiling", nullptr}, {"vTiling", 0}}));
    EXPECT_EQ(j["controllers"], (json{{{"class", "float"}, {"keys", json::array()}, {"value", 2.5}}}));

    ASSERT_EQ(j["modifiers"].size(), 1u);
    const json& s = j["modifiers"][0];
    EXPECT_EQ(s["class"], "skin");
    EXPECT_EQ(s["node"], 1);
    EXPECT_EQ(s["bones"], (json{0}));
    ASSERT_EQ(s["envelopes"].size(), 1u);
    EXPECT_EQ(s["envelopes"][0]["crossSections"].size(), 2u);
    EXPECT_TRUE(s["envelopes"][0]["start"].is_array());
    EXPECT_EQ(s["weights"], (json{json::array(), json::array()}));
    EXPECT_EQ(s["skinInitTm"], (json{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {4, 5, 6}}));
    EXPECT_EQ(s["boneInitTms"], (json{{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {7, 8, 9}}}));
    EXPECT_EQ(j["nodes"][1]["modifiers"], (json{0}));

    ASSERT_EQ(j["script"].size(), 2u);
    EXPECT_EQ(j["script"][0], (json{{"text", "sk= modPanel.GetCurrentObject()"}, {"ok", true}, {"error", nullptr}}));
    EXPECT_EQ(j["script"][1]["ok"], false);
    EXPECT_TRUE(j["script"][1]["error"].is_string());
    EXPECT_EQ(j["globals"], (json{{"gone", {{"undefined", true}}}, {"sk", {{"modifier", 0}}}}));
}

TEST(Dump, SystemLogEntriesAreFormattedAndListedInOrder)
{
    resetScene();
    LogSys* log = GetCOREInterface()->Log();
    const std::string longName(1000, 'n');
    log->LogEntry(SYSLOG_WARN, TRUE, "Orvik", "the import ended at 0x%X: %s", 0x10000u, "clump");
    log->LogEntry(SYSLOG_INFO, FALSE, nullptr, "%s\xE9", longName.c_str());
    log->LogEntry(SYSLOG_DEBUG, FALSE, nullptr, "%d", 8);
    log->LogEntry(SYSLOG_ERROR | SYSLOG_INFO, FALSE, nullptr, "both");  // the more severe kind
    log->LogEntry(0x100, FALSE, nullptr, "no kind");                    // not logged
    log->LogEntry(SYSLOG_WARN, FALSE, nullptr, nullptr);                // not logged
    const json j = dumpJson(currentScene());
    ASSERT_EQ(j["log"].size(), 4u);
    EXPECT_EQ(j["log"][0], json({{"type", "warning"}, {"text", "the import ended at 0x10000: clump"}}));
    EXPECT_EQ(j["log"][1]["type"], "info");
    EXPECT_EQ(latin1(j["log"][1]["text"]), longName + "\xE9");
    EXPECT_EQ(j["log"][2], json({{"type", "debug"}, {"text", "8"}}));
    EXPECT_EQ(j["log"][3], json({{"type", "error"}, {"text", "both"}}));
    EXPECT_TRUE(resetScene().log.empty());
}

TEST(Dump, LargeMeshesStreamWhole)
{
    Scene& scene = resetScene();
    Mesh& mesh = newMesh()->mesh;
    constexpr int count = 200000;
    mesh.setNumVerts(count);
    mesh.setNumFaces(count);
    for (int i = 0; i < count; ++i) {
        mesh.verts[i] = Point3(static_cast<float>(i) * 0.001f, -1.0f / static_cast<float>(i + 1), 7.0f);
        mesh.faces[i].setVerts(i, (i + 1) % count, (i + 2) % count);
    }
    std::ostringstream out;
    writeSceneJson(scene, out);
    const json j = json::parse(out.str());
    const json& verts = j["meshes"][0]["vertices"];
    ASSERT_EQ(verts.size(), static_cast<std::size_t>(count));
    for (int i : {0, 1, 4095, 65535, count - 1}) {
        EXPECT_EQ(verts[i][0].get<float>(), mesh.verts[i].x) << i;
        EXPECT_EQ(verts[i][1].get<float>(), mesh.verts[i].y) << i;
    }
    EXPECT_EQ(j["meshes"][0]["faces"][count - 1], (json{count - 1, 0, 1}));
}

TEST(Harness, ImportBytesRunsTheImporterOnAFileOfItsOwn)
{
    const std::vector<std::uint8_t> bytes = dffw::write(dffw::makeBox("brick", 2.0f, "crate"));
    const Scene& scene = importBytes(bytes);
    const std::string folder = tempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "model.dff"));
    EXPECT_TRUE(lastImportOutcome().ran);
    const json j = dumpJson(scene);
    EXPECT_EQ(j["import"]["file"], (std::filesystem::path(folder) / "model.dff").string());
    EXPECT_EQ(j["import"]["result"], 1);
    EXPECT_EQ(j["import"]["zoomExtents"], true);
    EXPECT_EQ(j["progress"]["title"], "Importing DFF");
    EXPECT_TRUE(j["progress"]["closed"]);
    ASSERT_EQ(j["nodes"].size(), 1u);
    EXPECT_EQ(j["nodes"][0]["name"], "crate");
    EXPECT_EQ(j["nodes"][0]["object"]["kind"], "mesh");

    // The next import gets a fresh folder; the old one is gone.
    importBytes(bytes, {}, "OTHER.DFF");
    EXPECT_NE(tempFolder(), folder);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(dumpJson(currentScene())["nodes"].size(), 1u);
}

TEST(Harness, SamplesFolderFollowsTheEnvironment)
{
    const char* old = std::getenv("ORVIK_SAMPLES");
    const std::string saved = old ? old : "";
    setenv("ORVIK_SAMPLES", "/nonexistent/samples", 1);
    EXPECT_EQ(samplePath("car1.dff"), "/nonexistent/samples/car1.dff");
    EXPECT_FALSE(samplesAvailable());
    EXPECT_TRUE(sampleDffFiles().empty());
    if (old) {
        setenv("ORVIK_SAMPLES", saved.c_str(), 1);
    } else {
        unsetenv("ORVIK_SAMPLES");
    }
}

TEST(Harness, SampleModelsAllImportToValidDumps)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> files = sampleDffFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Scene& scene = importFile(file);
        EXPECT_TRUE(lastImportOutcome().ran);
        const json j = dumpJson(scene);
        EXPECT_EQ(j["import"]["result"], 1);
        EXPECT_EQ(j["nodes"].size(), scene.nodes.size());
        EXPECT_EQ(j["meshes"].size(), scene.meshes.size());
    }
}
