// The parse stacks, their frames, nesting, and the engine's calls into Kem
// code: parens and the trace callback.
#include <algorithm>
#include <cstdlib>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/trace.h"
#include "runtime/parse/engine.h"
#include "runtime/parse/parse.h"

namespace kem::parse {

CellStack rule_stack;
CellStack input_stack;

void CellStack::reserve(size_t n) {
    if (n <= capacity_) return;
    Cell* cells = static_cast<Cell*>(std::realloc(cells_, n * sizeof(Cell)));
    if (!cells) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
    cells_ = cells;
    capacity_ = n;
}

namespace {

// Where the innermost run's content begins (the heads the nesting marker saves).
uint32_t rule_head = 0;
uint32_t input_head = 0;

std::vector<uint8_t> keyword_table;  // by canonical symbol id
Cell event_words[7];                 // push pop fetch match iterate paren end

void mark_stacks() {
    collector::mark_values(rule_stack.data(), rule_stack.data() + rule_stack.size());
    collector::mark_values(input_stack.data(), input_stack.data() + input_stack.size());
}

inline Cell triple(int32_t a, int32_t b, int32_t c) {
    return Cell{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}

} // namespace

std::vector<uint8_t> keyword_cache;

Keyword keyword_of_symbol(uint32_t symbol) {
    const uint32_t s = symbol_resolve(symbol);
    const Keyword kw = s < keyword_table.size() ? Keyword(keyword_table[s]) : KW_NOT_KEYWORD;
    // A spelling never changes its canonical symbol: its answer can be kept.
    if (symbol >= keyword_cache.size()) keyword_cache.resize(std::max<size_t>(symbol + 1, symbol_count() + 64), KW_UNKNOWN);
    keyword_cache[symbol] = kw;
    return kw;
}

// --- the engine's life ------------------------------------------------------------

Engine::Engine(const Cell* input, const Cell* rules, CompareOp mode, int64_t limit, const Cell* trace)
    : r_{*input, *rules, *rules, none_value, none_value, none_value, none_value, none_value},
      keep_(reinterpret_cast<Cell*>(&r_), sizeof(Regs) / sizeof(Cell)),
      mode_(mode),
      limit_(limit),
      tracing_(trace != nullptr),
      family_(family_of(type_of(input))) {
    if (trace) r_.trace = *trace;
    // Collect blocks live on the data stack above this cell.
    anchor_ = stack::push_slot();
    make_unset(anchor_);
    saved_rules_ = rule_stack.size();
    saved_inputs_ = input_stack.size();
    saved_heads_[0] = rule_head;
    saved_heads_[1] = input_head;
    // A run inside another one starts above its content, after a marker.
    if (!rule_stack.empty()) {
        check_limit(1);
        rule_stack.push_back(triple(0, int32_t(rule_head), int32_t(input_head)));
    }
    rule_base_ = rule_stack.size();
    input_base_ = input_stack.size();
    rule_head = uint32_t(rule_base_);
    input_head = uint32_t(input_base_);
    input_stack.push_back(*input);
    set_rules(*rules);
    set_input(*input);
    cursor_ = head() - 1;
}

Engine::~Engine() {
    rule_stack.cut(saved_rules_);
    input_stack.cut(saved_inputs_);
    rule_head = saved_heads_[0];
    input_head = saved_heads_[1];
}

// --- frames -------------------------------------------------------------------------

void Engine::stack_full() { fire(Err::script_parse_stack); }

void Engine::drop_rule() {
    fire_event(EV_POP);
    const int32_t code = pair_x(&rule_stack.back());
    rule_stack.cut(rule_stack.size() - 3);
    rule_ended(code);
}

// --- views of the input and the rules ------------------------------------------------

void Engine::after_kem() {
    set_rules(r_.rules);
    in_ = view_of(&r_.input);
    // The limit belongs to the outermost input, not to the series `into` enters.
    window_ = input_stack.size() - input_base_ == 1 && limit_ < int64_t(in_.tail) ? uint32_t(limit_) : in_.tail;
    set_pos(series_position(&r_.input));
    update_end();
}

void Engine::set_input(const Cell& input) {
    r_.input = input;
    family_ = family_of(type_of(&input));
    after_kem();
}

void Engine::set_word(Cell* word, const Cell* value) {
    // A plain store where no change handler runs (the common case).
    if (Cell* slot = context_store_slot(word)) {
        *slot = *value;
        return;
    }
    const NodeId ctx = word->data1;
    word_set(word, value);
    if (ctx && context_kind(ctx) == CONTEXT_OBJECT) after_kem();
}

void Engine::set_rules(const Cell& rules) {
    r_.rules = rules;
    SeriesBuffer* b = series_buffer(&r_.rules);
    rules_cells_ = b->cell_head();
    rules_len_ = int32_t(b->used() >> 4);
    rules_head_ = std::max(series_position(&r_.rules), 0);
}

bool Engine::position_word(const Cell& value, int64_t* position) const {
    if (!is_type(&value, TYPE_GET_WORD) && !(is_type(&value, TYPE_WORD) && keyword_of(&value) == KW_NOT_KEYWORD))
        return false;
    const Cell* v = word_value(&value);
    if (!v || type_of(v) != type_of(&r_.input) || series_node(v) != series_node(&r_.input)) return false;
    *position = series_position(v);
    return true;
}

void Engine::fail_end(const Cell& keyword) const { fire(Err::script_parse_end, keyword); }

void Engine::fail_rule(const Cell& value) const { fire(Err::script_parse_rule, value); }

// --- calls into Kem code ------------------------------------------------------------------

Cell Engine::eval_paren(const Cell& paren) {
    Cell* const top = stack::top;
    interp::eval_block(&paren, false);
    if (interp::pending()) throw PendingExit{};  // the stacks are set for its catcher
    r_.paren = *top;
    stack::top = top;
    after_kem();
    return r_.paren;
}

void Engine::trace_event(Event e, int32_t rule_at) {
    Cell args[5];
    args[0] = event_words[e];
    make_logic(&args[1], match_);
    args[2] = r_.rules;
    set_series_position(&args[2], std::max(rule_at >= 0 ? rule_at : cursor_, head()));
    args[3] = r_.input;
    // A copy: what the callback does to it cannot reach the engine's frames.
    const size_t n = rule_stack.size() - rule_base_;
    block_make_at(&args[4], int32_t(n));
    for (size_t i = 0; i < n; i++) block_append_cell(&args[4], &rule_stack[rule_base_ + i]);

    const Cell fn = r_.trace;
    Cell* const saved_top = stack::top;
    stack::push_function_frame(&rt_words.parse_callback, function_context(&fn));
    interp::push_callback_arguments(&fn, args, 5);
    interp::call_function(&fn, interp::CALLBACK_PARSE);
    if (interp::pending()) throw PendingExit{};
    stack::pop_function_frame_keep_result();
    const Cell answer = *saved_top;
    stack::top = saved_top;
    after_kem();
    if (!is_truthy(&answer)) throw TraceStop{};
}

} // namespace kem::parse

namespace kem {

void parse_init() {
    using namespace parse;
    static bool done = false;
    if (done) return;
    done = true;
    rule_stack.reserve(100);
    input_stack.reserve(8);
    register_parse_native();
    collector::add_layer_root("parse stacks", mark_stacks);
    const std::pair<uint32_t, Keyword> words[] = {
        {rt_symbols.any, KW_ANY},        {rt_symbols.break_, KW_BREAK},   {rt_symbols.copy, KW_COPY},
        {rt_symbols.end, KW_END},        {rt_symbols.fail, KW_FAIL},      {rt_symbols.into, KW_INTO},
        {rt_symbols.opt, KW_OPT},        {rt_symbols.not_, KW_NOT},       {rt_symbols.quote, KW_QUOTE},
        {rt_symbols.case_, KW_CASE},     {rt_symbols.reject, KW_REJECT},  {rt_symbols.set, KW_SET},
        {rt_symbols.skip, KW_SKIP},      {rt_symbols.some, KW_SOME},      {rt_symbols.thru, KW_THRU},
        {rt_symbols.to, KW_TO},          {rt_symbols.none_, KW_NONE},     {rt_symbols.bar, KW_BAR},
        {rt_symbols.if_, KW_IF},         {rt_symbols.remove, KW_REMOVE},  {rt_symbols.while_, KW_WHILE},
        {rt_symbols.insert, KW_INSERT},  {rt_symbols.collect, KW_COLLECT}, {rt_symbols.keep, KW_KEEP},
        {rt_symbols.ahead, KW_AHEAD},    {rt_words.change.data2, KW_CHANGE}, {rt_symbols.only, KW_ONLY},
        {rt_symbols.pick, KW_PICK},      {rt_symbols.after, KW_AFTER},
    };
    for (const auto& [symbol, kw] : words) {
        const uint32_t s = symbol_resolve(symbol);
        if (s >= keyword_table.size()) keyword_table.resize(s + 1, KW_NOT_KEYWORD);
        keyword_table[s] = kw;
    }
    event_words[0] = rt_words.push;
    event_words[1] = rt_words.pop;
    event_words[2] = rt_words.fetch;
    event_words[3] = rt_words.match;
    event_words[4] = rt_words.iterate;
    event_words[5] = rt_words.paren;
    event_words[6] = word_load("end");
}

} // namespace kem
