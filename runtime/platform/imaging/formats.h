// The decoder and encoder of each container format, behind decode_image and
// encode_image. Decoders get data whose signature names their format and
// fill an empty bitmap; on refusal they leave it empty and answer false.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>
#include "runtime/platform/imaging/bitmap.h"
#include "runtime/platform/shared_library.h"

namespace kem::platform {

bool decode_bmp(const uint8_t* data, size_t size, Bitmap& out);
bool decode_png(const uint8_t* data, size_t size, Bitmap& out);
bool decode_gif(const uint8_t* data, size_t size, Bitmap& out);
bool decode_jpeg(const uint8_t* data, size_t size, Bitmap& out);
bool decode_tiff(const uint8_t* data, size_t size, Bitmap& out);

// Each encoder gets a bitmap with at least one pixel.
std::optional<std::vector<uint8_t>> encode_bmp(const Bitmap& bitmap);
std::optional<std::vector<uint8_t>> encode_png(const Bitmap& bitmap);
std::optional<std::vector<uint8_t>> encode_gif(const Bitmap& bitmap);
std::optional<std::vector<uint8_t>> encode_jpeg(const Bitmap& bitmap);
std::optional<std::vector<uint8_t>> encode_tiff(const Bitmap& bitmap);

// The libraries of the formats that have one; their decoders refuse and
// their encoders fail while the library is missing.
extern SharedLibrary libpng, libjpeg, libgif, libtiff;

// Whether a decoder may allocate a picture of these sides.
inline bool image_sides_allowed(uint64_t width, uint64_t height) {
    return width <= IMAGE_MAX_SIDE && height <= IMAGE_MAX_SIDE && width * height <= image_decode_pixel_limit;
}

// Output collected by the library encoders' write callbacks; a refused
// growth is remembered rather than thrown through the libraries' C frames.
struct ByteSink {
    std::vector<uint8_t> bytes;
    size_t position = 0;  // where the next write goes (TIFF seeks back)
    bool failed = false;
    bool write(const void* data, size_t n);
};

} // namespace kem::platform
