// Texture dictionaries: the reader, the decoders and PNG writing, on
// dictionaries made by the test writer (expected pixels computed here from
// the values written) and on the real sample dictionaries.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <squish.h>

#include "support/Golden.h"
#include "support/ImportHarness.h"
#include "support/Programs.h"
#include "testkit/TxdWriter.h"
#include "txd/Decode.h"
#include "txd/Dictionary.h"
#include "txd/Png.h"

namespace fs = std::filesystem;
using Rgba = std::array<int, 4>;

namespace {

// n-bit value scaled to 0..255 (rounded).
int scale(unsigned v, unsigned bits)
{
    return static_cast<int>(std::lround(v * 255.0 / ((1u << bits) - 1)));
}

txd::Dictionary readOne(const std::vector<std::uint8_t>& bytes)
{
    return txd::readDictionary(bytes);
}

Rgba pixel(const txd::Image& image, std::size_t i)
{
    return {image.rgba[i * 4], image.rgba[i * 4 + 1], image.rgba[i * 4 + 2], image.rgba[i * 4 + 3]};
}

void expectPixels(const txd::Image& image, const std::vector<Rgba>& expected, int tolerance, const std::string& what)
{
    ASSERT_EQ(image.rgba.size(), expected.size() * 4) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Rgba got = pixel(image, i);
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(got[c], expected[i][c], tolerance) << what << ": pixel " << i << " channel " << c;
        }
    }
}

// A dictionary holding one texture; decodes its level 0.
txd::Image decodeSingle(const txdw::Texture& t, txd::Texture* read = nullptr)
{
    txdw::Dictionary d;
    d.textures = {t};
    const std::vector<std::uint8_t> bytes = txdw::write(d);
    const txd::Dictionary dict = readOne(bytes);
    txd::Image image;
    EXPECT_TRUE(dict.ended.empty()) << dict.ended;
    if (dict.textures.size() != 1) {
        ADD_FAILURE() << "expected one texture";
        return image;
    }
    std::string why;
    EXPECT_TRUE(txd::decodeLevel0(dict.textures[0], image, why)) << t.name << ": " << why;
    // A buffer kept from a larger image decodes to the same pixels.
    txd::Image kept{64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 0xAB)};
    EXPECT_TRUE(txd::decodeLevel0(dict.textures[0], kept, why)) << t.name << ": " << why;
    EXPECT_EQ(kept.rgba, image.rgba) << t.name << ": decoded into a kept buffer";
    if (read) *read = dict.textures[0];
    return image;
}

struct PlainCase {
    const char* name;
    std::uint32_t platform;
    std::uint32_t rasterFormat;
    std::uint32_t formatWord;
    std::uint8_t depth;
    std::vector<std::uint8_t> pixels;  // 2 x 1
    std::vector<Rgba> expected;
    const char* format;
};

}  // namespace

// Each plain format: two pixels written from known channel values, decoded
// and compared with the values scaled to 8 bits.
TEST(TxdDecode, PlainFormatsGiveTheirChannels)
{
    const std::vector<PlainCase> cases = {
        {"d3d8 8888", 8, 0x0500, 1, 32, {10, 20, 30, 40, 1, 2, 3, 255}, {{30, 20, 10, 40}, {3, 2, 1, 255}}, "8888"},
        {"d3d8 888", 8, 0x0600, 0, 32, {10, 20, 30, 0, 1, 2, 3, 7}, {{30, 20, 10, 255}, {3, 2, 1, 255}}, "888"},
        {"d3d8 888 24-bit", 8, 0x0600, 0, 24, {10, 20, 30, 1, 2, 3}, {{30, 20, 10, 255}, {3, 2, 1, 255}}, "888"},
        {"d3d8 565", 8, 0x0200, 0, 16, {0x00, 0xF8, 0xE0, 0x07}, {{255, 0, 0, 255}, {0, 255, 0, 255}}, "565"},
        {"d3d8 1555", 8, 0x0100, 1, 16, {0x1F, 0x80, 0x00, 0x7C}, {{0, 0, 255, 255}, {255, 0, 0, 0}}, "1555"},
        {"d3d8 555",
         8,
         0x0A00,
         0,
         16,
         {0x10, 0x02, 0x00, 0x00},
         {{0, scale(16, 5), scale(16, 5), 255}, {0, 0, 0, 255}},
         "555"},
        {"d3d8 4444",
         8,
         0x0300,
         1,
         16,
         {0x21, 0x43, 0xF0, 0x0F},
         {{scale(3, 4), scale(2, 4), scale(1, 4), scale(4, 4)}, {255, 255, 0, 0}},
         "4444"},
        {"d3d8 LUM8", 8, 0x0400, 0, 8, {0, 200}, {{0, 0, 0, 255}, {200, 200, 200, 255}}, "LUM8"},
        {"d3d9 A8R8G8B8",
         9,
         0x0500,
         21,
         32,
         {10, 20, 30, 40, 1, 2, 3, 255},
         {{30, 20, 10, 40}, {3, 2, 1, 255}},
         "A8R8G8B8"},
        {"d3d9 X8R8G8B8",
         9,
         0x0600,
         22,
         32,
         {10, 20, 30, 0, 1, 2, 3, 9},
         {{30, 20, 10, 255}, {3, 2, 1, 255}},
         "X8R8G8B8"},
        {"d3d9 A8B8G8R8",
         9,
         0x0500,
         32,
         32,
         {10, 20, 30, 40, 1, 2, 3, 4},
         {{10, 20, 30, 40}, {1, 2, 3, 4}},
         "A8B8G8R8"},
        {"d3d9 R5G6B5",
         9,
         0x0200,
         23,
         16,
         {0x1F, 0x00, 0x20, 0x00},
         {{0, 0, 255, 255}, {0, scale(1, 6), 0, 255}},
         "R5G6B5"},
        {"d3d9 A1R5G5B5", 9, 0x0100, 25, 16, {0xE0, 0x83, 0x00, 0x00}, {{0, 255, 0, 255}, {0, 0, 0, 0}}, "A1R5G5B5"},
        {"d3d9 A4R4G4B4",
         9,
         0x0300,
         26,
         16,
         {0x00, 0x80, 0xFF, 0x0F},
         {{0, 0, 0, scale(8, 4)}, {255, 255, 255, 0}},
         "A4R4G4B4"},
        {"d3d9 L8", 9, 0x0400, 50, 8, {7, 255}, {{7, 7, 7, 255}, {255, 255, 255, 255}}, "L8"},
        {"d3d9 A8L8", 9, 0x0400, 51, 16, {7, 100, 255, 0}, {{7, 7, 7, 100}, {255, 255, 255, 0}}, "A8L8"},
        {"d3d9 A8", 9, 0x0500, 28, 8, {0, 99}, {{0, 0, 0, 0}, {0, 0, 0, 99}}, "A8"},
    };
    for (const PlainCase& c : cases) {
        txdw::Texture t;
        t.name = c.name;
        t.platform = c.platform;
        t.rasterFormat = c.rasterFormat;
        t.formatWord = c.formatWord;
        t.depth = c.depth;
        t.width = 2, t.height = 1;
        t.levels = {c.pixels};
        txd::Texture read;
        const txd::Image image = decodeSingle(t, &read);
        expectPixels(image, c.expected, 1, c.name);
        EXPECT_EQ(txd::formatName(read), c.format) << c.name;
    }
}

// Palettes: 8-bit with 256 entries, 4-bit with 32 entries stored; the index
// bytes choose entries (R, G, B, A); an index past the palette is transparent black.
TEST(TxdDecode, PalettesMapIndicesToEntries)
{
    for (const bool four : {false, true}) {
        txdw::Texture t;
        t.name = four ? "pal4" : "pal8";
        t.platform = 8;
        t.rasterFormat = (four ? 0x4000 : 0x2000) | 0x0500;
        t.depth = four ? 4 : 8;
        const int entries = four ? 32 : 256;
        for (int i = 0; i < entries; ++i) {
            t.palette.insert(t.palette.end(),
                             {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2), std::uint8_t(i * 3)});
        }
        t.width = 4, t.height = 1;
        const std::uint8_t last = four ? 15 : 255;
        t.levels = {{0, 1, last, four ? std::uint8_t(40) : std::uint8_t(128)}};
        const txd::Image image = decodeSingle(t);
        const auto entry = [](int i) { return Rgba{i & 255, 255 - i, i / 2, (i * 3) & 255}; };
        expectPixels(image, {entry(0), entry(1), entry(last), four ? Rgba{0, 0, 0, 0} : entry(128)}, 0, t.name);
    }
}

// DXT blocks with known end colours: the four-colour mode interpolates at
// thirds; the three-colour mode of DXT1 (c0 <= c1) gives the midpoint and
// transparent black; DXT3 carries explicit 4-bit alpha, DXT5 interpolated alpha.
TEST(TxdDecode, DxtBlocksFollowTheColourRules)
{
    const std::uint16_t red = txdw::pack565(31, 0, 0), blue = txdw::pack565(0, 0, 31);
    const std::uint32_t indices = 0b11100100;  // pixels 0-3: indices 0, 1, 2, 3; the rest 0
    const Rgba r{255, 0, 0, 255}, b{0, 0, 255, 255};
    const auto mix = [](Rgba p, Rgba q, int wp, int wq) {
        Rgba out{};
        for (int c = 0; c < 4; ++c) out[c] = (p[c] * wp + q[c] * wq) / (wp + wq);
        return out;
    };
    auto firstRow = [](const txd::Image& image) {
        txd::Image row = image;
        row.rgba.resize(16);
        return row;
    };
    struct Case {
        const char* name;
        std::uint32_t platform, formatWord;
        std::uint8_t compression;
        std::vector<std::uint8_t> block;
        std::vector<Rgba> expected;
    };
    std::vector<std::uint8_t> dxt3 = {0x0F, 0x8F, 0, 0, 0, 0, 0, 0};  // alpha nibbles: 15, 0, 15, 8
    const std::vector<std::uint8_t> colours = txdw::dxt1Block(red, blue, indices);
    dxt3.insert(dxt3.end(), colours.begin(), colours.end());
    // DXT5 alpha: a0 = 200 > a1 = 100, indices 0, 1, 2 (6/7 a0 + 1/7 a1), 7 (1/7 a0 + 6/7 a1)
    std::vector<std::uint8_t> dxt5 = {200, 100};
    const std::uint64_t alphaBits = 0u | (1u << 3) | (2u << 6) | (7u << 9);
    for (int i = 0; i < 6; ++i) dxt5.push_back(static_cast<std::uint8_t>(alphaBits >> (8 * i)));
    dxt5.insert(dxt5.end(), colours.begin(), colours.end());
    const Rgba third = mix(r, b, 2, 1), twoThirds = mix(r, b, 1, 2);
    const std::vector<Case> cases = {
        {"dxt1 four colours (d3d8)", 8, 0, 1, colours, {r, b, third, twoThirds}},
        {"dxt1 four colours (d3d9)", 9, 0x31545844, 8, colours, {r, b, third, twoThirds}},
        {"dxt1 three colours",
         9,
         0x31545844,
         9,
         txdw::dxt1Block(blue, red, indices),
         {b, r, mix(b, r, 1, 1), {0, 0, 0, 0}}},
        {"dxt3",
         9,
         0x33545844,
         9,
         dxt3,
         {r, {0, 0, 255, 0}, {third[0], third[1], third[2], 255}, {twoThirds[0], twoThirds[1], twoThirds[2], 136}}},
        {"dxt5",
         8,
         0,
         5,
         dxt5,
         {{255, 0, 0, 200},
          {0, 0, 255, 100},
          {third[0], third[1], third[2], (6 * 200 + 100) / 7},
          {twoThirds[0], twoThirds[1], twoThirds[2], (200 + 6 * 100) / 7}}},
    };
    for (const Case& c : cases) {
        txdw::Texture t;
        t.name = c.name;
        t.platform = c.platform;
        t.formatWord = c.formatWord;
        t.compression = c.compression;
        t.rasterFormat = 0x0200;
        t.depth = 16;
        t.levels = {c.block};
        expectPixels(firstRow(decodeSingle(t)), c.expected, 2, c.name);
    }
}

// What the reader lists: names, mask, addressing, levels and their sizes.
TEST(TxdRead, ListsEveryFieldAndLevel)
{
    txdw::Texture t;
    t.name = "wheels";
    t.mask = "wheelsa";
    t.addressing = 0x32;
    t.width = 8, t.height = 4;
    t.rasterFormat = 0x8500;
    t.levels = {std::vector<std::uint8_t>(8 * 4 * 4), std::vector<std::uint8_t>(4 * 2 * 4),
                std::vector<std::uint8_t>(2 * 1 * 4)};
    txdw::Dictionary d;
    d.stamp = 0x0401FFFF;
    d.textures = {t};
    const std::vector<std::uint8_t> bytes = txdw::write(d);
    const txd::Dictionary dict = readOne(bytes);
    ASSERT_EQ(dict.textures.size(), 1u);
    const txd::Texture& r = dict.textures[0];
    EXPECT_EQ(r.name, "wheels");
    EXPECT_EQ(r.maskName, "wheelsa");
    EXPECT_EQ(r.addressU, 2);
    EXPECT_EQ(r.addressV, 3);
    ASSERT_EQ(r.levels.size(), 3u);
    EXPECT_EQ(r.levels[2].width, 2u);
    EXPECT_EQ(r.levels[2].height, 1u);
    EXPECT_EQ(r.levels[1].bytes.size(), 32u);
    EXPECT_TRUE(dict.ended.empty());
}

// Another platform is listed with one line and the textures after it still come out.
TEST(TxdRead, OtherPlatformsAreNamedAndSkipped)
{
    txdw::Dictionary d;
    txdw::Texture ps2;
    ps2.platform = 0x00325350;
    ps2.name = "wheels";
    txdw::Texture pc;
    pc.name = "body";
    pc.levels = {std::vector<std::uint8_t>(64, 255)};
    d.textures = {ps2, pc};
    const std::vector<std::uint8_t> bytes = txdw::write(d);
    const txd::Dictionary dict = readOne(bytes);
    ASSERT_EQ(dict.textures.size(), 2u);
    EXPECT_EQ(dict.textures[0].unsupported, "PlayStation 2 texture, not supported");
    EXPECT_TRUE(dict.textures[1].decodable());
    EXPECT_TRUE(dict.ended.empty()) << dict.ended;
}

// Claims the bytes cannot back: nothing is sized from them, the textures
// before the damage come out and `ended` says where it stopped.
TEST(TxdRead, DamageEndsTheDictionaryWhereItIs)
{
    txdw::Texture good;
    good.name = "good";
    good.levels = {std::vector<std::uint8_t>(64, 1)};

    txdw::Texture huge = good;  // 16384 x 16384 claimed in a few bytes
    huge.name = "huge";
    huge.width = huge.height = 16384;
    txdw::Dictionary d;
    d.textures = {good, huge};
    txd::Dictionary dict = readOne(txdw::write(d));
    ASSERT_EQ(dict.textures.size(), 2u);
    txd::Image image;
    std::string why;
    EXPECT_FALSE(txd::decodeLevel0(dict.textures[1], image, why));
    EXPECT_TRUE(image.rgba.empty());
    EXPECT_NE(why.find("level 0 holds 64 bytes"), std::string::npos) << why;

    huge.width = huge.height = 4;
    huge.firstLevelSize = 0x40000000;  // a level longer than the file
    d.textures = {good, huge, good};
    dict = readOne(txdw::write(d));
    ASSERT_EQ(dict.textures.size(), 1u);
    EXPECT_NE(dict.ended.find("texture huge: level 0 declares 1073741824 bytes"), std::string::npos) << dict.ended;

    huge.firstLevelSize.reset();
    huge.head.size = 0xFFFFFF00;  // a texture chunk longer than the file
    d.textures = {good, huge};
    dict = readOne(txdw::write(d));
    ASSERT_EQ(dict.textures.size(), 1u);
    EXPECT_NE(dict.ended.find("texture 2 declares"), std::string::npos) << dict.ended;

    d.textures = {good};
    d.count = 60000;  // more textures than the file holds: the extension is no texture
    dict = readOne(txdw::write(d));
    ASSERT_EQ(dict.textures.size(), 1u);
    EXPECT_NE(dict.ended.find("texture 2 is a chunk of type 0x3"), std::string::npos) << dict.ended;
}

// Every prefix of a small dictionary is read from an exact-size buffer
// (the sanitizers judge the reads); shorter prefixes never give more textures.
TEST(TxdRead, EveryPrefixIsReadSafely)
{
    txdw::Texture t;
    t.levels = {std::vector<std::uint8_t>(64, 7), std::vector<std::uint8_t>(16, 7)};
    txdw::Texture pal = t;
    pal.rasterFormat = 0x2500;
    pal.palette.assign(1024, 9);
    pal.levels = {std::vector<std::uint8_t>(16, 3)};
    txdw::Dictionary d;
    d.textures = {t, pal, t};
    const std::vector<std::uint8_t> bytes = txdw::write(d);
    std::size_t previous = 0;
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        const std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        const txd::Dictionary dict = readOne(prefix);
        EXPECT_GE(dict.textures.size(), previous) << n;
        previous = dict.textures.size();
        for (const txd::Texture& tex : dict.textures) {
            txd::Image image;
            std::string why;
            txd::decodeLevel0(tex, image, why);
        }
        EXPECT_EQ(dict.ended.empty(), n == bytes.size()) << n << ": " << dict.ended;
    }
    EXPECT_EQ(previous, 3u);
}

namespace {

// A test image: the pixel at (x, y) from a rule.
template <class Rule>
txd::Image makeImage(std::uint32_t width, std::uint32_t height, Rule rule)
{
    txd::Image image;
    image.width = width, image.height = height;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            for (const int c : rule(x, y)) image.rgba.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return image;
}

std::uint32_t mix(std::uint32_t x, std::uint32_t y, std::uint32_t salt)
{
    std::uint32_t h = x * 0x9E3779B1u ^ (y + salt) * 0x85EBCA77u;
    h ^= h >> 15, h *= 0x2C1B3C6Du, h ^= h >> 12;
    return h;
}

// Two of four colours per 4 x 4 block, as decoded DXT textures repeat pixels.
Rgba blockyPixel(std::uint32_t x, std::uint32_t y)
{
    static const Rgba colours[4] = {{200, 30, 30, 255}, {20, 180, 60, 255}, {90, 90, 250, 128}, {255, 255, 255, 0}};
    return colours[(mix(x / 4, y / 4, 1) + ((x ^ y) & 1)) % 4];
}
// A smooth gradient with a little noise, as photographs are.
Rgba smoothPixel(std::uint32_t x, std::uint32_t y)
{
    const int n = static_cast<int>(mix(x, y, 2) % 5) - 2;
    return {std::clamp(static_cast<int>(x) + n, 0, 255), std::clamp(static_cast<int>(y) * 2 + n, 0, 255),
            std::clamp(static_cast<int>(x + y) / 2 + n, 0, 255), 255};
}
// Every byte independent: residues wrap around in both directions.
Rgba noisePixel(std::uint32_t x, std::uint32_t y)
{
    const std::uint32_t h = mix(x, y, 3);
    return {static_cast<int>(h & 255), static_cast<int>(h >> 8 & 255), static_cast<int>(h >> 16 & 255),
            static_cast<int>(h >> 24)};
}

// The chunks of a PNG after its signature: type and data length.
std::vector<std::pair<std::string, std::size_t>> pngChunks(const std::vector<std::uint8_t>& png)
{
    std::vector<std::pair<std::string, std::size_t>> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length =
            std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 | std::size_t{png[at + 2]} << 8 | png[at + 3];
        chunks.emplace_back(std::string(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                        png.begin() + static_cast<std::ptrdiff_t>(at + 8)),
                            length);
        at += 12 + length;
    }
    return chunks;
}

// The rows of a written PNG as they were compressed: each row's filter type
// and residues (the IDAT chunks' data inflated). Empty when they do not inflate.
std::vector<std::uint8_t> filteredRows(const std::vector<std::uint8_t>& png, std::size_t size)
{
    std::vector<std::uint8_t> stream;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length =
            std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 | std::size_t{png[at + 2]} << 8 | png[at + 3];
        if (std::equal(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                       png.begin() + static_cast<std::ptrdiff_t>(at + 8), "IDAT")) {
            stream.insert(stream.end(), png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                          png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        }
        at += 12 + length;
    }
    std::vector<std::uint8_t> rows(size);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    std::size_t got = 0;
    const bool ok = libdeflate_zlib_decompress(d, stream.data(), stream.size(), rows.data(), size, &got) ==
                    LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(d);
    if (!ok || got != size) rows.clear();
    return rows;
}

// Sum of |a[i] - b[i]| with each difference a signed byte, one byte at a time.
std::size_t residues(const std::vector<int>& a, const std::vector<int>& b)
{
    std::size_t sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += static_cast<std::size_t>(std::abs(static_cast<std::int8_t>(a[i] - b[i])));
    return sum;
}

}  // namespace

// Filtered rows each take Sub or Up, whichever leaves the smaller sum of
// residues (Sub on a tie and on the first row), at widths on either side of
// the sixteen bytes the writer sums at a time, with and without alpha.
TEST(TxdPng, EachFilteredRowTakesTheSmallerResidues)
{
    constexpr std::uint32_t kHeight = 12;
    for (const std::uint32_t width : {1u, 5u, 6u, 16u, 17u, 43u}) {
        for (const bool opaque : {true, false}) {
            // Rows alternate between smooth (Sub wins) and noise repeating the row above (Up wins).
            const txd::Image image = makeImage(width, kHeight, [&](std::uint32_t x, std::uint32_t y) {
                Rgba p = y % 3 == 0 ? smoothPixel(x, y) : noisePixel(x, y / 3 * 3 + 1);
                if (opaque) p[3] = 255;
                return p;
            });
            const std::string what = std::to_string(width) + (opaque ? " RGB" : " RGBA");
            std::vector<std::uint8_t> png;
            std::string why;
            ASSERT_TRUE(txd::encodePng(image, txd::PngRows::SubOrUp, png, why)) << what << ": " << why;
            const std::size_t bpp = opaque ? 3 : 4, n = width * bpp;
            const std::vector<std::uint8_t> rows = filteredRows(png, (n + 1) * kHeight);
            ASSERT_FALSE(rows.empty()) << what;
            std::vector<int> above(n), row(n), left(n);
            for (std::uint32_t y = 0; y < kHeight; ++y) {
                for (std::size_t i = 0; i < n; ++i) {
                    row[i] = image.rgba[(std::size_t{y} * width + i / bpp) * 4 + i % bpp];
                    left[i] = i < bpp ? 0 : row[i - bpp];
                }
                const int expected = y == 0 || residues(row, left) <= residues(row, above) ? 1 : 2;
                EXPECT_EQ(rows[y * (n + 1)], expected) << what << ", row " << y;
                above = row;
            }
        }
    }
}

// The PNG written reads back (libpng, which checks every CRC and the zlib
// checksum) to the same pixels, alpha included, with either row filtering and
// at every level, on shapes that reach the edges of the filters (one row, one
// column, one pixel). Opaque images are written as RGB (colour type 2), the
// others as RGBA (6).
TEST(TxdPng, WrittenImagesReadBackEqual)
{
    struct Case {
        const char* name;
        txd::Image image;
    };
    const Case cases[] = {
        {"one pixel", makeImage(1, 1, noisePixel)},
        {"one row", makeImage(37, 1, smoothPixel)},
        {"one column", makeImage(1, 37, smoothPixel)},
        {"3 x 2 alpha", makeImage(3, 2,
                                  [](std::uint32_t x, std::uint32_t y) {
                                      const int i = static_cast<int>(y * 3 + x);
                                      return Rgba{i * 40, 255 - i, 7, i * 50};
                                  })},
        {"blocky", makeImage(64, 48, blockyPixel)},
        {"smooth", makeImage(100, 61, smoothPixel)},
        {"noise", makeImage(33, 70, noisePixel)},
        // Incompressible and longer than one stored deflate block.
        {"noise, 150 KB", makeImage(200, 190, noisePixel)},
    };
    for (const Case& c : cases) {
        for (const txd::PngRows rows : {txd::PngRows::Unfiltered, txd::PngRows::SubOrUp}) {
            for (const int level : {0, 1, 2, 3}) {
                const std::string what = std::string(c.name) + ", rows " + std::to_string(static_cast<int>(rows)) +
                                         ", level " + std::to_string(level);
                std::vector<std::uint8_t> png;
                std::string why;
                ASSERT_TRUE(txd::encodePng(c.image, rows, png, why, level)) << what << ": " << why;
                txd::Image back;
                ASSERT_TRUE(txd::decodePng(png, back, why)) << what << ": " << why;
                EXPECT_EQ(back.width, c.image.width) << what;
                EXPECT_EQ(back.height, c.image.height) << what;
                EXPECT_EQ(back.rgba, c.image.rgba) << what;
                ASSERT_GT(png.size(), 25u);
                EXPECT_EQ(png[25], txd::alphaUse(c.image) == txd::AlphaUse::Opaque ? 2 : 6) << what;
                EXPECT_EQ(txd::writtenWithAlpha(std::string(png.begin(), png.end())),
                          txd::alphaUse(c.image) != txd::AlphaUse::Opaque)
                    << what;
            }
        }
    }
    EXPECT_FALSE(txd::writtenWithAlpha(""));
    EXPECT_FALSE(txd::writtenWithAlpha(std::string(40, '\x06')));
    EXPECT_EQ(txd::alphaUse(cases[3].image), txd::AlphaUse::Blend);
    EXPECT_EQ(txd::alphaUse(cases[1].image), txd::AlphaUse::Opaque);
}

// Images whose pixels repeat stay unfiltered, smooth ones are filtered; the
// choice is the smaller of the two encodings, and the default writer takes it.
TEST(TxdPng, RowFilteringChosenByTheSmallerEncoding)
{
    struct Case {
        const char* name;
        txd::Image image;
        txd::PngRows expected;
    };
    const Case cases[] = {
        {"blocky", makeImage(256, 256, blockyPixel), txd::PngRows::Unfiltered},
        {"smooth", makeImage(256, 128, smoothPixel), txd::PngRows::SubOrUp},
        {"small blocky", makeImage(16, 8, blockyPixel), txd::PngRows::Unfiltered},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(txd::choosePngRows(c.image), c.expected) << c.name;
        std::vector<std::uint8_t> chosen, unfiltered, filtered;
        std::string why;
        ASSERT_TRUE(txd::encodePng(c.image, chosen, why)) << why;
        ASSERT_TRUE(txd::encodePng(c.image, txd::PngRows::Unfiltered, unfiltered, why)) << why;
        ASSERT_TRUE(txd::encodePng(c.image, txd::PngRows::SubOrUp, filtered, why)) << why;
        EXPECT_EQ(chosen, c.expected == txd::PngRows::Unfiltered ? unfiltered : filtered) << c.name;
        std::string asText;
        ASSERT_TRUE(txd::encodePng(c.image, asText, why)) << why;
        EXPECT_TRUE(std::equal(asText.begin(), asText.end(), chosen.begin(), chosen.end(),
                               [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            << c.name << ": written into a string";
        EXPECT_LE(chosen.size(), std::min(unfiltered.size(), filtered.size()) * 11 / 10) << c.name;
    }
}

// Image data longer than one chunk is split over IDAT chunks of bounded size,
// between the header and the end.
TEST(TxdPng, LongImageDataSplitIntoBoundedChunks)
{
    const txd::Image image = makeImage(600, 600, noisePixel);
    std::vector<std::uint8_t> png;
    std::string why;
    ASSERT_TRUE(txd::encodePng(image, png, why)) << why;
    const auto chunks = pngChunks(png);
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(chunks.front(), std::make_pair(std::string("IHDR"), std::size_t{13}));
    EXPECT_EQ(chunks.back(), std::make_pair(std::string("IEND"), std::size_t{0}));
    std::size_t data = 0;
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].first, "IDAT");
        EXPECT_LE(chunks[i].second, txd::kMaxIdatChunk);
        data += chunks[i].second;
    }
    EXPECT_GT(data, txd::kMaxIdatChunk);
    txd::Image back;
    ASSERT_TRUE(txd::decodePng(png, back, why)) << why;
    EXPECT_EQ(back.rgba, image.rgba);
}

// The buffers the writer keeps between images leave no trace: an image
// written after a larger one, and after one whose buffers are over the kept
// size and released, is the same file as when written first.
TEST(TxdPng, KeptBuffersLeaveNoTrace)
{
    const txd::Image small = makeImage(37, 19, noisePixel);
    const txd::Image larger[] = {makeImage(600, 600, smoothPixel), makeImage(2100, 2100, blockyPixel)};
    std::vector<std::uint8_t> first, again, other;
    std::string why;
    ASSERT_TRUE(txd::encodePng(small, first, why)) << why;
    for (const txd::Image& image : larger) {
        ASSERT_TRUE(txd::encodePng(image, other, why)) << why;
        txd::Image back;
        ASSERT_TRUE(txd::decodePng(other, back, why)) << why;
        EXPECT_EQ(back.rgba, image.rgba) << image.width;
        ASSERT_TRUE(txd::encodePng(small, again, why)) << why;
        EXPECT_EQ(again, first) << image.width;
    }
}

// An image without pixels, or with fewer or more bytes than its size, is refused.
TEST(TxdPng, InconsistentImagesAreRefused)
{
    txd::Image wrongSize = makeImage(4, 4, noisePixel);
    wrongSize.rgba.pop_back();
    txd::Image noRows = makeImage(4, 4, noisePixel);
    noRows.height = 0;
    for (const txd::Image& image : {txd::Image{}, wrongSize, noRows}) {
        std::vector<std::uint8_t> png{1, 2, 3};
        std::string why;
        EXPECT_FALSE(txd::encodePng(image, png, why));
        EXPECT_NE(why.find("PNG:"), std::string::npos);
        EXPECT_TRUE(png.empty());
    }
}

// Every sample dictionary is read to its end and every texture decodes; DXT
// textures give exactly what libsquish gives; the PNG reads back to the same pixels.
TEST(TxdSamples, EveryTextureDecodes)
{
    ORVIK_REQUIRE_SAMPLES();
    std::size_t files = 0, textures = 0;
    for (const auto& entry : fs::directory_iterator(samplesFolder())) {
        if (entry.path().extension() != ".txd") continue;
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const txd::Dictionary dict = readOne(bytes);
        const std::string file = entry.path().filename().string();
        EXPECT_TRUE(dict.ended.empty()) << file << ": " << dict.ended;
        EXPECT_EQ(dict.textures.size(), dict.declaredCount) << file;
        for (const txd::Texture& t : dict.textures) {
            ++textures;
            txd::Image image;
            std::string why;
            ASSERT_TRUE(txd::decodeLevel0(t, image, why)) << file << " " << t.name << ": " << why;
            if (t.encoding == txd::Encoding::Dxt1 || t.encoding == txd::Encoding::Dxt3 ||
                t.encoding == txd::Encoding::Dxt5) {
                std::vector<std::uint8_t> reference(image.rgba.size());
                const int flags = t.encoding == txd::Encoding::Dxt1   ? squish::kDxt1
                                  : t.encoding == txd::Encoding::Dxt3 ? squish::kDxt3
                                                                      : squish::kDxt5;
                squish::DecompressImage(reference.data(), t.width, t.height, t.levels[0].bytes.data(), flags);
                EXPECT_EQ(image.rgba, reference) << file << " " << t.name;
            }
            std::vector<std::uint8_t> png;
            ASSERT_TRUE(txd::encodePng(image, png, why)) << why;
            txd::Image back;
            ASSERT_TRUE(txd::decodePng(png, back, why)) << why;
            EXPECT_EQ(back.rgba, image.rgba) << file << " " << t.name;
        }
    }
    EXPECT_EQ(files, 14u);
    EXPECT_GE(textures, 50u);
}

// ---------------------------------------------------------------------------
// orvik txd list | extract

namespace {

class TxdCli : public ScratchFolder {
protected:
    // Runs orvik in the test's folder; args are separated by spaces.
    ProgramRun orvik(const std::string& args)
    {
        std::vector<std::string> argv = {std::string(ORVIK_BIN_DIR) + "/orvik"};
        std::istringstream words(args);
        for (std::string w; words >> w;) argv.push_back(w);
        return runProgram(argv, dir, dir);
    }

    void save(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        put(name, std::string(bytes.begin(), bytes.end()));
    }
};

// Textures whose names collide (as the game compares them) or would leave the folder, and one of another platform.
txdw::Dictionary awkwardNames()
{
    txdw::Texture body;
    body.name = "Body";
    body.width = 2, body.height = 1;
    body.levels = {{10, 20, 30, 255, 40, 50, 60, 128}, {10, 20, 30, 255}};
    txdw::Texture lower = body;
    lower.name = "body";
    lower.mask = "bodya";
    txdw::Texture up = body;
    up.name = "../evil";
    txdw::Texture slash = body;
    slash.name = "a/b";
    txdw::Texture ps2;
    ps2.platform = 0x00325350;
    ps2.name = "wheels";
    txdw::Dictionary d;
    d.textures = {body, lower, up, slash, ps2};
    return d;
}

}  // namespace

TEST_F(TxdCli, ListPrintsOneLinePerTexture)
{
    save("cars.txd", txdw::write(awkwardNames()));
    const ProgramRun r = orvik("txd list cars.txd");
    EXPECT_EQ(r.status, 0) << r.err;
    expectGolden("txd-list.txt", r.out);
    EXPECT_EQ(r.err, "wheels: PlayStation 2 texture, not supported\n");

    const ProgramRun json = orvik("txd list cars.txd --json -");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["textures"].size(), 5u);
    EXPECT_EQ(j["textures"][1]["mask"], "bodya");
    EXPECT_EQ(j["textures"][0]["levels"][1]["width"], 1);
    EXPECT_EQ(j["textures"][4]["problem"], "PlayStation 2 texture, not supported");
}

// Every texture becomes one PNG inside the folder: names made safe, collisions
// suffixed, an existing file replaced; nothing else is written.
TEST_F(TxdCli, ExtractWritesOnePngPerTextureInsideTheFolder)
{
    save("cars.txd", txdw::write(awkwardNames()));
    fs::create_directory(dir / "out");
    std::ofstream(dir / "out" / "Body.png") << "old";
    const ProgramRun r = orvik("txd extract cars.txd out");
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(dir)) written.insert(fs::relative(e.path(), dir).string());
    EXPECT_EQ(written, (std::set<std::string>{"cars.txd", "out", "out/Body.png", "out/body_2.png", "out/_._evil.png",
                                              "out/a_b.png"}));
    const std::string png = readFile(dir / "out" / "body_2.png");
    txd::Image image;
    std::string why;
    ASSERT_TRUE(txd::decodePng(std::vector<std::uint8_t>(png.begin(), png.end()), image, why)) << why;
    expectPixels(image, {{30, 20, 10, 255}, {60, 50, 40, 128}}, 0, "body");
    EXPECT_NE(readFile(dir / "out" / "Body.png"), "old");
}

TEST_F(TxdCli, ExitStatuses)
{
    txdw::Dictionary onlyPs2 = awkwardNames();
    onlyPs2.textures = {onlyPs2.textures.back()};
    save("ps2.txd", txdw::write(onlyPs2));
    save("model.dff", dffw::write(dffw::Clump{}));
    save("Body.png", txdw::write(awkwardNames()));  // a dictionary an extract would replace
    struct Case {
        std::string args;
        int status;
        std::string err;
    };
    for (const Case& c : std::vector<Case>{
             {"txd list missing.txd", 2, "orvik: missing.txd: no such file\n"},
             {"txd extract model.dff out", 2, "orvik: model.dff: not a texture dictionary\n"},
             {"txd extract ps2.txd out", 3, "wheels: PlayStation 2 texture, not supported\n"},
             {"txd list", 2, ""},
             {"txd extract Body.png .", 2, "orvik: ./Body.png: would overwrite the texture dictionary Body.png\n"},
             {"txd list Body.png --json Body.png", 2,
              "orvik: Body.png: would overwrite the texture dictionary Body.png\n"},
         }) {
        const ProgramRun r = orvik(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err) << c.args;
        }
    }
    const std::vector<std::uint8_t> bytes = txdw::write(awkwardNames());
    EXPECT_EQ(readFile(dir / "Body.png"), std::string(bytes.begin(), bytes.end()));  // neither refusal touched it
}

namespace {

// The JSON chunk of a GLB file.
nlohmann::json glbJson(const std::string& glb)
{
    if (glb.size() < 20) return {};
    std::uint32_t length = 0;
    std::memcpy(&length, glb.data() + 12, 4);
    return nlohmann::json::parse(glb.substr(20, length), nullptr, false);
}

txdw::Texture solid(const std::string& name, std::uint8_t blue, std::uint8_t alpha)
{
    txdw::Texture t;
    t.name = name;
    t.width = 2, t.height = 1;
    t.levels = {{blue, 0, 0, 255, blue, 0, 0, alpha}};
    return t;
}

}  // namespace

// Textures without image files come from the dictionaries: --txd in order,
// then the model's own .txd beside it (any case); names match in any case;
// a texture whose pixels use alpha blends, an opaque one stays opaque; the
// summary says where each came from.
TEST_F(TxdCli, GltfTakesMissingTexturesFromDictionaries)
{
    dffw::Clump clump;
    for (const char* name : {"Body", "glass", "tyre", "absent"}) {
        const auto index = static_cast<std::uint32_t>(clump.geometries.size());
        clump.frames.push_back(dffw::namedFrame(name, clump.frames.empty() ? 0xFFFFFFFF : 0));
        dffw::Geometry g = dffw::makeQuad();
        g.materials[0].textures = {dffw::namedTexture(name)};
        clump.geometries.push_back(g);
        clump.atomics.push_back(dffw::atomic(index, index));
    }
    save("car.dff", dffw::write(clump));
    txdw::Dictionary named, beside;
    named.textures = {solid("BODY", 200, 0)};  // named first: wins over the one beside
    beside.textures = {solid("body", 10, 255), solid("Glass", 50, 128), solid("tyre", 90, 255)};
    save("extra.txd", txdw::write(named));
    save("CAR.TXD", txdw::write(beside));

    const ProgramRun r = orvik("import car.dff --gltf car.glb --no-progress --txd extra.txd");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("texture Body: embedded from extra.txd (texture BODY)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("texture glass: embedded from ./CAR.TXD (texture Glass)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("texture absent: no image file found and not in extra.txd, ./CAR.TXD"), std::string::npos)
        << r.out;

    const nlohmann::json j = glbJson(readFile(dir / "car.glb"));
    ASSERT_TRUE(j.is_object());
    ASSERT_EQ(j["images"].size(), 3u);
    std::map<std::string, std::string> modes;  // image name -> alpha mode of the material showing it
    for (const auto& m : j["materials"]) {
        if (!m["pbrMetallicRoughness"].contains("baseColorTexture")) continue;
        const int texture = m["pbrMetallicRoughness"]["baseColorTexture"]["index"];
        const int image = j["textures"][texture]["source"];
        modes[j["images"][image]["name"]] = m.value("alphaMode", "OPAQUE");
    }
    EXPECT_EQ(modes, (std::map<std::string, std::string>{{"BODY.png", "BLEND"},
                                                         {"Glass.png", "BLEND"},
                                                         {"tyre.png", "OPAQUE"}}));
}
