// Codec objects: the image codecs, and the making of a codec object from its
// Kem source and its routines. The registry: system/codecs filled in its
// order, and the library's internal words (routines only its own scripts
// call, and the places where those scripts leave the JSON and CSV codecs).
#include <iterator>
#include <string>
#include "environment/codecs.h"
#include "environment/boot.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/io/json.h"
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

// Set by the library's scripts; registered in this order after KEMBIN.
constexpr const char* LIBRARY_CODECS[][2] = {{"json", "json-codec"}, {"csv", "csv-codec"}};

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

Cell make_library_internals() {
    Cell* const saved_top = stack::top;
    const NodeId ctx = context_make(8, false, false, 0, CONTEXT_OBJECT);
    Cell* keep = stack::push_slot();
    *keep = Cell{TYPE_OBJECT, ctx, 0, 0};
    for (const auto& r : json_routines()) {
        const Cell word = word_load(r.name);
        const Cell routine = make_routine(r.spec, r.fn);
        context_add_with_value(ctx, &word, &routine);
    }
    for (const auto& codec : LIBRARY_CODECS) {
        const Cell word = word_load(codec[1]);
        Cell none;
        make_none(&none);
        context_add_with_value(ctx, &word, &none);
    }
    const Cell internals = *keep;
    stack::top = saved_top;
    return internals;
}

void bind_library_internals(Cell* script, const Cell& internals) {
    context_bind_block(script, object_context(&internals), false);
}

void register_codecs(const Cell& internals) {
    Cell* const saved_top = stack::top;
    const Cell sys = *context_global_value_cell(symbol_make("system"));
    const Cell codecs_word = word_load("codecs");
    Cell codecs = *object_rs_select(&sys, &codecs_word);
    Cell* pairs = stack::push_slot();
    *pairs = make_image_codecs();
    Cell* kembin = stack::push_slot();
    *kembin = make_kembin_codec();
    for (uint32_t k = 0; k + 1 < block_full_length(pairs); k += 2) {
        Cell key = *block_rs_abs_at(pairs, k);
        Cell value = *block_rs_abs_at(pairs, k + 1);
        map_store(&codecs, &key, &value, false, nullptr);
    }
    Cell key = word_load("kembin");
    map_store(&codecs, &key, kembin, false, nullptr);
    for (const auto& codec : LIBRARY_CODECS) {
        const Cell field = word_load(codec[1]);
        Cell value = *object_rs_select(&internals, &field);
        key = word_load(codec[0]);
        map_store(&codecs, &key, &value, false, nullptr);
    }
    stack::top = saved_top;
}

} // namespace kem
