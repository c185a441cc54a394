#include "txd/Png.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <png.h>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace txd {
namespace {

constexpr std::size_t kPixelBytes = 4;
constexpr std::array<std::uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::uint8_t kFilterNone = 0, kFilterSub = 1, kFilterUp = 2;

// The compressor's state and its level's working buffer, kept per thread for
// the next image: together about 400 KB that would otherwise be taken fresh
// per image.
struct Compressor {
    isal_zstream stream;
    std::uint8_t levelBuffer[ISAL_DEF_LVL3_DEFAULT];
};
constexpr std::uint32_t kLevelBufferSize[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT,
                                              ISAL_DEF_LVL3_DEFAULT};

// The most a zlib stream of `size` bytes can take: the data in stored blocks
// of at most 65,535 bytes with 5 bytes of header each, the zlib header and
// checksum, and a margin for the last block's header.
std::size_t zlibBound(std::size_t size)
{
    return size + 5 * (size / 65535 + 1) + 6 + 64;
}

// Compresses `size` bytes as one zlib stream into `out` (zlibBound(size)
// bytes); the stream's size, or 0 when it cannot (a level out of range,
// memory, input over 4 GB).
std::size_t zlibCompress(const std::uint8_t* data, std::size_t size, std::uint8_t* out, int level)
{
    if (level < 0 || level > ISAL_DEF_MAX_LEVEL || size > 0xFFFFFFFFu - 65536) return 0;
    thread_local std::unique_ptr<Compressor> held;
    if (!held) held.reset(new (std::nothrow) Compressor);
    if (!held) return 0;
    isal_zstream& s = held->stream;
    isal_deflate_stateless_init(&s);
    s.level = static_cast<std::uint32_t>(level);
    s.level_buf = level == 0 ? nullptr : held->levelBuffer;
    s.level_buf_size = kLevelBufferSize[level];
    s.gzip_flag = IGZIP_ZLIB;
    s.end_of_stream = 1;
    s.flush = NO_FLUSH;
    s.next_in = const_cast<std::uint8_t*>(data);
    s.avail_in = static_cast<std::uint32_t>(size);
    s.next_out = out;
    const std::size_t bound = zlibBound(size);
    s.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(bound, 0xFFFFFFFFu));
    return isal_deflate_stateless(&s) == COMP_OK ? s.total_out : 0;
}

// Channels written per pixel: RGB when every pixel is opaque (a quarter less
// to compress, and the same pixels read back), RGBA otherwise.
std::size_t channelsOf(const Image& image)
{
    const std::uint8_t* p = image.rgba.data();
    const std::size_t n = image.rgba.size();
    for (std::size_t i = 3; i < n; i += kPixelBytes) {
        if (p[i] != 255) return 4;
    }
    return 3;
}

// Sum over i < n of |a[i] - b[i]| with the difference taken as a signed
// byte: the usual estimate of how well a filtered row compresses. Sixteen
// bytes at a time where SSE2 is there (a byte's absolute value as the
// smaller of it and its negation, summed by psadbw).
std::size_t residueSum(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    std::size_t sum = 0, i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i d = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_min_epu8(d, _mm_sub_epi8(zero, d)), zero));
    }
    sum = static_cast<std::size_t>(_mm_cvtsi128_si64(acc)) +
          static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
    for (; i < n; ++i) {
        const auto r = static_cast<std::int8_t>(a[i] - b[i]);
        sum += static_cast<std::size_t>(r < 0 ? -r : r);
    }
    return sum;
}
std::size_t subCost(const std::uint8_t* row, std::size_t n, std::size_t bpp)
{
    std::size_t sum = 0;
    for (std::size_t i = 0; i < bpp && i < n; ++i) {
        const auto r = static_cast<std::int8_t>(row[i]);
        sum += static_cast<std::size_t>(r < 0 ? -r : r);
    }
    return n <= bpp ? sum : sum + residueSum(row + bpp, row, n - bpp);
}
std::size_t upCost(const std::uint8_t* row, const std::uint8_t* above, std::size_t n)
{
    return residueSum(row, above, n);
}

// Row y of the image as `bpp` bytes per pixel: the image's own row for RGBA,
// else packed into `packed`.
const std::uint8_t* rowOf(const Image& image, std::uint32_t y, std::size_t bpp, std::uint8_t* packed)
{
    const std::uint8_t* row = &image.rgba[std::size_t{y} * image.width * kPixelBytes];
    if (bpp == kPixelBytes) return row;
    std::uint8_t* const start = packed;
    // Four bytes copied per pixel, the next pixel overwriting the alpha; the
    // last pixel's three bytes on their own.
    for (std::uint32_t x = 1; x < image.width; ++x, row += kPixelBytes, packed += 3) std::memcpy(packed, row, 4);
    std::memcpy(packed, row, 3);
    return start;
}

// Writes rows [first, end) of the image with `bpp` bytes per pixel filtered,
// each as its filter type byte and its residues, to `out`. The unfiltered
// rows are written in place; a filtered row reads its pixels (and those
// above) from packed copies when the alpha is left out.
void filterRows(const Image& image, std::size_t bpp, PngRows rows, std::uint32_t first, std::uint32_t end,
                std::uint8_t* out)
{
    const std::size_t n = std::size_t{image.width} * bpp;
    // Packed copies of this row and the one above, for the filters.
    std::vector<std::uint8_t> packed(bpp == kPixelBytes || rows == PngRows::Unfiltered ? 0 : 2 * n);
    std::uint8_t* const packedAt[2] = {packed.empty() ? nullptr : &packed[0], packed.empty() ? nullptr : &packed[n]};
    const std::uint8_t* above =
        rows == PngRows::SubOrUp && first > 0 ? rowOf(image, first - 1, bpp, packedAt[(first - 1) & 1]) : nullptr;
    for (std::uint32_t y = first; y < end; ++y) {
        std::uint8_t* at = out + 1;
        if (rows == PngRows::Unfiltered) {
            *out = kFilterNone;
            if (bpp == kPixelBytes) {
                std::memcpy(at, rowOf(image, y, bpp, nullptr), n);
            } else {
                rowOf(image, y, bpp, at);
            }
            out += n + 1;
            continue;
        }
        const std::uint8_t* row = rowOf(image, y, bpp, packedAt[y & 1]);
        // The first row has nothing above: Up would leave it as it is.
        const std::uint8_t type = y == 0 || subCost(row, n, bpp) <= upCost(row, above, n) ? kFilterSub : kFilterUp;
        *out = type;
        if (type == kFilterSub) {
            for (std::size_t i = 0; i < bpp; ++i) at[i] = row[i];
            for (std::size_t i = bpp; i < n; ++i) at[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
        } else {
            for (std::size_t i = 0; i < n; ++i) at[i] = static_cast<std::uint8_t>(row[i] - above[i]);
        }
        above = row;
        out += n + 1;
    }
}

// The PNG is built in a byte vector or a string, whichever the caller keeps.
template <class Bytes>
void put32(Bytes& png, std::uint32_t v)
{
    png.push_back(static_cast<typename Bytes::value_type>(v >> 24));
    png.push_back(static_cast<typename Bytes::value_type>(v >> 16));
    png.push_back(static_cast<typename Bytes::value_type>(v >> 8));
    png.push_back(static_cast<typename Bytes::value_type>(v));
}

template <class Bytes>
void appendBytes(Bytes& png, const std::uint8_t* data, std::size_t size)
{
    if constexpr (std::is_same_v<Bytes, std::string>) {
        png.append(reinterpret_cast<const char*>(data), size);
    } else {
        png.insert(png.end(), data, data + size);
    }
}

// Appends a chunk: length, type, data, and the CRC of type and data.
template <class Bytes>
void putChunk(Bytes& png, const char (&type)[5], const std::uint8_t* data, std::size_t size)
{
    put32(png, static_cast<std::uint32_t>(size));
    const std::size_t start = png.size();
    appendBytes(png, reinterpret_cast<const std::uint8_t*>(type), 4);
    if (size != 0) appendBytes(png, data, size);
    put32(png, libdeflate_crc32(0, &png[start], size + 4));
}

bool validImage(const Image& image, std::string& why)
{
    if (image.width == 0 || image.height == 0 ||
        image.rgba.size() != std::size_t{image.width} * image.height * kPixelBytes) {
        why = "PNG: the image has no pixels or the wrong number of bytes";
        return false;
    }
    if (image.width > 0x7FFFFFFFu || image.height > 0x7FFFFFFFu) {
        why = "PNG: the image is too large";
        return false;
    }
    return true;
}

// A buffer kept per thread for the next image: the filtered rows and the
// compressed stream of a 1024 x 1024 texture are about 4 MB each, and memory
// taken fresh from the system costs a page fault per 4 KB on every image.
// A buffer larger than kKeptScratch is released after its image.
constexpr std::size_t kKeptScratch = std::size_t{16} << 20;
class Scratch {
public:
    // At least n bytes, or null when out of memory.
    std::uint8_t* get(std::size_t n)
    {
        if (n > size) {
            data.reset();
            size = 0;
            data.reset(new (std::nothrow) std::uint8_t[n]);
            if (data) size = n;
        }
        return data.get();
    }
    void trim()
    {
        if (size > kKeptScratch) release();
    }
    void release()
    {
        data.reset();
        size = 0;
    }

private:
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
};
// The filtered rows (or a sample of them) and their compressed stream.
thread_local Scratch filteredScratch, streamScratch;

template <class Bytes>
bool encodeRows(const Image& image, std::size_t bpp, PngRows rows, Bytes& png, std::string& why, int level)
{
    if (level < 0 || level > ISAL_DEF_MAX_LEVEL) {
        why = "PNG: no compression level " + std::to_string(level);
        return false;
    }
    const std::size_t size = (std::size_t{image.width} * bpp + 1) * image.height;
    std::uint8_t* const filtered = filteredScratch.get(size);
    std::uint8_t* const stream = streamScratch.get(zlibBound(size));
    if (filtered == nullptr || stream == nullptr) {
        filteredScratch.release();
        streamScratch.release();
        why = "PNG: out of memory";
        return false;
    }
    filterRows(image, bpp, rows, 0, image.height, filtered);
    const std::size_t streamSize = zlibCompress(filtered, size, stream, level);
    filteredScratch.trim();
    if (streamSize == 0) {
        streamScratch.trim();
        why = "PNG: the compressor failed";
        return false;
    }

    const std::size_t chunks = (streamSize + kMaxIdatChunk - 1) / kMaxIdatChunk;
    png.reserve(kSignature.size() + 25 + streamSize + 12 * chunks + 12);
    png.assign(kSignature.begin(), kSignature.end());
    std::vector<std::uint8_t> header;
    put32(header, image.width);
    put32(header, image.height);
    // Bit depth 8, colour type 2 (RGB) or 6 (RGBA), deflate, adaptive filtering, no interlace.
    header.insert(header.end(), {8, static_cast<std::uint8_t>(bpp == 3 ? 2 : 6), 0, 0, 0});
    putChunk(png, "IHDR", header.data(), header.size());
    for (std::size_t done = 0; done < streamSize; done += kMaxIdatChunk) {
        putChunk(png, "IDAT", stream + done, std::min(kMaxIdatChunk, streamSize - done));
    }
    putChunk(png, "IEND", nullptr, 0);
    streamScratch.trim();
    return true;
}

PngRows chooseRows(const Image& image, std::size_t bpp, int level)
{
    constexpr std::uint32_t kBands = 4;
    const std::uint32_t bandRows = std::min(image.height, std::max<std::uint32_t>(4, image.height / (32 * kBands)));
    const std::size_t rowBytes = std::size_t{image.width} * bpp + 1;
    const std::size_t size = std::size_t{kBands} * bandRows * rowBytes;
    // The sample and its stream in the buffers the whole image takes next.
    std::uint8_t* const sample = filteredScratch.get(size);
    std::uint8_t* const stream = streamScratch.get(zlibBound(size));
    if (sample == nullptr || stream == nullptr) return PngRows::Unfiltered;
    std::size_t compressed[2] = {};
    for (const PngRows rows : {PngRows::Unfiltered, PngRows::SubOrUp}) {
        std::uint8_t* out = sample;
        for (std::uint32_t band = 0; band < kBands; ++band) {
            // Bands centred on the eighths 1, 3, 5 and 7 of the image.
            const std::uint32_t first =
                static_cast<std::uint32_t>(std::uint64_t{image.height} * (2 * band + 1) / (2 * kBands));
            const std::uint32_t start = std::min(first, image.height - bandRows);
            filterRows(image, bpp, rows, start, start + bandRows, out);
            out += bandRows * rowBytes;
        }
        compressed[rows == PngRows::SubOrUp] = zlibCompress(sample, size, stream, level);
    }
    filteredScratch.trim();
    streamScratch.trim();
    // Filtering costs about twice the time to compress: taken when it saves
    // at least an eighth on the sample.
    return compressed[1] != 0 && compressed[1] < compressed[0] - compressed[0] / 8 ? PngRows::SubOrUp
                                                                                   : PngRows::Unfiltered;
}

// The image written with the rows' filtering the writer picks.
template <class Bytes>
bool encodeChosen(const Image& image, Bytes& png, std::string& why, int level)
{
    png.clear();
    if (!validImage(image, why)) return false;
    const std::size_t bpp = channelsOf(image);
    return encodeRows(image, bpp, chooseRows(image, bpp, level), png, why, level);
}

}  // namespace

PngRows choosePngRows(const Image& image, int level)
{
    if (image.width == 0 || image.height == 0 ||
        image.rgba.size() != std::size_t{image.width} * image.height * kPixelBytes) {
        return PngRows::Unfiltered;
    }
    return chooseRows(image, channelsOf(image), level);
}

bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& why, int level)
{
    return encodeChosen(image, png, why, level);
}

bool encodePng(const Image& image, PngRows rows, std::vector<std::uint8_t>& png, std::string& why, int level)
{
    png.clear();
    if (!validImage(image, why)) return false;
    return encodeRows(image, channelsOf(image), rows, png, why, level);
}

bool encodePng(const Image& image, std::string& png, std::string& why, int level)
{
    return encodeChosen(image, png, why, level);
}

bool writtenWithAlpha(std::string_view png)
{
    // Signature, the IHDR chunk's length and type, width, height, bit depth,
    // then the colour type.
    constexpr std::size_t kColourType = 8 + 8 + 4 + 4 + 1;
    return png.size() > kColourType &&
           std::equal(kSignature.begin(), kSignature.end(), png.begin(),
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }) &&
           png.substr(12, 4) == "IHDR" && png[kColourType] == 6;
}

bool decodePng(const std::vector<std::uint8_t>& png, Image& image, std::string& why)
{
    // libpng's simplified reading interface reports errors without a jump.
    png_image reader;
    std::memset(&reader, 0, sizeof reader);
    reader.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&reader, png.data(), png.size())) {
        why = std::string("PNG: ") + reader.message;
        return false;
    }
    reader.format = PNG_FORMAT_RGBA;
    image.width = reader.width;
    image.height = reader.height;
    image.rgba.resize(PNG_IMAGE_SIZE(reader));
    if (!png_image_finish_read(&reader, nullptr, image.rgba.data(), 0, nullptr)) {
        why = std::string("PNG: ") + reader.message;
        png_image_free(&reader);
        return false;
    }
    return true;
}

}  // namespace txd
