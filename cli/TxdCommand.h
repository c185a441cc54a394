// `orvik txd list FILE.txd [--json FILE|-]` and `orvik txd extract FILE.txd DIR`.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace orvik {

struct TxdOptions {
    std::string file;
    std::string json;
    std::string folder;
};

struct TxdCommand {
    CLI::App* txd = nullptr;
    CLI::App* list = nullptr;
    CLI::App* extract = nullptr;
};

// Adds the `txd` subcommand; a build without dictionaries (the 32-bit orvik)
// adds none and leaves `txd` null.
// Adds the `txd` subcommand; a build without dictionaries (the 32-bit orvik)
// adds none and leaves `txd` null.
TxdCommand addTxdCommand(CLI::App& app, TxdOptions& options);

// Runs the parsed subcommand. Exit status as `orvik import`: 0 done, 2 usage
// or an unreadable file, 3 no texture could be read. Messages go to the
// standard error with the prefix "orvik: ".
int runTxdCommand(const TxdCommand& command, const TxdOptions& options);

}  // namespace orvik
