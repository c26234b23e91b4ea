// Running Kem source from a test: the molded result, or the error raised.
#pragma once
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "environment/boot.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"

namespace kem::test {

// The text of a string! from its position, as UTF-8.
inline std::string utf8_of(const Cell& s) {
    std::string out;
    uint32_t n = string_rs_length(&s) < 0 ? 0 : uint32_t(string_rs_length(&s));
    for (uint32_t i = 0; i < n; i++) {
        int32_t cp = string_char_at(&s, series_index(&s) + i);
        char buf[4];
        int len = 0;
        if (cp < 0x80) buf[len++] = char(cp);
        else if (cp < 0x800) { buf[len++] = char(0xC0 | (cp >> 6)); buf[len++] = char(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) {
            buf[len++] = char(0xE0 | (cp >> 12)); buf[len++] = char(0x80 | ((cp >> 6) & 0x3F));
            buf[len++] = char(0x80 | (cp & 0x3F));
        } else {
            buf[len++] = char(0xF0 | (cp >> 18)); buf[len++] = char(0x80 | ((cp >> 12) & 0x3F));
            buf[len++] = char(0x80 | ((cp >> 6) & 0x3F)); buf[len++] = char(0x80 | (cp & 0x3F));
        }
        out.append(buf, size_t(len));
    }
    return out;
}

inline std::string mold_text(const Cell& v) {
    Cell value = v;
    Cell buf;
    string_make_at(&buf, 64);
    mold_direct(&value, &buf, false, false, false, nullptr, 1 << 30, 0);
    return utf8_of(buf);
}

// Evaluates the source; gives the molded last value, or "error <category>/<id>"
// for an error nobody caught. The stacks are empty again afterwards.
inline std::string run_kem(const std::string& source) {
    boot_all();
    stack::init();
    last_throw_code = 0;
    std::string out;
    try {
        Cell* code = stack::push_slot();
        lexer_scan(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true,
                   true, nullptr, nullptr, nullptr, nullptr);
        Cell body = *code;
        interp::eval_block(&body, false);
        if (last_throw_code) out = "pending exit";
        else out = mold_text(*(stack::top - 1));
    } catch (const KemError& e) {
        const ErrorInfo* info = error_info(e.id);
        out = std::string("error ") + error_category_info(error_category(e.id)).name + "/" + (info ? info->name : "?");
    }
    last_throw_code = 0;
    stack::init();
    return out;
}

} // namespace kem::test
