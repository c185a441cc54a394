// Animation in the stand-in host (transform keys, interpolation, the range)
// and the animation importer: bones matched to nodes, keys at the host's
// ticks, the skeleton's top bone placed where the model stands, and the
// first keys of a standing animation on a real ped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "anim/IfpImport.h"
#include "support/Fixtures.h"
#include "support/Golden.h"
#include "support/ImportHarness.h"
#include "testkit/IfpWriter.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The angle in degrees between two rotations.
double angleBetween(const Quat& a, const Quat& b)
{
    const double dot = std::fabs(double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z + double(a.w) * b.w);
    return 2.0 * std::acos(std::min(dot, 1.0)) * 180.0 / kPi;
}

Quat aboutZ(double degrees)
{
    const double h = degrees * kPi / 360.0;
    return Quat(0.0f, 0.0f, float(std::sin(h)), float(std::cos(h)));
}

Matrix3 transform(const Quat& q, const Point3& t)
{
    Matrix3 m;
    q.MakeMatrix(m);
    m.SetTrans(t);
    return m;
}

INode* dummyNode(const char* name, INode* parent, const Matrix3& local, int boneId = -1)
{
    Interface* ip = GetCOREInterface();
    INode* n =
        ip->CreateObjectNode(static_cast<Object*>(ip->CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0))));
    n->SetName(name);
    Matrix3 world = parent ? local * parent->GetNodeTM(0) : local;
    n->SetNodeTM(0, world);
    if (parent) parent->AttachChild(n, 1);
    if (boneId >= 0) n->SetUserPropInt("BoneId", boneId);
    return n;
}

// A parent keyed at ticks 0 and 4800 (a quarter turn about Z and a move),
// with a child that has no keys of its own.
TEST(HostAnimation, KeysInterpolateAndCarryChildren)
{
    resetScene();
    INode* parent = dummyNode("parent", nullptr, Matrix3());
    INode* child = dummyNode("child", parent, transform(Quat(), Point3(1, 0, 0)));
    SuspendAnimate();
    AnimateOn();
    Matrix3 first = transform(Quat(), Point3(0, 0, 0));
    Matrix3 last = transform(aboutZ(90), Point3(0, 0, 2));
    parent->SetNodeTM(0, first);
    parent->SetNodeTM(4800, last);
    ResumeAnimate();
    EXPECT_FALSE(Animating());
    ASSERT_EQ(parent->RotationKeys().size(), 2u);
    EXPECT_TRUE(parent->ScaleKeys().empty());
    EXPECT_FALSE(child->HasKeys());

    struct Case {
        TimeValue t;
        double degrees;  // the parent's turn
        float height;
    };
    for (const Case c : {Case{-100, 0, 0}, Case{0, 0, 0}, Case{2400, 45, 1}, Case{1200, 22.5, 0.5f}, Case{4800, 90, 2},
                         Case{9000, 90, 2}}) {
        SCOPED_TRACE(c.t);
        const Matrix3 p = parent->GetNodeTM(c.t);
        EXPECT_NEAR(angleBetween(Quat(p), aboutZ(c.degrees)), 0.0, 0.1);
        EXPECT_NEAR(p.GetTrans().z, c.height, 1e-5f);
        // The child rides one unit along the parent's turned X axis.
        const double a = c.degrees * kPi / 180.0;
        expectNear(child->GetNodeTM(c.t).GetTrans(), float(std::cos(a)), float(std::sin(a)), c.height, 1e-5f);
    }

    // A scale keyed first at 4800 is 1 before it and grows from the key at 0.
    AnimateOn();
    Matrix3 grown = last;
    for (int i = 0; i < 3; ++i) grown.SetRow(i, grown.GetRow(i) * 2.0f);
    parent->SetNodeTM(4800, grown);
    AnimateOff();
    for (const auto& [t, scale] : {std::pair{-100, 1.0f}, {0, 1.0f}, {2400, 1.5f}, {4800, 2.0f}}) {
        const Point3 x = parent->GetNodeTM(t).GetRow(0);
        EXPECT_NEAR(std::sqrt(x.x * x.x + x.y * x.y + x.z * x.z), scale, 1e-5f) << t;
    }

    // Outside animate mode a transform holds for all times and drops the keys.
    Matrix3 fixed = transform(Quat(), Point3(5, 0, 0));
    parent->SetNodeTM(2400, fixed);
    EXPECT_FALSE(parent->HasKeys());
    expectNear(parent->GetNodeTM(4800).GetTrans(), 5, 0, 0);
}

// A small skeleton: a model root, a top bone, two children with ids.
struct Skeleton {
    INode* root;
    INode* hips;
    INode* spine;
    INode* head;
};

Skeleton makeSkeleton()
{
    resetScene();
    Skeleton s{};
    s.root = dummyNode("Model", nullptr, transform(aboutZ(90), Point3(0, 0, 1)));
    s.hips = dummyNode("Hips", s.root, Matrix3(), 0);
    s.spine = dummyNode(" Spine", s.hips, transform(Quat(), Point3(0.5f, 0, 0)), 2);
    s.head = dummyNode("Head", s.spine, transform(Quat(), Point3(0.25f, 0, 0)), 5);
    return s;
}

// A folder of this test process's own for the package files it writes: the
// tests run in parallel, and two of them writing one file name would read
// each other's packages.
const std::string& packageFolder()
{
    static const std::string folder = [] {
        const std::string f = ::testing::TempDir() + "orvik-ifp-" + std::to_string(::getpid()) + "/";
        std::filesystem::create_directories(f);
        return f;
    }();
    return folder;
}

// Imports the package file's animation named (the first when "") onto the scene.
int importPackage(const std::vector<std::uint8_t>& bytes, const char* animation = "")
{
    const std::string path = packageFolder() + "orvik-test.ifp";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto* options = static_cast<IfpImportOptions*>(GetIfpImportDesc()->GetInterface(IFP_IMPORT_OPTIONS_ID));
    options->SetAnimationName(animation);
    const int result = runImport(*GetIfpImportDesc(), path).result;
    options->SetAnimationName("");
    return result;
}

// A key turning about Z, its rotation stored as the layout stores it.
ifpw::Key turnKey(ifp::Layout layout, float time, double degrees, std::array<float, 3> translation = {0, 0, 0},
                  std::array<float, 3> scale = {1, 1, 1})
{
    const Quat q = layout == ifp::Layout::Anpk ? aboutZ(degrees).Conjugate() : aboutZ(degrees);
    return ifpw::Key{time, {q.x, q.y, q.z, q.w}, translation, scale};
}

// The second animation, chosen by name in any case: the top bone (by name)
// turned, moved and scaled; a bone whose id finds " Spine" though its name
// says Head; Head found by name, whatever the case; two bones the scene
// lacks. The dump (keys at the host's ticks, the range, the log) is golden;
// the top bone's place is checked here.
TEST(IfpImport, KeysTheSkeletonAsTheDumpSays)
{
    for (ifp::Layout layout : {ifp::Layout::Anpk, ifp::Layout::Anp3}) {
        SCOPED_TRACE(ifp::layoutName(layout));
        const Skeleton s = makeSkeleton();
        ifpw::Package p;
        p.layout = layout;
        p.animations = {
            ifpw::Animation{"other", {}},
            ifpw::Animation{"Walk",
                            {
                                {"hips",
                                 -1,
                                 ifp::KeyType::RTS,
                                 {turnKey(layout, 0, 45, {0.5f, 0, 0.25f}, {2, 1, 1}),
                                  turnKey(layout, 1, 90, {0, 0, 0.25f})}},
                                {"Head", 2, ifp::KeyType::R, {turnKey(layout, 0, 0), turnKey(layout, 0.5f, 30)}},
                                {"HEAD", -1, ifp::KeyType::R, {turnKey(layout, 0, 0), turnKey(layout, 1, 60)}},
                                {"Tail", 9, ifp::KeyType::R, {turnKey(layout, 0, 0)}},
                                {"Wing", -1, ifp::KeyType::R, {turnKey(layout, 0, 0)}},
                            }}};
        EXPECT_EQ(importPackage(ifpw::write(p), "walk"), 1);
        // The top bone's keys are relative to where the model stands, in the
        // scene's axes: the model root's turn does not turn it again.
        const Matrix3 hips = s.hips->GetNodeTM(4800);
        EXPECT_NEAR(angleBetween(Quat(hips), aboutZ(90)), 0.0, 0.1);
        expectNear(hips.GetTrans(), 0, 0, 1.25f, 1e-3f);
        GetCOREInterface()->SetAnimRange(Interval(10, 10));  // refused: empty
        expectGolden(std::string("anim/import-") + (layout == ifp::Layout::Anpk ? "anpk" : "anp3") + ".json",
                     dumpText(currentScene()), {{packageFolder(), "{tmp}/"}});
    }
}

TEST(IfpImport, RefusesWhatItCannotApply)
{
    struct Case {
        const char* animation;
        std::vector<std::uint8_t> bytes;
        const char* says;
    };
    ifpw::Package unknown;
    unknown.animations[0].bones[0].name = "nobody";
    const Case cases[] = {
        {"run", ifpw::write(ifpw::Package()), "no animation named \"run\""},
        {"", {'A', 'N', 'P', 'X', 0, 0, 0, 0}, "no animation to import"},
        {"", ifpw::write(unknown), "1 of its 1 bones are not in the scene"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        makeSkeleton();
        EXPECT_EQ(importPackage(c.bytes, c.animation), 0);
        bool said = false;
        for (const LogRecord& e : currentScene().log) said = said || e.text.find(c.says) != std::string::npos;
        EXPECT_TRUE(said);
        for (INode* n : currentScene().nodes) EXPECT_FALSE(n->HasKeys());
    }
}

// LoadPackage reads a package once: its names and damage line through the
// published options, a file that cannot be read said; imports of that file
// take it from memory while the file keeps its size and time, and read it
// again when it changed.
TEST(IfpImport, PackageKeptWhileTheFileStaysTheSame)
{
    auto* options = static_cast<IfpImportOptions*>(GetIfpImportDesc()->GetInterface(IFP_IMPORT_OPTIONS_ID));
    const std::string path = packageFolder() + "orvik-kept.ifp";
    const auto load = [&](const ifpw::Package& p, const std::vector<std::string>& names, bool damaged) {
        const std::vector<std::uint8_t> bytes = ifpw::write(p);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(options->LoadPackage(path.c_str()));
        std::vector<std::string> held;
        for (int i = 0; i <= options->GetAnimationCount(); ++i) {
            if (const char* name = options->GetAnimationNameAt(i)) held.emplace_back(name);
        }
        EXPECT_EQ(held, names);
        EXPECT_EQ(std::string(options->GetPackageMessage()).empty(), !damaged) << options->GetPackageMessage();
    };
    ifpw::Package p;
    p.animations = {
        ifpw::Animation{"Idle", {ifpw::Bone{"Hips", -1, ifp::KeyType::R, {turnKey(ifp::Layout::Anpk, 0, 10)}}}}};
    p.animationCount = 2;  // claims one more than it holds
    load(p, {"Idle"}, true);
    p.animationCount.reset();
    load(p, {"Idle"}, false);
    EXPECT_FALSE(options->LoadPackage((path + ".missing").c_str()));
    EXPECT_STREQ(options->GetPackageMessage(), "cannot be opened");
    load(p, {"Idle"}, false);

    // Other bytes of the same size and time are not read; a new time is.
    const auto stamp = std::filesystem::last_write_time(path);
    p.animations[0].name = "Walk";
    const std::vector<std::uint8_t> bytes = ifpw::write(p);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::filesystem::last_write_time(path, stamp);
    options->SetAnimationName("Idle");
    for (const int expected : {1, 0}) {
        const Skeleton s = makeSkeleton();
        EXPECT_EQ(runImport(*GetIfpImportDesc(), path).result, expected);
        EXPECT_EQ(s.hips->HasKeys(), expected == 1);
        std::filesystem::last_write_time(path, stamp + std::chrono::seconds(1));
    }
    options->SetAnimationName("");
}

Matrix3 matrixOf(const nlohmann::json& rows)
{
    Matrix3 m;
    for (int i = 0; i < 4; ++i) {
        const auto& r = rows[static_cast<std::size_t>(i)];
        m.SetRow(i, Point3(r[0].get<float>(), r[1].get<float>(), r[2].get<float>()));
    }
    return m;
}

// The first keys of a standing animation lie near a ped's bind pose: the
// top bone where the model stands, and most other bones' rotations near
// their bind rotation relative to the parent. Each model is bound in a pose
// of its own (these two differ by up to 19 degrees in the arms), the upper
// arms twisted about their length and the wrists bent 35 to 41 degrees from
// the package's standing pose, which most of its animations start in.
TEST(IfpSamples, IdleStanceStartsNearTheBindPoseOfIiiPeds)
{
    ORVIK_REQUIRE_SAMPLES();
    for (const char* model : {"ped-c02.dff", "cbl-maria.dff"}) {
        SCOPED_TRACE(model);
        importFile(samplePath(model), quietHost());
        auto* options = static_cast<IfpImportOptions*>(GetIfpImportDesc()->GetInterface(IFP_IMPORT_OPTIONS_ID));
        options->SetAnimationName("idle_stance");
        EXPECT_EQ(runImport(*GetIfpImportDesc(), samplePath("anpk-iii-ped.ifp")).result, 1);
        options->SetAnimationName("");
        const nlohmann::json dump = dumpJson(currentScene());
        const nlohmann::json& skin = dump["modifiers"][0];
        std::map<int, Matrix3> bind;
        for (std::size_t k = 0; k < skin["bones"].size(); ++k) {
            bind[skin["bones"][k].get<int>()] = matrixOf(skin["boneInitTms"][k]);
        }
        int bones = 0, near = 0;
        for (const auto& [index, bindWorld] : bind) {
            const nlohmann::json& node = dump["nodes"][static_cast<std::size_t>(index)];
            ASSERT_FALSE(node["keys"].is_null()) << node["name"];
            const int parent = node["parent"].get<int>();
            if (bind.count(parent) == 0) {
                // The top bone: its world transform at time 0.
                const Matrix3 world = matrixOf(node["tm"]);
                EXPECT_LT(angleBetween(Quat(world), Quat(bindWorld)), 5.0) << node["name"];
                const Point3 d = world.GetTrans() - bindWorld.GetTrans();
                EXPECT_LT(std::sqrt(DotProd(d, d)), 0.03f) << node["name"];
                continue;
            }
            const nlohmann::json& r = node["keys"]["rotation"][0];
            const Quat key(r[1].get<float>(), r[2].get<float>(), r[3].get<float>(), r[4].get<float>());
            const Quat rest(bindWorld * Inverse(bind[parent]));
            ++bones;
            near += angleBetween(key, rest) < 15.0 ? 1 : 0;
        }
        EXPECT_EQ(bones, 15);
        EXPECT_GE(near * 3, bones * 2) << near << " of " << bones << " bones within 15 degrees";
    }
}

}  // namespace
