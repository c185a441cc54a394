// `orvik col list FILE [--json]` and `orvik col export FILE --gltf OUT`: the
// collision entries of a .col file, or those a model file carries in its
// clumps' extensions; and the entry of a model's name found beside it, which
// `convert` adds to a model that holds none.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "col/Collision.h"

class INode;
class Scene;

namespace orvik {

struct ColOptions {
    std::string file;
    bool json = false;  // list: as JSON
    std::string gltf;   // export: the target
};

struct ColCommand {
    CLI::App* col = nullptr;
    CLI::App* list = nullptr;
    CLI::App* exportGltf = nullptr;
};

ColCommand addColCommand(CLI::App& app, ColOptions& options);
// Runs the parsed subcommand on the standard streams.
int runColCommand(const ColCommand& command, const ColOptions& options);

// The entries of bytes: a collision file's, or, for a model file (whose
// first chunk is a clump or a UV animation dictionary), the entries of every
// collision chunk in its clumps' extensions. problem says in one line where
// the reading stopped ("" when it did not).
std::vector<col::Model> collisionEntries(std::span<const std::uint8_t> data, std::string& problem);

// Prints each entry (name, version, model id, bounds, counts), or the JSON
// {"models": [...]} with --json. Exit status 0; 4 when an entry is damaged
// (the ones before it are listed, the damage in one line on err); 2 when the
// file cannot be read.
int listCollision(const std::string& file, bool json, std::ostream& out, std::ostream& err);

// Writes the entries of the file as glTF, each a node named after its model.
// Exit status as listCollision's; nothing is written when no entry is read.
int exportCollision(const std::string& file, const std::string& gltf, std::ostream& out, std::ostream& err);

// Builds the model under parent (top level when null) as the import builds
// a model's own collision: a dummy named holderName holding its meshes.
INode* addCollisionNodes(const col::Model& model, INode* parent, const std::string& holderName);

// Whether the scene holds a model's collision (a node named "collision").
bool sceneHasCollision(const Scene& scene);

}  // namespace orvik
