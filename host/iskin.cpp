// The stand-in's Skin modifier: a bone list with envelopes and explicit
// per-vertex bone weights, filled through ISkinImportData and read through ISkin.
#include "host/iskin.h"

#include <algorithm>

#include "host/inode.h"

namespace {

// A new bone's envelope: a capsule along the bone's Z axis, wide enough to be
// seen. Scripts flatten it to a point of radius 0.
SkinModifier::Envelope defaultEnvelope()
{
    SkinModifier::Envelope e;
    e.start = Point3(0.0f, 0.0f, 0.0f);
    e.end = Point3(0.0f, 0.0f, 10.0f);
    for (SkinModifier::CrossSection& c : e.sections) {
        c.inner = 2.5f;
        c.outer = 5.0f;
    }
    return e;
}

}  // namespace

void* SkinModifier::GetInterface(ULONG id)
{
    if (id == I_SKINIMPORTDATA) return static_cast<ISkinImportData*>(this);
    if (id == I_SKIN) return static_cast<ISkin*>(this);
    return Modifier::GetInterface(id);
}

void SkinModifier::NotifyEvaluated(INode* evaluatedNode, int vertexCount)
{
    // Weights already given stay with their vertices; vertices beyond a new,
    // smaller count are dropped.
    weights.resize(vertexCount > 0 ? static_cast<std::size_t>(vertexCount) : 0);
    evaluated = true;
    if (evaluatedNode) node = evaluatedNode;
    // Without a bind pose of its own the mesh is bound where it stands when
    // the Skin first meets it.
    if (!skinInitKnown && node) {
        skinInit = BindTm{node->GetNodeTM(0), node->GetObjectTM(0)};
        skinInitKnown = true;
    }
}

SkinModifier::BindTm SkinModifier::SkinInitTm() const
{
    if (skinInitKnown || !node) return skinInit;
    return BindTm{node->GetNodeTM(0), node->GetObjectTM(0)};
}

BOOL SkinModifier::SetSkinTm(INode* skinNode, Matrix3 objectTm, Matrix3 nodeTm)
{
    if (!skinNode || (node && skinNode != node)) return FALSE;
    node = skinNode;
    skinInit = BindTm{nodeTm, objectTm};
    skinInitKnown = true;
    return TRUE;
}

BOOL SkinModifier::SetBoneTm(INode* boneNode, Matrix3 objectTm, Matrix3 nodeTm)
{
    const auto found =
        std::find_if(bones.begin(), bones.end(), [boneNode](const Bone& b) { return boneNode && b.node == boneNode; });
    if (found == bones.end()) return FALSE;
    found->init = BindTm{nodeTm, objectTm};
    return TRUE;
}

int SkinModifier::GetSkinInitTM(INode* pNode, Matrix3& InitTM, bool bObjOffset)
{
    if (!pNode || pNode != node) return SKIN_INVALID_NODE_PTR;
    const BindTm init = SkinInitTm();
    InitTM = bObjOffset ? init.object : init.node;
    return SKIN_OK;
}

int SkinModifier::GetBoneInitTM(INode* pNode, Matrix3& InitTM, bool bObjOffset)
{
    const auto found =
        std::find_if(bones.begin(), bones.end(), [pNode](const Bone& b) { return pNode && b.node == pNode; });
    if (found == bones.end()) return SKIN_INVALID_NODE_PTR;
    InitTM = bObjOffset ? found->init.object : found->init.node;
    return SKIN_OK;
}

BOOL SkinModifier::AddBoneEx(INode* boneNode, BOOL update)
{
    (void)update;
    if (!boneNode) return FALSE;
    const bool present =
        std::any_of(bones.begin(), bones.end(), [boneNode](const Bone& b) { return b.node == boneNode; });
    if (present) return FALSE;
    // Bound where the bone stands now, until SetBoneTm says otherwise.
    bones.push_back(Bone{boneNode, defaultEnvelope(), BindTm{boneNode->GetNodeTM(0), boneNode->GetObjectTM(0)}});
    return TRUE;
}

BOOL SkinModifier::AddWeights(INode* skinNode, int vertexID, Tab<INode*>& boneNodeList, Tab<float>& vertexWeights)
{
    if (!evaluated) return FALSE;
    if (!skinNode || skinNode != node) return FALSE;
    if (vertexID < 0 || static_cast<std::size_t>(vertexID) >= weights.size()) return FALSE;
    if (boneNodeList.Count() != vertexWeights.Count()) return FALSE;

    std::vector<std::pair<int, float>> pairs;
    pairs.reserve(static_cast<std::size_t>(boneNodeList.Count()));
    for (int i = 0; i < boneNodeList.Count(); ++i) {
        INode* bone = boneNodeList[i];
        if (!bone) return FALSE;
        const auto found = std::find_if(bones.begin(), bones.end(), [bone](const Bone& b) { return b.node == bone; });
        if (found == bones.end()) return FALSE;
        pairs.emplace_back(static_cast<int>(found - bones.begin()), vertexWeights[i]);
    }
    weights[static_cast<std::size_t>(vertexID)] = std::move(pairs);
    return TRUE;
}

INode* SkinModifier::GetBone(int idx)
{
    if (idx < 0 || static_cast<std::size_t>(idx) >= bones.size()) return nullptr;
    return bones[static_cast<std::size_t>(idx)].node;
}
