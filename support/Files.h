// File checks of the command-line host: what it finds out about a model file
// or a plug-in library before the plug-in is called.
#pragma once

#include <cstdint>
#include <string>

namespace orvik {

// The importer keeps offsets and the file size in 32 bits.
inline constexpr std::uint64_t kMaxModelSize = 0xFFFFFFFFu;

// Why the file cannot be handed to the importer ("not a regular file", ...),
// or "" when it can. Looks at the file's metadata and opens it for reading
// once, reads nothing, writes nothing.
std::string checkModelFile(const std::string& path);

// Whether the path names an existing folder.
bool isDirectory(const std::string& path);
// Whether anything exists at the path (a link is followed).
bool pathExists(const std::string& path);

// ELF class of a library: 32 or 64; 0 with a reason when the file is no ELF
// file or cannot be read.
int elfClass(const std::string& path, std::string& reason);

// The running executable's path (argv0 when /proc/self/exe cannot be read).
std::string executablePath(const char* argv0);

}  // namespace orvik
