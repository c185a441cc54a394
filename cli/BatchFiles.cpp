#include "cli/BatchFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "support/Output.h"
#include "support/Text.h"

namespace orvik {
namespace {

// One folder: made when missing; an existing one must be a real folder.
bool oneFolder(const std::string& path, bool allowLink, std::string& why)
{
    struct stat st {};
    if ((allowLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        why = S_ISLNK(st.st_mode) ? path + ": a symbolic link, not a folder" : path + ": not a folder";
        return false;
    }
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    }
    why = path + ": cannot make the folder: " + errorText(errno);
    return false;
}

}  // namespace

bool makeFolder(const std::string& path, std::string& why)
{
    if (path.empty()) {
        why = "no folder named";
        return false;
    }
    // Parents given by the user may be links; they chose them.
    std::size_t at = path[0] == '/' ? 1 : 0;
    while (true) {
        const std::size_t slash = path.find('/', at);
        const std::string part = path.substr(0, slash);
        if (!part.empty() && part != "." && part != ".." && !oneFolder(part, true, why)) return false;
        if (slash == std::string::npos) return true;
        at = slash + 1;
    }
}

bool makeFoldersBelow(const std::string& base, const std::string& relative, std::string& why)
{
    std::string path = base;
    std::size_t at = 0;
    while (true) {
        const std::size_t slash = relative.find('/', at);
        if (slash == std::string::npos) return true;  // the last part is the file
        const std::string part = relative.substr(at, slash - at);
        if (part.empty() || part == "." || part == "..") {
            why = "the path " + relative + " holds an empty, \".\" or \"..\" part";
            return false;
        }
        path += "/" + part;
        if (!oneFolder(path, false, why)) return false;
        at = slash + 1;
    }
}

bool writeOutputFile(const std::string& path, const std::string& bytes, std::string& why)
{
    std::string error;
    if (commitOutputs({OutputFile{path, bytes, {}}}, error)) return true;
    // The writer's message starts with the path; the callers name the file themselves.
    why = error.rfind(path + ": ", 0) == 0 ? error.substr(path.size() + 2) : error;
    return false;
}

bool writeOutputFile(const std::string& path, const std::vector<unsigned char>& bytes, std::string& why)
{
    return writeOutputFile(path, std::string(bytes.begin(), bytes.end()), why);
}

}  // namespace orvik
