// image!: records and their pixels, make and to, pixels as values, channel
// data, the codecs' entry points and the registration of the row.
#include "runtime/datatypes/image.h"
#include <algorithm>
#include <cstring>
#include <memory>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/handles.h"
#include "runtime/core/memory.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/platform/platform.h"

namespace kem {

using platform::Bitmap;

namespace {

// The record of an image: what its node's bytes hold.
struct ImageRecord {
    uint32_t size;   // height << 16 | width, as in the cells
    int32_t handle;  // the pixels' entry in the handle table; -1 for none
};

uint32_t handle_type_number = 0;

void release_bitmap(uintptr_t value) {
    auto* bitmap = reinterpret_cast<Bitmap*>(value);
    note_external_free(bitmap->count() * sizeof(uint32_t));
    delete bitmap;
}

// The handle type is registered with the first pixels (the handle table may
// be made after the datatypes); a table made anew since gets it again.
uint32_t image_handle_type() {
    const HandleType* t = handle_type_number ? handle_type(handle_type_number) : nullptr;
    if (!t || t->release != release_bitmap) handle_type_number = handle_type_register("image", release_bitmap);
    return handle_type_number;
}

ImageRecord* record_of(const Cell* image) {
    return reinterpret_cast<ImageRecord*>(node_buffer(series_node(image))->head_ptr());
}

// The collector reaches an image's pixels through its record.
void mark_record(NodeId record) {
    const ImageRecord* r = reinterpret_cast<const ImageRecord*>(node_buffer(record)->head_ptr());
    if (r->handle >= 0) handle_mark(r->handle, 0);
}

NodeId make_record(uint32_t size, int32_t handle) {
    const NodeId node = alloc_bytes(sizeof(ImageRecord));
    SeriesBuffer* b = node_buffer(node);
    *reinterpret_cast<ImageRecord*>(b->head_ptr()) = ImageRecord{size, handle};
    b->tail = b->head + sizeof(ImageRecord);
    return node;
}

constexpr uint8_t WHITE = 255;

Cell* out_or_push(Cell* out) { return out ? out : stack::push_slot(); }

[[noreturn]] void fire_with_datatype(Err e, const Cell& value) {
    Cell dt;
    make_datatype(&dt, TYPE_IMAGE);
    fire(e, dt, value);
}

// The pixels of make: a fill colour, or RGB triples and alpha bytes (255 -
// alpha) from binaries; pixels past the data are white and opaque.
void fill_pixels(Bitmap& bm, const Cell* rgb, const Cell* alpha, const Cell* colour) {
    uint32_t* p = bm.data();
    const uint64_t n = bm.count();
    if (colour) {
        std::fill(p, p + n, image_pixel_of_tuple(colour));
        return;
    }
    std::fill(p, p + n, platform::pixel_word(WHITE, WHITE, WHITE, 255));
    if (rgb) {
        const uint8_t* s = series_buffer(rgb)->head_ptr() + binary_index(rgb);
        const uint64_t count = std::min<uint64_t>(n, uint64_t(binary_rs_length(rgb)) / 3);
        for (uint64_t i = 0; i < count; i++, s += 3) p[i] = platform::pixel_word(s[0], s[1], s[2], 255);
    }
    if (alpha) {
        const uint8_t* s = series_buffer(alpha)->head_ptr() + binary_index(alpha);
        const uint64_t count = std::min<uint64_t>(n, uint64_t(binary_rs_length(alpha)));
        for (uint64_t i = 0; i < count; i++) p[i] = (p[i] & 0xFFFFFF) | uint32_t(255 - s[i]) << 24;
    }
}

// make image! [size rgb-or-colour alpha]
Cell* make_from_block(const Cell* spec) {
    const Cell* first = series_buffer(spec)->cell_head() + series_position(spec);
    const uint32_t n = uint32_t(series_length_at(const_cast<Cell*>(spec), false));
    if (!is_type(first, TYPE_PAIR)) fire(Err::script_invalid_arg, *first);
    const Cell size = first[0];
    const Cell second = n > 1 ? first[1] : none_value;
    const Cell third = n > 2 ? first[2] : none_value;
    const Cell *rgb = nullptr, *colour = nullptr, *alpha = nullptr;
    if (n > 1) {
        if (is_type(&second, TYPE_BINARY)) rgb = &second;
        else if (is_type(&second, TYPE_TUPLE)) colour = &second;
        else fire(Err::script_invalid_arg, second);
    }
    if (n > 2) {
        if (!is_type(&third, TYPE_BINARY)) fire(Err::script_invalid_arg, third);
        alpha = &third;
    }
    Cell* result = image_make_sized(stack::push_slot(), pair_x(&size), pair_y(&size));
    if (Bitmap* bm = image_bitmap(result)) fill_pixels(*bm, rgb, alpha, colour);
    return result;
}

} // namespace

// --- records and pixels ------------------------------------------------------

Cell* image_make_at(Cell* c, Bitmap&& bitmap) {
    if (bitmap.count() > uint64_t(INT32_MAX)) fire(Err::internal_no_memory);
    const uint32_t size = image_size_word(bitmap.width(), bitmap.height());
    int32_t handle = -1;
    if (bitmap.count()) {
        // Pixels live outside the series frames: they count toward the next
        // collection all the same, so dead pictures do not pile up.
        note_external_alloc(bitmap.count() * sizeof(uint32_t));
        auto owned = std::make_unique<Bitmap>(std::move(bitmap));
        handle = handle_alloc(reinterpret_cast<uintptr_t>(owned.get()), image_handle_type());
        owned.release();
    }
    const NodeId record = make_record(size, handle);
    c = out_or_push(c);
    *c = Cell{TYPE_IMAGE, 0, record, size};
    return c;
}

Cell* image_make_sized(Cell* c, int64_t width, int64_t height) {
    width = std::max<int64_t>(width, 0);
    height = std::max<int64_t>(height, 0);
    if (width > platform::IMAGE_MAX_SIDE || height > platform::IMAGE_MAX_SIDE) {
        Cell size;
        pair_set_in(&size, int32_t(width), int32_t(height));
        fire(Err::script_invalid_arg, size);
    }
    // More pixels than an integer! counts are refused before any memory is taken.
    Bitmap bm;
    if (width * height > INT32_MAX || !bm.allocate(uint32_t(width), uint32_t(height)))
        fire(Err::internal_no_memory);
    return image_make_at(c, std::move(bm));
}

Bitmap* image_bitmap(const Cell* image) {
    const int32_t handle = record_of(image)->handle;
    if (handle < 0) return nullptr;
    return reinterpret_cast<Bitmap*>(handle_entry(handle)->value);
}

uint32_t image_pixel_of_tuple(const Cell* tuple) {
    const uint8_t* b = tuple_bytes(tuple);
    const uint32_t alpha = tuple_length(tuple) > 3 ? 255u - b[3] : 255u;
    return platform::pixel_word(b[0], b[1], b[2], alpha);
}

Cell* image_pixel_at(const Cell* image, uint32_t offset, Cell* out) {
    const Bitmap* bm = image_bitmap(image);
    if (!bm || offset >= bm->count()) {
        *out = none_value;
        return out;
    }
    const uint32_t p = bm->data()[offset];
    const uint8_t bytes[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(255 - (p >> 24))};
    return tuple_make_at(out, bytes, 4);
}

uint32_t image_index_of(const Cell* image, const Cell* index, int base, bool* out_of_range) {
    const int64_t w = image_width(image), h = image_height(image), count = w * h;
    bool outside = false;
    int64_t n = 0;
    if (is_type(index, TYPE_PAIR)) {
        const int64_t x = pair_x(index), y = pair_y(index);
        if (base == 1) {
            n = x + w * (y <= 0 ? y : y - 1);
            outside = x < 1 || x > w || y < 1 || y > h;
        } else {
            n = x + w * y;
            outside = x < 0 || x >= w || y < 0 || y >= h;
        }
    } else if (is_type(index, TYPE_INTEGER)) {
        n = cell_int(index);
    } else {
        fire(Err::script_invalid_arg, *index);
    }
    int64_t offset = int64_t(series_index(image)) + n - base;
    if (base == 1 && n <= 0) offset++;
    if (n == 0 || offset < 0 || offset >= count) outside = true;
    if (out_of_range) *out_of_range = outside;
    return uint32_t(std::clamp<int64_t>(offset, 0, count));
}

// --- channel data ------------------------------------------------------------

Cell* image_extract_data(const Cell* image, ImageChannels mode, Cell* out) {
    const Bitmap* bm = image_bitmap(image);
    const uint64_t n = bm ? bm->count() : 0;
    const uint32_t per = mode == ImageChannels::alpha ? 1 : mode == ImageChannels::rgb ? 3 : 4;
    out = out_or_push(out);
    binary_make_at(out, uint32_t(n * per));
    SeriesBuffer* b = series_buffer(out);
    uint8_t* o = b->head_ptr();
    for (uint64_t i = 0; i < n; i++) {
        const uint32_t p = bm->data()[i];
        switch (mode) {
        case ImageChannels::alpha: *o++ = uint8_t(255 - (p >> 24)); break;
        case ImageChannels::rgb:
            *o++ = uint8_t(p >> 16);
            *o++ = uint8_t(p >> 8);
            *o++ = uint8_t(p);
            break;
        case ImageChannels::argb: std::memcpy(o, &p, 4), o += 4; break;
        }
    }
    b->tail = b->head + uint32_t(n * per);
    return out;
}

void image_set_data(const Cell* image, const Cell* value, ImageChannels mode) {
    uint32_t fill = 0;
    const bool bytes = is_type(value, TYPE_BINARY);
    if (is_type(value, TYPE_TUPLE)) {
        fill = image_pixel_of_tuple(value);
    } else if (is_type(value, TYPE_INTEGER)) {
        // The integer's four bytes as a tuple's, the first byte the highest.
        const uint32_t v = uint32_t(cell_int(value));
        fill = platform::pixel_word(v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, 255 - (v & 0xFF));
    } else if (!bytes) {
        fire(Err::script_invalid_arg, *value);
    }
    Bitmap* bm = image_bitmap(image);
    uint32_t* p = bm ? bm->data() : nullptr;
    const uint64_t n = bm ? bm->count() : 0;
    if (bytes) {
        const uint8_t* s = series_buffer(value)->head_ptr() + binary_index(value);
        const uint64_t length = uint64_t(binary_rs_length(value));
        switch (mode) {
        case ImageChannels::argb: std::memcpy(p, s, size_t(std::min(4 * n, length))); break;
        case ImageChannels::rgb:
            for (uint64_t i = 0; i < std::min(n, length / 3); i++, s += 3)
                p[i] = (p[i] & 0xFF000000) | platform::pixel_word(s[0], s[1], s[2], 0);
            break;
        case ImageChannels::alpha:
            for (uint64_t i = 0; i < std::min(n, length); i++) p[i] = (p[i] & 0xFFFFFF) | uint32_t(255 - s[i]) << 24;
            break;
        }
    } else {
        for (uint64_t i = 0; i < n; i++) {
            switch (mode) {
            case ImageChannels::argb: p[i] = fill; break;
            case ImageChannels::rgb: p[i] = (p[i] & 0xFF000000) | (fill & 0xFFFFFF); break;
            case ImageChannels::alpha: p[i] = (p[i] & 0xFFFFFF) | (fill & 0xFF000000); break;
            }
        }
    }
    series_notify_owner(image, ChangeWord::changed, value, 0, int32_t(n));
}

// --- codecs ------------------------------------------------------------------

namespace {

// Raises access no-codec naming the library the format's codec needs when it
// cannot be opened.
void need_codec_library(platform::ImageFormat format) {
    if (const char* library = platform::image_library_missing(format)) {
        Cell name;
        string_make_utf8(&name, library);
        fire(Err::access_no_codec, name);
    }
}

// The same for the format data is in, when it is in one.
void need_codec_library(const uint8_t* data, size_t size) {
    if (const auto format = platform::image_format_of(data, size)) need_codec_library(*format);
}

} // namespace

Cell* image_encode(const Cell* image, Cell* where, platform::ImageFormat format) {
    if (image->data3 == 0) fire(Err::access_bad_media);
    need_codec_library(format);
    const Bitmap* bm = image_bitmap(image);
    std::optional<std::vector<uint8_t>> bytes;
    if (bm) bytes = platform::encode_image(*bm, format);
    else bytes.emplace();
    if (!bytes || bytes->size() > uint64_t(INT32_MAX)) fire(Err::access_bad_media);
    return binary_load_at(bytes->data(), uint32_t(bytes->size()), out_or_push(where));
}

Cell* image_decode(const Cell* value) {
    const Cell source = *value;
    Bitmap bm;
    if (is_type(&source, TYPE_BINARY)) {
        // A copy of the bytes: nothing may move them while they are read.
        const uint8_t* head = series_buffer(&source)->head_ptr() + binary_index(&source);
        const std::vector<uint8_t> data(head, head + binary_rs_length(&source));
        if (!platform::image_format_of(data.data(), data.size())) return stack::push(&none_value);
        need_codec_library(data.data(), data.size());
        if (!platform::decode_image(data.data(), data.size(), bm)) fire(Err::access_bad_media);
        return image_make_at(nullptr, std::move(bm));
    }
    std::optional<std::vector<uint8_t>> data;
    if (is_type(&source, TYPE_FILE) || is_type(&source, TYPE_URL)) {
        Cell url = source;
        ReadArgs binary;
        binary.binary = true;
        const Cell read = *read_direct(&url, binary);
        if (is_type(&read, TYPE_BINARY)) {
            const uint8_t* head = series_buffer(&read)->head_ptr() + binary_index(&read);
            data.emplace(head, head + binary_rs_length(&read));
        }
    } else {
        fire(Err::script_invalid_arg, source);
    }
    if (data) need_codec_library(data->data(), data->size());
    if (!data || !platform::decode_image(data->data(), data->size(), bm)) fire(Err::access_cannot_open, source);
    return image_make_at(nullptr, std::move(bm));
}

// --- make and to -------------------------------------------------------------

namespace {
FaceImage face_image = nullptr;
}

void set_face_image(FaceImage hook) { face_image = hook; }

Cell* image_to(Cell* proto, Cell* spec, int32_t type) {
    if (is_type(spec, TYPE_IMAGE)) return image_copy(spec, stack::push_slot(), CopyArgs{});
    Cell face_picture;
    if (is_type(spec, TYPE_OBJECT) && face_image && face_image(spec, &face_picture)) return stack::push(&face_picture);
    fire_with_datatype(Err::script_bad_to_arg, *spec);
}

Cell* image_make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_PAIR: {
        Cell* result = image_make_sized(stack::push_slot(), pair_x(spec), pair_y(spec));
        if (Bitmap* bm = image_bitmap(result)) fill_pixels(*bm, nullptr, nullptr, nullptr);
        return result;
    }
    case TYPE_BLOCK:
        if (series_length_at(spec, false) > 0) return make_from_block(spec);
        if (is_type(proto, TYPE_IMAGE)) return image_copy(proto, stack::push_slot(), CopyArgs{});
        fire(Err::script_invalid_arg, *spec);
    default: return image_to(proto, spec, type);
    }
}

void register_image() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(image_make)
        .set<ACT_TO>(image_to)
        .set<ACT_FORM>(image_form)
        .set<ACT_MOLD>(image_mold)
        .set<ACT_EVAL_PATH>(image_eval_path)
        .set<ACT_COMPARE>(image_compare)
        .set<ACT_AT>(image_at)
        .inherit(ACT_BACK)
        .set<ACT_CHANGE>(image_change)
        .set<ACT_COPY>(image_copy)
        .inherit(ACT_HEAD)
        .inherit(ACT_HEAD_Q)
        .inherit(ACT_INDEX_Q)
        .set<ACT_LENGTH_Q>(image_length_q)
        .set<ACT_NEXT>(image_next)
        .set<ACT_PICK>(image_pick)
        .set<ACT_POKE>(image_poke)
        .set<ACT_SKIP>(image_skip)
        .set<ACT_TAIL>(image_tail)
        .set<ACT_TAIL_Q>(image_tail_q)
        .inherit(ACT_MODIFY);
    register_datatype(TYPE_IMAGE, TYPE_SERIES, "image!", row);
    collector::set_mark_kind(TYPE_IMAGE, collector::MK_IMAGE);
    collector::set_image_mark_hook(mark_record);
}

} // namespace kem
