// `orvik info`: what a host learns from a plug-in library.
#pragma once

#include <nlohmann/json.hpp>

class PluginLibrary;

namespace orvik {

// The library's answers (description, class count, version, deferral) and,
// per class descriptor, its identity and, for a scene importer, the answers
// of an importer created through it.
nlohmann::ordered_json describeLibrary(const PluginLibrary& lib);

}  // namespace orvik
