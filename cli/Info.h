// `orvik info`: what a host learns from a plug-in library.
#pragma once

#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/Plugin.h"

class PluginLibrary;

namespace orvik {

// The library's answers (description, class count, version, deferral) and,
// per class descriptor, its identity and, for a scene importer, the answers
// of an importer created through it.
nlohmann::ordered_json describeLibrary(const PluginLibrary& lib);

CLI::App* addInfoCommand(CLI::App& app, std::string& plugin);
// Prints the description as JSON; exit status 0, failures thrown.
int runInfoCommand(const Invocation& inv, const std::string& plugin);

}  // namespace orvik
