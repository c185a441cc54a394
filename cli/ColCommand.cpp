#include "cli/ColCommand.h"

#include <iostream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/ExitStatus.h"
#include "dff/Chunk.h"
#include "format/ChunkView.h"
#include "gltf/GltfExport.h"
#include "host/max.h"
#include "host/scene.h"
#include "scene/CollisionNodes.h"
#include "support/FileIo.h"
#include "support/Output.h"
#include "support/Text.h"

namespace orvik {
namespace {

using Json = nlohmann::ordered_json;

// The chunks directly inside the view: the callback gets each header and
// its body's view; a header or body past the view's end ends the walk.
template <class Visit>
void eachChunk(const ChunkView& view, Visit&& visit)
{
    std::uint64_t at = 0;
    while (view.holds(at, kChunkHeaderSize)) {
        const ChunkHeader h = view.part(at, kChunkHeaderSize, "a chunk header").header(0);
        const std::uint64_t body = at + kChunkHeaderSize;
        if (!view.holds(body, h.size)) return;
        visit(h, view.part(body, h.size, "a chunk"));
        at = body + h.size;
    }
}

double number(float f)
{
    return static_cast<double>(f);
}

Json point(const col::Vec3& v)
{
    return Json::array({number(v.x), number(v.y), number(v.z)});
}

std::string pointText(const col::Vec3& v)
{
    std::ostringstream s;
    s << "(" << v.x << ", " << v.y << ", " << v.z << ")";
    return s.str();
}

bool readWhole(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error)
{
    RegularFile file;
    std::string problem;
    if (!file.open(path, Links::follow, problem) || !file.readAll(bytes, problem)) {
        error = path + ": " + problem;
        return false;
    }
    return true;
}

// The entries of the file, with the damage line printed; false (and the
// line) when the file cannot be read.
bool entriesOf(const std::string& file, std::vector<col::Model>& models, std::string& problem, std::ostream& err)
{
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readWhole(file, bytes, error)) {
        err << "orvik: " << printablePath(error) << "\n";
        return false;
    }
    models = collisionEntries(bytes, problem);
    return true;
}

}  // namespace

ColCommand addColCommand(CLI::App& app, ColOptions& opt)
{
    ColCommand c;
    c.col = app.add_subcommand("col", "List or export the collision of a .col file or a model");
    c.col->require_subcommand(1);
    c.list = c.col->add_subcommand("list", "List the collision entries");
    c.list->add_option("FILE", opt.file, "A collision file (.col) or a model (.dff)")->required();
    c.list->add_flag("--json", opt.json, "Print the entries as JSON");
    c.exportGltf = c.col->add_subcommand("export", "Write the collision entries as glTF");
    c.exportGltf->add_option("FILE", opt.file, "A collision file (.col) or a model (.dff)")->required();
    c.exportGltf->add_option("--gltf", opt.gltf, "FILE.glb, or FILE.gltf with FILE.bin")->type_name("FILE")->required();
    return c;
}

int runColCommand(const ColCommand& c, const ColOptions& opt)
{
    if (c.list->parsed()) return listCollision(opt.file, opt.json, std::cout, std::cerr);
    return exportCollision(opt.file, opt.gltf, std::cout, std::cerr);
}

std::vector<col::Model> collisionEntries(std::span<const std::uint8_t> data, std::string& problem)
{
    problem.clear();
    if (col::looksLikeCollision(data)) {
        col::ReadResult read = col::readCollision(data);
        problem = read.error;
        return std::move(read.models);
    }
    std::vector<col::Model> models;
    if (data.size() < kChunkHeaderSize || !viewable(data.size()) || !isTopLevelChunk(loadHeader(data.data()))) {
        problem = "neither a collision file nor a model file";
        return models;
    }
    // Clumps at the top level; their own extension chunks; collision chunks in them.
    ReadFailure failure;
    const ChunkView file(data.data(), data.size(), 0, data.size(), failure, "the model");
    eachChunk(file, [&](const ChunkHeader& clump, const ChunkView& clumpBody) {
        if (clump.type != ChunkType::Clump || !problem.empty()) return;
        eachChunk(clumpBody, [&](const ChunkHeader& e, const ChunkView& extension) {
            if (e.type != ChunkType::Extension || !problem.empty()) return;
            eachChunk(extension, [&](const ChunkHeader& sub, const ChunkView& body) {
                if (sub.type != ChunkType::Collision || !problem.empty()) return;
                col::ReadResult read = col::readCollision(body.span(0, body.size()));
                for (col::Model& m : read.models) {
                    m.offset += body.begin();
                    models.push_back(std::move(m));
                }
                if (!read.error.empty())
                    problem = joinText("the collision at ", hexOffset(body.begin()), ": ", read.error);
            });
        });
    });
    return models;
}

int listCollision(const std::string& file, bool json, std::ostream& out, std::ostream& err)
{
    std::vector<col::Model> models;
    std::string problem;
    if (!entriesOf(file, models, problem, err)) return kExitUsage;
    if (json) {
        Json list = Json::array();
        for (const col::Model& m : models) {
            list.push_back({{"name", latin1ToUtf8(m.name)},
                            {"version", m.version},
                            {"modelId", m.modelId},
                            {"bounds",
                             {{"min", point(m.bounds.min)},
                              {"max", point(m.bounds.max)},
                              {"center", point(m.bounds.center)},
                              {"radius", number(m.bounds.radius)}}},
                            {"spheres", m.spheres.size()},
                            {"boxes", m.boxes.size()},
                            {"vertices", m.vertices.size()},
                            {"faces", m.faces.size()},
                            {"faceGroups", m.faceGroups.size()},
                            {"shadowVertices", m.shadowVertices.size()},
                            {"shadowFaces", m.shadowFaces.size()}});
        }
        out << Json{{"models", list}}.dump(2) << "\n";
    } else {
        out << printablePath(file) << ": " << models.size()
            << (models.size() == 1 ? " collision entry" : " collision entries") << "\n";
        for (const col::Model& m : models) {
            out << "  \"" << printable(m.name) << "\": " << col::versionTag(m.version) << ", model id " << m.modelId
                << ", bounds " << pointText(m.bounds.min) << " to " << pointText(m.bounds.max) << ", centre "
                << pointText(m.bounds.center) << ", radius " << m.bounds.radius << "\n    " << m.spheres.size()
                << " spheres, " << m.boxes.size() << " boxes, " << m.vertices.size() << " vertices, " << m.faces.size()
                << " faces, " << m.faceGroups.size() << " face groups, " << m.shadowVertices.size()
                << " shadow vertices, " << m.shadowFaces.size() << " shadow faces\n";
        }
    }
    out.flush();
    if (!problem.empty()) {
        err << "orvik: " << printablePath(file) << ": " << printable(problem) << "\n";
        return kExitSomeFailed;
    }
    return kExitOk;
}

INode* addCollisionNodes(const col::Model& model, INode* parent, const std::string& holderName)
{
    // What the user's own file holds is built whole.
    std::uint64_t shapesLeft = model.spheres.size() + model.boxes.size();
    std::uint64_t leftOut = 0;
    return collision_nodes::build(*GetCOREInterface(), parent, model, holderName, shapesLeft, leftOut);
}

bool sceneHasCollision(const Scene& scene)
{
    for (const INode* node : scene.nodes)
        if (std::string(node->GetName()) == "collision") return true;
    return false;
}

namespace {

class NoImages : public ImageSource {
public:
    TextureImage imageFor(const BitmapTex&) override { return TextureImage{{}, {}, {}, "no images", false}; }
};

}  // namespace

int exportCollision(const std::string& file, const std::string& gltf, std::ostream& out, std::ostream& err)
{
    const std::string bad = checkGltfPath(gltf);
    if (!bad.empty()) {
        err << "orvik: " << printablePath(gltf) << ": " << bad << "\n";
        return kExitUsage;
    }
    std::vector<col::Model> models;
    std::string problem;
    if (!entriesOf(file, models, problem, err)) return kExitUsage;
    if (!problem.empty()) err << "orvik: " << printablePath(file) << ": " << printable(problem) << "\n";
    if (models.empty()) {
        err << "orvik: " << printablePath(file) << ": no collision entry to export\n";
        return problem.empty() ? kExitNothingRead : kExitSomeFailed;
    }
    std::vector<std::string> targets = {gltf};
    if (!gltfBinPath(gltf).empty()) targets.push_back(gltfBinPath(gltf));
    const std::string targetProblem = checkOutputTargets(targets, {{file, "the collision file"}});
    if (!targetProblem.empty()) {
        err << "orvik: " << printablePath(targetProblem) << "\n";
        return kExitUsage;
    }
    Scene& scene = resetScene();
    scene.import.file = file;
    for (const col::Model& m : models) addCollisionNodes(m, nullptr, m.name);
    NoImages images;
    GltfExportReport report;
    std::vector<OutputFile> files;
    std::string error;
    GltfOptions options;
    options.path = gltf;
    if (!exportGltf(scene, images, options, report, files, error) || !commitOutputs(files, error)) {
        err << "orvik: " << printablePath(error) << "\n";
        resetScene();
        return kExitUsage;
    }
    writeGltfSummary(report, out);
    out.flush();
    resetScene();
    return problem.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace orvik
