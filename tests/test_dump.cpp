// The scene dump: valid JSON, exact floats, Latin-1 names, the values that
// imports never write, and the harness that imports through it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

#include "host/dump.h"
#include "host/max.h"
#include "host/scene.h"
#include "testkit/DffWriter.h"
#include "support/Fixtures.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"

using nlohmann::json;

namespace {

template <class T>
T* create(SClass_ID super, Class_ID cls)
{
    return static_cast<T*>(GetCOREInterface()->CreateInstance(super, cls));
}

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

}  // namespace

// Every top-level field in order, as an empty scene leaves it (the example's
// and a skin's whole dumps are fixed in test_cli and test_skin).
TEST(Dump, EmptyScene)
{
    resetScene();
    expectGolden("dump/empty.json", dumpText(currentScene()));
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
    mesh.verts[values.size()] =
        Point3(std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1.0f);

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

// Values the imports never write: a turned-off map channel, a channel without
// vertices, no normals, hidden edges, the high smoothing group bit.
TEST(Dump, MeshesListOnlyTheChannelsTurnedOn)
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

    const json m = dumpJson(scene)["meshes"][0];
    EXPECT_EQ(m["faces"], (json{{0, 2, 1}}));
    EXPECT_EQ(m["matIds"], (json{4}));
    EXPECT_EQ(m["smGroups"], (json{0x80000001u}));
    EXPECT_EQ(m["edgeVis"], (json{{1, 0, 1}}));
    EXPECT_EQ(m["normals"], nullptr);
    EXPECT_EQ(m["edges"], 3);
    EXPECT_EQ(m["maps"], (json{{"-2", {{"verts", {{0.5, 0, 0}}}, {"faces", {{0, 0, 0}}}}},
                               {"1", {{"verts", json::array()}, {"faces", {{0, 0, 0}}}}}}));
}

// References the imports never leave: an empty sub-material slot, a texture
// parameter's controller, a failed statement and a global set to undefined.
TEST(Dump, EmptySlotsControllersFailedStatementsAndUndefinedGlobals)
{
    Scene& scene = resetScene();
    auto* multi = create<MultiMtl>(MATERIAL_CLASS_ID, Class_ID(MULTI_CLASS_ID, 0));
    multi->SetNumSubMtls(2);
    multi->SetSubMtl(1, create<Mtl>(MATERIAL_CLASS_ID, GAME_MTL_CLASS_ID));
    BitmapTex* tex = NewDefaultBitmapTex();
    Control* ctrl = NewDefaultFloatController();
    ASSERT_TRUE(tex->GetUVGen()->SubAnim(0)->AssignController(ctrl, UVGEN_V_TILING));
    float v = 2.5f;
    ctrl->SetValue(0, &v);
    ExecuteMAXScriptScript("no such statement", TRUE);
    scene.globals["gone"] = nullptr;

    const json j = dumpJson(scene);
    EXPECT_EQ(j["materials"][0]["subMaterials"], (json{nullptr, 1}));
    EXPECT_EQ(j["textures"][0]["uvGen"]["controllers"],
              (json{{"uOffset", nullptr}, {"vOffset", nullptr}, {"uTiling", nullptr}, {"vTiling", 0}}));
    EXPECT_EQ(j["controllers"], (json{{{"class", "float"}, {"keys", json::array()}, {"value", 2.5}}}));
    ASSERT_EQ(j["script"].size(), 1u);
    EXPECT_EQ(j["script"][0]["ok"], false);
    EXPECT_TRUE(j["script"][0]["error"].is_string());
    EXPECT_EQ(j["globals"], (json{{"gone", {{"undefined", true}}}}));
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
