#include "cli/TxdCommand.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Plugin.h"
#include "host/dump.h"
#include "support/Output.h"
#include "cli/ExitStatus.h"
#include "support/Text.h"
#include "images/Textures.h"
#include "txd/Png.h"

namespace orvik {
namespace {

std::string platformName(std::uint32_t platform)
{
    switch (platform) {
    case txd::Platform::D3D8:
        return "Direct3D 8";
    case txd::Platform::D3D9:
        return "Direct3D 9";
    case txd::Platform::PS2:
        return "PlayStation 2";
    case txd::Platform::Xbox:
        return "Xbox";
    default:
        return "platform " + hex32(platform);
    }
}

int complain(const std::string& message, int status)
{
    std::cerr << "orvik: " << printablePath(message) << "\n";
    return status;
}
int complain(const std::string& subject, const std::string& what, int status)
{
    return complain(subject + ": " + what, status);
}

// Lines for what could not be read: one per texture that is not decoded, and
// where the dictionary ended when it was damaged.
void reportProblems(const LoadedDictionary& d, std::ostream& out)
{
    for (const txd::Texture& t : d.dictionary.textures) {
        if (!t.unsupported.empty()) {
            out << printable(t.name) << ": " << t.unsupported << "\n";
        }
    }
    if (!d.dictionary.ended.empty()) {
        out << printablePath(d.path) << ": " << d.dictionary.ended << "\n";
    }
}

nlohmann::ordered_json describe(const LoadedDictionary& d)
{
    nlohmann::ordered_json j;
    j["file"] = pathAsUtf8(d.path);
    j["stamp"] = hex32(d.dictionary.stamp);
    j["declaredCount"] = d.dictionary.declaredCount;
    j["deviceId"] = d.dictionary.deviceId;
    j["textures"] = nlohmann::ordered_json::array();
    for (const txd::Texture& t : d.dictionary.textures) {
        nlohmann::ordered_json e;
        e["name"] = latin1ToUtf8(t.name);
        e["mask"] = latin1ToUtf8(t.maskName);
        e["platform"] = platformName(t.platform);
        e["width"] = t.width;
        e["height"] = t.height;
        e["depth"] = t.depth;
        e["format"] = txd::formatName(t);
        e["rasterFormat"] = hex32(t.rasterFormat);
        e["alpha"] = t.alphaFlag;
        e["filter"] = t.filter;
        e["addressU"] = t.addressU;
        e["addressV"] = t.addressV;
        e["levels"] = nlohmann::ordered_json::array();
        for (const txd::Level& l : t.levels) {
            e["levels"].push_back({{"width", l.width}, {"height", l.height}, {"bytes", l.bytes.size()}});
        }
        e["problem"] = t.unsupported.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(t.unsupported);
        e["offset"] = t.offset;
        j["textures"].push_back(std::move(e));
    }
    j["ended"] = d.dictionary.ended.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(d.dictionary.ended);
    return j;
}

void writeTable(const LoadedDictionary& d, std::ostream& out)
{
    const txd::Dictionary& dict = d.dictionary;
    out << printablePath(d.path) << ": " << dict.textures.size() << " of " << dict.declaredCount
        << (dict.declaredCount == 1 ? " texture" : " textures") << ", library " << hex32(dict.stamp) << "\n";
    std::vector<std::vector<std::string>> rows{{"name", "mask", "size", "format", "levels", "alpha"}};
    for (const txd::Texture& t : dict.textures) {
        rows.push_back(
            {printable(t.name), t.maskName.empty() ? "-" : printable(t.maskName),
             std::to_string(t.width) + "x" + std::to_string(t.height),
             t.unsupported.empty() || t.encoding != txd::Encoding::None ? txd::formatName(t) : platformName(t.platform),
             std::to_string(t.levels.size()), t.alphaFlag ? "yes" : "no"});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows) {
        std::string line = "  ";
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        out << line << "\n";
    }
}

int runList(const LoadedDictionary& d, const TxdOptions& opt)
{
    if (!opt.json.empty()) {
        const std::string text = describe(d).dump(2) + "\n";
        if (opt.json == "-") {
            std::cout << text;
            if (!standardOutputWritten(std::cout, std::cerr)) return kExitUsage;
        } else {
            std::string error = checkOutputTargets({opt.json}, {{d.path, "the texture dictionary"}});
            if (!error.empty() || !commitOutputs({OutputFile{opt.json, text, {}}}, error)) {
                return complain(error, kExitUsage);
            }
        }
    }
    if (opt.json != "-") {
        writeTable(d, std::cout);
        if (!standardOutputWritten(std::cout, std::cerr)) return kExitUsage;
    }
    reportProblems(d, std::cerr);
    return d.dictionary.textures.empty() ? kExitNothingRead : kExitOk;
}

int runExtract(const LoadedDictionary& d, const TxdOptions& opt)
{
    struct stat st {};
    if (::stat(opt.folder.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(opt.folder.c_str(), 0777) != 0) {
            return complain(opt.folder, "cannot be made: " + errorText(errno), kExitUsage);
        }
    } else if (!S_ISDIR(st.st_mode)) {
        return complain(opt.folder, "is not a folder", kExitUsage);
    }
    std::vector<OutputFile> outputs;
    std::vector<std::string> lines;
    std::set<std::string> taken;
    std::size_t failed = 0;
    for (const txd::Texture& t : d.dictionary.textures) {
        txd::Image image;
        std::vector<std::uint8_t> png;
        std::string why;
        if (!t.unsupported.empty()) {
            ++failed;  // said by reportProblems
            continue;
        }
        if (!txd::decodeLevel0(t, image, why) || !txd::encodePng(image, png, why)) {
            lines.push_back(printable(t.name) + ": " + why);
            ++failed;
            continue;
        }
        const std::string file = pngFileName(t.name, taken);
        outputs.push_back(OutputFile{opt.folder + "/" + file, std::string(png.begin(), png.end()), {}});
        lines.push_back(printable(t.name) + " -> " + printablePath(file) + " (" + std::to_string(t.width) + "x" +
                        std::to_string(t.height) + ", " + txd::formatName(t) + ")");
    }
    if (!outputs.empty()) {
        // Checked as every output is: no target may be the dictionary itself,
        // a folder, a device or a pipe.
        std::vector<std::string> targets;
        for (const OutputFile& o : outputs) targets.push_back(o.path);
        std::string error = checkOutputTargets(targets, {{d.path, "the texture dictionary"}});
        if (!error.empty() || !commitOutputs(outputs, error)) return complain(error, kExitUsage);
    }
    for (const std::string& line : lines) std::cout << line << "\n";
    std::cout << printablePath(d.path) << ": " << outputs.size() << " of " << d.dictionary.declaredCount
              << " textures written to " << printablePath(opt.folder) << "\n";
    if (!standardOutputWritten(std::cout, std::cerr)) return kExitUsage;
    reportProblems(d, std::cerr);
    return outputs.empty() ? kExitNothingRead : kExitOk;
}

}  // namespace

TxdCommand addTxdCommand(CLI::App& app, TxdOptions& opt)
{
    TxdCommand c;
    c.txd = app.add_subcommand("txd", "List or extract the textures of a texture dictionary (.txd)");
    c.txd->require_subcommand(1);
    c.list = c.txd->add_subcommand("list", "One line per texture: name, mask, size, format, levels, alpha");
    c.list->add_option("FILE", opt.file, "The texture dictionary (.txd)")->required();
    c.list->add_option("--json", opt.json, "Also write the listing as JSON to FILE (- for standard output, instead)")
        ->type_name("FILE");
    c.extract = c.txd->add_subcommand("extract", "Write each texture as a PNG file into DIR (RGB when opaque, else RGBA)");
    c.extract->add_option("FILE", opt.file, "The texture dictionary (.txd)")->required();
    c.extract->add_option("DIR", opt.folder, "The folder the PNG files go to (made when missing)")->required();
    return c;
}

int runTxdCommand(const TxdCommand& c, const TxdOptions& opt)
{
    std::string why;
    const std::unique_ptr<LoadedDictionary> d = loadDictionary(opt.file, why);
    if (!d) return complain(opt.file, why, kExitUsage);
    if (!d->dictionary.isDictionary) return complain(opt.file, "not a texture dictionary", kExitUsage);
    return c.list->parsed() ? runList(*d, opt) : runExtract(*d, opt);
}

}  // namespace orvik
