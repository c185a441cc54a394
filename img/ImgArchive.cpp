#include "img/ImgArchive.h"

#include <algorithm>
#include <cstring>

#include "format/Binary.h"
#include "support/FileIo.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace orvik::img {
namespace {

// A version 1 index larger than this is refused before it is read: two
// million entries, far beyond any game's archive.
constexpr std::uint64_t kMaxDirSize = 64ull << 20;

// Checks one entry against the archive and, for version 2, the index the
// archive starts with. An entry whose last sector is cut short by the end of
// the archive (an unpadded last file) is shortened to the bytes there are.
void checkBounds(Entry& e, std::uint64_t archiveSize, std::uint64_t indexEnd)
{
    e.outside = true;  // until the checks pass
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
        if (e.size - left >= kSectorSize) {
            e.problem = "holds " + std::to_string(e.size) + " bytes from byte " + std::to_string(e.offset) +
                        ", the archive has " + std::to_string(left) + " left there";
            return;
        }
        e.size = left;
    }
    e.outside = false;
}

// Passes over every entry whose bytes overlap those of an entry before it in
// the index: entries sorted by offset, each compared with the readable one
// reaching furthest so far.
void passOverOverlaps(std::vector<Entry>& entries)
{
    std::vector<std::size_t> order;
    order.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].problem.empty() && entries[i].size > 0) order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].offset != entries[b].offset ? entries[a].offset < entries[b].offset : a < b;
    });
    std::size_t reach = static_cast<std::size_t>(-1);  // the entry reaching furthest
    for (const std::size_t i : order) {
        if (reach == static_cast<std::size_t>(-1) || entries[i].offset >= entries[reach].offset + entries[reach].size) {
            reach = i;
            continue;
        }
        const std::size_t later = std::max(i, reach);
        const std::size_t earlier = std::min(i, reach);
        entries[later].problem = "its bytes overlap those of " + entries[earlier].name + " (entry " +
                                 std::to_string(earlier + 1) + "); passed over";
        if (later == reach) reach = i;  // the one reaching furthest was passed over
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
    passOverOverlaps(out.entries);
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
    return a.size() == b.size() && asciiLower(std::string(a)) == asciiLower(std::string(b));
}

bool Archive::open(const std::string& path, std::string& error)
{
    file.close();
    idx = Index{};
    const bool isDir = extensionOf(path) == ".dir";
    imgPath = isDir ? siblingWithExtension(path, ".img") : path;
    if (imgPath.empty()) {
        error = path + ": no .img archive of the same name beside this index";
        return false;
    }
    std::string why;
    if (!file.open(imgPath, Links::follow, why)) {
        error = imgPath + ": " + why;
        return false;
    }
    imgSize = file.size();
    unsigned char head[kVer2HeaderSize] = {};
    const bool ver2 = !isDir && imgSize >= kVer2HeaderSize && file.readAt(0, head, sizeof head, why) &&
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
        if (!file.readAt(0, bytes.data(), bytes.size(), why)) {
            error = imgPath + ": " + why;
            return false;
        }
    } else {
        dirPath = isDir ? path : siblingWithExtension(path, ".dir");
        if (dirPath.empty()) {
            error = path + ": no VER2 header and no .dir index of the same name beside it";
            return false;
        }
        RegularFile dirFile;
        if (!dirFile.open(dirPath, Links::follow, why)) {
            error = dirPath + ": " + why;
            return false;
        }
        const std::uint64_t dirSize = dirFile.size();
        if (dirSize > kMaxDirSize) {
            error = dirPath + ": an index of " + std::to_string(dirSize) + " bytes is too large (at most " +
                    std::to_string(kMaxDirSize) + ")";
            return false;
        }
        bytes.resize(static_cast<std::size_t>(dirSize));
        if (!dirFile.readAt(0, bytes.data(), bytes.size(), why)) {
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

bool Archive::readable(const Entry& entry, std::string& error) const
{
    if (!entry.problem.empty()) {
        error = entry.problem;
        return false;
    }
    if (!file.isOpen()) {
        error = "the archive is not open";
        return false;
    }
    return true;
}

bool Archive::read(const Entry& entry, std::vector<unsigned char>& bytes, std::string& error) const
{
    bytes.clear();
    if (!readable(entry, error)) return false;
    bytes.resize(static_cast<std::size_t>(entry.size));
    if (!file.readAt(entry.offset, bytes.data(), bytes.size(), error)) {
        bytes.clear();
        return false;
    }
    return true;
}

bool Archive::copy(const Entry& entry, const std::function<bool(const unsigned char*, std::size_t)>& sink,
                   std::string& error) const
{
    if (!readable(entry, error)) return false;
    std::vector<unsigned char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(entry.size, kCopyPiece)));
    for (std::uint64_t done = 0; done < entry.size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(entry.size - done, kCopyPiece));
        if (!file.readAt(entry.offset + done, piece.data(), n, error)) return false;
        if (!sink(piece.data(), n)) return false;
        done += n;
    }
    return true;
}

}  // namespace orvik::img
