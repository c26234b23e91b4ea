#include "runtime/interpreter/dispatch.h"
#include <climits>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"

namespace kem {

ActionDispatcher action_dispatcher_table[ACTION_SLOT_COUNT + 1];

namespace {

// Refinements of each action in spec order. The enums beside them are the
// positions the dispatchers read; the spec blocks must list the same words in
// the same order.
constexpr std::string_view RANDOM_REFS[] = {"seed", "secure", "only"};
enum { RANDOM_SEED, RANDOM_SECURE, RANDOM_ONLY };
constexpr std::string_view FORM_REFS[] = {"part"};
enum { FORM_PART };
constexpr std::string_view MOLD_REFS[] = {"only", "all", "flat", "part"};
enum { MOLD_ONLY, MOLD_ALL, MOLD_FLAT, MOLD_PART };
constexpr std::string_view ROUND_REFS[] = {"to", "even", "down", "half-down", "floor", "ceiling", "half-ceiling"};
enum { ROUND_TO, ROUND_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR, ROUND_CEILING, ROUND_HALF_CEILING };
constexpr std::string_view INSERT_REFS[] = {"part", "only", "dup"};  // append, insert, change
enum { INSERT_PART, INSERT_ONLY, INSERT_DUP };
constexpr std::string_view COPY_REFS[] = {"part", "deep", "types"};
enum { COPY_PART, COPY_DEEP, COPY_TYPES };
constexpr std::string_view FIND_REFS[] = {"part", "only", "case", "same", "any", "with",
                                          "skip", "last", "reverse", "tail", "match"};
enum { FIND_PART, FIND_ONLY, FIND_CASE, FIND_SAME, FIND_ANY, FIND_WITH,
       FIND_SKIP, FIND_LAST, FIND_REVERSE, FIND_TAIL, FIND_MATCH };
// select's refinements are find's first nine.
constexpr std::span<const std::string_view> SELECT_REFS{FIND_REFS, 9};
constexpr std::string_view MOVE_REFS[] = {"part"};
constexpr std::string_view CASE_REFS[] = {"case"};  // put, modify
constexpr std::string_view REMOVE_REFS[] = {"part", "key"};
enum { REMOVE_PART, REMOVE_KEY };
constexpr std::string_view REVERSE_REFS[] = {"part", "skip"};
enum { REVERSE_PART, REVERSE_SKIP };
constexpr std::string_view SORT_REFS[] = {"case", "skip", "compare", "part", "all", "reverse", "stable"};
enum { SORT_CASE, SORT_SKIP, SORT_COMPARE, SORT_PART, SORT_ALL, SORT_REVERSE, SORT_STABLE };
constexpr std::string_view TAKE_REFS[] = {"part", "deep", "last"};
enum { TAKE_PART, TAKE_DEEP, TAKE_LAST };
constexpr std::string_view TRIM_REFS[] = {"head", "tail", "auto", "lines", "all", "with"};
enum { TRIM_HEAD, TRIM_TAIL, TRIM_AUTO, TRIM_LINES, TRIM_ALL, TRIM_WITH };
constexpr std::string_view OPEN_REFS[] = {"new", "read", "write", "seek", "allow"};
enum { OPEN_NEW, OPEN_READ, OPEN_WRITE, OPEN_SEEK, OPEN_ALLOW };
constexpr std::string_view READ_REFS[] = {"part", "seek", "binary", "lines", "info", "as"};
enum { READ_PART, READ_SEEK, READ_BINARY, READ_LINES, READ_INFO, READ_AS };
constexpr std::string_view WRITE_REFS[] = {"binary", "lines", "info", "append", "part", "seek", "allow", "as"};
enum { WRITE_BINARY, WRITE_LINES, WRITE_INFO, WRITE_APPEND, WRITE_PART, WRITE_SEEK, WRITE_ALLOW, WRITE_AS };

// Position of an item among the words and refinements of a spec (from 0), for
// errors that name a spec item: the /part of append, insert and change
// ("series value /part"), the kind of copy ("value /part length /deep /types kind").
constexpr int INSERT_PART_ITEM = 2;
constexpr int COPY_KIND_ITEM = 5;

inline Cell* arg(int n) { return stack::arguments + n; }
// No refinement list at all means every refinement is absent.
inline bool flag(const int32_t* r, int i) { return r && r[i] != -1; }
// An index at or below the argument base names no argument cell.
inline Cell* ref_cell(const int32_t* r, int i) { return r && r[i] > 0 ? stack::arguments + r[i] : nullptr; }
inline void finish(const Cell* result) { stack::set_last(result); }

// Values whose position indexes a buffer of their own: the ones /part may
// measure, and the ones whose position is clamped before an insert or change.
bool owns_buffer(uint8_t t) { return any_series_type(t) || t == TYPE_MAP; }

// Index of the tail: pixels of an image (size word: height << 16 | width),
// units of the buffer for the others.
uint32_t tail_index(const Cell* s) {
    if (type_of(s) == TYPE_IMAGE) return (s->data3 >> 16) * (s->data3 & 0xFFFF);
    SeriesBuffer* b = node_buffer(series_node(s));
    uint32_t unit = b->unit() ? b->unit() : 1;
    return b->used() / unit;
}

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
void random_star(const int32_t* r) {
    finish(random_direct(arg(0), flag(r, RANDOM_SEED), flag(r, RANDOM_SECURE), flag(r, RANDOM_ONLY)));
}

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
    Cell* limit_cell = ref_cell(r, FORM_PART);
    int32_t limit = part_limit(limit_cell);
    if (empty_by_limit(limit_cell, limit)) return;
    Cell* buffer = string_make_at(stack::push_slot(), 16);
    form_direct(arg(0), buffer, limit_cell, limit);
    if (limit_cell) string_truncate(series_node(buffer), static_cast<uint32_t>(limit));
    finish(buffer);
}

void mold_star(const int32_t* r) {
    Cell* limit_cell = ref_cell(r, MOLD_PART);
    int32_t limit = part_limit(limit_cell);
    if (empty_by_limit(limit_cell, limit)) return;
    Cell* buffer = string_make_at(stack::push_slot(), 16);
    mold_direct(arg(0), buffer, flag(r, MOLD_ONLY), flag(r, MOLD_ALL), flag(r, MOLD_FLAT), limit_cell, limit, 0);
    if (limit_cell) string_truncate(series_node(buffer), static_cast<uint32_t>(limit));
    finish(buffer);
}

// --- path access: parent element [value]; the one integer tells whether the
// third cell is a value to set (its stack index, so above 0).
void eval_path_star(const int32_t* r) {
    Cell* value = r && r[0] > 0 ? arg(2) : nullptr;
    finish(eval_path_direct(arg(0), arg(1), value, nullptr, nullptr, nullptr, -1, false, false, true, false));
}

// --- math with twins
void negate_star(const int32_t*) { finish(negate_direct(arg(0))); }
void complement_star(const int32_t*) { finish(complement_direct(arg(0))); }
void round_star(const int32_t* r) {
    finish(round_direct(arg(0), ref_cell(r, ROUND_TO), flag(r, ROUND_EVEN), flag(r, ROUND_DOWN),
                        flag(r, ROUND_HALF_DOWN), flag(r, ROUND_FLOOR), flag(r, ROUND_CEILING),
                        flag(r, ROUND_HALF_CEILING)));
}
void even_q_star(const int32_t*) { make_logic(stack::arguments, even_q_direct(arg(0))); }
void odd_q_star(const int32_t*) { make_logic(stack::arguments, odd_q_direct(arg(0))); }

// --- append, insert, change
// /dup: below 1 adds nothing; false then, and the series stays the result.
bool dup_count(const int32_t* r, int32_t* dup) {
    Cell* c = ref_cell(r, INSERT_DUP);
    *dup = c ? to_int_checked(c) : 1;
    return *dup >= 1;
}

// /part of append and insert measures the value to add. False when nothing
// is to be added.
bool insert_part(const int32_t* r, Cell* value, int32_t* count) {
    *count = -1;
    Cell* part = ref_cell(r, INSERT_PART);
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

void insert_like(const int32_t* r, bool append) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    if (!append && owns_buffer(type_of(series))) clamp_to_tail(series);
    int32_t count, dup;
    if (!insert_part(r, value, &count) || !dup_count(r, &dup)) return;
    bool only = flag(r, INSERT_ONLY);
    finish(append ? append_direct(series, value, count, only, dup) : insert_direct(series, value, count, only, dup));
}

void append_star(const int32_t* r) { insert_like(r, true); }
void insert_star(const int32_t* r) { insert_like(r, false); }

// /part of change measures the series being changed.
void change_star(const int32_t* r) {
    Cell* series = arg(0);
    uint8_t t = type_of(series);
    bool fixed = t == TYPE_PORT || t == TYPE_IMAGE;
    if (!fixed && owns_buffer(t)) clamp_to_tail(series);
    int32_t count = -1;
    if (Cell* range = ref_cell(r, INSERT_PART)) {
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
    if (!dup_count(r, &dup)) return;
    finish(change_direct(series, arg(1), count, flag(r, INSERT_ONLY), dup));
}

// --- series actions with twins
void clear_star(const int32_t*) { finish(clear_direct(arg(0))); }

void copy_star(const int32_t* r) {
    Cell* kind = ref_cell(r, COPY_TYPES);
    if (kind && type_of(kind) != TYPE_DATATYPE && type_of(kind) != TYPE_TYPESET) fire_expect_arg(kind, COPY_KIND_ITEM);
    Cell* result = stack::push_slot();
    make_unset(result);
    finish(copy_direct(arg(0), result, ref_cell(r, COPY_PART), flag(r, COPY_DEEP), kind));
}

void find_star(const int32_t* r) {
    finish(find_direct(arg(0), arg(1), ref_cell(r, FIND_PART), flag(r, FIND_ONLY), flag(r, FIND_CASE),
                       flag(r, FIND_SAME), flag(r, FIND_ANY), ref_cell(r, FIND_WITH), ref_cell(r, FIND_SKIP),
                       flag(r, FIND_LAST), flag(r, FIND_REVERSE), flag(r, FIND_TAIL), flag(r, FIND_MATCH)));
}

void select_star(const int32_t* r) {
    finish(select_direct(arg(0), arg(1), ref_cell(r, FIND_PART), flag(r, FIND_ONLY), flag(r, FIND_CASE),
                         flag(r, FIND_SAME), flag(r, FIND_ANY), ref_cell(r, FIND_WITH), ref_cell(r, FIND_SKIP),
                         flag(r, FIND_LAST), flag(r, FIND_REVERSE)));
}

void length_q_star(const int32_t*) {
    int32_t n = length_q_direct(arg(0));
    if (n == -1)
        make_none(stack::arguments);
    else
        make_integer(stack::arguments, n);
}

void move_star(const int32_t* r) { finish(move_direct(arg(0), arg(1), ref_cell(r, 0))); }
void pick_star(const int32_t*) { finish(pick_direct(arg(0), pick_index(), arg(1))); }
void poke_star(const int32_t*) { finish(poke_direct(arg(0), pick_index(), arg(2), arg(1))); }
void put_star(const int32_t* r) { finish(put_direct(arg(0), arg(1), arg(2), flag(r, 0))); }
void remove_star(const int32_t* r) {
    finish(remove_direct(arg(0), ref_cell(r, REMOVE_PART), ref_cell(r, REMOVE_KEY)));
}
void reverse_star(const int32_t* r) {
    finish(reverse_direct(arg(0), ref_cell(r, REVERSE_PART), ref_cell(r, REVERSE_SKIP)));
}
void sort_star(const int32_t* r) {
    finish(sort_direct(arg(0), flag(r, SORT_CASE), ref_cell(r, SORT_SKIP), ref_cell(r, SORT_COMPARE),
                       ref_cell(r, SORT_PART), flag(r, SORT_ALL), flag(r, SORT_REVERSE), flag(r, SORT_STABLE)));
}
void swap_star(const int32_t*) { finish(swap_direct(arg(0), arg(1))); }
void take_star(const int32_t* r) {
    finish(take_direct(arg(0), ref_cell(r, TAKE_PART), flag(r, TAKE_DEEP), flag(r, TAKE_LAST)));
}
void trim_star(const int32_t* r) {
    finish(trim_direct(arg(0), flag(r, TRIM_HEAD), flag(r, TRIM_TAIL), flag(r, TRIM_AUTO), flag(r, TRIM_LINES),
                       flag(r, TRIM_ALL), ref_cell(r, TRIM_WITH)));
}

// --- port and file actions
void create_star(const int32_t*) { finish(create_direct(arg(0))); }
void close_star(const int32_t*) { finish(close_direct(arg(0))); }
void delete_star(const int32_t*) { finish(delete_direct(arg(0))); }
void modify_star(const int32_t* r) { finish(modify_direct(arg(0), arg(1), arg(2), flag(r, 0))); }
void open_star(const int32_t* r) {
    finish(open_direct(arg(0), flag(r, OPEN_NEW), flag(r, OPEN_READ), flag(r, OPEN_WRITE), flag(r, OPEN_SEEK),
                       ref_cell(r, OPEN_ALLOW)));
}
void open_q_star(const int32_t*) { finish(open_q_direct(arg(0))); }
void query_star(const int32_t*) { finish(query_direct(arg(0))); }
void read_star(const int32_t* r) {
    finish(read_direct(arg(0), ref_cell(r, READ_PART), ref_cell(r, READ_SEEK), flag(r, READ_BINARY),
                       flag(r, READ_LINES), flag(r, READ_INFO), ref_cell(r, READ_AS)));
}
void rename_star(const int32_t*) { finish(rename_direct(arg(0), arg(1))); }
void update_star(const int32_t*) { finish(update_direct(arg(0))); }
void write_star(const int32_t* r) {
    finish(write_direct(arg(0), arg(1), flag(r, WRITE_BINARY), flag(r, WRITE_LINES), flag(r, WRITE_INFO),
                        flag(r, WRITE_APPEND), ref_cell(r, WRITE_PART), ref_cell(r, WRITE_SEEK),
                        ref_cell(r, WRITE_ALLOW), ref_cell(r, WRITE_AS)));
}

// Slot order; slot 8 is never filled and slot 9 is compare_star.
constexpr ActionDispatcher DISPATCHERS[ACTION_SLOT_COUNT] = {
    make_star, random_star, reflect_star, to_star, form_star, mold_star, eval_path_star,
    nullptr, nullptr,
    stack_form<ACT_ABSOLUTE>, stack_form<ACT_ADD>, stack_form<ACT_DIVIDE>, stack_form<ACT_MULTIPLY>,
    negate_star, stack_form<ACT_POWER>, stack_form<ACT_REMAINDER>, round_star, stack_form<ACT_SUBTRACT>,
    even_q_star, odd_q_star, stack_form<ACT_AND_T>, complement_star, stack_form<ACT_OR_T>, stack_form<ACT_XOR_T>,
    append_star, stack_form<ACT_AT>, stack_form<ACT_BACK>, change_star, clear_star, copy_star, find_star,
    stack_form<ACT_HEAD>, stack_form<ACT_HEAD_Q>, stack_form<ACT_INDEX_Q>, insert_star, length_q_star, move_star,
    stack_form<ACT_NEXT>, pick_star, poke_star, put_star, remove_star, reverse_star, select_star, sort_star,
    stack_form<ACT_SKIP>, swap_star, stack_form<ACT_TAIL>, stack_form<ACT_TAIL_Q>, take_star, trim_star,
    create_star, close_star, delete_star, modify_star, open_star, open_q_star, query_star, read_star, rename_star,
    update_star, write_star,
};

} // namespace

void actions_register_all(int count, const ActionDispatcher* list) {
    if (count > ACTION_SLOT_COUNT) count = ACTION_SLOT_COUNT;
    for (int s = 1; s <= count; s++) action_dispatcher_table[s] = list[s - 1];
}

void actions_init() {
    action_dispatcher_table[0] = nullptr;
    actions_register_all(ACTION_SLOT_COUNT, DISPATCHERS);
}

std::span<const std::string_view> action_refinement_names(int slot) {
    switch (slot) {
    case ACT_RANDOM: return RANDOM_REFS;
    case ACT_FORM: return FORM_REFS;
    case ACT_MOLD: return MOLD_REFS;
    case ACT_ROUND: return ROUND_REFS;
    case ACT_APPEND: case ACT_INSERT: case ACT_CHANGE: return INSERT_REFS;
    case ACT_COPY: return COPY_REFS;
    case ACT_FIND: return FIND_REFS;
    case ACT_SELECT: return SELECT_REFS;
    case ACT_MOVE: return MOVE_REFS;
    case ACT_PUT: case ACT_MODIFY: return CASE_REFS;
    case ACT_REMOVE: return REMOVE_REFS;
    case ACT_REVERSE: return REVERSE_REFS;
    case ACT_SORT: return SORT_REFS;
    case ACT_TAKE: return TAKE_REFS;
    case ACT_TRIM: return TRIM_REFS;
    case ACT_OPEN: return OPEN_REFS;
    case ACT_READ: return READ_REFS;
    case ACT_WRITE: return WRITE_REFS;
    default: return {};
    }
}

} // namespace kem
