// The one way the command-line host reads and writes file descriptors: a
// regular file opened so that a FIFO, device or folder at the name is refused
// at once (never waited on), read whole up to a bound or by offsets; write
// and read loops that carry on after an interrupted call; and file identity.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvik {

// Whether a symbolic link at the name itself is followed. Files the user
// named are followed; files found by a search (image files) are not.
enum class Links { follow, refuse };

// A regular file opened for reading; closed with the object.
class RegularFile {
public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;

    // Opens without blocking and checks the opened descriptor: false with a
    // reason ("no such file", "not a regular file", "a folder, not a file",
    // "a symbolic link, not followed", "cannot be read: ...") otherwise.
    bool open(const std::string& path, Links links, std::string& problem);
    void close();

    int fd() const { return descriptor; }
    std::uint64_t size() const { return bytes; }  // as fstat gave it at open
    bool isOpen() const { return descriptor >= 0; }

    // Reads exactly n bytes at offset: false with a reason on an error or
    // when the file ends first (it changed since it was opened).
    bool readAt(std::uint64_t offset, void* out, std::size_t n, std::string& problem) const;
    // Reads the whole file as its size was at open; a file that shrank
    // meanwhile gives what is there.
    bool readAll(std::string& out, std::string& problem) const;
    bool readAll(std::vector<std::uint8_t>& out, std::string& problem) const;

private:
    int descriptor = -1;
    std::uint64_t bytes = 0;
};

// A regular file of at most maxBytes read whole, a link at the name refused.
// False with the reason ("not a regular file", "file of N bytes is larger
// than ...", ...) and bytes empty otherwise.
bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes, std::string& problem);

// Writes all of size bytes; false with err (an errno value) set on failure.
bool writeAll(int fd, const void* data, std::size_t size, int& err);
// Reads exactly size bytes from a stream (a pipe); false at its end or on an
// error.
bool readExactly(int fd, void* data, std::size_t size);

// Which file a path names (a link followed): device and inode.
struct FileId {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId& o) const { return exists && o.exists && device == o.device && inode == o.inode; }
    bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};
FileId fileIdOf(const std::string& path);

// Whether the two paths name one existing file.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace orvik
