// The skinned build: a skeleton of bone dummies with its root turned upright,
// one mesh node per atomic at its frame's world transform, and on each mesh a
// Skin modifier with the file's bones, flattened envelopes and weights.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <string>
#include <vector>

#include "importer/Orvik.h"
#include "scene/FrameNodes.h"

namespace {

constexpr float kQuarterTurn = 1.5707964f;
// Bone display: show the bone only.
constexpr int kBoneOnly = 2;
constexpr std::uint32_t kWeightsPerVertex = 4;

void runScript(const std::string& statement)
{
    // Errors are shown by the host's scripting; the build goes on regardless.
    ExecuteMAXScriptScript(statement.c_str(), FALSE, nullptr);
}

// Flattens bone b's envelope (b counts from 1 in the modifier's bone list):
// start and end at the origin, both cross sections of radius 0. The
// statements are written into one reused text.
void flattenEnvelope(int b)
{
    const std::string bone = std::to_string(b);
    std::string statement;
    const auto run = [&](const char* command, const char* tail) {
        runScript(statement.assign("skinops.").append(command).append(" leSkin ").append(bone).append(tail));
    };
    for (const char* section : {" 1 0", " 2 0"}) {
        run("SetStartPoint", " [0,0,0]");
        run("SetEndPoint", " [0,0,0]");
        run("SetInnerRadius", section);
        run("SetOuterRadius", section);
    }
}

// Inverse bone matrix k of a skin: the 4x4's rows right, up, at, position,
// the fourth column left out. False when the record holds no matrix k or it
// cannot be inverted (determinant 0 or not finite).
bool invertibleBindMatrix(const SkinRecord& skin, std::uint32_t k, Matrix3& out)
{
    if (k >= skin.inverseBoneMatrices.size()) return false;
    const InverseBoneMatrix m = skin.inverseBoneMatrices[k];
    Point3 rows[4];
    for (std::size_t r = 0; r < 4; ++r) {
        const float x = m.rows[r][0], y = m.rows[r][1], z = m.rows[r][2];
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
        rows[r] = Point3(x, y, z);
    }
    const double det = double(rows[0].x) * (double(rows[1].y) * rows[2].z - double(rows[1].z) * rows[2].y) -
                       double(rows[0].y) * (double(rows[1].x) * rows[2].z - double(rows[1].z) * rows[2].x) +
                       double(rows[0].z) * (double(rows[1].x) * rows[2].y - double(rows[1].y) * rows[2].x);
    if (det == 0.0 || !std::isfinite(det)) return false;
    out = Matrix3(rows[0], rows[1], rows[2], rows[3]);
    return true;
}

// Whether two transforms differ by more than rounding: rows compared
// component-wise, the translation relative to its size.
bool differs(const Matrix3& a, const Matrix3& b)
{
    constexpr float kTolerance = 1e-3f;
    for (int r = 0; r < 4; ++r) {
        const Point3 p = a.GetRow(r), q = b.GetRow(r);
        const float scale = r == 3 ? std::max({1.0f, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)}) : 1.0f;
        if (std::fabs(p.x - q.x) > kTolerance * scale || std::fabs(p.y - q.y) > kTolerance * scale ||
            std::fabs(p.z - q.z) > kTolerance * scale)
            return true;
    }
    return false;
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
        if (atomicTable[j].empty()) continue;  // left out by the reader
        // The atomic reader kept only atomics whose indices the clump has.
        const AtomicStruct atomic = atomicTable[j][0];
        const std::uint32_t f = atomic.frameIndex;
        const std::uint32_t g = atomic.geometryIndex;
        assert(f < count && g < geometryCount());
        if (geometryTable[g].object == nullptr) continue;
        const GeometryRecord& geometry = geometryTable[g];
        INode* meshNode = ip.CreateObjectNode(geometry.object);
        Matrix3 tm = frameNodeTable[f].node->GetNodeTM(0);
        meshNode->SetNodeTM(0, tm);
        meshNode->SetMtl(geometry.material);
        if (skinTable.count(g) != 0) {
            // A skinned mesh stays unlinked: its bones move it.
            setUpSkin(meshNode, g);
        } else if (INode* frameNode = frameNodeTable[f].node) {
            // A rigid part (a head, a hand) rides on its frame's bone.
            frameNode->AttachChild(meshNode, 1);
            ++mends.rigidParts;
        }
    }

    buildModelExtras();
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
    // The mesh is bound where it stands; its bones are bound relative to it.
    const Matrix3 meshTm = meshNode->GetNodeTM(0);
    importData->SetSkinTm(meshNode, meshNode->GetObjectTM(0), meshTm);

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
    const int usedBoneCount = static_cast<int>(skin.usedBoneCount);
    for (std::uint32_t k = 0; k < entryCount; ++k) {
        // The import's bone allowance ends the list as the HAnim array's end does.
        if (k >= hAnimNodes.size() || skinBonesLeft == 0) break;
        const HAnimNode node = hAnimNodes[k];
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
        bindBone(*importData, *bone, skin, k, meshTm);
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
    // vertex of each mesh vertex. Either way the file vertex is one of the
    // geometry's, and the skin reader took a record for each of those.
    const std::vector<std::uint32_t>& sourceVertices = geometryTable[geometryIndex].sourceVertices;
    std::uint32_t meshVertexCount = static_cast<std::uint32_t>(std::max(mesh.getNumVerts(), 0));
    if (!sourceVertices.empty())
        meshVertexCount = std::min(meshVertexCount, static_cast<std::uint32_t>(sourceVertices.size()));
    for (std::uint32_t v = 0; v < meshVertexCount; ++v) {
        const std::uint32_t fileVertex = sourceVertices.empty() ? v : sourceVertices[v];
        assert(fileVertex < skin.weights.size());
        // Past the import's allowance of weighted vertices no more weights are given.
        if (skinVerticesLeft == 0) break;
        --skinVerticesLeft;
        boneList.SetCount(static_cast<int>(kWeightsPerVertex), TRUE);
        weightList.SetCount(static_cast<int>(kWeightsPerVertex), TRUE);
        const BoneIndices entries = skin.boneIndices[fileVertex];
        const BoneWeights weights = skin.weights[fileVertex];
        int pairs = 0;
        for (std::uint32_t m = 0; m < kWeightsPerVertex; ++m) {
            // A bone index is checked here, where it enters: one the HAnim
            // entries do not have gives no pair.
            const std::uint32_t entry = entries.index[m];
            const int listIndex = entry < entryCount ? listIndexOfEntry[entry] : -1;
            INode* bone = listIndex >= 0 ? skinInterface->GetBone(listIndex) : nullptr;
            if (bone == nullptr) continue;
            float weight = weights.weight[m];
            // A weight that is not a number would make the vertex vanish in
            // the host; the pair stays, as zero weights do.
            if (!std::isfinite(weight)) {
                weight = 0.0f;
                ++mends.nonFiniteWeights;
            }
            boneList[pairs] = bone;
            weightList[pairs] = weight;
            ++pairs;
        }
        boneList.SetCount(pairs, TRUE);
        weightList.SetCount(pairs, TRUE);
        importData->AddWeights(meshNode, static_cast<int>(v), boneList, weightList);
    }

    boneList.ZeroCount();
    weightList.ZeroCount();
}

void Orvik::bindBone(ISkinImportData& importData, INode& bone, const SkinRecord& skin, std::uint32_t k,
                     const Matrix3& meshTm)
{
    // The skin stores where bone k stood relative to the mesh when the mesh
    // was bound: the inverse of that is the bone's bind transform in mesh
    // space. A matrix that cannot be inverted leaves the bone bound where its
    // frame puts it (AddBoneEx's default).
    Matrix3 inverseBind;
    if (!invertibleBindMatrix(skin, k, inverseBind)) {
        if (k < skin.inverseBoneMatrices.size()) ++mends.singularBindMatrices;
        return;
    }
    const Matrix3 nodeTm = bone.GetNodeTM(0);
    const Matrix3 bindTm = Inverse(inverseBind) * meshTm;
    // The bone's object offset rides along with it.
    const Matrix3 objectTm = bone.GetObjectTM(0) * Inverse(nodeTm) * bindTm;
    if (importData.SetBoneTm(&bone, objectTm, bindTm) && differs(bindTm, nodeTm)) ++mends.posedBones;
}
