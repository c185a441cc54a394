// Damaged files: every sample model, the bundled example and the writer's
// models (several with more than one clump), cut short at every chunk
// boundary and one byte either side of it and at evenly spread lengths, and
// a fixed-seed set of mutants of each (bytes flipped; chunk sizes and counts
// set to 0, 1, 0x7FFFFFFF, 0xFFFFFFFF; types and stamps swapped between
// chunks). Each import must end with DoImport giving 1, and the clumps that
// lie wholly before the damage must come out as in the undamaged file.
// The suite's sanitizer build turns any out-of-bounds access or leak into a
// failure. The crash inputs kept in tests/fixtures are imported as well.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <streambuf>

#include "fuzz/ChunkTree.h"
#include "fuzz/CorpusModels.h"
#include "col/Collision.h"
#include "host/dump.h"
#include "host/scene.h"
#include "ifp/Package.h"
#include "img/ImgArchive.h"
#include "testkit/IfpWriter.h"
#include "testkit/ImgWriter.h"
#include "support/Fixtures.h"
#include "support/ImportHarness.h"
#include "testkit/TxdWriter.h"
#include "txd/Decode.h"
#include "txd/Dictionary.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kClump = 0x10;
// Evenly spread truncation lengths per file, besides the chunk boundaries.
constexpr std::uint32_t kSpreadLengths = 48;
// Bytes the cuts of one file may import in all (see truncationLengths).
constexpr std::uint64_t kCutBudget = std::uint64_t{32} << 20;
// Mutants per file.
constexpr int kWriterMutants = 150;
constexpr int kSampleMutants = 60;
// Every this many imports the damaged scene is also dumped.
constexpr int kDumpEvery = 16;

using chunks::load32;
using chunks::Span;
using chunks::store32;

// ---------------------------------------------------------------------------
// Imports through one shared file in a folder of its own, which is also the
// working folder, so that texture lookups meet nothing but the model.

class SharedFile {
public:
    SharedFile()
    {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        folder = base / ("orvik-mutations-" + std::to_string(::getpid()));
        // The samples folder stays where it is when the working folder changes.
        if (const char* env = std::getenv("ORVIK_SAMPLES"); env && *env)
            ::setenv("ORVIK_SAMPLES", fs::absolute(env).c_str(), 1);
        fs::create_directories(folder);
        fs::current_path(folder);
        file = folder / "model.dff";
    }
    ~SharedFile()
    {
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
        fs::remove_all(folder, ec);
    }
    Scene& import(const Bytes& bytes, std::size_t length)
    {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(length));
        }
        return importFile(file.string(), quietHost());
    }

private:
    fs::path folder, file;
};

SharedFile& sharedFile()
{
    static SharedFile f;
    return f;
}

class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// ---------------------------------------------------------------------------
// What is compared of the clumps before the damage

struct NodeSignature {
    std::string name;
    int parent = -1;
    std::array<std::uint32_t, 12> local{};  // the bits of the four rows
    int vertices = -1;                      // -1: not a mesh node
    int faces = -1;

    bool operator==(const NodeSignature&) const = default;
};

std::ostream& operator<<(std::ostream& out, const NodeSignature& n)
{
    return out << "{" << n.name << ", parent " << n.parent << ", " << n.vertices << " vertices, " << n.faces
               << " faces}";
}

std::vector<NodeSignature> signatureOf(const Scene& scene)
{
    std::vector<NodeSignature> nodes;
    for (INode* node : scene.nodes) {
        NodeSignature s;
        s.name = node->GetName();
        s.parent = node->GetParentNode() ? scene.indexOfNode(node->GetParentNode()) : -1;
        const Matrix3& tm = node->LocalTM();
        for (int r = 0; r < 4; ++r) {
            const Point3 row = tm.GetRow(r);
            const float v[3] = {row.x, row.y, row.z};
            std::memcpy(&s.local[static_cast<std::size_t>(3 * r)], v, sizeof v);
        }
        if (auto* tri = dynamic_cast<TriObject*>(node->GetObjectRef())) {
            s.vertices = tri->GetMesh().getNumVerts();
            s.faces = tri->GetMesh().getNumFaces();
        }
        nodes.push_back(std::move(s));
    }
    return nodes;
}

// An undamaged file, its import and, per number of whole clumps, how many of
// the import's nodes those clumps make.
struct Reference {
    std::string name;
    Bytes bytes;
    std::vector<Span> spans;
    std::vector<NodeSignature> nodes;
    std::vector<std::uint32_t> clumpEnds;  // end offsets of the top-level clumps
    std::vector<std::size_t> nodesBefore;  // [k]: nodes of the first k clumps
};

int importCount = 0;

// Imports length bytes of the file; true when DoImport ran and gave 1.
bool importPrefix(const Bytes& bytes, std::size_t length)
{
    Scene& scene = sharedFile().import(bytes, length);
    const ImportOutcome& outcome = lastImportOutcome();
    if (++importCount % kDumpEvery == 0) {
        NullBuffer sink;
        std::ostream out(&sink);
        writeSceneJson(scene, out);
    }
    return outcome.ran && outcome.result == 1 && scene.import.result == 1;
}

Reference makeReference(const std::string& name, Bytes bytes)
{
    Reference ref;
    ref.name = name;
    ref.bytes = std::move(bytes);
    ref.spans = chunks::chunkTree(ref.bytes);
    for (const Span& s : ref.spans)
        if (s.depth == 0 && s.type == kClump) ref.clumpEnds.push_back(s.end());
    EXPECT_TRUE(importPrefix(ref.bytes, ref.bytes.size())) << name;
    ref.nodes = signatureOf(currentScene());
    EXPECT_FALSE(ref.nodes.empty()) << name << ": the undamaged file made no nodes";
    // The first k clumps alone must make the first nodes of the whole import.
    ref.nodesBefore.push_back(0);
    for (std::size_t k = 1; k < ref.clumpEnds.size(); ++k) {
        EXPECT_TRUE(importPrefix(ref.bytes, ref.clumpEnds[k - 1]));
        const std::vector<NodeSignature> prefix = signatureOf(currentScene());
        EXPECT_LE(prefix.size(), ref.nodes.size()) << name << ": first " << k << " clumps";
        const std::size_t n = std::min(prefix.size(), ref.nodes.size());
        EXPECT_TRUE(std::equal(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(n), ref.nodes.begin()))
            << name << ": the first " << k << " clumps alone import otherwise";
        ref.nodesBefore.push_back(n);
    }
    ref.nodesBefore.push_back(ref.nodes.size());
    return ref;
}

// Nodes of the clumps that end at or before the first damaged byte.
std::size_t intactNodes(const Reference& ref, std::uint32_t firstDamaged)
{
    std::size_t k = 0;
    while (k < ref.clumpEnds.size() && ref.clumpEnds[k] <= firstDamaged) ++k;
    return ref.nodesBefore[k];
}

// Imports a damaged form of the file whose first changed byte is at
// firstDamaged; false (with a failure recorded) when it went wrong.
bool checkDamaged(const Reference& ref, const Bytes& bytes, std::size_t length, std::uint32_t firstDamaged,
                  const std::string& what)
{
    if (!importPrefix(bytes, length)) {
        ADD_FAILURE() << ref.name << ", " << what << ": DoImport did not give 1";
        return false;
    }
    const std::size_t intact = intactNodes(ref, firstDamaged);
    if (intact == 0) return true;
    const std::vector<NodeSignature> got = signatureOf(currentScene());
    if (got.size() < intact) {
        ADD_FAILURE() << ref.name << ", " << what << ": " << got.size()
                      << " nodes, the whole clumps before the damage make " << intact;
        return false;
    }
    for (std::size_t i = 0; i < intact; ++i) {
        if (!(got[i] == ref.nodes[i])) {
            ADD_FAILURE() << ref.name << ", " << what << ": node " << i << " is " << got[i] << ", undamaged "
                          << ref.nodes[i];
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Truncations and mutants

// Whether every chunk boundary of every file is cut at, however long that takes.
bool exhaustive()
{
    const char* env = std::getenv("ORVIK_MUTATIONS_EXHAUSTIVE");
    return env != nullptr && *env != '\0' && std::string(env) != "0";
}

// The cuts of a file: at every chunk's start, body and end and one byte
// either side of each, and at evenly spread lengths. A cut costs about as
// much as the bytes before it; unless exhaustive(), a file whose cuts would
// import more than kCutBudget bytes in all keeps the cuts at its top-level
// units and an evenly spread share of the others that fits the budget.
std::vector<std::uint32_t> truncationLengths(const Reference& ref)
{
    const auto size = static_cast<std::uint32_t>(ref.bytes.size());
    std::set<std::uint32_t> always, others;
    auto add = [&](std::set<std::uint32_t>& to, std::uint32_t at) {
        for (std::int64_t d = -1; d <= 1; ++d) {
            const std::int64_t n = std::int64_t{at} + d;
            if (n >= 0 && n < std::int64_t{size}) to.insert(static_cast<std::uint32_t>(n));
        }
    };
    for (const Span& s : ref.spans) {
        std::set<std::uint32_t>& to = s.depth == 0 ? always : others;
        add(to, s.offset);
        add(to, s.body());
        add(to, s.end());
    }
    for (std::uint32_t i = 0; i < kSpreadLengths; ++i)
        others.insert(static_cast<std::uint32_t>(std::uint64_t{size} * i / kSpreadLengths));
    for (std::uint32_t n : always) others.erase(n);

    std::uint64_t cost = 0;
    for (std::uint32_t n : others) cost += n;
    const std::uint64_t stride = exhaustive() || cost <= kCutBudget ? 1 : (cost + kCutBudget - 1) / kCutBudget;
    std::vector<std::uint32_t> lengths(always.begin(), always.end());
    std::uint64_t k = 0;
    for (std::uint32_t n : others)
        if (k++ % stride == 0) lengths.push_back(n);
    std::sort(lengths.begin(), lengths.end());
    return lengths;
}

void checkTruncations(const Reference& ref)
{
    int failures = 0;
    for (std::uint32_t length : truncationLengths(ref)) {
        if (!checkDamaged(ref, ref.bytes, length, length, "cut to " + std::to_string(length) + " bytes")) ++failures;
        if (failures >= 5) return;  // enough to go on
    }
}

constexpr std::uint32_t kLyingValues[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF};

struct Mutant {
    Bytes bytes;
    std::uint32_t firstDamaged = 0;
    std::string what;
};

Mutant mutate(const Reference& ref, std::mt19937& rng)
{
    Mutant m{ref.bytes, 0, {}};
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    const std::vector<Span>& spans = ref.spans;
    std::vector<const Span*> counted;
    for (const Span& s : spans)
        if (s.leaf && s.size >= 4) counted.push_back(&s);
    std::ostringstream what;

    const std::size_t kind = spans.empty() ? 0 : pick(5);
    switch (kind) {
    case 0: {  // bytes flipped
        const std::size_t n = 1 + pick(4);
        m.firstDamaged = static_cast<std::uint32_t>(m.bytes.size());
        what << "flipped";
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = pick(m.bytes.size());
            m.bytes[at] ^= static_cast<std::uint8_t>(1 + pick(255));
            m.firstDamaged = std::min(m.firstDamaged, static_cast<std::uint32_t>(at));
            what << " @" << at;
        }
        break;
    }
    case 1: {  // a chunk size
        const Span& s = spans[pick(spans.size())];
        const std::uint32_t v = kLyingValues[pick(4)];
        store32(m.bytes, s.offset + 4, v);
        m.firstDamaged = s.offset + 4;
        what << "size of chunk 0x" << std::hex << s.type << " @" << std::dec << s.offset << " = " << v;
        break;
    }
    case 2: {  // a count: one of the first words of a data body
        if (counted.empty()) return mutate(ref, rng);
        const Span& s = *counted[pick(counted.size())];
        const std::uint32_t word = static_cast<std::uint32_t>(pick(std::min<std::size_t>(4, s.size / 4)));
        const std::uint32_t v = kLyingValues[pick(4)];
        store32(m.bytes, s.body() + 4 * word, v);
        m.firstDamaged = s.body() + 4 * word;
        what << "word " << word << " of chunk 0x" << std::hex << s.type << " @" << std::dec << s.offset << " = " << v;
        break;
    }
    case 3:
    case 4: {  // types or stamps of two chunks swapped
        const std::uint32_t field = kind == 3 ? 0 : 8;
        const Span& a = spans[pick(spans.size())];
        const Span& b = spans[pick(spans.size())];
        const std::uint32_t va = load32(m.bytes, a.offset + field), vb = load32(m.bytes, b.offset + field);
        if (va == vb) return mutate(ref, rng);
        store32(m.bytes, a.offset + field, vb);
        store32(m.bytes, b.offset + field, va);
        m.firstDamaged = std::min(a.offset, b.offset) + field;
        what << (field == 0 ? "types" : "stamps") << " of chunks @" << a.offset << " and @" << b.offset << " swapped";
        break;
    }
    }
    m.what = what.str();
    return m;
}

void checkMutants(const Reference& ref, int count, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    int failures = 0;
    for (int i = 0; i < count && failures < 5; ++i) {
        const Mutant m = mutate(ref, rng);
        if (!checkDamaged(ref, m.bytes, m.bytes.size(), m.firstDamaged,
                          "mutant " + std::to_string(i) + " (" + m.what + ")"))
            ++failures;
    }
}

std::uint32_t seedOf(const std::string& name)
{
    std::uint32_t h = 2166136261u;
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    return h;
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Reference> writerReferences()
{
    std::vector<Reference> refs;
    for (corpus::Model& model : corpus::models()) {
        refs.push_back(makeReference("writer " + model.name, std::move(model.bytes)));
        EXPECT_EQ(refs.back().clumpEnds.size(), static_cast<std::size_t>(model.clumps)) << model.name;
    }
    refs.push_back(makeReference("example", readFile(std::string(ORVIK_SOURCE_DIR) + "/examples/example.dff")));
    return refs;
}

// ---------------------------------------------------------------------------
// Archive indexes: an archive of each version holding the writer's models,
// its index mutated (bytes flipped; the count, offsets and sizes set to 0, 1,
// 0x7FFF..., 0xFFFF...; names filled to all 24 bytes). Whatever the index
// says, every entry the reader accepts lies inside the archive (and, in
// version 2, after the index), and its bytes read back from the file.

constexpr int kArchiveMutants = 400;

void checkArchiveIndex(const std::string& imgPath, const std::string& label)
{
    orvik::img::Archive archive;
    std::string error;
    if (!archive.open(imgPath, error)) return;  // a count the archive cannot hold
    const auto& index = archive.index();
    const std::uint64_t size = archive.dataSize();
    const std::uint64_t indexEnd = index.version == orvik::img::Version::v2
                                       ? orvik::img::kVer2HeaderSize + index.entries.size() * orvik::img::kEntrySize
                                       : 0;
    for (const auto& e : index.entries) {
        EXPECT_LE(e.name().size(), orvik::img::kNameSize) << label;
        if (!e.readable()) continue;
        ASSERT_LE(e.offset, size) << label;
        ASSERT_LE(e.size, size - e.offset) << label;
        if (e.size > 0) {
            ASSERT_GE(e.offset, indexEnd) << label;
        }
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(archive.read(e, bytes, error)) << label << ": " << error;
        ASSERT_EQ(bytes.size(), e.size) << label;
    }
}

void mutateIndex(std::vector<unsigned char>& index, std::size_t first, std::size_t entries, bool v2, std::mt19937& rng)
{
    static constexpr std::uint32_t kSpecial[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF};
    const std::uint32_t special = kSpecial[rng() % 4];
    const std::size_t entry = first + (rng() % entries) * orvik::img::kEntrySize;
    switch (rng() % 5) {
    case 0:  // a byte of the index flipped
        index[rng() % index.size()] ^= static_cast<unsigned char>(1u << (rng() % 8));
        break;
    case 1:  // the count (version 2) or an offset
        store32(index, v2 && rng() % 2 == 0 ? 4 : entry, special);
        break;
    case 2:  // the size words
        store32(index, entry + 4, special);
        break;
    case 3:  // one size word of version 2, or the offset of version 1
        if (v2) {
            index[entry + 4 + 2 * (rng() % 2)] = 0xFF;
            index[entry + 5 + 2 * (rng() % 2)] = 0xFF;
        } else {
            store32(index, entry, special);
        }
        break;
    default:  // a name without its NUL
        std::fill(index.begin() + static_cast<std::ptrdiff_t>(entry + 8),
                  index.begin() + static_cast<std::ptrdiff_t>(entry + 32),
                  static_cast<unsigned char>('a' + rng() % 26));
        break;
    }
}

TEST(Mutations, ArchiveIndexesMutated)
{
    std::vector<imgw::Member> members;
    for (corpus::Model& model : corpus::models()) {
        members.push_back({model.name + ".dff", std::move(model.bytes)});
        if (members.size() == 6) break;
    }
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path folder = base / ("orvik-mutations-img-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string v2Path = (folder / "a.img").string();
    const std::string v1Path = (folder / "b.img").string();
    const std::vector<unsigned char> v2 = imgw::writeV2(members);
    const imgw::V1Archive v1 = imgw::writeV1(members);
    ASSERT_TRUE(imgw::writeFile(v1Path, v1.img));
    std::mt19937 rng(seedOf("archive indexes"));
    for (int i = 0; i < kArchiveMutants; ++i) {
        std::vector<unsigned char> mutant = v2;
        mutateIndex(mutant, orvik::img::kVer2HeaderSize, members.size(), true, rng);
        ASSERT_TRUE(imgw::writeFile(v2Path, mutant));
        checkArchiveIndex(v2Path, "version 2 mutant " + std::to_string(i));

        std::vector<unsigned char> dir = v1.dir;
        mutateIndex(dir, 0, members.size(), false, rng);
        if (rng() % 8 == 0) dir.resize(rng() % dir.size());  // an index cut short
        ASSERT_TRUE(imgw::writeFile((folder / "b.dir").string(), dir));
        checkArchiveIndex(v1Path, "version 1 mutant " + std::to_string(i));
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}

TEST(Mutations, WriterModelsAndExampleCutShort)
{
    for (const Reference& ref : writerReferences()) checkTruncations(ref);
}

TEST(Mutations, WriterModelsAndExampleMutated)
{
    for (const Reference& ref : writerReferences()) checkMutants(ref, kWriterMutants, seedOf(ref.name));
}

// A later clump's damage, whatever it is, leaves the clumps before it as they were.
TEST(Mutations, LaterClumpsDamagedLeaveEarlierOnes)
{
    dffw::File file;
    file.units.push_back(dffw::makeBox("first", 1.0f, "first_box"));
    file.units.push_back(corpus::sceneClump("second"));
    file.units.push_back(corpus::skinnedClump(3, "third"));
    const Reference ref = makeReference("three clumps", dffw::write(file));
    ASSERT_EQ(ref.clumpEnds.size(), 3u);
    ASSERT_GT(ref.nodesBefore[1], 0u);
    ASSERT_GT(ref.nodesBefore[2], ref.nodesBefore[1]);
    std::mt19937 rng(7);
    for (const Span& s : ref.spans) {
        if (s.offset < ref.clumpEnds[0]) continue;
        for (std::uint32_t v : kLyingValues) {
            Bytes bytes = ref.bytes;
            store32(bytes, s.offset + 4, v);
            checkDamaged(ref, bytes, bytes.size(), s.offset + 4, "size of chunk @" + std::to_string(s.offset));
        }
        Bytes bytes = ref.bytes;
        store32(bytes, s.offset, static_cast<std::uint32_t>(rng()));
        checkDamaged(ref, bytes, bytes.size(), s.offset, "type of chunk @" + std::to_string(s.offset));
    }
}

TEST(MutationSamples, CutShort)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> files = sampleDffFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files)
        checkTruncations(makeReference(fs::path(path).filename().string(), readFile(path)));
}

TEST(MutationSamples, Mutated)
{
    ORVIK_REQUIRE_SAMPLES();
    const std::vector<std::string> files = sampleDffFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files) {
        const std::string name = fs::path(path).filename().string();
        checkMutants(makeReference(name, readFile(path)), kSampleMutants, seedOf(name));
    }
}

// The inputs the fuzz target once failed on import like any other file.
TEST(Mutations, CrashFixturesImport)
{
    const fs::path folder = fs::path(ORVIK_SOURCE_DIR) / "tests" / "fixtures";
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".dff") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) GTEST_SKIP() << "no crash fixtures in " << folder;
    for (const fs::path& f : files) {
        const Bytes bytes = readFile(f.string());
        EXPECT_TRUE(importPrefix(bytes, bytes.size())) << f.filename();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Collision files: a file with an entry of every version, and the sample
// .col files, cut at every length and mutated (bytes flipped; 16- and 32-bit
// words set to 0, 1, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF). Every face the
// reader gives names a vertex of its mesh, every entry lies in the bytes, and
// the entries wholly before the damage come out as in the undamaged file.

constexpr int kCollisionMutants = 1500;

bool sameEntry(const orvik::col::Model& a, const orvik::col::Model& b)
{
    return a.name == b.name && a.version == b.version && a.offset == b.offset && a.size == b.size &&
           a.spheres.size() == b.spheres.size() && a.boxes.size() == b.boxes.size() &&
           a.vertices.size() == b.vertices.size() && a.faces.size() == b.faces.size() &&
           a.faceGroups.size() == b.faceGroups.size() && a.shadowFaces.size() == b.shadowFaces.size();
}

void checkCollisionRead(const Bytes& bytes, std::size_t damageAt, const orvik::col::ReadResult& reference,
                        const std::string& what)
{
    const orvik::col::ReadResult r = orvik::col::readCollision(bytes);
    for (const orvik::col::Model& m : r.models) {
        ASSERT_LE(m.offset + m.size, bytes.size()) << what;
        for (const orvik::col::Face& f : m.faces) ASSERT_LT(std::max({f.a, f.b, f.c}), m.vertices.size()) << what;
        for (const orvik::col::Face& f : m.shadowFaces)
            ASSERT_LT(std::max({f.a, f.b, f.c}), m.shadowVertices.size()) << what;
    }
    for (std::size_t i = 0; i < reference.models.size(); ++i) {
        const orvik::col::Model& ref = reference.models[i];
        if (ref.offset + ref.size > damageAt) break;
        ASSERT_LT(i, r.models.size()) << what << ": entry " << i << " lost; " << r.error;
        EXPECT_TRUE(sameEntry(r.models[i], ref)) << what << ": entry " << i;
    }
}

void checkCollisionFile(const std::string& name, const Bytes& whole)
{
    const orvik::col::ReadResult reference = orvik::col::readCollision(whole);
    ASSERT_EQ(reference.error, "") << name;
    ASSERT_FALSE(reference.models.empty()) << name;
    // Every length of a small file, spread lengths of a larger one; exact-size
    // copies, so that the sanitizer sees any read past the end.
    const std::size_t step = whole.size() <= 4096 ? 1 : 1 + whole.size() / 512;
    for (std::size_t n = 0; n <= whole.size(); n += step) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        checkCollisionRead(cut, n, reference, name + " cut to " + std::to_string(n));
    }
    static constexpr std::uint32_t kSpecial[] = {0, 1, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF};
    std::mt19937 rng(seedOf(name));
    for (int i = 0; i < kCollisionMutants; ++i) {
        Bytes bytes = whole;
        // Mostly the heads of the entries, where the counts and offsets are.
        const orvik::col::Model& entry = reference.models[rng() % reference.models.size()];
        const std::size_t span = std::min<std::size_t>(entry.size, 128);
        const std::size_t at = (entry.offset + rng() % span) & ~std::size_t{1};
        const std::uint32_t value = kSpecial[rng() % std::size(kSpecial)];
        std::string what = name + " mutant " + std::to_string(i);
        switch (rng() % 3) {
        case 0:
            bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (at + 2 > bytes.size()) continue;
            bytes[at] = static_cast<std::uint8_t>(value), bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
            break;
        default:
            if (at + 4 > bytes.size()) continue;
            store32(bytes, static_cast<std::uint32_t>(at), value);
            break;
        }
        checkCollisionRead(bytes, at, reference, what);
    }
}

TEST(MutationCollision, WriterFileCutShortAndMutated)
{
    std::vector<colw::Entry> entries;
    for (int version = 1; version <= 4; ++version)
        entries.push_back(corpus::collisionEntry(version, "entry" + std::to_string(version)));
    checkCollisionFile("writer collision", colw::writeFile(entries));
}

TEST(MutationCollision, SampleFilesCutShortAndMutated)
{
    ORVIK_REQUIRE_SAMPLES();
    int files = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(samplesFolder())) {
        if (e.path().extension() != ".col") continue;
        checkCollisionFile(e.path().filename().string(), readFile(e.path().string()));
        ++files;
    }
    EXPECT_GE(files, 3);
}

// ---------------------------------------------------------------------------
// Texture dictionaries: the small sample dictionaries and a writer dictionary
// of every kind of raster, cut short at every texture boundary and mutated
// (bytes flipped, chunk sizes and the words of a texture's header set to the
// lying values). Every texture is decoded; the textures wholly before the
// damage must come out as in the undamaged file.

namespace {

Bytes writerDictionary()
{
    txdw::Dictionary d;
    txdw::Texture plain;
    plain.name = "plain";
    plain.levels = {Bytes(64, 9), Bytes(16, 9), Bytes(4, 9)};
    txdw::Texture pal = plain;
    pal.name = "pal8";
    pal.rasterFormat = 0x2500;
    pal.palette.assign(1024, 7);
    pal.levels = {Bytes(16, 200)};
    txdw::Texture pal4 = pal;
    pal4.name = "pal4";
    pal4.rasterFormat = 0x4500;
    pal4.palette.assign(128, 5);
    txdw::Texture dxt = plain;
    dxt.name = "dxt5";
    dxt.formatWord = 0x35545844;
    dxt.levels = {Bytes(16, 0x5A)};
    txdw::Texture ps2;
    ps2.platform = 0x00325350;
    ps2.name = "ps2";
    d.textures = {plain, pal, ps2, pal4, dxt};
    return txdw::write(d);
}

struct DictionaryReference {
    std::string name;
    Bytes bytes;
    std::vector<std::string> names;   // textures in order
    std::vector<std::uint32_t> ends;  // where each texture's chunk ends
};

DictionaryReference dictionaryReference(const std::string& name, Bytes bytes)
{
    DictionaryReference ref{name, std::move(bytes), {}, {}};
    const txd::Dictionary d = txd::readDictionary(ref.bytes);
    for (const txd::Texture& t : d.textures) {
        ref.names.push_back(t.name);
        ref.ends.push_back(
            static_cast<std::uint32_t>(t.offset + 12 + load32(ref.bytes, static_cast<std::uint32_t>(t.offset + 4))));
    }
    return ref;
}

void checkDictionary(const DictionaryReference& ref, const Bytes& bytes, std::uint32_t firstDamaged,
                     const std::string& what)
{
    const txd::Dictionary d = txd::readDictionary(bytes);
    for (const txd::Texture& t : d.textures) {
        txd::Image image;
        std::string why;
        txd::decodeLevel0(t, image, why);
    }
    std::size_t intact = 0;
    while (intact < ref.ends.size() && ref.ends[intact] <= firstDamaged) ++intact;
    ASSERT_GE(d.textures.size(), intact) << ref.name << ", " << what << ": " << d.ended;
    for (std::size_t i = 0; i < intact; ++i) EXPECT_EQ(d.textures[i].name, ref.names[i]) << ref.name << ", " << what;
}

}  // namespace

TEST(MutationDictionaries, CutShortAndMutated)
{
    std::vector<DictionaryReference> refs{dictionaryReference("writer dictionary", writerDictionary())};
    if (samplesAvailable()) {
        for (const char* name : {"boxes.txd", "car1.txd", "car3.txd", "prop.txd"}) {
            refs.push_back(dictionaryReference(name, readFile(samplePath(name))));
        }
    }
    for (const DictionaryReference& ref : refs) {
        ASSERT_FALSE(ref.names.empty()) << ref.name;
        std::set<std::uint32_t> cuts{0, 11, 12, 24, 28};
        for (const std::uint32_t end : ref.ends) cuts.insert({end - 1, end, end + 1});
        for (const std::uint32_t cut : cuts) {
            if (cut > ref.bytes.size()) continue;
            checkDictionary(ref, Bytes(ref.bytes.begin(), ref.bytes.begin() + cut), cut,
                            "cut at " + std::to_string(cut));
        }
        std::mt19937 rng(seedOf(ref.name));
        auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
        for (int i = 0; i < 80; ++i) {
            Bytes m = ref.bytes;
            std::uint32_t at = 0;
            const std::uint32_t v = kLyingValues[pick(4)];
            if (i % 3 == 0) {
                at = static_cast<std::uint32_t>(pick(m.size()));
                m[at] ^= static_cast<std::uint8_t>(1 + pick(255));
            } else {
                // A chunk size or a word of a texture's header (sizes, formats, counts).
                const std::size_t t = pick(ref.ends.size());
                const std::uint32_t start = t == 0 ? 28 : ref.ends[t - 1];
                const std::uint32_t words[] = {4, 16, 28, 100, 104, 108, 112, 116};
                at = start + words[pick(8)];
                if (at + 4 > m.size()) continue;
                store32(m, at, v);
            }
            checkDictionary(ref, m, at, "mutant " + std::to_string(i) + " @" + std::to_string(at));
        }
    }
}

// ---------------------------------------------------------------------------
// Animation packages: the writer's packages of both layouts and the sample
// packages, cut short and mutated (a word set to a lie, or a bit flipped).
// Every read ends with at most one damage line, and the animations that lie
// wholly before the first damaged byte come out, bit for bit, as the prefix
// before that byte gives them.

namespace {

// Names, ids, key types and the bytes of every key of the first `count` animations.
std::string packageSignature(const std::vector<ifp::Animation>& animations, std::size_t count)
{
    std::string out;
    for (std::size_t a = 0; a < count && a < animations.size(); ++a) {
        out += animations[a].name + '{';
        for (const ifp::Bone& b : animations[a].bones) {
            out += b.name + '/' + std::to_string(b.id) + ifp::keyTypeName(b.keyType) + ':';
            out.append(reinterpret_cast<const char*>(b.keys.data()), b.keys.size() * sizeof(ifp::Key));
        }
        out += '}';
    }
    return out;
}

void checkPackageDamage(const std::string& name, const Bytes& bytes, int mutants)
{
    SCOPED_TRACE(name);
    const auto check = [&bytes](const Bytes& damaged, std::size_t firstDamaged, const std::string& what) {
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(firstDamaged));  // exact size
        const ifp::Package before = ifp::readPackage(prefix.data(), prefix.size());
        const ifp::Package after = ifp::readPackage(damaged.data(), damaged.size());
        const std::size_t whole = before.animations.size();
        EXPECT_GE(after.animations.size(), whole) << what;
        EXPECT_TRUE(packageSignature(after.animations, whole) == packageSignature(before.animations, whole)) << what;
        EXPECT_EQ(after.damage.find('\n'), std::string::npos) << what;
    };
    for (std::size_t i = 0; i <= kSpreadLengths; ++i) {
        const std::size_t length = bytes.size() * i / kSpreadLengths;
        check(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)), length,
              "cut to " + std::to_string(length));
    }
    std::mt19937 rng(seedOf(name));
    for (int m = 0; m < mutants; ++m) {
        Bytes mutant = bytes;
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(rng);
        if (m % 2 == 0 && at + 4 <= bytes.size()) {
            store32(mutant, at, kLyingValues[static_cast<std::size_t>(m / 2) % std::size(kLyingValues)]);
        } else {
            mutant[at] ^= static_cast<std::uint8_t>(1u << (m % 8));
        }
        std::size_t first = 0;
        while (first < bytes.size() && mutant[first] == bytes[first]) ++first;
        check(mutant, first, "mutant " + std::to_string(m) + " at " + std::to_string(at));
    }
}

}  // namespace

TEST(MutationPackages, WriterAndSamplePackagesCutShortAndMutated)
{
    for (ifp::Layout layout : {ifp::Layout::Anpk, ifp::Layout::Anp3}) {
        ifpw::Package p;
        p.layout = layout;
        const ifpw::Key moved{0.5f, {0, 0, 0.6f, 0.8f}, {1, 2, 3}, {1, 1, 1}};
        for (int a = 0; a < 4; ++a) {
            p.animations.push_back(
                ifpw::Animation("anim" + std::to_string(a),
                                {ifpw::Bone(), ifpw::Bone("Root", 0, ifp::KeyType::RT, {{}, moved})}));
        }
        checkPackageDamage(ifp::layoutName(layout), ifpw::write(p), kWriterMutants);
    }
    ORVIK_REQUIRE_SAMPLES();
    for (const char* name : {"anp3-ghands.ifp", "anp3-sport.ifp", "anpk-iii-ped.ifp"}) {
        checkPackageDamage(name, readFile(samplePath(name)), kSampleMutants);
    }
}
