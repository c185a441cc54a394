#include "testkit/ColWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace colw {
namespace {

class Out {
public:
    std::vector<uint8_t> bytes;
    size_t size() const { return bytes.size(); }
    void u8(uint8_t v) { bytes.push_back(v); }
    void i8(int8_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(uint16_t v) { u8(static_cast<uint8_t>(v)), u8(static_cast<uint8_t>(v >> 8)); }
    void i16(int16_t v) { u16(static_cast<uint16_t>(v)); }
    void u32(uint32_t v)
    {
        for (int s = 0; s < 32; s += 8) u8(static_cast<uint8_t>(v >> s));
    }
    void f32(float f)
    {
        uint32_t bits = 0;
        std::memcpy(&bits, &f, 4);
        u32(bits);
    }
    void vec(const Vec3& v) { f32(v.x), f32(v.y), f32(v.z); }
    void text(const std::string& s, size_t width)
    {
        for (size_t i = 0; i < width; ++i) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
    }
    void surface(const Surface& s) { u8(s.material), u8(s.piece), u8(s.brightness), u8(s.light); }
    void pad4()
    {
        while (bytes.size() % 4 != 0) u8(0);
    }
    void putU32(size_t at, uint32_t v)
    {
        for (int s = 0; s < 32; s += 8) bytes[at + static_cast<size_t>(s / 8)] = static_cast<uint8_t>(v >> s);
    }
};

int16_t fixedPoint(float v)
{
    return static_cast<int16_t>(std::lround(v * 128.0f));
}

void writeHead(Out& o, const Entry& e)
{
    static const char* const kTags[] = {"COLL", "COL2", "COL3", "COL4"};
    if (e.version < 1 || e.version > 4) throw std::invalid_argument("colw: version 1 to 4");
    o.text(e.tag.value_or(kTags[e.version - 1]), 4);
    o.u32(0);  // size, filled in at the end
    o.text(e.name, 22);
    o.u16(e.modelId);
    if (e.version == 1) {
        o.f32(e.radius), o.vec(e.center), o.vec(e.min), o.vec(e.max);
    } else {
        o.vec(e.min), o.vec(e.max), o.vec(e.center), o.f32(e.radius);
    }
}

void writeInLine(Out& o, const Entry& e)
{
    o.u32(e.sphereCount.value_or(static_cast<uint32_t>(e.spheres.size())));
    for (const Sphere& s : e.spheres) o.f32(s.radius), o.vec(s.center), o.surface(s.surface);
    o.u32(e.lineCount.value_or(0));
    o.u32(e.boxCount.value_or(static_cast<uint32_t>(e.boxes.size())));
    for (const Box& b : e.boxes) o.vec(b.min), o.vec(b.max), o.surface(b.surface);
    o.u32(e.vertexCount.value_or(static_cast<uint32_t>(e.vertices.size())));
    for (const Vec3& v : e.vertices) o.vec(v);
    o.u32(e.faceCount.value_or(static_cast<uint32_t>(e.faces.size())));
    for (const Face& f : e.faces) o.u32(f.a), o.u32(f.b), o.u32(f.c), o.surface(Surface{f.material, 0, 0, f.light});
}

void writeByOffsets(Out& o, const Entry& e)
{
    o.u16(static_cast<uint16_t>(e.sphereCount.value_or(static_cast<uint32_t>(e.spheres.size()))));
    o.u16(static_cast<uint16_t>(e.boxCount.value_or(static_cast<uint32_t>(e.boxes.size()))));
    o.u16(static_cast<uint16_t>(e.faceCount.value_or(static_cast<uint32_t>(e.faces.size()))));
    o.u8(static_cast<uint8_t>(e.lineCount.value_or(0)));
    o.u8(0);
    uint32_t flags = 0;
    if (!e.spheres.empty() || !e.boxes.empty() || !e.faces.empty()) flags |= 2;
    if (!e.faceGroups.empty()) flags |= 8;
    if (!e.shadowFaces.empty()) flags |= 16;
    o.u32(e.flags.value_or(flags));
    const size_t offsets = o.size();
    for (int i = 0; i < 6; ++i) o.u32(0);
    const size_t shadowHead = o.size();
    if (e.version >= 3)
        o.u32(e.shadowFaceCount.value_or(static_cast<uint32_t>(e.shadowFaces.size()))), o.u32(0), o.u32(0);
    if (e.version == 4) o.u32(0);

    // Offsets count from the size word, 4 bytes into the entry.
    auto place = [&](size_t word, std::optional<uint32_t> lie) {
        o.putU32(word, lie.value_or(static_cast<uint32_t>(o.size() - 4)));
    };
    if (!e.spheres.empty() || e.spheresAt) place(offsets, e.spheresAt);
    for (const Sphere& s : e.spheres) o.vec(s.center), o.f32(s.radius), o.surface(s.surface);
    if (!e.boxes.empty() || e.boxesAt) place(offsets + 4, e.boxesAt);
    for (const Box& b : e.boxes) o.vec(b.min), o.vec(b.max), o.surface(b.surface);
    if (!e.vertices.empty() || e.verticesAt) place(offsets + 12, e.verticesAt);
    for (const Vec3& v : e.vertices) o.i16(fixedPoint(v.x)), o.i16(fixedPoint(v.y)), o.i16(fixedPoint(v.z));
    o.pad4();
    for (const FaceGroup& g : e.faceGroups) o.vec(g.min), o.vec(g.max), o.u16(g.firstFace), o.u16(g.lastFace);
    if (!e.faceGroups.empty() || e.faceGroupCount)
        o.u32(e.faceGroupCount.value_or(static_cast<uint32_t>(e.faceGroups.size())));
    if (!e.faces.empty() || e.facesAt) place(offsets + 16, e.facesAt);
    for (const Face& f : e.faces)
        o.u16(static_cast<uint16_t>(f.a)), o.u16(static_cast<uint16_t>(f.b)), o.u16(static_cast<uint16_t>(f.c)),
            o.u8(f.material), o.u8(f.light);
    if (e.version >= 3) {
        if (!e.shadowVertices.empty() || e.shadowVerticesAt) place(shadowHead + 4, e.shadowVerticesAt);
        for (const Vec3& v : e.shadowVertices) o.i16(fixedPoint(v.x)), o.i16(fixedPoint(v.y)), o.i16(fixedPoint(v.z));
        o.pad4();
        if (!e.shadowFaces.empty() || e.shadowFacesAt) place(shadowHead + 8, e.shadowFacesAt);
        for (const Face& f : e.shadowFaces)
            o.u16(static_cast<uint16_t>(f.a)), o.u16(static_cast<uint16_t>(f.b)), o.u16(static_cast<uint16_t>(f.c)),
                o.u8(f.material), o.u8(f.light);
    }
}

}  // namespace

std::vector<uint8_t> writeEntry(const Entry& entry)
{
    Out o;
    writeHead(o, entry);
    if (entry.version == 1)
        writeInLine(o, entry);
    else
        writeByOffsets(o, entry);
    o.putU32(4, entry.size.value_or(static_cast<uint32_t>(o.size() - 8)));
    return std::move(o.bytes);
}

std::vector<uint8_t> writeFile(const std::vector<Entry>& entries, size_t padding)
{
    std::vector<uint8_t> out;
    for (const Entry& e : entries) {
        const std::vector<uint8_t> bytes = writeEntry(e);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.resize(out.size() + padding, 0);
    return out;
}

dffw::Chunk collisionChunk(const Entry& entry, uint32_t stamp)
{
    return dffw::rawChunk(0x253F2FA, writeEntry(entry), stamp);
}

void addBoxMesh(Entry& entry, const Vec3& lo, const Vec3& hi, uint8_t material)
{
    const auto first = static_cast<uint32_t>(entry.vertices.size());
    for (int i = 0; i < 8; ++i)
        entry.vertices.push_back({(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z});
    static const uint32_t kSides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                          {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& q : kSides) {
        entry.faces.push_back(Face{first + q[0], first + q[1], first + q[2], material, 0});
        entry.faces.push_back(Face{first + q[0], first + q[2], first + q[3], material, 0});
    }
}

Effect lightEffect(const LightEffect& l)
{
    Out o;
    for (uint8_t c : l.colour) o.u8(c);
    o.f32(l.coronaFarClip), o.f32(l.range), o.f32(l.coronaSize), o.f32(l.shadowSize);
    o.u8(l.coronaShowMode), o.u8(l.coronaReflection), o.u8(l.coronaFlareType), o.u8(l.shadowColourMultiplier);
    o.u8(l.flags);
    o.text(l.coronaTexture, 24), o.text(l.shadowTexture, 24);
    o.u8(l.shadowZDistance), o.u8(l.flags2);
    if (l.look) {
        for (int8_t v : *l.look) o.i8(v);
        o.u16(0);
    } else {
        o.u8(0);
    }
    return Effect{l.position, 0, std::move(o.bytes), std::nullopt};
}

Effect particleEffect(const Vec3& position, const std::string& name)
{
    Out o;
    o.text(name, 24);
    return Effect{position, 1, std::move(o.bytes), std::nullopt};
}

Effect rawEffect(const Vec3& position, uint32_t type, std::vector<uint8_t> data)
{
    return Effect{position, type, std::move(data), std::nullopt};
}

dffw::Chunk effectsChunk(const std::vector<Effect>& effects, std::optional<uint32_t> count, uint32_t stamp)
{
    Out o;
    o.u32(count.value_or(static_cast<uint32_t>(effects.size())));
    for (const Effect& e : effects) {
        o.vec(e.position);
        o.u32(e.type);
        o.u32(e.dataSize.value_or(static_cast<uint32_t>(e.data.size())));
        o.bytes.insert(o.bytes.end(), e.data.begin(), e.data.end());
    }
    return dffw::rawChunk(dffw::ChunkType::TwoDEffect, std::move(o.bytes), stamp);
}

}  // namespace colw
