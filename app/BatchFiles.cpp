#include "app/BatchFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/Text.h"

namespace orvik {
namespace {

bool writeAll(int fd, const char* data, std::size_t size, std::string& why)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = "cannot be written: " + errorText(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One folder: made when missing; an existing one must be a real folder.
bool oneFolder(const std::string& path, bool allowLink, std::string& why)
{
    struct stat st {};
    if ((allowLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        why = S_ISLNK(st.st_mode) ? path + " is a symbolic link, not a folder" : path + " is not a folder";
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
    std::string temp = path + ".orvik-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        why = "cannot be written: " + errorText(errno);
        return false;
    }
    // mkstemp makes the file for its owner only; give it what a new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
    if (!ok) why = "cannot be written: " + errorText(errno);
    ok = ok && writeAll(fd, bytes.data(), bytes.size(), why);
    if (::close(fd) != 0 && ok) {
        why = "cannot be written: " + errorText(errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        why = "cannot be written: " + errorText(errno);
        ok = false;
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool writeOutputFile(const std::string& path, const std::vector<unsigned char>& bytes, std::string& why)
{
    return writeOutputFile(path, std::string(bytes.begin(), bytes.end()), why);
}

}  // namespace orvik
