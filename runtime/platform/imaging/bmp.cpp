// BMP files, read and written by our own code.
//
// Read: the 12-byte core header and the 40- to 124-byte info headers; 1, 4
// and 8 bits per pixel through a palette (uncompressed or run-length
// encoded), 16, 24 and 32 bits per pixel, with bit-field masks (an alpha mask
// gives alpha); rows from the bottom or, with a negative height, from the
// top. Every size the header announces is checked against the data before
// anything is read. Written: 24 bits per pixel when the picture is opaque,
// else 32 bits with an alpha mask in a version 5 header; rows from the bottom.
#include <algorithm>
#include <cstring>
#include "runtime/platform/imaging/formats.h"

namespace kem::platform {

namespace {

constexpr uint32_t FILE_HEADER_SIZE = 14;
constexpr uint32_t CORE_HEADER_SIZE = 12;
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint32_t V5_HEADER_SIZE = 124;

enum Compression : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }
void put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// One colour channel of a bit-field pixel, scaled to 0..255: fewer bits are
// repeated to fill the byte (31 of 5 bits is 255), more are cut to the top 8.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t bits = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m) {
            shift = uint32_t(__builtin_ctz(m));
            bits = 32 - uint32_t(__builtin_clz(m >> shift));
        }
    }
    uint32_t get(uint32_t v, uint32_t absent) const {
        if (!bits) return absent;
        const uint32_t x = (v & mask) >> shift;
        if (bits >= 8) return x >> (bits - 8);
        uint32_t out = x << (8 - bits);
        for (uint32_t filled = bits; filled < 8; filled += bits) out |= out >> bits;
        return out & 0xFF;
    }
};

struct Header {
    int64_t width = 0;
    int64_t height = 0;  // negative: rows from the top
    uint32_t bpp = 0;
    uint32_t compression = BI_RGB;
    uint32_t colors_used = 0;
    uint32_t masks[4] = {};  // R, G, B, A
    bool has_alpha_mask = false;
    uint32_t palette_entry = 4;
    size_t palette_at = 0;  // from the start of the file
};

// Reads the info header and any masks after it; false for a layout this
// reader does not take.
bool read_header(const uint8_t* d, size_t n, Header& h) {
    const uint32_t hsize = le32(d + FILE_HEADER_SIZE);
    if (hsize < CORE_HEADER_SIZE || hsize > n - FILE_HEADER_SIZE) return false;
    const uint8_t* p = d + FILE_HEADER_SIZE;
    size_t after = FILE_HEADER_SIZE + size_t(hsize);
    if (hsize == CORE_HEADER_SIZE) {
        h.width = le16(p + 4);
        h.height = int16_t(le16(p + 6));
        h.bpp = le16(p + 10);
        h.palette_entry = 3;
    } else {
        if (hsize < 16) return false;
        h.width = int32_t(le32(p + 4));
        h.height = int32_t(le32(p + 8));
        h.bpp = le16(p + 14);
        if (hsize >= 20) h.compression = le32(p + 16);
        if (hsize >= 36) h.colors_used = le32(p + 32);
        // The short and long OS/2 headers give 3 and 4 other meanings.
        if ((hsize < INFO_HEADER_SIZE || hsize == 64) && h.compression > BI_RLE4) return false;
        if (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS) {
            const uint32_t mask_count = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
            const uint8_t* m = p + INFO_HEADER_SIZE;
            if (hsize == INFO_HEADER_SIZE) {
                // The masks follow the header.
                if (n - after < 4 * mask_count) return false;
                after += 4 * mask_count;
            } else if (hsize < INFO_HEADER_SIZE + 4 * mask_count) {
                return false;
            }
            for (uint32_t i = 0; i < mask_count; i++) h.masks[i] = le32(m + 4 * i);
            if (mask_count == 3 && hsize >= INFO_HEADER_SIZE + 16) h.masks[3] = le32(m + 12);
            h.has_alpha_mask = h.masks[3] != 0;
        }
    }
    h.palette_at = after;
    return true;
}

bool valid_layout(const Header& h) {
    switch (h.compression) {
    case BI_RGB: return h.bpp == 1 || h.bpp == 4 || h.bpp == 8 || h.bpp == 16 || h.bpp == 24 || h.bpp == 32;
    case BI_RLE8: return h.bpp == 8;
    case BI_RLE4: return h.bpp == 4;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: return h.bpp == 16 || h.bpp == 32;
    default: return false;
    }
}

class Decoder {
public:
    Decoder(const uint8_t* d, size_t n, const Header& h, Bitmap& out) : d_(d), n_(n), h_(h), out_(out) {
        height_ = uint32_t(h.height < 0 ? -h.height : h.height);
        width_ = uint32_t(h.width);
    }

    bool run() {
        if (!image_sides_allowed(width_, height_)) return false;
        size_t data_at = read_palette();
        const uint32_t off_bits = le32(d_ + 10);
        if (off_bits >= h_.palette_at && off_bits <= n_) data_at = off_bits;
        if (h_.compression == BI_RLE8 || h_.compression == BI_RLE4)
            return out_.allocate(width_, height_) && run_length(data_at);
        return uncompressed(data_at);
    }

private:
    // The palette's colours; entries it does not hold read as opaque black.
    size_t read_palette() {
        std::fill(std::begin(palette_), std::end(palette_), pixel_word(0, 0, 0, 255));
        if (h_.bpp > 8) return h_.palette_at;
        uint64_t count = uint64_t(1) << h_.bpp;
        if (h_.colors_used && h_.colors_used < count) count = h_.colors_used;
        const uint64_t room = h_.palette_at <= n_ ? (n_ - h_.palette_at) / h_.palette_entry : 0;
        count = std::min(count, room);
        for (uint64_t i = 0; i < count; i++) {
            const uint8_t* e = d_ + h_.palette_at + i * h_.palette_entry;
            palette_[i] = pixel_word(e[2], e[1], e[0], 255);
        }
        return h_.palette_at + count * h_.palette_entry;
    }

    uint32_t* row_of(uint64_t file_row) { return out_.row(uint32_t(h_.height < 0 ? file_row : height_ - 1 - file_row)); }

    bool uncompressed(size_t data_at) {
        const uint64_t row_bits = uint64_t(width_) * h_.bpp;
        const uint64_t stride = (row_bits + 31) / 32 * 4;
        // The last row may come without its padding.
        const uint64_t need = height_ ? (height_ - 1) * stride + (row_bits + 7) / 8 : 0;
        if (data_at > n_ || need > n_ - data_at || !out_.allocate(width_, height_)) return false;
        const Channel r(h_.masks[0]), g(h_.masks[1]), b(h_.masks[2]), a(h_.masks[3]);
        const bool fields = h_.compression == BI_BITFIELDS || h_.compression == BI_ALPHABITFIELDS;
        const Channel r555(0x7C00), g555(0x03E0), b555(0x001F);
        for (uint32_t y = 0; y < height_; y++) {
            const uint8_t* s = d_ + data_at + y * stride;
            uint32_t* o = row_of(y);
            for (uint32_t x = 0; x < width_; x++) {
                switch (h_.bpp) {
                case 1: o[x] = palette_[(s[x >> 3] >> (7 - (x & 7))) & 1]; break;
                case 4: o[x] = palette_[(s[x >> 1] >> (x & 1 ? 0 : 4)) & 15]; break;
                case 8: o[x] = palette_[s[x]]; break;
                case 24: o[x] = pixel_word(s[3 * x + 2], s[3 * x + 1], s[3 * x], 255); break;
                case 16: {
                    const uint32_t v = le16(s + 2 * x);
                    o[x] = fields ? pixel_word(r.get(v, 0), g.get(v, 0), b.get(v, 0), a.get(v, 255))
                                  : pixel_word(r555.get(v, 0), g555.get(v, 0), b555.get(v, 0), 255);
                    break;
                }
                case 32: {
                    const uint32_t v = le32(s + 4 * x);
                    o[x] = fields ? pixel_word(r.get(v, 0), g.get(v, 0), b.get(v, 0), a.get(v, 255))
                                  : (v | 0xFF000000u);
                    break;
                }
                }
            }
        }
        return true;
    }

    void put(uint64_t x, uint64_t y, uint32_t index) {
        if (x < width_ && y < height_) row_of(y)[x] = palette_[index];
    }

    // Pixels the runs skip stay transparent.
    bool run_length(size_t at) {
        const bool four = h_.compression == BI_RLE4;
        uint64_t x = 0, y = 0;
        while (at + 1 < n_ && y < height_) {
            const uint32_t count = d_[at], value = d_[at + 1];
            at += 2;
            if (count) {
                for (uint32_t i = 0; i < count; i++, x++)
                    put(x, y, four ? (i & 1 ? value & 15 : value >> 4) : value);
                continue;
            }
            if (value == 0) {  // end of line
                x = 0;
                y++;
            } else if (value == 1) {  // end of picture
                return true;
            } else if (value == 2) {  // move right and up
                if (at + 1 >= n_) return false;
                x += d_[at];
                y += d_[at + 1];
                at += 2;
            } else {  // `value` pixels as they stand, padded to a 16-bit boundary
                const size_t bytes = four ? (value + 1) / 2 : value;
                if (bytes > n_ - at) return false;
                for (uint32_t i = 0; i < value; i++, x++) {
                    const uint8_t byte = d_[at + (four ? i / 2 : i)];
                    put(x, y, four ? (i & 1 ? byte & 15 : byte >> 4) : byte);
                }
                at += bytes + (bytes & 1);
            }
        }
        return true;
    }

    const uint8_t* d_;
    size_t n_;
    const Header& h_;
    Bitmap& out_;
    uint32_t width_ = 0, height_ = 0;
    uint32_t palette_[256];
};

} // namespace

bool decode_bmp(const uint8_t* d, size_t n, Bitmap& out) {
    if (n < FILE_HEADER_SIZE + CORE_HEADER_SIZE) return false;
    Header h;
    if (!read_header(d, n, h) || !valid_layout(h)) return false;
    if (h.width < 0) return false;
    const int64_t rows = h.height < 0 ? -h.height : h.height;
    // Rows from the top cannot be run-length encoded.
    if (h.height < 0 && (h.compression == BI_RLE8 || h.compression == BI_RLE4)) return false;
    if (h.width > int64_t(IMAGE_MAX_SIDE) || rows > int64_t(IMAGE_MAX_SIDE)) return false;
    return Decoder(d, n, h, out).run();
}

std::optional<std::vector<uint8_t>> encode_bmp(const Bitmap& bitmap) {
    const bool alpha = !bitmap.opaque();
    const uint32_t bpp = alpha ? 32 : 24;
    const uint32_t header = alpha ? V5_HEADER_SIZE : INFO_HEADER_SIZE;
    const uint64_t stride = (uint64_t(bitmap.width()) * bpp + 31) / 32 * 4;
    const uint64_t image_size = stride * bitmap.height();
    const uint64_t offset = FILE_HEADER_SIZE + header;
    if (offset + image_size > 0xFFFFFFFFu) return std::nullopt;
    std::vector<uint8_t> out;
    try {
        out.assign(size_t(offset + image_size), 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    uint8_t* f = out.data();
    f[0] = 'B';
    f[1] = 'M';
    put32(f + 2, uint32_t(out.size()));
    put32(f + 10, uint32_t(offset));
    uint8_t* h = f + FILE_HEADER_SIZE;
    put32(h, header);
    put32(h + 4, bitmap.width());
    put32(h + 8, bitmap.height());
    put16(h + 12, 1);
    put16(h + 14, bpp);
    put32(h + 16, alpha ? BI_BITFIELDS : BI_RGB);
    put32(h + 20, uint32_t(image_size));
    put32(h + 24, 2835);  // 72 dots per inch
    put32(h + 28, 2835);
    if (alpha) {
        put32(h + 40, 0x00FF0000);
        put32(h + 44, 0x0000FF00);
        put32(h + 48, 0x000000FF);
        put32(h + 52, 0xFF000000);
        put32(h + 56, 0x73524742);  // "sRGB"
        put32(h + 108, 4);          // rendering intent: pictures
    }
    uint8_t* data = f + offset;
    for (uint32_t y = 0; y < bitmap.height(); y++) {
        const uint32_t* src = bitmap.row(bitmap.height() - 1 - y);
        uint8_t* o = data + y * stride;
        for (uint32_t x = 0; x < bitmap.width(); x++) {
            const uint32_t p = src[x];
            if (alpha) {
                put32(o + 4 * x, p);
            } else {
                o[3 * x] = uint8_t(p);
                o[3 * x + 1] = uint8_t(p >> 8);
                o[3 * x + 2] = uint8_t(p >> 16);
            }
        }
    }
    return out;
}

} // namespace kem::platform
