// libFuzzer target: the picture decoders over arbitrary bytes. The first byte
// picks the format (BMP, PNG, GIF, JPEG, TIFF by its value modulo 5), the
// rest is the file. Whatever the input, a decoder must answer without
// reading or writing outside its memory; a picture it gives must have sides
// an image! can hold and every pixel in place, and must come back unchanged
// through each lossless encoder.
#include <cstddef>
#include <cstdint>
#include "runtime/platform/imaging/formats.h"

using namespace kem::platform;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

using Decoder = bool (*)(const uint8_t*, size_t, Bitmap&);
constexpr Decoder DECODERS[IMAGE_FORMAT_COUNT] = {decode_bmp, decode_png, decode_gif, decode_jpeg, decode_tiff};

bool same(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (uint64_t i = 0; i < a.count(); i++)
        if (a.data()[i] != b.data()[i]) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Small pictures only: a header may announce any size over a few bytes.
    image_decode_pixel_limit = 1 << 20;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Bitmap picture;
    if (!DECODERS[data[0] % IMAGE_FORMAT_COUNT](data + 1, size - 1, picture)) {
        check(picture.count() == 0 || picture.data() != nullptr);
        return 0;
    }
    check(picture.width() <= IMAGE_MAX_SIDE && picture.height() <= IMAGE_MAX_SIDE);
    uint32_t sum = 0;
    for (uint64_t i = 0; i < picture.count(); i++) sum += picture.data()[i];
    check(sum == sum);
    if (picture.count() == 0) return 0;
    for (ImageFormat f : {ImageFormat::bmp, ImageFormat::png, ImageFormat::tiff}) {
        const auto bytes = encode_image(picture, f);
        check(bytes.has_value());
        Bitmap back;
        check(decode_image(bytes->data(), bytes->size(), back) && same(picture, back));
    }
    return 0;
}
