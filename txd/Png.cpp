#include "txd/Png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace txd {
namespace {

// libpng reports errors by a long jump back to the setjmp in the function
// that called it; the message is kept here first. No C++ object with a
// destructor lives between a setjmp and the calls that may jump to it.
struct ErrorText {
    char text[200] = "PNG: unknown failure";
};

void onError(png_structp png, png_const_charp message)
{
    auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "PNG: %s", message);
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

void append(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
void noFlush(png_structp) {}

// Writes the image through libpng; false when libpng reported an error.
bool writeRows(const Image& image, std::vector<std::uint8_t>* png, int level, ErrorText* error)
{
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, onError, onWarning);
    if (writer == nullptr) return false;
    png_infop info = png_create_info_struct(writer);
    if (info == nullptr || setjmp(png_jmpbuf(writer))) {
        png_destroy_write_struct(&writer, &info);
        return false;
    }
    png_set_write_fn(writer, png, append, noFlush);
    png_set_compression_level(writer, level);
    png_set_IHDR(writer, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    for (png_uint_32 y = 0; y < image.height; ++y) {
        png_write_row(writer, &image.rgba[std::size_t{y} * image.width * 4]);
    }
    png_write_end(writer, nullptr);
    png_destroy_write_struct(&writer, &info);
    return true;
}

}  // namespace

bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& why, int level)
{
    if (image.width == 0 || image.height == 0 || image.rgba.size() != std::size_t{image.width} * image.height * 4) {
        why = "PNG: the image has no pixels or the wrong number of bytes";
        return false;
    }
    png.clear();
    ErrorText error;
    if (!writeRows(image, &png, level, &error)) {
        why = error.text;
        png.clear();
        return false;
    }
    return true;
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
