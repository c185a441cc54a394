// Resource bounds: no count from the file makes an import allocate more than
// the file backs. The heap is measured with counting global allocation
// functions in this test binary (every host and plug-in container allocates
// through them); the peak of the live bytes during one import, less what was
// live before it, must stay within kBytesPerFileByte times the file size plus
// kFixedBytes. The inputs are the worst the format allows for each count
// (many faces over few vertices in every map channel, bin mesh strips,
// frames, materials with textures, bones shared by many skins, UV animations
// shared by many materials) and count and size mutants of the writer's
// models and the samples.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

#include "fuzz/ChunkTree.h"
#include "fuzz/CorpusModels.h"
#include "host/loader.h"
#include "host/scene.h"
#include "anim/IfpImport.h"
#include "importer/Orvik.h"
#include "support/Fixtures.h"
#include "testkit/IfpWriter.h"
#include "support/ImportHarness.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Counting allocation functions: each block carries its size in front.

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

constexpr std::size_t kFront = alignof(std::max_align_t);

void noteAllocated(std::size_t n)
{
    const std::size_t now = liveBytes.fetch_add(n, std::memory_order_relaxed) + n;
    std::size_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void* countedAllocate(std::size_t n, std::size_t align) noexcept
{
    const std::size_t front = align > kFront ? align : kFront;
    void* raw = nullptr;
    if (posix_memalign(&raw, front, front + (n ? n : 1)) != 0) return nullptr;
    auto* p = static_cast<unsigned char*>(raw) + front;
    reinterpret_cast<std::size_t*>(p)[-1] = n;
    reinterpret_cast<std::size_t*>(p)[-2] = front;
    noteAllocated(n);
    return p;
}

void countedFree(void* ptr) noexcept
{
    if (ptr == nullptr) return;
    auto* p = static_cast<unsigned char*>(ptr);
    const std::size_t n = reinterpret_cast<std::size_t*>(p)[-1];
    const std::size_t front = reinterpret_cast<std::size_t*>(p)[-2];
    liveBytes.fetch_sub(n, std::memory_order_relaxed);
    std::free(p - front);
}

void* countedOrThrow(std::size_t n, std::size_t align)
{
    void* p = countedAllocate(n, align);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t n)
{
    return countedOrThrow(n, kFront);
}
void* operator new[](std::size_t n)
{
    return countedOrThrow(n, kFront);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return countedAllocate(n, kFront);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return countedAllocate(n, kFront);
}
void* operator new(std::size_t n, std::align_val_t a)
{
    return countedOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a)
{
    return countedOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return countedAllocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return countedAllocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept
{
    countedFree(p);
}
void operator delete[](void* p) noexcept
{
    countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    countedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    countedFree(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    countedFree(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    countedFree(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    countedFree(p);
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// The bound every import keeps to.
constexpr std::size_t kBytesPerFileByte = 64;
constexpr std::size_t kFixedBytes = std::size_t{1} << 20;

struct Measured {
    std::size_t peak = 0;  // bytes above what was live before the import
    std::size_t fileSize = 0;
    ImportOutcome outcome;
    double ratio() const { return fileSize ? static_cast<double>(peak) / static_cast<double>(fileSize) : 0.0; }
};

std::ostream& operator<<(std::ostream& out, const Measured& m)
{
    return out << m.peak << " bytes at the peak for a file of " << m.fileSize << " (" << m.ratio() << " per byte)";
}

// The file every import reads, in a folder of its own removed at exit.
class ModelFile {
public:
    ModelFile()
    {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        folder = base / ("orvik-bounds-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        path = folder / "model.dff";
    }
    ~ModelFile()
    {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    fs::path folder, path;
};

const fs::path& modelPath()
{
    static const ModelFile file;
    return file.path;
}

// One import of the model file on a fresh scene, with the heap's peak
// measured from just before the import starts to its end.
Measured measureImport(std::size_t fileSize)
{
    resetScene(quietHost());
    Measured m;
    m.fileSize = fileSize;
    const std::size_t before = liveBytes.load();
    peakBytes.store(before);
    m.outcome = runImport(*GetOrvikDesc(), modelPath().string());
    m.peak = peakBytes.load() - before;
    return m;
}

Measured measure(const Bytes& bytes)
{
    {
        std::ofstream out(modelPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return measureImport(bytes.size());
}

void expectBounded(const Bytes& bytes, const std::string& what)
{
    const Measured m = measure(bytes);
    EXPECT_TRUE(m.outcome.ran && m.outcome.result == 1) << what;
    EXPECT_LE(m.peak, kBytesPerFileByte * m.fileSize + kFixedBytes) << what << ": " << m;
    // ORVIK_SHOW_PEAKS=1 prints every measurement.
    if (std::getenv("ORVIK_SHOW_PEAKS")) {
        std::ostringstream line;
        line << what << ": " << m << "\n";
        std::fputs(line.str().c_str(), stdout);
    }
}

int meshNodeCount(const Scene& scene)
{
    int n = 0;
    for (INode* node : scene.nodes)
        if (dynamic_cast<TriObject*>(node->GetObjectRef())) ++n;
    return n;
}

// ---------------------------------------------------------------------------
// The worst inputs of each kind

// A sparse file of zeros of the largest size the importer takes: its first
// header is no top-level chunk, so the import ends there without holding the
// rest of the file.
TEST(ResourceBounds, LargeFileOfSomethingElseIsNotReadWhole)
{
    const std::uintmax_t size = 0xFFFFFFFFu;
    {
        std::ofstream out(modelPath(), std::ios::binary | std::ios::trunc);
    }
    fs::resize_file(modelPath(), size);
    const Measured m = measureImport(size);
    fs::resize_file(modelPath(), 0);
    EXPECT_TRUE(m.outcome.ran && m.outcome.result == 1);
    EXPECT_TRUE(currentScene().nodes.empty());
    EXPECT_TRUE(currentScene().progress.opened && currentScene().progress.closed);
    EXPECT_LE(m.peak, kFixedBytes) << m;
}

TEST(ResourceBounds, ManyFacesInEveryMapChannel)
{
    const Bytes bytes = dffw::write(corpus::manyFacesFewVertices(0xFFFF, 8));
    expectBounded(bytes, "eight texture sets");
    EXPECT_EQ(meshNodeCount(currentScene()), 1);
}

// A format claiming more than eight texture-coordinate sets is damaged: the
// geometry ends the import, the coordinates held or not.
TEST(ResourceBounds, MoreThanEightTextureSetsEndTheImport)
{
    for (std::size_t sets : {9u, 255u}) {
        dffw::File file;
        file.units.push_back(dffw::makeBox("before", 1.0f, "before"));
        file.units.push_back(corpus::manyFacesFewVertices(0xFFFF, sets));
        file.units.push_back(dffw::makeBox("after", 1.0f, "after"));
        const Bytes bytes = dffw::write(file);
        expectBounded(bytes, std::to_string(sets) + " texture sets");
        const Scene& scene = currentScene();
        ASSERT_EQ(scene.nodes.size(), 1u) << sets << " sets";
        EXPECT_STREQ(scene.nodes[0]->GetName(), "before");
    }
    // Eight sets are read.
    const Scene& scene = importBytes(dffw::write(corpus::manyFacesFewVertices(4, 8)));
    ASSERT_EQ(meshNodeCount(scene), 1);
    auto* tri = dynamic_cast<TriObject*>(scene.nodes[0]->GetObjectRef());
    ASSERT_NE(tri, nullptr);
    EXPECT_TRUE(tri->GetMesh().mapSupport(8));
}

// A large geometry takes its faces from its bin mesh: a strip over three
// vertices whose every window is a new triangle.
TEST(ResourceBounds, BinMeshStripOverFewVertices)
{
    dffw::Clump c = corpus::manyFacesFewVertices(0x10000, 8);
    dffw::BinMesh strip;
    strip.mode = dffw::BinMesh::Strip;
    dffw::BinMeshSplit split;
    for (std::uint32_t i = 0; i < 0x60000; ++i) split.indices.push_back(i % 3);
    strip.splits.push_back(split);
    c.geometries[0].extension.items.push_back(strip);
    expectBounded(dffw::write(c), "strip of 0x60000 indices");
    EXPECT_EQ(meshNodeCount(currentScene()), 1);
}

TEST(ResourceBounds, ManyFrames)
{
    dffw::Clump c;
    c.frames.assign(20000, dffw::Frame{});
    for (std::size_t i = 1; i < c.frames.size(); ++i) c.frames[i].parent = static_cast<std::uint32_t>(i - 1);
    expectBounded(dffw::write(c), "20000 frames in a chain");
    EXPECT_EQ(currentScene().nodes.size(), 20000u);
}

TEST(ResourceBounds, ManyMaterialsWithEveryTexture)
{
    dffw::Clump c;
    c.frames.push_back(dffw::Frame{});
    dffw::Geometry g = dffw::makeQuad();
    g.materials.assign(3000, corpus::richMaterial("none"));
    c.geometries.push_back(std::move(g));
    c.atomics.push_back(dffw::Atomic{});
    expectBounded(dffw::write(c), "3000 materials");
    EXPECT_GE(currentScene().materials.size(), 3000u);
}

TEST(ResourceBounds, BonesSharedByManySkins)
{
    expectBounded(dffw::write(corpus::sharedBones(250, 400, 1)), "400 skins of 250 bones");
    expectBounded(dffw::write(corpus::sharedBones(250, 1, 2000)), "2000 atomics on one skin of 250 bones");
    // Every atomic still gets its mesh node and Skin; the first Skins have every bone.
    const Scene& scene = currentScene();
    EXPECT_EQ(meshNodeCount(scene), 2000);
    ASSERT_EQ(scene.modifiers.size(), 2000u);
    EXPECT_EQ(scene.modifiers[0]->GetNumBones(), 250);
    EXPECT_EQ(scene.modifiers[0]->Weights().size(), 3u);
    EXPECT_EQ(scene.modifiers.back()->GetNumBones(), 0);
}

TEST(ResourceBounds, UvAnimationSharedByManyMaterials)
{
    expectBounded(dffw::write(corpus::sharedAnimation(4000, 2000)), "2000 materials on one animation of 4000 keys");
    // The first materials' controllers hold the whole animation.
    const Scene& scene = currentScene();
    ASSERT_GE(scene.controllers.size(), 4u);
    EXPECT_EQ(scene.controllers[0]->Keys().size(), 4000u);
}

// Many collision spheres and boxes (each a mesh in the host), and 2d effects
// on a geometry that many atomics show: the host gets at most what the file
// size allows, the rest is left out with an information entry.
TEST(ResourceBounds, CollisionShapesAndSharedEffects)
{
    dffw::Clump shapes = dffw::makeBox("crate", 1.0f, "shapes");
    colw::Entry entry;
    entry.spheres.assign(4000, colw::Sphere{});
    entry.boxes.assign(4000, colw::Box{});
    shapes.extension.items.push_back(colw::collisionChunk(entry));
    const Bytes shapeBytes = dffw::write(shapes);
    expectBounded(shapeBytes, "8000 collision spheres and boxes");
    EXPECT_LE(static_cast<std::size_t>(meshNodeCount(currentScene())),
              1 + shapeBytes.size() / Orvik::kCollisionShapeBytes);
    bool noted = false;
    for (const LogRecord& e : currentScene().log)
        noted = noted || e.text.find("spheres and boxes beyond") != std::string::npos;
    EXPECT_TRUE(noted);

    // One quad with 2000 effects, shown on each of 2000 frames.
    dffw::Clump shared;
    shared.frames.assign(2000, dffw::Frame{});
    dffw::Geometry quad = dffw::makeQuad();
    quad.extension.items.push_back(colw::effectsChunk(std::vector<colw::Effect>(2000, colw::rawEffect({0, 0, 0}, 4))));
    shared.geometries.push_back(std::move(quad));
    for (std::uint32_t f = 0; f < 2000; ++f)
        shared.atomics.push_back(dffw::Atomic{.frameIndex = f, .geometryIndex = 0});
    const Bytes sharedBytes = dffw::write(shared);
    expectBounded(sharedBytes, "2000 effects on a geometry of 2000 atomics");
    EXPECT_LE(currentScene().nodes.size(), 2000 + sharedBytes.size() / 20);
}

// ---------------------------------------------------------------------------
// Count and size mutants

constexpr std::uint32_t kLyingValues[] = {1, 0x7FFFFFFF, 0xFFFFFFFF};

// Every leaf chunk's first words and every chunk's size, set to each lying
// value in turn; at most `limit` mutants per file, spread over its chunks.
void expectMutantsBounded(const std::string& name, const Bytes& bytes, std::size_t limit)
{
    const std::vector<chunks::Span> spans = chunks::chunkTree(bytes);
    std::vector<std::uint32_t> fields;
    for (const chunks::Span& s : spans) {
        fields.push_back(s.offset + 4);
        if (!s.leaf) continue;
        for (std::uint32_t w = 0; w < 4 && 4 * w + 4 <= s.size; ++w) fields.push_back(s.body() + 4 * w);
    }
    const std::size_t total = fields.size() * std::size(kLyingValues);
    const std::size_t step = total > limit ? (total + limit - 1) / limit : 1;
    for (std::size_t i = 0; i < total; i += step) {
        Bytes mutant = bytes;
        const std::uint32_t at = fields[i / std::size(kLyingValues)];
        const std::uint32_t value = kLyingValues[i % std::size(kLyingValues)];
        chunks::store32(mutant, at, value);
        expectBounded(mutant, name + " with word @" + std::to_string(at) + " = " + std::to_string(value));
    }
}

TEST(ResourceBounds, CountMutantsOfTheWriterModels)
{
    for (const corpus::Model& model : corpus::models()) expectMutantsBounded(model.name, model.bytes, 200);
    for (const corpus::Model& model : corpus::hostileModels()) expectMutantsBounded(model.name, model.bytes, 100);
}

TEST(ResourceBounds, CountMutantsOfTheSamples)
{
    ORVIK_REQUIRE_SAMPLES();
    for (const std::string& path : sampleDffFiles()) {
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes(std::istreambuf_iterator<char>(in), {});
        expectMutantsBounded(fs::path(path).filename().string(), bytes, 24);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Animation packages: counts that claim gigabytes, in both layouts, read by
// the animation importer onto a scene with no bones.

TEST(ResourceBounds, PackagesWhoseCountsClaimGigabytes)
{
    struct Lie {
        const char* what;
        void (*apply)(ifpw::Package&);
    };
    const Lie lies[] = {
        {"animations", [](ifpw::Package& p) { p.animationCount = 0x7FFFFFFF; }},
        {"bones", [](ifpw::Package& p) { p.animations[1].boneCount = 0x40000000; }},
        {"keys", [](ifpw::Package& p) { p.animations[1].bones[0].keyCount = 0xFFFFFFFF; }},
    };
    const fs::path path = modelPath().parent_path() / "package.ifp";
    for (ifp::Layout layout : {ifp::Layout::Anpk, ifp::Layout::Anp3}) {
        for (const Lie& lie : lies) {
            SCOPED_TRACE(std::string(ifp::layoutName(layout)) + " " + lie.what);
            ifpw::Package p;
            p.layout = layout;
            p.animations.push_back(ifpw::Animation());
            lie.apply(p);
            const Bytes bytes = ifpw::write(p);
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            resetScene();
            const std::size_t before = liveBytes.load();
            peakBytes.store(before);
            const ImportOutcome outcome = runImport(*GetIfpImportDesc(), path.string());
            const std::size_t peak = peakBytes.load() - before;
            EXPECT_TRUE(outcome.ran);
            EXPECT_LE(peak, kBytesPerFileByte * bytes.size() + kFixedBytes) << peak;
            bool damageLogged = false;
            for (const LogRecord& e : currentScene().log)
                damageLogged = damageLogged || e.text.find("declares") != std::string::npos;
            EXPECT_TRUE(damageLogged);
        }
    }
    fs::remove(path);
}
