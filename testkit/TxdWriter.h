// Test-only writer of texture dictionaries, beside the DFF writer and built
// on its chunks: a dictionary chunk, its struct (count, device id) and one
// texture native chunk per texture in the PC layout (a PlayStation 2
// texture: its platform, filter and names only). Every field has a
// default that gives a valid file and can be set to lie on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testkit/DffWriter.h"
#include "txd/Dictionary.h"

namespace txdw {

struct Texture {
    std::uint32_t platform = txd::Platform::D3D9;  // or D3D8, PS2 (platform and names only)
    std::uint8_t filter = 6;
    std::uint8_t addressing = 0x11;  // U low nibble, V high nibble
    std::string name = "texture";
    std::string mask{};
    std::uint32_t rasterFormat = txd::Raster::F8888;
    std::uint32_t formatWord = txd::D3dFormat::A8R8G8B8;  // hasAlpha (Direct3D 8) or D3DFORMAT (Direct3D 9)
    std::uint16_t width = 4;
    std::uint16_t height = 4;
    std::uint8_t depth = 32;
    std::uint8_t rasterType = 4;
    std::uint8_t compression = 0;                     // Direct3D 8: DXTn; Direct3D 9: flags
    std::vector<std::uint8_t> palette{};              // written when not empty
    std::vector<std::vector<std::uint8_t>> levels{};  // each written after its size
    std::optional<std::uint8_t> levelCount{};         // written instead of levels.size()
    std::optional<std::uint32_t> firstLevelSize{};    // written instead of levels[0].size()
    dffw::Head head{};                                // of the texture native chunk
};

struct Dictionary {
    std::uint32_t stamp = dffw::kDefaultStamp;
    std::vector<Texture> textures{};
    std::optional<std::uint16_t> count{};  // written instead of textures.size()
    std::uint16_t deviceId = 2;
    dffw::Head head{};
};

dffw::Chunk textureChunk(const Texture& texture, std::uint32_t stamp = dffw::kDefaultStamp);
std::vector<std::uint8_t> write(const Dictionary& dictionary);

// Pixel packing, the way Direct3D stores them (little-endian words).
std::uint16_t pack565(unsigned r5, unsigned g6, unsigned b5);
// One DXT1 block: two 565 end colours and sixteen 2-bit indices, pixel 0 in the low bits.
std::vector<std::uint8_t> dxt1Block(std::uint16_t c0, std::uint16_t c1, std::uint32_t indices);
void appendU16(std::vector<std::uint8_t>& out, std::uint16_t v);
void appendU32(std::vector<std::uint8_t>& out, std::uint32_t v);

}  // namespace txdw
