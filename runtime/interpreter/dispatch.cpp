#include "runtime/interpreter/dispatch.h"
#include <array>
#include <climits>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"

namespace kem {

ActionDispatcher action_dispatcher_table[ACTION_SLOT_COUNT + 1];

namespace {

// Position of an item among the words and refinements of a spec (from 0), for
// errors that name a spec item: the /part of append, insert and change
// ("series value /part"), the kind of copy ("value /part length /deep /types kind").
constexpr int INSERT_PART_ITEM = 2;
constexpr int COPY_KIND_ITEM = 5;

inline Cell* arg(int n) { return stack::arguments + n; }
inline void finish(const Cell* result) { stack::set_last(result); }

// Values whose position indexes a buffer of their own: the ones /part may
// measure, and the ones whose position is clamped before an insert or change.
bool owns_buffer(uint8_t t) { return any_series_type(t) || t == TYPE_MAP; }

// Index of the tail: units of the buffer, pixels of an image.
uint32_t tail_index(const Cell* s) { return series_unit_count(s); }

void clamp_to_tail(Cell* s) {
    uint32_t tail = tail_index(s);
    if (series_index(s) > tail) s->data1 = tail;
}

// Moves a position back by -count (not before the head); returns the distance.
int32_t move_back(Cell* s, int32_t count) {
    int64_t from = series_index(s);
    int64_t to = from + count;
    if (to < 0) to = 0;
    s->data1 = static_cast<uint32_t>(to);
    return static_cast<int32_t>(from - to);
}

bool same_series(const Cell* a, const Cell* b) {
    return type_of(a) == type_of(b) && series_node(a) == series_node(b);
}

[[noreturn]] void fire_invalid_refine_arg(int item, const Cell* value) {
    Cell word = call_argument_word ? call_argument_word(item) : Cell{TYPE_NONE, 0, 0, 0};
    fire(Err::script_invalid_refine_arg, word, *value);
}

int32_t distance(const Cell* from, const Cell* to) {
    int64_t d = int64_t(series_index(to)) - int64_t(series_index(from));
    if (d > INT32_MAX) return INT32_MAX;
    if (d < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(d);
}

// --- stack form: the implementation reads the call's arguments itself
template <int Slot> void stack_form(const int32_t*) { finish(get_action_for_arg<Slot>()()); }

// --- make, random, reflect, to
void make_star(const int32_t*) { finish(make_direct(arg(0), arg(1))); }
void to_star(const int32_t*) { finish(to_direct(arg(0), arg(1))); }
void reflect_star(const int32_t*) { finish(reflect_direct(arg(0), arg(1))); }
void random_star(const int32_t* r) { finish(random_direct(arg(0), RandomArgs::from(r))); }

// --- form and mold: into a new string, cut to the /part limit
int32_t part_limit(const Cell* limit) { return limit ? to_int_checked(limit) : INT32_MAX; }

// True when the limit leaves no room: the result is then an empty string and
// the value is not formed at all.
bool empty_by_limit(const Cell* limit_cell, int32_t limit) {
    if (!limit_cell || limit >= 1) return false;
    string_make_at(stack::arguments, 1);
    return true;
}

void form_star(const int32_t* r) {
    Cell* limit_cell = FormArgs::from(r).limit;
    int32_t limit = part_limit(limit_cell);
    if (empty_by_limit(limit_cell, limit)) return;
    Cell* buffer = string_make_at(stack::push_slot(), 16);
    form_direct(arg(0), buffer, limit_cell, limit);
    if (limit_cell) string_truncate(series_node(buffer), static_cast<uint32_t>(limit));
    finish(buffer);
}

void mold_star(const int32_t* r) {
    const MoldArgs refs = MoldArgs::from(r);
    Cell* limit_cell = refs.limit;
    int32_t limit = part_limit(limit_cell);
    if (empty_by_limit(limit_cell, limit)) return;
    Cell* buffer = string_make_at(stack::push_slot(), 16);
    mold_direct(arg(0), buffer, refs, limit, 0);
    if (limit_cell) string_truncate(series_node(buffer), static_cast<uint32_t>(limit));
    finish(buffer);
}

// --- path access: parent element [value]; the one integer tells whether the
// third cell is a value to set (its stack index, so above 0).
void eval_path_star(const int32_t* r) {
    Cell* value = r && r[0] > 0 ? arg(2) : nullptr;
    finish(eval_path_direct(arg(0), arg(1), value, PathStep{.index = -1, .last = true}));
}

// --- math with twins
void negate_star(const int32_t*) { finish(negate_direct(arg(0))); }
void complement_star(const int32_t*) { finish(complement_direct(arg(0))); }
void round_star(const int32_t* r) { finish(round_direct(arg(0), RoundArgs::from(r))); }
void even_q_star(const int32_t*) { make_logic(stack::arguments, even_q_direct(arg(0))); }
void odd_q_star(const int32_t*) { make_logic(stack::arguments, odd_q_direct(arg(0))); }

// --- append, insert, change
// /dup: below 1 adds nothing; false then, and the series stays the result.
bool dup_count(Cell* c, int32_t* dup) {
    *dup = c ? to_int_checked(c) : 1;
    return *dup >= 1;
}

// /part of append and insert measures the value to add. False when nothing
// is to be added.
bool insert_part(Cell* part, Cell* value, int32_t* count) {
    *count = -1;
    if (!part) return true;
    if (!owns_buffer(type_of(value))) fire(Err::script_invalid_part, *part);
    clamp_to_tail(value);
    if (type_of(part) == TYPE_INTEGER) {
        *count = cell_int(part);
    } else {
        if (type_of(part) == TYPE_PORT || !same_series(part, value)) fire_invalid_refine_arg(INSERT_PART_ITEM, part);
        *count = distance(value, part);
    }
    if (*count == 0 || (*count < 0 && series_index(value) == 0)) return false;
    if (*count < 0) *count = move_back(value, *count);
    return true;
}

// append and insert take the same refinements.
template <typename Args> void insert_like(const Args& refs, bool append) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    if (!append && owns_buffer(type_of(series))) clamp_to_tail(series);
    int32_t count, dup;
    if (!insert_part(refs.part, value, &count) || !dup_count(refs.dup, &dup)) return;
    finish(append ? append_direct(series, value, count, refs.only, dup)
                  : insert_direct(series, value, count, refs.only, dup));
}

void append_star(const int32_t* r) { insert_like(AppendArgs::from(r), true); }
void insert_star(const int32_t* r) { insert_like(InsertArgs::from(r), false); }

// /part of change measures the series being changed.
void change_star(const int32_t* r) {
    const ChangeArgs refs = ChangeArgs::from(r);
    Cell* series = arg(0);
    uint8_t t = type_of(series);
    bool fixed = t == TYPE_PORT || t == TYPE_IMAGE;
    if (!fixed && owns_buffer(t)) clamp_to_tail(series);
    int32_t count = -1;
    if (Cell* range = refs.part) {
        if (type_of(range) == TYPE_INTEGER) {
            count = cell_int(range);
        } else {
            if (fixed || !same_series(range, series)) fire_invalid_refine_arg(INSERT_PART_ITEM, range);
            count = distance(series, range);
        }
        // A count reaching back takes the values before the position instead.
        if (count < 0) count = fixed ? 0 : move_back(series, count);
    }
    int32_t dup;
    if (!dup_count(refs.dup, &dup)) return;
    finish(change_direct(series, arg(1), count, refs.only, dup));
}

// --- series actions with twins
void clear_star(const int32_t*) { finish(clear_direct(arg(0))); }

void copy_star(const int32_t* r) {
    const CopyArgs refs = CopyArgs::from(r);
    Cell* kind = refs.types;
    if (kind && type_of(kind) != TYPE_DATATYPE && type_of(kind) != TYPE_TYPESET) fire_expect_arg(kind, COPY_KIND_ITEM);
    Cell* result = stack::push_slot();
    make_unset(result);
    finish(copy_direct(arg(0), result, refs));
}

void find_star(const int32_t* r) { finish(find_direct(arg(0), arg(1), FindArgs::from(r))); }

void select_star(const int32_t* r) { finish(select_direct(arg(0), arg(1), SelectArgs::from(r))); }

void length_q_star(const int32_t*) {
    int32_t n = length_q_direct(arg(0));
    if (n == -1)
        make_none(stack::arguments);
    else
        make_integer(stack::arguments, n);
}

void move_star(const int32_t* r) { finish(move_direct(arg(0), arg(1), MoveArgs::from(r))); }
void pick_star(const int32_t*) { finish(pick_direct(arg(0), pick_index(), arg(1))); }
void poke_star(const int32_t*) { finish(poke_direct(arg(0), pick_index(), arg(2), arg(1))); }
void put_star(const int32_t* r) { finish(put_direct(arg(0), arg(1), arg(2), PutArgs::from(r))); }
void remove_star(const int32_t* r) { finish(remove_direct(arg(0), RemoveArgs::from(r))); }
void reverse_star(const int32_t* r) { finish(reverse_direct(arg(0), ReverseArgs::from(r))); }
void sort_star(const int32_t* r) { finish(sort_direct(arg(0), SortArgs::from(r))); }
void swap_star(const int32_t*) { finish(swap_direct(arg(0), arg(1))); }
void take_star(const int32_t* r) { finish(take_direct(arg(0), TakeArgs::from(r))); }
void trim_star(const int32_t* r) { finish(trim_direct(arg(0), TrimArgs::from(r))); }

// --- port and file actions
void create_star(const int32_t*) { finish(create_direct(arg(0))); }
void close_star(const int32_t*) { finish(close_direct(arg(0))); }
void delete_star(const int32_t*) { finish(delete_direct(arg(0))); }
void modify_star(const int32_t* r) { finish(modify_direct(arg(0), arg(1), arg(2), ModifyArgs::from(r))); }
void open_star(const int32_t* r) { finish(open_direct(arg(0), OpenArgs::from(r))); }
void open_q_star(const int32_t*) { finish(open_q_direct(arg(0))); }
void query_star(const int32_t*) { finish(query_direct(arg(0))); }
void read_star(const int32_t* r) { finish(read_direct(arg(0), ReadArgs::from(r))); }
void rename_star(const int32_t*) { finish(rename_direct(arg(0), arg(1))); }
void update_star(const int32_t*) { finish(update_direct(arg(0))); }
void write_star(const int32_t* r) { finish(write_direct(arg(0), arg(1), WriteArgs::from(r))); }

// By slot; slot 8 is never filled and slot 9 is reached as compare_star.
constexpr auto DISPATCHERS = [] {
    std::array<ActionDispatcher, ACTION_SLOT_COUNT + 1> t{};
    t[ACT_MAKE] = make_star;
    t[ACT_RANDOM] = random_star;
    t[ACT_REFLECT] = reflect_star;
    t[ACT_TO] = to_star;
    t[ACT_FORM] = form_star;
    t[ACT_MOLD] = mold_star;
    t[ACT_EVAL_PATH] = eval_path_star;
    t[ACT_ABSOLUTE] = stack_form<ACT_ABSOLUTE>;
    t[ACT_ADD] = stack_form<ACT_ADD>;
    t[ACT_DIVIDE] = stack_form<ACT_DIVIDE>;
    t[ACT_MULTIPLY] = stack_form<ACT_MULTIPLY>;
    t[ACT_NEGATE] = negate_star;
    t[ACT_POWER] = stack_form<ACT_POWER>;
    t[ACT_REMAINDER] = stack_form<ACT_REMAINDER>;
    t[ACT_ROUND] = round_star;
    t[ACT_SUBTRACT] = stack_form<ACT_SUBTRACT>;
    t[ACT_EVEN_Q] = even_q_star;
    t[ACT_ODD_Q] = odd_q_star;
    t[ACT_AND_T] = stack_form<ACT_AND_T>;
    t[ACT_COMPLEMENT] = complement_star;
    t[ACT_OR_T] = stack_form<ACT_OR_T>;
    t[ACT_XOR_T] = stack_form<ACT_XOR_T>;
    t[ACT_APPEND] = append_star;
    t[ACT_AT] = stack_form<ACT_AT>;
    t[ACT_BACK] = stack_form<ACT_BACK>;
    t[ACT_CHANGE] = change_star;
    t[ACT_CLEAR] = clear_star;
    t[ACT_COPY] = copy_star;
    t[ACT_FIND] = find_star;
    t[ACT_HEAD] = stack_form<ACT_HEAD>;
    t[ACT_HEAD_Q] = stack_form<ACT_HEAD_Q>;
    t[ACT_INDEX_Q] = stack_form<ACT_INDEX_Q>;
    t[ACT_INSERT] = insert_star;
    t[ACT_LENGTH_Q] = length_q_star;
    t[ACT_MOVE] = move_star;
    t[ACT_NEXT] = stack_form<ACT_NEXT>;
    t[ACT_PICK] = pick_star;
    t[ACT_POKE] = poke_star;
    t[ACT_PUT] = put_star;
    t[ACT_REMOVE] = remove_star;
    t[ACT_REVERSE] = reverse_star;
    t[ACT_SELECT] = select_star;
    t[ACT_SORT] = sort_star;
    t[ACT_SKIP] = stack_form<ACT_SKIP>;
    t[ACT_SWAP] = swap_star;
    t[ACT_TAIL] = stack_form<ACT_TAIL>;
    t[ACT_TAIL_Q] = stack_form<ACT_TAIL_Q>;
    t[ACT_TAKE] = take_star;
    t[ACT_TRIM] = trim_star;
    t[ACT_CREATE] = create_star;
    t[ACT_CLOSE] = close_star;
    t[ACT_DELETE] = delete_star;
    t[ACT_MODIFY] = modify_star;
    t[ACT_OPEN] = open_star;
    t[ACT_OPEN_Q] = open_q_star;
    t[ACT_QUERY] = query_star;
    t[ACT_READ] = read_star;
    t[ACT_RENAME] = rename_star;
    t[ACT_UPDATE] = update_star;
    t[ACT_WRITE] = write_star;
    return t;
}();

} // namespace

void actions_register_all(int count, const ActionDispatcher* list) {
    if (count > ACTION_SLOT_COUNT) count = ACTION_SLOT_COUNT;
    for (int s = 1; s <= count; s++) action_dispatcher_table[s] = list[s - 1];
}

void actions_init() {
    action_dispatcher_table[0] = nullptr;
    actions_register_all(ACTION_SLOT_COUNT, DISPATCHERS.data() + 1);
}

} // namespace kem
