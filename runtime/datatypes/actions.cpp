#include "runtime/datatypes/actions.h"
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/platform/exit.h"

namespace kem {

namespace {

std::vector<const PortHandlerTable*> port_handler_tables;

constexpr uint32_t CONTEXT_VALUES_ON_STACK = 0x400000;
constexpr uint32_t PORT_ACTOR_FIELD = 2;

// The actor field of a port object, or nullptr when the object has no such
// field in a values series (a malformed or half-built port).
const Cell* port_actor(const Cell* port) {
    NodeId ctx = port->data1;
    if (ctx == 0) return nullptr;
    SeriesBuffer* cb = node_buffer(ctx);
    if (!cb || cb->used() < sizeof(Cell)) return nullptr;
    const Cell* header = cb->cell_head();
    if (type_of(header) != TYPE_CONTEXT || (header->header & CONTEXT_VALUES_ON_STACK)) return nullptr;
    NodeId values = header->data2;
    if (values == 0) return nullptr;
    SeriesBuffer* vb = node_buffer(values);
    if (!vb || vb->used() < (PORT_ACTOR_FIELD + 1) * sizeof(Cell)) return nullptr;
    return vb->cell_head() + PORT_ACTOR_FIELD;
}

} // namespace

Cell (*call_argument_word)(int index) = nullptr;

void fire_expect_arg_type(uint8_t type, int arg_index) {
    Cell word = stack::caller_word();
    Cell datatype;
    make_datatype(&datatype, type);
    Cell arg = call_argument_word ? call_argument_word(arg_index) : none_value;
    fire(Err::script_expect_arg, word, datatype, arg);
}

void fire_expect_arg(const Cell* value, int arg_index) { fire_expect_arg_type(type_of(value), arg_index); }

uint32_t register_port_handlers(const PortHandlerTable* table) {
    port_handler_tables.push_back(table);
    return static_cast<uint32_t>(port_handler_tables.size());
}

ActionFn get_action_ptr(uint8_t type, const Cell* value, int slot) {
    if (type == TYPE_PORT && slot >= PORT_HANDLER_FIRST_SLOT && value && type_of(value) == TYPE_PORT) {
        const Cell* actor = port_actor(value);
        if (actor && type_of(actor) == TYPE_HANDLE) {
            // A handle that names no registered table supports nothing.
            uint32_t id = actor->data2;
            ActionFn fn = nullptr;
            if (id >= 1 && id <= port_handler_tables.size() && port_handler_tables[id - 1])
                fn = (*port_handler_tables[id - 1])[slot - PORT_HANDLER_FIRST_SLOT];
            if (!fn) fire(Err::access_no_port_action);
            return fn;
        }
    }
    ActionFn fn = type < TYPE_TABLE_SIZE ? type_action_table[type][slot] : nullptr;
    if (!fn) fire_expect_arg_type(type, 0);
    return fn;
}

Cell* first_argument() { return stack::arguments; }

int32_t pick_index() {
    const Cell* c = stack::arguments + 1;
    switch (type_of(c)) {
    case TYPE_INTEGER:
    case TYPE_CHAR: return cell_int(c);
    case TYPE_LOGIC: return c->data1 == 1 ? 1 : 2;
    default: return 0;
    }
}

int32_t compare_values(Cell* value1, Cell* value2, CompareOp op) {
    auto fn = action_entry_as<ACT_COMPARE>(type_of(value1));
    if (!fn) return -2;
    return fn(value1, value2, op);
}

bool compare_outcome(Cell* value1, Cell* value2, CompareOp op) {
    int32_t r = compare_values(value1, value2, op);
    if (compare_asks_equal(op)) return r == 0;
    switch (op) {
    case CompareOp::not_equal: return r != 0;
    case CompareOp::lesser: return r < 0 && r != -2;
    case CompareOp::lesser_or_equal: return r <= 0 && r != -2;
    case CompareOp::greater: return r > 0;
    case CompareOp::greater_or_equal: return r >= 0;
    default: return r == 0;
    }
}

bool compare_star(Cell* value1, Cell* value2, CompareOp op) {
    int32_t r = compare_values(value1, value2, op);
    if (compare_asks_equal(op)) return r == 0;
    switch (op) {
    case CompareOp::not_equal: return r != 0;
    case CompareOp::lesser:
    case CompareOp::lesser_or_equal:
    case CompareOp::greater:
    case CompareOp::greater_or_equal: break;
    default: report_runtime_error(101, nullptr);
    }
    if (r == -2) fire(Err::script_invalid_compare, *value1, *value2);
    switch (op) {
    case CompareOp::lesser: return r < 0;
    case CompareOp::lesser_or_equal: return r <= 0;
    case CompareOp::greater: return r > 0;
    default: return r >= 0;
    }
}

int32_t form_direct(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return get_action_for_value<ACT_FORM>(value)(value, buffer, arg, part);
}

int32_t mold_direct(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return get_action_for_value<ACT_MOLD>(value)(value, buffer, refs, part, indent);
}

Cell* eval_path_direct(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    uint8_t type = type_of(parent);
    auto fn = action_entry_as<ACT_EVAL_PATH>(type);
    if (fn) return fn(parent, element, value, step);

    Cell datatype;
    make_datatype(&datatype, type);
    if (!step.path || type_of(step.path) == TYPE_NONE) fire(Err::script_bad_path_type2, *element, datatype);
    // The copy shows the path up to the element that failed.
    int64_t available = block_rs_length(step.path);
    int64_t keep = step.index < 0 ? 0 : int64_t(step.index) + 1;
    if (keep > available) keep = available < 0 ? 0 : available;
    Cell cut;
    block_clone_at(&cut, step.path, false, false);
    block_set_tail_at(&cut, static_cast<uint32_t>(keep));
    fire(Err::script_bad_path_type, *step.path, datatype, cut);
}

// --- direct twins

namespace {

// make and to name their target by a datatype! or by an example value.
uint8_t target_type(const Cell* type_or_proto) {
    if (type_of(type_or_proto) != TYPE_DATATYPE) return type_of(type_or_proto);
    uint32_t id = type_or_proto->data1;
    // A datatype! naming no type at all is refused as the argument it is.
    if (id == 0 || id >= TYPE_TABLE_SIZE) fire_expect_arg(type_or_proto, 0);
    return static_cast<uint8_t>(id);
}

template <int Slot> typename ActionSignature<Slot>::type by_target(const Cell* type_or_proto, uint8_t* id) {
    *id = target_type(type_or_proto);
    return reinterpret_cast<typename ActionSignature<Slot>::type>(get_action_ptr(*id, type_or_proto, Slot));
}

} // namespace

Cell* make_direct(Cell* type, Cell* spec) {
    uint8_t id;
    auto fn = by_target<ACT_MAKE>(type, &id);
    return fn(type, spec, id);
}

Cell* to_direct(Cell* type, Cell* spec) {
    uint8_t id;
    auto fn = by_target<ACT_TO>(type, &id);
    return fn(type, spec, id);
}

Cell* random_direct(Cell* value, const RandomArgs& refs) {
    return get_action_for_value<ACT_RANDOM>(value)(value, refs);
}

// A word cell carries its symbol id in payload word 2.
Cell* reflect_direct(Cell* value, Cell* field) {
    return get_action_for_value<ACT_REFLECT>(value)(value, static_cast<int32_t>(field->data2));
}

Cell* negate_direct(Cell* number) { return get_action_for_value<ACT_NEGATE>(number)(number); }

Cell* round_direct(Cell* n, const RoundArgs& refs) { return get_action_for_value<ACT_ROUND>(n)(n, refs); }

bool even_q_direct(Cell* number) { return get_action_for_value<ACT_EVEN_Q>(number)(number); }
bool odd_q_direct(Cell* number) { return get_action_for_value<ACT_ODD_Q>(number)(number); }
Cell* complement_direct(Cell* value) { return get_action_for_value<ACT_COMPLEMENT>(value)(value); }

Cell* append_direct(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return get_action_for_value<ACT_APPEND>(series)(series, value, part, only, dup, true);
}

Cell* insert_direct(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return get_action_for_value<ACT_INSERT>(series)(series, value, part, only, dup, false);
}

Cell* change_direct(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return get_action_for_value<ACT_CHANGE>(series)(series, value, part, only, dup);
}

Cell* clear_direct(Cell* series) { return get_action_for_value<ACT_CLEAR>(series)(series); }

Cell* copy_direct(Cell* value, Cell* result, const CopyArgs& refs) {
    return get_action_for_value<ACT_COPY>(value)(value, result, refs);
}

Cell* find_direct(Cell* series, Cell* value, const FindArgs& refs) {
    return get_action_for_value<ACT_FIND>(series)(series, value, refs);
}

int32_t length_q_direct(Cell* series) { return get_action_for_value<ACT_LENGTH_Q>(series)(series); }

Cell* move_direct(Cell* origin, Cell* target, const MoveArgs& refs) {
    return get_action_for_value<ACT_MOVE>(origin)(origin, target, refs);
}

Cell* pick_direct(Cell* series, int32_t index, Cell* boxed) {
    return get_action_for_value<ACT_PICK>(series)(series, index, boxed);
}

Cell* poke_direct(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    return get_action_for_value<ACT_POKE>(series)(series, index, data, boxed);
}

Cell* put_direct(Cell* series, Cell* key, Cell* value, const PutArgs& refs) {
    return get_action_for_value<ACT_PUT>(series)(series, key, value, refs);
}

Cell* remove_direct(Cell* series, const RemoveArgs& refs) {
    return get_action_for_value<ACT_REMOVE>(series)(series, refs);
}

Cell* reverse_direct(Cell* series, const ReverseArgs& refs) {
    return get_action_for_value<ACT_REVERSE>(series)(series, refs);
}

Cell* select_direct(Cell* series, Cell* value, const SelectArgs& refs) {
    return get_action_for_value<ACT_SELECT>(series)(series, value, refs);
}

Cell* sort_direct(Cell* series, const SortArgs& refs) { return get_action_for_value<ACT_SORT>(series)(series, refs); }

Cell* swap_direct(Cell* series1, Cell* series2) {
    return get_action_for_value<ACT_SWAP>(series1)(series1, series2);
}

Cell* take_direct(Cell* series, const TakeArgs& refs) { return get_action_for_value<ACT_TAKE>(series)(series, refs); }

Cell* trim_direct(Cell* series, const TrimArgs& refs) { return get_action_for_value<ACT_TRIM>(series)(series, refs); }

Cell* create_direct(Cell* port) { return get_action_for_value<ACT_CREATE>(port)(port); }
Cell* close_direct(Cell* port) { return get_action_for_value<ACT_CLOSE>(port)(port); }
Cell* delete_direct(Cell* file) { return get_action_for_value<ACT_DELETE>(file)(file); }

Cell* modify_direct(Cell* target, Cell* field, Cell* value, const ModifyArgs& refs) {
    return get_action_for_value<ACT_MODIFY>(target)(target, field, value, refs);
}

Cell* open_direct(Cell* port, const OpenArgs& refs) { return get_action_for_value<ACT_OPEN>(port)(port, refs); }

Cell* open_q_direct(Cell* port) { return get_action_for_value<ACT_OPEN_Q>(port)(port); }
Cell* query_direct(Cell* target) { return get_action_for_value<ACT_QUERY>(target)(target); }

Cell* read_direct(Cell* source, const ReadArgs& refs) { return get_action_for_value<ACT_READ>(source)(source, refs); }

Cell* rename_direct(Cell* from, Cell* to) { return get_action_for_value<ACT_RENAME>(from)(from, to); }
Cell* update_direct(Cell* port) { return get_action_for_value<ACT_UPDATE>(port)(port); }

Cell* write_direct(Cell* destination, Cell* data, const WriteArgs& refs) {
    return get_action_for_value<ACT_WRITE>(destination)(destination, data, refs);
}

} // namespace kem
