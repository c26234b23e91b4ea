// object!: construct, set on objects, class ids and change handlers called
// from C++ (the parts that no native reaches yet, and the exits of handlers).
#include <string>
#include "eval_support.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"

namespace kem {
namespace {

using test::mold_text;
using test::run_kem;

class ObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        boot_all();
        stack::init();
        last_throw_code = 0;
    }
    void TearDown() override {
        last_throw_code = 0;
        stack::init();
    }

    // The value the source leaves last; objects stay reachable from the globals.
    Cell eval(const std::string& source) {
        Cell* code = stack::push_slot();
        lexer_scan(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true,
                   true, nullptr, nullptr, nullptr, nullptr);
        Cell body = *code;
        interp::eval_block(&body, false);
        return *(stack::top - 1);
    }
    Cell load(const std::string& source) {
        Cell* code = stack::push_slot();
        lexer_scan(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true,
                   true, nullptr, nullptr, nullptr, nullptr);
        return *code;
    }
    std::string field(const Cell& obj, const char* name) {
        const Cell w = word_load(name);
        return mold_text(*object_rs_select(&obj, &w));
    }
};

TEST_F(ObjectTest, ConstructTakesValuesUnevaluated) {
    struct {
        bool only;
        const char* a;
        const char* c;
        const char* d;
        const char* e;
    } cases[] = {
        {false, "true", "none", "plain", "false"},
        {true, "yes", "none", "plain", "off"},
    };
    for (const auto& c : cases) {
        const Cell spec = load("a: b: yes c: none d: plain e: off f: 1 + 2 g:");
        const Cell obj = *object_construct(&spec, nullptr, c.only);
        EXPECT_EQ(object_count_words(&obj), 7u);
        EXPECT_EQ(field(obj, "a"), c.a);
        EXPECT_EQ(field(obj, "b"), c.a) << "two set-words in a row share one value";
        EXPECT_EQ(field(obj, "c"), c.c);
        EXPECT_EQ(field(obj, "d"), c.d);
        EXPECT_EQ(field(obj, "e"), c.e);
        EXPECT_EQ(field(obj, "f"), "1") << "nothing is evaluated";
        EXPECT_EQ(field(obj, "g"), "none");
        EXPECT_GT(object_class_id(&obj), FIRST_CLASS_ID);
    }
}

TEST_F(ObjectTest, ConstructWithPrototypeCopiesItDeep) {
    const Cell proto = eval("proto: make object! [a: [1] b: 2] proto");
    const Cell spec = load("b: 3 c: 4");
    const Cell obj = *object_construct(&spec, &proto, false);
    EXPECT_EQ(field(obj, "b"), "3");
    EXPECT_EQ(field(obj, "c"), "4");
    EXPECT_EQ(field(proto, "b"), "2");
    EXPECT_EQ(object_class_id(&obj), object_class_id(&proto)) << "added words keep the class";
    const Cell w = word_load("a");
    EXPECT_NE(series_node(object_rs_select(&obj, &w)), series_node(object_rs_select(&proto, &w)));
}

TEST_F(ObjectTest, SetSpreadsBlocksObjectsAndSingleValues) {
    struct {
        const char* value;  // evaluated
        bool any, only, some;
        const char* expected;  // mold/flat of the object's values
    } cases[] = {
        {"[1 2 3]", false, false, false, "[1 2 3]"},
        {"[1]", false, false, false, "[1 none none]"},
        {"reduce [1 none 3]", false, false, true, "[1 b 3]"},
        {"7", false, false, false, "[7 7 7]"},
        {"[8 9]", false, true, false, "[[8 9] [8 9] [8 9]]"},
        {"make object! [c: 5 a: 4 z: 0]", false, false, false, "[4 b 5]"},
    };
    for (const auto& c : cases) {
        const Cell obj = eval("make object! [a: 'a b: 'b c: 'c]");
        const Cell value = eval(c.value);
        object_set_many(&obj, &value, c.any, c.only, c.some);
        Cell obj_copy = obj;
        const Cell blk = *object_reflect(&obj_copy, int32_t(rt_symbols.values));
        EXPECT_EQ(mold_text(blk), c.expected) << c.value;
    }
}

TEST_F(ObjectTest, SetWithUnsetValueAssignsNothing) {
    const Cell obj = eval("make object! [a: 1 b: 2]");
    const Cell value = eval("reduce [5 ()]");
    try {
        object_set_many(&obj, &value, false, false, false);
        FAIL() << "need-value expected";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_need_value);
    }
    EXPECT_EQ(field(obj, "a"), "1");
    object_set_many(&obj, &value, true, false, false);
    EXPECT_EQ(field(obj, "b"), "unset");
}

TEST_F(ObjectTest, SetCallsTheHandlerButNeverAssignsIt) {
    const Cell obj =
        eval("log: copy [] make object! [a: 1 on-change*: func [w old new] [append log w append log new]]");
    const Cell value = eval("42");
    object_set_many(&obj, &value, false, false, false);
    EXPECT_EQ(mold_text(eval("log")), "[a 42]");
    EXPECT_EQ(is_type(object_rs_select(&obj, &rt_words.on_change_star), TYPE_FUNCTION), true);
    Cell obj_copy = obj;
    EXPECT_EQ(mold_text(*object_reflect(&obj_copy, int32_t(rt_words.changed.data2))), "[a on-change*]")
        << "every field visited is marked, the skipped handler too";
}

TEST_F(ObjectTest, ClassIdsAndSelfCell) {
    const uint32_t a = object_next_class_id();
    const uint32_t b = object_next_class_id();
    EXPECT_GT(a, FIRST_CLASS_ID);
    EXPECT_EQ(b, a + 1);
    Cell obj;
    object_make_at(&obj, 2);
    EXPECT_EQ(object_class_id(&obj), 0u);
    EXPECT_EQ(object_on_set(&obj), 0u);
    const Cell* self = context_self_cell(object_context(&obj));
    EXPECT_EQ(self->data1, obj.data1);
    EXPECT_TRUE(is_type(self, TYPE_OBJECT));
}

TEST_F(ObjectTest, UnchangedChecksTheClassOfTheValue) {
    const Cell obj = eval("watched: make object! [a: 1] watched");
    const Cell w = eval("'watched");
    EXPECT_TRUE(object_unchanged_q(&w, object_class_id(&obj)));
    eval("watched: make watched [b: 2]");
    EXPECT_FALSE(object_unchanged_q(&w, object_class_id(&obj)));
}

// An exit that belongs to a frame outside the handler must stop the C++ code
// that called it, with the code still pending for its catcher.
TEST_F(ObjectTest, AnExitFromAHandlerLeavesAsPendingExit) {
    const Cell obj = eval("make object! [a: 1 on-change*: func [w old new] [break]]");
    Cell loop_word = rt_words.anon_frame;
    stack::push_loop_frame(&loop_word);
    const Cell word = word_load("a");
    const Cell one = eval("1"), two = eval("2");
    EXPECT_THROW(object_call_on_change(&obj, &word, &one, &two), PendingExit);
    EXPECT_EQ(last_throw_code, THROW_CODE_BREAK);
}

TEST_F(ObjectTest, HandlerReplacedAtRunTimeIsRecounted) {
    test::expect_runs({
        // The new handler already hears of its own assignment.
        {"log: copy [] o: make object! [a: 1 on-change*: func [w old new] [append log 'first]] "
         "o/on-change*: func [w old new /local t u] [t: :new u: w append log u] o/a: 5 log",
         "[on-change* a]"},
        {"o: make object! [a: 1 on-change*: func [w old new] []] o/on-change*: 1 o/a: 2",
         "error script/invalid-obj-evt"},
    });
}

} // namespace
} // namespace kem
