// The Skin modifier's interfaces.
#pragma once

#include "host/objects.h"

class INode;

// Results of ISkin's bind-pose queries.
#define SKIN_INVALID_NODE_PTR 0
#define SKIN_OK 1

// Reached through GetInterface(I_SKINIMPORTDATA).
class ISkinImportData {
public:
    virtual ~ISkinImportData() = default;
    // Appends a bone with a default envelope; a node already in the list is refused.
    virtual BOOL AddBoneEx(INode* boneNode, BOOL update) = 0;
    // The transforms at which the mesh is bound. Refused for a null node or a
    // node other than the one the Skin is on.
    virtual BOOL SetSkinTm(INode* skinNode, Matrix3 objectTm, Matrix3 nodeTm) = 0;
    // The transforms at which a bone of the list is bound; a bone not in the
    // list is refused.
    virtual BOOL SetBoneTm(INode* boneNode, Matrix3 objectTm, Matrix3 nodeTm) = 0;
    // Replaces the vertex's bone-weight pairs. Fails, changing nothing, before
    // the node was evaluated, for a vertex not below the mesh's vertex count,
    // or for a bone not in the list.
    virtual BOOL AddWeights(INode* skinNode, int vertexID, Tab<INode*>& boneNodeList, Tab<float>& weights) = 0;
};

// Reached through GetInterface(I_SKIN).
class ISkin {
public:
    virtual ~ISkin() = default;
    virtual int GetNumBones() = 0;
    // Null for an index not below the bone count.
    virtual INode* GetBone(int idx) = 0;
    // The bind transforms given back: the object transform when bObjOffset
    // is true, else the node transform. SKIN_INVALID_NODE_PTR for a node that
    // is not the Skin's own (GetSkinInitTM) or not a bone of its list.
    virtual int GetSkinInitTM(INode* pNode, Matrix3& InitTM, bool bObjOffset = false) = 0;
    virtual int GetBoneInitTM(INode* pNode, Matrix3& InitTM, bool bObjOffset = false) = 0;
};

// The stand-in's Skin modifier.
class SkinModifier : public Modifier, public ISkinImportData, public ISkin {
public:
    struct CrossSection {
        float inner = 0.0f;
        float outer = 0.0f;
    };
    struct Envelope {
        Point3 start;
        Point3 end;
        CrossSection sections[2];
    };
    // A bind pose: the node transform and the object transform (the object
    // offset applied) at which a node is bound.
    struct BindTm {
        Matrix3 node;
        Matrix3 object;
    };
    struct Bone {
        INode* node = nullptr;
        Envelope envelope;
        BindTm init;  // the node's transforms when AddBoneEx added it, until SetBoneTm
    };

    SClass_ID SuperClassID() override { return OSM_CLASS_ID; }
    Class_ID ClassID() override { return SKIN_CLASSID; }
    void* GetInterface(ULONG id) override;
    void NotifyEvaluated(INode* node, int vertexCount) override;

    BOOL AddBoneEx(INode* boneNode, BOOL update) override;
    BOOL SetSkinTm(INode* skinNode, Matrix3 objectTm, Matrix3 nodeTm) override;
    BOOL SetBoneTm(INode* boneNode, Matrix3 objectTm, Matrix3 nodeTm) override;
    BOOL AddWeights(INode* skinNode, int vertexID, Tab<INode*>& boneNodeList, Tab<float>& weights) override;
    int GetNumBones() override { return static_cast<int>(bones.size()); }
    INode* GetBone(int idx) override;
    int GetSkinInitTM(INode* pNode, Matrix3& InitTM, bool bObjOffset = false) override;
    int GetBoneInitTM(INode* pNode, Matrix3& InitTM, bool bObjOffset = false) override;

    // Stand-in state, read by the scripts and the scene dump.
    std::vector<Bone>& Bones() { return bones; }
    const std::vector<Bone>& Bones() const { return bones; }
    // Per vertex: (bone list index, weight) pairs, in the order given.
    const std::vector<std::vector<std::pair<int, float>>>& Weights() const { return weights; }
    INode* Node() const { return node; }
    void SetNode(INode* n) { node = n; }
    // The mesh's bind pose: as given by SetSkinTm, else the node's transforms
    // when the Skin was first evaluated on it, else the node's current ones.
    BindTm SkinInitTm() const;
    bool Evaluated() const { return evaluated; }
    int SceneIndex() const { return index; }
    void SetSceneIndex(int i) { index = i; }

private:
    std::vector<Bone> bones;
    std::vector<std::vector<std::pair<int, float>>> weights;
    INode* node = nullptr;
    BindTm skinInit;
    bool skinInitKnown = false;  // set by SetSkinTm or the first evaluation
    bool evaluated = false;
    int index = -1;
};
