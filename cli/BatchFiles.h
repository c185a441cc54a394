// Folders and files that the batch commands (`img extract`, `convert`) write
// under a folder the user named.
#pragma once

#include <string>
#include <vector>

namespace orvik {

// Makes the folder and any missing parents. Gives false with a reason
// ("PATH: not a folder", naming the part that failed) when it cannot, or
// when the path names something that is not a folder.
bool makeFolder(const std::string& path, std::string& why);

// Makes the folders of `relative` (a path of names from the archive or a
// folder walk, '/'-separated, no "." or ".." parts) below `base`, refusing
// any part that exists as something other than a real folder (a symbolic
// link could lead outside `base`). Gives false with a reason.
bool makeFoldersBelow(const std::string& base, const std::string& relative, std::string& why);

// Writes bytes as the file at path through the output writer (a temporary
// beside it renamed over it). False with a reason.
bool writeOutputFile(const std::string& path, const std::vector<unsigned char>& bytes, std::string& why);
bool writeOutputFile(const std::string& path, const std::string& bytes, std::string& why);

}  // namespace orvik
