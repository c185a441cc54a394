// The importer object: its answers to the host, DoImport with the import
// loop, progress reporting, and the bounds-checked access to the buffer.
#include "importer/Orvik.h"

#include <fstream>
#include <new>

namespace {
constexpr const char* kProgressTitle = "Importing DFF";
}

Orvik::Orvik() = default;

Orvik::~Orvik()
{
    hAnimIdToFrame.clear();
    skinTable.clear();
    uvAnimations.clear();
}

int Orvik::ExtCount() { return 1; }
const MCHAR* Orvik::Ext(int n)
{
    (void)n;
    return "dff";
}
const MCHAR* Orvik::LongDesc() { return "GTA 3 series DFF files"; }
const MCHAR* Orvik::ShortDesc() { return "Grand Theft Auto DFF"; }
const MCHAR* Orvik::AuthorName() { return "The Orvik developers"; }
const MCHAR* Orvik::CopyrightMessage() { return "Copyright (c) The Orvik developers"; }
const MCHAR* Orvik::OtherMessage1() { return ""; }
const MCHAR* Orvik::OtherMessage2() { return ""; }
unsigned int Orvik::Version() { return 100; }
void Orvik::ShowAbout(void* hWnd) { (void)hWnd; }
BOOL Orvik::ZoomExtents() { return 1; }

namespace {
// Reads the whole file into a new buffer. False when it cannot be opened or
// read, or is too large for the 32-bit cursor.
bool loadWholeFile(const char* path, std::unique_ptr<std::uint8_t[]>& out, std::int64_t& size)
{
    if (path == nullptr) return false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff end = in.tellg();
    if (end < 0 || static_cast<std::uint64_t>(end) > 0xFFFFFFFFull) return false;
    size = static_cast<std::int64_t>(end);
    out.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size > 0 ? size : 1)]);
    if (!out) return false;
    in.seekg(0, std::ios::beg);
    if (size > 0 && !in.read(reinterpret_cast<char*>(out.get()), static_cast<std::streamsize>(size))) return false;
    return true;
}
}  // namespace

int Orvik::DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts)
{
    (void)suppressPrompts;
    buffer.reset();
    cursor = 0;
    fileSize = 0;
    bufferSize = 0;
    skinned = false;
    moreChunks = true;
    clumpOk = true;
    readFailed = false;
    hAnimNodes = nullptr;
    hAnimNodeCount = 0;
    importInterface = ii;
    coreInterface = i;
    if (coreInterface == nullptr) return 1;

    bool progressOpen = false;
    try {
        if (!loadWholeFile(name, buffer, fileSize)) {
            buffer.reset();
            fileSize = 0;
            return 1;
        }
        bufferSize = static_cast<std::uint64_t>(fileSize);
        skinBonesLeft = bufferSize / 64;
        skinVerticesLeft = bufferSize / 20;
        uvKeysLeft = bufferSize / 8;

        coreInterface->ProgressStart(kProgressTitle, TRUE, progressWorker, this);
        progressOpen = true;

        while (moreChunks) {
            atomicTable.clear();
            frameRecords = nullptr;
            frameNames.clear();
            geometryTable.clear();
            clumpStruct = nullptr;
            frameNodeTable.clear();
            frameListStruct = nullptr;

            const std::uint8_t* header = readClump();
            if (readFailed || !clumpOk || header == nullptr) break;
            const ChunkHeader h = loadHeader(header);
            if (!isAcceptedStamp(h.stamp) || (h.type != ChunkType::Clump && h.type != ChunkType::UvAnimDictionary))
                break;
            // A dictionary that no clump followed leaves nothing to build.
            if (clumpStruct == nullptr || frameListStruct == nullptr) break;
            if (skinned)
                buildSkinnedScene();
            else
                buildPlainScene();
        }
    } catch (...) {
        // Nothing may escape into the host; what was built stays in the scene.
    }

    releaseClumpTables();
    skinTable.clear();
    uvAnimations.clear();
    hAnimNodes = nullptr;
    hAnimNodeCount = 0;
    buffer.reset();
    bufferSize = 0;
    if (progressOpen) coreInterface->ProgressEnd();
    return 1;
}

void Orvik::ReportProgress()
{
    if (coreInterface == nullptr) return;
    int percent = 0;
    if (fileSize > 0) {
        const float share = static_cast<float>(cursor) * 100.0f / static_cast<float>(fileSize);
        percent = share >= 100.0f ? 100 : (share > 0.0f ? static_cast<int>(share) : 0);
    }
    coreInterface->ProgressUpdate(percent, TRUE, nullptr);
}

DWORD Orvik::progressWorker(LPVOID importer)
{
    static_cast<Orvik*>(importer)->ReportProgress();
    return 0;
}

void Orvik::releaseClumpTables()
{
    std::vector<FrameNodeSlot>().swap(frameNodeTable);
    std::vector<GeometryRecord>().swap(geometryTable);
    std::vector<const std::uint8_t*>().swap(atomicTable);
    std::vector<std::string>().swap(frameNames);
    hAnimIdToFrame.clear();
}

void Orvik::fail()
{
    readFailed = true;
    moreChunks = false;
}

bool Orvik::require(std::uint64_t offset, std::uint64_t length)
{
    if (inBuffer(offset, length)) return true;
    fail();
    return false;
}

std::uint32_t Orvik::u32At(std::uint64_t offset)
{
    return require(offset, 4) ? loadU32(buffer.get() + offset) : 0;
}

float Orvik::f32At(std::uint64_t offset)
{
    return require(offset, 4) ? loadF32(buffer.get() + offset) : 0.0f;
}

std::uint16_t Orvik::u16At(std::uint64_t offset)
{
    return require(offset, 2) ? loadU16(buffer.get() + offset) : std::uint16_t{0};
}

std::uint8_t Orvik::u8At(std::uint64_t offset)
{
    return require(offset, 1) ? buffer[static_cast<std::size_t>(offset)] : std::uint8_t{0};
}

const std::uint8_t* Orvik::readHeader(ChunkHeader& header)
{
    if (!require(cursor, kChunkHeaderSize)) return nullptr;
    const std::uint8_t* p = buffer.get() + cursor;
    header = loadHeader(p);
    cursor += kChunkHeaderSize;
    return p;
}

bool Orvik::skipChunk(const ChunkHeader& header) { return setCursor(std::uint64_t{cursor} + header.size); }

bool Orvik::setCursor(std::uint64_t offset)
{
    if (offset > bufferSize) {
        fail();
        return false;
    }
    cursor = static_cast<std::uint32_t>(offset);
    return true;
}

FrameRecord Orvik::frameRecord(std::uint32_t frameIndex) const
{
    const std::uint8_t* p = frameRecords + std::size_t{frameIndex} * kFrameRecordSize;
    FrameRecord r{};
    float* rows[4] = {r.right, r.up, r.at, r.position};
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 3; ++c) rows[row][c] = loadF32(p + 12 * row + 4 * c);
    r.parent = loadU32(p + 48);
    r.link = loadI32(p + kFrameLinkOffset);
    return r;
}

void Orvik::setFrameLink(std::uint32_t frameIndex, std::int32_t link)
{
    storeI32(frameRecords + std::size_t{frameIndex} * kFrameRecordSize + kFrameLinkOffset, link);
}
