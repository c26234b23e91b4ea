// string!: the modifying actions (append, insert, change, swap, trim), the
// string side of the set operations and the case change of uppercase and
// lowercase.
//
// Appended and inserted text is written at the tail first and then rotated
// into place, so forming a value never has to know where it will end up, and
// a failure while forming can be undone by moving the tail back. change forms
// its text apart and writes it over the old in place.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

// The largest data a series buffer may hold.
constexpr uint64_t MAX_BYTES = 0x7FFFFF00;

bool block_kind_for_append(uint8_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

// Moves the tail back to `units` code points (the unit may have widened since).
void cut_to(const Cell* s, uint32_t units) {
    SeriesBuffer* b = series_buffer(s);
    b->tail = std::min<uint32_t>(b->tail, b->head + units * text_unit(b));
}

// Forms value at the tail once, as append adds it; returns the code points added.
uint32_t add_once(Cell* target, const Cell* value_arg, int32_t part, bool only) {
    Cell value = *value_arg;
    uint8_t vt = type_of(&value);
    uint32_t before = string_full_length(target);
    NodeId node = series_node(target);
    if (part == 0) return 0;
    if (vt == TYPE_CHAR) {
        string_append_char(node_buffer(node), cell_int(&value));
    } else if (vt == TYPE_TAG) {
        string_append_char(node_buffer(node), '<');
        string_concatenate(target, &value, -1, 0, true, CONCAT_APPEND);
        string_append_char(node_buffer(node), '>');
        if (part > 0) cut_to(target, before + uint32_t(part));
    } else if (any_string_type(vt)) {
        string_concatenate(target, &value, part, 0, true, CONCAT_APPEND);
    } else if (block_kind_for_append(vt)) {
        int64_t start = std::max(series_position(&value), 0);
        int64_t end = series_buffer(&value)->used() / 16;
        if (!only && part > 0) end = std::min(end, start + part);
        Cell limit;
        make_integer(&limit, part);
        int32_t left = part;
        for (int64_t i = start; i < end; i++) {
            if (only && part > 0 && left < 1) break;
            Cell element = series_buffer(&value)->cell_head()[i];
            if (only && part > 0) left = form_direct(&element, target, &limit, left);
            else form_direct(&element, target, nullptr, INT32_MAX);
        }
        if (only && part > 0) cut_to(target, before + uint32_t(part));
    } else if (only && part > 0) {
        Cell limit;
        make_integer(&limit, part);
        form_direct(&value, target, &limit, part);
        cut_to(target, before + uint32_t(part));
    } else {
        form_direct(&value, target, nullptr, INT32_MAX);
    }
    return string_full_length(target) - before;
}

// Repeats the last `added` code points until dup copies stand at the tail.
void repeat_tail(const Cell* s, uint32_t added, int32_t dup) {
    if (added == 0 || dup <= 1) return;
    NodeId node = series_node(s);
    SeriesBuffer* b = node_buffer(node);
    uint32_t unit = text_unit(b);
    uint64_t before = b->used() / unit - added;
    uint64_t total = before + uint64_t(added) * uint64_t(dup);
    if (total * unit > MAX_BYTES) fire(Err::internal_no_memory);
    uint64_t need = b->head + total * unit;
    if (need > b->size) b = expand_series(b, int64_t(std::min(std::max(need, uint64_t(b->size) * 2), MAX_BYTES)));
    fill_repeat(b->head_ptr() + before * unit, size_t(added) * unit, size_t(dup));
    b->tail = b->head + uint32_t(total * unit);
}

// Adds value dup times at the tail; on an error the tail goes back to where
// it was. Returns the code points added in all.
uint32_t add_at_tail(Cell* target, const Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t before = string_full_length(target);
    try {
        uint32_t added = add_once(target, value, part, only);
        repeat_tail(target, added, dup);
        return added * uint32_t(std::max(dup, 1));
    } catch (...) {
        cut_to(target, before);
        throw;
    }
}

// Rotates the code points [from, tail - n) and the n at the tail, so the n
// land at `from`.
void rotate_into_place(const Cell* s, uint32_t from, uint32_t n) {
    SeriesBuffer* b = series_buffer(s);
    uint32_t unit = text_unit(b);
    uint32_t total = b->used() / unit;
    if (n == 0 || from + n >= total) return;
    uint8_t* base = b->head_ptr() + size_t(from) * unit;
    uint8_t* added = b->head_ptr() + size_t(total - n) * unit;
    string_swap_blocks(base, uint32_t(added - base), added, n * unit);
}

// Writes the n code points of `text` (a string at its head) over `removed`
// ones at `from` in s. The text after them moves only when the lengths differ
// and the buffer grows only by what the string grows; a wider text widens s
// first, which alone costs its whole length.
void put_in_place(const Cell* s, uint32_t from, uint32_t removed, const Cell* text, uint32_t n) {
    const NodeId node = series_node(s);
    const uint32_t text_width = text_unit(series_buffer(text));
    SeriesBuffer* b = node_buffer(node);
    if (text_unit(b) < text_width) b = widen_string_buffer(b, text_width);
    const uint32_t unit = text_unit(b);
    const uint32_t total = b->used() / unit;
    const uint64_t length = uint64_t(total) - removed + n;
    if (length * unit > MAX_BYTES) fire(Err::internal_no_memory);
    const uint64_t need = b->head + length * unit;
    if (need > b->size) b = expand_series(b, int64_t(std::min(std::max(need, uint64_t(b->size) * 2), MAX_BYTES)));
    uint8_t* at = b->head_ptr() + size_t(from) * unit;
    if (n != removed) std::memmove(at + size_t(n) * unit, at + size_t(removed) * unit, size_t(total - from - removed) * unit);
    const uint8_t* p = series_buffer(text)->head_ptr();
    if (text_width == unit) {
        std::memcpy(at, p, size_t(n) * unit);
    } else {
        for (uint32_t i = 0; i < n; i++) write_unit(at + size_t(i) * unit, unit, read_unit(p + size_t(i) * text_width, text_width));
    }
    b->tail = b->head + uint32_t(length * unit);
}

} // namespace

// --- append, insert, change ----------------------------------------------------------

Cell* string_append(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup, bool append) {
    Cell value = *value_arg;
    if (dup < 1) return series;
    uint32_t total = string_full_length(series);
    uint32_t pos = uint32_t(std::clamp<int64_t>(series_position(series), 0, total));
    bool at_tail = append || pos == total;
    bool told = at_tail ? series_notify_owner(series, ChangeWord::append, &value, int32_t(total), -1)
                        : series_notify_owner(series, ChangeWord::insert, &value, int32_t(pos), -1);
    uint32_t added = add_at_tail(series, &value, part, only, dup);
    if (!at_tail) rotate_into_place(series, pos, added);
    if (told) {
        if (at_tail) series_notify_owner(series, ChangeWord::appended, &value, int32_t(total), int32_t(added));
        else series_notify_owner(series, ChangeWord::inserted, &value, int32_t(pos), int32_t(added));
    }
    set_series_position(series, append ? 0 : pos + added);
    return series;
}

Cell* string_change(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup) {
    Cell value = *value_arg;
    uint32_t total = string_full_length(series);
    uint32_t pos = uint32_t(std::clamp<int64_t>(series_position(series), 0, total));
    set_series_position(series, pos);
    if (dup < 1) return series;
    if (pos == total) return string_append(series, &value, -1, only, dup, false);
    bool told = series_notify_owner(series, ChangeWord::change, &value, int32_t(pos), part);
    if (told) {
        // The owner's handler may have changed the string's length.
        total = string_full_length(series);
        pos = std::min(pos, total);
        set_series_position(series, pos);
    }
    // The new text is formed apart: written at the tail, it would need room
    // there even when the length does not change.
    Cell* saved_top = stack::top;
    Cell* text = string_make_at(stack::push_slot(), 16);
    uint32_t added = add_at_tail(text, &value, -1, only, dup);
    uint32_t room = total - pos;
    uint32_t removed = part >= 0 ? std::min<uint32_t>(uint32_t(part), room) : std::min(added, room);
    put_in_place(series, pos, removed, text, added);
    stack::top = saved_top;
    if (told) series_notify_owner(series, ChangeWord::changed, &value, int32_t(pos), int32_t(added));
    set_series_position(series, pos + added);
    return series;
}

// --- swap ------------------------------------------------------------------------------

Cell* string_swap(Cell* series1, Cell* series2) {
    uint8_t t1 = type_of(series1), t2 = type_of(series2);
    if (!any_string_type(t2) && t2 != TYPE_BINARY) fire(Err::script_invalid_arg, *series2);
    if (string_rs_length(series1) == 0 || string_rs_length(series2) == 0) return series1;
    uint32_t p1 = uint32_t(std::max(series_position(series1), 0));
    uint32_t p2 = uint32_t(std::max(series_position(series2), 0));
    int32_t c1 = string_char_at(series1, p1), c2 = string_char_at(series2, p2);
    // A binary! holds bytes: a wider code point cannot go there.
    Cell wide;
    if (t1 == TYPE_BINARY && c2 > 0xFF) {
        wide = Cell{TYPE_CHAR, 0, uint32_t(c2), 0};
        fire(Err::script_out_of_range, wide);
    }
    if (t2 == TYPE_BINARY && c1 > 0xFF) {
        wide = Cell{TYPE_CHAR, 0, uint32_t(c1), 0};
        fire(Err::script_out_of_range, wide);
    }
    bool told1 = series_notify_owner(series1, ChangeWord::swap, nullptr, int32_t(p1), 1);
    bool told2 = series_notify_owner(series2, ChangeWord::swap, nullptr, int32_t(p2), 1);
    // The handlers may have shortened either text: never write past a tail.
    if (string_rs_length(series1) > 0 && string_rs_length(series2) > 0) {
        string_overwrite_char(series_buffer(series1), p1, c2);
        string_overwrite_char(series_buffer(series2), p2, c1);
    }
    if (told1) series_notify_owner(series1, ChangeWord::swaped, nullptr, int32_t(p1), 1);
    if (told2) series_notify_owner(series2, ChangeWord::swaped, nullptr, int32_t(p2), 1);
    return series1;
}

// --- trim ------------------------------------------------------------------------------

namespace {

bool is_space(int32_t c) {
    return (c >= 1 && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// The whitespace trimmed at the ends of lines: space, tab and the non-ASCII ones.
bool is_line_space(int32_t c) { return c == ' ' || c == '\t' || (c > 0x7F && is_space(c)); }

std::vector<int32_t> code_points_from(const Cell* s, uint32_t pos) {
    uint32_t total = string_full_length(s);
    std::vector<int32_t> out;
    out.reserve(total - pos);
    for (uint32_t i = pos; i < total; i++) out.push_back(string_char_at(s, i));
    return out;
}

// Rewrites the text from pos on; every code point comes from the old text
// (or is a space or line feed), so the unit holds them all.
void rewrite_from(const Cell* s, uint32_t pos, const std::vector<int32_t>& cps) {
    SeriesBuffer* b = series_buffer(s);
    uint32_t unit = text_unit(b);
    uint8_t* at = b->head_ptr() + size_t(pos) * unit;
    for (size_t i = 0; i < cps.size(); i++) write_unit(at + i * unit, unit, cps[i]);
    b->tail = b->head + uint32_t((pos + cps.size()) * unit);
}

uint32_t trim_start(const Cell* s) {
    return uint32_t(std::clamp<int64_t>(series_position(s), 0, string_full_length(s)));
}

} // namespace

void string_trim_lines(Cell* s) {
    uint32_t pos = trim_start(s);
    std::vector<int32_t> out;
    bool gap = false;
    for (int32_t c : code_points_from(s, pos)) {
        if (is_space(c)) {
            gap = !out.empty();
            continue;
        }
        if (gap) out.push_back(' ');
        gap = false;
        out.push_back(c);
    }
    rewrite_from(s, pos, out);
}

void string_trim_spaces(Cell* s, bool head, bool tail) {
    uint32_t pos = trim_start(s);
    std::vector<int32_t> cps = code_points_from(s, pos);
    // /head keeps the end, /tail keeps the start; given both, both ends go.
    size_t first = 0, end = cps.size();
    if (head || !tail)
        while (first < end && is_space(cps[first])) first++;
    bool line_feed_cut = false;
    if (tail || !head) {
        while (end > first && is_space(cps[end - 1])) line_feed_cut |= cps[--end] == '\n';
    }
    std::vector<int32_t> out;
    if (head || tail) {
        out.assign(cps.begin() + ptrdiff_t(first), cps.begin() + ptrdiff_t(end));
    } else {
        // Each line loses the horizontal whitespace at both of its ends.
        size_t line = first;
        while (line <= end) {
            size_t stop = line;
            while (stop < end && cps[stop] != '\n') stop++;
            size_t a = line, z = stop;
            while (a < z && is_line_space(cps[a])) a++;
            while (z > a && is_line_space(cps[z - 1])) z--;
            out.insert(out.end(), cps.begin() + ptrdiff_t(a), cps.begin() + ptrdiff_t(z));
            if (stop < end) out.push_back('\n');
            line = stop + 1;
        }
        if (line_feed_cut) out.push_back('\n');
    }
    rewrite_from(s, pos, out);
}

Cell* string_trim(Cell* series, const TrimArgs& refs) {
    std::vector<int32_t> set;
    if (refs.with) {
        uint8_t wt = type_of(refs.with);
        if (wt == TYPE_CHAR || wt == TYPE_INTEGER) set.push_back(cell_int(refs.with));
        else if (any_string_type(wt) || wt == TYPE_BINARY) set = code_points_from(refs.with, trim_start(refs.with));
        else fire(Err::script_invalid_arg, *refs.with);
    } else if (refs.all) {
        set = {'\t', '\n', '\r', ' '};
    } else if (refs.auto_) {
        fire(Err::internal_not_done);
    }
    uint32_t pos = trim_start(series);
    if (pos >= string_full_length(series)) return series;
    bool told = series_notify_owner(series, ChangeWord::trim, nullptr, int32_t(pos), -1);
    // The handler may have shortened the text.
    pos = trim_start(series);
    if (refs.with || refs.all) {
        std::vector<int32_t> kept;
        for (int32_t c : code_points_from(series, pos))
            if (std::find(set.begin(), set.end(), c) == set.end()) kept.push_back(c);
        rewrite_from(series, pos, kept);
    } else if (refs.lines) {
        string_trim_lines(series);
    } else {
        string_trim_spaces(series, refs.head, refs.tail);
    }
    if (told) series_notify_owner(series, ChangeWord::trimmed, nullptr, int32_t(pos), -1);
    return series;
}

// --- set operations --------------------------------------------------------------------

Cell* string_do_set_op(bool case_, Cell* skip, int32_t op) {
    int32_t size = 1;
    if (skip) {
        size = is_type(skip, TYPE_INTEGER) ? cell_int(skip) : 0;
        if (size < 1) fire(Err::script_invalid_refine_arg, word_skip, *skip);
    }
    Cell set1 = stack::arguments[0];
    Cell set2 = op == 8 ? set1 : stack::arguments[1];
    for (Cell* s : {&set1, &set2})
        set_series_position(s, std::clamp<int64_t>(series_position(s), 0, string_full_length(s)));
    uint32_t room = uint32_t(string_rs_length(&set1)) + (op == 9 ? uint32_t(string_rs_length(&set2)) : 0);
    Cell* result = string_make_at(stack::push_slot(), room ? room : 1);

    // Keeps each record of `from` whose first code point passes the test
    // against `other` and does not yet start a record of the result.
    auto pass = [&](const Cell* from, const Cell* other, bool want_in_other, bool test) {
        uint32_t total = string_full_length(from);
        for (uint32_t i = uint32_t(series_position(from)); i < total; i += uint32_t(size)) {
            int32_t c = string_char_at(from, i);
            if (test && string_find_record_char(other, c, size, case_) != want_in_other) continue;
            if (string_find_record_char(result, c, size, case_)) continue;
            for (uint32_t k = i; k < std::min(total, i + uint32_t(size)); k++)
                string_append_char(result, string_char_at(from, k));
        }
    };
    switch (op) {
    case 8: pass(&set1, nullptr, false, false); break;
    case 9: pass(&set1, nullptr, false, false); pass(&set2, nullptr, false, false); break;
    case 10: pass(&set1, &set2, true, true); break;
    case 11: pass(&set1, &set2, false, true); break;
    case 12: pass(&set1, &set2, false, true); pass(&set2, &set1, false, true); break;
    default: fire(Err::script_invalid_arg, Cell{TYPE_INTEGER, 0, uint32_t(op), 0});
    }
    stack::arguments[0] = Cell{type_of(&set1), 0, series_node(result), 0};
    return stack::arguments;
}

// --- case change -------------------------------------------------------------------------

Cell* string_change_case(Cell* value, const Cell* part, bool upper, const Cell& part_word) {
    // A char! has no buffer and no owner: it never goes near the ownership
    // check. Anything but a string kind is refused by change_case_value.
    if (!any_string_type(type_of(value))) {
        change_case_value(value, part, upper, part_word);
        return value;
    }
    int32_t index = std::clamp<int32_t>(series_position(value), 0, int32_t(string_full_length(value)));
    int32_t n = change_case_value(value, part, upper, part_word);
    // A case change is reported once, after it, with the count of units changed.
    series_notify_owner(value, upper ? ChangeWord::uppercase : ChangeWord::lowercase, nullptr, index, n);
    return value;
}

} // namespace kem
