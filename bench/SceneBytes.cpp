#include "bench/SceneBytes.h"

#include <cstring>

#include "host/scene.h"

namespace bench {

namespace {

std::size_t meshBytes(const Mesh& mesh)
{
    std::size_t bytes = sizeof(TriObject);
    bytes += static_cast<std::size_t>(mesh.getNumVerts()) * sizeof(Point3);
    bytes += static_cast<std::size_t>(mesh.getNumFaces()) * sizeof(Face);
    for (int ch = -NUM_HIDDENMAPS; ch < mesh.getNumMaps(); ++ch) {
        const MeshMap& map = mesh.Map(ch);
        if (!map.support) continue;
        bytes += map.tv.size() * sizeof(UVVert) + map.tf.size() * sizeof(TVFace);
    }
    if (const MeshNormalSpec* spec = mesh.GetSpecifiedNormals()) {
        bytes += sizeof(MeshNormalSpec);
        bytes += static_cast<std::size_t>(spec->GetNumNormals()) * (sizeof(Point3) + 1);
        bytes += static_cast<std::size_t>(spec->GetNumFaces()) * sizeof(MeshNormalFace);
    }
    return bytes;
}

std::size_t skinBytes(const SkinModifier& skin)
{
    std::size_t bytes = sizeof(SkinModifier) + skin.Bones().size() * sizeof(SkinModifier::Bone);
    for (const auto& pairs : skin.Weights()) bytes += sizeof(pairs) + pairs.size() * sizeof(pairs[0]);
    return bytes;
}

std::size_t nodeBytes(const INode& node)
{
    std::size_t bytes = sizeof(INode) + std::strlen(node.GetName());
    bytes += node.Children().size() * sizeof(INode*) + node.Modifiers().size() * sizeof(Modifier*);
    for (const INode::UserProp& p : node.UserProps()) bytes += sizeof(p) + p.key.size() + p.text.size();
    return bytes;
}

}  // namespace

std::size_t sceneBytes(const Scene& scene)
{
    std::size_t bytes = 0;
    for (const TriObject* tri : scene.meshes) bytes += meshBytes(tri->mesh);
    for (const SkinModifier* skin : scene.modifiers) bytes += skinBytes(*skin);
    for (const INode* node : scene.nodes) bytes += nodeBytes(*node);
    for (const Mtl* m : scene.materials) {
        bytes += m->GetName().size();
        if (dynamic_cast<const MultiMtl*>(m)) {
            bytes += sizeof(MultiMtl) + static_cast<std::size_t>(const_cast<Mtl*>(m)->NumSubMtls()) * sizeof(Mtl*);
        } else {
            bytes += sizeof(GameMtl);
        }
    }
    for (const BitmapTex* t : scene.textures) {
        bytes += sizeof(BitmapTex) + sizeof(StdUVGen) + t->GetName().size();
        if (const MCHAR* name = t->GetMapName()) bytes += std::strlen(name);
    }
    for (const FloatController* c : scene.controllers)
        bytes += sizeof(FloatController) + c->Keys().size() * sizeof(c->Keys()[0]);
    bytes += scene.otherObjects.size() * sizeof(GenLight);
    for (const ScriptRecord& r : scene.script) bytes += sizeof(r) + r.text.size() + r.error.size();
    return bytes;
}

}  // namespace bench
