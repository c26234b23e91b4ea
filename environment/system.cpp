// The system object: catalog/errors from the C++ catalog table, the state
// fields the error report reads and the error prototype.
//
// The object is written as Kem source and evaluated, so every category and
// template is an ordinary value that scripts can read and change.
#include "environment/system.h"
#include "environment/boot.h"
#include <string>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"

namespace kem {

namespace {

// Kem source of one template: strings and blocks are literals already; a bare
// word (user/message) must stay a word.
std::string template_source(const char* tmpl) {
    const std::string t = tmpl;
    if (!t.empty() && (t[0] == '"' || t[0] == '[')) return t;
    return "'" + t;
}

std::string catalog_source() {
    size_t count = 0;
    const ErrorInfo* catalog = error_catalog(&count);
    std::string out = "errors: make object! [\n";
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

} // namespace

std::string system_source() {
    return "system: make object! [\n"
           "catalog: make object! [\n" +
           catalog_source() +
           "]\n"
           "state: make object! [stack-trace: 1 source-files: make block! 4\n"
           // Routines filled in after this source runs.
           "  GC: make object! [active?: series-cycles: nodes-cycles: none]\n"
           // One bit per kind of callback that trace events may follow,
           // kept in bits as the flags change.
           "  callbacks: make object! [lexer?: parse?: sort?: change?: deep?: port?: false bits: 0\n"
           "    on-change*: func [word old new /local bit] [\n"
           "      if word = 'bits [if integer! <> type? new [bits: 0] exit]\n"
           "      if integer! <> type? bits [bits: 0]\n"
           "      bit: select [lexer? 1 parse? 2 sort? 4 change? 8 deep? 16 port? 32] word\n"
           "      if bit [bits: either new = true [bits or bit] [bits and complement bit]]\n"
           "    ]\n"
           "  ]\n"
           "]\n"
           // The console's first object; the console proper replaces it.
           "console: make object! [history: make block! 200 size: 80x50]\n"
           "standard: make object! [\n"
           "  error: make object! [code: type: id: arg1: arg2: arg3: near: where: stack: files: none]\n"
           "]\n"
           "]\n";
}

namespace {

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

// system/state/GC: a routine without arguments in each field.
void fill_collector_object() {
    auto field = [](const Cell& obj, const char* name) {
        const Cell word = word_load(name);
        return const_cast<Cell*>(object_rs_select(&obj, &word));
    };
    const Cell sys = *context_global_value_cell(symbol_make("system"));
    const Cell state = *field(sys, "state");
    const Cell gc = *field(state, "GC");
    const struct {
        const char* field;
        const char* spec;
        RoutineFn fn;
    } fields[] = {
        {"active?", R"KEM(["Whether the collector is on"])KEM", gc_active},
        {"series-cycles", R"KEM(["Collections run so far"])KEM", gc_series_cycles},
        {"nodes-cycles", R"KEM(["Collections that moved nodes"])KEM", gc_nodes_cycles},
    };
    for (const auto& f : fields) {
        const Cell routine = make_routine(f.spec, f.fn);
        *field(gc, f.field) = routine;
    }
}

} // namespace

void boot_system() {
    const Cell body = *boot_code(BOOT_SYSTEM);
    interp::eval_block(&body, false);
    stack::init();
    fill_collector_object();
}

} // namespace kem
