#include "environment/startup.h"
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/handles.h"
#include "runtime/core/memory.h"
#include "runtime/core/roots.h"
#include "runtime/core/slots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/io/natives_data.h"
#include "runtime/kembin/kembin.h"
#include "runtime/lexer/lexer.h"
#include "runtime/platform/platform.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/output.h"
#include "runtime/services/random.h"
#include "runtime/services/unicode/case.h"

namespace kem {

namespace {
bool ready = false;
} // namespace

bool runtime_ready() { return ready; }

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
    stack::init();
    lexer_init();
    if (boot_block_size) kembin::load_boot(boot_block_data, boot_block_size);
    else natives_make_words();
    interp::init();
    slots_init();
    collector::start();
    ready = true;
}

} // namespace kem
