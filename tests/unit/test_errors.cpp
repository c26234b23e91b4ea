#include <gtest/gtest.h>
#include <set>
#include <string>
#include "runtime/core/errors.h"

using namespace kem;

TEST(ErrorCatalog, CategoriesHaveTheirBasesAndTexts) {
    struct { ErrCategory c; const char* name; int base; const char* text; } cases[] = {
        {ErrCategory::throw_, "throw", 0, "Throw Error"},   {ErrCategory::note, "note", 100, "note"},
        {ErrCategory::syntax, "syntax", 200, "Syntax Error"}, {ErrCategory::script, "script", 300, "Script Error"},
        {ErrCategory::math, "math", 400, "Math Error"},     {ErrCategory::access, "access", 500, "Access Error"},
        {ErrCategory::reserved1, "reserved1", 600, "Reserved1 Error"},
        {ErrCategory::reserved2, "reserved2", 700, "Reserved2 Error"},
        {ErrCategory::user, "user", 800, "User Error"},     {ErrCategory::internal, "internal", 900, "Internal Error"},
    };
    for (auto& c : cases) {
        const auto& info = error_category_info(c.c);
        EXPECT_STREQ(info.name, c.name);
        EXPECT_EQ(info.base, c.base);
        EXPECT_STREQ(info.type_text, c.text);
    }
}

TEST(ErrorCatalog, CodesAreBasePlusPositionWithoutGaps) {
    size_t n;
    const ErrorInfo* cat = error_catalog(&n);
    int counts[ERROR_CATEGORY_COUNT] = {};
    std::set<std::string> names;
    for (size_t i = 0; i < n; i++) {
        int c = static_cast<int>(cat[i].category);
        EXPECT_EQ(error_code(cat[i].id), c * 100 + counts[c]) << cat[i].name;
        counts[c]++;
        EXPECT_TRUE(names.insert(std::string(error_category_info(cat[i].category).name) + "/" + cat[i].name).second);
        EXPECT_EQ(error_info(cat[i].id), &cat[i]);
    }
    int expected[ERROR_CATEGORY_COUNT] = {5, 1, 7, 94, 3, 15, 0, 0, 1, 14};
    for (int c = 0; c < ERROR_CATEGORY_COUNT; c++) EXPECT_EQ(counts[c], expected[c]) << c;
}

TEST(ErrorCatalog, WellKnownIds) {
    EXPECT_EQ(error_code(Err::script_no_value), 300);
    EXPECT_EQ(error_code(Err::script_expect_arg), 305);
    EXPECT_EQ(error_code(Err::script_out_of_range), 341);
    EXPECT_EQ(error_code(Err::script_bad_make_arg), 353);
    EXPECT_EQ(error_code(Err::internal_no_memory), 902);
    EXPECT_EQ(error_code(Err::internal_too_deep), 906);
    EXPECT_EQ(error_info_by_name("script", "need-value")->id, Err::script_need_value);
    EXPECT_EQ(error_info_by_name("reserved1", "anything"), nullptr);
    EXPECT_STREQ(error_info(Err::user_message)->tmpl, "arg1");
}

TEST(ErrorCatalog, MessagesFillTemplates) {
    std::string args[3] = {"append", "integer!", "series"};
    EXPECT_EQ(error_message(Err::script_expect_arg, args, 3), "append does not allow integer! for its series argument");
    EXPECT_EQ(error_message(Err::internal_no_memory, nullptr, 0), "not enough memory");
    std::string one[1] = {"foo"};
    EXPECT_EQ(error_message(Err::internal_bad_path, one, 1), "bad path: foo");
    EXPECT_EQ(error_message(Err::user_message, one, 1), "foo");
}

TEST(Fire, RaisesTheErrorWithItsArguments) {
    Cell a{TYPE_INTEGER, 0, 7, 0};
    try {
        fire(Err::script_out_of_range, a);
        FAIL();
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_out_of_range);
        EXPECT_EQ(e.argc, 1);
        EXPECT_EQ(cell_int(&e.args[0]), 7);
    }
}
