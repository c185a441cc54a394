// `orvik ifp list FILE [--json [FILE|-]]`: what an animation package holds.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace orvik {

struct IfpOptions {
    std::string file;
    std::string json;  // "-": the JSON listing instead of the table; a path: also written there
};

struct IfpCommand {
    CLI::App* ifp = nullptr;
    CLI::App* list = nullptr;
};

IfpCommand addIfpCommand(CLI::App& app, IfpOptions& options);

// Lists the package per animation (name, duration in seconds) and bone
// (name, id, key type, key count). Exit status 0 when some animation was
// read (a damaged package: those before the damage, and the reader's line on
// standard error); 3 when none was; 2 for a file that cannot be read or is
// no package, a JSON target refused or standard output that cannot be
// written, each said in one line.
int runIfpCommand(const IfpCommand& command, const IfpOptions& options);

}  // namespace orvik
