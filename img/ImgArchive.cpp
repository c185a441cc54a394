#include "img/ImgArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "dff/Chunk.h"

namespace orvik::img {
namespace {

// A version 1 index larger than this is refused before it is read: two
// million entries, far beyond any game's archive.
constexpr std::uint64_t kMaxDirSize = 64ull << 20;

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string errnoText(int err)
{
    return std::strerror(err);
}

// Checks one entry against the archive and, for version 2, the index the
// archive starts with. An entry whose last sector is cut short by the end of
// the archive (an unpadded last file) is shortened to the bytes there are.
void checkBounds(Entry& e, std::uint64_t archiveSize, std::uint64_t indexEnd)
{
    if (e.offset < indexEnd && e.size > 0) {
        e.problem = "starts at byte " + std::to_string(e.offset) + ", inside the archive's index (" +
                    std::to_string(indexEnd) + " bytes)";
        return;
    }
    if (e.offset > archiveSize) {
        e.problem = "starts at byte " + std::to_string(e.offset) + ", past the archive's end (" +
                    std::to_string(archiveSize) + " bytes)";
        return;
    }
    const std::uint64_t left = archiveSize - e.offset;
    if (e.size > left) {
        if (e.size - left < kSectorSize) {
            e.size = left;
            return;
        }
        e.problem = "holds " + std::to_string(e.size) + " bytes from byte " + std::to_string(e.offset) +
                    ", the archive has " + std::to_string(left) + " left there";
    }
}

Entry readEntry(const unsigned char* p, Version version)
{
    Entry e;
    e.offset = std::uint64_t{loadU32(p)} * kSectorSize;
    if (version == Version::v1) {
        e.size = std::uint64_t{loadU32(p + 4)} * kSectorSize;
    } else {
        const std::uint16_t streaming = loadU16(p + 4);
        const std::uint16_t stored = loadU16(p + 6);
        e.size = std::uint64_t{streaming != 0 ? streaming : stored} * kSectorSize;
    }
    const auto* name = reinterpret_cast<const char*>(p + 8);
    const void* nul = std::memchr(name, 0, kNameSize);
    e.name.assign(name, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - name) : kNameSize);
    return e;
}

// The file beside `path` with the same base name and extension `ext` in any
// case, or "" when there is none.
std::string sibling(const std::string& path, std::string_view ext)
{
    namespace fs = std::filesystem;
    const fs::path p(path);
    const std::string wanted = p.stem().string() + std::string(ext);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    const fs::path exact = folder / wanted;
    std::error_code ec;
    if (fs::is_regular_file(exact, ec)) return exact.string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (sameName(name, wanted) && it->is_regular_file(ec)) return it->path().string();
    }
    return {};
}

std::string lowerExtension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = lowerAscii(c);
    return ext;
}

// Opens a regular file for reading; gives -1 with a reason.
int openRegular(const std::string& path, std::uint64_t& size, std::string& error)
{
    const int f = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (f < 0) {
        error = path + ": cannot be read: " + errnoText(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ::close(f);
        return -1;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return f;
}

// Reads exactly n bytes at offset; false with a reason on a short read.
bool readAt(int f, std::uint64_t offset, unsigned char* out, std::size_t n, std::string& error)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(f, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "cannot be read: " + errnoText(errno);
            return false;
        }
        if (got == 0) {
            error = "ends after " + std::to_string(offset + done) + " bytes, " + std::to_string(n - done) +
                    " bytes short (it changed since its index was read)";
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

bool parseIndex(const unsigned char* data, std::size_t size, Version version, std::uint64_t archiveSize,
                Index& out, std::string& error)
{
    out = Index{};
    out.version = version;
    std::size_t first = 0;
    std::size_t count = 0;
    std::uint64_t indexEnd = 0;
    if (version == Version::v2) {
        if (size < kVer2HeaderSize || std::memcmp(data, kVer2Magic, sizeof kVer2Magic) != 0) {
            error = "no VER2 header";
            return false;
        }
        const std::uint32_t claimed = loadU32(data + 4);
        const std::size_t room = (size - kVer2HeaderSize) / kEntrySize;
        if (claimed > room) {
            error = "the index claims " + std::to_string(claimed) + " entries, the archive holds room for " +
                    std::to_string(room);
            return false;
        }
        first = kVer2HeaderSize;
        count = claimed;
        indexEnd = kVer2HeaderSize + std::uint64_t{claimed} * kEntrySize;
    } else {
        count = size / kEntrySize;
        if (size % kEntrySize != 0) {
            out.notes.push_back("the index ends with " + std::to_string(size % kEntrySize) +
                                " bytes that are no whole entry; they were passed over");
        }
    }
    out.entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Entry e = readEntry(data + first + i * kEntrySize, version);
        checkBounds(e, archiveSize, indexEnd);
        out.entries.push_back(std::move(e));
    }
    return true;
}

std::string nameProblem(std::string_view name)
{
    if (name.empty()) return "the name is empty";
    if (name == "." || name == "..") return "the name is \"" + std::string(name) + "\"";
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\') return "the name holds a path separator";
        if (u < 0x20 || u == 0x7F) return "the name holds a control character";
    }
    return {};
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

bool looksLikeVer2(const std::string& path)
{
    const int f = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (f < 0) return false;
    unsigned char head[4] = {};
    std::string ignored;
    const bool ok = readAt(f, 0, head, sizeof head, ignored) && std::memcmp(head, kVer2Magic, sizeof head) == 0;
    ::close(f);
    return ok;
}

Archive::~Archive()
{
    if (fd >= 0) ::close(fd);
}

bool Archive::open(const std::string& path, std::string& error)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
    idx = Index{};
    const bool isDir = lowerExtension(path) == ".dir";
    imgPath = isDir ? sibling(path, ".img") : path;
    if (imgPath.empty()) {
        error = path + ": no .img archive of the same name beside this index";
        return false;
    }
    std::string why;
    fd = openRegular(imgPath, imgSize, why);
    if (fd < 0) {
        error = why;
        return false;
    }
    unsigned char head[kVer2HeaderSize] = {};
    const bool ver2 = !isDir && imgSize >= kVer2HeaderSize && readAt(fd, 0, head, sizeof head, why) &&
                      std::memcmp(head, kVer2Magic, sizeof kVer2Magic) == 0;
    std::vector<unsigned char> bytes;
    if (ver2) {
        dirPath = imgPath;
        // The count is a claim: only as many entries as the archive can hold are read.
        const std::uint64_t room = (imgSize - kVer2HeaderSize) / kEntrySize;
        const std::uint64_t claimed = loadU32(head + 4);
        if (claimed > room) {
            error = imgPath + ": the index claims " + std::to_string(claimed) + " entries, the archive holds room for " +
                    std::to_string(room);
            return false;
        }
        bytes.resize(kVer2HeaderSize + static_cast<std::size_t>(claimed) * kEntrySize);
        if (!readAt(fd, 0, bytes.data(), bytes.size(), why)) {
            error = imgPath + ": " + why;
            return false;
        }
    } else {
        dirPath = isDir ? path : sibling(path, ".dir");
        if (dirPath.empty()) {
            error = path + ": no VER2 header and no .dir index of the same name beside it";
            return false;
        }
        std::uint64_t dirSize = 0;
        const int dirFd = openRegular(dirPath, dirSize, why);
        if (dirFd < 0) {
            error = why;
            return false;
        }
        if (dirSize > kMaxDirSize) {
            ::close(dirFd);
            error = dirPath + ": an index of " + std::to_string(dirSize) + " bytes is too large (at most " +
                    std::to_string(kMaxDirSize) + ")";
            return false;
        }
        bytes.resize(static_cast<std::size_t>(dirSize));
        const bool ok = readAt(dirFd, 0, bytes.data(), bytes.size(), why);
        ::close(dirFd);
        if (!ok) {
            error = dirPath + ": " + why;
            return false;
        }
    }
    if (!parseIndex(bytes.data(), bytes.size(), ver2 ? Version::v2 : Version::v1, imgSize, idx, why)) {
        error = dirPath + ": " + why;
        return false;
    }
    return true;
}

bool Archive::read(const Entry& entry, std::vector<unsigned char>& bytes, std::string& error) const
{
    bytes.clear();
    if (!entry.problem.empty()) {
        error = entry.problem;
        return false;
    }
    if (fd < 0) {
        error = "the archive is not open";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(entry.size));
    if (!readAt(fd, entry.offset, bytes.data(), bytes.size(), error)) {
        bytes.clear();
        return false;
    }
    return true;
}

}  // namespace orvik::img
