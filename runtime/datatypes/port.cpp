// port!: making ports, handing each action to the port's actor object, and
// the composite read and write.
#include "runtime/datatypes/port.h"
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/evaluator.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

const Cell* field(const Cell* obj, const char* name) {
    const Cell word = word_load(name);
    return object_rs_select(obj, &word);
}

const Cell* system_field(const char* name) {
    const Cell* system = context_global_value_cell(symbol_make("system"));
    if (!system || !any_object_type(type_of(system))) fire(Err::internal_not_done);
    return field(system, name);
}

const Cell* standard(const char* name) {
    const Cell* s = system_field("standard");
    const Cell* proto = any_object_type(type_of(s)) ? field(s, name) : s;
    if (!any_object_type(type_of(proto))) fire(Err::internal_not_done);
    return proto;
}

Cell* port_field(const Cell* port, PortField f) { return context_value_slot(object_context(port), f); }

// Calls a Kem function whose frame is named by word with values as its
// leading parameters: each argument or refinement slot of its spec takes the
// next value in order (none for an argument, false for a refinement once the
// values run out), then its locals. Pushes the result.
Cell* call_with_values(const Cell& fn, const Cell& word, const std::vector<Cell>& values) {
    Cell* saved_top = stack::top;
    stack::push_function_frame(&word, function_context(&fn));
    const Cell list = callable_arg_list(&fn);
    const uint32_t count = node_buffer(list.data2)->used() / sizeof(Cell);
    size_t taken = 0;
    uint32_t locals = 0;
    for (uint32_t i = 0; i < count; i++) {
        const Cell entry = node_buffer(list.data2)->cell_head()[i];
        switch (type_of(&entry)) {
        case TYPE_TYPESET:
            if (arg_kind(&entry) == ARG_RETURN) break;
            stack::push(taken < values.size() ? &values[taken] : &none_value);
            taken++;
            break;
        case TYPE_REFINEMENT:
            stack::push(taken < values.size() ? &values[taken] : &false_value);
            taken++;
            break;
        case TYPE_INTEGER: locals = uint32_t(cell_int(&entry)); break;
        default: break;
        }
    }
    if (locals) function_init_locals(locals);
    interp::call_function(&fn, interp::CALLBACK_PORT);
    if (interp::pending()) throw PendingExit{};
    stack::pop_function_frame_keep_result();
    const Cell result = *saved_top;
    stack::top = saved_top;
    return stack::push(&result);
}

// The values an action hands its actor after the port.
struct ActorArgs {
    std::vector<Cell> values;
    ActorArgs& value(const Cell* v) {
        values.push_back(v ? *v : none_value);
        return *this;
    }
    ActorArgs& flag(bool on) {
        values.push_back(on ? true_value : false_value);
        return *this;
    }
    // A refinement with one argument: its flag, then the argument or none.
    ActorArgs& ref(const Cell* arg) { return flag(arg != nullptr).value(arg); }
    ActorArgs& number(int32_t n) {
        values.push_back(Cell{TYPE_INTEGER, 0, uint32_t(n), 0});
        return *this;
    }
};

Cell* call_actor(Cell* port_in, const char* action, ActorArgs args) {
    const Cell port = *port_in;
    const Cell actor = *port_field(&port, PORT_ACTOR);
    if (type_of(&actor) != TYPE_OBJECT) fire(Err::access_invalid_port);
    const Cell word = word_load(action);
    const Cell fn = *object_rs_select(&actor, &word);
    if (type_of(&fn) != TYPE_FUNCTION) fire(Err::access_no_port_action);
    args.values.insert(args.values.begin(), port);
    return call_with_values(fn, word, args.values);
}

Cell* actor_of_scheme(const Cell* scheme_word, const Cell* spec) {
    const Cell* schemes = system_field("schemes");
    if (is_type(schemes, TYPE_BLOCK)) {
        const std::vector<Cell> items = block_cells_copy(schemes);
        for (size_t i = 0; i + 1 < items.size(); i++) {
            if (type_of(&items[i]) != TYPE_WORD || symbol_resolve(items[i].data2) != symbol_resolve(scheme_word->data2))
                continue;
            const Cell& scheme = items[i + 1];
            if (type_of(&scheme) != TYPE_OBJECT) break;
            const Cell actor = *field(&scheme, "actor");
            if (type_of(&actor) != TYPE_OBJECT && type_of(&actor) != TYPE_HANDLE) fire(Err::access_invalid_actor, *spec);
            return stack::push(&actor);
        }
    }
    fire(Err::access_unknown_scheme, *spec);
}

// --- the actions each handed to the actor ----------------------------------------------

Cell* stack_action(const char* action, int extra) {
    ActorArgs a;
    for (int i = 1; i <= extra; i++) a.value(stack::arguments + i);
    return call_actor(stack::arguments, action, a);
}

Cell* port_at() { return stack_action("at", 1); }
Cell* port_back() { return stack_action("back", 0); }
Cell* port_head() { return stack_action("head", 0); }
Cell* port_head_q() { return stack_action("head?", 0); }
Cell* port_index_q() { return stack_action("index?", 0); }
Cell* port_next() { return stack_action("next", 0); }
Cell* port_skip() { return stack_action("skip", 1); }
Cell* port_tail() { return stack_action("tail", 0); }
Cell* port_tail_q() { return stack_action("tail?", 0); }

ActorArgs insert_values(Cell* value, int32_t part, bool only, int32_t dup) {
    ActorArgs a;
    a.value(value).flag(part != -1).number(part).flag(only).flag(dup != 1).number(dup);
    return a;
}

Cell* port_append(Cell* port, Cell* value, int32_t part, bool only, int32_t dup, bool) {
    return call_actor(port, "append", insert_values(value, part, only, dup));
}
Cell* port_insert(Cell* port, Cell* value, int32_t part, bool only, int32_t dup, bool) {
    return call_actor(port, "insert", insert_values(value, part, only, dup));
}
Cell* port_change(Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
    return call_actor(port, "change", insert_values(value, part, only, dup));
}
Cell* port_clear(Cell* port) { return call_actor(port, "clear", {}); }
Cell* port_create(Cell* port) { return call_actor(port, "create", {}); }
Cell* port_close(Cell* port) { return call_actor(port, "close", {}); }
Cell* port_delete(Cell* port) { return call_actor(port, "delete", {}); }
Cell* port_query(Cell* port) { return call_actor(port, "query", {}); }
Cell* port_update(Cell* port) { return call_actor(port, "update", {}); }

Cell* port_copy(Cell* port, Cell*, const CopyArgs& r) {
    ActorArgs a;
    a.ref(r.part).flag(r.deep).ref(r.types);
    return call_actor(port, "copy", a);
}

Cell* port_find(Cell* port, Cell* value, const FindArgs& r) {
    ActorArgs a;
    a.value(value).ref(r.part).flag(r.only).flag(r.case_).flag(r.same).flag(r.any).ref(r.with).ref(r.skip);
    a.flag(r.last).flag(r.reverse).flag(r.tail).flag(r.match);
    return call_actor(port, "find", a);
}

Cell* port_select(Cell* port, Cell* value, const SelectArgs& r) {
    ActorArgs a;
    a.value(value).ref(r.part).flag(r.only).flag(r.case_).flag(r.same).flag(r.any).ref(r.with).ref(r.skip);
    a.flag(r.last).flag(r.reverse);
    return call_actor(port, "select", a);
}

// The count is the integer the actor answers; anything else counts as none.
int32_t port_length_q(Cell* port) {
    const Cell r = *call_actor(port, "length?", {});
    stack::pop(1);
    return is_type(&r, TYPE_INTEGER) ? cell_int(&r) : -1;
}

Cell* port_move(Cell* port, Cell* target, const MoveArgs& r) {
    ActorArgs a;
    a.value(target).ref(r.part);
    return call_actor(port, "move", a);
}

Cell* port_pick(Cell* port, int32_t, Cell* index) { return call_actor(port, "pick", ActorArgs{}.value(index)); }
Cell* port_poke(Cell* port, int32_t, Cell* data, Cell* index) {
    return call_actor(port, "poke", ActorArgs{}.value(index).value(data));
}

Cell* port_put(Cell* port, Cell* key, Cell* value, const PutArgs& r) {
    return call_actor(port, "put", ActorArgs{}.value(key).value(value).flag(r.case_));
}
Cell* port_modify(Cell* port, Cell* fld, Cell* value, const ModifyArgs& r) {
    return call_actor(port, "modify", ActorArgs{}.value(fld).value(value).flag(r.case_));
}
Cell* port_remove(Cell* port, const RemoveArgs& r) { return call_actor(port, "remove", ActorArgs{}.ref(r.part)); }
Cell* port_reverse(Cell* port, const ReverseArgs& r) { return call_actor(port, "reverse", ActorArgs{}.ref(r.part)); }
Cell* port_rename(Cell* port, Cell* to) { return call_actor(port, "rename", ActorArgs{}.value(to)); }
Cell* port_swap(Cell* port, Cell* other) { return call_actor(port, "swap", ActorArgs{}.value(other)); }

Cell* port_sort(Cell* port, const SortArgs& r) {
    ActorArgs a;
    a.flag(r.case_).ref(r.skip).ref(r.compare).ref(r.part).flag(r.all).flag(r.reverse).flag(r.stable);
    return call_actor(port, "sort", a);
}

Cell* port_take(Cell* port, const TakeArgs& r) {
    return call_actor(port, "take", ActorArgs{}.ref(r.part).flag(r.deep).flag(r.last));
}

Cell* port_trim(Cell* port, const TrimArgs& r) {
    ActorArgs a;
    a.flag(r.head).flag(r.tail).flag(r.auto_).flag(r.lines).flag(r.all).ref(r.with);
    return call_actor(port, "trim", a);
}

// The allow value goes without a flag of its own.
Cell* port_open(Cell* port, const OpenArgs& r) {
    return call_actor(port, "open", ActorArgs{}.flag(r.new_).flag(r.read).flag(r.write).flag(r.seek).value(r.allow));
}

int32_t port_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const NodeId out = series_node(buffer);
    if (mold_cycle(value, out, part, true)) return part;
    string_append_ascii(out, "make port! [");
    part = object_serialize(value, buffer, refs, part - 12, true, indent + 1, true);
    if (indent >= 1) part = mold_indent(out, uint32_t(indent), part);
    string_append_ascii(out, "]");
    return part - 1;
}

int32_t port_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return port_mold(value, buffer, MoldArgs{.limit = arg}, part, 0);
}

} // namespace

Cell* port_make(Cell*, Cell* spec_in, int32_t) {
    const Cell given = *spec_in;
    if (is_type(&given, TYPE_URL)) return port_from_url(&given, false, OpenArgs{});
    Cell* spec = stack::push(&given);
    if (type_of(spec) != TYPE_OBJECT) {
        if (!is_type(spec, TYPE_BLOCK)) fire(Err::access_no_scheme, given);
        Cell proto = *standard("url-parts");
        *spec = *make_direct(&proto, spec);
        stack::top = spec + 1;
    }
    const Cell* first = context_value_slot(object_context(spec), 0);
    if (object_count_words(spec) == 0 || type_of(first) != TYPE_WORD) fire(Err::access_no_scheme, given);
    const Cell scheme = *first;
    const Cell actor = *actor_of_scheme(&scheme, &given);
    stack::pop(1);

    Cell* port = stack::push_slot();
    make_unset(port);
    object_clone(standard("port"), port, false, nullptr, false);
    set_type(port, TYPE_PORT);
    *context_self_cell(object_context(port)) = *port;
    *port_field(port, PORT_SPEC) = *spec;
    *port_field(port, PORT_SCHEME) = scheme;
    *port_field(port, PORT_ACTOR) = actor;
    return port;
}

Cell* port_from_url(const Cell* url_in, bool open, const OpenArgs& refs) {
    const Cell url = *url_in;
    const Cell* parser = context_global_value_cell(symbol_make("url-parser"));
    const Cell fn = parser && any_object_type(type_of(parser)) ? *field(parser, "parse-url") : none_value;
    if (type_of(&fn) != TYPE_FUNCTION) fire(Err::script_invalid_arg, url);
    Cell* spec = call_with_values(fn, word_load("parse-url"), {url});
    if (type_of(spec) != TYPE_OBJECT) fire(Err::script_invalid_arg, url);
    Cell proto;
    make_none(&proto);
    Cell* port = port_make(&proto, spec, TYPE_PORT);
    *spec = *port;
    stack::top = spec + 1;
    if (open) {
        const Cell opened = *open_direct(spec, refs);
        (void)opened;
        stack::top = spec + 1;
    }
    return spec;
}

// The end of read and write of an open port: copy its data, close it, and
// leave the data in the port's slot as the result.
static Cell* copy_and_close(Cell* kept, decltype(CopyArgs::part) part) {
    Cell* result = stack::push_slot();
    make_unset(result);
    const Cell data = *copy_direct(kept, result, CopyArgs{.part = part});
    *result = data;
    close_direct(kept);
    *kept = data;
    stack::top = kept + 1;
    return kept;
}

Cell* port_read(Cell* port, const ReadArgs& r) {
    Cell* kept = stack::push(port);
    open_direct(kept, OpenArgs{.seek = r.seek != nullptr});
    return copy_and_close(kept, r.part);
}

Cell* port_write(Cell* port, Cell* data, const WriteArgs& r) {
    Cell* kept = stack::push(port);
    stack::push(data);
    open_direct(kept, OpenArgs{.write = true, .seek = r.seek != nullptr});
    const int32_t part = r.part && is_type(r.part, TYPE_INTEGER) ? cell_int(r.part) : -1;
    insert_direct(kept, kept + 1, part, false, 1);
    return copy_and_close(kept, r.part);
}

void register_port() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(port_make)
        .inherit(ACT_REFLECT)
        .set<ACT_FORM>(port_form)
        .set<ACT_MOLD>(port_mold)
        .set<ACT_EVAL_PATH>(object_eval_path)
        .inherit(ACT_COMPARE)
        .set<ACT_APPEND>(port_append)
        .set<ACT_AT>(port_at)
        .set<ACT_BACK>(port_back)
        .set<ACT_CHANGE>(port_change)
        .set<ACT_CLEAR>(port_clear)
        .set<ACT_COPY>(port_copy)
        .set<ACT_FIND>(port_find)
        .set<ACT_HEAD>(port_head)
        .set<ACT_HEAD_Q>(port_head_q)
        .set<ACT_INDEX_Q>(port_index_q)
        .set<ACT_INSERT>(port_insert)
        .set<ACT_LENGTH_Q>(port_length_q)
        .set<ACT_MOVE>(port_move)
        .set<ACT_NEXT>(port_next)
        .set<ACT_PICK>(port_pick)
        .set<ACT_POKE>(port_poke)
        .set<ACT_PUT>(port_put)
        .set<ACT_REMOVE>(port_remove)
        .set<ACT_REVERSE>(port_reverse)
        .set<ACT_SELECT>(port_select)
        .set<ACT_SORT>(port_sort)
        .set<ACT_SKIP>(port_skip)
        .set<ACT_SWAP>(port_swap)
        .set<ACT_TAIL>(port_tail)
        .set<ACT_TAIL_Q>(port_tail_q)
        .set<ACT_TAKE>(port_take)
        .set<ACT_TRIM>(port_trim)
        .set<ACT_CREATE>(port_create)
        .set<ACT_CLOSE>(port_close)
        .set<ACT_DELETE>(port_delete)
        .set<ACT_MODIFY>(port_modify)
        .set<ACT_OPEN>(port_open)
        .set<ACT_QUERY>(port_query)
        .set<ACT_READ>(port_read)
        .set<ACT_RENAME>(port_rename)
        .set<ACT_UPDATE>(port_update)
        .set<ACT_WRITE>(port_write);
    register_datatype(TYPE_PORT, TYPE_OBJECT, "port!", row);
    collector::set_mark_kind(TYPE_PORT, collector::MK_OBJECT);
}

} // namespace kem
