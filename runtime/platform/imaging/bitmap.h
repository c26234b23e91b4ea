// Pictures in memory and the file formats they are read from and written to:
// PNG, JPEG, GIF and TIFF through their libraries, BMP by our own code.
//
// Everything here works on plain bytes and pixel words; the image! datatype
// keeps a Bitmap behind each of its records.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kem::platform {

// The largest side a picture may have: image! keeps each side in 16 bits.
constexpr uint32_t IMAGE_MAX_SIDE = 65535;

// Decoders refuse pictures of more pixels than this before they allocate, so
// a small file that announces a huge picture cannot take all memory. Fuzzing
// lowers it.
extern uint64_t image_decode_pixel_limit;

// A picture of 32-bit pixels: each word A << 24 | R << 16 | G << 8 | B (the
// bytes B, G, R, A in memory), alpha straight (not premultiplied), 255 opaque;
// rows of `width` words from the top, nothing between rows. The pixels live
// on the process heap and never move.
class Bitmap {
public:
    Bitmap() = default;
    ~Bitmap();
    Bitmap(Bitmap&& other) noexcept;
    Bitmap& operator=(Bitmap&& other) noexcept;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // Every pixel 0 (transparent black). False when a side exceeds
    // IMAGE_MAX_SIDE or the memory cannot be had; the bitmap is then empty.
    bool allocate(uint32_t width, uint32_t height);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint64_t count() const { return uint64_t(width_) * height_; }
    uint32_t* data() { return pixels_; }
    const uint32_t* data() const { return pixels_; }
    uint32_t* row(uint32_t y) { return pixels_ + size_t(y) * width_; }
    const uint32_t* row(uint32_t y) const { return pixels_ + size_t(y) * width_; }
    // True when every pixel is opaque.
    bool opaque() const;

private:
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t* pixels_ = nullptr;
};

constexpr uint32_t pixel_word(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// The container formats, numbered as the image codecs name them.
enum class ImageFormat : int32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };
constexpr int32_t IMAGE_FORMAT_COUNT = 5;

// The format whose signature the data starts with, if any.
std::optional<ImageFormat> image_format_of(const uint8_t* data, size_t size);

// The file name of the library the format's codec needs when it cannot be
// opened, else null (BMP needs none). Opens the library at the first call.
const char* image_library_missing(ImageFormat format);

// Decodes the first picture of the data, in the format its signature names.
// False when the data has no known signature or its decoder refuses it (the
// bitmap is then empty).
bool decode_image(const uint8_t* data, size_t size, Bitmap& out);

// The bytes of a file of that format holding the picture; nullopt when the
// encoder fails (memory). A picture without pixels gives no bytes. JPEG keeps
// no alpha; GIF keeps at most 256 colours (more are quantised) and one level
// of transparency (alpha below 128).
std::optional<std::vector<uint8_t>> encode_image(const Bitmap& bitmap, ImageFormat format);

// A copy of the rectangle at (x, y) of that size, cut at the source's edges.
bool bitmap_copy_rect(const Bitmap& source, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Bitmap& out);
// The picture scaled to a new size by nearest neighbour.
bool bitmap_scale(const Bitmap& source, uint32_t width, uint32_t height, Bitmap& out);

} // namespace kem::platform
