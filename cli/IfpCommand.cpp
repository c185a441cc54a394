#include "cli/IfpCommand.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/ExitStatus.h"
#include "cli/Plugin.h"
#include "ifp/Package.h"
#include "support/FileIo.h"
#include "support/Output.h"
#include "support/Text.h"

namespace orvik {
namespace {

// Packages are a few megabytes; the bound only keeps a wrong file out.
constexpr std::uint64_t kMaxPackageSize = std::uint64_t{1} << 30;

int complain(const std::string& message, int status)
{
    std::cerr << "orvik: " << printablePath(message) << "\n";
    return status;
}

// From the earlier of 0 and the first key to the last key, as the import
// sets the scene's range.
float durationOf(const ifp::Animation& a)
{
    return a.endTime() - std::min(0.0f, a.startTime());
}

// The float as its shortest decimal spelling, so that 1/60 s steps read as
// the file's values rather than as their double widening.
double shortest(float value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    double d = 0.0;
    std::from_chars(text, end, d);
    return d;
}

nlohmann::ordered_json describe(const ifp::Package& package)
{
    nlohmann::ordered_json j;
    j["format"] = ifp::layoutName(package.layout);
    j["name"] = latin1ToUtf8(package.name);
    j["animations"] = nlohmann::ordered_json::array();
    for (const ifp::Animation& a : package.animations) {
        nlohmann::ordered_json animation;
        animation["name"] = latin1ToUtf8(a.name);
        animation["duration"] = shortest(durationOf(a));
        animation["bones"] = nlohmann::ordered_json::array();
        for (const ifp::Bone& b : a.bones) {
            animation["bones"].push_back({{"name", latin1ToUtf8(b.name)},
                                          {"id", b.id < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(b.id)},
                                          {"keyType", ifp::keyTypeName(b.keyType)},
                                          {"keys", b.keys.size()}});
        }
        j["animations"].push_back(std::move(animation));
    }
    return j;
}

// One line per animation, then its bones in columns as wide as the widest
// entry of the whole package, so that every animation lines up.
void writeTable(const std::string& path, const ifp::Package& package, std::ostream& out)
{
    out << printablePath(path) << ": " << ifp::layoutName(package.layout) << " package \"" << printable(package.name)
        << "\", " << plural(package.animations.size(), "animation", "animations") << "\n";
    using Row = std::vector<std::string>;
    const Row header{"bone", "id", "type", "keys"};
    std::vector<std::size_t> widths;
    for (const std::string& h : header) widths.push_back(h.size());
    std::vector<std::vector<Row>> tables;
    for (const ifp::Animation& a : package.animations) {
        std::vector<Row> rows;
        for (const ifp::Bone& b : a.bones) {
            rows.push_back({printable(b.name), b.id < 0 ? "-" : std::to_string(b.id), ifp::keyTypeName(b.keyType),
                            std::to_string(b.keys.size())});
            for (std::size_t c = 0; c < widths.size(); ++c) widths[c] = std::max(widths[c], rows.back()[c].size());
        }
        tables.push_back(std::move(rows));
    }
    // Name and key type to the left, numbers to the right.
    const auto line = [&](const Row& row) {
        std::string s = "  " + row[0] + std::string(widths[0] - row[0].size(), ' ');
        s += "  " + std::string(widths[1] - row[1].size(), ' ') + row[1];
        s += "  " + row[2] + std::string(widths[2] - row[2].size(), ' ');
        s += "  " + std::string(widths[3] - row[3].size(), ' ') + row[3];
        out << s << "\n";
    };
    for (std::size_t i = 0; i < package.animations.size(); ++i) {
        const ifp::Animation& a = package.animations[i];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(durationOf(a)));
        out << printable(a.name) << ": " << seconds << " s, " << plural(a.bones.size(), "bone", "bones") << "\n";
        if (a.bones.empty()) continue;
        line(header);
        for (const Row& row : tables[i]) line(row);
    }
}

int listPackage(const IfpOptions& opt)
{
    RegularFile file;
    std::string why;
    if (!file.open(opt.file, Links::follow, why)) {
        if (why == "cannot be read: " + errorText(ENOENT)) why = "no such file";
        return complain(opt.file + ": " + why, kExitUsage);
    }
    if (file.size() > kMaxPackageSize) {
        return complain(opt.file + ": is larger than " + std::to_string(kMaxPackageSize >> 20) + " MiB", kExitUsage);
    }
    std::vector<std::uint8_t> bytes;
    if (!file.readAll(bytes, why)) return complain(opt.file + ": " + why, kExitUsage);
    if (!ifp::isPackage(bytes.data(), bytes.size()))
        return complain(opt.file + ": not an animation package", kExitUsage);
    const ifp::Package package = ifp::readPackage(bytes.data(), bytes.size());

    if (!opt.json.empty()) {
        const std::string text = describe(package).dump(2) + "\n";
        if (opt.json == "-") {
            std::cout << text;
        } else {
            std::string error = checkOutputTargets({opt.json}, {{opt.file, "the animation package"}});
            if (!error.empty() || !commitOutputs({OutputFile{opt.json, text, {}}}, error)) {
                return complain(error, kExitUsage);
            }
        }
    }
    if (opt.json != "-") writeTable(opt.file, package, std::cout);
    if (!standardOutputWritten(std::cout, std::cerr)) return kExitUsage;
    if (!package.damage.empty()) std::cerr << printablePath(opt.file) << ": " << package.damage << "\n";
    return package.animations.empty() ? kExitNothingRead : kExitOk;
}

}  // namespace

IfpCommand addIfpCommand(CLI::App& app, IfpOptions& opt)
{
    IfpCommand c;
    c.ifp = app.add_subcommand("ifp", "List what an animation package (.ifp) holds");
    c.ifp->require_subcommand(1);
    c.list = c.ifp->add_subcommand("list", "Per animation its duration; per bone its id, key type and key count");
    c.list->add_option("FILE", opt.file, "The animation package (.ifp)")->required();
    c.list->add_option("--json", opt.json, "The listing as JSON on standard output instead, or also into FILE")
        ->expected(0, 1)
        ->default_str("-")
        ->type_name("[FILE]");
    return c;
}

int runIfpCommand(const IfpCommand& c, const IfpOptions& opt)
{
    (void)c;  // `list` is the only subcommand
    return listPackage(opt);
}

}  // namespace orvik
