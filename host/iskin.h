// The Skin modifier's interfaces.
#pragma once

#include "host/objects.h"

class INode;

// Reached through GetInterface(I_SKINIMPORTDATA).
class ISkinImportData {
public:
    virtual ~ISkinImportData() = default;
    // Appends a bone with a default envelope; a node already in the list is refused.
    virtual BOOL AddBoneEx(INode* boneNode, BOOL update) = 0;
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
    struct Bone {
        INode* node = nullptr;
        Envelope envelope;
    };

    SClass_ID SuperClassID() override { return OSM_CLASS_ID; }
    Class_ID ClassID() override { return SKIN_CLASSID; }
    void* GetInterface(ULONG id) override;
    void NotifyEvaluated(INode* node, int vertexCount) override;

    BOOL AddBoneEx(INode* boneNode, BOOL update) override;
    BOOL AddWeights(INode* skinNode, int vertexID, Tab<INode*>& boneNodeList, Tab<float>& weights) override;
    int GetNumBones() override { return static_cast<int>(bones.size()); }
    INode* GetBone(int idx) override;

    // Stand-in state, read by the scripts and the scene dump.
    std::vector<Bone>& Bones() { return bones; }
    const std::vector<Bone>& Bones() const { return bones; }
    // Per vertex: (bone list index, weight) pairs, in the order given.
    const std::vector<std::vector<std::pair<int, float>>>& Weights() const { return weights; }
    INode* Node() const { return node; }
    void SetNode(INode* n) { node = n; }
    bool Evaluated() const { return evaluated; }
    int SceneIndex() const { return index; }
    void SetSceneIndex(int i) { index = i; }

private:
    std::vector<Bone> bones;
    std::vector<std::vector<std::pair<int, float>>> weights;
    INode* node = nullptr;
    bool evaluated = false;
    int index = -1;
};
