// libFuzzer target: one whole import of the input bytes through the stand-in
// host, the way the host runs an importer (DoImport on a fresh scene, then
// ZoomExtents), followed by the scene dump written to a null stream; or, for
// an input that starts with a texture dictionary chunk, the dictionary read
// and every texture decoded; for one that starts with a collision tag, the
// entries read and every face checked against its vertices.
//
// The bytes are handed over in memory: they are written into a memfd and the
// importer opens it as /proc/self/fd/N. About one input in five is imported
// with the game material plug-in absent, so that the readers also walk
// materials the host refused to make. The heap is followed through the
// sanitizer allocator's hooks: an import whose peak exceeds the importer's
// bound (64 bytes per file byte and 1 MiB) fails like a crash.
//
// The same bytes are also read as an IMG archive index: as a version 1 .dir
// and, when they start with "VER2", as a version 2 archive, whose first
// readable .dff member is then imported in place of the whole input. Every
// entry the index reader accepts must lie inside the archive.
#include <sanitizer/allocator_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <ostream>
#include <streambuf>
#include <string>

#include "col/Collision.h"
#include "host/dump.h"
#include "host/scene.h"
#include "img/ImgArchive.h"
#include "anim/IfpImport.h"
#include "importer/Orvik.h"
#include "txd/Decode.h"
#include "txd/Dictionary.h"

namespace {

// Swallows whatever is written to it.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class HostImpInterface : public ImpInterface {};

// The bound; ORVIK_FUZZ_HEAP_FACTOR sets another number of bytes per file byte.
std::int64_t bytesPerFileByte = 64;
constexpr std::int64_t kFixedBytes = std::int64_t{1} << 20;

std::atomic<std::int64_t> heapLive{0};
std::atomic<std::int64_t> heapPeak{0};

void onAllocated(const volatile void*, std::size_t size)
{
    const std::int64_t now = heapLive.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed) +
                             static_cast<std::int64_t>(size);
    std::int64_t peak = heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void onFreed(const volatile void* p)
{
    if (p != nullptr)
        heapLive.fetch_sub(static_cast<std::int64_t>(__sanitizer_get_allocated_size(p)), std::memory_order_relaxed);
}

int memoryFile()
{
    static const int fd = [] {
        const int f = memfd_create("orvik-fuzz-input", 0);
        if (f < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        return f;
    }();
    return fd;
}

bool fill(int fd, const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(fd, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Checks what the index reader accepted; gives the first readable .dff
// member (offset and size), or {0, 0}.
std::pair<std::size_t, std::size_t> checkIndex(const std::uint8_t* data, std::size_t size, orvik::img::Version version)
{
    orvik::img::Index index;
    std::string error;
    std::pair<std::size_t, std::size_t> member{0, 0};
    if (!orvik::img::parseIndex(data, size, version, size, index, error)) return member;
    for (const orvik::img::Entry& e : index.entries) {
        if (!e.readable()) continue;
        if (e.offset > size || e.size > size - e.offset) std::abort();
        const std::string_view name = e.name();
        const bool dff = name.size() > 4 && orvik::img::sameName(name.substr(name.size() - 4), ".dff");
        if (dff && member.second == 0 && e.size > 0) member = {e.offset, e.size};
    }
    return member;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    __sanitizer_install_malloc_and_free_hooks(onAllocated, onFreed);
    if (const char* factor = std::getenv("ORVIK_FUZZ_HEAP_FACTOR")) bytesPerFileByte = std::atoll(factor);
    return 0;
}

// A texture dictionary (the first chunk's type is 0x16) is read and every
// texture decoded, under the same heap bound; anything else is imported.
int readDictionary(const std::uint8_t* data, std::size_t size)
{
    const std::int64_t before = heapLive.load();
    heapPeak.store(before);
    {
        const txd::Dictionary dictionary = txd::readDictionary({data, size});
        for (const txd::Texture& t : dictionary.textures) {
            txd::Image image;
            std::string why;
            txd::decodeLevel0(t, image, why);
        }
    }
    const std::int64_t peak = heapPeak.load() - before;
    if (peak > bytesPerFileByte * static_cast<std::int64_t>(size) + kFixedBytes) {
        std::fprintf(stderr, "orvik_fuzz: the dictionary of %zu bytes held %lld bytes of heap at its peak\n", size,
                     static_cast<long long>(peak));
        std::abort();
    }
    return 0;
}

// An animation package: read, then each of its first animations applied to
// a chain of nodes named after its first bones (ids as they claim), so that
// whatever numbers the keys hold meet the host's transforms and ticks.
int applyPackage(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kAnimations = 3;
    constexpr std::size_t kBones = 32;
    const ifp::Package package = ifp::readPackage(data, size);
    if (package.damage.empty() == false && package.damage.rfind("offset 0x", 0) != 0) std::abort();
    Scene& scene = resetScene();
    Interface* ip = GetCOREInterface();
    for (std::size_t a = 0; a < package.animations.size() && a < kAnimations; ++a) {
        const ifp::Animation& animation = package.animations[a];
        INode* parent = nullptr;
        for (std::size_t b = 0; b < animation.bones.size() && b < kBones; ++b) {
            auto* dummy = static_cast<Object*>(ip->CreateInstance(HELPER_CLASS_ID, Class_ID(DUMMY_CLASS_ID, 0)));
            INode* node = ip->CreateObjectNode(dummy);
            node->SetName(animation.bones[b].name.c_str());
            node->SetUserPropInt("BoneId", animation.bones[b].id);
            if (parent) parent->AttachChild(node, 0);
            parent = node;
        }
        anim::applyAnimation(*ip, animation);
    }
    NullBuffer sink;
    std::ostream out(&sink);
    writeSceneJson(scene, out);
    return 0;
}

// A collision file: the entries read under the same heap bound; every face
// the reader gives names a vertex of its mesh, every entry lies in the input.
int readCollisionFile(const std::uint8_t* data, std::size_t size)
{
    const std::int64_t before = heapLive.load();
    heapPeak.store(before);
    {
        const orvik::col::ReadResult read = orvik::col::readCollision({data, size});
        for (const orvik::col::Model& m : read.models) {
            if (m.offset > size || m.size > size - m.offset) std::abort();
            for (const orvik::col::Face& f : m.faces)
                if (f.a >= m.vertices.size() || f.b >= m.vertices.size() || f.c >= m.vertices.size()) std::abort();
            for (const orvik::col::Face& f : m.shadowFaces)
                if (f.a >= m.shadowVertices.size() || f.b >= m.shadowVertices.size() || f.c >= m.shadowVertices.size())
                    std::abort();
        }
    }
    const std::int64_t peak = heapPeak.load() - before;
    if (peak > bytesPerFileByte * static_cast<std::int64_t>(size) + kFixedBytes) {
        std::fprintf(stderr, "orvik_fuzz: the collision file of %zu bytes held %lld bytes of heap at its peak\n", size,
                     static_cast<long long>(peak));
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (ifp::isPackage(data, size)) return applyPackage(data, size);
    checkIndex(data, size, orvik::img::Version::v1);
    if (size >= 4 && std::memcmp(data, orvik::img::kVer2Magic, 4) == 0) {
        const auto [offset, length] = checkIndex(data, size, orvik::img::Version::v2);
        data += offset;
        size = length;
    }
    if (size >= 4 && data[0] == txd::ChunkId::TextureDictionary && data[1] == 0 && data[2] == 0 && data[3] == 0) {
        return readDictionary(data, size);
    }
    if (orvik::col::looksLikeCollision({data, size})) return readCollisionFile(data, size);
    const int fd = memoryFile();
    if (!fill(fd, data, size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    HostOptions options;
    options.printScriptErrors = false;
    options.withoutGameMaterial = size % 5 == 4;
    Scene& scene = resetScene(options);

    static HostImpInterface impInterface;
    const std::int64_t before = heapLive.load();
    heapPeak.store(before);
    auto* importer = static_cast<SceneImport*>(GetOrvikDesc()->Create(FALSE));
    const int result = importer->DoImport(path.c_str(), &impInterface, GetCOREInterface(), FALSE);
    scene.import = ImportRecord{path, result, importer->ZoomExtents() == 1};
    delete importer;
    // Every import ends as a successful one, whatever the file held.
    if (result != 1) std::abort();
    const std::int64_t peak = heapPeak.load() - before;
    if (peak > bytesPerFileByte * static_cast<std::int64_t>(size) + kFixedBytes) {
        std::fprintf(stderr, "orvik_fuzz: the import of %zu bytes held %lld bytes of heap at its peak\n", size,
                     static_cast<long long>(peak));
        std::abort();
    }

    NullBuffer sink;
    std::ostream out(&sink);
    writeSceneJson(scene, out);
    return 0;
}
