// PNG through libpng.
//
// libpng reports errors by longjmp: the code between setjmp and the end of
// each guarded function holds no C++ object of its own, and everything it
// fills lives in its caller, so a jump destroys nothing.
#include <png.h>
#include <csetjmp>
#include <cstring>
#include "runtime/platform/imaging/formats.h"
#include "runtime/platform/shared_library.h"

namespace kem::platform {

// libpng, opened at the first picture of its format.
#define PNG_FUNCTIONS(F)                                                                                       \
    F(png_create_read_struct) F(png_create_write_struct) F(png_create_info_struct) F(png_destroy_read_struct)  \
    F(png_destroy_write_struct) F(png_set_longjmp_fn) F(png_longjmp) F(png_error) F(png_get_io_ptr)            \
    F(png_set_read_fn) F(png_set_write_fn) F(png_set_user_limits) F(png_set_chunk_malloc_max) F(png_read_info) \
    F(png_get_image_width) F(png_get_image_height) F(png_get_color_type) F(png_set_expand) F(png_set_scale_16) \
    F(png_set_gray_to_rgb) F(png_set_filler) F(png_set_bgr) F(png_set_interlace_handling)                      \
    F(png_read_update_info) F(png_get_rowbytes) F(png_read_image) F(png_set_IHDR) F(png_write_info)            \
    F(png_write_row) F(png_write_end)
KEM_LIBRARY_FUNCTIONS(png, PNG_FUNCTIONS)
SharedLibrary libpng(KEM_LIBPNG, png_symbols);

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t at;
};

void read_bytes(png_structp png, png_bytep out, size_t n) {
    auto* s = static_cast<Source*>(png_get_io_ptr(png));
    if (n > s->size - s->at) png_error(png, "truncated");
    std::memcpy(out, s->data + s->at, n);
    s->at += n;
}

void write_bytes(png_structp png, png_bytep data, size_t n) {
    if (!static_cast<ByteSink*>(png_get_io_ptr(png))->write(data, n)) png_error(png, "no memory");
}

void flush_nothing(png_structp) {}

[[noreturn]] void fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
    __builtin_unreachable();  // the pointer's type cannot say that it never returns
}
void ignore_warning(png_structp, png_const_charp) {}

// Every sample form becomes 8-bit B, G, R, A.
bool read_guarded(png_structp png, png_infop info, Bitmap* out, std::vector<png_bytep>* rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
    png_set_chunk_malloc_max(png, 64u << 20);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int color = png_get_color_type(png, info);
    if (!image_sides_allowed(width, height)) return false;
    png_set_expand(png);  // palette and low-bit grey to 8 bits, tRNS to alpha
    png_set_scale_16(png);
    if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);  // no effect where alpha exists
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) return false;
    if (!out->allocate(width, height)) return false;
    rows->resize(height);
    for (png_uint_32 y = 0; y < height; y++) (*rows)[y] = reinterpret_cast<png_bytep>(out->row(y));
    png_read_image(png, rows->data());
    return true;
}

bool write_guarded(png_structp png, png_infop info, const Bitmap* bitmap, ByteSink* sink) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, sink, write_bytes, flush_nothing);
    const bool alpha = !bitmap->opaque();
    png_set_IHDR(png, info, bitmap->width(), bitmap->height(), 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    // An opaque picture is written without its fourth byte.
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (uint32_t y = 0; y < bitmap->height(); y++)
        png_write_row(png, reinterpret_cast<png_const_bytep>(bitmap->row(y)));
    png_write_end(png, info);
    return true;
}

} // namespace

bool decode_png(const uint8_t* data, size_t size, Bitmap& out) {
    if (!libpng.ready()) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignore_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    Source source{data, size, 0};
    std::vector<png_bytep> rows;
    bool ok = false;
    if (info) {
        png_set_read_fn(png, &source, read_bytes);
        ok = read_guarded(png, info, &out, &rows);
    }
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return ok;
}

std::optional<std::vector<uint8_t>> encode_png(const Bitmap& bitmap) {
    if (!libpng.ready()) return std::nullopt;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignore_warning);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    ByteSink sink;
    const bool ok = info && write_guarded(png, info, &bitmap, &sink);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok || sink.failed) return std::nullopt;
    return std::move(sink.bytes);
}

} // namespace kem::platform
