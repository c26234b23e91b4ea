// Shared helpers of the number tests: making cells, running an action on a
// fresh call, comparing results and reading formed text.
#pragma once
#include <gtest/gtest.h>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "value_support.h"

namespace kem::test {

inline Cell typed(uint8_t type, double d) { Cell c = F(d); set_type(&c, type); return c; }
inline Cell P(double d) { return typed(TYPE_PERCENT, d); }
inline Cell T(double seconds) { return typed(TYPE_TIME, seconds); }
inline Cell Ch(int32_t code) { Cell c = I(code); set_type(&c, TYPE_CHAR); return c; }
inline Cell PR(int32_t x, int32_t y) { Cell c; pair_set_in(&c, x, y); return c; }
inline Cell PT(float x, float y) { Cell c; point2D_make_at(&c, x, y); return c; }
inline Cell PT3(float x, float y, float z) { Cell c; point3D_make_at(&c, x, y, z); return c; }
inline Cell of_type(uint8_t type) { return Cell{type, 0, 0, 0}; }
inline Cell M(int32_t n) { Cell c; money_from_integer(&c, n); return c; }

inline bool float_layout(uint8_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

inline std::string show(const Cell& c) {
    const char* name = type_name(type_of(&c));
    std::string s = name ? name : "type " + std::to_string(type_of(&c));
    if (float_layout(type_of(&c))) {
        char text[40];
        std::snprintf(text, sizeof text, " %.17g", cell_float(&c));
        return s + text;
    }
    return s + " " + std::to_string(cell_int(&c));
}

// Same type and payload; doubles by bit pattern (any NaN matches any NaN).
inline bool same(const Cell& a, const Cell& b) {
    if (type_of(&a) != type_of(&b)) return false;
    if (float_layout(type_of(&a))) {
        double x = cell_float(&a), y = cell_float(&b);
        return (std::isnan(x) && std::isnan(y)) || std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y);
    }
    return a.data2 == b.data2;
}

// Makes a and b the arguments of a fresh call; returns its result cell.
inline Cell* begin_call(const Cell& a, const Cell& b) {
    stack::init();
    stack::push_native_frame(&CALLER);
    Cell* first = stack::push(&a);
    stack::push(&b);
    return first;
}

inline Cell run_stack_slot(int slot, const Cell& a, const Cell& b) {
    begin_call(a, b);
    auto fn = reinterpret_cast<action_sig::StackForm>(type_action_table[type_of(&a)][slot]);
    return *fn();
}

// A round of value (with /to scale when given) under the refinements named
// by flags, e d h f c H: even down half-down floor ceiling half-ceiling.
struct RoundCase {
    const char* what;
    Cell value;
    std::optional<Cell> scale;
    const char* flags;
    Cell want;
    std::optional<Err> error = std::nullopt;
};

inline Cell run_round(const RoundCase& c) {
    Cell* value = begin_call(c.value, c.scale.value_or(NONE));
    Cell* scale = c.scale ? value + 1 : nullptr;
    std::string f = c.flags;
    auto has = [&](char x) { return f.find(x) != std::string::npos; };
    const RoundArgs refs{.to = scale,
                         .even = has('e'),
                         .down = has('d'),
                         .half_down = has('h'),
                         .floor = has('f'),
                         .ceiling = has('c'),
                         .half_ceiling = has('H')};
    return *action_entry_as<ACT_ROUND>(type_of(value))(value, refs);
}

// Checks an outcome: the wanted value (as `same` judges) or the wanted error,
// naming the cells through `shown`.
template <class Same, class Shown>
void check_outcome(const char* what, const std::function<Cell()>& run, const Cell& want, std::optional<Err> error,
                   Same same_as, Shown shown) {
    SCOPED_TRACE(what);
    Cell got{};
    auto err = error_of([&] { got = run(); });
    if (error) {
        ASSERT_TRUE(err.has_value()) << "no error, got " << shown(got);
        EXPECT_EQ(error_code(*err), error_code(*error));
        return;
    }
    ASSERT_FALSE(err.has_value()) << "error " << error_code(*err);
    EXPECT_TRUE(same_as(got, want)) << "got " << shown(got) << ", want " << shown(want);
}

// The value formed or molded by its own row, checking the remaining part.
inline std::string text_of(const Cell& v, bool mold) {
    Cell value = v;
    Cell buffer;
    string_make_at(&buffer, 16);
    int32_t left = mold ? action_entry_as<ACT_MOLD>(type_of(&value))(&value, &buffer, MoldArgs{}, 100, 0)
                        : action_entry_as<ACT_FORM>(type_of(&value))(&value, &buffer, nullptr, 100);
    std::string text = buffer_bytes(buffer);
    EXPECT_EQ(left, 100 - int32_t(text.size())) << text;
    return text;
}

// A cell as a failure message shows it: its type and molded text (floats in full).
inline std::string shown_cell(const Cell& c) {
    if (!type_name(type_of(&c))) return "type " + std::to_string(type_of(&c));
    if (float_layout(type_of(&c))) return show(c);
    return std::string(type_name(type_of(&c))) + " " + text_of(c, true);
}

// An outcome compared cell for cell: the wanted cell, or the wanted error.
inline void expect_cell(const char* what, const std::function<Cell()>& run, const Cell& want,
                        std::optional<Err> error) {
    check_outcome(what, run, want, error, same_cell, shown_cell);
}

} // namespace kem::test
