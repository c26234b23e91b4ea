// Codec objects: the image codecs, and the making of a codec object from its
// Kem source and its routines.
#include <iterator>
#include <string>
#include "environment/boot.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"

namespace kem {

using platform::ImageFormat;

namespace {

// encode img where: the image in the codec's format (`where` names nothing here).
template <ImageFormat F> Cell* encode(Cell* args) {
    const Cell image = args[0];
    image_encode(&image, &args[0], F);
    return &args[0];
}

// decode data: the picture in a binary!, file! or url!, whatever its format.
Cell* decode(Cell* args) {
    args[0] = *image_decode(&args[0]);
    return &args[0];
}

struct ImageCodec {
    const char* key;
    const char* name;
    const char* mime;
    const char* suffixes;
    RoutineFn encode;
};

// In the order system/codecs holds them.
constexpr ImageCodec IMAGE_CODECS[] = {
    {"png", "PNG", "image/png", "%.png", encode<ImageFormat::png>},
    {"jpeg", "JPEG", "image/jpeg", "%.jpg %.jpeg %.jpe %.jfif", encode<ImageFormat::jpeg>},
    {"bmp", "BMP", "image/bmp", "%.bmp", encode<ImageFormat::bmp>},
    {"gif", "GIF", "image/gif", "%.gif", encode<ImageFormat::gif>},
    {"tiff", "TIFF", "image/tiff", "%.tif %.tiff", encode<ImageFormat::tiff>},
};

} // namespace

Cell make_codec_object(std::string_view source, std::initializer_list<CodecRoutine> routines) {
    Cell* const saved_top = stack::top;
    Cell* code = stack::push_slot();
    lexer_scan(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true,
               true, nullptr, nullptr, nullptr, nullptr);
    const Cell body = *code;
    interp::eval_block(&body, false);
    Cell codec = *(stack::top - 1);
    RootedCell keep(&codec);
    for (const CodecRoutine& r : routines) {
        const Cell routine = make_routine(r.spec, r.fn);
        const Cell word = word_load(r.field);
        *const_cast<Cell*>(object_rs_select(&codec, &word)) = routine;
    }
    stack::top = saved_top;
    return codec;
}

Cell make_image_codecs() {
    Cell* const saved_top = stack::top;
    Cell* list = block_make_at(stack::push_slot(), 2 * int32_t(std::size(IMAGE_CODECS)));
    for (const ImageCodec& c : IMAGE_CODECS) {
        const std::string source = std::string("make object! [\n    title: \"\"\n    name: '") + c.name +
                                   "\n    mime-type: [" + c.mime + "]\n    suffixes: [" + c.suffixes +
                                   "]\n    encode: none\n    decode: none\n]";
        const Cell codec = make_codec_object(source, {
                                                         {"encode", "[img [image!] where [any-type!]]", c.encode},
                                                         {"decode", "[data [any-type!]]", decode},
                                                     });
        const Cell key = word_load(c.key);
        block_append_cell(list, &key);
        block_append_cell(list, &codec);
    }
    const Cell result = *list;
    stack::top = saved_top;
    return result;
}

} // namespace kem
