// `orvik img list ARCHIVE` and `orvik img extract ARCHIVE DIR [NAME...]`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace orvik {

struct ImgOptions {
    std::string archive;
    std::string folder;              // extract: where to
    std::vector<std::string> names;  // extract: which members (all when none)
};

struct ImgCommand {
    CLI::App* img = nullptr;
    CLI::App* list = nullptr;
    CLI::App* extract = nullptr;
};

ImgCommand addImgCommand(CLI::App& app, ImgOptions& options);
// Runs the parsed subcommand on the standard streams.
int runImgCommand(const ImgCommand& command, const ImgOptions& options);

// Prints the archive's version, its entries (offset, size, name, and why an
// entry cannot be read) and notes on the index. Exit status 0, or 2 when the
// archive cannot be opened (one line on err).
int listImg(const std::string& archive, std::ostream& out, std::ostream& err);

// Writes the named members (all when names is empty; names compared
// case-insensitively) into folder dir, created when missing. A member whose
// name cannot name a file, whose bytes lie outside the archive, or that
// comes after one of the same name is reported and left out. Exit status 0
// when every member chosen was written, 4 when some were not, 2 for an
// archive that cannot be opened, a name not in it or a folder that cannot
// be made (nothing written then).
int extractImg(const std::string& archive, const std::string& dir, const std::vector<std::string>& names,
               std::ostream& out, std::ostream& err);

}  // namespace orvik
