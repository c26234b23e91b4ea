// The system object: made by its Kem source, then completed here with what
// only the runtime can give: catalog/errors from the C++ catalog table,
// system/words over the global context and the routines kept in fields.
#include "environment/system.h"
#include "environment/boot.h"
#include "console/terminal.h"
#include <string>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/io/os.h"
#include "runtime/platform/os.h"

namespace kem {

namespace {

// Kem source of one template: strings and blocks are literals already; a bare
// word (user/message) must stay a word.
std::string template_source(const char* tmpl) {
    const std::string t = tmpl;
    if (!t.empty() && (t[0] == '"' || t[0] == '[')) return t;
    return "'" + t;
}

} // namespace

std::string catalog_source() {
    size_t count = 0;
    const ErrorInfo* catalog = error_catalog(&count);
    std::string out = "system/catalog/errors: make object! [\n";
    for (int c = 0; c < ERROR_CATEGORY_COUNT; c++) {
        const ErrorCategoryInfo& cat = error_category_info(ErrCategory(c));
        out += std::string("  ") + cat.name + ": make object! [code: " + std::to_string(cat.base) + " type: \"" +
               cat.type_text + "\"\n";
        for (size_t i = 0; i < count; i++) {
            if (int(catalog[i].category) != c) continue;
            out += std::string("    ") + catalog[i].name + ": " + template_source(catalog[i].tmpl) + "\n";
        }
        out += "  ]\n";
    }
    return out + "]\n";
}

namespace {

// options/float/on-change*: the float formatter's switches follow the fields.
Cell* float_switches(Cell* args) {
    const Cell word = args[0];
    const bool on = is_truthy(args + 1);
    const std::string_view name = symbol_name(symbol_resolve(word.data2));
    if (name == "pretty?") float_pretty_print = on;
    else if (name == "full?") float_full_support = on;
    make_unset(args);
    return args;
}

// Runs the object's source (from the boot block) with the words its handlers
// call that no script should reach (float-switches) bound to a context of
// their own.
void run_system_source() {
    const NodeId hidden = context_make(1, false, false, 0, CONTEXT_OBJECT);
    Cell* keep = stack::push_slot();
    *keep = Cell{TYPE_OBJECT, hidden, 0, 0};  // rooted while the source runs
    const Cell name = word_load("float-switches");
    const Cell routine = make_routine(R"KEM([word [word!] new [any-type!]])KEM", float_switches);
    context_add_with_value(hidden, &name, &routine);
    Cell body = *boot_code(BOOT_SYSTEM);
    context_bind_block(&body, hidden, false);
    interp::eval_block(&body, false);
    stack::init();
}

Cell* gc_active(Cell* result) {
    make_logic(result, collector::active());
    return result;
}
Cell* gc_series_cycles(Cell* result) {
    make_integer(result, int32_t(collector::stats.cycles & 0x7FFFFFFF));
    return result;
}
Cell* gc_nodes_cycles(Cell* result) {
    make_integer(result, int32_t(collector::stats.nodes_cycles & 0x7FFFFFFF));
    return result;
}

// Called from the library's own code it stands for compiled code; the
// answer is true as soon as any call on the way was made by the interpreter.
Cell* interpreted_q(Cell* result) {
    make_logic(result, !interp::running_system_code() || stack::eval_q(stack::frames_top - 1, false));
    return result;
}

Cell* field(const Cell& obj, const char* name) {
    const Cell word = word_load(name);
    return const_cast<Cell*>(object_rs_select(&obj, &word));
}

// system/words: an object over the global context, of no class and with no
// handlers, also kept as the global context's own self value.
void make_system_words(const Cell& sys) {
    const Cell words = *object_push(global_context, 0, 0xFFFFFFFF);
    *field(sys, "words") = words;
    stack::init();
}

void fill_routine_fields(const Cell& sys) {
    const Cell state = *field(sys, "state");
    const Cell gc = *field(state, "GC");
    const struct {
        const Cell* object;
        const char* field;
        const char* spec;
        RoutineFn fn;
    } fields[] = {
        {&state, "interpreted?", R"KEM(["Return TRUE if called from the interpreter"])KEM", interpreted_q},
        {&gc, "active?", R"KEM(["Whether the collector is on" return: [logic!]])KEM", gc_active},
        {&gc, "series-cycles", R"KEM(["Collections run so far" return: [integer!]])KEM", gc_series_cycles},
        {&gc, "nodes-cycles", R"KEM(["Collections that moved nodes" return: [integer!]])KEM", gc_nodes_cycles},
    };
    for (const auto& f : fields) {
        const Cell routine = make_routine(f.spec, f.fn);
        *field(*f.object, f.field) = routine;
    }
}

// The whole command line, before start-up splits it: only for a process that
// recorded its arguments (not for tools and tests that boot the runtime).
void record_command_line(const Cell& sys) {
    if (platform::command_line().empty()) return;
    const Cell line = *os_command_line();
    *field(*field(sys, "script"), "args") = line;
    stack::init();
}

} // namespace

void boot_console_routines() {
    const Cell sys = *context_global_value_cell(symbol_make("system"));
    const Cell console = *field(sys, "console");
    if (!is_type(&console, TYPE_OBJECT)) return;
    const RoutineEntry init = terminal::console_init_routine();
    const Cell routine = make_routine(init.spec, init.fn);
    if (Cell* slot = field(console, init.name)) *slot = routine;
}

void boot_system() {
    run_system_source();
    const Cell sys = *context_global_value_cell(symbol_make("system"));
    make_system_words(sys);
    fill_routine_fields(sys);
    record_command_line(sys);
}

} // namespace kem
