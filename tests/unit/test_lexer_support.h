// Helpers of the lexer tests: load text, mold what came out, and show a
// syntax error as its message.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/unicode/text.h"

namespace kem::test {

class LexerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        init_runtime();
        lexer_init();
    }
};

// The UTF-8 of a string kind from its position.
inline std::string utf8_of(const Cell& s) {
    Cell c = s;
    int32_t n = -1;
    char* p = to_utf8_cstring(&c, &n);
    return std::string(p, size_t(n));
}

inline std::string form_text(Cell v) {
    Cell buf;
    string_make_at(&buf, 16);
    form_direct(&v, &buf, nullptr, INT32_MAX);
    return utf8_of(buf);
}

// Molded as mold does; path kinds element by element, since their own mold
// may not exist yet.
inline std::string mold_text(Cell v) {
    uint8_t t = type_of(&v);
    if (t >= TYPE_PATH && t <= TYPE_GET_PATH) {
        std::string out = t == TYPE_LIT_PATH ? "'" : t == TYPE_GET_PATH ? ":" : "";
        int32_t n = block_rs_length(&v);
        for (int32_t i = 0; i < n; i++) {
            if (i) out += "/";
            out += mold_text(*block_rs_abs_at(&v, uint32_t(series_position(&v) + i)));
        }
        return out + (t == TYPE_SET_PATH ? ":" : "");
    }
    if (t == TYPE_BLOCK || t == TYPE_PAREN) {
        std::string out = t == TYPE_BLOCK ? "[" : "(";
        int32_t n = block_rs_length(&v);
        for (int32_t i = 0; i < n; i++) {
            const Cell* c = block_rs_abs_at(&v, uint32_t(series_position(&v) + i));
            if (c->header & HEADER_NEW_LINE) out += "\n";
            else if (i) out += " ";
            out += mold_text(*c);
        }
        return out + (t == TYPE_BLOCK ? "]" : ")");
    }
    Cell buf;
    string_make_at(&buf, 16);
    mold_direct(&v, &buf, MoldArgs{}, INT32_MAX, 0);
    return utf8_of(buf);
}

// The message of a syntax (or other) error, its arguments formed.
inline std::string error_text(const KemError& e) {
    std::string args[3];
    for (int i = 0; i < e.argc; i++) args[i] = form_text(e.args[i]);
    return error_message(e.id, args, e.argc);
}

inline Cell load_block(const std::string& text) {
    Cell out;
    lexer_scan(&out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, true, true, false,
               nullptr, nullptr, nullptr, nullptr);
    return out;
}

// The values loaded, molded and separated as in a block (without its
// brackets), or "error: " and the message.
inline std::string load(const std::string& text) {
    try {
        std::string m = mold_text(load_block(text));
        return m.substr(1, m.size() - 2);
    } catch (const KemError& e) {
        return "error: " + error_text(e);
    }
}

// The one value loaded, or its error.
inline Cell load_one(const std::string& text) {
    Cell b = load_block(text);
    EXPECT_EQ(block_rs_length(&b), 1) << text;
    return *block_rs_abs_at(&b, 0);
}

inline std::string type_name_of(int32_t type) {
    if (type == 0) return "none";
    if (type < 0) return "invalid";
    return type_name(uint8_t(type));
}

// transcode/scan and transcode/prescan of raw text: the datatype answered.
inline std::string scan_type(const std::string& text, bool prescan = false) {
    Cell out;
    int32_t t = lexer_scan(&out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), true,
                           !prescan, prescan, false, nullptr, nullptr, nullptr, nullptr);
    return type_name_of(t);
}

inline Cell make_string(const std::string& text) {
    Cell s;
    string_make_utf8(&s, text);
    return s;
}

// A text and what loading it gives.
struct LoadCase {
    const char* text;
    std::string molded;   // the value molded, or "error: " and the message
};

inline void check_loads(const LoadCase* cases, size_t n) {
    for (size_t i = 0; i < n; i++) EXPECT_EQ(load(cases[i].text), cases[i].molded) << cases[i].text;
}

// The message of an invalid literal of the type on the first line.
inline std::string invalid(const char* type, const char* near) {
    return std::string("error: (line 1) invalid ") + type + " at " + near;
}

} // namespace kem::test
