#include "img/ImgArchive.h"

#include <algorithm>
#include <cstring>

#include "format/Binary.h"
#include "support/FileIo.h"
#include "support/Paths.h"

namespace orvik::img {
namespace {

// A version 1 index larger than this is refused before it is read: two
// million entries, far beyond any game's archive.
constexpr std::uint64_t kMaxDirSize = 64ull << 20;
// The index is read from its file in pieces of this many entries.
constexpr std::size_t kEntriesPerPiece = 2048;

// Checks one entry against the archive and, for version 2, the index the
// archive starts with. An entry whose last sector is cut short by the end of
// the archive (an unpadded last file) is shortened to the bytes there are.
void checkBounds(Entry& e, std::uint64_t archiveSize, std::uint64_t indexEnd)
{
    if (e.offset < indexEnd && e.size > 0) {
        e.problem = Problem::inIndex;
    } else if (e.offset > archiveSize) {
        e.problem = Problem::pastEnd;
    } else if (e.size > archiveSize - e.offset) {
        if (e.size - (archiveSize - e.offset) >= kSectorSize) {
            e.problem = Problem::tooLong;
        } else {
            e.size = archiveSize - e.offset;
        }
    }
}

// Passes over every entry whose bytes overlap those of an entry before it in
// the index: entries sorted by offset, each compared with the readable one
// reaching furthest so far.
void passOverOverlaps(std::vector<Entry>& entries)
{
    // Entry numbers fit 32 bits: a version 2 count is 32 bits, a version 1
    // index is bounded by kMaxDirSize.
    std::vector<std::uint32_t> order;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].readable() && entries[i].size > 0) order.push_back(static_cast<std::uint32_t>(i));
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return entries[a].offset != entries[b].offset ? entries[a].offset < entries[b].offset : a < b;
    });
    bool any = false;
    std::uint32_t reach = 0;  // the entry reaching furthest
    for (const std::uint32_t i : order) {
        if (!any || entries[i].offset >= entries[reach].offset + entries[reach].size) {
            any = true;
            reach = i;
            continue;
        }
        const std::uint32_t later = std::max(i, reach);
        entries[later].problem = Problem::overlap;
        entries[later].earlier = std::min(i, reach);
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
    std::memcpy(e.nameBytes.data(), p + 8, kNameSize);
    const void* nul = std::memchr(e.nameBytes.data(), 0, kNameSize);
    e.nameLength = static_cast<std::uint8_t>(nul != nullptr ? static_cast<const char*>(nul) - e.nameBytes.data()
                                                            : static_cast<std::ptrdiff_t>(kNameSize));
    return e;
}

// Adds `count` entries stored at p, each checked against the archive.
void addEntries(Index& index, const unsigned char* p, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        Entry e = readEntry(p + i * kEntrySize, index.version);
        checkBounds(e, index.archiveSize, index.indexEnd);
        index.entries.push_back(e);
    }
}

std::string trailingBytesNote(std::uint64_t left)
{
    return "the index ends with " + std::to_string(left) + " bytes that are no whole entry; they were passed over";
}

}  // namespace

std::string Index::problemText(const Entry& e) const
{
    switch (e.problem) {
    case Problem::none:
        return {};
    case Problem::inIndex:
        return "starts at byte " + std::to_string(e.offset) + ", inside the archive's index (" +
               std::to_string(indexEnd) + " bytes)";
    case Problem::pastEnd:
        return "starts at byte " + std::to_string(e.offset) + ", past the archive's end (" +
               std::to_string(archiveSize) + " bytes)";
    case Problem::tooLong:
        return "holds " + std::to_string(e.size) + " bytes from byte " + std::to_string(e.offset) +
               ", the archive has " + std::to_string(archiveSize - e.offset) + " left there";
    case Problem::overlap:
        return "its bytes overlap those of " +
               (e.earlier < entries.size() ? std::string(entries[e.earlier].name()) : std::string("?")) + " (entry " +
               std::to_string(std::uint64_t{e.earlier} + 1) + "); passed over";
    }
    return {};
}

bool parseIndex(const unsigned char* data, std::size_t size, Version version, std::uint64_t archiveSize, Index& out,
                std::string& error)
{
    out = Index{};
    out.version = version;
    out.archiveSize = archiveSize;
    std::size_t first = 0;
    std::size_t count = 0;
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
        out.indexEnd = kVer2HeaderSize + std::uint64_t{claimed} * kEntrySize;
    } else {
        count = size / kEntrySize;
        if (size % kEntrySize != 0) out.notes.push_back(trailingBytesNote(size % kEntrySize));
    }
    out.entries.reserve(count);
    addEntries(out, data + first, count);
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

namespace {

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::size_t nameHash(std::string_view name)
{
    // FNV-1a over the lower-cased bytes, folded to size_t on 32-bit builds.
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : name) h = (h ^ static_cast<unsigned char>(lowerAscii(c))) * 1099511628211ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
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
    idx.version = ver2 ? Version::v2 : Version::v1;
    idx.archiveSize = imgSize;
    // Where the entries are, in which file, and how many.
    RegularFile dirFile;
    const RegularFile* source = &file;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    if (ver2) {
        dirPath = imgPath;
        // The count is a claim: only as many entries as the archive can hold are read.
        const std::uint64_t room = (imgSize - kVer2HeaderSize) / kEntrySize;
        count = loadU32(head + 4);
        if (count > room) {
            error = imgPath + ": the index claims " + std::to_string(count) + " entries, the archive holds room for " +
                    std::to_string(room);
            return false;
        }
        first = kVer2HeaderSize;
        idx.indexEnd = kVer2HeaderSize + count * kEntrySize;
    } else {
        dirPath = isDir ? path : siblingWithExtension(path, ".dir");
        if (dirPath.empty()) {
            error = path + ": no VER2 header and no .dir index of the same name beside it";
            return false;
        }
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
        count = dirSize / kEntrySize;
        if (dirSize % kEntrySize != 0) idx.notes.push_back(trailingBytesNote(dirSize % kEntrySize));
        source = &dirFile;
    }
    // Read in pieces: the entries' records are all the index holds in memory.
    idx.entries.reserve(static_cast<std::size_t>(count));
    std::vector<unsigned char> piece(kEntriesPerPiece * kEntrySize);
    for (std::uint64_t done = 0; done < count;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kEntriesPerPiece));
        if (!source->readAt(first + done * kEntrySize, piece.data(), n * kEntrySize, why)) {
            error = dirPath + ": " + why;
            idx = Index{};
            return false;
        }
        addEntries(idx, piece.data(), n);
        done += n;
    }
    passOverOverlaps(idx.entries);
    return true;
}

bool Archive::readable(const Entry& entry, std::string& error) const
{
    if (!entry.readable()) {
        error = idx.problemText(entry);
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
