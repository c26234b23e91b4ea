// Shared helpers of the unit tests: bringing the runtime up, making cells,
// catching errors and reading text back out of string cells.
#pragma once
#include <gtest/gtest.h>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/utf.h"

namespace kem::test {

// --- bringing the runtime up ---------------------------------------------------------------

// Memory, the stacks, the cycle guard, the case tables and every datatype's row.
inline void datatypes_up() {
    memory_init();
    stack::init();
    cycle_init();
    case_tables_init();
    register_all_datatypes();
}

// As datatypes_up, with the word tables as well.
inline void words_up() {
    datatypes_up();
    words_init();
}

// A word naming the native whose call an action runs in.
inline const Cell CALLER{TYPE_WORD, 0, 7, 0xFFFFFFFF};

// The whole runtime with its words, and a native frame named CALLER open on
// fresh stacks, so that actions can run as the current call.
inline void runtime_with_caller() {
    init_runtime();
    words_init();
    stack::init();
    stack::push_native_frame(&CALLER);
}

// Makes a and b the current call's arguments.
inline void call_with(const Cell& a, const Cell& b) {
    stack::top = stack::arguments;
    stack::push(&a);
    stack::push(&b);
}

// --- making cells ----------------------------------------------------------------------------

inline Cell I(int32_t v) { Cell c; make_integer(&c, v); return c; }
inline Cell F(double d) { Cell c; make_float(&c, d); return c; }
inline Cell C(int32_t cp) { return Cell{TYPE_CHAR, 0, uint32_t(cp), 0}; }
inline const Cell NONE{TYPE_NONE, 0, 0, 0};
inline Cell W(const char* name, uint8_t type = TYPE_WORD) { return word_load(name, type); }
inline Cell LW(const char* name) { return word_load(name, TYPE_LIT_WORD); }
inline Cell GW(const char* name) { return word_load(name, TYPE_GET_WORD); }
inline Cell SW(const char* name) { return word_load(name, TYPE_SET_WORD); }
inline Cell R(const char* name) { return refinement_load(name); }

// A string! of UTF-8 text, optionally at a position.
inline Cell S(std::string_view text, int32_t pos = 0) {
    Cell c;
    string_make_utf8(&c, text);
    set_series_position(&c, pos);
    return c;
}

// A block! of the cells.
inline Cell B(std::initializer_list<Cell> items) {
    Cell b;
    block_make_at(&b, int32_t(items.size()));
    for (const Cell& c : items) block_append_cell(&b, &c);
    return b;
}

// The series at another position.
inline Cell at(Cell s, int32_t pos) {
    set_series_position(&s, pos);
    return s;
}

// A text value of any string kind from UTF-8, built code point by code point
// (so a leading U+FEFF or a NUL is kept, unlike loading text).
inline Cell text_by_points(std::string_view utf8, uint8_t type = TYPE_STRING) {
    Cell c;
    string_make_at(&c, 16);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    while (p < end) {
        int32_t cp;
        int n = unicode::check_utf8_char(p, size_t(end - p), &cp);
        EXPECT_GT(n, 0) << "bad test text";
        if (n <= 0) break;
        string_append_char(&c, cp);
        p += n;
    }
    set_type(&c, type);
    return c;
}

// Type and the whole payload.
inline bool same_cell(const Cell& a, const Cell& b) {
    return type_of(&a) == type_of(&b) && a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3;
}

// --- errors ----------------------------------------------------------------------------------

// The id of the error fn raises, if it raises one.
template <class Fn> std::optional<Err> error_of(Fn&& fn) {
    try {
        fn();
    } catch (const KemError& e) {
        return e.id;
    }
    return std::nullopt;
}

// --- reading text back -----------------------------------------------------------------------

// The text of a string kind from its position, as UTF-8.
inline std::string utf8_of(const Cell& s) {
    std::string out;
    TextRange r = string_text_range(&s);
    for (uint32_t i = 0; i < r.length; i++) {
        uint8_t seq[4];
        int n = utf8_encode_char(string_char_at(&s, r.pos + i), seq);
        out.append(reinterpret_cast<char*>(seq), size_t(n));
    }
    return out;
}

// The bytes of a series buffer from its head, as they are stored.
inline std::string buffer_bytes(const Cell& s) {
    SeriesBuffer* b = node_buffer(series_node(&s));
    return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used());
}

// The value formed or molded as UTF-8; a limit of 0 or more is a /part budget,
// and left, when given, receives what the action says remains of it.
inline std::string text_within(Cell v, bool mold, int32_t limit = -1, int32_t* left = nullptr, bool all = false) {
    Cell buf;
    string_make_at(&buf, 16);
    Cell arg = I(limit);
    Cell* a = limit >= 0 ? &arg : nullptr;
    int32_t part = limit >= 0 ? limit : INT32_MAX;
    int32_t r =
        mold ? mold_direct(&v, &buf, MoldArgs{.all = all, .limit = a}, part, 0) : form_direct(&v, &buf, a, part);
    if (left) *left = r;
    return utf8_of(buf);
}

// The value molded, without a budget to speak of.
inline std::string mold_text(const Cell& v) {
    Cell value = v;
    Cell buf;
    string_make_at(&buf, 64);
    mold_direct(&value, &buf, MoldArgs{}, 1 << 30, 0);
    return utf8_of(buf);
}

} // namespace kem::test
