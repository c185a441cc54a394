// glTF export: the document the builder makes, then the .glb container or
// the .gltf text with its .bin, in memory, for the output writer to commit
// together; and the export's summary.
#include "gltf/GltfExport.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <ostream>
#include <set>
#include <utility>

#include "gltf/GltfDocument.h"
#include "support/Output.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace orvik {
namespace {

std::string lowerExtension(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return asciiLower(path.substr(dot + 1));
}

// A relative file path as a URI: everything but the unreserved characters
// and the separators percent-encoded.
std::string uriOf(const std::string& name)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

void putU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string gltfBinPath(const std::string& path)
{
    if (lowerExtension(path) != "gltf") return "";
    return path.substr(0, path.size() - 4) + "bin";
}

std::string checkGltfPath(const std::string& path)
{
    const std::string ext = lowerExtension(path);
    if (ext != "glb" && ext != "gltf") return "the glTF file name must end in .glb or .gltf";
    if (fileNameOf(path).size() <= ext.size() + 1) return "the glTF file name has nothing before its extension";
    return "";
}

std::string gltfBinUri(const std::string& path, const std::string& binPath)
{
    const std::string gltfKey = outputKey(path);
    const std::string binKey = outputKey(binPath);
    if (gltfKey.empty() || binKey.empty()) return uriOf(fileNameOf(binPath));
    const auto relative =
        std::filesystem::path(binKey).lexically_relative(std::filesystem::path(gltfKey).parent_path());
    return uriOf(relative.empty() ? fileNameOf(binPath) : relative.generic_string());
}

bool exportGltf(const Scene& scene, ImageSource& images, const GltfOptions& options, GltfExportReport& report,
                std::vector<OutputFile>& files, std::string& error)
{
    const std::string& path = options.path;
    report = GltfExportReport{};
    report.path = path;
    report.gameView = options.gameView;
    const bool binary = lowerExtension(path) == "glb";
    try {
        gltf::Builder builder(scene, images, options, report);
        builder.build();
        const auto data = std::make_shared<const gltf::BinBuffer>(std::move(builder.bin));
        if (!binary && !data->empty()) {
            report.binPath = options.binPath.empty() ? gltfBinPath(path) : options.binPath;
            builder.doc["buffers"][0]["uri"] = gltfBinUri(path, report.binPath);
        }
        const std::string json = builder.doc.dump(binary ? -1 : 2);
        if (!binary) {
            if (!data->empty()) files.push_back({report.binPath, {}, [data](std::ostream& out) { data->writeTo(out); }});
            files.push_back({path, json + "\n", {}});
            return true;
        }
        // The container: header, the JSON chunk padded with spaces, the
        // binary chunk padded with zeros.
        const std::size_t jsonPadded = (json.size() + 3) / 4 * 4;
        const std::size_t binPadded = (data->size() + 3) / 4 * 4;
        const std::size_t total = 12 + 8 + jsonPadded + (data->empty() ? 0 : 8 + binPadded);
        if (total > std::numeric_limits<std::uint32_t>::max()) {
            error = path + ": the scene is too large for a .glb file (4 GiB); write a .gltf instead";
            return false;
        }
        // The header and the JSON chunk are made here; the binary chunk's
        // bytes (the images of a model with large textures: tens of MB) are
        // written from the builder's buffer and the images' own bytes, not
        // copied.
        auto head = std::make_shared<std::string>();
        head->reserve(12 + 8 + jsonPadded + 8);
        *head += "glTF";
        putU32(*head, 2);
        putU32(*head, static_cast<std::uint32_t>(total));
        putU32(*head, static_cast<std::uint32_t>(jsonPadded));
        putU32(*head, 0x4E4F534Au);  // JSON
        *head += json;
        head->append(jsonPadded - json.size(), ' ');
        if (data->empty()) {
            files.push_back({path, std::move(*head), {}});
            return true;
        }
        putU32(*head, static_cast<std::uint32_t>(binPadded));
        putU32(*head, 0x004E4942u);  // BIN
        files.push_back({path, {}, [head, data, padding = binPadded - data->size()](std::ostream& out) {
                             out.write(head->data(), static_cast<std::streamsize>(head->size()));
                             data->writeTo(out);
                             out.write("\0\0\0", static_cast<std::streamsize>(padding));
                         }});
        return true;
    } catch (const std::exception& e) {
        error = path + ": the glTF export failed: " + e.what();
        return false;
    }
}

void writeGltfSummary(const GltfExportReport& report, std::ostream& out)
{
    out << printable(report.path);
    if (!report.binPath.empty()) out << " (with " << printable(report.binPath) << ")";
    out << ": glTF 2.0, " << plural(report.nodes, "node", "nodes") << ", " << plural(report.meshes, "mesh", "meshes")
        << " (" << plural(report.primitives, "primitive", "primitives") << ", "
        << plural(report.vertices, "vertex", "vertices") << ", " << plural(report.triangles, "triangle", "triangles")
        << "), " << plural(report.materials, "material", "materials") << ", "
        << plural(report.textures, "texture", "textures") << ", " << plural(report.skins, "skin", "skins") << ", "
        << plural(report.lights, "light", "lights");
    if (report.animations > 0) out << ", " << plural(report.animations, "animation", "animations");
    out << "\n";
    if (report.nodesSkipped > 0 && !report.gameView)
        out << plural(report.nodesSkipped, "node", "nodes") << " left out by --skip-parts\n";
    // Each texture's image, a line per distinct name and account.
    std::set<std::pair<std::string, std::string>> listed;
    for (const GltfExportReport::TextureLine& t : report.textureImages) {
        const std::string account = t.problem.empty() ? "embedded from " + t.origin : t.problem + ", not embedded";
        if (!listed.insert({t.name, account}).second) continue;
        if (listed.size() == 1) out << "textures:\n";
        out << "  texture " << printable(t.name) << ": " << printable(account) << "\n";
    }
    if (report.spreadVertices > 0) {
        out << plural(report.spreadVertices, "skinned vertex", "skinned vertices")
            << " without a usable weight spread evenly over the bones they name\n";
    }
    if (report.unweightedVertices > 0) {
        out << plural(report.unweightedVertices, "skinned vertex", "skinned vertices")
            << " naming no bone bound to the bone of the mesh's frame\n";
    }
    if (!report.notes.empty()) {
        out << "export notes:\n";
        for (const std::string& n : report.notes) out << "  " << n << "\n";
    }
}

}  // namespace orvik
