#include "runtime/datatypes/registry.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "runtime/collector/collector.h"
#include "runtime/datatypes/modules.h"

namespace kem {

ActionFn type_action_table[TYPE_TABLE_SIZE][ACTION_SLOT_COUNT + 1];
DatatypeName datatype_names[TYPE_TABLE_SIZE];
int highest_type_id = 0;

namespace {
bool all_registered = false;
} // namespace

void action_inherit_marker() {}

void register_datatype(uint8_t id, uint8_t parent, const char* name, const ActionRow& row, int count) {
    if (id > highest_type_id) highest_type_id = id;
    DatatypeName& entry = datatype_names[id];
    entry.name = name;
    entry.length = static_cast<uint32_t>(std::strlen(name)) - 1;
    if (count != ACTION_SLOT_COUNT) {
        // A runtime built wrong cannot start: said where it is seen, with a failing status.
        std::fflush(stdout);
        std::fprintf(stderr, "*** Datatype Error: invalid actions count for type: %d\n*** Found: %d\n*** Expected: %d\n",
                     id, count, ACTION_SLOT_COUNT);
        std::exit(1);
    }
    for (int s = 1; s <= ACTION_SLOT_COUNT; s++) {
        ActionFn e = row.entries[s - 1];
        if (e == ACTION_INHERIT) e = parent ? type_action_table[parent][s] : nullptr;
        type_action_table[id][s] = e;
    }
}

void register_all_datatypes() {
    if (all_registered) return;
    register_datatype_type();
    register_unset();
    register_none();
    register_logic();
    register_series();
    register_block();
    register_string();
    register_binary();
    register_integer();
    register_symbol();
    register_context();
    register_word();
    register_lit_word();
    register_set_word();
    register_get_word();
    register_refinement();
    register_char();
    register_native();
    register_action();
    register_op();
    register_path();
    register_lit_path();
    register_set_path();
    register_get_path();
    register_function();
    register_routine();
    register_paren();
    register_issue();
    register_url();
    register_file();
    register_object();
    register_bitset();
    register_triple();
    register_float();
    register_typeset();
    register_error();
    register_vector();
    register_map();
    register_hash();
    register_pair();
    register_percent();
    register_tuple();
    register_time();
    register_tag();
    register_email();
    register_handle();
    register_date();
    register_port();
    register_money();
    register_ref();
    register_point2D();
    register_point3D();
    register_image();
    register_event();
    all_registered = true;
}

} // namespace kem
