// The stand-in host's materials: the game material's parameter block, the
// multi-material's slots, coordinate generators, the bitmap file search, and
// float controllers with the animate mode.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/loader.h"
#include "host/max.h"
#include "host/scene.h"
#include "importer/Orvik.h"
#include "testkit/DffWriter.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;

std::string lookUp(const std::string& name)
{
    MCHAR out[MAX_PATH] = {};
    if (!BMMGetFullFilename(name.c_str(), out)) return "<none>";
    return out;
}

class HostMaterials : public ScratchFolder {
protected:
    void SetUp() override
    {
        ScratchFolder::SetUp();
        resetScene();
    }
    fs::path folder(const std::string& name)
    {
        fs::create_directories(dir / name);
        return dir / name;
    }
    fs::path touch(const fs::path& in, const std::string& name)
    {
        return put((in / name).lexically_relative(dir).string(), "x");
    }
};

TEST_F(HostMaterials, GameMaterialBlockHoldsTheTableKinds)
{
    GameMtl m;
    IParamBlock2* pb = m.GetParamBlock(0);
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(m.GetParamBlock(1), nullptr);
    // Float ids take floats, and so on; every other kind is refused.
    const std::string kinds = "fffctiitiftictiiffiiii";
    ASSERT_EQ(pb->Params().size(), kinds.size());
    for (int id = 0; id < 22; ++id) {
        SCOPED_TRACE(id);
        const auto p = static_cast<ParamID>(id);
        float f = 1.5f;
        int i = 7;
        Point3 c(0.1f, 0.2f, 0.3f);
        BitmapTex tex;
        EXPECT_EQ(pb->SetValue(p, 0, f) != 0, kinds[id] == 'f');
        EXPECT_EQ(pb->SetValue(p, 0, i) != 0, kinds[id] == 'i');
        EXPECT_EQ(pb->SetValue(p, 0, c) != 0, kinds[id] == 'c');
        EXPECT_EQ(pb->SetValue(p, 0, static_cast<Texmap*>(&tex)) != 0, kinds[id] == 't');
        EXPECT_TRUE(pb->Params()[static_cast<std::size_t>(id)].written);
        pb->SetValue(p, 0, static_cast<Texmap*>(nullptr));
    }
    float f = 0;
    EXPECT_FALSE(pb->SetValue(22, 0, f));
}

TEST_F(HostMaterials, RefusedSetValueChangesNothing)
{
    GameMtl m;
    IParamBlock2* pb = m.GetParamBlock(0);
    EXPECT_FALSE(pb->SetValue(0, 0, 5));  // an int for a float parameter
    EXPECT_FALSE(pb->Params()[0].written);
    Interval iv;
    float f = -1.0f;
    EXPECT_TRUE(pb->GetValue(0, 0, f, iv));
    EXPECT_EQ(f, 0.0f);

    // A texture never set reads back as null.
    Texmap* tex = reinterpret_cast<Texmap*>(&m);
    EXPECT_TRUE(pb->GetValue(4, 0, tex, iv));
    EXPECT_EQ(tex, nullptr);
    int i = 0;
    EXPECT_FALSE(pb->GetValue(4, 0, i, iv));

    Color c(0.25f, 0.5f, 1.0f);
    EXPECT_TRUE(pb->SetValue(12, 0, c));
    Color back;
    EXPECT_TRUE(pb->GetValue(12, 0, back, iv));
    EXPECT_EQ(back.g, 0.5f);
}

TEST_F(HostMaterials, MultiMaterialSlots)
{
    MultiMtl multi;
    GameMtl a;
    multi.SetNumSubMtls(2);
    multi.SetSubMtl(1, &a);
    multi.SetSubMtl(2, &a);  // outside the count: refused
    multi.SetSubMtl(-1, &a);
    EXPECT_EQ(multi.NumSubMtls(), 2);
    EXPECT_EQ(multi.GetSubMtl(0), nullptr);
    EXPECT_EQ(multi.GetSubMtl(1), &a);
    EXPECT_EQ(multi.GetSubMtl(2), nullptr);
    multi.SetNumSubMtls(3);
    EXPECT_EQ(multi.GetSubMtl(1), &a);
}

TEST_F(HostMaterials, CoordinateGeneratorTakesFloatControllersOnly)
{
    BitmapTex* tex = NewDefaultBitmapTex();
    ASSERT_EQ(currentScene().textures.size(), 1u);
    Animatable* params = tex->GetUVGen()->SubAnim(0);
    ASSERT_NE(params, nullptr);
    Control* c = NewDefaultFloatController();
    EXPECT_FALSE(params->AssignController(tex, 0));
    EXPECT_FALSE(params->AssignController(c, 4));
    EXPECT_TRUE(params->AssignController(c, 3));
    EXPECT_EQ(tex->GetUVGen()->Params().GetController(3), c);
    EXPECT_EQ(params->SubAnim(3), c);
    EXPECT_EQ(tex->GetUVGen()->Params().GetController(0), nullptr);
}

TEST_F(HostMaterials, MapNameRecordsWhetherTheFileExists)
{
    const fs::path f = folder("mapname");
    const fs::path file = touch(f, "a.tga");
    BitmapTex tex;
    EXPECT_EQ(tex.GetMapName(), nullptr);
    tex.SetMapName(file.string().c_str());
    EXPECT_TRUE(tex.MapFileFound());
    EXPECT_EQ(std::string(tex.GetMapName()), file.string());
    tex.SetMapName(f.string().c_str());  // a folder is no bitmap
    EXPECT_FALSE(tex.MapFileFound());
    tex.SetMapName("surely-missing.TGA");
    EXPECT_FALSE(tex.MapFileFound());
    // A relative name is not looked for in the working folder, even where a
    // file of that name is there.
    const std::string here = "mapname-" + std::to_string(::getpid()) + ".tga";
    std::ofstream(here).put('x');
    tex.SetMapName(here.c_str());
    EXPECT_FALSE(tex.MapFileFound());
    tex.SetMapName(fs::absolute(here).string().c_str());
    EXPECT_TRUE(tex.MapFileFound());
    fs::remove(here);
}

TEST_F(HostMaterials, BitmapSearchOrderAndCase)
{
    const fs::path model = folder("model"), first = folder("first"), second = folder("second");
    HostOptions options;
    options.bitmapPaths = {first.string(), second.string()};
    Scene& scene = resetScene(options);
    scene.importFile = (model / "car.dff").string();

    // Every file is there before the first look-up (folders are listed once per import).
    const fs::path inModel = touch(model, "Wheel.TGA");
    const fs::path inFirst = touch(first, "door.dds");
    touch(second, "door.dds");
    const fs::path inSecond = touch(second, "roof.png");
    touch(model, "hood.bmp");
    touch(first, "hood.bmp");
    const fs::path deep = touch(second, "sub/Deep.jpg");

    EXPECT_EQ(lookUp("wheel.tga"), inModel.string());  // file names compared ignoring case
    EXPECT_EQ(lookUp("DOOR.DDS"), inFirst.string());
    EXPECT_EQ(lookUp("roof.png"), inSecond.string());
    EXPECT_EQ(lookUp("hood.bmp"), (model / "hood.bmp").string());  // the model's folder comes first

    // A name that is a path is taken as it stands, its case too.
    EXPECT_EQ(lookUp(deep.string()), deep.string());
    EXPECT_EQ(lookUp((second / "SUB" / "deep.JPG").string()), deep.string());
    EXPECT_EQ(lookUp("sub/deep.jpg"), deep.string());  // relative to a bitmap folder

    EXPECT_EQ(lookUp("missing.tga"), "<none>");
    EXPECT_EQ(lookUp(""), "<none>");
    // No answer that does not fit the host's 260-character buffer.
    const std::string longName(300, 'n');
    EXPECT_EQ(lookUp(longName), "<none>");
}

TEST_F(HostMaterials, BitmapSearchLooksAtTheCurrentImportOnly)
{
    const fs::path model = folder("only");
    touch(model, "tyre.tga");
    resetScene().importFile = (model / "a.dff").string();
    EXPECT_NE(lookUp("tyre.tga"), "<none>");
    resetScene();
    EXPECT_EQ(lookUp("tyre.tga"), "<none>");
}

// Each folder is listed once per import, however often it changes meanwhile:
// the next import sees names added, removed or respelled.
TEST_F(HostMaterials, BitmapSearchListsEachFolderOncePerImport)
{
    const fs::path model = folder("listing");
    const std::string dff = (model / "a.dff").string();
    resetScene().importFile = dff;
    touch(model, "other.tga");
    EXPECT_EQ(lookUp("TYRE.TGA"), "<none>");  // the folder is listed here
    const fs::path tyre = touch(model, "Tyre.tga");
    EXPECT_EQ(lookUp("TYRE.TGA"), "<none>");
    EXPECT_EQ(lookUp("Tyre.tga"), "<none>");
    resetScene().importFile = dff;
    EXPECT_EQ(lookUp("TYRE.TGA"), tyre.string());
    fs::remove(tyre);
    EXPECT_EQ(lookUp("TYRE.TGA"), "<none>");  // a listed name whose file went away
    const fs::path upper = touch(model, "TYRE.tga");
    const fs::path lower = touch(model, "tyre.TGA");
    resetScene().importFile = dff;
    EXPECT_EQ(lookUp("Tyre.Tga"), upper.string());  // the smallest spelling of several
    fs::remove(upper);
    resetScene().importFile = dff;
    EXPECT_EQ(lookUp("Tyre.Tga"), lower.string());

    // A folder whose listing takes several reads of the system's entries
    // (about 40 bytes each, 8 KB a read): every name is found, none twice.
    const fs::path many = folder("many");
    for (int i = 0; i < 600; ++i) touch(many, "texture-number-" + std::to_string(i) + ".TGA");
    resetScene().importFile = (many / "a.dff").string();
    for (int i : {0, 299, 599}) {
        const std::string name = "TEXTURE-NUMBER-" + std::to_string(i) + ".tga";
        EXPECT_EQ(lookUp(name), (many / ("texture-number-" + std::to_string(i) + ".TGA")).string()) << name;
    }
    EXPECT_EQ(lookUp("texture-number-600.tga"), "<none>");
    EXPECT_EQ(currentScene().folderListings.at(many.string())->entries.size(), 600u);
}

// A settled folder's listing is kept from one import to the next while the
// folder is unchanged; a changed folder is listed anew, and kept again only
// once its modification time is well behind the listing. At most 16 folders
// are kept, the least recently used going first.
TEST_F(HostMaterials, SettledFolderListingsKeptAcrossImports)
{
    const auto settle = [](const fs::path& f) {
        fs::last_write_time(f, fs::file_time_type::clock::now() - std::chrono::hours(1));
    };
    const auto importFrom = [](const fs::path& f) { resetScene().importFile = (f / "a.dff").string(); };
    const fs::path model = folder("kept");
    const fs::path tyre = touch(model, "Tyre.tga");
    settle(model);
    const std::size_t start = bitmapFolderListings();
    for (int i = 0; i < 3; ++i) {
        importFrom(model);
        EXPECT_EQ(lookUp("TYRE.TGA"), tyre.string());
    }
    EXPECT_EQ(bitmapFolderListings(), start + 1);

    const fs::path rim = touch(model, "rim.tga");  // just changed: listed by each import
    for (int i = 0; i < 2; ++i) {
        importFrom(model);
        EXPECT_EQ(lookUp("RIM.tga"), rim.string());
    }
    EXPECT_EQ(bitmapFolderListings(), start + 3);
    settle(model);
    for (int i = 0; i < 2; ++i) {
        importFrom(model);
        EXPECT_EQ(lookUp("RIM.tga"), rim.string());
    }
    EXPECT_EQ(bitmapFolderListings(), start + 4);

    // 16 other settled folders listed after it: the first is listed again.
    for (int i = 0; i < 16; ++i) {
        const fs::path other = folder("other" + std::to_string(i));
        settle(other);
        importFrom(other);
        EXPECT_EQ(lookUp("rim.tga"), "<none>");
    }
    importFrom(model);
    EXPECT_EQ(lookUp("rim.tga"), rim.string());
    EXPECT_EQ(bitmapFolderListings(), start + 4 + 16 + 1);

    // Another folder put in its place with the same modification time: its
    // own listing, told apart by the folder's identity.
    const auto modified = fs::last_write_time(model);
    fs::remove_all(model);
    const fs::path hub = touch(folder("kept"), "hub.tga");
    fs::last_write_time(model, modified);
    importFrom(model);
    EXPECT_EQ(lookUp("rim.tga"), "<none>");
    EXPECT_EQ(lookUp("hub.tga"), hub.string());
    EXPECT_EQ(bitmapFolderListings(), start + 4 + 16 + 2);
}

// Where the bitmap search finds a name, and whether a bitmap file is there,
// are found once per name and import: the next import of the same model,
// and a texture named outside any import, see the file as it is then.
TEST_F(HostMaterials, MapFileTestsLastOneImport)
{
    const fs::path f = folder("mapfile");
    const std::string model = (f / "box.dff").string();
    const std::vector<std::uint8_t> bytes = dffw::write(dffw::makeBox((f / "paint").string()));
    std::ofstream(model, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Scene& scene = resetScene();
    ASSERT_EQ(runImport(*GetOrvikDesc(), model).result, 1);
    ASSERT_FALSE(scene.textures.empty());
    EXPECT_FALSE(scene.textures.back()->MapFileFound());
    const fs::path file = touch(f, "paint.TGA");
    ASSERT_EQ(runImport(*GetOrvikDesc(), model).result, 1);
    EXPECT_TRUE(scene.textures.back()->MapFileFound());
    EXPECT_EQ(std::string(scene.textures.back()->GetMapName()), file.string());
    fs::remove(file);
    ASSERT_EQ(runImport(*GetOrvikDesc(), model).result, 1);
    EXPECT_FALSE(scene.textures.back()->MapFileFound());
    BitmapTex outside;
    outside.SetMapName(file.string().c_str());
    EXPECT_FALSE(outside.MapFileFound());
}

// The working folder of the command-line host is not the host's: a relative
// name is looked up in the model's folder and the bitmap folders only.
TEST_F(HostMaterials, BitmapSearchNeverLooksInTheWorkingFolder)
{
    const fs::path model = folder("own"), shell = folder("shell");
    touch(shell, "tex.png");
    touch(shell, "only.png");
    const fs::path own = touch(model, "TEX.png");
    const fs::path before = fs::current_path();
    fs::current_path(shell);
    resetScene().importFile = (model / "car.dff").string();
    const std::string found = lookUp("tex.png");
    const std::string onlyInShell = lookUp("only.png");
    const std::string dotted = lookUp("./only.png");
    fs::current_path(before);
    EXPECT_EQ(found, own.string());
    EXPECT_EQ(onlyInShell, "<none>");
    EXPECT_EQ(dotted, "<none>");
}

float valueAt(Control* c, TimeValue t)
{
    float v = 0;
    Interval iv;
    c->GetValue(t, &v, iv);
    return v;
}

TEST_F(HostMaterials, FloatControllerKeysAndConstant)
{
    auto* c = static_cast<FloatController*>(NewDefaultFloatController());
    ASSERT_EQ(currentScene().controllers.size(), 1u);
    float v = 3.0f;
    c->SetValue(100, &v);  // animate off: the constant
    EXPECT_TRUE(c->Keys().empty());
    EXPECT_EQ(valueAt(c, -5000), 3.0f);

    AnimateOn();
    float a = 2.0f, b = 4.0f, d = 10.0f;
    c->SetValue(4800, &b);
    c->SetValue(0, &a);
    c->SetValue(9600, &d);
    c->SetValue(4800, &b);  // the same time replaces
    AnimateOff();
    ASSERT_EQ(c->Keys().size(), 3u);
    EXPECT_EQ(c->Keys()[0], (std::pair<TimeValue, float>{0, 2.0f}));
    EXPECT_EQ(c->Keys()[1], (std::pair<TimeValue, float>{4800, 4.0f}));
    EXPECT_EQ(valueAt(c, 4800), 4.0f);
    EXPECT_EQ(valueAt(c, 2400), 3.0f);
    EXPECT_EQ(valueAt(c, 7200), 7.0f);
    EXPECT_EQ(valueAt(c, -100), 2.0f);  // clamped outside the keys
    EXPECT_EQ(valueAt(c, 20000), 10.0f);
}

TEST_F(HostMaterials, SuspendAndResumeNest)
{
    EXPECT_FALSE(Animating());
    AnimateOn();
    SuspendAnimate();
    EXPECT_FALSE(Animating());
    AnimateOn();
    SuspendAnimate();
    AnimateOff();
    ResumeAnimate();
    EXPECT_TRUE(Animating());
    ResumeAnimate();
    EXPECT_TRUE(Animating());
    AnimateOff();
    ResumeAnimate();  // nothing saved: unchanged
    EXPECT_FALSE(Animating());
}

}  // namespace
