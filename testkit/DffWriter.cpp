#include "testkit/DffWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace dffw {

// ---------------------------------------------------------------------------
// Chunk

Chunk::Chunk(uint32_t chunkType, uint32_t chunkStamp) : type(chunkType), stamp(chunkStamp) {}

std::vector<uint8_t>& Chunk::tail()
{
    if (parts_.empty() || !parts_.back().isRun_) {
        Chunk run;
        run.isRun_ = true;
        parts_.push_back(std::move(run));
    }
    return parts_.back().run_;
}

Chunk& Chunk::raw(const void* data, size_t count)
{
    auto& out = tail();
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + count);
    return *this;
}

Chunk& Chunk::raw(const std::vector<uint8_t>& data)
{
    return raw(data.data(), data.size());
}

Chunk& Chunk::u8(uint8_t v)
{
    return raw(&v, 1);
}

Chunk& Chunk::u16(uint16_t v)
{
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    return raw(b, 2);
}

Chunk& Chunk::u32(uint32_t v)
{
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 24)};
    return raw(b, 4);
}

Chunk& Chunk::i32(int32_t v)
{
    return u32(static_cast<uint32_t>(v));
}

Chunk& Chunk::f32(float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    return u32(bits);
}

Chunk& Chunk::fixedString(std::string_view text, size_t width)
{
    std::vector<uint8_t> field(width, 0);
    std::memcpy(field.data(), text.data(), std::min(width, text.size()));
    return raw(field);
}

Chunk& Chunk::add(Chunk child)
{
    parts_.push_back(std::move(child));
    return *this;
}

uint32_t Chunk::bodySize() const
{
    size_t total = 0;
    for (const Chunk& part : parts_) total += part.isRun_ ? part.run_.size() : kHeaderSize + part.bodySize();
    return static_cast<uint32_t>(total);
}

void Chunk::appendTo(std::vector<uint8_t>& out, std::vector<ChunkOffset>* offsets, uint32_t depth) const
{
    if (isRun_) {
        out.insert(out.end(), run_.begin(), run_.end());
        return;
    }
    const uint32_t size = sizeOverride.value_or(bodySize());
    if (offsets) offsets->push_back({type, static_cast<uint32_t>(out.size()), size, depth});
    for (uint32_t word : {type, size, stamp})
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(word >> shift));
    for (const Chunk& part : parts_) part.appendTo(out, offsets, depth + 1);
}

std::vector<uint8_t> Chunk::bytes(std::vector<ChunkOffset>* offsets) const
{
    std::vector<uint8_t> out;
    appendTo(out, offsets);
    return out;
}

const Chunk& Chunk::child(size_t index) const
{
    for (const Chunk& part : parts_)
        if (!part.isRun_ && index-- == 0) return part;
    throw std::out_of_range("dffw::Chunk::child");
}

Chunk& Chunk::child(size_t index)
{
    return const_cast<Chunk&>(std::as_const(*this).child(index));
}

Chunk* Chunk::find(uint32_t childType, size_t nth)
{
    for (Chunk& part : parts_)
        if (!part.isRun_ && part.type == childType && nth-- == 0) return &part;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Helpers

namespace {

void apply(Chunk& c, const Head& head)
{
    c.type = head.type.value_or(c.type);
    c.stamp = head.stamp.value_or(c.stamp);
    if (head.size) c.sizeOverride = head.size;
}

Chunk make(uint32_t type, uint32_t stamp, const Head& head)
{
    Chunk c(type, stamp);
    apply(c, head);
    return c;
}

uint32_t count(size_t n)
{
    return static_cast<uint32_t>(n);
}

void vec3(Chunk& c, const Vec3& v)
{
    for (float f : v) c.f32(f);
}

template <class Item, class AddItem>
void addExtension(Chunk& parent, const Extension<Item>& ext, uint32_t stamp, AddItem addItem)
{
    if (!ext.present) return;
    Chunk e = make(ChunkType::Extension, stamp, ext.head);
    for (const Item& item : ext.items) addItem(e, item);
    parent.add(std::move(e));
}

void addPlainExtension(Chunk& parent, const Extension<Chunk>& ext, uint32_t stamp)
{
    addExtension(parent, ext, stamp, [](Chunk& e, const Chunk& item) { e.add(item); });
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

Chunk stringChunk(std::string_view text, NameStyle style, uint32_t stamp)
{
    Chunk c(ChunkType::String, stamp);
    c.raw(text.data(), text.size());
    if (style == NameStyle::Exact) return c;
    c.u8(0);
    if (style == NameStyle::Padded)
        while (c.bodySize() % 4 != 0) c.u8(0);
    return c;
}

Chunk frameNameChunk(std::string_view text, uint32_t stamp)
{
    Chunk c(ChunkType::FrameName, stamp);
    c.raw(text.data(), text.size());
    return c;
}

Chunk rawChunk(uint32_t type, std::vector<uint8_t> body, uint32_t stamp)
{
    Chunk c(type, stamp);
    c.raw(body);
    return c;
}

// ---------------------------------------------------------------------------
// Frames

namespace {

Chunk buildHAnim(const HAnim& h, uint32_t stamp)
{
    Chunk c = make(ChunkType::HAnim, stamp, h.head);
    const uint32_t nodeCount = h.nodeCountOverride.value_or(count(h.nodes.size()));
    c.u32(h.version).i32(h.boneId).u32(nodeCount);
    if (nodeCount != 0) c.u32(h.flags).u32(h.keyFrameSize);
    for (const HAnimNode& n : h.nodes) c.i32(n.boneId).i32(n.boneIndex).i32(n.boneType);
    return c;
}

void addFrameList(Chunk& clump, const Clump& m)
{
    const uint32_t stamp = m.stamp;
    Chunk list = make(ChunkType::FrameList, stamp, m.frameListHead);
    Chunk s = make(ChunkType::Struct, stamp, m.frameListStructHead);
    s.u32(m.frameCountOverride.value_or(count(m.frames.size())));
    for (const Frame& f : m.frames) {
        vec3(s, f.right);
        vec3(s, f.up);
        vec3(s, f.at);
        vec3(s, f.position);
        s.u32(f.parent).u32(f.matrixFlags);
    }
    list.add(std::move(s));
    for (const Frame& f : m.frames) {
        if (!f.extension.present) continue;
        Chunk e = make(ChunkType::Extension, stamp, f.extension.head);
        auto addName = [&] {
            if (!f.name) return;
            Chunk n = frameNameChunk(*f.name, stamp);
            apply(n, f.nameHead);
            e.add(std::move(n));
        };
        if (f.nameFirst) addName();
        if (f.hAnim) e.add(buildHAnim(*f.hAnim, stamp));
        if (!f.nameFirst) addName();
        for (const Chunk& item : f.extension.items) e.add(item);
        list.add(std::move(e));
    }
    clump.add(std::move(list));
}

}  // namespace

// ---------------------------------------------------------------------------
// Textures and materials

Chunk buildTexture(const Texture& t, uint32_t stamp)
{
    Chunk c = make(ChunkType::Texture, stamp, t.head);
    Chunk s = make(ChunkType::Struct, stamp, t.structHead);
    s.u8(t.filter).u8(t.addressing).u16(t.unused);
    c.add(std::move(s));
    for (const auto& [text, style, head] :
         {std::tuple{&t.name, t.nameStyle, &t.nameHead}, std::tuple{&t.maskName, t.maskStyle, &t.maskHead}}) {
        Chunk n = stringChunk(*text, style, stamp);
        apply(n, *head);
        c.add(std::move(n));
    }
    addPlainExtension(c, t.extension, stamp);
    return c;
}

namespace {

void addMaterialExtItem(Chunk& ext, const MaterialExtItem& item, uint32_t stamp)
{
    std::visit(Overloaded{
                   [&](const MaterialEffects& fx) {
                       Chunk c = make(ChunkType::MaterialEffects, stamp, fx.head);
                       if (fx.rawBody) {
                           c.raw(*fx.rawBody);
                       } else {
                           c.u32(fx.effectType).u32(fx.firstEffect);
                           if (fx.firstEffect == 2) {
                               c.f32(fx.coefficient).u32(fx.frameBufferAlpha);
                               c.u32(fx.textureFlag.value_or(fx.envTexture ? 1u : 0u));
                               if (fx.envTexture) c.add(buildTexture(*fx.envTexture, stamp));
                           }
                           c.raw(fx.trailing);
                       }
                       ext.add(std::move(c));
                   },
                   [&](const UvAnimationRef& uv) {
                       Chunk c = make(ChunkType::UvAnimation, stamp, uv.head);
                       Chunk s = make(ChunkType::Struct, stamp, uv.structHead);
                       const size_t names = 1 + uv.moreNames.size();
                       s.u32(uv.channelMask.value_or(static_cast<uint32_t>((1ull << names) - 1)));
                       s.fixedString(uv.name, 32);
                       for (const std::string& n : uv.moreNames) s.fixedString(n, 32);
                       c.add(std::move(s));
                       ext.add(std::move(c));
                   },
                   [&](const SpecularMaterial& sp) {
                       Chunk c = make(ChunkType::SpecularMaterial, stamp, sp.head);
                       c.f32(sp.level).fixedString(sp.texture, sp.shortForm ? 16 : 24);
                       ext.add(std::move(c));
                   },
                   [&](const ReflectionMaterial& r) {
                       Chunk c = make(ChunkType::ReflectionMaterial, stamp, r.head);
                       for (float f : r.colour) c.f32(f);
                       c.f32(r.intensity).u32(r.unused);
                       ext.add(std::move(c));
                   },
                   [&](const Chunk& raw) { ext.add(raw); },
               },
               item);
}

}  // namespace

Chunk buildMaterial(const Material& m, uint32_t stamp)
{
    Chunk c = make(ChunkType::Material, stamp, m.head);
    Chunk s = make(ChunkType::Struct, stamp, m.structHead);
    s.u32(m.flags);
    for (uint8_t b : m.colour) s.u8(b);
    s.u32(m.unused).u32(m.textureCountOverride.value_or(count(m.textures.size())));
    s.f32(m.ambient).f32(m.specular).f32(m.diffuse);
    c.add(std::move(s));
    for (const Texture& t : m.textures) c.add(buildTexture(t, stamp));
    addExtension(c, m.extension, stamp,
                 [&](Chunk& e, const MaterialExtItem& item) { addMaterialExtItem(e, item, stamp); });
    return c;
}

// ---------------------------------------------------------------------------
// Geometry

uint32_t Geometry::format() const
{
    if (formatOverride) return *formatOverride;
    uint32_t f = formatExtraBits;
    if (!positions.empty()) f |= 0x02;
    if (!prelit.empty()) f |= 0x08;
    if (!normals.empty()) f |= 0x10;
    const uint32_t sets = count(texCoords.size());
    if (sets == 1) f |= 0x04;
    if (sets >= 2) f |= 0x80;
    return f | ((sets & 0xFF) << 16);
}

namespace {

std::array<float, 4> boundingSphere(const std::vector<Vec3>& positions)
{
    if (positions.empty()) return {0, 0, 0, 0};
    Vec3 lo = positions[0], hi = positions[0];
    for (const Vec3& p : positions)
        for (size_t i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], p[i]);
            hi[i] = std::max(hi[i], p[i]);
        }
    const Vec3 centre{(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
    float radius = 0;
    for (const Vec3& p : positions) {
        const float dx = p[0] - centre[0], dy = p[1] - centre[1], dz = p[2] - centre[2];
        radius = std::max(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    return {centre[0], centre[1], centre[2], radius};
}

Chunk buildSkin(const Skin& sk, uint32_t stamp, uint32_t structStamp)
{
    Chunk c = make(ChunkType::Skin, stamp, sk.head);
    c.u8(sk.boneCountOverride.value_or(static_cast<uint8_t>(sk.inverseMatrices.size())));
    c.u8(sk.usedBoneCountOverride.value_or(static_cast<uint8_t>(sk.usedBones.size())));
    c.u8(sk.maxWeights).u8(sk.padding);
    c.raw(sk.usedBones);
    for (const auto& b : sk.boneIndices) c.raw(b.data(), b.size());
    for (const auto& w : sk.weights)
        for (float f : w) c.f32(f);
    for (const auto& matrix : sk.inverseMatrices) {
        if (sk.matrixMarker) c.u32(*sk.matrixMarker);
        for (float f : matrix) c.f32(f);
    }
    if (sk.tail.value_or(structStamp == Stamp::V1803FFFF)) c.raw(sk.tailBytes.data(), sk.tailBytes.size());
    return c;
}

Chunk buildBinMesh(const BinMesh& b, uint32_t stamp)
{
    Chunk c = make(ChunkType::BinMesh, stamp, b.head);
    uint32_t total = 0;
    for (const BinMeshSplit& s : b.splits) total += count(s.indices.size());
    c.u32(b.mode)
        .u32(b.splitCountOverride.value_or(count(b.splits.size())))
        .u32(b.totalIndexCountOverride.value_or(total));
    for (const BinMeshSplit& s : b.splits) {
        c.u32(s.indexCountOverride.value_or(count(s.indices.size()))).u32(s.material);
        for (uint32_t i : s.indices) c.u32(i);
    }
    return c;
}

}  // namespace

Chunk buildGeometry(const Geometry& g, uint32_t stamp)
{
    Chunk c = make(ChunkType::Geometry, stamp, g.head);
    Chunk s = make(ChunkType::Struct, stamp, g.structHead);
    const uint32_t structStamp = s.stamp;
    const uint32_t vertexCount = g.vertexCountOverride.value_or(count(g.positions.size()));
    s.u32(g.format())
        .u32(g.triangleCountOverride.value_or(count(g.triangles.size())))
        .u32(vertexCount)
        .u32(g.morphTargetCount);
    if (g.surfaceProperties.value_or(isEarly(structStamp) || structStamp == Stamp::VC02FFFF))
        for (float f : g.surface) s.f32(f);
    for (const Rgba& colour : g.prelit) s.raw(colour.data(), colour.size());
    for (const auto& set : g.texCoords)
        for (const auto& uv : set) s.f32(uv[0]).f32(uv[1]);
    for (const Triangle& t : g.triangles) s.u16(t.v1).u16(t.v0).u16(t.matId).u16(t.v2);
    for (float f : g.morph.boundingSphere.value_or(boundingSphere(g.positions))) s.f32(f);
    s.u32(g.morph.hasPositions.value_or(1)).u32(g.morph.hasNormals.value_or(g.normals.empty() ? 0 : 1));
    for (const Vec3& p : g.positions) vec3(s, p);
    for (const Vec3& n : g.normals) vec3(s, n);
    c.add(std::move(s));

    if (g.hasMaterialList) {
        Chunk list = make(ChunkType::MaterialList, stamp, g.materialListHead);
        Chunk ls = make(ChunkType::Struct, stamp, g.materialListStructHead);
        ls.u32(g.materialCountOverride.value_or(count(g.materials.size())));
        for (size_t i = 0; i < g.materials.size(); ++i)
            ls.i32(i < g.materialIndices.size() ? g.materialIndices[i] : -1);
        list.add(std::move(ls));
        for (const Material& m : g.materials) list.add(buildMaterial(m, stamp));
        c.add(std::move(list));
    }

    addExtension(c, g.extension, stamp, [&](Chunk& e, const GeometryExtItem& item) {
        std::visit(Overloaded{
                       [&](const BinMesh& b) { e.add(buildBinMesh(b, stamp)); },
                       [&](const Skin& sk) { e.add(buildSkin(sk, stamp, structStamp)); },
                       [&](const ExtraVertexColours& x) {
                           Chunk xc = make(ChunkType::ExtraVertexColour, stamp, x.head);
                           xc.u32(x.leading);
                           for (const Rgba& colour : x.colours) xc.raw(colour.data(), colour.size());
                           e.add(std::move(xc));
                       },
                       [&](const Chunk& raw) { e.add(raw); },
                   },
                   item);
    });
    return c;
}

// ---------------------------------------------------------------------------
// Atomics, lights, cameras, clumps

Chunk buildAtomic(const Atomic& a, uint32_t stamp)
{
    Chunk c = make(ChunkType::Atomic, stamp, a.head);
    Chunk s = make(ChunkType::Struct, stamp, a.structHead);
    s.u32(a.frameIndex).u32(a.geometryIndex).u32(a.flags).u32(a.unused);
    c.add(std::move(s));
    addPlainExtension(c, a.extension, stamp);
    return c;
}

namespace {

void addLight(Chunk& clump, const Light& l, uint32_t stamp)
{
    Chunk index = make(ChunkType::Struct, stamp, l.structHead);
    index.u32(l.frameIndex);
    clump.add(std::move(index));
    Chunk c = make(ChunkType::Light, stamp, l.head);
    Chunk data = make(ChunkType::Struct, stamp, l.dataHead);
    data.f32(l.radius);
    vec3(data, l.colour);
    data.f32(l.minusCosAngle).u32(l.typeAndFlags);
    c.add(std::move(data));
    addPlainExtension(c, l.extension, stamp);
    clump.add(std::move(c));
}

void addCamera(Chunk& clump, const Camera& cam, uint32_t stamp)
{
    Chunk index = make(ChunkType::Struct, stamp, cam.structHead);
    index.u32(cam.frameIndex);
    clump.add(std::move(index));
    Chunk c = make(ChunkType::Camera, stamp, cam.head);
    Chunk data(ChunkType::Struct, stamp);
    // view window, view offset, near and far clip planes, fog plane, projection
    data.f32(1).f32(1).f32(0).f32(0).f32(0.05f).f32(10.0f).f32(5.0f).u32(1);
    c.add(std::move(data));
    addPlainExtension(c, cam.extension, stamp);
    clump.add(std::move(c));
}

}  // namespace

Chunk buildClump(const Clump& m)
{
    const uint32_t stamp = m.stamp;
    Chunk c = make(ChunkType::Clump, stamp, m.head);
    Chunk s = make(ChunkType::Struct, stamp, m.structHead);
    s.u32(m.atomicCountOverride.value_or(count(m.atomics.size())));
    if (m.longStruct.value_or(!isEarly(c.stamp))) {
        s.u32(m.lightCountOverride.value_or(count(m.lights.size())));
        s.u32(m.cameraCountOverride.value_or(count(m.cameras.size())));
    }
    c.add(std::move(s));

    addFrameList(c, m);

    Chunk list = make(ChunkType::GeometryList, stamp, m.geometryListHead);
    Chunk ls = make(ChunkType::Struct, stamp, m.geometryListStructHead);
    ls.u32(m.geometryCountOverride.value_or(count(m.geometries.size())));
    list.add(std::move(ls));
    for (const Geometry& g : m.geometries) list.add(buildGeometry(g, stamp));
    c.add(std::move(list));

    for (const Atomic& a : m.atomics) c.add(buildAtomic(a, stamp));
    for (const Light& l : m.lights) addLight(c, l, stamp);
    for (const Camera& cam : m.cameras) addCamera(c, cam, stamp);
    addPlainExtension(c, m.extension, stamp);
    return c;
}

Chunk buildUvAnimDictionary(const UvAnimDictionary& d)
{
    const uint32_t stamp = d.stamp;
    Chunk c = make(ChunkType::UvAnimDictionary, stamp, d.head);
    Chunk s = make(ChunkType::Struct, stamp, d.structHead);
    s.u32(d.animationCountOverride.value_or(count(d.animations.size())));
    c.add(std::move(s));
    for (const UvAnimation& a : d.animations) {
        Chunk ac = make(ChunkType::Animation, stamp, a.head);
        const float duration = a.duration.value_or(a.keyFrames.empty() ? 0.0f : a.keyFrames.back().time);
        ac.u32(a.version)
            .u32(a.interpolation)
            .u32(a.keyFrameCountOverride.value_or(count(a.keyFrames.size())))
            .u32(a.flags)
            .f32(duration)
            .u32(0)
            .fixedString(a.name, 32);
        // which texture-coordinate channel each node drives: unused here
        for (int i = 0; i < 8; ++i) ac.u32(0);
        for (const UvKeyFrame& k : a.keyFrames) {
            ac.f32(k.time);
            for (float f : k.uv) ac.f32(f);
            ac.i32(k.previous);
        }
        c.add(std::move(ac));
    }
    return c;
}

// ---------------------------------------------------------------------------
// Files

std::vector<uint8_t> write(const File& file, std::vector<ChunkOffset>* offsets)
{
    std::vector<uint8_t> out;
    for (const Unit& unit : file.units)
        std::visit(Overloaded{
                       [&](const Clump& c) { buildClump(c).appendTo(out, offsets); },
                       [&](const UvAnimDictionary& d) { buildUvAnimDictionary(d).appendTo(out, offsets); },
                       [&](const Chunk& c) { c.appendTo(out, offsets); },
                       [&](const RawBytes& r) { out.insert(out.end(), r.bytes.begin(), r.bytes.end()); },
                   },
                   unit);
    return out;
}

std::vector<uint8_t> write(const Clump& clump, std::vector<ChunkOffset>* offsets)
{
    return buildClump(clump).bytes(offsets);
}

bool saveFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// ---------------------------------------------------------------------------
// Conveniences

namespace {

// One square side: centre c, in-plane axes u and v with u x v = outward normal.
void addSide(Geometry& g, const Vec3& c, const Vec3& u, const Vec3& v, const Vec3& normal)
{
    const auto base = static_cast<uint16_t>(g.positions.size());
    const float su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
    for (int k = 0; k < 4; ++k) {
        g.positions.push_back({c[0] + su[k] * u[0] + sv[k] * v[0], c[1] + su[k] * u[1] + sv[k] * v[1],
                               c[2] + su[k] * u[2] + sv[k] * v[2]});
        g.normals.push_back(normal);
        g.texCoords[0].push_back({(su[k] + 1) / 2, (1 - sv[k]) / 2});
    }
    g.triangles.push_back(Triangle::corners(base, static_cast<uint16_t>(base + 1), static_cast<uint16_t>(base + 2)));
    g.triangles.push_back(Triangle::corners(base, static_cast<uint16_t>(base + 2), static_cast<uint16_t>(base + 3)));
}

}  // namespace

Geometry makeQuad(float size)
{
    Geometry g;
    g.texCoords.resize(1);
    const float h = size / 2;
    addSide(g, {0, 0, 0}, {h, 0, 0}, {0, h, 0}, {0, 0, 1});
    g.materials.push_back(Material{});
    return g;
}

Geometry makeCube(float size)
{
    Geometry g;
    g.texCoords.resize(1);
    const float h = size / 2;
    addSide(g, {h, 0, 0}, {0, h, 0}, {0, 0, h}, {1, 0, 0});
    addSide(g, {-h, 0, 0}, {0, 0, h}, {0, h, 0}, {-1, 0, 0});
    addSide(g, {0, h, 0}, {0, 0, h}, {h, 0, 0}, {0, 1, 0});
    addSide(g, {0, -h, 0}, {h, 0, 0}, {0, 0, h}, {0, -1, 0});
    addSide(g, {0, 0, h}, {h, 0, 0}, {0, h, 0}, {0, 0, 1});
    addSide(g, {0, 0, -h}, {0, h, 0}, {h, 0, 0}, {0, 0, -1});
    g.materials.push_back(Material{});
    return g;
}

BinMesh binMeshFromTriangles(const std::vector<Triangle>& triangles)
{
    std::map<uint16_t, std::vector<uint32_t>> byMaterial;
    for (const Triangle& t : triangles) {
        auto& indices = byMaterial[t.matId];
        indices.insert(indices.end(), {t.v0, t.v1, t.v2});
    }
    BinMesh b;
    for (auto& [material, indices] : byMaterial) b.splits.push_back({material, std::move(indices), {}});
    return b;
}

Frame namedFrame(const std::string& name, uint32_t parent, Vec3 position)
{
    Frame f;
    f.name = name;
    f.parent = parent;
    f.position = position;
    return f;
}

Atomic atomic(uint32_t frameIndex, uint32_t geometryIndex)
{
    Atomic a;
    a.frameIndex = frameIndex;
    a.geometryIndex = geometryIndex;
    return a;
}

Texture namedTexture(const std::string& name, const std::string& mask, uint8_t addressing, uint8_t filter)
{
    Texture t;
    t.name = name;
    t.maskName = mask;
    t.addressing = addressing;
    t.filter = filter;
    return t;
}

Clump makeBox(const std::string& textureName, float size, const std::string& name)
{
    Clump c;
    c.frames.push_back(namedFrame(name));
    Geometry g = makeCube(size);
    g.materials[0].textures.push_back(namedTexture(textureName));
    g.extension.items.push_back(binMeshFromTriangles(g.triangles));
    c.geometries.push_back(std::move(g));
    c.atomics.push_back(Atomic{});
    return c;
}

}  // namespace dffw
