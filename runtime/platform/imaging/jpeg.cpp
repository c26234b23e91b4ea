// JPEG through libjpeg-turbo.
//
// The library reports errors by longjmp: as for PNG, the guarded functions
// hold no C++ object of their own between setjmp and their end.
#include <cstdio>
#include <csetjmp>
#include <cstdlib>
#include <jpeglib.h>
#include "runtime/platform/imaging/formats.h"
#include "runtime/platform/shared_library.h"

namespace kem::platform {

// libjpeg, opened at the first picture of its format.
#define JPEG_FUNCTIONS(F)                                                                                  \
    F(jpeg_std_error) F(jpeg_CreateDecompress) F(jpeg_CreateCompress) F(jpeg_destroy_decompress)           \
    F(jpeg_destroy_compress) F(jpeg_mem_src) F(jpeg_mem_dest) F(jpeg_read_header) F(jpeg_start_decompress) \
    F(jpeg_read_scanlines) F(jpeg_finish_decompress) F(jpeg_set_defaults) F(jpeg_set_quality)              \
    F(jpeg_start_compress) F(jpeg_write_scanlines) F(jpeg_finish_compress)
KEM_LIBRARY_FUNCTIONS(jpeg, JPEG_FUNCTIONS)
SharedLibrary libjpeg(KEM_LIBJPEG, jpeg_symbols);

namespace {

// Quality of the encoder, 0..100.
constexpr int JPEG_QUALITY = 90;
// A progressive file can ask for a great many scans of very little data each:
// more than this is refused rather than decoded for minutes.
constexpr int JPEG_MAX_SCANS = 1000;
constexpr long JPEG_MAX_MEMORY = 1024L << 20;

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

[[noreturn]] void fail(j_common_ptr info) { longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void no_message(j_common_ptr, int) {}

void count_scans(j_common_ptr info) {
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->is_decompressor && d->input_scan_number > JPEG_MAX_SCANS) fail(info);
}

bool read_guarded(jpeg_decompress_struct* d, ErrorManager* err, const uint8_t* data, size_t size, Bitmap* out,
                  uint8_t** cmyk_row) {
    if (setjmp(err->jump)) return false;
    jpeg_create_decompress(d);
    d->mem->max_memory_to_use = JPEG_MAX_MEMORY;
    jpeg_mem_src(d, data, static_cast<unsigned long>(size));
    jpeg_read_header(d, TRUE);
    if (!image_sides_allowed(d->image_width, d->image_height)) return false;
    // Adobe files store CMYK inverted; the library hands the values back as stored.
    const bool cmyk = d->jpeg_color_space == JCS_CMYK || d->jpeg_color_space == JCS_YCCK;
    d->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(d);
    if (!out->allocate(d->output_width, d->output_height)) return false;
    if (cmyk) {
        *cmyk_row = static_cast<uint8_t*>(std::malloc(size_t(d->output_width) * 4));
        if (!*cmyk_row) return false;
    }
    while (d->output_scanline < d->output_height) {
        uint32_t* row = out->row(d->output_scanline);
        JSAMPROW target = cmyk ? *cmyk_row : reinterpret_cast<JSAMPROW>(row);
        jpeg_read_scanlines(d, &target, 1);
        if (cmyk) {
            const uint8_t* s = *cmyk_row;
            for (uint32_t x = 0; x < d->output_width; x++, s += 4) {
                const uint32_t k = s[3];
                row[x] = pixel_word((s[0] * k + 127) / 255, (s[1] * k + 127) / 255, (s[2] * k + 127) / 255, 255);
            }
        }
    }
    jpeg_finish_decompress(d);
    return true;
}

bool write_guarded(jpeg_compress_struct* c, ErrorManager* err, const Bitmap* bitmap, unsigned char** buffer,
                   unsigned long* size) {
    if (setjmp(err->jump)) return false;
    jpeg_create_compress(c);
    jpeg_mem_dest(c, buffer, size);
    c->image_width = bitmap->width();
    c->image_height = bitmap->height();
    c->input_components = 4;
    c->in_color_space = JCS_EXT_BGRX;  // the alpha byte is left out
    jpeg_set_defaults(c);
    jpeg_set_quality(c, JPEG_QUALITY, TRUE);
    jpeg_start_compress(c, TRUE);
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(bitmap->row(c->next_scanline)));
        jpeg_write_scanlines(c, &row, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

} // namespace

bool decode_jpeg(const uint8_t* data, size_t size, Bitmap& out) {
    if (!libjpeg.ready()) return false;
    jpeg_decompress_struct d{};
    ErrorManager err{};
    d.err = jpeg_std_error(&err.base);
    err.base.error_exit = fail;
    err.base.emit_message = no_message;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = count_scans;
    d.progress = &progress;
    uint8_t* cmyk_row = nullptr;
    const bool ok = read_guarded(&d, &err, data, size, &out, &cmyk_row);
    std::free(cmyk_row);
    jpeg_destroy_decompress(&d);
    return ok;
}

std::optional<std::vector<uint8_t>> encode_jpeg(const Bitmap& bitmap) {
    if (!libjpeg.ready()) return std::nullopt;
    if (bitmap.width() > JPEG_MAX_DIMENSION || bitmap.height() > JPEG_MAX_DIMENSION) return std::nullopt;
    jpeg_compress_struct c{};
    ErrorManager err{};
    c.err = jpeg_std_error(&err.base);
    err.base.error_exit = fail;
    err.base.emit_message = no_message;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = write_guarded(&c, &err, &bitmap, &buffer, &size);
    jpeg_destroy_compress(&c);
    std::optional<std::vector<uint8_t>> result;
    if (ok) {
        try {
            result.emplace(buffer, buffer + size);
        } catch (const std::bad_alloc&) {
        }
    }
    std::free(buffer);
    return result;
}

} // namespace kem::platform
