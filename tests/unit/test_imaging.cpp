// The picture codecs: round trips through every format, the BMP reader's
// layouts and its checks of sizes against the data, and refusals.
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "runtime/platform/imaging/bitmap.h"

using namespace kem::platform;

namespace {

using Bytes = std::vector<uint8_t>;

// A picture whose pixels vary in every channel; with alpha, also in alpha.
Bitmap pattern(uint32_t w, uint32_t h, bool alpha) {
    Bitmap b;
    EXPECT_TRUE(b.allocate(w, h));
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            b.row(y)[x] = pixel_word((x * 37 + y * 11) & 0xFF, (x * 5 + y * 71) & 0xFF, (x * y * 3 + 7) & 0xFF,
                                     alpha ? (x * 29 + y * 13) & 0xFF : 255);
    return b;
}

std::vector<uint32_t> pixels_of(const Bitmap& b) { return std::vector<uint32_t>(b.data(), b.data() + b.count()); }

Bitmap decoded(const Bytes& bytes) {
    Bitmap b;
    EXPECT_TRUE(decode_image(bytes.data(), bytes.size(), b));
    return b;
}

bool refused(const Bytes& bytes) {
    Bitmap b;
    return !decode_image(bytes.data(), bytes.size(), b) && b.count() == 0;
}

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}

// A BMP file with a 40-byte header (or `header` bytes), a palette, masks
// after the header when given, then the pixel data.
Bytes bmp(int32_t w, int32_t h, uint32_t bpp, uint32_t compression, const std::vector<uint32_t>& palette,
          const Bytes& data, const std::vector<uint32_t>& masks = {}, uint32_t header = 40) {
    const size_t offset = 14 + header + 4 * masks.size() + 4 * palette.size();
    Bytes b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(offset + data.size()));
    put32(b, 10, uint32_t(offset));
    put32(b, 14, header);
    put32(b, 18, uint32_t(w));
    put32(b, 22, uint32_t(h));
    put16(b, 26, 1);
    put16(b, 28, bpp);
    put32(b, 30, compression);
    put32(b, 46, uint32_t(palette.size()));
    size_t at = 14 + header;
    for (uint32_t m : masks) put32(b, (at += 4) - 4, m);
    for (uint32_t c : palette) put32(b, (at += 4) - 4, c);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

constexpr uint32_t RED = 0xFFFF0000, GREEN = 0xFF00FF00, BLUE = 0xFF0000FF, WHITE = 0xFFFFFFFF, BLACK = 0xFF000000;

} // namespace

TEST(Imaging, SignaturesNameTheirFormats) {
    const struct {
        std::string bytes;
        std::optional<ImageFormat> format;
    } cases[] = {
        {"\x89PNG\r\n", ImageFormat::png}, {"\xFF\xD8\xFF\xE0", ImageFormat::jpeg},
        {"BM", ImageFormat::bmp},          {"GIF87a", ImageFormat::gif},
        {"GIF89a", ImageFormat::gif},      {std::string("II*\0", 4), ImageFormat::tiff},
        {std::string("MM\0*", 4), ImageFormat::tiff},
        {"GIF88a", std::nullopt},          {"\xFF\xD8", std::nullopt},
        {"B", std::nullopt},               {std::string("II\0*", 4), std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        auto got = image_format_of(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(got, c.format) << c.bytes;
    }
}

TEST(Imaging, LosslessFormatsRoundTripEveryPixel) {
    for (ImageFormat f : {ImageFormat::png, ImageFormat::bmp, ImageFormat::tiff}) {
        for (bool alpha : {true, false}) {
            // Odd widths exercise the row padding of BMP.
            Bitmap b = pattern(13, 7, alpha);
            auto bytes = encode_image(b, f);
            ASSERT_TRUE(bytes) << int(f);
            EXPECT_EQ(image_format_of(bytes->data(), bytes->size()), f);
            Bitmap back = decoded(*bytes);
            EXPECT_EQ(back.width(), 13u);
            EXPECT_EQ(back.height(), 7u);
            EXPECT_EQ(pixels_of(back), pixels_of(b)) << "format " << int(f) << " alpha " << alpha;
        }
    }
}

TEST(Imaging, JpegKeepsTheSizeAndStaysClose) {
    Bitmap b;
    ASSERT_TRUE(b.allocate(40, 24));
    for (uint32_t y = 0; y < 24; y++)
        for (uint32_t x = 0; x < 40; x++) b.row(y)[x] = pixel_word(x * 6, y * 10, 128, 40);
    auto bytes = encode_image(b, ImageFormat::jpeg);
    ASSERT_TRUE(bytes);
    Bitmap back = decoded(*bytes);
    ASSERT_EQ(back.width(), 40u);
    ASSERT_EQ(back.height(), 24u);
    double error = 0;
    for (uint64_t i = 0; i < b.count(); i++) {
        EXPECT_EQ(back.data()[i] >> 24, 255u) << "JPEG keeps no alpha";
        for (int shift : {0, 8, 16}) error += std::abs(int((b.data()[i] >> shift) & 0xFF) - int((back.data()[i] >> shift) & 0xFF));
    }
    EXPECT_LT(error / double(b.count() * 3), 3.0);
}

TEST(Imaging, GifKeepsUpTo256ColoursAndOneLevelOfTransparency) {
    // 255 colours and transparent pixels: the palette is exact.
    Bitmap b;
    ASSERT_TRUE(b.allocate(16, 16));
    for (uint32_t i = 0; i < 256; i++) b.data()[i] = i == 255 ? 0 : pixel_word(i, 255 - i, i / 2, 255);
    auto bytes = encode_image(b, ImageFormat::gif);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(pixels_of(decoded(*bytes)), pixels_of(b));

    // Alpha below 128 is transparent (read back as transparent black).
    Bitmap half;
    ASSERT_TRUE(half.allocate(2, 1));
    half.data()[0] = pixel_word(10, 20, 30, 127);
    half.data()[1] = pixel_word(10, 20, 30, 128);
    EXPECT_EQ(pixels_of(decoded(*encode_image(half, ImageFormat::gif))),
              (std::vector<uint32_t>{0, pixel_word(10, 20, 30, 255)}));

    // More colours are quantised: the size stays and the picture stays near.
    Bitmap many = pattern(64, 64, false);
    auto q = encode_image(many, ImageFormat::gif);
    ASSERT_TRUE(q);
    Bitmap back = decoded(*q);
    ASSERT_EQ(back.count(), many.count());
    double error = 0;
    for (uint64_t i = 0; i < many.count(); i++)
        for (int shift : {0, 8, 16})
            error += std::abs(int((many.data()[i] >> shift) & 0xFF) - int((back.data()[i] >> shift) & 0xFF));
    EXPECT_LT(error / double(many.count() * 3), 24.0);
}

TEST(Imaging, EmptyPicturesEncodeToNoBytes) {
    Bitmap b;
    ASSERT_TRUE(b.allocate(0, 5));
    for (int f = 0; f < IMAGE_FORMAT_COUNT; f++) EXPECT_EQ(encode_image(b, ImageFormat(f)), Bytes());
}

TEST(Imaging, BmpLayouts) {
    const std::vector<uint32_t> palette = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};
    const struct {
        const char* name;
        Bytes file;
        std::vector<uint32_t> pixels;  // rows from the top
    } cases[] = {
        // 1 bit, rows from the bottom, each padded to 4 bytes.
        {"1-bit", bmp(3, 2, 1, 0, {0x00000000, 0x00FFFFFF}, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}),
         {BLACK, WHITE, BLACK, WHITE, BLACK, WHITE}},
        // 4 bits, a negative height: rows from the top.
        {"4-bit top-down", bmp(3, -1, 4, 0, palette, {0x01, 0x20, 0, 0}), {RED, GREEN, BLUE}},
        {"8-bit", bmp(2, 1, 8, 0, palette, {3, 0, 0, 0}), {WHITE, RED}},
        // A palette index past the palette reads as opaque black.
        {"8-bit short palette", bmp(1, 1, 8, 0, palette, {200, 0, 0, 0}), {BLACK}},
        {"24-bit", bmp(1, 2, 24, 0, {}, {0, 0, 255, 0, 0, 255, 0, 0}), {GREEN, RED}},
        // 32 bits without masks: the fourth byte is no alpha.
        {"32-bit", bmp(1, 1, 32, 0, {}, {1, 2, 3, 0}), {0xFF030201}},
        {"16-bit 555", bmp(2, 1, 16, 0, {}, {0x00, 0x7C, 0x1F, 0x00}), {RED, BLUE}},
        {"16-bit 565 fields", bmp(2, 1, 16, 3, {}, {0x00, 0xF8, 0xE0, 0x07}, {0xF800, 0x07E0, 0x001F}), {RED, GREEN}},
        // Masks with alpha, in the order A, B, G, R inside the word.
        {"32-bit alpha fields", bmp(1, 1, 32, 6, {}, {0x80, 0x10, 0x20, 0x30}, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}),
         {0x30801020}},
        // Runs: 2 red, 1 green, end of line, end of picture.
        {"RLE8", bmp(3, 1, 8, 1, palette, {2, 0, 1, 1, 0, 0, 0, 1}), {RED, RED, GREEN}},
        // Three pixels as they stand, padded to an even count of bytes.
        {"RLE8 absolute", bmp(3, 1, 8, 1, palette, {0, 3, 1, 2, 3, 0, 0, 1}), {GREEN, BLUE, WHITE}},
        // A move right skips a pixel, which stays transparent.
        {"RLE8 delta", bmp(3, 1, 8, 1, palette, {0, 2, 1, 0, 2, 2, 0, 1}), {0, BLUE, BLUE}},
        {"RLE4", bmp(4, 1, 4, 2, palette, {4, 0x12, 0, 1}), {GREEN, BLUE, GREEN, BLUE}},
    };
    for (const auto& c : cases) {
        Bitmap b;
        ASSERT_TRUE(decode_image(c.file.data(), c.file.size(), b)) << c.name;
        EXPECT_EQ(pixels_of(b), c.pixels) << c.name;
    }
}

TEST(Imaging, BmpSizesAreCheckedAgainstTheData) {
    // Three rows of 4 padded bytes need 12 bytes; the last row may lack its padding.
    Bytes rows(3 * 4, 0);
    EXPECT_FALSE(refused(bmp(1, 3, 24, 0, {}, rows)));
    EXPECT_FALSE(refused(bmp(1, 3, 24, 0, {}, Bytes(rows.begin(), rows.end() - 1))));
    EXPECT_TRUE(refused(bmp(1, 3, 24, 0, {}, Bytes(rows.begin(), rows.end() - 2))));
    // A header that announces a huge picture over a few bytes.
    EXPECT_TRUE(refused(bmp(60000, 60000, 32, 0, {}, rows)));
    // Sides beyond 65535 cannot be held.
    EXPECT_TRUE(refused(bmp(70000, 1, 8, 0, {0}, Bytes(70000, 0))));
    // A negative width, a bit depth of 2, RLE with rows from the top, a
    // header larger than the file, masks missing after the header.
    EXPECT_TRUE(refused(bmp(-1, 1, 24, 0, {}, rows)));
    EXPECT_TRUE(refused(bmp(1, 1, 2, 0, {}, rows)));
    EXPECT_TRUE(refused(bmp(1, -1, 8, 1, {0}, {0, 1})));
    Bytes big_header = bmp(1, 1, 24, 0, {}, {});
    put32(big_header, 14, 4000);
    EXPECT_TRUE(refused(big_header));
    Bytes no_masks = bmp(1, 1, 16, 3, {}, {});
    no_masks.resize(14 + 40 + 8);
    EXPECT_TRUE(refused(no_masks));
    // An RLE absolute run longer than the data.
    EXPECT_TRUE(refused(bmp(8, 1, 8, 1, {0}, {0, 8, 1, 2})));
}

TEST(Imaging, DamagedFilesAreRefused) {
    for (ImageFormat f : {ImageFormat::png, ImageFormat::gif, ImageFormat::jpeg, ImageFormat::tiff, ImageFormat::bmp}) {
        auto bytes = *encode_image(pattern(20, 20, true), f);
        // Cut short, and every byte after the signature flipped.
        EXPECT_TRUE(refused(Bytes(bytes.begin(), bytes.begin() + 12))) << int(f);
        Bytes flipped = bytes;
        for (size_t i = 8; i < flipped.size(); i++) flipped[i] ^= 0xFF;
        Bitmap b;
        decode_image(flipped.data(), flipped.size(), b);  // must not crash; may or may not decode
    }
    EXPECT_TRUE(refused(Bytes{'G', 'I', 'F', '8', '9', 'a'}));
    EXPECT_TRUE(refused(Bytes{'n', 'o', 'p', 'e'}));
}

TEST(Imaging, PixelLimitRefusesBeforeAllocating) {
    const uint64_t saved = image_decode_pixel_limit;
    image_decode_pixel_limit = 100;
    auto bytes = *encode_image(pattern(11, 10, false), ImageFormat::png);
    EXPECT_TRUE(refused(bytes));
    image_decode_pixel_limit = saved;
    EXPECT_FALSE(refused(bytes));
}

TEST(Imaging, CopyRectAndScale) {
    Bitmap b = pattern(4, 3, true);
    Bitmap part;
    // The rectangle is cut at the right and bottom edges.
    ASSERT_TRUE(bitmap_copy_rect(b, 2, 1, 5, 5, part));
    ASSERT_EQ(part.width(), 2u);
    ASSERT_EQ(part.height(), 2u);
    EXPECT_EQ(part.row(1)[1], b.row(2)[3]);
    Bitmap big;
    ASSERT_TRUE(bitmap_scale(b, 8, 6, big));
    EXPECT_EQ(big.row(5)[7], b.row(2)[3]);
    EXPECT_EQ(big.row(1)[1], b.row(0)[0]);
    Bitmap too_wide;
    EXPECT_FALSE(too_wide.allocate(65536, 1));
}
