// Bitmaps, the signature test and the choice of codec.
#include "runtime/platform/imaging/bitmap.h"
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include "runtime/platform/imaging/formats.h"

namespace kem::platform {

uint64_t image_decode_pixel_limit = 0x7FFFFFFF;

Bitmap::~Bitmap() { std::free(pixels_); }

Bitmap::Bitmap(Bitmap&& other) noexcept
    : width_(std::exchange(other.width_, 0)), height_(std::exchange(other.height_, 0)),
      pixels_(std::exchange(other.pixels_, nullptr)) {}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
    if (this != &other) {
        std::free(pixels_);
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        pixels_ = std::exchange(other.pixels_, nullptr);
    }
    return *this;
}

bool Bitmap::allocate(uint32_t width, uint32_t height) {
    std::free(pixels_);
    pixels_ = nullptr;
    width_ = height_ = 0;
    if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE) return false;
    const uint64_t n = uint64_t(width) * height;
    if (n) {
        pixels_ = static_cast<uint32_t*>(std::calloc(n, sizeof(uint32_t)));
        if (!pixels_) return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

bool Bitmap::opaque() const {
    const uint64_t n = count();
    for (uint64_t i = 0; i < n; i++)
        if ((pixels_[i] >> 24) != 0xFF) return false;
    return true;
}

bool ByteSink::write(const void* data, size_t n) {
    if (failed) return false;
    try {
        if (position + n > bytes.size()) bytes.resize(position + n);
    } catch (const std::bad_alloc&) {
        failed = true;
        return false;
    }
    std::memcpy(bytes.data() + position, data, n);
    position += n;
    return true;
}

std::optional<ImageFormat> image_format_of(const uint8_t* d, size_t n) {
    auto starts = [&](const char* sig, size_t len) { return n >= len && std::memcmp(d, sig, len) == 0; };
    if (starts("\x89PNG", 4)) return ImageFormat::png;
    if (starts("\xFF\xD8\xFF", 3)) return ImageFormat::jpeg;
    if (starts("BM", 2)) return ImageFormat::bmp;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return ImageFormat::gif;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return ImageFormat::tiff;
    return std::nullopt;
}

const char* image_library_missing(ImageFormat format) {
    SharedLibrary* library = nullptr;
    switch (format) {
    case ImageFormat::bmp: return nullptr;
    case ImageFormat::png: library = &libpng; break;
    case ImageFormat::gif: library = &libgif; break;
    case ImageFormat::jpeg: library = &libjpeg; break;
    case ImageFormat::tiff: library = &libtiff; break;
    }
    return library && !library->ready() ? library->file() : nullptr;
}

bool decode_image(const uint8_t* data, size_t size, Bitmap& out) {
    out = Bitmap();
    const auto format = image_format_of(data, size);
    if (!format) return false;
    bool ok = false;
    switch (*format) {
    case ImageFormat::bmp: ok = decode_bmp(data, size, out); break;
    case ImageFormat::png: ok = decode_png(data, size, out); break;
    case ImageFormat::gif: ok = decode_gif(data, size, out); break;
    case ImageFormat::jpeg: ok = decode_jpeg(data, size, out); break;
    case ImageFormat::tiff: ok = decode_tiff(data, size, out); break;
    }
    if (!ok) out = Bitmap();
    return ok;
}

std::optional<std::vector<uint8_t>> encode_image(const Bitmap& bitmap, ImageFormat format) {
    if (bitmap.count() == 0) return std::vector<uint8_t>();
    switch (format) {
    case ImageFormat::bmp: return encode_bmp(bitmap);
    case ImageFormat::png: return encode_png(bitmap);
    case ImageFormat::gif: return encode_gif(bitmap);
    case ImageFormat::jpeg: return encode_jpeg(bitmap);
    case ImageFormat::tiff: return encode_tiff(bitmap);
    }
    return std::nullopt;
}

bool bitmap_copy_rect(const Bitmap& source, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Bitmap& out) {
    if (x > source.width()) x = source.width();
    if (y > source.height()) y = source.height();
    if (width > source.width() - x) width = source.width() - x;
    if (height > source.height() - y) height = source.height() - y;
    if (!out.allocate(width, height)) return false;
    for (uint32_t row = 0; row < height; row++)
        std::memcpy(out.row(row), source.row(y + row) + x, size_t(width) * sizeof(uint32_t));
    return true;
}

bool bitmap_scale(const Bitmap& source, uint32_t width, uint32_t height, Bitmap& out) {
    if (!out.allocate(width, height)) return false;
    if (source.count() == 0) return true;
    for (uint32_t y = 0; y < height; y++) {
        const uint32_t* from = source.row(uint32_t(uint64_t(y) * source.height() / height));
        uint32_t* to = out.row(y);
        for (uint32_t x = 0; x < width; x++) to[x] = from[uint64_t(x) * source.width() / width];
    }
    return true;
}

} // namespace kem::platform
