#include "support/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "support/Text.h"

namespace orvik {

RegularFile::~RegularFile()
{
    close();
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)), bytes(other.bytes)
{
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        close();
        descriptor = std::exchange(other.descriptor, -1);
        bytes = other.bytes;
    }
    return *this;
}

void RegularFile::close()
{
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
    bytes = 0;
}

bool RegularFile::open(const std::string& path, Links links, std::string& problem)
{
    close();
    // O_NONBLOCK: a FIFO or device at the name opens without waiting for a
    // writer, and the descriptor's own type is what is checked.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (links == Links::refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        problem = links == Links::refuse && errno == ELOOP ? "a symbolic link, not followed"
                                                           : "cannot be read: " + errorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        problem = "cannot be read: " + errorText(errno);
    } else if (S_ISDIR(st.st_mode)) {
        problem = "not a regular file (a folder)";
    } else if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else {
        descriptor = fd;
        bytes = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    ::close(fd);
    return false;
}

bool RegularFile::readAt(std::uint64_t offset, void* out, std::size_t n, std::string& problem) const
{
    auto* at = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(descriptor, at + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            problem = "cannot be read: " + errorText(errno);
            return false;
        }
        if (got == 0) {
            problem = "ends after " + std::to_string(offset + done) + " bytes, " + std::to_string(n - done) +
                      " bytes short (it changed since it was opened)";
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

namespace {

template <typename Bytes>
bool readWhole(int fd, std::uint64_t size, Bytes& out, std::string& problem)
{
    out.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            problem = "cannot be read: " + errorText(errno);
            out.clear();
            return false;
        }
        if (n == 0) break;  // shorter than it was: what is there
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return true;
}

}  // namespace

bool RegularFile::readAll(std::string& out, std::string& problem) const
{
    return readWhole(descriptor, bytes, out, problem);
}

bool RegularFile::readAll(std::vector<std::uint8_t>& out, std::string& problem) const
{
    return readWhole(descriptor, bytes, out, problem);
}

bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes, std::string& problem)
{
    bytes.clear();
    RegularFile file;
    if (!file.open(path, Links::refuse, problem)) return false;
    if (file.size() > maxBytes) {
        problem = "file of " + std::to_string(file.size()) + " bytes is larger than the " + std::to_string(maxBytes) +
                  " bytes allowed";
        return false;
    }
    return file.readAll(bytes, problem);
}

bool writeAll(int fd, const void* data, std::size_t size, int& err)
{
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        if (n == 0) {
            err = EIO;
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readExactly(int fd, void* data, std::size_t size)
{
    auto* at = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, at + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

FileId fileIdOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {true, st.st_dev, st.st_ino};
}

bool sameFile(const std::string& a, const std::string& b)
{
    return fileIdOf(a) == fileIdOf(b);
}

}  // namespace orvik
