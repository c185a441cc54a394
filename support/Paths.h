// Paths as the command-line host takes them apart: folder, file name, stem
// and extension, and the case-blind look-up of a file beside another (the
// games compare names without regard to ASCII case).
#pragma once

#include <string>
#include <vector>

namespace orvik {

// The folder part of a path ("." when it has none, "/" for a file in the root).
std::string directoryOf(const std::string& path);
// The part after the last '/'.
std::string fileNameOf(const std::string& path);
// A path without its file name's last extension ("d/a.b.dff" -> "d/a.b"); a
// name whose only dot leads it (".dff") is its own stem.
std::string stemOf(const std::string& name);
// The last extension of a path's file name with its dot, in ASCII lower case
// (".dff"); "" when it has none.
std::string extensionOf(const std::string& path);
// Whether the name ends in tail (given in lower case) in any ASCII case.
bool endsWithNoCase(const std::string& name, const std::string& tail);

// The name among names that is `wanted`: that spelling, else the first in
// sorted order of those equal to it in any ASCII case; "" when none.
std::string caseBlindName(const std::string& wanted, const std::vector<std::string>& names);

// The file beside `path` (anything but a folder) with its stem and the
// extension `extension` (".dir", ".txd") in any case, chosen as
// caseBlindName chooses; "" when there is none.
std::string siblingWithExtension(const std::string& path, const std::string& extension);

}  // namespace orvik
