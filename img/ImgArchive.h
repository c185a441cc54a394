// IMG archives of the GTA 3 series games: many files stored one after the
// other in 2048-byte sectors, listed by an index of 32-byte entries.
//
// Version 1 (GTA III, Vice City): the index is a file of its own, NAME.dir,
// beside the data file NAME.img; the .dir holds only entries.
// Version 2 (San Andreas): one .img that starts with the index:
//   offset 0: "VER2"; offset 4: entry count (u32 LE); offset 8: the entries.
//
// Entry (32 bytes, little-endian):
//   version 1: u32 offset in sectors, u32 size in sectors, 24-byte name
//   version 2: u32 offset in sectors, u16 streaming size in sectors,
//              u16 size in the archive in sectors (0 where the streaming size
//              holds it), 24-byte name
// Names are NUL-padded 8-bit text; a name that fills all 24 bytes has no NUL.
//
// The reader is standard library only and trusts nothing in the index: every
// entry's offset and size is checked against the archive's size once, where
// the index is read, and an entry that fails keeps its place in the listing
// with the reason instead of its bytes. The index is read in pieces and kept
// as records of fixed size, so its memory is a small constant per entry. Names are data: `nameProblem` says
// why a name cannot be used as a file name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/FileIo.h"

namespace orvik::img {

inline constexpr std::uint64_t kSectorSize = 2048;
inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::size_t kNameSize = 24;
inline constexpr std::size_t kVer2HeaderSize = 8;  // "VER2" + entry count
inline constexpr char kVer2Magic[4] = {'V', 'E', 'R', '2'};
inline constexpr std::size_t kCopyPiece = std::size_t{1} << 20;

enum class Version { v1 = 1, v2 = 2 };

// Why an entry's bytes cannot be read. The first three: it points outside
// the archive (or into its index).
enum class Problem : std::uint8_t { none, inIndex, pastEnd, tooLong, overlap };

// One index entry. An index may hold millions, so each is a small record of
// fixed size: the name's bytes as stored and the problem as a code, its
// message made only when it is shown (Index::problemText).
struct Entry {
    std::uint64_t offset = 0;   // bytes from the start of the .img
    std::uint64_t size = 0;     // bytes; sector-rounded as the index gives it
    std::uint32_t earlier = 0;  // for Problem::overlap, the entry whose bytes it overlaps
    Problem problem = Problem::none;
    std::uint8_t nameLength = 0;
    std::array<char, kNameSize> nameBytes{};  // as stored, 8-bit text

    std::string_view name() const { return {nameBytes.data(), nameLength}; }
    bool readable() const { return problem == Problem::none; }
    bool outside() const { return problem != Problem::none && problem != Problem::overlap; }
    // A readable member of no bytes: nothing to extract or convert.
    bool empty() const { return readable() && size == 0; }
};

struct Index {
    Version version = Version::v1;
    std::vector<Entry> entries;      // in index order
    std::vector<std::string> notes;  // what was odd about the index as a whole
    std::uint64_t archiveSize = 0;   // the .img's byte size
    std::uint64_t indexEnd = 0;      // version 2: where the index in the .img ends

    // Why the entry's bytes cannot be read, in words ("" when they can).
    std::string problemText(const Entry& entry) const;
};

// Reads an index from bytes. For version 1, `data` is the whole .dir file;
// for version 2, the start of the archive (header and entries; more may
// follow). `archiveSize` is the byte size of the .img the entries point into.
// Gives false with a reason when no index can be read at all (a version 2
// header that is missing or counts more entries than the bytes hold). An
// entry whose bytes overlap those of an entry before it is passed over with
// a problem naming that entry, so that no byte of the archive is read for
// two members.
bool parseIndex(const unsigned char* data, std::size_t size, Version version, std::uint64_t archiveSize, Index& out,
                std::string& error);

// Why a stored name cannot name a file ("" when it can): empty, "." or "..",
// a path separator ('/' or '\\') or a control character.
std::string nameProblem(std::string_view name);

// Whether two names are the same to the games (ASCII case-insensitive).
bool sameName(std::string_view a, std::string_view b);
// A hash that is the same for names the games take as the same (sameName).
std::size_t nameHash(std::string_view name);

// An archive opened for reading by offsets. Opening reads only the index;
// members are read one at a time with pread.
class Archive {
public:
    Archive() = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens a version 2 .img, a version 1 .img (its .dir beside it, the same
    // base name, extension in any case) or a version 1 .dir (its .img beside
    // it). Gives false with a one-line reason.
    bool open(const std::string& path, std::string& error);

    const Index& index() const { return idx; }
    const std::string& dataPath() const { return imgPath; }   // the .img
    const std::string& indexPath() const { return dirPath; }  // the .dir; the .img for version 2
    std::uint64_t dataSize() const { return imgSize; }

    // Reads one entry's bytes. Gives false with a reason for an entry with a
    // problem, or when the file cannot be read (it may have changed since).
    bool read(const Entry& entry, std::vector<unsigned char>& bytes, std::string& error) const;
    // Hands one entry's bytes to sink in pieces of at most kCopyPiece bytes,
    // so that a member of any size is copied in bounded memory. False with a
    // reason as read(), or when sink gives false (its own reason then).
    bool copy(const Entry& entry, const std::function<bool(const unsigned char*, std::size_t)>& sink,
              std::string& error) const;

private:
    // Whether the entry can be read: it has no problem and the archive is open;
    // error says why not.
    bool readable(const Entry& entry, std::string& error) const;
    RegularFile file;
    std::string imgPath;
    std::string dirPath;
    std::uint64_t imgSize = 0;
    Index idx;
};

}  // namespace orvik::img
