// The collision entry reader: every count and offset checked against its
// entry before a block is read or sized from it.
#include "col/Collision.h"

#include <algorithm>

#include "format/ChunkView.h"

namespace orvik::col {

namespace {

// Every version: tag, size word, name, model id, bounds.
constexpr std::uint64_t kSizeWord = 4;
constexpr std::uint64_t kHeadSize = 8;
constexpr std::uint64_t kName = 8;
constexpr std::uint64_t kNameSize = 22;
constexpr std::uint64_t kModelId = 30;
constexpr std::uint64_t kBounds = 32;
constexpr std::uint64_t kBody = 72;

// COLL records.
constexpr std::uint64_t kSphere1Size = 20;
constexpr std::uint64_t kLineSize = 24;
constexpr std::uint64_t kBoxSize = 28;
constexpr std::uint64_t kVertex1Size = 12;
constexpr std::uint64_t kFace1Size = 16;

// Later versions: counts, flags and offsets after the bounds.
constexpr std::uint64_t kSphereCount = 72;
constexpr std::uint64_t kBoxCount = 74;
constexpr std::uint64_t kFaceCount = 76;
constexpr std::uint64_t kFlags = 80;
constexpr std::uint64_t kSpheresAt = 84;
constexpr std::uint64_t kBoxesAt = 88;
constexpr std::uint64_t kVerticesAt = 96;
constexpr std::uint64_t kFacesAt = 100;
constexpr std::uint64_t kShadowFaceCount = 108;
constexpr std::uint64_t kShadowVerticesAt = 112;
constexpr std::uint64_t kShadowFacesAt = 116;
constexpr std::uint64_t kHeadEnd2 = 108;
constexpr std::uint64_t kHeadEnd3 = 120;
constexpr std::uint64_t kHeadEnd4 = 124;
constexpr std::uint64_t kSphere2Size = 20;
constexpr std::uint64_t kVertex2Size = 6;
constexpr std::uint64_t kFace2Size = 8;
constexpr std::uint64_t kFaceGroupSize = 28;
constexpr std::uint32_t kFaceGroupsFlag = 8;
constexpr float kFixedPointUnit = 1.0f / 128.0f;

int versionOfTag(std::span<const std::uint8_t> p)
{
    if (p.size() < 4) return 0;
    if (p[0] != 'C' || p[1] != 'O' || p[2] != 'L') return 0;
    switch (p[3]) {
    case 'L':
        return 1;
    case '2':
        return 2;
    case '3':
        return 3;
    case '4':
        return 4;
    default:
        return 0;
    }
}

float i16(ChunkView& b, std::uint64_t at)
{
    return static_cast<std::int16_t>(b.u16(at));
}

Vec3 vec3(ChunkView& b, std::uint64_t at)
{
    return Vec3{b.f32(at), b.f32(at + 4), b.f32(at + 8)};
}

Surface surface(ChunkView& b, std::uint64_t at)
{
    return Surface{b.u8(at), b.u8(at + 1), b.u8(at + 2), b.u8(at + 3)};
}

Vec3 fixedVec3(ChunkView& b, std::uint64_t at)
{
    return Vec3{i16(b, at) * kFixedPointUnit, i16(b, at + 2) * kFixedPointUnit, i16(b, at + 4) * kFixedPointUnit};
}

// Reads one entry; on damage, sets error and gives false.
class EntryReader {
public:
    EntryReader(ChunkView entry, std::uint64_t offset, std::size_t index, Model& model, std::string& error)
        : e(entry), at(offset), number(index), m(model), err(error)
    {
    }

    bool read()
    {
        m.name = e.text(kName, kNameSize);
        m.modelId = e.u16(kModelId);
        if (m.version == 1) {
            m.bounds.radius = e.f32(kBounds);
            m.bounds.center = vec3(e, kBounds + 4);
            m.bounds.min = vec3(e, kBounds + 16);
            m.bounds.max = vec3(e, kBounds + 28);
            return readInLine();
        }
        m.bounds.min = vec3(e, kBounds);
        m.bounds.max = vec3(e, kBounds + 12);
        m.bounds.center = vec3(e, kBounds + 24);
        m.bounds.radius = e.f32(kBounds + 36);
        return readByOffsets();
    }

private:
    std::string where() const
    {
        return joinText("entry ", std::to_string(number), " (\"", m.name, "\", ", versionTag(m.version), ") at ",
                        hexOffset(at));
    }
    bool fail(const std::string& what)
    {
        err = joinText(where(), " ", what);
        return false;
    }
    // count records of size bytes at p must lie in the entry.
    bool block(std::uint64_t p, std::uint64_t count, std::uint64_t size, const char* items)
    {
        if (p <= e.size() && countFits(count, size, e.left(p))) return true;
        if (p > e.size())
            return fail(joinText("puts its ", items, " at ", hexOffset(p), ", past its end at ", hexOffset(e.size())));
        err = declaresText(where(), count, items, e.left(p));
        return false;
    }

    bool readInLine()
    {
        std::uint64_t p = kBody;
        auto count = [&](const char* items) -> std::uint64_t {
            if (!e.holds(p, 4)) {
                fail(joinText("ends before its count of ", items));
                return ~std::uint64_t{0};
            }
            const std::uint32_t n = e.u32(p);
            p += 4;
            return n;
        };
        std::uint64_t n = count("spheres");
        if (n == ~std::uint64_t{0} || !block(p, n, kSphere1Size, "spheres")) return false;
        m.spheres.resize(static_cast<std::size_t>(n));
        for (Sphere& s : m.spheres) {
            s.radius = e.f32(p), s.center = vec3(e, p + 4), s.surface = surface(e, p + 16);
            p += kSphere1Size;
        }
        n = count("lines");
        if (n == ~std::uint64_t{0} || !block(p, n, kLineSize, "lines")) return false;
        p += n * kLineSize;
        n = count("boxes");
        if (n == ~std::uint64_t{0} || !block(p, n, kBoxSize, "boxes")) return false;
        m.boxes.resize(static_cast<std::size_t>(n));
        for (Box& b : m.boxes) {
            b.min = vec3(e, p), b.max = vec3(e, p + 12), b.surface = surface(e, p + 24);
            p += kBoxSize;
        }
        n = count("vertices");
        if (n == ~std::uint64_t{0} || !block(p, n, kVertex1Size, "vertices")) return false;
        m.vertices.resize(static_cast<std::size_t>(n));
        for (Vec3& v : m.vertices) {
            v = vec3(e, p);
            p += kVertex1Size;
        }
        n = count("faces");
        if (n == ~std::uint64_t{0} || !block(p, n, kFace1Size, "faces")) return false;
        m.faces.resize(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < m.faces.size(); ++i, p += kFace1Size) {
            Face& f = m.faces[i];
            f.a = e.u32(p), f.b = e.u32(p + 4), f.c = e.u32(p + 8);
            const Surface s = surface(e, p + 12);
            f.material = s.material, f.light = s.light;
            const std::uint32_t largest = std::max({f.a, f.b, f.c});
            if (largest >= m.vertices.size())
                return fail(joinText("has face ", std::to_string(i), " naming vertex ", groupedNumber(largest), " of ",
                                     groupedNumber(m.vertices.size())));
        }
        return true;
    }

    // Faces of 8 bytes at the entry offset given by the word at offsetWord,
    // and their vertices at the one given by verticesWord: as many as the
    // largest index the faces name.
    bool readMesh(std::uint64_t faceCount, std::uint64_t facesWord, std::uint64_t verticesWord,
                  std::vector<Face>& faces, std::vector<Vec3>& vertices, const char* faceItems, const char* vertexItems)
    {
        if (faceCount == 0) return true;
        const std::uint64_t fp = e.u32(facesWord) + kSizeWord;
        if (!block(fp, faceCount, kFace2Size, faceItems)) return false;
        faces.resize(static_cast<std::size_t>(faceCount));
        std::uint32_t largest = 0;
        for (std::size_t i = 0; i < faces.size(); ++i) {
            const std::uint64_t q = fp + i * kFace2Size;
            Face& f = faces[i];
            f.a = e.u16(q), f.b = e.u16(q + 2), f.c = e.u16(q + 4);
            f.material = e.u8(q + 6), f.light = e.u8(q + 7);
            largest = std::max({largest, f.a, f.b, f.c});
        }
        const std::uint64_t vp = e.u32(verticesWord) + kSizeWord;
        const std::uint64_t vertexCount = std::uint64_t{largest} + 1;
        if (!block(vp, vertexCount, kVertex2Size, vertexItems)) return false;
        vertices.resize(static_cast<std::size_t>(vertexCount));
        for (std::size_t i = 0; i < vertices.size(); ++i) vertices[i] = fixedVec3(e, vp + i * kVertex2Size);
        return true;
    }

    bool readByOffsets()
    {
        const std::uint64_t headEnd = m.version == 2 ? kHeadEnd2 : m.version == 3 ? kHeadEnd3 : kHeadEnd4;
        if (!e.holds(0, headEnd))
            return fail(joinText("is ", groupedNumber(e.size()), " bytes long, its header alone needs ",
                                 groupedNumber(headEnd)));
        const std::uint32_t sphereCount = e.u16(kSphereCount);
        const std::uint32_t boxCount = e.u16(kBoxCount);
        const std::uint32_t faceCount = e.u16(kFaceCount);
        const std::uint32_t flags = e.u32(kFlags);

        if (sphereCount != 0) {
            const std::uint64_t p = e.u32(kSpheresAt) + kSizeWord;
            if (!block(p, sphereCount, kSphere2Size, "spheres")) return false;
            m.spheres.resize(sphereCount);
            for (std::size_t i = 0; i < m.spheres.size(); ++i) {
                const std::uint64_t q = p + i * kSphere2Size;
                m.spheres[i] = Sphere{vec3(e, q), e.f32(q + 12), surface(e, q + 16)};
            }
        }
        if (boxCount != 0) {
            const std::uint64_t p = e.u32(kBoxesAt) + kSizeWord;
            if (!block(p, boxCount, kBoxSize, "boxes")) return false;
            m.boxes.resize(boxCount);
            for (std::size_t i = 0; i < m.boxes.size(); ++i) {
                const std::uint64_t q = p + i * kBoxSize;
                m.boxes[i] = Box{vec3(e, q), vec3(e, q + 12), surface(e, q + 24)};
            }
        }
        if (!readMesh(faceCount, kFacesAt, kVerticesAt, m.faces, m.vertices, "faces", "vertices")) return false;
        if ((flags & kFaceGroupsFlag) != 0 && faceCount != 0) {
            // The count stands right before the faces, the groups before it.
            const std::uint64_t countAt = e.u32(kFacesAt);
            if (countAt < headEnd)
                return fail(joinText("puts its face group count at ", hexOffset(countAt), ", inside its header"));
            const std::uint32_t groupCount = e.u32(countAt);
            if (!countFits(groupCount, kFaceGroupSize, countAt - headEnd))
                return fail(joinText("declares ", groupedNumber(groupCount), " face groups, ",
                                     groupedNumber(countAt - headEnd), " bytes stand before their count"));
            m.faceGroups.resize(groupCount);
            const std::uint64_t p = countAt - std::uint64_t{groupCount} * kFaceGroupSize;
            for (std::size_t i = 0; i < m.faceGroups.size(); ++i) {
                const std::uint64_t q = p + i * kFaceGroupSize;
                m.faceGroups[i] = FaceGroup{vec3(e, q), vec3(e, q + 12), e.u16(q + 24), e.u16(q + 26)};
            }
        }
        if (m.version >= 3) {
            const std::uint32_t shadowFaces = e.u32(kShadowFaceCount);
            if (!readMesh(shadowFaces, kShadowFacesAt, kShadowVerticesAt, m.shadowFaces, m.shadowVertices,
                          "shadow faces", "shadow vertices"))
                return false;
        }
        return true;
    }

    ChunkView e;
    std::uint64_t at;
    std::size_t number;
    Model& m;
    std::string& err;
};

}  // namespace

const char* versionTag(int version)
{
    switch (version) {
    case 1:
        return "COLL";
    case 2:
        return "COL2";
    case 3:
        return "COL3";
    case 4:
        return "COL4";
    default:
        return "COL?";
    }
}

bool looksLikeCollision(std::span<const std::uint8_t> data)
{
    return versionOfTag(data) != 0;
}

ReadResult readCollision(std::span<const std::uint8_t> data)
{
    ReadResult result;
    if (!viewable(data.size())) {
        result.error = joinText("the collision of ", groupedNumber(data.size()), " bytes is larger than 4 GiB");
        return result;
    }
    // Reads go through views of the buffer; the entries' own checks come
    // first, so the views' failure record is only a backstop.
    ReadFailure failure;
    ChunkView all(data.data(), data.size(), 0, data.size(), failure, "the collision");
    std::uint64_t at = 0;
    while (at < all.size()) {
        const std::span<const std::uint8_t> rest = all.span(at, all.left(at));
        if (std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; })) break;
        const std::size_t index = result.models.size();
        const int version = versionOfTag(all.span(at, 4));
        const std::string entry = joinText("entry ", std::to_string(index));
        if (!all.holds(at, kHeadSize) || version == 0) {
            result.error = joinText(entry, " at ", hexOffset(at), ": ",
                                    all.holds(at, 4) ? "no collision tag" : "a tail too short for an entry", " (",
                                    groupedNumber(all.left(at)), " bytes are left)");
            break;
        }
        const std::uint64_t body = all.u32(at + kSizeWord);
        Model model;
        model.version = version;
        model.offset = at;
        if (!countFits(body, 1, all.left(at + kHeadSize))) {
            model.name = all.textWithin(at + kName, kNameSize);
            result.error =
                declaresText(joinText(entry, " (\"", model.name, "\", ", versionTag(version), ") at ", hexOffset(at)),
                             body, "bytes", all.left(at + kHeadSize));
            break;
        }
        model.size = kHeadSize + body;
        const ChunkView part = all.part(at, model.size, "a collision entry", static_cast<std::uint32_t>(index));
        if (!part.holds(0, kBody)) {
            result.error = joinText(entry, " at ", hexOffset(at), " is ", groupedNumber(model.size),
                                    " bytes long, its name and bounds alone need ", groupedNumber(kBody));
            break;
        }
        if (!EntryReader(part, at, index, model, result.error).read()) break;
        result.models.push_back(std::move(model));
        at += kHeadSize + body;
    }
    return result;
}

}  // namespace orvik::col
