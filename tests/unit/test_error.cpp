// error! values from the C++ side: the catalog the system object carries, the
// error values made from raised errors, and the report of an uncaught error.
#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <string>
#include "environment/script.h"
#include "eval_support.h"
#include "runtime/datatypes/error.h"

namespace kem::test {
namespace {

// Every entry of the C++ table: make error! of its code names the same
// category and id, and a script sees the same template text.
TEST(Error, SystemCatalogMatchesTheTable) {
    size_t count = 0;
    const ErrorInfo* catalog = error_catalog(&count);
    ASSERT_EQ(count, 140u);
    for (size_t i = 0; i < count; i++) {
        const int code = error_code(catalog[i].id);
        const std::string cat = error_category_info(catalog[i].category).name;
        const std::string src = "e: make error! " + std::to_string(code) + " reduce [e/type e/id]";
        EXPECT_EQ(run_kem(src), "[" + cat + " " + catalog[i].name + "]") << code;
        const std::string back = "e: make error! [" + cat + " " + catalog[i].name + "] e/code";
        EXPECT_EQ(run_kem(back), std::to_string(code)) << code;
    }
    EXPECT_EQ(run_kem("system/catalog/errors/script/no-value"), "[:arg1 \"has no value\"]");
    EXPECT_EQ(run_kem("system/catalog/errors/user/message"), "arg1");
    EXPECT_EQ(run_kem("reduce [system/catalog/errors/reserved1/code system/catalog/errors/reserved1/type]"),
              "[600 \"Reserved1 Error\"]");
    EXPECT_EQ(run_kem("system/state/stack-trace"), "1");
}

// A KemError raised in C++ becomes an error! with its id, arguments, the
// evaluator's position as near and the innermost named call as where.
TEST(Error, ValueFromARaisedError) {
    boot_all();
    stack::init();
    Cell* block = scan_source("f 1 2");
    interp::position = *block;
    const Cell word = word_load("f");
    stack::push_frame(&word, FRAME_TOP_INTERP_NATIVE);
    try {
        fire(Err::script_not_related, word, Cell{TYPE_INTEGER, 0, 7, 0});
    } catch (const KemError& e) {
        Cell err = *error_from_exception(e);
        EXPECT_EQ(type_of(&err), TYPE_ERROR);
        EXPECT_EQ(mold_text(*error_field(&err, ERROR_CODE)), "320");
        EXPECT_EQ(mold_text(*error_field(&err, ERROR_ID)), "not-related");
        EXPECT_EQ(mold_text(*error_field(&err, ERROR_ARG2)), "7");
        EXPECT_EQ(mold_text(*error_field(&err, ERROR_ARG3)), "none");
        EXPECT_EQ(mold_text(*error_field(&err, ERROR_WHERE)), "f");
        EXPECT_EQ(mold_text(*error_field(&err, ERROR_NEAR)), "[f 1 2]");
        EXPECT_EQ(type_of(error_field(&err, ERROR_STACK)), TYPE_INTEGER);
    }
    stack::init();
    make_unset(&interp::position);
}

} // namespace
} // namespace kem::test
