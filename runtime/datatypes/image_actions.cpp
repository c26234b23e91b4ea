// image!: navigation, pick and poke, path access, comparison, copy, change,
// form and mold.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

using platform::Bitmap;

namespace {

inline uint32_t head_of(const Cell* image) { return std::min(series_index(image), image_pixel_count(image)); }

// The index a pick or poke names: a pair as it is, anything else as the number.
Cell index_value(int32_t index, const Cell* boxed) {
    if (boxed && is_type(boxed, TYPE_PAIR)) return *boxed;
    Cell n;
    make_integer(&n, index);
    return n;
}

Cell* empty_image(Cell* result) { return image_make_sized(result, 0, 0); }

Cell* copy_rect(const Cell* image, int64_t x, int64_t y, int64_t w, int64_t h, Cell* result) {
    const Bitmap* bm = image_bitmap(image);
    if (!bm || w < 1 || h < 1) return empty_image(result);
    Bitmap out;
    if (!platform::bitmap_copy_rect(*bm, uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h), out))
        fire(Err::internal_no_memory);
    return image_make_at(result, std::move(out));
}

[[noreturn]] void fire_invalid_path(const Cell* path, const Cell* element) {
    fire(Err::script_invalid_path, path ? *path : none_value, *element);
}

// The channels a word of a path names.
bool channels_of(uint32_t symbol, ImageChannels* mode) {
    if (symbol == symbol_resolve(rt_symbols.rgb)) *mode = ImageChannels::rgb;
    else if (symbol == symbol_resolve(rt_symbols.alpha)) *mode = ImageChannels::alpha;
    else if (symbol == symbol_resolve(rt_symbols.argb)) *mode = ImageChannels::argb;
    else return false;
    return true;
}

constexpr char HEX[] = "0123456789ABCDEF";
// The RGB block breaks its lines from this many pixels on.
constexpr uint32_t MOLD_LINES_FROM = 8;
constexpr uint32_t PIXELS_PER_LINE = 10;

// The one writer of form and mold; `level` is the indentation depth of the
// lines inside the binaries (0 for form). With a budget (`limited`) nothing
// more is written once it is spent.
int32_t write_image(const Cell* image, Cell* buffer, bool only, bool flat, int32_t level, bool limited,
                    int32_t part) {
    std::string out;
    auto emit = [&](std::string_view text) {
        if (limited && part <= 0) return false;
        out += text;
        part = int32_t(std::max<int64_t>(int64_t(part) - int64_t(text.size()), INT32_MIN));
        return true;
    };
    auto line = [&](int32_t levels) { return emit("\n") && emit(std::string(size_t(std::max(levels, 0)) * 4, ' ')); };
    bool going = only || emit("make image! [");
    const uint32_t w = image_width(image), h = image_height(image);
    going = going && emit(std::to_string(w) + "x" + std::to_string(h));
    const Bitmap* bm = image_bitmap(image);
    if (!bm) {
        going = going && emit(" #{}");
    } else {
        const uint32_t head = head_of(image), count = image_pixel_count(image) - head;
        const uint32_t* p = bm->data() + head;
        const bool lines = !flat && count >= MOLD_LINES_FROM;
        going = going && emit(" #{") && (!lines || line(level));
        for (uint32_t i = 0; going && i < count; i++) {
            const char digits[6] = {HEX[(p[i] >> 20) & 15], HEX[(p[i] >> 16) & 15], HEX[(p[i] >> 12) & 15],
                                    HEX[(p[i] >> 8) & 15],  HEX[(p[i] >> 4) & 15],  HEX[p[i] & 15]};
            going = emit(std::string_view(digits, 6)) && (!lines || (i + 1) % PIXELS_PER_LINE || line(level));
        }
        if (going && lines && count % PIXELS_PER_LINE) going = line(level - 1);
        going = going && emit("}");
        // Transparency only when some pixel has any; this block always opens
        // and closes with a line break.
        const bool alpha = std::any_of(p, p + count, [](uint32_t v) { return (v >> 24) != 255; });
        if (going && alpha) {
            going = emit(" #{") && line(level);
            for (uint32_t i = 0; going && i < count; i++) {
                const uint32_t t = 255 - (p[i] >> 24);
                const char digits[2] = {HEX[t >> 4], HEX[t & 15]};
                going = emit(std::string_view(digits, 2)) && (flat || (i + 1) % PIXELS_PER_LINE || line(level));
            }
            going = going && line(level - 1) && emit("}");
        }
    }
    if (going && !only) emit("]");
    string_append_ascii(buffer, out);
    return part;
}

// The owner hears of a change before and after it, when the image has one.
struct ChangeNotice {
    ChangeNotice(const Cell* image, ChangeWord before, ChangeWord after, const Cell* value, int32_t index,
                 int32_t part)
        : held_{*image, value ? *value : none_value}, keep_(held_, 2), after_(after), index_(index), part_(part) {
        told_ = series_notify_owner(&held_[0], before, &held_[1], index, part);
    }
    void done() {
        if (told_) series_notify_owner(&held_[0], after_, &held_[1], index_, part_);
    }

private:
    Cell held_[2];  // the image and the new value, rooted while handlers run
    RootedCells keep_;
    ChangeWord after_;
    int32_t index_, part_;
    bool told_ = false;
};

} // namespace

// --- navigation --------------------------------------------------------------

Cell* image_at() {
    Cell* image = stack::arguments;
    image->data1 = image_index_of(image, stack::arguments + 1, 1, nullptr);
    return image;
}

Cell* image_skip() {
    Cell* image = stack::arguments;
    image->data1 = image_index_of(image, stack::arguments + 1, 0, nullptr);
    return image;
}

Cell* image_next() {
    Cell* image = stack::arguments;
    if (series_index(image) < image_pixel_count(image)) image->data1++;
    return image;
}

Cell* image_tail() {
    Cell* image = stack::arguments;
    image->data1 = image_pixel_count(image);
    return image;
}

Cell* image_tail_q() {
    Cell* image = stack::arguments;
    make_logic(image, series_index(image) >= image_pixel_count(image));
    return image;
}

int32_t image_length_q(Cell* series) { return int32_t(image_pixel_count(series)); }

// --- pixels ------------------------------------------------------------------

Cell* image_pick(Cell* series, int32_t index, Cell* boxed) {
    const Cell at = index_value(index, boxed);
    bool outside = false;
    const uint32_t offset = image_index_of(series, &at, 1, &outside);
    if (outside) return const_cast<Cell*>(&none_value);
    return image_pixel_at(series, offset, series);
}

Cell* image_poke(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    const Cell at = index_value(index, boxed);
    bool outside = false;
    const uint32_t offset = image_index_of(series, &at, 1, &outside);
    if (outside) fire(Err::script_out_of_range, at);
    if (!is_type(data, TYPE_TUPLE)) fire(Err::script_invalid_arg, *data);
    const uint32_t pixel = image_pixel_of_tuple(data);
    ChangeNotice notice(series, ChangeWord::poke, ChangeWord::poked, data, int32_t(offset), 1);
    image_bitmap(series)->data()[offset] = pixel;
    notice.done();
    return data;
}

Cell* image_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    const Cell* path = step.path;
    if (is_type(element, TYPE_INTEGER) || is_type(element, TYPE_PAIR)) {
        Cell* target = stack::push(parent);
        const int32_t n = is_type(element, TYPE_INTEGER) ? cell_int(element) : 0;
        if (!value) return image_pick(target, n, element);
        return image_poke(target, n, value, element);
    }
    if (!is_type(element, TYPE_WORD)) fire_invalid_path(path, element);
    const uint32_t symbol = symbol_resolve(element->data2);
    if (symbol == symbol_resolve(rt_symbols.size)) {
        if (value) fire_invalid_path(path, element);
        return pair_push(int32_t(image_width(parent)), int32_t(image_height(parent)));
    }
    ImageChannels mode;
    if (!channels_of(symbol, &mode)) fire_invalid_path(path, element);
    if (!value) return image_extract_data(parent, mode, nullptr);
    image_set_data(parent, value, mode);
    return value;
}

// --- comparison --------------------------------------------------------------

int32_t image_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_IMAGE)) return -2;
    const bool same = series_node(value1) == series_node(value2) && series_index(value1) == series_index(value2);
    if (op == CompareOp::same) return same ? 0 : -1;
    const bool equality = op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal;
    if (same && equality) return 0;
    if (!compare_unordered(op)) return -2;
    // The shape first: the same pixels in another shape are another picture.
    const uint32_t w1 = image_width(value1), w2 = image_width(value2);
    const uint32_t h1 = image_height(value1), h2 = image_height(value2);
    if (w1 != w2) return w1 < w2 ? -1 : 1;
    if (h1 != h2) return h1 < h2 ? -1 : 1;
    const Bitmap *a = image_bitmap(value1), *b = image_bitmap(value2);
    if (!a || !b) return 0;
    const int r = std::memcmp(a->data(), b->data(), size_t(a->count()) * sizeof(uint32_t));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// --- copy and change ---------------------------------------------------------

Cell* image_copy(Cell* value, Cell* result, const CopyArgs& refs) {
    const Cell image = *value;
    const Cell* part = refs.part;
    const int64_t w = image_width(&image), h = image_height(&image), count = w * h;
    const int64_t head = head_of(&image);
    if (!w || !h) return empty_image(result);
    const int64_t x0 = head % w, y0 = head / w;
    if (!part) {
        if (head == 0) return copy_rect(&image, 0, 0, w, h, result);
        return copy_rect(&image, x0, y0, w - x0, h - y0, result);
    }
    if (is_type(part, TYPE_PAIR)) {
        const int64_t pw = pair_x(part), ph = pair_y(part);
        if (pw >= 1 && ph >= 1 && head < count)
            return copy_rect(&image, x0, y0, std::min(pw, w - x0), std::min(ph, h - y0), result);
        if (pw < 0 && ph < 0 && head > 0) {
            // The rectangle ends at the position: a column of 0 stands for the
            // right edge, and the position's own row is in it.
            const int64_t right = x0 == 0 ? w : x0, bottom = y0 < h ? y0 + 1 : y0;
            const int64_t left = std::max<int64_t>(right + pw, 0), top = std::max<int64_t>(bottom + ph, 0);
            return copy_rect(&image, left, top, right - left, bottom - top, result);
        }
        return empty_image(result);
    }
    if (is_type(part, TYPE_IMAGE)) {
        if (series_node(part) != series_node(&image)) fire(Err::script_invalid_refine_arg, word_part, *part);
        const int64_t other = std::min<int64_t>(series_index(part), count);
        const int64_t lo = std::min(head, other), hi = std::max(head, other);
        const int64_t x1 = lo % w, y1 = lo / w, x2 = hi % w, y2 = hi / w;
        return copy_rect(&image, x1, y1, x2 - x1, y2 - y1, result);
    }
    if (is_type(part, TYPE_INTEGER)) fire(Err::internal_not_done);
    fire(Err::script_invalid_refine_arg, word_part, *part);
}

Cell* image_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (part != -1 || dup > 1) fire(Err::internal_not_done);
    const uint32_t w = image_width(series), h = image_height(series), count = w * h;
    const uint32_t head = series_index(series);
    if (is_type(value, TYPE_TUPLE)) {
        if (head >= count) {
            Cell index;
            make_integer(&index, int32_t(std::min<uint32_t>(head, INT32_MAX)) + 1);
            fire(Err::script_out_of_range, index);
        }
        const uint32_t pixel = image_pixel_of_tuple(value);
        ChangeNotice notice(series, ChangeWord::change, ChangeWord::changed, value, int32_t(head), 1);
        image_bitmap(series)->data()[head] = pixel;
        notice.done();
        series->data1 = head + 1;
        return series;
    }
    if (!is_type(value, TYPE_IMAGE)) {
        Cell type;
        make_datatype(&type, type_of(value));
        fire(Err::script_invalid_type, type);
    }
    if (head >= count) return series;
    const uint32_t x0 = head % w, y0 = head / w;
    const uint32_t sw = image_width(value), sh = image_height(value);
    const uint32_t cols = std::min(sw, w - x0), rows = std::min(sh, h - y0);
    if (!cols || !rows) return series;
    ChangeNotice notice(series, ChangeWord::change, ChangeWord::changed, value, int32_t(head), int32_t(cols * rows));
    Bitmap* target = image_bitmap(series);
    const Bitmap* source = image_bitmap(value);
    // An image changed with itself reads the pixels as they were.
    std::vector<uint32_t> saved;
    if (source == target) saved.assign(source->data(), source->data() + source->count());
    const uint32_t* from = saved.empty() ? source->data() : saved.data();
    for (uint32_t r = 0; r < rows; r++)
        std::memcpy(target->row(y0 + r) + x0, from + size_t(r) * sw, size_t(cols) * sizeof(uint32_t));
    notice.done();
    series->data1 = (y0 + rows - 1) * w + std::min(x0 + sw, w);
    return series;
}

// --- form and mold -----------------------------------------------------------

int32_t image_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_image(value, buffer, false, false, 0, arg != nullptr, part);
}

int32_t image_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return write_image(value, buffer, refs.only, refs.flat, std::max(indent, 0) + 1, refs.limit != nullptr, part);
}

} // namespace kem
