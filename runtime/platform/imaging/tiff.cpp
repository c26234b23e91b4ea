// TIFF through libtiff, over bytes in memory.
//
// Read: the first picture. RGB and grey samples of 8 or 16 bits, top row
// first, are read as they are stored, so straight alpha comes back exactly;
// every other layout goes through the library's RGBA reader, whose alpha is
// premultiplied and is turned back here. Written: 8-bit RGB,
// with an unassociated alpha sample when the picture is not opaque, LZW.
#include <tiffio.h>
#include <algorithm>
#include <cstring>
#include "runtime/platform/imaging/formats.h"
#include "runtime/platform/shared_library.h"

namespace kem::platform {

// libtiff, opened at the first picture of its format.
#define TIFF_FUNCTIONS(F)                                                                                        \
    F(TIFFOpenOptionsAlloc) F(TIFFOpenOptionsFree) F(TIFFOpenOptionsSetMaxSingleMemAlloc)                        \
    F(TIFFOpenOptionsSetErrorHandlerExtR) F(TIFFOpenOptionsSetWarningHandlerExtR) F(TIFFClientOpenExt)           \
    F(TIFFClose) F(TIFFFlush) F(TIFFGetField) F(TIFFGetFieldDefaulted) F(TIFFSetField) F(TIFFIsTiled)            \
    F(TIFFIsCODECConfigured) F(TIFFRGBAImageOK) F(TIFFReadRGBAImageOriented) F(TIFFReadScanline) F(TIFFReadTile) \
    F(TIFFScanlineSize64) F(TIFFTileSize64) F(TIFFDefaultStripSize) F(TIFFWriteScanline)
KEM_LIBRARY_FUNCTIONS(tiff, TIFF_FUNCTIONS)
SharedLibrary libtiff(KEM_LIBTIFF, tiff_symbols);

namespace {

// No single allocation of the library may be larger.
constexpr tmsize_t TIFF_MAX_ALLOCATION = tmsize_t(1) << 30;

// Reading and writing both see the data as a file with a position.
struct MemoryFile {
    const uint8_t* data = nullptr;  // reading
    size_t size = 0;
    ByteSink* sink = nullptr;  // writing
    uint64_t at = 0;
    uint64_t length() const { return sink ? sink->bytes.size() : size; }
};

tmsize_t read_proc(thandle_t h, void* out, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    const uint8_t* base = f->sink ? f->sink->bytes.data() : f->data;
    if (n < 0 || f->at >= f->length()) return 0;
    const size_t k = size_t(std::min<uint64_t>(uint64_t(n), f->length() - f->at));
    std::memcpy(out, base + f->at, k);
    f->at += k;
    return tmsize_t(k);
}

tmsize_t write_proc(thandle_t h, void* data, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (!f->sink || n < 0) return -1;
    f->sink->position = size_t(f->at);
    if (!f->sink->write(data, size_t(n))) return -1;
    f->at += uint64_t(n);
    return n;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    uint64_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->length() : 0;
    f->at = base + offset;
    return f->at;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<MemoryFile*>(h)->length(); }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open_memory(MemoryFile& file, const char* mode) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, TIFF_MAX_ALLOCATION);
    TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
    TIFF* tif = TIFFClientOpenExt("image", mode, &file, read_proc, write_proc, seek_proc, close_proc, size_proc,
                                  map_proc, unmap_proc, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

uint8_t unpremultiply(uint32_t c, uint32_t a) { return uint8_t(a ? std::min<uint32_t>(255, (c * 255 + a / 2) / a) : 0); }

// What the stored-sample reader needs of a picture's layout.
struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, spp = 0, planar = 0, photometric = 0;
    uint32_t colour_samples = 0;
    bool alpha = false, associated = false;
};

// A 16-bit sample to 8 bits, rounded.
inline uint8_t narrow(uint32_t v) { return uint8_t((v + 128) / 257); }

// Copies `count` samples of `bits` from a library buffer into 8-bit samples
// `step` apart.
void put_samples(const uint8_t* from, uint16_t bits, size_t count, uint8_t* to, size_t step) {
    if (bits == 8) {
        for (size_t i = 0; i < count; i++) to[i * step] = from[i];
    } else {
        const auto* wide = reinterpret_cast<const uint16_t*>(from);
        for (size_t i = 0; i < count; i++) to[i * step] = narrow(wide[i]);
    }
}

// Every sample of the picture as 8 bits, spp a pixel, rows from the top:
// strips or tiles, one plane or one plane a sample.
bool read_samples(TIFF* tif, const Layout& l, std::vector<uint8_t>& samples) {
    const size_t spp = l.spp, row_samples = size_t(l.width) * spp;
    samples.assign(row_samples * l.height, 0);
    const bool separate = l.planar == PLANARCONFIG_SEPARATE;
    const uint16_t planes = separate ? l.spp : 1;
    const size_t per_pixel = separate ? 1 : spp;  // samples a pixel in one plane
    if (!TIFFIsTiled(tif)) {
        std::vector<uint8_t> line(size_t(TIFFScanlineSize64(tif)));
        if (line.size() < size_t(l.width) * per_pixel * (l.bits / 8)) return false;
        for (uint16_t c = 0; c < planes; c++)
            for (uint32_t y = 0; y < l.height; y++) {
                if (TIFFReadScanline(tif, line.data(), y, c) < 0) return false;
                put_samples(line.data(), l.bits, l.width * per_pixel, &samples[y * row_samples + c], separate ? spp : 1);
            }
        return true;
    }
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    std::vector<uint8_t> tile(size_t(TIFFTileSize64(tif)));
    if (!tw || !th || tile.size() < size_t(tw) * th * per_pixel * (l.bits / 8)) return false;
    const size_t tile_row_bytes = size_t(tw) * per_pixel * (l.bits / 8);
    for (uint32_t ty = 0; ty < l.height; ty += th)
        for (uint32_t tx = 0; tx < l.width; tx += tw)
            for (uint16_t c = 0; c < planes; c++) {
                if (TIFFReadTile(tif, tile.data(), tx, ty, 0, c) < 0) return false;
                const uint32_t cols = std::min(tw, l.width - tx), rows = std::min(th, l.height - ty);
                for (uint32_t r = 0; r < rows; r++)
                    put_samples(tile.data() + r * tile_row_bytes, l.bits, cols * per_pixel,
                                &samples[(ty + r) * row_samples + size_t(tx) * spp + c], separate ? spp : 1);
            }
    return true;
}

// RGB and grey pictures of 8 or 16 bits a sample are read as they are
// stored, so straight alpha comes back exactly; false (with handled unset)
// leaves the other layouts to the RGBA reader.
bool read_stored(TIFF* tif, uint32_t width, uint32_t height, Bitmap& out, bool& handled) {
    handled = false;
    Layout l;
    l.width = width;
    l.height = height;
    uint16_t orientation = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric)) return false;
    const bool rgb = l.photometric == PHOTOMETRIC_RGB && l.spp >= 3;
    const bool grey = (l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE) && l.spp >= 1;
    if ((l.bits != 8 && l.bits != 16) || orientation != ORIENTATION_TOPLEFT || !(rgb || grey)) return false;
    l.colour_samples = rgb ? 3 : 1;
    l.alpha = l.spp > l.colour_samples && extra_count > 0;
    l.associated = l.alpha && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    handled = true;
    std::vector<uint8_t> samples;
    if (!read_samples(tif, l, samples) || !out.allocate(width, height)) return false;
    const uint8_t* s = samples.data();
    for (uint64_t i = 0; i < out.count(); i++, s += l.spp) {
        uint32_t r = s[0], g = rgb ? s[1] : s[0], b = rgb ? s[2] : s[0];
        if (l.photometric == PHOTOMETRIC_MINISWHITE) r = g = b = 255 - s[0];
        const uint32_t a = l.alpha ? s[l.colour_samples] : 255;
        if (l.associated) {
            r = unpremultiply(r, a);
            g = unpremultiply(g, a);
            b = unpremultiply(b, a);
        }
        out.data()[i] = pixel_word(r, g, b, a);
    }
    return true;
}

bool read_rgba(TIFF* tif, uint32_t width, uint32_t height, Bitmap& out) {
    char message[1024];
    if (!TIFFRGBAImageOK(tif, message) || !out.allocate(width, height)) return false;
    if (!out.count()) return true;
    if (!TIFFReadRGBAImageOriented(tif, width, height, out.data(), ORIENTATION_TOPLEFT, 0)) return false;
    // The library's words hold R in the low byte and premultiplied colour.
    for (uint64_t i = 0; i < out.count(); i++) {
        const uint32_t p = out.data()[i], a = p >> 24;
        out.data()[i] = pixel_word(unpremultiply(p & 0xFF, a), unpremultiply((p >> 8) & 0xFF, a),
                                   unpremultiply((p >> 16) & 0xFF, a), a);
    }
    return true;
}

bool write_picture(TIFF* tif, const Bitmap& bitmap) {
    const bool alpha = !bitmap.opaque();
    const uint16_t spp = alpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, bitmap.width());
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, bitmap.height());
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, TIFFIsCODECConfigured(COMPRESSION_LZW) ? COMPRESSION_LZW : COMPRESSION_NONE);
    if (alpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> line(size_t(bitmap.width()) * spp);
    for (uint32_t y = 0; y < bitmap.height(); y++) {
        const uint32_t* row = bitmap.row(y);
        uint8_t* o = line.data();
        for (uint32_t x = 0; x < bitmap.width(); x++, o += spp) {
            o[0] = uint8_t(row[x] >> 16);
            o[1] = uint8_t(row[x] >> 8);
            o[2] = uint8_t(row[x]);
            if (alpha) o[3] = uint8_t(row[x] >> 24);
        }
        if (TIFFWriteScanline(tif, line.data(), y, 0) < 0) return false;
    }
    return TIFFFlush(tif) == 1;
}

} // namespace

bool decode_tiff(const uint8_t* data, size_t size, Bitmap& out) {
    if (!libtiff.ready()) return false;
    MemoryFile file;
    file.data = data;
    file.size = size;
    TIFF* tif = open_memory(file, "rm");
    if (!tif) return false;
    uint32_t width = 0, height = 0;
    bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) &&
              image_sides_allowed(width, height);
    if (ok) {
        try {
            bool handled = false;
            ok = read_stored(tif, width, height, out, handled);
            if (!handled) ok = read_rgba(tif, width, height, out);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    TIFFClose(tif);
    return ok;
}

std::optional<std::vector<uint8_t>> encode_tiff(const Bitmap& bitmap) {
    if (!libtiff.ready()) return std::nullopt;
    ByteSink sink;
    MemoryFile file;
    file.sink = &sink;
    TIFF* tif = open_memory(file, "w");
    if (!tif) return std::nullopt;
    bool ok = false;
    try {
        ok = write_picture(tif, bitmap);
    } catch (const std::bad_alloc&) {
    }
    TIFFClose(tif);
    if (!ok || sink.failed) return std::nullopt;
    return std::move(sink.bytes);
}

} // namespace kem::platform
