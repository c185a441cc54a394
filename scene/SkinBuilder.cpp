// The skinned build: a skeleton of bone dummies with its root turned upright,
// one mesh node per atomic at its frame's world transform, and on each mesh a
// Skin modifier with the file's bones, flattened envelopes and weights.
#include <algorithm>
#include <cassert>
#include <sstream>
#include <vector>

#include "importer/Orvik.h"
#include "scene/FrameNodes.h"

namespace {

constexpr float kQuarterTurn = 1.5707964f;
// Bone display: show the bone only.
constexpr int kBoneOnly = 2;
constexpr std::uint32_t kWeightsPerVertex = 4;

void runScript(const std::ostringstream& statement)
{
    // Errors are shown by the host's scripting; the build goes on regardless.
    ExecuteMAXScriptScript(statement.str().c_str(), FALSE, nullptr);
}

// Flattens bone b's envelope (b counts from 1 in the modifier's bone list):
// start and end at the origin, both cross sections of radius 0.
void flattenEnvelope(int b)
{
    for (int c = 1; c <= 2; ++c) {
        std::ostringstream start, end, inner, outer;
        start << "skinops.SetStartPoint leSkin " << b << " [0,0,0]";
        runScript(start);
        end << "skinops.SetEndPoint leSkin " << b << " [0,0,0]";
        runScript(end);
        inner << "skinops.SetInnerRadius leSkin " << b << " " << c << " 0";
        runScript(inner);
        outer << "skinops.SetOuterRadius leSkin " << b << " " << c << " 0";
        runScript(outer);
    }
}

}  // namespace

void Orvik::buildSkinnedScene()
{
    Interface& ip = *coreInterface;
    const std::uint32_t count = frameCount();

    for (std::uint32_t i = 0; i < count; ++i) {
        Matrix3 tm = frame_nodes::frameMatrix(frameRecord(i));
        INode* node = frame_nodes::createDummyNode(ip);
        frameNodeTable[i].node = node;
        node->SetNodeTM(0, tm);
        frame_nodes::adjustDummyObject(*node, tm);
        node->SetName(frameNames[i].c_str());
        node->ShowBone(kBoneOnly);
        std::string().swap(frameNames[i]);
    }
    std::vector<std::string>().swap(frameNames);

    // The skeleton stands upright in the host: its root turns a quarter turn
    // about X before anything is linked, and the turn carries down the chain.
    if (count > 0) {
        INode* root = frameNodeTable[0].node;
        Matrix3 tm = root->GetNodeTM(0);
        tm.RotateX(kQuarterTurn);
        root->SetNodeTM(0, tm);
    }
    frame_nodes::linkFrames(*this);

    for (std::uint32_t j = 0; j < atomicCount(); ++j) {
        const std::uint8_t* atomic = atomicTable[j];
        if (atomic == nullptr) continue;  // left out by the reader
        // The atomic reader kept only atomics whose indices the clump has.
        const std::uint32_t f = loadU32(atomic + AtomicLayout::StructFrameIndex);
        const std::uint32_t g = loadU32(atomic + AtomicLayout::StructGeometryIndex);
        assert(f < count && g < geometryCount());
        if (geometryTable[g].object == nullptr) continue;
        const GeometryRecord& geometry = geometryTable[g];
        INode* meshNode = ip.CreateObjectNode(geometry.object);
        Matrix3 tm = frameNodeTable[f].node->GetNodeTM(0);
        meshNode->SetNodeTM(0, tm);
        meshNode->SetMtl(geometry.material);
        setUpSkin(meshNode, g);
    }

    // Skin records are keyed by the clump's own geometry indices: the next
    // clump must not meet them.
    releaseClumpTables();
    skinTable.clear();
}

void Orvik::setUpSkin(INode* meshNode, std::uint32_t geometryIndex)
{
    // A geometry without skin data gets no Skin modifier.
    const auto found = skinTable.find(geometryIndex);
    if (found == skinTable.end() || meshNode == nullptr) return;
    const SkinRecord& skin = found->second;
    assert(geometryIndex < geometryCount());
    if (geometryTable[geometryIndex].object == nullptr) return;
    Mesh& mesh = geometryTable[geometryIndex].object->GetMesh();

    auto* modifier = static_cast<Modifier*>(coreInterface->CreateInstance(OSM_CLASS_ID, SKIN_CLASSID));
    if (modifier == nullptr) return;
    auto* importData = static_cast<ISkinImportData*>(modifier->GetInterface(I_SKINIMPORTDATA));
    auto* skinInterface = static_cast<ISkin*>(modifier->GetInterface(I_SKIN));
    if (importData == nullptr || skinInterface == nullptr) return;

    GetCOREInterface12()->AddModifier(*meshNode, *modifier, 0);
    meshNode->EvalWorldState(0, TRUE);

    Tab<INode*> boneList;
    Tab<float> weightList;
    boneList.SetCount(static_cast<int>(kWeightsPerVertex), TRUE);
    weightList.SetCount(static_cast<int>(kWeightsPerVertex), TRUE);

    // The script binds leSkin to the Modify panel's current object, which is
    // this mesh's Skin only while this mesh is the whole selection.
    theHold.Begin();
    coreInterface->SelectNode(meshNode, 1);
    theHold.Accept("Selection");
    coreInterface->SetCommandPanelTaskMode(TASK_MODE_MODIFY);
    ExecuteMAXScriptScript("leSkin= modPanel.GetCurrentObject()", FALSE, nullptr);

    // HAnim entry k is the skin's bone k, the index space of the per-vertex
    // bone indices. An entry that is missing, names an ID without a frame, or
    // a frame already in the list is skipped; listIndexOfEntry maps each entry
    // to its place in the modifier's bone list (-1: skipped), and the
    // statements number bones by that place.
    const std::uint32_t count = frameCount();
    const std::uint32_t entryCount = count > 0 ? count - 1 : 0;
    std::vector<int> listIndexOfEntry(entryCount, -1);
    std::vector<INode*> added;
    const int usedBoneCount = skin.header[1];
    for (std::uint32_t k = 0; k < entryCount; ++k) {
        // The import's bone allowance ends the list as the HAnim array's end does.
        if (hAnimNodes == nullptr || k >= hAnimNodeCount || skinBonesLeft == 0) break;
        const HAnimNode node = hAnimNode(k);
        const std::int32_t boneId = node.boneId;
        const std::int32_t boneIndex = node.boneIndex;
        const std::int32_t boneType = node.boneType;
        const auto frame = hAnimIdToFrame.find(boneId);
        if (frame == hAnimIdToFrame.end()) continue;
        assert(frame->second < count);
        INode* bone = frameNodeTable[frame->second].node;
        if (bone == nullptr || std::find(added.begin(), added.end(), bone) != added.end()) continue;

        bone->SetUserPropInt("BoneId", boneId);
        bone->SetUserPropInt("BoneType", boneType);
        bone->SetUserPropInt("BoneIndex", boneIndex);
        bone->SetUserPropString("FrameName", bone->GetName());
        bone->SetUserPropInt("SPunknown", usedBoneCount);
        if (!importData->AddBoneEx(bone, 0)) continue;
        --skinBonesLeft;
        added.push_back(bone);
        listIndexOfEntry[k] = static_cast<int>(added.size()) - 1;
        flattenEnvelope(static_cast<int>(added.size()));
    }

    meshNode->EvalWorldState(coreInterface->GetTime(), TRUE);

    // Weights by position: mesh vertex v takes the file's four pairs at v,
    // zero weights included, as given. A pair whose bone was not added is
    // left out; vertices beyond either count are not touched.
    // When the mesh lost vertices no face used, sourceVertices names the file
    // vertex of each mesh vertex.
    const std::vector<std::uint32_t>& sourceVertices = geometryTable[geometryIndex].sourceVertices;
    const std::uint32_t meshVertexCount = static_cast<std::uint32_t>(std::max(mesh.getNumVerts(), 0));
    for (std::uint32_t v = 0; v < meshVertexCount; ++v) {
        const std::uint32_t fileVertex = sourceVertices.empty() ? v : (v < sourceVertices.size() ? sourceVertices[v] : skin.vertexCount);
        if (fileVertex >= skin.vertexCount) continue;
        // Past the import's allowance of weighted vertices no more weights are given.
        if (skinVerticesLeft == 0) break;
        --skinVerticesLeft;
        boneList.SetCount(static_cast<int>(kWeightsPerVertex), TRUE);
        weightList.SetCount(static_cast<int>(kWeightsPerVertex), TRUE);
        int pairs = 0;
        for (std::uint32_t m = 0; m < kWeightsPerVertex; ++m) {
            const std::uint32_t entry = skin.vertexBoneIndices[4 * std::size_t{fileVertex} + m];
            const int listIndex = entry < entryCount ? listIndexOfEntry[entry] : -1;
            INode* bone = listIndex >= 0 ? skinInterface->GetBone(listIndex) : nullptr;
            if (bone == nullptr) continue;
            boneList[pairs] = bone;
            weightList[pairs] = loadF32(skin.vertexWeights + 16 * std::size_t{fileVertex} + 4 * m);
            ++pairs;
        }
        boneList.SetCount(pairs, TRUE);
        weightList.SetCount(pairs, TRUE);
        importData->AddWeights(meshNode, static_cast<int>(v), boneList, weightList);
    }

    boneList.ZeroCount();
    weightList.ZeroCount();
}
