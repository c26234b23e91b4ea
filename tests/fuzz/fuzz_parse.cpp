// libFuzzer target: parse over a random input with a random rule block built
// from a small grammar of the dialect (every keyword, counts, sub-blocks,
// alternatives, positions, parens that change the input, and malformed forms
// too), as text, block or binary, with and without /case, /part and /trace.
// Whatever the rules, a run must end within its step budget, raise only
// script errors of the catalog (or the budget's stop, or no-memory from the
// limit on one series' size), and leave the parse
// stacks, the cycle stack and the data stack as they were.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include "runtime/core/cycle.h"
#include "runtime/core/roots.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/parse/engine.h"
#include "runtime/parse/parse.h"
#include "tests/fuzz/fuzz_start.h"

using namespace kem;

namespace {

// Reads the fuzzer's bytes as choices; 0 once they run out.
struct Choices {
    const uint8_t* at;
    const uint8_t* end;
    uint32_t next(uint32_t n) { return at < end ? *at++ % n : 0; }
    bool more() const { return at < end; }
};

const char* const text_items[] = {"a", "b", "ab", "A", " ", ",", "^/", "é"};
const char* const block_items[] = {"1", "2", "a", "b", "\"a\"", "[a]", "[1 [2]]", "(x)", "'a", "a:"};
const char* const byte_items[] = {"00", "01", "61", "62", "FF", "C3A9", "31", "20"};

// Literal rule values that fit the input family, or not.
const char* const literals[] = {
    "\"a\"", "#\"b\"", "\"ab\"", "\"\"", "<a>", "%a", "#{61}", "#{}", "1.0", "'a", "'b", "quote a",
    "quote [a]", "quote 1", "digit", "letters", "integer!", "word!", "block!", "any-word!", "string!",
    "none!", "'a/b",
};

// Keywords and forms; @ stands for a nested rule.
const char* const forms[] = {
    "skip", "end", "none", "fail", "break", "reject", "|", "opt @", "any @", "some @", "while @", "to @",
    "thru @", "to end", "thru end", "not @", "ahead @", "copy x @", "set x @", "into @", "remove @",
    "insert \"z\"", "insert only [z]", "insert p \"z\"", "change @ \"y\"", "change only @ [y]", "change p \"q\"",
    "remove p", "p:", ":p", "2 @", "0 @", "1 3 @", "3 1 @", "-1 @", "n @", "case t @", "case f @",
    "collect @", "collect set c @", "collect into o @", "collect after o @", "keep @", "keep pick @",
    "keep (1)", "keep pick ([1 2])", "keep copy x @", "if (true)", "if (none)", "(n: n + 1)",
    // Parens change the input but give a small value: one that gave the
    // input itself to insert would double it at each pass.
    "(clear input n)", "(append input \"q\" n)", "(insert input 1 n)", "r", "w", "a/b", "[@ | @]", "[@ @]", "[]",
    "copy", "keep", "collect into", "if", "case", "insert", "change @", "quote",
};

void rule(Choices& in, std::string& out, int depth) {
    const uint32_t n = sizeof forms / sizeof *forms;
    const uint32_t pick = in.next(n + sizeof literals / sizeof *literals);
    if (pick >= n || depth > 6) {
        out += literals[pick >= n ? pick - n : in.next(sizeof literals / sizeof *literals)];
        out += ' ';
        return;
    }
    for (const char* p = forms[pick]; *p; p++) {
        if (*p == '@') rule(in, out, depth + 1);
        else out += *p;
    }
    out += ' ';
}

std::string input_text(Choices& in, uint32_t family) {
    std::string s;
    const uint32_t count = in.next(12);
    if (family == 0) {
        s = "\"";
        for (uint32_t i = 0; i < count; i++) s += text_items[in.next(8)];
        return s + "\"";
    }
    if (family == 1) {
        s = "[";
        for (uint32_t i = 0; i < count; i++) s += std::string(block_items[in.next(10)]) + " ";
        return s + "]";
    }
    s = "#{";
    for (uint32_t i = 0; i < count; i++) s += byte_items[in.next(8)];
    return s + "}";
}

// Every input starts from the words as boot left them. A rule may set any
// word (`copy insert ...` sets `insert`, `copy copy ...` sets `copy`), and
// that value would outlive its input: a later `o: copy []` then gave the
// megabyte binary an earlier input had grown, every later input worked on it,
// and the run grew step by step with values no single input reproduced.
// The boot values are kept in a block of the root block; words that inputs
// add are unset again.
// Within one step of the budget a rule can still grow a series by doubling
// (a block that holds the string it is formed into, once per copy of that
// string): past this size a series raises no-memory, which a run may end
// with, as it may with the budget's stop.
constexpr uint64_t SERIES_LIMIT = uint64_t(8) << 20;

uint32_t boot_words = 0;
uint32_t boot_values_slot = 0;

void keep_boot_values() {
    boot_words = context_word_count(global_context);
    boot_values_slot = block_full_length(root_block());
    Cell* saved = block_make_in(root_block(), int32_t(boot_words));
    for (uint32_t i = 0; i < boot_words; i++) {
        Cell value = *context_value_slot(global_context, i);
        saved = block_rs_abs_at(root_block(), boot_values_slot);
        block_append_cell(saved, &value);
    }
}

void restore_boot_values() {
    const Cell* saved = block_rs_abs_at(root_block(), boot_values_slot);
    const Cell* values = block_rs_abs_at(saved, 0);
    const uint32_t words = context_word_count(global_context);
    for (uint32_t i = 0; i < words; i++) {
        Cell* slot = context_value_slot(global_context, i);
        if (i < boot_words) *slot = values[i];
        else make_unset(slot);
    }
    advance_cache_epoch();
}

void run(const std::string& source) {
    if (!boot_words) keep_boot_values();
    Cell code;
    lexer_scan(&code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true,
               true, nullptr, nullptr, nullptr, nullptr);
    RootedCell keep(&code);
    if (std::getenv("KEM_FUZZ_SHOW")) std::printf("%s\n", source.c_str()), std::fflush(stdout);
    stack::init();
    last_throw_code = 0;
    parse_step_budget = 4000;
    memory.series_limit = SERIES_LIMIT;
    try {
        interp::eval_block(&code, false);
    } catch (const KemError& e) {
        // KEM_FUZZ_SHOW prints each case and its error, to replay a crash.
        if (std::getenv("KEM_FUZZ_SHOW")) std::printf("  -> error %d\n", int(e.id));
        if (error_category(e.id) != ErrCategory::script && error_category(e.id) != ErrCategory::math &&
            e.id != Err::internal_no_memory) {
            // Said first: an error that only a long run's state brings about
            // may not come back when its input is replayed alone.
            std::fprintf(stderr, "unexpected error %d\n", int(e.id));
            __builtin_trap();
        }
    } catch (const ParseStepsSpent&) {
    }
    parse_step_budget = 0;
    memory.series_limit = 0;
    last_throw_code = 0;
    // Every way out of a run leaves its stacks as they were, the cycle stack
    // of the walks over values included.
    if (!parse::rule_stack.empty() || !parse::input_stack.empty() || cycle_depth() != 0) __builtin_trap();
    restore_boot_values();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_start_input();
    if (size > 4096) return 0;
    Choices in{data, data + size};
    const uint32_t family = in.next(3);
    const uint32_t refinements = in.next(8);
    std::string source = "x: c: none n: 0 t: true f: false digit: make bitset! \"0123456789\" "
                         "letters: make bitset! [#\"a\" - #\"z\"] o: copy [] w: 'a r: [skip] ";
    source += "input: " + input_text(in, family) + " p: skip input 1 ";
    if (family == 2) source += "o: copy #{} ";
    std::string rules = "[";
    while (in.more() && rules.size() < 600) rule(in, rules, 0);
    rules += "]";
    source += "r: " + rules + " ";
    std::string call = "parse";
    if (refinements & 1) call += "/case";
    if (refinements & 2) call += "/part";
    if (refinements & 4) call += "/trace";
    source += call + " input r";
    if (refinements & 2) source += refinements & 1 ? " 2" : " p";
    if (refinements & 4) source += " func [e m r i s] [n: n + 1 n < 200]";
    run(source);
    return 0;
}
