// glTF export of host meshes: one glTF mesh per host mesh (with its node's
// material and skin), one primitive per material id in use, a glTF vertex per
// distinct combination of a corner's vertex, normal and map vertices.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "gltf/GltfDocument.h"
#include "support/Text.h"
#include "host/describe.h"

namespace orvik::gltf {

// A map channel the export carries and the attribute it becomes ("" for the
// channels that make COLOR_0).
struct Channel {
    int number = 0;
    std::string attribute;
};

// What a mesh's primitives share: the faces that can be drawn, the channels
// that can be read and the specified normals.
struct MeshParts {
    const Mesh& mesh;
    std::vector<int> faces;
    std::vector<Channel> channels;
    const MeshNormalSpec* normals = nullptr;  // null when the mesh has none
};

// The distinct corners of a primitive: per glTF vertex its key (vertex,
// normal, then the map vertex of each channel), kept in one array; an
// open-addressing table finds the vertex of a key without allocating.
class CornerKeys {
public:
    CornerKeys(std::size_t keyWidth, std::size_t corners) : width(keyWidth)
    {
        std::size_t size = 16;
        while (size < corners * 2) size *= 2;
        table.assign(size, kEmpty);
        keys.reserve(corners * width);
    }

    // The glTF vertex of the key (width values), added when new.
    std::uint32_t vertexOf(const std::int64_t* key, std::size_t face)
    {
        std::uint64_t h = 1469598103934665603u;
        for (std::size_t i = 0; i < width; ++i) h = (h ^ static_cast<std::uint64_t>(key[i])) * 1099511628211u;
        h ^= h >> 29;
        for (std::size_t slot = static_cast<std::size_t>(h) & (table.size() - 1);;
             slot = (slot + 1) & (table.size() - 1)) {
            const std::uint32_t v = table[slot];
            if (v == kEmpty) {
                table[slot] = static_cast<std::uint32_t>(count());
                keys.insert(keys.end(), key, key + width);
                firstFace.push_back(face);
                return table[slot];
            }
            if (std::equal(key, key + width, keys.data() + v * width)) return v;
        }
    }
    std::size_t count() const { return firstFace.size(); }
    const std::int64_t* key(std::size_t v) const { return keys.data() + v * width; }

    std::vector<std::size_t> firstFace;  // per glTF vertex: the primitive's face that made it

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    std::size_t width;
    std::vector<std::int64_t> keys;
    std::vector<std::uint32_t> table;
};

namespace {

// The sub-material that faces of a material id show: a multi-material's slot
// (the id wrapping round the slot count, as the host does), or the material.
Mtl* materialOfId(Mtl* nodeMaterial, MtlID id, int& slot)
{
    slot = 0;
    if (dynamic_cast<MultiMtl*>(nodeMaterial) == nullptr) return nodeMaterial;
    const int slots = nodeMaterial->NumSubMtls();
    if (slots <= 0) return nullptr;
    slot = id % slots;
    return nodeMaterial->GetSubMtl(slot);
}

// The largest value of each index type is the primitive-restart value, which
// glTF indices must not hold.
int indexType(std::size_t vertexCount)
{
    return vertexCount <= 255 ? kUnsignedByte : vertexCount <= 65535 ? kUnsignedShort : kUnsignedInt;
}

}  // namespace

void Builder::keyCorners(const MeshParts& parts, const std::vector<int>& faces, CornerKeys& corners,
                         std::vector<std::uint32_t>& indices) const
{
    const Mesh& mesh = parts.mesh;
    const MeshNormalSpec* spec = parts.normals;
    std::vector<std::int64_t> key(2 + parts.channels.size());
    indices.reserve(faces.size() * 3);
    for (std::size_t k = 0; k < faces.size(); ++k) {
        const int f = faces[k];
        for (int corner = 0; corner < 3; ++corner) {
            key[0] = mesh.faces[f].v[corner];
            // The normal's id; a corner without one gets its face's normal
            // (one per face, so such corners never merge across faces).
            key[1] = -1;
            if (spec) {
                const int nid = f < spec->GetNumFaces() ? spec->Face(f).GetNormalID(corner) : -1;
                key[1] = nid >= 0 && nid < spec->GetNumNormals() ? nid : -2 - static_cast<std::int64_t>(k);
            }
            for (std::size_t ch = 0; ch < parts.channels.size(); ++ch) {
                key[2 + ch] = mesh.Map(parts.channels[ch].number).tf[static_cast<std::size_t>(f)].t[corner];
            }
            indices.push_back(corners.vertexOf(key.data(), k));
        }
    }
}

Json Builder::writeAttributes(const MeshParts& parts, const std::vector<int>& faces, const CornerKeys& corners,
                              const SkinExport* skin, MeshFlags& flags)
{
    const Mesh& mesh = parts.mesh;
    const std::size_t count = corners.count();
    Json attributes = Json::object();
    auto finiteOr0 = [&](float v) {
        if (std::isfinite(v)) return v;
        flags.invalidFloat = true;
        return 0.0f;
    };
    std::vector<float> data;
    auto put = [&](const char* name, const char* type) {
        attributes[name] = addAccessor(data.data(), data.size() * sizeof(float), kArrayBuffer, kFloat, type, count);
    };

    // POSITION, with its bounds.
    data.resize(count * 3);
    std::array<float, 3> lo{}, hi{};
    lo.fill(std::numeric_limits<float>::max()), hi.fill(std::numeric_limits<float>::lowest());
    for (std::size_t i = 0; i < count; ++i) {
        const Point3 p = mesh.verts[corners.key(i)[0]];
        for (int c = 0; c < 3; ++c) {
            const auto u = static_cast<std::size_t>(c);
            data[i * 3 + u] = finiteOr0(p[c]);
            lo[u] = std::min(lo[u], data[i * 3 + u]), hi[u] = std::max(hi[u], data[i * 3 + u]);
        }
    }
    put("POSITION", "VEC3");
    Json& accessor = doc["accessors"][static_cast<std::size_t>(attributes["POSITION"].get<int>())];
    accessor["min"] = {tidy(lo[0]), tidy(lo[1]), tidy(lo[2])};
    accessor["max"] = {tidy(hi[0]), tidy(hi[1]), tidy(hi[2])};

    // NORMAL: the specified normals made unit length (in double, so that tiny
    // and huge vectors keep their direction); else the normal of the face
    // that made the vertex.
    if (parts.normals) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t nid = corners.key(i)[1];
            double x = 0, y = 0, z = 0, len = 0;
            if (nid >= 0) {
                const Point3 n = parts.normals->Normal(static_cast<int>(nid));
                x = n.x, y = n.y, z = n.z;
                len = std::sqrt(x * x + y * y + z * z);
                if (!std::isfinite(len) || len == 0.0) flags.badNormal = true, len = 0.0;
            }
            if (len == 0.0) {
                const Face& face = mesh.faces[faces[corners.firstFace[i]]];
                const Point3 a = mesh.verts[face.v[0]], b = mesh.verts[face.v[1]], c = mesh.verts[face.v[2]];
                const Point3 n = Normalize(CrossProd(b - a, c - a));
                const bool unit = std::abs(DotProd(n, n) - 1.0f) < 1e-3f;
                x = unit ? n.x : 0.0, y = unit ? n.y : 0.0, z = unit ? n.z : 1.0, len = 1.0;
            }
            data[i * 3] = static_cast<float>(x / len);
            data[i * 3 + 1] = static_cast<float>(y / len);
            data[i * 3 + 2] = static_cast<float>(z / len);
        }
        put("NORMAL", "VEC3");
    }

    // Map channels: texture coordinates with glTF's v (the host holds
    // 1 - v), the others as they are; COLOR_0 from channel 0's colour and
    // channel -2's alpha, each 1 where the mesh lacks the channel.
    int colour = -1, alpha = -1;
    for (std::size_t ch = 0; ch < parts.channels.size(); ++ch) {
        const Channel& channel = parts.channels[ch];
        if (channel.number == 0) colour = static_cast<int>(ch);
        if (channel.number == MAP_ALPHA) alpha = static_cast<int>(ch);
        if (channel.attribute.empty()) continue;
        const MeshMap& map = mesh.Map(channel.number);
        const bool uv = channel.number == 1 || channel.number == 2;
        const std::size_t width = uv ? 2 : 3;
        data.resize(count * width);
        for (std::size_t i = 0; i < count; ++i) {
            const UVVert t = map.tv[static_cast<std::size_t>(corners.key(i)[2 + ch])];
            data[i * width] = finiteOr0(t.x);
            data[i * width + 1] = uv ? 1.0f - finiteOr0(t.y) : finiteOr0(t.y);
            if (!uv) data[i * width + 2] = finiteOr0(t.z);
        }
        put(channel.attribute.c_str(), uv ? "VEC2" : "VEC3");
    }
    if (colour >= 0 || alpha >= 0) {
        data.assign(count * 4, 1.0f);
        auto clamped = [&](float v) {
            v = finiteOr0(v);
            if (v < 0.0f || v > 1.0f) flags.clamped = true;
            return std::clamp(v, 0.0f, 1.0f);
        };
        for (std::size_t i = 0; i < count; ++i) {
            if (colour >= 0) {
                const UVVert t = mesh.Map(0).tv[static_cast<std::size_t>(corners.key(i)[2 + colour])];
                data[i * 4] = clamped(t.x), data[i * 4 + 1] = clamped(t.y), data[i * 4 + 2] = clamped(t.z);
            }
            if (alpha >= 0)
                data[i * 4 + 3] =
                    clamped(mesh.Map(MAP_ALPHA).tv[static_cast<std::size_t>(corners.key(i)[2 + alpha])].x);
        }
        put("COLOR_0", "VEC4");
    }

    // JOINTS_0 and WEIGHTS_0 of the host vertex each glTF vertex came from.
    if (skin) {
        const bool small = skin->jointCount <= 256;
        std::vector<std::uint8_t> joints8(small ? count * 4 : 0);
        std::vector<std::uint16_t> joints16(small ? 0 : count * 4);
        data.resize(count * 4);
        for (std::size_t i = 0; i < count; ++i) {
            const VertexSkin& vs = skin->vertices[static_cast<std::size_t>(corners.key(i)[0])];
            for (std::size_t c = 0; c < 4; ++c) {
                if (small) joints8[i * 4 + c] = static_cast<std::uint8_t>(vs.joints[c]);
                if (!small) joints16[i * 4 + c] = vs.joints[c];
                data[i * 4 + c] = vs.weights[c];
            }
        }
        attributes["JOINTS_0"] =
            small ? addAccessor(joints8.data(), joints8.size(), kArrayBuffer, kUnsignedByte, "VEC4", count)
                  : addAccessor(joints16.data(), joints16.size() * 2, kArrayBuffer, kUnsignedShort, "VEC4", count);
        put("WEIGHTS_0", "VEC4");
    }
    return attributes;
}

int Builder::meshFor(INode& node, TriObject& object, const SkinExport* skin)
{
    Mtl* nodeMaterial = node.GetMtl();
    // Nodes that show the same mesh with the same material and skin share it.
    const auto cacheKey =
        std::make_tuple(static_cast<const TriObject*>(&object), static_cast<const Mtl*>(nodeMaterial), skin);
    if (const auto found = meshes.find(cacheKey); found != meshes.end()) return found->second;
    const Mesh& mesh = object.mesh;
    const int numVerts = mesh.getNumVerts(), numFaces = mesh.getNumFaces();
    MeshParts parts{mesh, {}, {}, nullptr};

    // Faces whose corners name vertices the mesh has (and the Skin knows).
    const auto known = static_cast<DWORD>(skin ? std::min<std::size_t>(skin->vertices.size(), numVerts) : numVerts);
    for (int f = 0; f < numFaces; ++f) {
        const DWORD* v = mesh.faces[f].v;
        if (v[0] < known && v[1] < known && v[2] < known) {
            parts.faces.push_back(f);
        } else {
            note("a face names a vertex its mesh does not have: it is left out");
        }
    }
    if (parts.faces.empty()) return -1;  // nothing to draw

    // Channels with one map face per face and their map vertices in range.
    for (int ch = -NUM_HIDDENMAPS; ch < mesh.getNumMaps(); ++ch) {
        if (!mesh.mapSupport(ch)) continue;
        const MeshMap& map = mesh.Map(ch);
        const auto tvCount = static_cast<DWORD>(map.getNumVerts());
        bool usable = map.getNumFaces() >= numFaces;
        for (std::size_t k = 0; usable && k < parts.faces.size(); ++k) {
            const TVFace& t = map.tf[static_cast<std::size_t>(parts.faces[k])];
            usable = t.t[0] < tvCount && t.t[1] < tvCount && t.t[2] < tvCount;
        }
        if (!usable) {
            note("map channel " + std::to_string(ch) + " names map faces or vertices it does not have: it is left out");
            continue;
        }
        // Channels glTF has no attribute for keep their (u, v, w) as
        // application-specific attributes.
        const std::string attribute = ch == 0 || ch == MAP_ALPHA ? ""
                                      : ch == 1                  ? "TEXCOORD_0"
                                      : ch == 2                  ? "TEXCOORD_1"
                                      : ch < 0                   ? "_MAP_M" + std::to_string(-ch)
                                                                 : "_MAP_" + std::to_string(ch);
        parts.channels.push_back({ch, attribute});
    }
    const bool hasUv = mesh.mapSupport(1) && std::any_of(parts.channels.begin(), parts.channels.end(),
                                                         [](const Channel& c) { return c.number == 1; });
    const MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
    if (spec && spec->GetNumNormals() > 0) {
        parts.normals = spec;
        if (spec->GetNumFaces() < numFaces) {
            note("a mesh's normal block has fewer faces than the mesh: corners without a normal get their face's");
        }
    }

    // One primitive per material id, ascending.
    std::map<MtlID, std::vector<int>> byId;
    for (int f : parts.faces) byId[mesh.faces[f].getMatID()].push_back(f);
    const Face& first = mesh.faces[parts.faces.front()];
    bool sameSmoothing = true, sameEdges = true;
    for (int f : parts.faces) {
        sameSmoothing = sameSmoothing && mesh.faces[f].smGroup == first.smGroup;
        sameEdges = sameEdges && (mesh.faces[f].flags & EDGE_ALL) == (first.flags & EDGE_ALL);
    }
    const int geometry =
        static_cast<int>(std::find(scene.meshes.begin(), scene.meshes.end(), &object) - scene.meshes.begin());
    Json primitives = Json::array();
    MeshFlags flags;
    std::vector<std::uint32_t> indices;
    for (const auto& [id, faces] : byId) {
        CornerKeys corners(2 + parts.channels.size(), faces.size() * 3);
        indices.clear();
        keyCorners(parts, faces, corners, indices);
        Json prim = {{"attributes", writeAttributes(parts, faces, corners, skin, flags)}};
        const int type = indexType(corners.count());
        if (type == kUnsignedInt) {
            prim["indices"] =
                addAccessor(indices.data(), indices.size() * 4, kElementArrayBuffer, type, "SCALAR", indices.size());
        } else if (type == kUnsignedShort) {
            const std::vector<std::uint16_t> small(indices.begin(), indices.end());
            prim["indices"] =
                addAccessor(small.data(), small.size() * 2, kElementArrayBuffer, type, "SCALAR", small.size());
        } else {
            const std::vector<std::uint8_t> small(indices.begin(), indices.end());
            prim["indices"] =
                addAccessor(small.data(), small.size(), kElementArrayBuffer, type, "SCALAR", small.size());
        }
        int slot = 0;
        Mtl* mtl = materialOfId(nodeMaterial, id, slot);
        // A collision mesh (hidden and kept out of renders) without a
        // material of its own shows its surface kinds.
        const bool collision = nodeMaterial == nullptr && node.IsHidden() && !node.Renderable();
        const int material =
            collision ? collisionMaterial(id)
                      : materialFor(mtl, hasUv,
                                    "material " + std::to_string(slot) + " of geometry " + std::to_string(geometry));
        if (material >= 0) prim["material"] = material;
        prim["mode"] = 4;  // triangles
        // Smoothing groups and edge visibility per triangle, where they differ.
        prim["extras"] = {{"matId", id}};
        if (!sameSmoothing) {
            Json groups = Json::array();
            for (int f : faces) groups.push_back(mesh.faces[f].smGroup);
            prim["extras"]["smGroups"] = groups;
        }
        if (!sameEdges) {
            Json edges = Json::array();
            for (int f : faces)
                edges.push_back(
                    {mesh.faces[f].getEdgeVis(0), mesh.faces[f].getEdgeVis(1), mesh.faces[f].getEdgeVis(2)});
            prim["extras"]["edgeVis"] = edges;
        }
        primitives.push_back(std::move(prim));
        report.vertices += corners.count();
        report.triangles += faces.size();
        ++report.primitives;
    }
    if (flags.invalidFloat) note("a mesh value that is not a number is exported as 0");
    if (flags.badNormal) note("a normal of length zero is exported as its face's normal");
    if (flags.clamped) note("vertex colours outside 0..1 are clamped");

    // The mesh's extras: a multi-material as the dump describes it (its slots
    // as glTF materials, every slot exported), what every face shares, and
    // where each channel went.
    Json extras = Json::object();
    if (dynamic_cast<MultiMtl*>(nodeMaterial)) {
        JsonBuilder w;
        slotGeometry = geometry, nextSlot = 0;
        describe::material(w, nodeMaterial, *this);
        extras["material"] = std::move(w.result);
    }
    if (sameSmoothing) extras["smGroups"] = first.smGroup;
    if (sameEdges) extras["edgeVis"] = {first.getEdgeVis(0), first.getEdgeVis(1), first.getEdgeVis(2)};
    Json maps = Json::object();
    for (const Channel& c : parts.channels) {
        maps[std::to_string(c.number)] = c.number == 0           ? "COLOR_0 (rgb)"
                                         : c.number == MAP_ALPHA ? "COLOR_0 (alpha)"
                                                                 : c.attribute;
    }
    extras["maps"] = maps;
    int index = 0;
    add("meshes", {{"name", latin1ToUtf8(node.GetName())}, {"primitives", primitives}, {"extras", extras}}, index);
    meshes.emplace(cacheKey, index);
    return index;
}

}  // namespace orvik::gltf
