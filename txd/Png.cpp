#include "txd/Png.h"

#include <spng.h>

#include <cstdlib>
#include <memory>

namespace txd {
namespace {

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

bool failed(int error, std::string& why)
{
    if (error == 0) return false;
    why = std::string("PNG: ") + spng_strerror(error);
    return true;
}

}  // namespace

bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& why, int level)
{
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) {
        why = "PNG: out of memory";
        return false;
    }
    spng_ihdr ihdr{};
    ihdr.width = image.width;
    ihdr.height = image.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (failed(spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1), why) ||
        failed(spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, level), why) ||
        failed(spng_set_ihdr(ctx.get(), &ihdr), why) ||
        failed(spng_encode_image(ctx.get(), image.rgba.data(), image.rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE),
               why)) {
        return false;
    }
    std::size_t size = 0;
    int error = 0;
    void* buffer = spng_get_png_buffer(ctx.get(), &size, &error);
    if (buffer == nullptr) {
        failed(error != 0 ? error : SPNG_EINTERNAL, why);
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    png.assign(bytes, bytes + size);
    std::free(buffer);
    return true;
}

bool decodePng(const std::vector<std::uint8_t>& png, Image& image, std::string& why)
{
    Context ctx(spng_ctx_new(0));
    if (!ctx) {
        why = "PNG: out of memory";
        return false;
    }
    spng_ihdr ihdr{};
    std::size_t size = 0;
    if (failed(spng_set_png_buffer(ctx.get(), png.data(), png.size()), why) ||
        failed(spng_get_ihdr(ctx.get(), &ihdr), why) ||
        failed(spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size), why)) {
        return false;
    }
    image.width = ihdr.width;
    image.height = ihdr.height;
    image.rgba.resize(size);
    return !failed(spng_decode_image(ctx.get(), image.rgba.data(), size, SPNG_FMT_RGBA8, 0), why);
}

}  // namespace txd
