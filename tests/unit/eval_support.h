// Running Kem source from a test: the molded result, or the error raised.
#pragma once
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "environment/boot.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "value_support.h"

namespace kem::test {

// The source loaded as a block, in a cell pushed on the data stack.
inline Cell* scan_source(const std::string& source) {
    Cell* code = stack::push_slot();
    lexer_scan(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true, true,
               nullptr, nullptr, nullptr, nullptr);
    return code;
}

// Evaluates the source; gives the molded last value, or "error <category>/<id>"
// for an error nobody caught. The stacks are empty again afterwards.
inline std::string run_kem(const std::string& source) {
    boot_all();
    stack::init();
    last_throw_code = 0;
    std::string out;
    try {
        Cell body = *scan_source(source);
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

// A source text and the result run_kem gives for it.
struct Case {
    const char* source;
    const char* expected;
};

// Runs each case and checks what it gives.
inline void expect_runs(const Case* begin, const Case* end) {
    for (const Case* c = begin; c != end; c++) EXPECT_EQ(run_kem(c->source), c->expected) << c->source;
}
inline void expect_runs(std::initializer_list<Case> cases) { expect_runs(cases.begin(), cases.end()); }
template <size_t N> void expect_runs(const Case (&cases)[N]) { expect_runs(cases, cases + N); }

} // namespace kem::test
