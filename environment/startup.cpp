#include "environment/startup.h"
#include <string>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/handles.h"
#include "runtime/core/memory.h"
#include "runtime/core/roots.h"
#include "runtime/core/slots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/native_specs.h"
#include "runtime/interpreter/natives.h"
#include "runtime/io/call.h"
#include "runtime/io/natives_data.h"
#include "runtime/io/natives_files.h"
#include "runtime/kembin/kembin.h"
#include "runtime/lexer/lexer.h"
#include "runtime/parse/parse.h"
#include "runtime/platform/platform.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/output.h"
#include "runtime/services/random.h"
#include "runtime/services/unicode/case.h"

namespace kem {

namespace {
bool ready = false;

// The natives and actions as start-up made them, for what reads them back.
void keep_natives() {
    auto keep = [](std::string_view word) {
        const std::string name(word);
        native_keep(context_global_value_cell(symbol_make(name.c_str())));
    };
    for (int i = 1; i <= NATIVE_COUNT; i++) keep(native_word(i));
    for (int slot = 1; slot <= ACTION_SLOT_COUNT; slot++)
        if (!action_word(slot).empty()) keep(action_word(slot));
}
} // namespace

void init_runtime() {
    if (ready) return;
    startup_word_mode = true;
    output_hooks_init();
    platform::platform_init();
    console_probe();
    random_init();
    memory_init();
    collector::init_stats();
    handle_table_init();
    register_all_datatypes();
    actions_init();
    // The first frames, so early allocations do not each pay for one.
    if (!memory.first_node_frame) memory.current_node_frame = node_frame_make(NODES_PER_FRAME);
    if (!memory.first_series_frame) memory.current_series_frame = series_frame_make();
    root_block_init();
    stack::init();
    case_tables_init();
    // Text keys hash without regard to case through the full case tables; this
    // must hold before the first table of text keys is made.
    hash_key_hooks.upper_case = [](uint32_t c) { return uint32_t(change_case(int32_t(c), true)); };
    words_init();
    init_datatype_words();
    init_runtime_words();
    init_refinement_words();
    init_runtime_issue();
    cycle_init();
    natives_init();
    register_data_natives();
    register_file_natives();
    register_call_natives();
    stack::init();
    lexer_init();
    if (boot_block_size) kembin::load_boot(boot_block_data, boot_block_size);
    else natives_make_words();
    keep_natives();
    parse_init();
    interp::init();
    slots_init();
    collector::start();
    ready = true;
}

} // namespace kem
