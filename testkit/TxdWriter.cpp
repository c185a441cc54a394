#include "testkit/TxdWriter.h"

namespace txdw {
namespace {

void applyHead(dffw::Chunk& c, const dffw::Head& head)
{
    if (head.type) c.type = *head.type;
    if (head.size) c.sizeOverride = *head.size;
    if (head.stamp) c.stamp = *head.stamp;
}

}  // namespace

void appendU16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v)), out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void appendU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    appendU16(out, static_cast<std::uint16_t>(v)), appendU16(out, static_cast<std::uint16_t>(v >> 16));
}

std::uint16_t pack565(unsigned r5, unsigned g6, unsigned b5)
{
    return static_cast<std::uint16_t>((r5 << 11) | (g6 << 5) | b5);
}

std::vector<std::uint8_t> dxt1Block(std::uint16_t c0, std::uint16_t c1, std::uint32_t indices)
{
    std::vector<std::uint8_t> out;
    appendU16(out, c0), appendU16(out, c1), appendU32(out, indices);
    return out;
}

dffw::Chunk textureChunk(const Texture& t, std::uint32_t stamp)
{
    if (t.platform == txd::Platform::PS2) {
        // PlayStation 2: platform and filter in the struct, the names in string chunks after it.
        dffw::Chunk native(txd::ChunkId::TextureNative, stamp);
        dffw::Chunk s(dffw::ChunkType::Struct, stamp);
        s.u32(t.platform).u8(t.filter).u8(t.addressing).u16(0);
        native.add(std::move(s)).add(dffw::stringChunk(t.name, dffw::NameStyle::Padded, stamp));
        native.add(dffw::stringChunk(t.mask, dffw::NameStyle::Padded, stamp));
        native.add(dffw::Chunk(dffw::ChunkType::Struct, stamp)).add(dffw::Chunk(dffw::ChunkType::Extension, stamp));
        applyHead(native, t.head);
        return native;
    }
    dffw::Chunk s(dffw::ChunkType::Struct, stamp);
    s.u32(t.platform).u8(t.filter).u8(t.addressing).u16(0);
    s.fixedString(t.name, 32).fixedString(t.mask, 32);
    s.u32(t.rasterFormat).u32(t.formatWord).u16(t.width).u16(t.height);
    s.u8(t.depth)
        .u8(t.levelCount.value_or(static_cast<std::uint8_t>(t.levels.size())))
        .u8(t.rasterType)
        .u8(t.compression);
    if (!t.palette.empty()) s.raw(t.palette);
    for (std::size_t i = 0; i < t.levels.size(); ++i) {
        const auto size = static_cast<std::uint32_t>(t.levels[i].size());
        s.u32(i == 0 ? t.firstLevelSize.value_or(size) : size).raw(t.levels[i]);
    }
    dffw::Chunk native(txd::ChunkId::TextureNative, stamp);
    native.add(std::move(s)).add(dffw::Chunk(dffw::ChunkType::Extension, stamp));
    applyHead(native, t.head);
    return native;
}

std::vector<std::uint8_t> write(const Dictionary& d)
{
    dffw::Chunk dict(txd::ChunkId::TextureDictionary, d.stamp);
    dffw::Chunk info(dffw::ChunkType::Struct, d.stamp);
    info.u16(d.count.value_or(static_cast<std::uint16_t>(d.textures.size()))).u16(d.deviceId);
    dict.add(std::move(info));
    for (const Texture& t : d.textures) dict.add(textureChunk(t, d.stamp));
    dict.add(dffw::Chunk(dffw::ChunkType::Extension, d.stamp));
    applyHead(dict, d.head);
    return dict.bytes();
}

}  // namespace txdw
