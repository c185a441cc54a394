// `orvik import MODEL`: imports one model into the stand-in scene and prints
// it (the readable summary, or the scene dump), optionally writing the dump
// and a glTF export.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "cli/ModelOptions.h"
#include "cli/Plugin.h"

namespace orvik {

struct ImportOptions {
    std::string model;
    std::string json;  // the dump's file, "-" for standard output
    std::string gltf;
    std::string bin;
    ModelOptions shared;
};

CLI::App* addImportCommand(CLI::App& app, ImportOptions& options);

// Exit status 0 when the model was read, 3 when it held nothing that could
// be read; every other failure is thrown as a Failure (exit status 2).
int runImportCommand(const Invocation& inv, const ImportOptions& options);

}  // namespace orvik
