#include "support/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return "cannot be read: " + errorText(errno);
    }
    ::close(fd);
    return {};
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = errno == ENOENT ? "no such file" : errorText(errno);
        return 0;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        return 0;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason = "cannot be read: " + errorText(errno);
        return 0;
    }
    unsigned char ident[5] = {};
    const ssize_t got = ::read(fd, ident, sizeof ident);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof ident) || ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' ||
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

std::string directoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string dictionaryNameFor(const std::string& stem, const std::vector<std::string>& names)
{
    const std::string exact = stem + ".txd";
    const std::string wanted = asciiLower(exact);
    std::string best;
    for (const std::string& name : names) {
        if (name == exact) return name;
        if (asciiLower(name) == wanted && (best.empty() || name < best)) best = name;
    }
    return best;
}

}  // namespace orvik
