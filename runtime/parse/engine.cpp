// The parse engine's states: entering and leaving rule blocks and rule
// frames, dispatch by rule value, alternatives, repetition and search.
#include <algorithm>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/word.h"
#include "runtime/parse/engine.h"
#include "runtime/parse/parse.h"

namespace kem::parse {

namespace {

inline Cell triple(int32_t a, int32_t b, int32_t c) {
    return Cell{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}

inline int32_t field(const Cell& c, int n) { return int32_t(n == 1 ? c.data1 : n == 2 ? c.data2 : c.data3); }

// A collection at a step when one is due. A run takes many more steps than
// code takes expressions: the stress build counts one step in 16 as a safe
// point of its period, so that its tests' runs of thousands of steps stay
// within time.
inline bool safe_point() {
#ifdef KEM_GC_STRESS
    static uint32_t steps = 0;
    if (++steps % 16 == 0) return collector::safe_point();
#endif
    return collector::collect_if_due();
}

} // namespace

// The states are compiled into the loop: a turn of it is a jump, not a call.
[[gnu::flatten]] Cell Engine::run() {
    State state = State::push_block;
    try {
        for (;;) {
            switch (state) {
            case State::push_block: state = push_block(); break;
            case State::pop_block: state = pop_block(); break;
            case State::push_rule: state = push_rule(); break;
            case State::pop_rule: state = pop_rule(); break;
            case State::next_action: state = next_action(); break;
            case State::match_rule: state = match_rule(); break;
            case State::find_alternative: state = find_alternative(); break;
            case State::end: state = end(); break;
            case State::exit: {
                Cell result;
                if (collected_) result = anchor_[1];
                else make_logic(&result, match_);
                stack::top = anchor_;
                return result;
            }
            }
        }
    } catch (const TraceStop&) {
        Cell result;
        make_logic(&result, match_);
        stack::top = anchor_;
        return result;
    }
}

// --- rule blocks -------------------------------------------------------------------

State Engine::push_block() {
    check_limit(3);
    push_frame(none_value, position_triple(), r_.rules);
    if (is_type(&r_.value, TYPE_BLOCK)) set_rules(r_.value);
    cursor_ = head() - 1;
    match_ = true;
    update_end();
    fire_event(EV_PUSH);
    return State::next_action;
}

State Engine::pop_block() {
    if (rule_stack.size() - rule_base_ == 3) {
        fire_event(EV_POP, head());
        return State::end;
    }
    if (repeat_block()) return State::next_action;
    fire_event(EV_POP, head());
    const size_t f = frame_at();
    const int32_t rule_index = field(rule_stack[f + 1], 1);
    set_rules(rule_stack[f + 2]);
    cursor_ = head() + rule_index;
    rule_stack.cut(f);
    // A break that no repetition takes ends with the block it left.
    if (break_ && !top_is_iteration()) break_ = false;
    if (top_is_rule()) return State::pop_rule;
    return match_ ? State::next_action : State::find_alternative;
}

State Engine::find_alternative() {
    set_pos(field(rule_stack[frame_at() + 1], 2));
    update_end();
    const int32_t t = rules_tail();
    for (int32_t i = std::max(cursor_ + 1, head()); i < t; i++) {
        const Cell v = rule_at(i);
        if (keyword_of(&v) == KW_BAR) {
            cursor_ = i;
            match_ = true;
            return State::next_action;
        }
    }
    return State::pop_block;
}

State Engine::next_action() {
    // Every loop of the rules comes back here, so it is the run's safe point:
    // one call may make much garbage without running any Kem code. The
    // engine's values are all rooted here (its registers, the parse stacks,
    // collect blocks on the data stack); its views are made again after.
    if (safe_point()) [[unlikely]] after_kem();
    // The fuzzer's budget counts these too, and ends rules that keep doubling
    // the input, or keep copies of it (in a collect, say), before they
    // exhaust memory.
    if (parse_step_budget) [[unlikely]] {
        if (--parse_step_budget == 0 || in_.tail > (1u << 16) || memory.total > PARSE_FUZZ_FRAMES)
            throw ParseStepsSpent{};
    }
    int32_t t = rules_tail();
    if (cursor_ < t) cursor_++;
    if (cursor_ >= t) {
        cursor_ = t;
        return top_is_rule() ? pop_rule() : pop_block();
    }
    fire_event(EV_FETCH);
    // The callback may have shortened the rules.
    if (cursor_ >= rules_tail()) return next_action();
    r_.value = rule_at(cursor_);
    from_word_ = false;
    return dispatch();
}

State Engine::end() {
    if (match_) match_ = cursor_ >= rules_tail();
    if (pos() < window() && input_stack.size() - input_base_ == 1) match_ = false;
    fire_event(EV_END);
    return State::exit;
}

// --- rule frames ------------------------------------------------------------------------

State Engine::push_rule() {
    check_limit(3);
    push_frame(r_.first, position_triple(), Cell{TYPE_PAIR, 0, uint32_t(code_), uint32_t(extra_)});
    const int32_t t = rules_tail();
    if (cursor_ < t) cursor_++;
    r_.value = cursor_ < t ? rule_at(cursor_) : none_value;
    from_word_ = false;
    fire_event(EV_PUSH);
    return match_rule();
}

State Engine::match_rule() {
    if (cursor_ >= rules_tail() && !from_word_) {
        match_ = true;
        return pending();
    }
    switch (type_of(&r_.value)) {
    case TYPE_BLOCK: return State::push_block;
    case TYPE_WORD: return word();
    case TYPE_INTEGER:
    case TYPE_PAREN:
    case TYPE_TYPESET:
    case TYPE_DATATYPE:
    case TYPE_SET_WORD:
    case TYPE_GET_WORD:
    case TYPE_PATH: return dispatch();
    default: break;
    }
    const int32_t code = top_code();
    if (code == CODE_TO || code == CODE_THRU) return search_literal();
    if (code == CODE_ITERATE || code == CODE_WHILE) return repeat_literal();
    return dispatch();
}

State Engine::pop_rule() {
    if (!top_is_rule()) {
        if (!pop_request_) return State::next_action;
        pop_request_ = false;
        return State::pop_block;
    }
    const int32_t code = top_code();
    switch (code) {
    case CODE_ITERATE:
    case CODE_WHILE: return iteration_done();
    case CODE_TO:
    case CODE_THRU: return search_done();
    default: return keyword_done(code);
    }
}

// --- one rule value ----------------------------------------------------------------------

State Engine::dispatch() {
    switch (type_of(&r_.value)) {
    case TYPE_WORD:
        // A word reached through another word's value is no rule.
        if (from_word_) fail_rule(r_.value);
        return word();
    case TYPE_BLOCK: return State::push_block;
    case TYPE_DATATYPE:
    case TYPE_TYPESET: return match_type_rule();
    case TYPE_SET_WORD:
        r_.made = r_.input;
        set_word(&r_.value, &r_.made);
        return State::next_action;
    case TYPE_GET_WORD: {
        const Cell* v = word_value(&r_.value);
        if (!v || type_of(v) != type_of(&r_.input) || series_node(v) != series_node(&r_.input))
            fire(Err::script_parse_invalid_ref, r_.value);
        set_pos(series_position(v));
        match_ = true;
        update_end();
        return pending();
    }
    case TYPE_INTEGER: return counts();
    case TYPE_PAREN:
        eval_paren(r_.value);
        fire_event(EV_PAREN);
        return pending();
    case TYPE_PATH: fail_rule(r_.value);
    default: return match_literal();
    }
}

State Engine::word() {
    const Keyword kw = keyword_of(&r_.value);
    if (kw != KW_NOT_KEYWORD && kw < KW_ONLY) return keyword(kw);
    const Cell* v = word_value(&r_.value);
    if (!v) fail_rule(r_.value);
    const bool argument = rule_argument();
    if (is_type(v, TYPE_WORD)) {
        // A keyword's rule may be a word that holds a word: matched as it is.
        const int32_t code = top_code();
        if (!argument || code == CODE_COLLECT || code == CODE_KEEP || code == CODE_KEEP_PAREN) fail_rule(r_.value);
        r_.value = *v;
        return match_literal();
    }
    r_.value = *v;
    from_word_ = true;
    return argument ? State::match_rule : dispatch();
}

State Engine::match_literal() {
    int32_t m = -1;
    if (const int32_t ch = ascii_char_rule(); ch >= 0) {
        if (!at_end()) m = in_.head[pos()] == ch ? 1 : -1;
    } else {
        Literal lit;
        if (prepare_literal(lit, &r_.value, family_, mode_, scratch_)) {
            if (!at_end()) m = lit.match_at(in_, pos());
            else if (lit.empty_ok) m = 0;
        }
    }
    match_ = m >= 0;
    if (match_) set_pos(pos() + m);
    update_end();
    fire_event(EV_MATCH);
    return pending();
}

State Engine::match_type_rule() {
    if (family_ == Family::text) fire(Err::script_parse_unsupported);
    const int32_t m = at_end() ? -1 : match_type(&r_.value, &r_.input, pos());
    match_ = m >= 0;
    if (match_) set_pos(pos() + m);
    update_end();
    fire_event(EV_MATCH);
    return pending();
}

// A count, or a range of two, before a rule: either may be a word holding
// an integer.
State Engine::counts() {
    const int32_t t = rules_tail();
    Cell last = r_.value;
    const int32_t low = cell_int(&r_.value);
    int32_t high = low;
    if (cursor_ + 1 < t) {
        const Cell next = rule_at(cursor_ + 1);
        const Cell* n = &next;
        if (is_type(&next, TYPE_WORD) && keyword_of(&next) == KW_NOT_KEYWORD) {
            const Cell* v = word_value(&next);
            if (v && is_type(v, TYPE_INTEGER)) n = v;
        }
        if (is_type(n, TYPE_INTEGER)) {
            last = *n;
            high = cell_int(n);
            cursor_++;
        }
    }
    if (low < 0) fire(Err::script_out_of_range, Cell{TYPE_INTEGER, 0, uint32_t(low), 0});
    if (high < 0) fire(Err::script_out_of_range, last);
    if (cursor_ + 1 >= t || low > high) fail_rule(last);
    if (high == 0) {
        // Nothing to repeat: the rule is skipped whole.
        cursor_ = rule_end(cursor_ + 1) - 1;
        match_ = true;
        return pending();
    }
    r_.first = triple(low, high, 1);
    code_ = CODE_ITERATE;
    extra_ = 0;
    return State::push_rule;
}

// --- repetition and search ------------------------------------------------------------------

State Engine::iteration_done() {
    const size_t f = frame_at();
    const int32_t min = field(rule_stack[f], 1), pass = field(rule_stack[f], 3);
    const uint32_t start = uint32_t(field(rule_stack[f + 1], 2));
    bool more = another_pass(f);
    if (break_) {
        more = false;
        break_ = false;
    }
    if (more) {
        cursor_ = head() + start_pass(f);
        fire_event(EV_ITERATE);
        return next_action();
    }
    if (match_) {
        if (pass < min) match_ = false;
    } else {
        // The failed pass does not count; the input stays after the last good one.
        match_ = pass - 1 >= min;
        set_pos(start);
        update_end();
    }
    drop_rule();
    return pending();
}

bool Engine::another_pass(size_t f) const {
    const int32_t max = field(rule_stack[f], 2), pass = field(rule_stack[f], 3);
    const uint32_t start = uint32_t(field(rule_stack[f + 1], 2));
    const int32_t length = field(rule_stack[f + 1], 3);
    if (!match_ || (max >= 0 && pass >= max)) return false;
    // A pass that neither moved nor shortened the input would repeat forever.
    return !(pair_x(&rule_stack[f + 2]) == CODE_ITERATE && pos() == start && int32_t(remaining()) >= length);
}

int32_t Engine::start_pass(size_t f) {
    const int32_t rule_index = field(rule_stack[f + 1], 1);
    rule_stack[f + 1] = triple(rule_index, int32_t(pos()), int32_t(remaining()));
    rule_stack[f].data3 = rule_stack[f].data3 + 1;
    return rule_index;
}

// A repetition of a block written in place (any [...], 3 [...]) whose pass
// has matched goes on with its next pass in the same block frame, instead of
// leaving the block and entering it again: what those steps would leave on
// the stacks is written directly. A traced run takes the steps.
bool Engine::repeat_block() {
    if (tracing_ || break_ || rule_stack.size() - rule_base_ < 6) return false;
    const size_t f = frame_at(), g = f - 3;
    const Cell& below = rule_stack[g + 2];
    if (!is_type(&below, TYPE_PAIR)) return false;
    const int32_t code = int32_t(below.data2);
    if ((code != CODE_ITERATE && code != CODE_WHILE) || !another_pass(g)) return false;
    // The repeated rule must be this very block, in the rules the repetition reads.
    const int32_t block_index = field(rule_stack[f + 1], 1);
    if (block_index != field(rule_stack[g + 1], 1) + 1) return false;
    const Cell& outer = rule_stack[f + 2];
    SeriesBuffer* b = series_buffer(&outer);
    const int32_t at = std::max(series_position(&outer), 0) + block_index;
    if (at >= int32_t(b->used() >> 4)) return false;
    const Cell& rule = b->cell_head()[at];
    if (!is_type(&rule, TYPE_BLOCK) || series_node(&rule) != series_node(&r_.rules) ||
        series_position(&rule) != series_position(&r_.rules))
        return false;
    start_pass(g);
    rule_stack[f + 1] = triple(block_index, int32_t(pos()), int32_t(remaining()));
    cursor_ = head() - 1;
    update_end();
    return true;
}

State Engine::search_done() {
    const size_t f = frame_at();
    const int32_t rule_index = field(rule_stack[f + 1], 1);
    const uint32_t start = uint32_t(field(rule_stack[f + 1], 2));
    if (match_) {
        if (top_code() == CODE_TO) set_pos(start);
        update_end();
        drop_rule();
        return pending();
    }
    if (start >= window()) {
        drop_rule();
        return pending();
    }
    set_pos(start + 1);
    update_end();
    rule_stack[f + 1] = triple(rule_index, int32_t(pos()), int32_t(remaining()));
    cursor_ = head() + rule_index;
    fire_event(EV_POP);
    fire_event(EV_ITERATE);
    return State::next_action;
}

State Engine::search_literal() {
    if (!searchable(&r_.value, family_)) fail_rule(r_.value);
    search(top_code());
    drop_rule();
    return pending();
}

void Engine::search(int32_t code) {
    int64_t found = -1;
    int32_t length = 1;
    if (const int32_t ch = ascii_char_rule(); ch >= 0) {
        found = find_byte(in_, pos(), window(), uint8_t(ch));
    } else {
        Literal lit;
        if (prepare_literal(lit, &r_.value, family_, mode_, scratch_, true))
            found = find_literal(lit, in_, pos(), window(), &length);
    }
    match_ = found >= 0;
    if (match_) set_pos(code == CODE_THRU ? found + length : found);
    update_end();
    fire_event(EV_MATCH);
}

const Cell* Engine::search_argument() const {
    if (family_ == Family::cells || tracing_) return nullptr;
    const Cell* v = &rule_at(cursor_ + 1);
    if (is_type(v, TYPE_WORD)) {
        if (keyword_of(v) != KW_NOT_KEYWORD) return nullptr;
        v = word_value(v);
        if (!v) return nullptr;
    }
    return searchable(v, family_) ? v : nullptr;
}

State Engine::repeat_literal() {
    const size_t f = frame_at();
    const int32_t min = field(rule_stack[f], 1), max = field(rule_stack[f], 2);
    Literal lit;
    int64_t n = 0;
    if (prepare_literal(lit, &r_.value, family_, mode_, scratch_)) {
        uint32_t p = pos();
        n = parse::repeat_literal(lit, in_, &p, window(), max);
        set_pos(p);
    }
    // A literal that matches nothing succeeds at once, whatever the count.
    match_ = n < 0 || n >= min;
    update_end();
    fire_event(EV_MATCH);
    drop_rule();
    return pending();
}

// The index after the whole rule that starts at i (a count of 0 skips it).
int32_t Engine::rule_end(int32_t i) const {
    const int32_t t = rules_tail();
    const auto integer_at = [&](int32_t k) {
        if (k >= t) return false;
        const Cell v = rule_at(k);
        if (is_type(&v, TYPE_INTEGER)) return true;
        const Cell* w = keyword_of(&v) == KW_NOT_KEYWORD && is_type(&v, TYPE_WORD) ? word_value(&v) : nullptr;
        return w && is_type(w, TYPE_INTEGER);
    };
    const auto word_at = [&](int32_t k, Keyword kw) {
        if (k >= t) return false;
        const Cell v = rule_at(k);
        return keyword_of(&v) == kw;
    };
    while (i < t) {
        if (integer_at(i)) {
            i += integer_at(i + 1) ? 2 : 1;
            continue;
        }
        const Cell v = rule_at(i);
        int64_t position;
        switch (keyword_of(&v)) {
        case KW_ANY: case KW_SOME: case KW_OPT: case KW_WHILE: case KW_NOT: case KW_AHEAD:
        case KW_TO: case KW_THRU: case KW_INTO:
            i += 1;
            continue;
        case KW_COPY: case KW_SET: case KW_CASE:
            i += 2;
            continue;
        case KW_REMOVE:
            if (i + 1 < t && position_word(rule_at(i + 1), &position)) return std::min(i + 2, t);
            i += 1;
            continue;
        case KW_COLLECT:
            i += (word_at(i + 1, KW_SET) || word_at(i + 1, KW_INTO) || word_at(i + 1, KW_AFTER)) ? 3 : 1;
            continue;
        case KW_KEEP:
            i += word_at(i + 1, KW_PICK) ? 2 : 1;
            continue;
        case KW_QUOTE: case KW_IF: return std::min(i + 2, t);
        case KW_INSERT: {
            int32_t k = i + 1 + (word_at(i + 1, KW_ONLY) ? 1 : 0);
            if (k < t && position_word(rule_at(k), &position)) k++;
            return std::min(k + 1, t);
        }
        case KW_CHANGE: {
            int32_t k = i + 1 + (word_at(i + 1, KW_ONLY) ? 1 : 0);
            if (k < t && position_word(rule_at(k), &position)) return std::min(k + 2, t);
            return std::min(rule_end(k) + 1, t);
        }
        default: return i + 1;
        }
    }
    return t;
}

} // namespace kem::parse

namespace kem {

uint64_t parse_step_budget = 0;

Cell parse_run(const Cell* input, const Cell* rules, CompareOp mode, int64_t limit, const Cell* trace) {
    parse::Engine engine(input, rules, mode, limit, trace);
    return engine.run();
}

} // namespace kem
