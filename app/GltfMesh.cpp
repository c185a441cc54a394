// glTF export of host meshes: one glTF mesh per host mesh (and node material
// and skin), one primitive per material id in use; a glTF vertex per distinct
// combination of a corner's vertex, normal and map vertices.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "app/GltfBuilder.h"

namespace orvik::gltf {
namespace {

// A map channel the export carries, and the attribute it becomes.
struct Channel {
    int number = 0;
    std::string attribute;  // "" for the channels that make COLOR_0
};

// The sub-material that faces of a material id show: a multi-material's
// slot (the id wrapping round its slot count, as the host does), or the
// node's material itself.
Mtl* materialOfId(Mtl* nodeMaterial, MtlID id)
{
    if (nodeMaterial == nullptr) return nullptr;
    if (dynamic_cast<MultiMtl*>(nodeMaterial) == nullptr) return nodeMaterial;
    const int slots = nodeMaterial->NumSubMtls();
    if (slots <= 0) return nullptr;
    return nodeMaterial->GetSubMtl(id % slots);
}

float finiteOr0(float v, bool& changed)
{
    if (std::isfinite(v)) return v;
    changed = true;
    return 0.0f;
}

int indexComponentType(std::size_t vertexCount)
{
    // The largest value of each type is the primitive-restart value, which
    // glTF indices must not hold.
    if (vertexCount <= 255) return TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE;
    if (vertexCount <= 65535) return TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    return TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

}  // namespace

int Builder::meshFor(INode* node, TriObject& object, const SkinModifier* skinModifier, const SkinExport* skin)
{
    Mtl* nodeMaterial = node->GetMtl();
    // Nodes that show the same mesh with the same material and skin share it.
    const auto key = std::make_tuple(static_cast<const TriObject*>(&object), static_cast<const Mtl*>(nodeMaterial),
                                     skin ? skinModifier : nullptr);
    if (const auto found = meshes.find(key); found != meshes.end()) return found->second;
    const Mesh& mesh = object.mesh;
    const int numVerts = mesh.getNumVerts();
    const int numFaces = mesh.getNumFaces();

    // Faces whose corners name vertices the mesh has.
    std::vector<int> faces;
    faces.reserve(static_cast<std::size_t>(std::max(numFaces, 0)));
    for (int f = 0; f < numFaces; ++f) {
        const DWORD* v = mesh.faces[f].v;
        if (v[0] < static_cast<DWORD>(numVerts) && v[1] < static_cast<DWORD>(numVerts) &&
            v[2] < static_cast<DWORD>(numVerts)) {
            faces.push_back(f);
        } else {
            note("a face names a vertex its mesh does not have: it is left out");
        }
    }

    // Channels: supported, one map face per face, map vertices in range.
    std::vector<Channel> channels;
    auto usable = [&](int ch) {
        if (!mesh.mapSupport(ch)) return false;
        const MeshMap& map = mesh.Map(ch);
        if (map.getNumFaces() < numFaces) {
            note("map channel " + std::to_string(ch) + " has fewer map faces than faces: it is left out");
            return false;
        }
        const auto tvCount = static_cast<DWORD>(map.getNumVerts());
        for (int f : faces) {
            const TVFace& t = map.tf[static_cast<std::size_t>(f)];
            if (t.t[0] >= tvCount || t.t[1] >= tvCount || t.t[2] >= tvCount) {
                note("map channel " + std::to_string(ch) + " names map vertices it does not have: it is left out");
                return false;
            }
        }
        return true;
    };
    bool colour = false, alpha = false;
    int uv0 = -1, uv1 = -1;
    for (int ch = -NUM_HIDDENMAPS; ch < mesh.getNumMaps(); ++ch) {
        if (!usable(ch)) continue;
        std::string attribute;
        if (ch == 0) {
            colour = true;
        } else if (ch == MAP_ALPHA) {
            alpha = true;
        } else if (ch == 1) {
            attribute = "TEXCOORD_0";
            uv0 = static_cast<int>(channels.size());
        } else if (ch == 2) {
            attribute = "TEXCOORD_1";
            uv1 = static_cast<int>(channels.size());
        } else {
            // Channels glTF has no attribute for keep their (u, v, w) as
            // application-specific attributes.
            attribute = ch < 0 ? "_MAP_M" + std::to_string(-ch) : "_MAP_" + std::to_string(ch);
        }
        channels.push_back({ch, attribute});
    }
    (void)uv1;

    const MeshNormalSpec* spec = mesh.GetSpecifiedNormals();
    const bool hasNormals = spec != nullptr && spec->GetNumNormals() > 0;
    if (hasNormals && spec->GetNumFaces() < numFaces) {
        note("a mesh's normal block has fewer faces than the mesh: corners without a normal get their face's");
    }

    // Faces by material id, ascending.
    std::map<MtlID, std::vector<int>> byId;
    for (int f : faces) byId[mesh.faces[f].getMatID()].push_back(f);

    // Smoothing groups and edge visibility go into the extras: once for the
    // mesh when every face has the same, per triangle otherwise.
    bool uniformSmoothing = true, uniformEdges = true;
    for (int f : faces) {
        uniformSmoothing = uniformSmoothing && mesh.faces[f].smGroup == mesh.faces[faces.front()].smGroup;
        uniformEdges = uniformEdges && (mesh.faces[f].flags & EDGE_ALL) == (mesh.faces[faces.front()].flags & EDGE_ALL);
    }

    tinygltf::Mesh out;
    out.name = utf8(node->GetName());
    const int meshIndex = static_cast<int>(model.meshes.size());
    std::vector<Json> primitiveExtras;
    bool invalidFloat = false, badNormal = false, clamped = false;

    for (const auto& [id, idFaces] : byId) {
        const std::size_t slots = 2 + channels.size();
        std::map<std::vector<std::int64_t>, std::uint32_t> vertexOf;
        std::vector<std::vector<std::int64_t>> keys;
        std::vector<std::uint32_t> indices;
        indices.reserve(idFaces.size() * 3);
        std::vector<Point3> faceNormal(idFaces.size());
        std::vector<std::size_t> firstFace;  // per glTF vertex: the face that made it

        for (std::size_t k = 0; k < idFaces.size(); ++k) {
            const int f = idFaces[k];
            const Face& face = mesh.faces[f];
            const Point3 a = mesh.verts[face.v[0]], b = mesh.verts[face.v[1]], c = mesh.verts[face.v[2]];
            faceNormal[k] = Normalize(CrossProd(b - a, c - a));
            for (int corner = 0; corner < 3; ++corner) {
                std::vector<std::int64_t> cornerKey(slots);
                cornerKey[0] = face.v[corner];
                // Normal: its id, or, where the corner has none, its face's
                // (one per face, so such cornerKey never merge across faces).
                cornerKey[1] = -1;
                if (hasNormals) {
                    int nid = f < spec->GetNumFaces() ? spec->Face(f).GetNormalID(corner) : -1;
                    if (nid < 0 || nid >= spec->GetNumNormals()) nid = -1;
                    cornerKey[1] = nid >= 0 ? nid : -2 - static_cast<std::int64_t>(k);
                }
                for (std::size_t ch = 0; ch < channels.size(); ++ch) {
                    cornerKey[2 + ch] = mesh.Map(channels[ch].number).tf[static_cast<std::size_t>(f)].t[corner];
                }
                const auto [it, added] = vertexOf.emplace(cornerKey, static_cast<std::uint32_t>(keys.size()));
                if (added) {
                    keys.push_back(cornerKey);
                    firstFace.push_back(k);
                }
                indices.push_back(it->second);
            }
        }

        const std::size_t count = keys.size();
        tinygltf::Primitive prim;
        prim.mode = TINYGLTF_MODE_TRIANGLES;

        // POSITION, with its bounds.
        std::vector<float> positions(count * 3);
        std::vector<double> minV(3, std::numeric_limits<double>::max()), maxV(3, std::numeric_limits<double>::lowest());
        for (std::size_t i = 0; i < count; ++i) {
            const Point3 p = mesh.verts[keys[i][0]];
            for (int c = 0; c < 3; ++c) {
                const float v = finiteOr0(p[c], invalidFloat);
                positions[i * 3 + static_cast<std::size_t>(c)] = v;
                minV[static_cast<std::size_t>(c)] = std::min(minV[static_cast<std::size_t>(c)], double(v));
                maxV[static_cast<std::size_t>(c)] = std::max(maxV[static_cast<std::size_t>(c)], double(v));
            }
        }
        int view = addView(positions.data(), positions.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
        int acc = addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
        model.accessors[static_cast<std::size_t>(acc)].minValues = minV;
        model.accessors[static_cast<std::size_t>(acc)].maxValues = maxV;
        prim.attributes["POSITION"] = acc;

        // NORMAL: the explicit normals, of unit length.
        if (hasNormals) {
            std::vector<float> normals(count * 3);
            for (std::size_t i = 0; i < count; ++i) {
                const std::int64_t nid = keys[i][1];
                Point3 n;
                bool own = nid >= 0;
                if (own) {
                    // In double, so that tiny and huge vectors keep their direction.
                    const Point3 raw = spec->Normal(static_cast<int>(nid));
                    const double x = raw.x, y = raw.y, z = raw.z;
                    const double len = std::sqrt(x * x + y * y + z * z);
                    if (!std::isfinite(len) || len == 0.0) {
                        own = false;
                        badNormal = true;
                    } else {
                        n = Point3(static_cast<float>(x / len), static_cast<float>(y / len), static_cast<float>(z / len));
                    }
                }
                if (!own) {
                    // The face normal of the face that made the vertex.
                    n = faceNormal[firstFace[i]];
                    if (!(std::abs(DotProd(n, n) - 1.0f) < 1e-3f)) n = Point3(0, 0, 1);
                }
                normals[i * 3] = n.x, normals[i * 3 + 1] = n.y, normals[i * 3 + 2] = n.z;
            }
            view = addView(normals.data(), normals.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
            prim.attributes["NORMAL"] =
                addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
        }

        // Map channels: texture coordinates with glTF's v (the host holds
        // 1 - v), the others as they are.
        int colourSlot = -1, alphaSlot = -1;
        for (std::size_t ch = 0; ch < channels.size(); ++ch) {
            const Channel& channel = channels[ch];
            const MeshMap& map = mesh.Map(channel.number);
            if (channel.number == 0) colourSlot = static_cast<int>(ch);
            if (channel.number == MAP_ALPHA) alphaSlot = static_cast<int>(ch);
            if (channel.attribute.empty()) continue;
            const bool uv = channel.attribute.rfind("TEXCOORD_", 0) == 0;
            const std::size_t width = uv ? 2 : 3;
            std::vector<float> data(count * width);
            for (std::size_t i = 0; i < count; ++i) {
                const UVVert t = map.tv[static_cast<std::size_t>(keys[i][2 + ch])];
                if (uv) {
                    data[i * 2] = finiteOr0(t.x, invalidFloat);
                    data[i * 2 + 1] = 1.0f - finiteOr0(t.y, invalidFloat);
                } else {
                    for (std::size_t c = 0; c < 3; ++c) data[i * 3 + c] = finiteOr0(t[static_cast<int>(c)], invalidFloat);
                }
            }
            view = addView(data.data(), data.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
            prim.attributes[channel.attribute] = addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                                             uv ? TINYGLTF_TYPE_VEC2 : TINYGLTF_TYPE_VEC3, count);
        }

        // COLOR_0: channel 0's colour and channel -2's alpha, each 1 where
        // the mesh lacks the channel.
        if (colour || alpha) {
            std::vector<float> data(count * 4, 1.0f);
            for (std::size_t i = 0; i < count; ++i) {
                auto put = [&](std::size_t c, float v) {
                    v = finiteOr0(v, invalidFloat);
                    if (v < 0.0f || v > 1.0f) clamped = true;
                    data[i * 4 + c] = std::clamp(v, 0.0f, 1.0f);
                };
                if (colourSlot >= 0) {
                    const auto s = static_cast<std::size_t>(colourSlot);
                    const UVVert t = mesh.Map(0).tv[static_cast<std::size_t>(keys[i][2 + s])];
                    put(0, t.x), put(1, t.y), put(2, t.z);
                }
                if (alphaSlot >= 0) {
                    const auto s = static_cast<std::size_t>(alphaSlot);
                    put(3, mesh.Map(MAP_ALPHA).tv[static_cast<std::size_t>(keys[i][2 + s])].x);
                }
            }
            view = addView(data.data(), data.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
            prim.attributes["COLOR_0"] = addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC4, count);
        }

        // JOINTS_0 and WEIGHTS_0 from the host vertex each glTF vertex came from.
        if (skin != nullptr) {
            const bool small = skin->jointCount <= 256;
            std::vector<std::uint8_t> joints8;
            std::vector<std::uint16_t> joints16;
            std::vector<float> weights(count * 4);
            if (small) {
                joints8.resize(count * 4);
            } else {
                joints16.resize(count * 4);
            }
            for (std::size_t i = 0; i < count; ++i) {
                const auto v = static_cast<std::size_t>(keys[i][0]);
                VertexSkin vs;
                if (v < skin->vertices.size()) {
                    vs = skin->vertices[v];
                } else {
                    vs.weights = {1.0f, 0.0f, 0.0f, 0.0f};
                }
                for (std::size_t c = 0; c < 4; ++c) {
                    if (small) {
                        joints8[i * 4 + c] = static_cast<std::uint8_t>(vs.joints[c]);
                    } else {
                        joints16[i * 4 + c] = vs.joints[c];
                    }
                    weights[i * 4 + c] = vs.weights[c];
                }
            }
            if (small) {
                view = addView(joints8.data(), joints8.size(), TINYGLTF_TARGET_ARRAY_BUFFER);
            } else {
                view = addView(joints16.data(), joints16.size() * 2, TINYGLTF_TARGET_ARRAY_BUFFER);
            }
            prim.attributes["JOINTS_0"] =
                addAccessor(view,
                            small ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                            TINYGLTF_TYPE_VEC4, count);
            view = addView(weights.data(), weights.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
            prim.attributes["WEIGHTS_0"] = addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC4, count);
        }

        // Indices in the smallest type that holds them.
        const int type = indexComponentType(count);
        if (type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE) {
            std::vector<std::uint8_t> data(indices.begin(), indices.end());
            view = addView(data.data(), data.size(), TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        } else if (type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
            std::vector<std::uint16_t> data(indices.begin(), indices.end());
            view = addView(data.data(), data.size() * 2, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        } else {
            view = addView(indices.data(), indices.size() * 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        }
        prim.indices = addAccessor(view, type, TINYGLTF_TYPE_SCALAR, indices.size());

        prim.material = materialFor(materialOfId(nodeMaterial, id), uv0 >= 0);
        out.primitives.push_back(prim);
        report.vertices += count;
        report.triangles += idFaces.size();

        Json e = Json::object();
        e["matId"] = id;
        if (!uniformSmoothing) {
            Json groups = Json::array();
            for (int f : idFaces) groups.push_back(mesh.faces[f].smGroup);
            e["smGroups"] = groups;
        }
        if (!uniformEdges) {
            Json edges = Json::array();
            for (int f : idFaces) {
                const Face& face = mesh.faces[f];
                edges.push_back(Json::array({face.getEdgeVis(0), face.getEdgeVis(1), face.getEdgeVis(2)}));
            }
            e["edgeVis"] = edges;
        }
        primitiveExtras.push_back(e);
    }
    if (out.primitives.empty()) return -1;  // a mesh without faces has nothing to draw

    if (invalidFloat) note("a mesh value that is not a number is exported as 0");
    if (badNormal) note("a normal of length zero is exported as its face's normal");
    if (clamped) note("vertex colours outside 0..1 are clamped");

    Json meshExtras = Json::object();
    if (nodeMaterial != nullptr && dynamic_cast<MultiMtl*>(nodeMaterial) != nullptr) {
        meshExtras["material"] = describeMaterial(nodeMaterial);
    }
    if (!faces.empty()) {
        const Face& first = mesh.faces[faces.front()];
        if (uniformSmoothing) meshExtras["smGroups"] = first.smGroup;
        if (uniformEdges) meshExtras["edgeVis"] = Json::array({first.getEdgeVis(0), first.getEdgeVis(1), first.getEdgeVis(2)});
    }
    Json maps = Json::object();
    for (const Channel& c : channels) {
        maps[std::to_string(c.number)] =
            c.number == 0 ? "COLOR_0 (rgb)" : c.number == MAP_ALPHA ? "COLOR_0 (alpha)" : c.attribute;
    }
    meshExtras["maps"] = maps;
    model.meshes.push_back(out);
    meshes.emplace(key, meshIndex);
    extras["/meshes/" + std::to_string(meshIndex)] = meshExtras;
    for (std::size_t p = 0; p < primitiveExtras.size(); ++p) {
        extras["/meshes/" + std::to_string(meshIndex) + "/primitives/" + std::to_string(p)] = primitiveExtras[p];
    }
    return meshIndex;
}

}  // namespace orvik::gltf
