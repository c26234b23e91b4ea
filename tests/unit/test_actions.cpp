#include <gtest/gtest.h>
#include <cctype>
#include <functional>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/handles.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/interpreter/dispatch.h"

using namespace kem;

namespace {

// What the probe implementations were called with.
struct Seen {
    int calls = 0;
    int32_t number = 0;   // part count, pick index or type id
    int32_t dup = 0;
    bool flag = false;
    Cell* cell = nullptr;
    Cell* cell2 = nullptr;
    Cell value{};
};
Seen seen;

// Puts an implementation into a type's row for one test and restores the row.
class RowPatch {
public:
    template <int Slot> static RowPatch set(uint8_t type, typename ActionSignature<Slot>::type fn) {
        return RowPatch(type, Slot, reinterpret_cast<ActionFn>(fn));
    }
    RowPatch(RowPatch&& o) noexcept : type_(o.type_), slot_(o.slot_), saved_(o.saved_) { o.slot_ = 0; }
    ~RowPatch() {
        if (slot_) type_action_table[type_][slot_] = saved_;
    }

private:
    RowPatch(uint8_t type, int slot, ActionFn fn) : type_(type), slot_(slot), saved_(type_action_table[type][slot]) {
        type_action_table[type][slot] = fn;
    }
    uint8_t type_;
    int slot_;
    ActionFn saved_;
};

Cell* probe_insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    seen.calls++;
    seen.number = part;
    seen.dup = dup;
    seen.flag = only;
    seen.value = *value;
    return series;
}
Cell* probe_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return probe_insert(series, value, part, only, dup, false);
}
int32_t probe_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    seen.calls++;
    seen.cell = arg;
    seen.number = part;
    string_append_ascii(buffer, "probe-text");
    return part - 10;
}
int32_t probe_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    seen.flag = refs.only && !refs.all && refs.flat;
    return probe_form(value, buffer, refs.limit, part);
}
int32_t probe_length(Cell* series) { return series->data3; }
Cell* probe_pick(Cell* series, int32_t index, Cell* boxed) {
    seen.number = index;
    seen.cell = boxed;
    return boxed;
}
Cell* probe_make(Cell* proto, Cell* spec, int32_t type) {
    seen.number = type;
    seen.value = *proto;
    return spec;
}
Cell* probe_copy(Cell* value, Cell* result, const CopyArgs& refs) {
    seen.calls++;
    seen.cell = result;
    seen.cell2 = refs.types;
    seen.value = *result;
    return value;
}
bool probe_even(Cell* number) { return number->data3 != 0; }
Cell* probe_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    seen.cell = value;
    seen.cell2 = step.path;
    seen.number = step.index;
    seen.flag = step.last && !step.push && !step.get && !step.notify;
    return element;
}

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
Cell logic(bool b) { return Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0}; }
const Cell none{TYPE_NONE, 0, 0, 0};

// A series of n integer cells (1..n) of the given type, at a position.
Cell series_of(uint8_t type, uint32_t n, uint32_t index = 0) {
    NodeId node = alloc_cells(n ? n : 1);
    for (uint32_t i = 0; i < n; i++) *alloc_tail(node_buffer(node)) = integer(int32_t(i + 1));
    Cell c;
    make_series(&c, type, node, index);
    return c;
}
uint32_t cell_count(const Cell* s) { return node_buffer(series_node(s))->used() / 16; }

std::string text_of(const Cell* s) {
    SeriesBuffer* b = node_buffer(series_node(s));
    EXPECT_EQ(b->unit(), 1u);
    return std::string(reinterpret_cast<char*>(b->head_ptr()) + series_index(s), b->used() - series_index(s));
}

// Calls a table-form dispatcher the way the evaluator does: arguments (and
// refinement arguments after them) from the argument base.
Cell* call(int slot, const std::vector<Cell>& cells, const std::vector<int32_t>& refs = {}) {
    stack::reset();
    for (const Cell& c : cells) stack::push(&c);
    action_dispatcher_table[slot](refs.empty() ? nullptr : refs.data());
    return stack::arguments;
}

KemError error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const KemError& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return KemError(Err::internal_not_done);
}

// The refinement words of a spec text, in order, skipping strings.
std::vector<std::string> spec_refinements(std::string_view text) {
    std::vector<std::string> out;
    bool in_string = false;
    for (size_t i = 0; i < text.size(); i++) {
        char ch = text[i];
        if (ch == '"') in_string = !in_string;
        if (in_string || ch != '/' || (i > 0 && !std::isspace(static_cast<unsigned char>(text[i - 1])))) continue;
        size_t end = i + 1;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != ']') end++;
        out.emplace_back(text.substr(i + 1, end - i - 1));
    }
    return out;
}

class ActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        stack::init();
        handle_table_init();
        register_all_datatypes();
        actions_init();
        seen = Seen{};
        call_argument_word = [](int i) { return integer(1000 + i); };
    }
    void TearDown() override { call_argument_word = nullptr; }
};

} // namespace

// Every entry of every registered row is resolved, and a missing one is
// reported as expect-arg naming the type, through the lookup.
TEST_F(ActionsTest, RowsHoldNoInheritMarkerAndMissingEntriesRaiseExpectArg) {
    int types = 0;
    for (int t = 1; t <= highest_type_id; t++) {
        if (!datatype_names[t].name) continue;
        types++;
        for (int s = 1; s <= ACTION_SLOT_COUNT; s++) {
            ActionFn e = type_action_table[t][s];
            EXPECT_NE(e, ACTION_INHERIT) << type_name(t) << " slot " << s;
            Cell v{uint32_t(t), 0, 0, 0};
            if (e) {
                EXPECT_EQ(get_action_ptr(t, &v, s), e);
                continue;
            }
            KemError err = error_of([&] { get_action_ptr(t, &v, s); });
            EXPECT_EQ(err.id, Err::script_expect_arg) << type_name(t) << " slot " << s;
            EXPECT_EQ(type_of(&err.args[1]), TYPE_DATATYPE);
            EXPECT_EQ(err.args[1].data1, uint32_t(t));
            EXPECT_EQ(cell_int(&err.args[2]), 1000);  // the first argument's word
        }
    }
    EXPECT_GE(types, 53);
}

TEST_F(ActionsTest, DispatcherTableHasAnEntryForEverySlotButEightAndNine) {
    for (int s = 1; s <= ACTION_SLOT_COUNT; s++) {
        if (s == 8 || s == ACT_COMPARE)
            EXPECT_EQ(action_dispatcher_table[s], nullptr) << s;
        else
            EXPECT_NE(action_dispatcher_table[s], nullptr) << s;
    }
}

// The spec blocks fix the refinement integers the dispatchers read.
TEST_F(ActionsTest, SpecRefinementsMatchDispatcherOrder) {
    for (int s = 1; s <= ACTION_SLOT_COUNT; s++) {
        std::string_view text = action_spec_text(s);
        if (action_word(s).empty()) {
            EXPECT_TRUE(text.empty()) << s;
            continue;
        }
        ASSERT_FALSE(text.empty()) << action_word(s);
        EXPECT_EQ(text.front(), '[');
        EXPECT_EQ(text.back(), ']');
        auto names = action_refinement_names(s);
        std::vector<std::string> expected(names.begin(), names.end());
        EXPECT_EQ(spec_refinements(text), expected) << action_word(s);
    }
}

TEST_F(ActionsTest, FormAndMoldCutToThePartLimit) {
    auto form = RowPatch::set<ACT_FORM>(TYPE_NONE, probe_form);
    auto mold = RowPatch::set<ACT_MOLD>(TYPE_NONE, probe_mold);
    struct Case {
        int slot;
        int32_t limit;      // -1000: no /part
        const char* text;
        int calls;
    } cases[] = {
        {ACT_FORM, -1000, "probe-text", 1},
        {ACT_FORM, 5, "probe", 1},
        {ACT_FORM, 10, "probe-text", 1},
        {ACT_FORM, 50, "probe-text", 1},
        {ACT_FORM, 0, "", 0},
        {ACT_MOLD, 3, "pro", 1},
        {ACT_MOLD, -5, "", 0},
    };
    for (const Case& c : cases) {
        seen = Seen{};
        std::vector<Cell> cells{none};
        std::vector<int32_t> refs;
        int part_ref = c.slot == ACT_FORM ? 0 : 3;
        refs.assign(c.slot == ACT_FORM ? 1 : 4, -1);
        if (c.limit != -1000) {
            cells.push_back(integer(c.limit));
            refs[part_ref] = 1;
        }
        Cell* r = call(c.slot, cells, refs);
        ASSERT_EQ(type_of(r), TYPE_STRING) << c.limit;
        EXPECT_EQ(text_of(r), c.text) << c.limit;
        EXPECT_EQ(seen.calls, c.calls) << c.limit;
        if (c.calls) {
            EXPECT_EQ(seen.number, c.limit == -1000 ? INT32_MAX : c.limit);
            EXPECT_EQ(seen.cell == nullptr, c.limit == -1000);
        }
    }
    seen = Seen{};
    call(ACT_MOLD, {none}, {0, -1, 5, -1});
    EXPECT_TRUE(seen.flag);  // /only and /flat reach the molder, /all does not
    EXPECT_EQ(text_of(call(ACT_FORM, {none})), "probe-text");  // no refinement list: all absent
}

TEST_F(ActionsTest, LengthOfNoneIsNoneAndCountsAreIntegers) {
    Cell* r = call(ACT_LENGTH_Q, {none});
    EXPECT_EQ(type_of(r), TYPE_NONE);
    auto patch = RowPatch::set<ACT_LENGTH_Q>(TYPE_NONE, probe_length);
    r = call(ACT_LENGTH_Q, {Cell{TYPE_NONE, 0, 0, 7}});
    ASSERT_EQ(type_of(r), TYPE_INTEGER);
    EXPECT_EQ(cell_int(r), 7);
    r = call(ACT_LENGTH_Q, {Cell{TYPE_NONE, 0, 0, 0xFFFFFFFF}});
    EXPECT_EQ(type_of(r), TYPE_NONE);
}

TEST_F(ActionsTest, PickAndPokeIndexConversion) {
    auto patch = RowPatch::set<ACT_PICK>(TYPE_NONE, probe_pick);
    struct Case {
        Cell index;
        int32_t number;
    } cases[] = {
        {logic(true), 1}, {logic(false), 2}, {integer(5), 5}, {integer(-3), -3},
        {Cell{TYPE_CHAR, 0, 'a', 0}, 'a'}, {none, 0},
    };
    for (const Case& c : cases) {
        Cell* r = call(ACT_PICK, {none, c.index});
        EXPECT_EQ(seen.number, c.number);
        EXPECT_EQ(seen.cell, stack::arguments + 1);
        EXPECT_EQ(r->header, c.index.header);  // the returned cell became the result
    }
}

TEST_F(ActionsTest, EvenAndOddAreBoxedAsLogic) {
    auto even = RowPatch::set<ACT_EVEN_Q>(TYPE_NONE, probe_even);
    auto odd = RowPatch::set<ACT_ODD_Q>(TYPE_NONE, probe_even);
    for (int slot : {ACT_EVEN_Q, ACT_ODD_Q}) {
        for (uint32_t v : {0u, 1u}) {
            Cell* r = call(slot, {Cell{TYPE_NONE, 0, 0, v}});
            EXPECT_EQ(type_of(r), TYPE_LOGIC);
            EXPECT_EQ(r->data1, v);
        }
    }
}

// append and insert: /part measures the value to add, /dup repeats it.
TEST_F(ActionsTest, AppendPartAndDupRules) {
    auto append = RowPatch::set<ACT_APPEND>(TYPE_BLOCK, probe_insert);
    Cell value = series_of(TYPE_BLOCK, 5, 3);
    Cell other = series_of(TYPE_BLOCK, 5, 1);
    Cell at_head = value;
    at_head.data1 = 0;
    Cell before = value;
    before.data1 = 1;
    Cell past = value;
    past.data1 = 9;
    Cell after = value;
    after.data1 = 5;
    struct Case {
        const char* name;
        Cell value;
        std::vector<Cell> refs;      // /part argument (or none! for absent), /dup argument (optional)
        int calls;
        int32_t part, dup;
        uint32_t value_index;        // the value's position when the implementation ran
    } cases[] = {
        {"plain", value, {}, 1, -1, 1, 3},
        {"part 0 adds nothing", value, {integer(0)}, 0, 0, 0, 3},
        {"dup 0 adds nothing", value, {none, integer(0)}, 0, 0, 0, 3},
        {"dup -2 adds nothing", value, {none, integer(-2)}, 0, 0, 0, 3},
        {"part 2 dup 3", value, {integer(2), integer(3)}, 1, 2, 3, 3},
        {"position ahead", value, {after}, 1, 2, 1, 3},
        {"position behind moves back", value, {before}, 1, 2, 1, 1},
        {"negative count moves back", value, {integer(-2)}, 1, 2, 1, 1},
        {"negative count stops at head", value, {integer(-9)}, 1, 3, 1, 0},
        {"negative count at head", at_head, {integer(-1)}, 0, 0, 0, 0},
        {"value past tail is clamped", past, {integer(0)}, 0, 0, 0, 5},
    };
    for (const Case& c : cases) {
        seen = Seen{};
        Cell series = series_of(TYPE_BLOCK, 2);
        std::vector<Cell> cells{series, c.value};
        std::vector<int32_t> refs{-1, -1, -1};
        if (!c.refs.empty() && type_of(&c.refs[0]) != TYPE_NONE) {
            cells.push_back(c.refs[0]);
            refs[0] = int32_t(cells.size() - 1);
        }
        if (c.refs.size() > 1) {
            cells.push_back(c.refs[1]);
            refs[2] = int32_t(cells.size() - 1);
        }
        Cell* r = call(ACT_APPEND, cells, refs);
        EXPECT_EQ(seen.calls, c.calls) << c.name;
        EXPECT_EQ(r->data2, series.data2) << c.name;  // the series is the result
        EXPECT_EQ(cell_count(r), 2u) << c.name;
        if (c.calls) {
            EXPECT_EQ(seen.number, c.part) << c.name;
            EXPECT_EQ(seen.dup, c.dup) << c.name;
            EXPECT_EQ(seen.value.data1, c.value_index) << c.name;
        } else {
            EXPECT_EQ(stack::arguments[1].data1, c.value_index) << c.name;
        }
    }

    // A position in another series, and a value that owns no buffer.
    Cell series = series_of(TYPE_BLOCK, 2);
    KemError e = error_of([&] { call(ACT_APPEND, {series, value, other}, {2, -1, -1}); });
    EXPECT_EQ(e.id, Err::script_invalid_refine_arg);
    EXPECT_EQ(cell_int(&e.args[0]), 1002);  // the /part item of the spec
    EXPECT_EQ(e.args[1].data2, other.data2);
    Cell f;
    make_float(&f, 1.5);
    e = error_of([&] { call(ACT_APPEND, {series, f, integer(1)}, {2, -1, -1}); });
    EXPECT_EQ(e.id, Err::script_invalid_part);
    EXPECT_EQ(cell_int(&e.args[0]), 1);
    e = error_of([&] { call(ACT_APPEND, {series, value, f}, {2, -1, -1}); });
    EXPECT_EQ(e.id, Err::script_invalid_refine_arg);
    EXPECT_EQ(seen.calls, 0);
}

TEST_F(ActionsTest, InsertClampsTheSeriesAndChangeMeasuresIt) {
    auto insert = RowPatch::set<ACT_INSERT>(TYPE_BLOCK, probe_insert);
    auto change = RowPatch::set<ACT_CHANGE>(TYPE_BLOCK, probe_change);
    Cell series = series_of(TYPE_BLOCK, 4, 9);
    Cell* r = call(ACT_INSERT, {series, integer(1)}, {-1, 0, -1});
    EXPECT_EQ(seen.calls, 1);
    EXPECT_TRUE(seen.flag);  // /only
    EXPECT_EQ(r->data1, 4u);

    series.data1 = 3;
    Cell back = series;
    back.data1 = 1;
    Cell ahead = series;
    ahead.data1 = 4;
    struct Case {
        Cell range;
        int32_t part;
        uint32_t index;  // the series' position when changed
    } cases[] = {
        {integer(2), 2, 3}, {ahead, 1, 3}, {back, 2, 1}, {integer(-2), 2, 1}, {integer(0), 0, 3},
    };
    for (const Case& c : cases) {
        seen = Seen{};
        r = call(ACT_CHANGE, {series, none, c.range}, {2, -1, -1});
        EXPECT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.number, c.part);
        EXPECT_EQ(r->data1, c.index);
    }
    seen = Seen{};
    r = call(ACT_CHANGE, {series, none, integer(0)}, {-1, -1, 2});
    EXPECT_EQ(seen.calls, 0);
    Cell other = series_of(TYPE_BLOCK, 4);
    KemError e = error_of([&] { call(ACT_CHANGE, {series, none, other}, {2, -1, -1}); });
    EXPECT_EQ(e.id, Err::script_invalid_refine_arg);
    Cell paren = series;
    set_type(&paren, TYPE_PAREN);
    e = error_of([&] { call(ACT_CHANGE, {series, none, paren}, {2, -1, -1}); });
    EXPECT_EQ(e.id, Err::script_invalid_refine_arg);
}

TEST_F(ActionsTest, CopyTypesMustBeADatatypeOrTypeset) {
    auto copy = RowPatch::set<ACT_COPY>(TYPE_NONE, probe_copy);
    KemError e = error_of([&] { call(ACT_COPY, {none, integer(3)}, {-1, -1, 1}); });
    EXPECT_EQ(e.id, Err::script_expect_arg);
    EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(cell_int(&e.args[2]), 1005);  // the word `kind`
    EXPECT_EQ(seen.calls, 0);

    Cell kind;
    make_datatype(&kind, TYPE_STRING);
    call(ACT_COPY, {none, kind}, {-1, 0, 1});
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.cell2, stack::arguments + 1);
    EXPECT_EQ(type_of(&seen.value), TYPE_UNSET);  // a fresh result cell above the arguments
    EXPECT_GE(seen.cell, stack::arguments + 2);
}

TEST_F(ActionsTest, MakeAndToLookUpByTheNamedType) {
    auto make = RowPatch::set<ACT_MAKE>(TYPE_STRING, probe_make);
    auto to = RowPatch::set<ACT_TO>(TYPE_STRING, probe_make);
    Cell type;
    make_datatype(&type, TYPE_STRING);
    for (int slot : {ACT_MAKE, ACT_TO}) {
        seen = Seen{};
        Cell* r = call(slot, {type, integer(4)});
        EXPECT_EQ(seen.number, TYPE_STRING);
        EXPECT_EQ(type_of(&seen.value), TYPE_DATATYPE);
        EXPECT_EQ(cell_int(r), 4);
        seen = Seen{};
        call(slot, {series_of(TYPE_STRING, 0), none});
        EXPECT_EQ(seen.number, TYPE_STRING);
    }
    Cell abstract;
    make_datatype(&abstract, TYPE_SERIES);
    KemError e = error_of([&] { call(ACT_MAKE, {abstract, none}); });
    EXPECT_EQ(e.id, Err::script_expect_arg);
    EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_SERIES));
    Cell bogus{TYPE_DATATYPE, 200, 0, 0};
    e = error_of([&] { call(ACT_MAKE, {bogus, none}); });
    EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_DATATYPE));
}

TEST_F(ActionsTest, PathAccessOnATypeWithoutIt) {
    Cell element = integer(2);
    Cell parent = none;
    KemError e = error_of([&] { call(ACT_EVAL_PATH, {parent, element}, {-1}); });
    EXPECT_EQ(e.id, Err::script_bad_path_type2);
    EXPECT_EQ(cell_int(&e.args[0]), 2);
    EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_NONE));

    Cell path = series_of(TYPE_PATH, 4, 1);
    struct Case {
        int32_t index;
        uint32_t kept;
    } cases[] = {{0, 1}, {1, 2}, {2, 3}, {7, 3}, {-1, 0}};
    for (const Case& c : cases) {
        e = error_of([&] { eval_path_direct(&parent, &element, nullptr, PathStep{.path = &path, .index = c.index}); });
        EXPECT_EQ(e.id, Err::script_bad_path_type);
        EXPECT_EQ(e.args[0].data2, path.data2);
        EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_NONE));
        ASSERT_EQ(type_of(&e.args[2]), TYPE_PATH);
        EXPECT_NE(e.args[2].data2, path.data2);  // a copy
        EXPECT_EQ(cell_count(&e.args[2]) - series_index(&e.args[2]), c.kept) << c.index;
        if (c.kept) {
            EXPECT_EQ(cell_int(node_buffer(e.args[2].data2)->cell_head() + series_index(&e.args[2])), 2);
        }
    }
    EXPECT_EQ(cell_count(&path), 4u);

    auto patch = RowPatch::set<ACT_EVAL_PATH>(TYPE_NONE, probe_eval_path);
    call(ACT_EVAL_PATH, {parent, element, integer(9)}, {2});
    EXPECT_EQ(seen.cell, stack::arguments + 2);
    EXPECT_EQ(seen.cell2, nullptr);
    EXPECT_EQ(seen.number, -1);
    EXPECT_TRUE(seen.flag);
    call(ACT_EVAL_PATH, {parent, element}, {-1});
    EXPECT_EQ(seen.cell, nullptr);
}

// A port whose actor is a handle! is served from its scheme's handler table.
TEST_F(ActionsTest, PortWithHandleActorUsesItsHandlerTable) {
    static PortHandlerTable table{};
    table[ACT_APPEND - PORT_HANDLER_FIRST_SLOT] = reinterpret_cast<ActionFn>(&probe_insert);
    uint32_t id = register_port_handlers(&table);

    auto make_port = [](const Cell& actor) {
        NodeId values = alloc_cells(3);
        for (const Cell& c : {none, none, actor}) *alloc_tail(node_buffer(values)) = c;
        NodeId ctx = alloc_cells(2);
        *alloc_tail(node_buffer(ctx)) = Cell{TYPE_CONTEXT, 0, values, 0};
        *alloc_tail(node_buffer(ctx)) = none;
        return Cell{TYPE_PORT, ctx, 0, 0};
    };
    Cell port = make_port(Cell{TYPE_HANDLE, 0, id, 0xFFFFFFFF});
    EXPECT_EQ(get_action_ptr(TYPE_PORT, &port, ACT_APPEND), table[0]);
    for (int slot : {int(ACT_CLEAR), int(ACT_WRITE)}) {
        KemError e = error_of([&] { get_action_ptr(TYPE_PORT, &port, slot); });
        EXPECT_EQ(e.id, Err::access_no_port_action);
    }
    // Below append the port! row serves, as it does for other actors.
    EXPECT_EQ(error_of([&] { get_action_ptr(TYPE_PORT, &port, ACT_ADD); }).id, Err::script_expect_arg);
    Cell unknown = make_port(Cell{TYPE_HANDLE, 0, 0, 0xFFFFFFFF});
    EXPECT_EQ(error_of([&] { get_action_ptr(TYPE_PORT, &unknown, ACT_APPEND); }).id, Err::access_no_port_action);
    Cell plain = make_port(none);
    if (ActionFn row = type_action_table[TYPE_PORT][ACT_APPEND])
        EXPECT_EQ(get_action_ptr(TYPE_PORT, &plain, ACT_APPEND), row);
    else
        EXPECT_EQ(error_of([&] { get_action_ptr(TYPE_PORT, &plain, ACT_APPEND); }).id, Err::script_expect_arg);
}

TEST_F(ActionsTest, CompareStarOrdersOnlyComparableValues) {
    Cell a = none, b = none, u{TYPE_UNSET, 0, 0, 0};
    EXPECT_TRUE(compare_star(&a, &b, CompareOp::equal));
    EXPECT_FALSE(compare_star(&a, &b, CompareOp::not_equal));
    EXPECT_FALSE(compare_star(&a, &u, CompareOp::equal));
    EXPECT_TRUE(compare_star(&a, &u, CompareOp::not_equal));
    KemError e = error_of([&] { compare_star(&a, &u, CompareOp::lesser); });
    EXPECT_EQ(e.id, Err::script_invalid_compare);
    EXPECT_FALSE(compare_outcome(&a, &u, CompareOp::lesser));
}

// The dispatchers over the rows the datatype modules registered.
TEST_F(ActionsTest, DispatchOverRegisteredRows) {
    Cell type;
    make_datatype(&type, TYPE_INTEGER);
    struct TextCase {
        int slot;
        std::vector<Cell> cells;
        std::vector<int32_t> refs;
        const char* text;
    } texts[] = {
        {ACT_FORM, {integer(12345), integer(3)}, {1}, "123"},
        {ACT_FORM, {integer(-7)}, {-1}, "-7"},
        {ACT_FORM, {type}, {-1}, "integer"},
        {ACT_MOLD, {type}, {-1, 0, -1, -1}, "#(integer!)"},
        {ACT_MOLD, {none, integer(4)}, {-1, 0, -1, 1}, "#(no"},
        {ACT_MOLD, {Cell{TYPE_UNSET, 0, 0, 0}}, {-1, -1, -1, -1}, "unset"},
    };
    for (const TextCase& c : texts) {
        Cell* r = call(c.slot, c.cells, c.refs);
        ASSERT_EQ(type_of(r), TYPE_STRING);
        EXPECT_EQ(text_of(r), c.text);
    }

    Cell* r = call(ACT_ADD, {integer(1), integer(2)});  // a stack-form slot
    EXPECT_EQ(cell_int(r), 3);
    r = call(ACT_EVEN_Q, {integer(4)});
    EXPECT_EQ(type_of(r), TYPE_LOGIC);
    EXPECT_EQ(r->data1, 1u);
    r = call(ACT_ODD_Q, {integer(4)});
    EXPECT_EQ(r->data1, 0u);
}

TEST_F(ActionsTest, BlockAppendAndPickThroughTheDispatchers) {
    ASSERT_TRUE(type_action_table[TYPE_BLOCK][ACT_APPEND] && type_action_table[TYPE_BLOCK][ACT_PICK])
        << "block! row has no append or pick";
    Cell blk = series_of(TYPE_BLOCK, 3);  // [1 2 3]
    Cell* r = call(ACT_PICK, {blk, logic(true)});
    EXPECT_EQ(cell_int(r), 1);
    r = call(ACT_PICK, {blk, logic(false)});
    EXPECT_EQ(cell_int(r), 2);
    r = call(ACT_LENGTH_Q, {blk});
    EXPECT_EQ(cell_int(r), 3);

    Cell more = series_of(TYPE_BLOCK, 3);
    call(ACT_APPEND, {blk, more, integer(0)}, {2, -1, -1});
    call(ACT_APPEND, {blk, more, integer(0)}, {-1, -1, 2});
    EXPECT_EQ(cell_count(&blk), 3u);
    r = call(ACT_APPEND, {blk, more, integer(2)}, {2, -1, -1});
    EXPECT_EQ(cell_count(&blk), 5u);
    EXPECT_EQ(series_index(r), 0u);
    EXPECT_EQ(cell_int(node_buffer(series_node(&blk))->cell_head() + 4), 2);
}
