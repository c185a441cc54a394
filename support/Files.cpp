#include "support/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "support/FileIo.h"
#include "support/Text.h"

namespace orvik {

std::string checkModelFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        struct stat link {};
        if (err == ENOENT && ::lstat(path.c_str(), &link) == 0) {
            return "symbolic link to a file that does not exist";
        }
        if (err == ENOENT) {
            return "no such file";
        }
        return "cannot be read: " + errorText(err);
    }
    if (S_ISDIR(st.st_mode)) {
        return "not a regular file (a directory)";
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxModelSize) {
        return "file of " + std::to_string(size) + " bytes is too large: the importer reads at most " +
               std::to_string(kMaxModelSize) + " bytes";
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return "cannot be read: " + errorText(errno);
    }
    ::close(fd);
    return {};
}

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int elfClass(const std::string& path, std::string& reason)
{
    RegularFile file;
    if (!file.open(path, Links::follow, reason)) {
        if (reason == "cannot be read: " + errorText(ENOENT)) reason = "no such file";
        return 0;
    }
    unsigned char ident[5] = {};
    std::string ignored;
    if (!file.readAt(0, ident, sizeof ident, ignored) || ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' ||
        ident[3] != 'F') {
        reason = "not an ELF library";
        return 0;
    }
    if (ident[4] == 1) {
        return 32;
    }
    if (ident[4] == 2) {
        return 64;
    }
    reason = "ELF file of unknown class " + std::to_string(ident[4]);
    return 0;
}

std::string executablePath(const char* argv0)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        return std::string(buf, static_cast<std::size_t>(n));
    }
    return argv0 != nullptr ? argv0 : "orvik";
}

}  // namespace orvik
