// GIF through giflib.
//
// Read: the first picture, placed on the logical screen at its offset (the
// screen grows to hold a picture that reaches past it); the rest of the
// screen and the transparent colour are transparent black. Written: one
// picture whose palette holds its colours exactly when they are at most 256
// (255 with transparency), else quantised to 256; pixels with alpha below
// 128 are transparent, the others opaque.
#include <gif_lib.h>
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include "runtime/platform/imaging/formats.h"
#include "runtime/platform/shared_library.h"

namespace kem::platform {

// libgif, opened at the first picture of its format.
#define GIF_FUNCTIONS(F)                                                                                     \
    F(DGifOpen) F(DGifCloseFile) F(DGifGetRecordType) F(DGifGetImageDesc) F(DGifGetLine) F(DGifGetExtension) \
    F(DGifGetExtensionNext) F(DGifExtensionToGCB) F(EGifOpen) F(EGifCloseFile) F(EGifSetGifVersion)          \
    F(EGifPutScreenDesc) F(EGifPutExtension) F(EGifGCBToExtension) F(EGifPutImageDesc) F(EGifPutLine)        \
    F(GifBitSize) F(GifMakeMapObject) F(GifFreeMapObject) F(GifQuantizeBuffer)
KEM_LIBRARY_FUNCTIONS(gif, GIF_FUNCTIONS)
SharedLibrary libgif(KEM_LIBGIF, gif_symbols);

namespace {

constexpr uint32_t ALPHA_THRESHOLD = 128;
constexpr int MAX_COLOURS = 256;

struct Source {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int read_bytes(GifFileType* gif, GifByteType* out, int n) {
    auto* s = static_cast<Source*>(gif->UserData);
    const size_t k = std::min(size_t(n < 0 ? 0 : n), s->size - s->at);
    std::memcpy(out, s->data + s->at, k);
    s->at += k;
    return int(k);
}

int write_bytes(GifFileType* gif, const GifByteType* data, int n) {
    return static_cast<ByteSink*>(gif->UserData)->write(data, size_t(n)) ? n : 0;
}

bool read_picture(GifFileType* gif, int transparent, Bitmap& out) {
    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || desc.Width < 0 || desc.Height < 0) return false;
    const uint32_t left = uint32_t(desc.Left), top = uint32_t(desc.Top);
    const uint32_t width = uint32_t(desc.Width), height = uint32_t(desc.Height);
    const uint32_t canvas_w = std::min<uint32_t>(std::max<uint32_t>(uint32_t(gif->SWidth), left + width), IMAGE_MAX_SIDE);
    const uint32_t canvas_h = std::min<uint32_t>(std::max<uint32_t>(uint32_t(gif->SHeight), top + height), IMAGE_MAX_SIDE);
    if (!image_sides_allowed(canvas_w, canvas_h) || !out.allocate(canvas_w, canvas_h)) return false;
    uint32_t colours[MAX_COLOURS];
    for (int i = 0; i < MAX_COLOURS; i++) {
        const GifColorType* c = i < map->ColorCount ? &map->Colors[i] : nullptr;
        colours[i] = c ? pixel_word(c->Red, c->Green, c->Blue, 255) : pixel_word(0, 0, 0, 255);
    }
    if (transparent >= 0 && transparent < MAX_COLOURS) colours[transparent] = 0;
    std::vector<GifPixelType> line(width ? width : 1);
    // Interlaced rows come in four passes: every 8th from 0, every 8th from 4,
    // every 4th from 2, every 2nd from 1.
    static constexpr uint32_t starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        const uint32_t start = desc.Interlace ? starts[pass] : 0, step = desc.Interlace ? steps[pass] : 1;
        for (uint32_t y = start; y < height; y += step) {
            if (DGifGetLine(gif, line.data(), int(width)) == GIF_ERROR) return false;
            if (top + y >= canvas_h) continue;
            uint32_t* row = out.row(top + y);
            for (uint32_t x = 0; x < width && left + x < canvas_w; x++) row[left + x] = colours[line[x]];
        }
    }
    return true;
}

bool read_first_picture(GifFileType* gif, Bitmap& out) {
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == TERMINATE_RECORD_TYPE) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
            return read_picture(gif, transparent, out);
        }
        if (type != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
            GraphicsControlBlock gcb;
            if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
        }
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
}

// The palette and each pixel's index in it.
struct Indexed {
    std::vector<GifColorType> palette;
    std::vector<GifPixelType> pixels;
    int transparent = NO_TRANSPARENT_COLOR;
};

bool transparent_pixel(uint32_t p) { return (p >> 24) < ALPHA_THRESHOLD; }

void exact_palette(const Bitmap& bitmap, size_t room, Indexed& ix, bool& fits) {
    std::unordered_map<uint32_t, uint8_t> index;
    const uint64_t n = bitmap.count();
    const uint32_t* p = bitmap.data();
    fits = true;
    for (uint64_t i = 0; i < n; i++) {
        if (transparent_pixel(p[i])) continue;
        const uint32_t rgb = p[i] & 0xFFFFFF;
        auto found = index.find(rgb);
        if (found == index.end()) {
            if (index.size() == room) {
                fits = false;
                return;
            }
            found = index.emplace(rgb, uint8_t(index.size())).first;
            ix.palette.push_back(GifColorType{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
        }
        ix.pixels[i] = found->second;
    }
}

bool quantised_palette(const Bitmap& bitmap, int room, Indexed& ix) {
    const uint64_t n = bitmap.count();
    std::vector<GifByteType> r(n), g(n), b(n);
    for (uint64_t i = 0; i < n; i++) {
        const uint32_t p = bitmap.data()[i];
        r[i] = uint8_t(p >> 16);
        g[i] = uint8_t(p >> 8);
        b[i] = uint8_t(p);
    }
    ix.palette.assign(MAX_COLOURS, GifColorType{0, 0, 0});
    int size = room;
    if (GifQuantizeBuffer(bitmap.width(), bitmap.height(), &size, r.data(), g.data(), b.data(), ix.pixels.data(),
                          ix.palette.data()) == GIF_ERROR)
        return false;
    ix.palette.resize(size_t(std::clamp(size, 1, room)));
    return true;
}

bool index_pixels(const Bitmap& bitmap, Indexed& ix) {
    const uint64_t n = bitmap.count();
    bool any_transparent = false;
    for (uint64_t i = 0; i < n && !any_transparent; i++) any_transparent = transparent_pixel(bitmap.data()[i]);
    const int room = any_transparent ? MAX_COLOURS - 1 : MAX_COLOURS;
    ix.pixels.assign(n, 0);
    bool fits = false;
    exact_palette(bitmap, size_t(room), ix, fits);
    if (!fits) {
        ix.palette.clear();
        if (!quantised_palette(bitmap, room, ix)) return false;
    }
    if (any_transparent) {
        ix.transparent = int(ix.palette.size());
        ix.palette.push_back(GifColorType{0, 0, 0});
        for (uint64_t i = 0; i < n; i++)
            if (transparent_pixel(bitmap.data()[i])) ix.pixels[i] = GifPixelType(ix.transparent);
    }
    if (ix.palette.empty()) ix.palette.push_back(GifColorType{0, 0, 0});
    return true;
}

bool write_picture(GifFileType* gif, const Bitmap& bitmap, const Indexed& ix, ColorMapObject* map) {
    EGifSetGifVersion(gif, ix.transparent != NO_TRANSPARENT_COLOR);
    if (EGifPutScreenDesc(gif, int(bitmap.width()), int(bitmap.height()), map->BitsPerPixel, 0, map) == GIF_ERROR)
        return false;
    if (ix.transparent != NO_TRANSPARENT_COLOR) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, ix.transparent};
        GifByteType block[4];
        const size_t len = EGifGCBToExtension(&gcb, block);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), block) == GIF_ERROR) return false;
    }
    if (EGifPutImageDesc(gif, 0, 0, int(bitmap.width()), int(bitmap.height()), false, nullptr) == GIF_ERROR)
        return false;
    for (uint32_t y = 0; y < bitmap.height(); y++) {
        auto* line = const_cast<GifPixelType*>(ix.pixels.data() + size_t(y) * bitmap.width());
        if (EGifPutLine(gif, line, int(bitmap.width())) == GIF_ERROR) return false;
    }
    return true;
}

} // namespace

bool decode_gif(const uint8_t* data, size_t size, Bitmap& out) {
    if (!libgif.ready()) return false;
    Source source{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, read_bytes, &error);
    if (!gif) return false;
    const bool ok = read_first_picture(gif, out);
    DGifCloseFile(gif, &error);
    return ok;
}

std::optional<std::vector<uint8_t>> encode_gif(const Bitmap& bitmap) {
    if (!libgif.ready()) return std::nullopt;
    Indexed ix;
    try {
        if (!index_pixels(bitmap, ix)) return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    // A colour map holds a power of two entries, at least 2.
    const int bits = std::max(1, GifBitSize(int(ix.palette.size())));
    ix.palette.resize(size_t(1) << bits, GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(1 << bits, ix.palette.data());
    if (!map) return std::nullopt;
    ByteSink sink;
    int error = 0;
    GifFileType* gif = EGifOpen(&sink, write_bytes, &error);
    bool ok = false;
    if (gif) {
        ok = write_picture(gif, bitmap, ix, map);
        ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    }
    GifFreeMapObject(map);
    if (!ok || sink.failed) return std::nullopt;
    return std::move(sink.bytes);
}

} // namespace kem::platform
