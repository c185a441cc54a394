#include "testkit/ImgWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "img/ImgArchive.h"

namespace imgw {
namespace {

// The on-disk sizes are the reader's.
constexpr std::size_t kSector = orvik::img::kSectorSize;
constexpr std::size_t kEntry = orvik::img::kEntrySize;
constexpr std::size_t kNameSize = orvik::img::kNameSize;
constexpr std::size_t kHeaderSize = orvik::img::kVer2HeaderSize;

std::size_t sectorsFor(std::size_t bytes)
{
    return (bytes + kSector - 1) / kSector;
}

void putU32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
}

void putU16(std::vector<unsigned char>& out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<unsigned char>(v);
    out[at + 1] = static_cast<unsigned char>(v >> 8);
}

// Writes the entries at `indexAt` in `index` and the members' bytes into
// `data`, the first member at sector `firstSector`.
void layOut(const std::vector<Member>& members, bool v2, std::vector<unsigned char>& index, std::size_t indexAt,
            std::vector<unsigned char>& data, std::size_t firstSector)
{
    std::size_t sector = firstSector;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        const std::size_t at = indexAt + i * kEntry;
        const std::size_t sectors = sectorsFor(m.bytes.size());
        const std::uint32_t sizeWord = m.sizeSectors.value_or(static_cast<std::uint32_t>(sectors));
        putU32(index, at, m.offsetSectors.value_or(static_cast<std::uint32_t>(sector)));
        if (v2) {
            putU16(index, at + 4, m.sizeInArchiveWord ? 0 : static_cast<std::uint16_t>(sizeWord));
            putU16(index, at + 6, m.sizeInArchiveWord ? static_cast<std::uint16_t>(sizeWord) : 0);
        } else {
            putU32(index, at + 4, sizeWord);
        }
        if (m.rawName) {
            std::memcpy(&index[at + 8], m.rawName->data(), kNameSize);
        } else {
            std::memcpy(&index[at + 8], m.name.data(), std::min(m.name.size(), kNameSize));
        }
        data.resize(std::max(data.size(), (sector + sectors) * kSector));
        std::copy(m.bytes.begin(), m.bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(sector * kSector));
        sector += sectors;
    }
}

}  // namespace

V1Archive writeV1(const std::vector<Member>& members)
{
    V1Archive a;
    a.dir.assign(members.size() * kEntry, 0);
    layOut(members, false, a.dir, 0, a.img, 0);
    return a;
}

std::vector<unsigned char> writeV2(const std::vector<Member>& members, std::optional<std::uint32_t> countOverride)
{
    const std::size_t indexBytes = kHeaderSize + members.size() * kEntry;
    std::vector<unsigned char> out(sectorsFor(indexBytes) * kSector, 0);
    std::memcpy(out.data(), orvik::img::kVer2Magic, sizeof orvik::img::kVer2Magic);
    putU32(out, 4, countOverride.value_or(static_cast<std::uint32_t>(members.size())));
    layOut(members, true, out, kHeaderSize, out, sectorsFor(indexBytes));
    return out;
}

std::vector<unsigned char> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace imgw
