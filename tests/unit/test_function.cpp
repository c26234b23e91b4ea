#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "number_support.h"
#include "runtime/core/cycle.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

using namespace kem;
using kem::test::error_of;
using kem::test::I;
using kem::test::text_of;
using kem::test::W;
using kem::test::LW;
using kem::test::GW;
using kem::test::SW;
using kem::test::R;
using kem::test::S;
using kem::test::B;
using kem::test::at;

namespace {

Cell P(std::initializer_list<Cell> items) {
    Cell p = B(items);
    set_type(&p, TYPE_PAREN);
    return p;
}

std::string mold(const Cell& v) { return text_of(v, true); }

// The argument list in a short notation: "*" every type but unset!, "any"
// every type, "[t ...]"
// the types of a type block, prefixed ":" for get, "'" for literal and
// "return:" for the return entry; "/name" a refinement ("#n" its number for
// natives); "=n" an integer!.
std::string describe(const Cell& list, bool native) {
    Cell fallback;
    typeset_make_default(&fallback);
    std::string out;
    for (uint32_t i = 0; i < block_full_length(&list); i++) {
        const Cell* c = block_rs_abs_at(&list, i);
        if (!out.empty()) out += ' ';
        switch (type_of(c)) {
        case TYPE_TYPESET: {
            static const char* prefix[] = {"", ":", "'", "return:"};
            out += prefix[arg_kind(c)];
            if (c->data1 == fallback.data1 && c->data2 == fallback.data2 && c->data3 == fallback.data3) {
                out += "*";
                break;
            }
            if (c->data1 == 0xFFFFFFFF && c->data2 == 0xFFFFFFFF && c->data3 == 0xFFFFFFFF) {
                out += "any";
                break;
            }
            std::string names;
            for (uint32_t id = 1; id <= uint32_t(TYPE_COUNT); id++)
                if (typeset_bit(c, id)) names += (names.empty() ? "" : " ") + std::string(type_name(uint8_t(id)));
            out += "[" + names + "]";
            break;
        }
        case TYPE_REFINEMENT:
            out += "/" + std::string(symbol_name(c->data2));
            if (native) out += "#" + std::to_string(c->data3);
            break;
        case TYPE_INTEGER: out += "=" + std::to_string(cell_int(c)); break;
        default: out += "?";
        }
    }
    return out;
}

class Function : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        stack::init();
        cycle_reset();
        for (uint8_t t : {TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK, TYPE_UNSET}) {
            Cell w = W(type_name(t));
            Cell dt{TYPE_DATATYPE, t, 0, 0};
            word_set(&w, &dt);
        }
        // A typeset word, as the boot environment defines any-type!.
        Cell any = W("any-type!");
        Cell all{TYPE_TYPESET, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        word_set(&any, &all);
    }

    // A function made from spec and body (nullptr: none), copied off the stack.
    Cell fn(const Cell& spec, const Cell* body, uint32_t flags = 0) {
        return *function_push(&spec, body, 0, false, 0, flags);
    }
};

TEST_F(Function, ArgListFollowsTheSpec) {
    struct Case {
        Cell spec;
        bool native;
        const char* expected;
    };
    const Case cases[] = {
        {B({W("a"), W("b")}), false, "* *"},
        {B({W("a"), B({W("integer!"), W("string!")}), GW("b"), LW("c")}), false, "[string! integer!] :* '*"},
        {B({W("a"), B({}), W("b"), B({W("any-type!")})}), false, "* any"},
        {B({B({W("trace")}), S("doc"), W("a"), S("about a"), SW("return"), B({W("integer!")})}), false,
         "* return:[integer!]"},
        {B({W("a"), R("ref"), W("b"), B({W("string!")}), R("local"), W("x"), B({W("integer!")}), W("y")}), false,
         "* /ref [string!] =3"},
        {B({W("a"), R("local")}), false, "* =1"},
        {B({W("value"), R("part"), W("length"), B({W("integer!")}), R("only"), R("dup"), W("count")}), true,
         "* /part#1 [integer!] /only#2 /dup#3 * =3"},
        {B({W("value1"), W("value2")}), true, "* *"},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(function_arg_list(&c.spec, c.native), c.native), c.expected);
}

TEST_F(Function, ArgListRefusesAStraySetWord) {
    Cell stray = SW("b");
    Cell spec = B({W("a"), stray, B({W("integer!")})});
    try {
        function_arg_list(&spec, false);
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_bad_func_def);
        EXPECT_EQ(e.args[0].data2, stray.data2);
        EXPECT_EQ(type_of(&e.args[0]), TYPE_SET_WORD);
    }
}

TEST_F(Function, ArgListIsCachedInTheExtras) {
    Cell body = B({W("a")});
    Cell f = fn(B({W("a"), R("local"), W("b")}), &body);
    EXPECT_TRUE(is_type(callable_extra_cell(&f, EXTRA_ARG_LIST), TYPE_UNSET));
    Cell first = callable_arg_list(&f);
    EXPECT_EQ(describe(first, false), "* =2");
    Cell copy = f;
    Cell again = callable_arg_list(&copy);
    EXPECT_EQ(series_node(&again), series_node(&first));
}

TEST_F(Function, ValidateAcceptsAndRefusesSpecs) {
    struct Case {
        const char* name;
        Cell spec;
        std::optional<Err> error;
        uint32_t flags;
    };
    const Case cases[] = {
        {"doc string between argument and types", B({W("a"), S("doc"), B({W("integer!")})}), Err::script_bad_func_def, 0},
        {"types then doc string", B({W("a"), B({W("integer!")}), S("doc")}), std::nullopt, 0},
        {"argument after return:", B({SW("return"), B({W("integer!")}), W("a")}), Err::script_bad_func_def, 0},
        {"return: then locals", B({W("a"), SW("return"), B({W("integer!")}), R("local"), W("b")}), std::nullopt, 0},
        {"refinement after /local", B({W("a"), R("local"), W("b"), R("ref")}), Err::script_bad_func_def, 0},
        {"lit-word after /local", B({R("local"), LW("x")}), Err::script_bad_func_def, 0},
        {"return: twice", B({SW("return"), B({}), SW("return"), B({})}), Err::script_bad_func_def, 0},
        {"return: without types", B({W("a"), SW("return"), W("b")}), Err::script_bad_func_def, 0},
        {"other set-word", B({SW("result"), B({W("integer!")})}), Err::script_bad_func_def, 0},
        {"refinement before a number", B({R("ref"), I(5)}), Err::script_bad_func_def, 0},
        {"stray integer", B({W("a"), I(5)}), Err::script_bad_func_def, 0},
        {"trace attribute", B({B({W("trace")}), W("a")}), std::nullopt, FUNCTION_TRACE},
        {"both attributes", B({B({W("no-trace"), W("other"), W("trace")})}), std::nullopt,
         FUNCTION_TRACE | FUNCTION_NO_TRACE},
        {"non-word attribute", B({B({I(1)}), W("a")}), Err::script_bad_func_def, 0},
        {"number as a type", B({W("a"), B({I(5)})}), Err::script_invalid_type_spec, 0},
        {"type word without value", B({W("a"), B({W("no-such-type!")})}), Err::script_no_value, 0},
        {"typeset word as a type", B({W("a"), B({W("any-type!")})}), std::nullopt, 0},
        {"same word twice", B({W("a"), W("b"), GW("a")}), Err::script_dup_vars, 0},
        {"refinement spelt like an argument", B({W("a"), R("A")}), Err::script_dup_vars, 0},
    };
    for (const Case& c : cases) {
        uint32_t flags = 0;
        std::optional<Err> error = error_of([&] { flags = function_validate(&c.spec); });
        EXPECT_EQ(error, c.error) << c.name;
        if (!c.error) {
            EXPECT_EQ(flags, c.flags) << c.name;
        }
    }
}

TEST_F(Function, BadSpecNamesTheWholeSpec) {
    Cell spec = B({W("a"), I(5)});
    try {
        function_validate(&spec);
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_bad_func_def);
        EXPECT_EQ(e.args[0].data2, spec.data2);
    }
}

TEST_F(Function, CountLocals) {
    Cell with_locals = B({W("a"), R("local"), W("b"), W("c")});
    Cell without = B({W("a"), W("b")});
    EXPECT_EQ(function_count_locals(&with_locals, 0, false), 3);
    EXPECT_EQ(function_count_locals(&without, 0, false), 0);
    EXPECT_EQ(function_count_locals(&without, 0, true), -1);

    stack::push_native_frame(&kem::test::CALLER);
    function_init_locals(3);
    ASSERT_EQ(stack::top - stack::arguments, 3);
    EXPECT_TRUE(is_type(stack::arguments, TYPE_LOGIC) && stack::arguments->data1 == 0);
    EXPECT_TRUE(is_type(stack::arguments + 1, TYPE_NONE));
    EXPECT_TRUE(is_type(stack::arguments + 2, TYPE_NONE));
}

TEST_F(Function, CollectWordsAddsBodyWordsAsLocals) {
    // a: is an argument; foreach collects its block's words, repeat its word.
    Cell spec = B({W("a")});
    Cell body = B({SW("b"), I(1), W("foreach"), B({W("c"), W("d")}), B({}), W("repeat"), W("e"), I(10),
                   B({SW("a"), I(2), P({SW("b"), I(3)})})});
    Cell collected = function_collect_words(&spec, &body);
    EXPECT_EQ(mold(spec), "[a /local b c d e]");
    EXPECT_EQ(mold(collected), "[b c d e]");

    Cell extern_only = B({R("extern"), W("b")});
    Cell body2 = B({SW("b"), I(1)});
    function_collect_words(&extern_only, &body2);
    EXPECT_EQ(mold(extern_only), "[]");

    // Locals after the extern words stay; an existing /local is reused;
    // a word called local never joins.
    Cell mixed = B({W("a"), R("extern"), W("x"), R("local"), W("y")});
    Cell body3 = B({SW("z"), SW("x"), SW("local"), SW("y")});
    function_collect_words(&mixed, &body3);
    EXPECT_EQ(mold(mixed), "[a /local y z]");

    Cell plain = B({W("a")});
    Cell body5 = B({SW("local"), I(1)});
    function_collect_words(&plain, &body5);
    EXPECT_EQ(mold(plain), "[a /local]");

    Cell has_local = B({W("a"), R("local"), W("t")});
    Cell body4 = B({SW("u")});
    function_collect_words(&has_local, &body4);
    EXPECT_EQ(mold(has_local), "[a /local t u]");
}

TEST_F(Function, CollectWordsRefusesNonWordsWithExtern) {
    Cell spec = B({W("a"), I(5), R("extern"), W("b")});
    Cell body = B({});
    EXPECT_EQ(error_of([&] { function_collect_words(&spec, &body); }), Err::script_bad_func_extern);
}

TEST_F(Function, CollectWordsStopsAtABodyThatContainsItself) {
    Cell spec = B({});
    Cell body = B({SW("a")});
    block_append_cell(&body, &body);
    function_collect_words(&spec, &body);
    EXPECT_EQ(mold(spec), "[/local a]");
}

TEST_F(Function, PushCopiesAndBindsTheBody) {
    Cell spec = B({W("x"), W("y")});
    Cell inner = B({W("y")});
    Cell body = B({W("x"), W("+"), I(1), inner});
    Cell f = fn(spec, &body);
    const NodeId ctx = function_context(&f);

    Cell copy = *function_body(&f);
    ASSERT_TRUE(is_type(&copy, TYPE_BLOCK));
    EXPECT_NE(series_node(&copy), series_node(&body));
    const Cell* x = block_rs_abs_at(&copy, 0);
    EXPECT_EQ(x->data1, ctx);
    EXPECT_EQ(x->data3, 0u);
    const Cell* nested = block_rs_abs_at(&copy, 3);
    EXPECT_NE(series_node(nested), series_node(&inner));
    EXPECT_EQ(block_rs_abs_at(nested, 0)->data1, ctx);
    EXPECT_EQ(block_rs_abs_at(nested, 0)->data3, 1u);
    // + is not a function word: it keeps its global binding.
    EXPECT_EQ(block_rs_abs_at(&copy, 1)->data1, global_context);

    // The context's self cell holds the function; the spec is shared.
    EXPECT_EQ(context_self_cell(ctx)->data3, f.data3);
    EXPECT_EQ(f.data2, series_node(&spec));
    EXPECT_TRUE(context_values_on_stack(ctx));
}

TEST_F(Function, PushCopiesASpecAtALaterPosition) {
    Cell spec = at(B({W("skipped"), W("a")}), 1);
    Cell f = fn(spec, nullptr);
    EXPECT_NE(f.data2, series_node(&spec));
    EXPECT_EQ(mold(f), "func [a] none");
    EXPECT_EQ(context_word_count(function_context(&f)), 1u);
}

TEST_F(Function, OwnerIsAnObjectAndSystemAMark) {
    NodeId owner = context_make(2, false, false, 0, CONTEXT_OBJECT);
    Cell spec = B({});
    Cell f = *function_push(&spec, nullptr, 0, true, owner, 0);
    const Cell* cell = callable_extra_cell(&f, EXTRA_OWNER);
    EXPECT_TRUE(is_type(cell, TYPE_OBJECT));
    EXPECT_EQ(function_owner_context(&f), owner);
    EXPECT_TRUE(function_is_system(&f));
    // The system mark must not read as a compiled entry.
    EXPECT_FALSE(is_type(callable_extra_cell(&f, EXTRA_SYSTEM), TYPE_INTEGER));

    Cell plain = fn(spec, nullptr);
    EXPECT_EQ(function_owner_context(&plain), 0u);
    EXPECT_FALSE(function_is_system(&plain));
    function_set_system(&plain, true);
    EXPECT_TRUE(function_is_system(&plain));
}

TEST_F(Function, MakeFromSpecAndBody) {
    Cell proto{TYPE_DATATYPE, TYPE_FUNCTION, 0, 0};
    Cell arg = B({B({B({W("trace")}), W("x")}), B({W("x"), W("+"), I(1)})});
    Cell f = *function_make(&proto, &arg, TYPE_FUNCTION);
    EXPECT_EQ(type_of(&f), TYPE_FUNCTION);
    EXPECT_EQ(function_flags(&f), FUNCTION_TRACE);
    EXPECT_EQ(mold(f), "func [[trace] x][x + 1]");

    const Cell bad[] = {I(1), B({B({})}), B({B({}), I(2)}), B({W("x"), B({})}), B({B({W("a"), I(5)}), B({})})};
    for (Cell spec : bad) {
        EXPECT_EQ(error_of([&] { function_make(&proto, &spec, TYPE_FUNCTION); }), Err::script_bad_func_def)
            << mold(spec);
    }
}

TEST_F(Function, ReflectGivesSpecBodyAndWords) {
    Cell spec = B({W("a"), R("ref"), W("b"), R("local"), W("c")});
    Cell body = B({W("a")});
    Cell f = fn(spec, &body);

    Cell spec_of = *function_reflect(&f, int32_t(rt_symbols.spec));
    EXPECT_EQ(type_of(&spec_of), TYPE_BLOCK);
    EXPECT_EQ(series_node(&spec_of), series_node(&spec));
    Cell body_of = *function_reflect(&f, int32_t(rt_symbols.body));
    EXPECT_EQ(series_node(&body_of), series_node(function_body(&f)));

    Cell words = *function_reflect(&f, int32_t(rt_symbols.words));
    EXPECT_EQ(mold(words), "[a ref b local c]");
    for (uint32_t i = 0; i < 5; i++) {
        const Cell* w = block_rs_abs_at(&words, i);
        EXPECT_EQ(type_of(w), TYPE_WORD);
        EXPECT_EQ(w->data1, function_context(&f));
        EXPECT_EQ(w->data3, i);
    }
    EXPECT_EQ(error_of([&] { function_reflect(&f, int32_t(rt_symbols.values)); }), Err::internal_not_done);

    Cell none_body = fn(B({}), nullptr);
    EXPECT_TRUE(is_type(function_reflect(&none_body, int32_t(rt_symbols.body)), TYPE_NONE));
}

TEST_F(Function, FormMoldAndCompare) {
    Cell body = B({W("x"), W("+"), I(1)});
    Cell f = fn(B({W("x")}), &body);
    EXPECT_EQ(text_of(f, false), "?function?");
    EXPECT_EQ(mold(f), "func [x][x + 1]");
    EXPECT_EQ(mold(fn(B({W("x")}), nullptr)), "func [x] none");

    Cell copy = f;
    Cell twin = fn(B({W("x")}), &body);
    EXPECT_EQ(function_compare(&f, &copy, CompareOp::equal), 0);
    EXPECT_EQ(function_compare(&f, &copy, CompareOp::same), 0);
    EXPECT_NE(function_compare(&f, &twin, CompareOp::equal), 0);
    EXPECT_EQ(function_compare(&f, &twin, CompareOp::lesser), -2);
    Cell other = I(1);
    EXPECT_EQ(function_compare(&f, &other, CompareOp::equal), -2);
}

Cell* double_it(Cell* args) {
    make_integer(args, cell_int(args) * 2);
    return args;
}

TEST_F(Function, RoutinesCallTheirEntry) {
    Cell spec = B({W("n"), B({W("integer!")}), S("doc"), W("m"), R("flag"), SW("return"), B({W("integer!")})});
    Cell r = *routine_register(&spec, double_it);
    EXPECT_EQ(type_of(&r), TYPE_ROUTINE);
    EXPECT_EQ(routine_get_arity(&r), 2u);
    EXPECT_EQ(r.header & ROUTINE_CELLS, 0u);
    RoutineFn entry = routine_entry(&r);
    ASSERT_EQ(entry, &double_it);
    Cell arg = I(21);
    EXPECT_EQ(cell_int(entry(&arg)), 42);
    EXPECT_EQ(cell_int(callable_extra_cell(&r, EXTRA_OWNER)), -1);

    EXPECT_EQ(text_of(r, false), "?routine?");
    EXPECT_EQ(mold(r), "routine [n [integer!] \"doc\" m /flag return: [integer!]] none");
    Cell with_body = *routine_push(&spec, &spec, 1, 0, true);
    EXPECT_NE(with_body.header & ROUTINE_CELLS, 0u);
    EXPECT_EQ(mold(with_body), "routine [n [integer!] \"doc\" m /flag return: [integer!]][n [integer!] \"doc\" m "
                               "/flag return: [integer!]]");

    Cell copy = r;
    EXPECT_EQ(routine_compare(&r, &copy, CompareOp::equal), 0);
    EXPECT_NE(routine_compare(&r, &with_body, CompareOp::equal), 0);
    Cell f = fn(B({}), nullptr);
    EXPECT_EQ(routine_compare(&r, &f, CompareOp::equal), -2);
    // reflect comes from function!.
    Cell field{TYPE_WORD, 0, rt_symbols.spec, 0};
    Cell spec_of = *reflect_direct(&r, &field);
    EXPECT_EQ(series_node(&spec_of), series_node(&spec));
}

TEST_F(Function, RoutineArityStaysInItsBits) {
    Cell spec;
    block_make_at(&spec, 40);
    for (int i = 0; i < 40; i++) {
        Cell w = W(("arg" + std::to_string(i)).c_str());
        block_append_cell(&spec, &w);
    }
    Cell r = *routine_register(&spec, double_it);
    EXPECT_EQ(routine_get_arity(&r), ROUTINE_MAX_ARITY);
    EXPECT_EQ(r.header & HEADER_NEW_LINE, 0u);
    EXPECT_EQ(type_of(&r), TYPE_ROUTINE);
}

} // namespace
