// What a model carries beyond its meshes: the collision in the clump's
// extension, the 2d effects in a geometry's extension, and the count of
// every extension sub-chunk the import does not build.
#include "importer/Orvik.h"

namespace {

// Names of the sub-chunks met in model files that the import passes over.
const char* skippedChunkName(std::uint32_t type)
{
    switch (type) {
    case 0x1F:
        return "right-to-render";
    case ChunkType::MorphPlugin:
        return "morph";
    case 0x110:
        return "sky mipmap";
    case ChunkType::MaterialEffectsPlugin:
        return "material effects";
    case ChunkType::NativeDataPlugin:
        return "native data";
    case 0x253F2F3:
        return "pipeline set";
    case ChunkType::Breakable:
        return "breakable";
    default:
        return nullptr;
    }
}

}  // namespace

void Orvik::readClumpExtension(std::uint64_t clumpEnd)
{
    if (readFailed) return;
    ChunkView view = viewOf(cursor, clumpEnd, "the clump's extension");
    if (!view.holds(0, kChunkHeaderSize)) return;
    const ChunkHeader e = view.header(0);
    // Only an extension that lies whole in the clump is read.
    if (e.type != ChunkType::Extension || !isAcceptedStamp(e.stamp) || e.size > view.left(kChunkHeaderSize)) return;
    cursor += kChunkHeaderSize;
    walkExtension(cursor + e.size, [&](const ChunkHeader& sub, ChunkView body) {
        if (sub.type == ChunkType::Collision)
            readCollisionChunk(body);
        else
            noteSkipped(sub.type, body.size());
    });
}

void Orvik::readCollisionChunk(ChunkView body)
{
    orvik::col::ReadResult read = orvik::col::readCollision(body.span(0, body.size()));
    if (!read.error.empty()) {
        writeLog(SYSLOG_WARN,
                 joinText("the collision at ", hexOffset(body.begin()), ": ", read.error, "; ",
                          std::to_string(read.models.size()),
                          read.models.size() == 1 ? " entry before it imported" : " entries before it imported"));
    }
    for (orvik::col::Model& model : read.models) clumpCollision.push_back(std::move(model));
}

void Orvik::readEffectsChunk(std::uint32_t geometryIndex, ChunkView body)
{
    orvik::col::EffectsResult read = orvik::col::readEffects(body.span(0, body.size()));
    if (!read.error.empty()) {
        writeLog(SYSLOG_WARN,
                 joinText("the 2d effects of geometry ", std::to_string(geometryIndex), " at ", hexOffset(body.begin()),
                          ": ", read.error, "; ", std::to_string(read.effects.size()), " of ",
                          groupedNumber(read.declared), " entries imported"));
    }
    std::vector<orvik::col::Effect>& effects = geometryEffects[geometryIndex];
    for (orvik::col::Effect& effect : read.effects) effects.push_back(std::move(effect));
}

void Orvik::noteSkipped(std::uint32_t type, std::uint32_t bodySize)
{
    Skipped& kind = skippedChunks[type];
    ++kind.count;
    kind.bytes += bodySize;
}

void Orvik::logSkippedChunks()
{
    for (const auto& [type, kind] : skippedChunks) {
        const char* name = skippedChunkName(type);
        const std::string what = name != nullptr ? joinText(name, " chunk") : std::string("chunk");
        writeLog(SYSLOG_INFO,
                 joinText(groupedNumber(kind.count), " ", what, kind.count == 1 ? "" : "s", " (type ", hexOffset(type),
                          ", ", groupedNumber(kind.bytes), kind.bytes == 1 ? " byte" : " bytes", ") not imported"));
    }
}
