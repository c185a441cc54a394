#include "cli/Summary.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "gltf/GltfExport.h"
#include "support/Text.h"
#include "host/iskin.h"
#include "host/scene.h"

namespace orvik {
namespace {

struct Totals {
    std::size_t meshes = 0, lights = 0, dummies = 0, empty = 0, other = 0;
    std::size_t vertices = 0, faces = 0, skinned = 0;
};

class SummaryWriter {
public:
    SummaryWriter(const Scene& s, std::ostream& o) : scene(s), out(o) {}

    void write(const std::string& file)
    {
        out << printablePath(file) << ": " << plural(scene.nodes.size(), "node", "nodes") << "\n";
        if (!scene.nodes.empty()) {
            out << "nodes:\n";
        }
        for (INode* node : scene.nodes) {
            if (node != nullptr && node->GetParentNode() == nullptr) {
                writeNode(node, 1);
            }
        }
        // A node that no walk from the top reached would be a host fault; show it anyway.
        for (INode* node : scene.nodes) {
            if (node != nullptr && visited.count(node) == 0) {
                writeNode(node, 1);
            }
        }
        writeTextures();
        writeTotals();
        writeInfo();
    }

private:
    void writeNode(INode* node, int depth)
    {
        if (!visited.insert(node).second) {
            return;
        }
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << '"' << printable(node->GetName())
            << "\": " << describeObject(node);
        if (Mtl* mtl = node->GetMtl()) {
            out << ", " << describeMaterial(mtl);
        }
        out << "\n";
        for (Modifier* mod : node->Modifiers()) {
            if (auto* skin = dynamic_cast<SkinModifier*>(mod)) {
                writeSkin(node, *skin, depth + 1);
            }
        }
        for (INode* child : node->Children()) {
            if (child != nullptr) {
                writeNode(child, depth + 1);
            }
        }
    }

    std::string describeObject(INode* node)
    {
        Object* obj = node->GetObjectRef();
        if (obj == nullptr) {
            ++totals.empty;
            return "none";
        }
        if (auto* tri = dynamic_cast<TriObject*>(obj)) {
            ++totals.meshes;
            const Mesh& mesh = tri->mesh;
            totals.vertices += static_cast<std::size_t>(std::max(mesh.getNumVerts(), 0));
            totals.faces += static_cast<std::size_t>(std::max(mesh.getNumFaces(), 0));
            std::string s = "mesh, " +
                            plural(static_cast<std::size_t>(std::max(mesh.getNumVerts(), 0)), "vertex", "vertices") +
                            ", " + plural(static_cast<std::size_t>(std::max(mesh.getNumFaces(), 0)), "face", "faces");
            std::vector<int> channels;
            for (int ch = -2; ch < mesh.getNumMaps(); ++ch) {
                if (mesh.mapSupport(ch)) {
                    channels.push_back(ch);
                }
            }
            s += ", " + plural(channels.size(), "map channel", "map channels");
            if (!channels.empty()) {
                s += " (";
                for (std::size_t i = 0; i < channels.size(); ++i) {
                    if (i > 0) s += ' ';
                    s += std::to_string(channels[i]);
                }
                s += ")";
            }
            return s;
        }
        if (dynamic_cast<LightObject*>(obj) != nullptr) {
            ++totals.lights;
            return "light";
        }
        if (dynamic_cast<HelperObject*>(obj) != nullptr) {
            ++totals.dummies;
            return "dummy";
        }
        ++totals.other;
        return "other object";
    }

    std::string describeMaterial(Mtl* mtl)
    {
        const int index = scene.indexOfMaterial(mtl);
        std::string s = "material " + (index >= 0 ? std::to_string(index) : std::string("?"));
        if (!mtl->GetName().empty()) {
            s += " \"" + printable(mtl->GetName()) + "\"";
        }
        if (dynamic_cast<MultiMtl*>(mtl) != nullptr) {
            s += " (multi/sub-object, " +
                 plural(static_cast<std::size_t>(std::max(mtl->NumSubMtls(), 0)), "sub-material", "sub-materials") +
                 ")";
        } else if (dynamic_cast<GameMtl*>(mtl) != nullptr) {
            s += " (game material)";
        }
        return s;
    }

    void writeSkin(INode* node, const SkinModifier& skin, int depth)
    {
        ++totals.skinned;
        std::size_t weighted = 0;
        for (const auto& pairs : skin.Weights()) {
            weighted += pairs.empty() ? 0 : 1;
        }
        std::size_t vertexCount = skin.Weights().size();
        if (auto* tri = dynamic_cast<TriObject*>(node->GetObjectRef())) {
            vertexCount = static_cast<std::size_t>(std::max(tri->mesh.getNumVerts(), 0));
        }
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ')
            << "skin: " << plural(skin.Bones().size(), "bone", "bones") << ", " << weighted << " of "
            << plural(vertexCount, "vertex", "vertices") << " weighted\n";
    }

    void writeTextures()
    {
        // One line per distinct file, with the number of textures naming it.
        std::vector<std::pair<std::string, std::size_t>> found;
        std::vector<std::pair<std::string, std::size_t>> missing;
        auto count = [](std::vector<std::pair<std::string, std::size_t>>& list, const std::string& name) {
            for (auto& entry : list) {
                if (entry.first == name) {
                    ++entry.second;
                    return;
                }
            }
            list.emplace_back(name, 1);
        };
        for (BitmapTex* tex : scene.textures) {
            if (tex == nullptr) {
                continue;
            }
            const MCHAR* mapName = tex->GetMapName();
            if (mapName != nullptr && tex->MapFileFound()) {
                ++texturesFound;
                count(found, mapName);
            } else {
                ++texturesMissing;
                count(missing, mapName != nullptr ? std::string(mapName) : tex->GetName());
            }
        }
        auto list = [this](const char* title, const std::vector<std::pair<std::string, std::size_t>>& entries) {
            if (entries.empty()) {
                return;
            }
            out << title << "\n";
            for (const auto& [name, uses] : entries) {
                out << "  " << printable(name);
                if (uses > 1) {
                    out << " (" << uses << " textures)";
                }
                out << "\n";
            }
        };
        list("textures found:", found);
        list("textures missing:", missing);
    }

    void writeTotals()
    {
        std::size_t multi = 0, game = 0;
        for (Mtl* mtl : scene.materials) {
            multi += dynamic_cast<MultiMtl*>(mtl) != nullptr ? 1 : 0;
            game += dynamic_cast<GameMtl*>(mtl) != nullptr ? 1 : 0;
        }
        out << "totals: " << plural(scene.nodes.size(), "node", "nodes") << " (" << totals.meshes << " mesh, "
            << totals.lights << " light, " << totals.dummies << " dummy, " << totals.empty << " none";
        if (totals.other != 0) {
            out << ", " << totals.other << " other";
        }
        out << "), " << plural(totals.vertices, "vertex", "vertices") << ", " << plural(totals.faces, "face", "faces")
            << ", " << plural(scene.materials.size(), "material", "materials") << " (" << multi << " multi/sub-object, "
            << game << " game), " << plural(scene.textures.size(), "texture", "textures") << " (" << texturesFound
            << " found, " << texturesMissing << " missing), "
            << plural(totals.skinned, "skinned mesh", "skinned meshes") << "\n";
    }

    // The plug-in's information entries (what it mended in the file), one line each.
    void writeInfo()
    {
        for (const LogRecord& entry : scene.log) {
            if (entry.type == SYSLOG_INFO) {
                out << "info: " << printable(entry.text) << "\n";
            }
        }
    }

    const Scene& scene;
    std::ostream& out;
    std::set<const INode*> visited;
    Totals totals;
    std::size_t texturesFound = 0;
    std::size_t texturesMissing = 0;
};

}  // namespace

void writeSceneSummary(const Scene& scene, const std::string& file, std::ostream& out)
{
    SummaryWriter(scene, out).write(file);
}

std::array<std::size_t, 6> gameViewCounts(const GltfExportReport& report)
{
    return {report.wheelsPlaced, report.wheelsSupplied, report.materialsPainted,
            report.lampsUnlit,   report.nodesSkipped,   report.nodesNotRendered};
}

void writeGameViewLine(const std::array<std::size_t, 6>& counts, const std::string& wheelsFile, std::ostream& out)
{
    out << "game view: " << plural(counts[0], "wheel", "wheels") << " placed";
    if (counts[1] > 0) {
        // All of them, or how many, generated or taken from the --wheels model.
        const std::string how = wheelsFile.empty() ? "generated" : "taken from " + printablePath(wheelsFile);
        out << " (" << (counts[1] == counts[0] ? how : std::to_string(counts[1]) + " " + how) << ")";
    }
    out << ", " << plural(counts[2], "material", "materials") << " painted, " << plural(counts[3], "lamp", "lamps")
        << " unlit, " << plural(counts[4], "node", "nodes") << " left out (_dam, _vlo)";
    if (counts[5] > 0) out << ", " << plural(counts[5], "collision node", "collision nodes") << " left out";
    out << "\n";
}

}  // namespace orvik
