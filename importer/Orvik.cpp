// The importer object: its answers to the host, DoImport with the import
// loop, progress reporting, and the bounds-checked access to the buffer.
#include "importer/Orvik.h"

#include <algorithm>
#include <cassert>
#include <fstream>
#include <new>

namespace {
constexpr const char* kProgressTitle = "Importing DFF";
constexpr const char* kLogTitle = "DFF import";
}  // namespace

Orvik::Orvik() = default;

Orvik::~Orvik() = default;

int Orvik::ExtCount()
{
    return 1;
}
const MCHAR* Orvik::Ext(int n)
{
    (void)n;
    return "dff";
}
const MCHAR* Orvik::LongDesc()
{
    return "GTA 3 series DFF files";
}
const MCHAR* Orvik::ShortDesc()
{
    return "Grand Theft Auto DFF";
}
const MCHAR* Orvik::AuthorName()
{
    return "The Orvik developers";
}
const MCHAR* Orvik::CopyrightMessage()
{
    return "Copyright (c) The Orvik developers";
}
const MCHAR* Orvik::OtherMessage1()
{
    return "";
}
const MCHAR* Orvik::OtherMessage2()
{
    return "";
}
unsigned int Orvik::Version()
{
    return 100;
}
void Orvik::ShowAbout(void* hWnd)
{
    (void)hWnd;
}
BOOL Orvik::ZoomExtents()
{
    return 1;
}

namespace {
// Reads the file into a new buffer. The first chunk header is looked at
// before anything else is read: when it is no top-level chunk the import
// accepts, only those 12 bytes are kept (the import loop ends at them as it
// would in the whole file), so that a large file of something else is never
// read whole. False when the file cannot be opened or read, or is too large
// for the 32-bit cursor; size is then what was kept.
bool loadWholeFile(const char* path, std::unique_ptr<std::uint8_t[]>& out, std::int64_t& size)
{
    if (path == nullptr) return false;
    // Unbuffered: the header and then the rest go straight into their
    // buffers, without a stream buffer of the file's first kilobytes to fill
    // and copy from (set before the file is opened, or it has no effect).
    std::ifstream in;
    in.rdbuf()->pubsetbuf(nullptr, 0);
    in.open(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff end = in.tellg();
    if (end < 0 || static_cast<std::uint64_t>(end) > 0xFFFFFFFFull) return false;
    in.seekg(0, std::ios::beg);
    std::uint8_t first[kChunkHeaderSize] = {};
    std::int64_t keep = static_cast<std::int64_t>(end);
    if (keep >= static_cast<std::int64_t>(kChunkHeaderSize)) {
        if (!in.read(reinterpret_cast<char*>(first), kChunkHeaderSize)) return false;
        if (!isTopLevelChunk(loadHeader(first))) keep = kChunkHeaderSize;
    }
    size = keep;
    out.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size > 0 ? size : 1)]);
    if (!out) return false;
    if (size < static_cast<std::int64_t>(kChunkHeaderSize)) {
        return size == 0 || in.read(reinterpret_cast<char*>(out.get()), static_cast<std::streamsize>(size));
    }
    std::copy(first, first + kChunkHeaderSize, out.get());
    const std::int64_t rest = size - static_cast<std::int64_t>(kChunkHeaderSize);
    return rest == 0 ||
           in.read(reinterpret_cast<char*>(out.get()) + kChunkHeaderSize, static_cast<std::streamsize>(rest));
}
}  // namespace

int Orvik::DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts)
{
    (void)suppressPrompts;
    buffer.reset();
    cursor = 0;
    fileSize = 0;
    skinned = false;
    moreChunks = true;
    clumpOk = true;
    failure = ReadFailure{};
    shortClump = ReadFailure{};
    stop = ReadFailure{};
    stopAtTopLevel = false;
    clumpsMet = 0;
    clumpsBuilt = 0;
    mends = Mends{};
    skippedChunks.clear();
    hAnimNodes = {};
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
        skinBonesLeft = bytesInBuffer() / SkinLayout::MatrixSize;
        skinVerticesLeft = bytesInBuffer() / SkinLayout::VertexBytes;
        uvKeysLeft = bytesInBuffer() * 4 / UvKeyFrame::kSize;
        collisionShapesLeft = bytesInBuffer() / kCollisionShapeBytes;
        effectNodesLeft = bytesInBuffer() / 20;

        coreInterface->ProgressStart(kProgressTitle, TRUE, progressWorker, this);
        progressOpen = true;

        while (moreChunks) {
            atomicTable.clear();
            frameRecords = {};
            frameNames.clear();
            geometryTable.clear();
            clumpAt.reset();
            frameNodeTable.clear();
            frameListAt.reset();
            clumpCollision.clear();
            geometryEffects.clear();

            const std::optional<std::uint32_t> unit = readClump();
            if (readFailed) moreChunks = false;
            if (readFailed || !clumpOk || !unit) break;
            const std::uint32_t at = *unit;
            const ChunkHeader h = viewOf(at, std::uint64_t{at} + kChunkHeaderSize, "a top-level chunk").header(0);
            if (!isTopLevelChunk(h)) {
                stopAtTopLevel = true;
                noteStop(at, joinText("chunk ", hexOffset(h.type), " with stamp ", hexOffset(h.stamp),
                                      " is no clump and no UV animation dictionary"));
                break;
            }
            // A dictionary that no clump followed leaves nothing to build.
            if (!clumpAt || !frameListAt) {
                const ChunkHeader next =
                    viewOf(cursor, std::uint64_t{cursor} + kChunkHeaderSize, "a top-level chunk").header(0);
                noteStop(cursor,
                         joinText("no clump follows the UV animation dictionary at ", hexOffset(at), ": chunk ",
                                  hexOffset(next.type), " with stamp ", hexOffset(next.stamp), " stands there"));
                break;
            }
            if (skinned)
                buildSkinnedScene();
            else
                buildPlainScene();
            ++clumpsBuilt;
        }
    } catch (...) {
        // Nothing may escape into the host; what was built stays in the scene.
    }
    try {
        logImportEnd();
    } catch (...) {
    }

    releaseClumpTables();
    textureMapNames.clear();
    clumpCollision.clear();
    geometryEffects.clear();
    skinTable.clear();
    uvAnimations.clear();
    hAnimNodes = {};
    buffer.reset();
    fileSize = 0;
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
    std::vector<Records<AtomicStruct>>().swap(atomicTable);
    std::vector<std::string>().swap(frameNames);
    hAnimIdToFrame.clear();
}

ChunkView Orvik::viewToEnd(std::uint64_t offset, const char* what, std::uint32_t number)
{
    return ChunkView(buffer.get(), bytesInBuffer(), offset, bytesInBuffer(), failure, what, number);
}

ChunkView Orvik::viewOf(std::uint64_t begin, std::uint64_t end, const char* what, std::uint32_t number)
{
    return ChunkView(buffer.get(), bytesInBuffer(), begin, end, failure, what, number);
}

void Orvik::fail(std::uint64_t offset, std::string reason)
{
    moreChunks = false;
    if (failure.failed) return;
    failure.failed = true;
    failure.offset = static_cast<std::uint32_t>(std::min(offset, bytesInBuffer()));
    failure.reason = std::move(reason);
}

void Orvik::noteStop(std::uint64_t offset, std::string reason)
{
    if (stop.failed) return;
    stop = ReadFailure{true, static_cast<std::uint32_t>(std::min(offset, bytesInBuffer())), std::move(reason)};
}

namespace {
std::string clumpsImported(std::uint32_t built, std::uint32_t met)
{
    if (met == 0) return "no clump imported";
    return joinText(std::to_string(built), " of ", std::to_string(met), " clumps imported");
}

bool allZero(const std::uint8_t* bytes, std::uint64_t length)
{
    for (std::uint64_t i = 0; i < length; ++i)
        if (bytes[i] != 0) return false;
    return true;
}
}  // namespace

void Orvik::logImportEnd()
{
    // One entry per kind of mend, its count first.
    auto mended = [this](std::uint64_t count, const char* one, const char* many) {
        if (count != 0) writeLog(SYSLOG_INFO, joinText(groupedNumber(count), " ", count == 1 ? one : many));
    };
    mended(mends.facesLeftOut, "face naming a vertex the mesh lacks left out",
           "faces naming a vertex the mesh lacks left out");
    mended(mends.atomicsLeftOut, "atomic naming a frame or geometry its clump lacks left out",
           "atomics naming a frame or geometry their clump lacks left out");
    mended(mends.lightsLeftOut, "light on a frame its clump lacks left out",
           "lights on a frame their clump lacks left out");
    mended(mends.skinsLeftOut, "skin whose chunk cannot hold its vertices left out",
           "skins whose chunks cannot hold their vertices left out");
    mended(mends.extraColoursLeftOut, "set of extra vertex colours too short for its vertices left out",
           "sets of extra vertex colours too short for their vertices left out");
    mended(mends.derivedTextureSets,
           "geometry of the 3.1 library given the texture sets its flags name (its set count is 0)",
           "geometries of the 3.1 library given the texture sets their flags name (their set count is 0)");
    mended(mends.posedBones, "bone bound at the skin's bind pose, away from where its frame stands",
           "bones bound at the skin's bind pose, away from where their frames stand");
    mended(mends.singularBindMatrices,
           "inverse bone matrix that cannot be inverted: its bone is bound where its frame stands",
           "inverse bone matrices that cannot be inverted: their bones are bound where their frames stand");
    mended(mends.rigidParts, "rigid part of a skinned model linked to its frame",
           "rigid parts of skinned models linked to their frames");
    mended(mends.nonFiniteWeights, "weight that was not a number given as 0",
           "weights that were not numbers given as 0");
    mended(mends.collisionShapesLeftOut, "collision sphere or box beyond what the file size allows left out",
           "collision spheres and boxes beyond what the file size allows left out");
    mended(mends.effectsLeftOut, "2d effect beyond what the file size allows left out",
           "2d effects beyond what the file size allows left out");
    logSkippedChunks();

    const ReadFailure* end = nullptr;
    if (readFailed)
        end = shortClump.failed ? &shortClump : &failure;
    else if (shortClump.failed)
        end = &shortClump;
    else if (stop.failed)
        end = &stop;
    if (end == nullptr) return;
    // After a model, a chunk that is no clump ends the import as the format
    // intends: padding with zeros is no news, anything else is noted.
    if (end == &stop && stopAtTopLevel && clumpsBuilt > 0) {
        if (allZero(buffer.get() + stop.offset, bytesInBuffer() - stop.offset)) return;
        writeLog(SYSLOG_INFO,
                 joinText("the rest of the file from ", hexOffset(stop.offset), " is not read: ", stop.reason));
        return;
    }
    writeLog(SYSLOG_WARN, joinText("the import ended at ", hexOffset(end->offset), ": ", end->reason, "; ",
                                   clumpsImported(clumpsBuilt, clumpsMet)));
}

void Orvik::writeLog(DWORD type, const std::string& text)
{
    LogSys* log = coreInterface != nullptr ? coreInterface->Log() : nullptr;
    // The text is data: it goes in as an argument, never as the format.
    if (log != nullptr) log->LogEntry(type, FALSE, kLogTitle, "%s", text.c_str());
}

std::optional<std::uint32_t> Orvik::readHeader(ChunkHeader& header)
{
    ChunkView view = viewOf(cursor, std::uint64_t{cursor} + kChunkHeaderSize, "a chunk header");
    if (!view.need(0, kChunkHeaderSize, nullptr)) return std::nullopt;
    header = view.header(0);
    const std::uint32_t at = cursor;
    cursor += kChunkHeaderSize;
    return at;
}

std::uint32_t Orvik::bodyEnd(const ChunkHeader& header, const char* what, std::uint32_t number)
{
    if (readFailed) return 0;
    const std::uint64_t left = bytesInBuffer() - std::min<std::uint64_t>(cursor, bytesInBuffer());
    if (header.size > left) {
        std::string name = what != nullptr ? std::string(what) : joinText("chunk ", hexOffset(header.type));
        if (number != ChunkView::kNoNumber) name += joinText(" ", std::to_string(number));
        const std::uint32_t at = cursor - kChunkHeaderSize;
        fail(at, declaresText(joinText(name, " at ", hexOffset(at)), header.size, "bytes", left));
        return 0;
    }
    return cursor + header.size;
}

bool Orvik::skipChunk(const ChunkHeader& header)
{
    const std::uint32_t end = bodyEnd(header, nullptr, ChunkView::kNoNumber);
    if (readFailed) return false;
    cursor = end;
    return true;
}

bool Orvik::skipTrailingExtension()
{
    if (readFailed) return false;
    ChunkView view = viewOf(cursor, std::uint64_t{cursor} + kChunkHeaderSize, "an extension");
    if (!view.holds(0, kChunkHeaderSize)) return true;
    const ChunkHeader e = view.header(0);
    if (e.type != ChunkType::Extension || !isAcceptedStamp(e.stamp)) return true;
    cursor += kChunkHeaderSize;
    const std::uint32_t end = bodyEnd(e, nullptr, ChunkView::kNoNumber);
    if (readFailed) return false;
    walkExtension(end, [&](const ChunkHeader& sub, ChunkView body) { noteSkipped(sub.type, body.size()); });
    return !readFailed;
}

void Orvik::setFrameLink(std::uint32_t frameIndex, std::int32_t link)
{
    // The link is kept in the frame record itself, in the buffer.
    storeI32(buffer.get() + offsetOf(frameRecords.address(frameIndex)) + kFrameLinkOffset, link);
}
