// Stand-in for the command-line host's output writer until it lands: the
// same declarations, committing a set of files through temporaries beside
// their targets renamed over them.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace orvik {

struct OutputFile {
    std::string path;
    std::string bytes;
    std::function<void(std::ostream&)> write;
};

bool commitOutputs(const std::vector<OutputFile>& outputs, std::string& error);

}  // namespace orvik
