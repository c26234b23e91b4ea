// The parse keywords: reading their arguments, and what each does when the
// rule it took has finished (captures, changes to the input, collecting).
//
// Everything here may run Kem code (parens, change handlers of the words and
// series it sets): values in flight sit in the engine's rooted cells or on the
// data stack, and frames are read by index afterwards.
#include <algorithm>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/parse/engine.h"

namespace kem::parse {

namespace {

inline Cell triple(int32_t a, int32_t b, int32_t c) {
    return Cell{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}

inline int32_t field(const Cell& c, int n) { return int32_t(n == 1 ? c.data1 : n == 2 ? c.data2 : c.data3); }

inline const Cell pass_one = triple(0, 0, 1);

} // namespace

State Engine::keyword(Keyword kw) {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    // The keyword needs k more values after it.
    const auto need = [&](int32_t k) {
        if (cursor_ + k >= t) fail_end(name);
    };
    switch (kw) {
    case KW_BAR:
        cursor_ = t;
        return State::next_action;
    case KW_SKIP:
        match_ = !at_end();
        if (match_) set_pos(pos() + 1);
        update_end();
        fire_event(EV_MATCH);
        return pending();
    case KW_END:
        if (rule_argument() && (top_code() == CODE_TO || top_code() == CODE_THRU)) {
            // to end and thru end: straight to the end, no search.
            set_pos(window());
            rule_stack[frame_at() + 1].data2 = pos();
            match_ = true;
        } else {
            match_ = at_end();
        }
        update_end();
        fire_event(EV_MATCH);
        return pending();
    case KW_NONE:
        match_ = true;
        fire_event(EV_MATCH);
        return pending();
    case KW_FAIL:
        match_ = false;
        fire_event(EV_MATCH);
        // In its block, fail lets the next rule replace its result; as a
        // keyword's rule it is that rule's outcome.
        return rule_argument() ? pending() : State::next_action;
    case KW_BREAK:
    case KW_REJECT:
        match_ = kw == KW_BREAK;
        break_ = pop_request_ = true;
        fire_event(EV_MATCH);
        return State::pop_rule;
    case KW_OPT: need(1); return repeat(0, 1, CODE_ITERATE);
    case KW_ANY: need(1); return repeat(0, -1, CODE_ITERATE);
    case KW_SOME: need(1); return repeat(1, -1, CODE_ITERATE);
    case KW_WHILE: need(1); return repeat(0, -1, CODE_WHILE);
    case KW_TO:
    case KW_THRU: {
        need(1);
        const int32_t code = kw == KW_TO ? CODE_TO : CODE_THRU;
        // A text or bytes literal is searched for at once, without a frame
        // of its own (a traced run shows the frame).
        if (const Cell* literal = search_argument()) {
            r_.value = *literal;
            cursor_++;
            search(code);
            rule_ended(code);
            return pending();
        }
        return start_rule(code, pass_one);
    }
    case KW_NOT: need(1); return start_rule(CODE_NOT, pass_one);
    case KW_AHEAD: need(1); return start_rule(CODE_AHEAD, pass_one);
    case KW_COPY:
    case KW_SET: return copy_or_set(kw);
    case KW_REMOVE: return remove();
    case KW_INTO: return into();
    case KW_QUOTE:
        need(1);
        r_.value = rule_at(++cursor_);
        return match_literal();
    case KW_IF: {
        if (cursor_ + 1 >= t) fail_end(name);
        const Cell code = rule_at(cursor_ + 1);
        if (!is_type(&code, TYPE_PAREN)) fail_end(name);
        cursor_++;
        const Cell result = eval_paren(code);
        match_ = is_truthy(&result);
        fire_event(EV_MATCH);
        return pending();
    }
    case KW_INSERT: return insert();
    case KW_CHANGE: return change();
    case KW_CASE: return case_();
    case KW_COLLECT: return collect();
    case KW_KEEP: return keep();
    default: fail_rule(name);
    }
}

State Engine::start_rule(int32_t code, const Cell& first, int32_t extra) {
    r_.first = first;
    code_ = code;
    extra_ = extra;
    return State::push_rule;
}

State Engine::repeat(int32_t min, int32_t max, int32_t code) { return start_rule(code, triple(min, max, 1)); }

// --- captures ---------------------------------------------------------------------------

State Engine::copy_or_set(Keyword kw) {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    if (cursor_ + 1 >= t) fail_end(name);
    const Cell target = rule_at(cursor_ + 1);
    if (!is_type(&target, TYPE_WORD) || cursor_ + 2 >= t) fail_end(name);
    cursor_++;
    return start_rule(kw == KW_COPY ? CODE_COPY : CODE_SET, target);
}

Cell Engine::slice(uint32_t from, uint32_t count) const {
    Cell c;
    make_series(&c, type_of(&r_.input), copy_series_slice(series_node(&r_.input), from, count), 0);
    return c;
}

// --- changing the input -----------------------------------------------------------------------

State Engine::remove() {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    if (cursor_ + 1 >= t) fail_end(name);
    const Cell next = rule_at(cursor_ + 1);
    if (is_type(&next, TYPE_PATH)) fail_rule(name);
    int64_t at;
    if (!position_word(next, &at)) return start_rule(CODE_REMOVE, pass_one);
    // remove position-word: from there to here, and on from there.
    cursor_++;
    const int64_t from = std::min<int64_t>(at, pos()), to = std::max<int64_t>(at, pos());
    replace_or_remove(uint32_t(std::min<int64_t>(from, tail())), uint32_t(to - from), false, true);
    set_pos(from);
    match_ = true;
    update_end();
    return pending();
}

// A value for insert or change: a paren's result, a word's value, or the value itself.
Cell Engine::value_arg(int32_t i) {
    const Cell v = rule_at(i);
    switch (type_of(&v)) {
    case TYPE_PAREN: {
        const Cell result = eval_paren(v);
        fire_event(EV_PAREN);
        return result;
    }
    case TYPE_WORD:
    case TYPE_GET_WORD: {
        const Cell* value = word_value(&v);
        if (!value) fire(Err::script_no_value, v);
        return *value;
    }
    case TYPE_PATH: fail_rule(v);
    default: return v;
    }
}

// Replaces count units from `from` by r_.made (or removes them), through the
// series actions so that owners hear of it. Answers the index after the
// replacement.
int64_t Engine::replace_or_remove(uint32_t from, uint32_t count, bool only, bool remove) {
    Cell s = r_.input;
    set_series_position(&s, from);
    int64_t after = from;
    if (remove) {
        Cell part;
        make_integer(&part, int32_t(count));
        remove_direct(&s, RemoveArgs{.part = &part});
    } else {
        after = series_position(change_direct(&s, &r_.made, int32_t(count), only, 1));
    }
    after_kem();
    return after;
}

State Engine::insert() {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    int32_t i = cursor_ + 1;
    if (i >= t) fail_end(name);
    bool only = false;
    if (const Cell v = rule_at(i); keyword_of(&v) == KW_ONLY) {
        only = true;
        if (++i >= t) fail_end(name);
    }
    int64_t target = -1;
    if (const Cell v = rule_at(i); position_word(v, &target)) {
        if (++i >= t) fail_rule(v);
    }
    cursor_ = i;
    r_.made = value_arg(i);
    const uint32_t here = pos(), before = tail();
    const uint32_t at = target < 0 ? here : uint32_t(std::min<int64_t>(target, before));
    Cell s = r_.input;
    set_series_position(&s, at);
    insert_direct(&s, &r_.made, -1, only, 1);
    after_kem();
    // The input stays on the value it was on.
    if (at <= here) set_pos(int64_t(here) + int64_t(tail()) - int64_t(before));
    match_ = true;
    update_end();
    return pending();
}

State Engine::change() {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    int32_t i = cursor_ + 1;
    if (i >= t) fail_end(name);
    bool only = false;
    if (const Cell v = rule_at(i); keyword_of(&v) == KW_ONLY) {
        only = true;
        if (++i >= t) fail_end(name);
    }
    int64_t at;
    const Cell v = rule_at(i);
    if (!position_word(v, &at)) {
        cursor_ = i - 1;
        return start_rule(only ? CODE_CHANGE_ONLY : CODE_CHANGE, pass_one);
    }
    // change position-word value: the part between there and here.
    if (++i >= t) fail_rule(v);
    cursor_ = i;
    r_.made = value_arg(i);
    const int64_t here = pos(), end = tail();
    const int64_t from = std::min({at, here, end}), to = std::min(std::max(at, here), end);
    set_pos(replace_or_remove(uint32_t(from), uint32_t(to - from), only, false));
    match_ = true;
    update_end();
    return pending();
}

State Engine::case_() {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    if (cursor_ + 1 >= t) fail_end(name);
    const Cell w = rule_at(cursor_ + 1);
    if (!is_type(&w, TYPE_WORD) || cursor_ + 2 >= t) fail_end(name);
    const Cell* v = word_value(&w);
    if (!v) fail_rule(w);
    cursor_++;
    const int32_t previous = int32_t(mode_);
    mode_ = is_truthy(v) ? CompareOp::strict_equal : CompareOp::equal;
    return start_rule(CODE_CASE, triple(0, previous, 1));
}

State Engine::into() {
    const Cell name = r_.value;
    if (family_ != Family::cells) fire(Err::script_parse_block, r_.input);
    const int32_t t = rules_tail();
    if (cursor_ + 1 >= t) fail_end(name);
    const Cell rule = rule_at(cursor_ + 1);
    const Cell* held = is_type(&rule, TYPE_WORD) && keyword_of(&rule) == KW_NOT_KEYWORD ? word_value(&rule) : nullptr;
    if (!is_type(&rule, TYPE_BLOCK) && !(held && is_type(held, TYPE_BLOCK))) fail_end(name);
    const uint8_t it = at_end() ? 0 : type_of(in_.cell(pos()));
    if (!(any_block_type(it) || any_string_type(it) || it == TYPE_BINARY)) {
        cursor_++;
        match_ = false;
        fire_event(EV_MATCH);
        return pending();
    }
    if (input_stack.size() + 1 > STACK_LIMIT) fire(Err::script_parse_stack);
    r_.made = *in_.cell(pos());
    start_rule(CODE_INTO, pass_one);
    // The frame keeps the outer position; the rule then matches the value.
    push_rule();
    input_stack.push_back(r_.made);
    set_input(r_.made);
    return State::match_rule;
}

// --- collecting -----------------------------------------------------------------------------------

State Engine::collect() {
    const Cell name = r_.value;
    const int32_t t = rules_tail();
    int32_t i = cursor_ + 1;
    if (i >= t) fail_end(name);
    const Cell sub = rule_at(i);
    const Keyword how = keyword_of(&sub);
    Cell first = pass_one;
    if (how == KW_SET || how == KW_INTO || how == KW_AFTER) {
        if (i + 1 >= t) fail_end(name);
        Cell w = rule_at(i + 1);
        if (!is_type(&w, TYPE_WORD) || i + 2 >= t) fail_end(name);
        if (how == KW_SET) {
            stack::push(&w);
            block_push_only(8);
        } else {
            const Cell* target = word_value(&w);
            const uint8_t tt = target ? type_of(target) : 0;
            const bool fits = any_block_type(tt) || (any_string_type(tt) && family_ != Family::cells) ||
                              (tt == TYPE_BINARY && family_ == Family::bytes) ||
                              (tt && tt == type_of(&r_.input) && any_series_type(tt));
            if (!fits) fire(Err::script_parse_into_type);
            if (series_node(target) == series_node(&r_.input)) fire(Err::script_parse_into_bad);
            first = triple(0, series_position(target), 1);
            set_type(&w, how == KW_INTO ? TYPE_GET_WORD : TYPE_REFINEMENT);
            stack::push(&w);
        }
        cursor_ = i + 1;
    } else {
        block_push_only(8);
    }
    collect_depth_++;
    return start_rule(CODE_COLLECT, first);
}

State Engine::keep() {
    const Cell name = r_.value;
    if (collect_depth_ == 0) fire(Err::script_parse_keep);
    const int32_t t = rules_tail();
    int32_t i = cursor_ + 1;
    if (i >= t) fail_end(name);
    int32_t pick = 0;
    if (const Cell v = rule_at(i); keyword_of(&v) == KW_PICK) {
        pick = 1;
        if (++i >= t) fail_end(name);
    }
    cursor_ = i - 1;
    const Cell rule = rule_at(i);
    return start_rule(is_type(&rule, TYPE_PAREN) ? CODE_KEEP_PAREN : CODE_KEEP, pass_one, pick);
}

// Puts r_.made into the innermost collect's target: a block, or the series a
// word refers to (at its position for into, moving on; at its tail for after).
void Engine::collect_put(bool splice) {
    Cell entry = *(stack::top - 1);
    if (is_type(&entry, TYPE_BLOCK)) {
        if (splice && any_block_type(type_of(&r_.made))) block_append_all(&entry, &r_.made);
        else block_append_cell(&entry, &r_.made);
        // The block may be the input or the rules themselves.
        if (series_node(&entry) == series_node(&r_.input) || series_node(&entry) == series_node(&r_.rules))
            after_kem();
        return;
    }
    const bool into = is_type(&entry, TYPE_GET_WORD);
    set_type(&entry, TYPE_WORD);
    const Cell* v = word_value(&entry);
    if (!v || !any_series_type(type_of(v))) fire(Err::script_parse_into_type);
    Cell target = *v;
    if (into) {
        Cell moved = *insert_direct(&target, &r_.made, -1, !splice, 1);
        set_word(&entry, &moved);
    } else {
        append_direct(&target, &r_.made, -1, !splice, 1);
    }
    after_kem();
}

void Engine::collect_done() {
    collect_depth_--;
    const int32_t start_index = field(rule_stack[frame_at()], 2);
    Cell* entry = stack::top - 1;
    if (is_type(entry, TYPE_BLOCK)) {
        Cell* below = entry - 1;
        if (below > anchor_ && is_type(below, TYPE_WORD)) {
            // collect set: the block stays on the stack while the word takes it.
            Cell w = *below;
            set_word(&w, entry);
            stack::top = below;
        } else if (below > anchor_) {
            r_.made = *entry;
            stack::top = entry;
            collect_put(false);
        } else {
            collected_ = true;
        }
        return;
    }
    // collect into or after: the word's series goes back to where it was.
    Cell w = *entry;
    set_type(&w, TYPE_WORD);
    stack::top = entry;
    const Cell* v = word_value(&w);
    if (v && any_series_type(type_of(v))) {
        r_.made = *v;
        set_series_position(&r_.made, start_index);
        set_word(&w, &r_.made);
    }
}

void Engine::keep_done(bool pick, bool paren) {
    if (!match_) return;
    const size_t f = frame_at();
    const uint32_t start = std::min(uint32_t(field(rule_stack[f + 1], 2)), tail());
    const int32_t nested = field(rule_stack[f + 1], 3);
    if (paren) {
        r_.made = r_.paren;
        collect_put(pick && any_block_type(type_of(&r_.made)));
        return;
    }
    if (nested == CODE_COPY) {
        // keep copy word rule: what copy stored.
        const Cell* v = word_value(&r_.copied);
        if (!v) return;
        r_.made = *v;
        collect_put(pick && any_block_type(type_of(&r_.made)));
        return;
    }
    if (pos() <= start) return;
    const uint32_t n = pos() - start;
    const Cell entry = *(stack::top - 1);
    const Cell* target = &entry;
    if (!is_type(&entry, TYPE_BLOCK)) {
        Cell w = entry;
        set_type(&w, TYPE_WORD);
        target = word_value(&w);
    }
    const uint8_t tt = target ? type_of(target) : 0;
    if (tt == TYPE_BINARY || any_string_type(tt) || (n > 1 && !pick)) {
        // Text and bytes go in as text and bytes; several values as one series.
        r_.made = slice(start, n);
        collect_put(false);
    } else {
        for (uint32_t k = 0; k < n && start + k < tail(); k++) {
            series_element_at(&r_.input, start + k, &r_.made);
            collect_put(false);
        }
    }
}

// --- a rule frame ends ------------------------------------------------------------------------------

State Engine::keyword_done(int32_t code) {
    const size_t f = frame_at();
    const uint32_t saved = uint32_t(field(rule_stack[f + 1], 2));
    const uint32_t start = std::min(saved, tail());
    switch (code) {
    case CODE_COPY:
    case CODE_SET:
        if (match_) {
            Cell w = rule_stack[f];
            if (code == CODE_SET) {
                if (pos() > start) series_element_at(&r_.input, start, &r_.made);
                else r_.made = none_value;
            } else {
                r_.made = slice(start, pos() > start ? pos() - start : 0);
                r_.copied = w;
            }
            set_word(&w, &r_.made);
        }
        break;
    case CODE_NOT:
        match_ = !match_;
        set_pos(start);
        update_end();
        break;
    case CODE_AHEAD:
        if (match_) set_pos(start);
        update_end();
        break;
    case CODE_REMOVE:
        if (match_) {
            if (pos() > start) replace_or_remove(start, pos() - start, false, true);
            set_pos(start);
            update_end();
        }
        break;
    case CODE_INTO: {
        const bool whole = match_ && pos() >= tail();
        input_stack.pop_back();
        set_input(input_stack.back());
        set_pos(int64_t(saved) + (whole ? 1 : 0));
        match_ = whole;
        update_end();
        break;
    }
    case CODE_CHANGE:
    case CODE_CHANGE_ONLY:
        if (cursor_ + 1 >= rules_tail()) fail_end(rt_words.change);
        cursor_++;
        if (match_) {
            r_.made = value_arg(cursor_);
            const uint32_t here = pos();
            set_pos(replace_or_remove(start, here > start ? here - start : 0, code == CODE_CHANGE_ONLY, false));
            update_end();
        }
        break;
    case CODE_CASE: mode_ = CompareOp(field(rule_stack[f], 2)); break;
    case CODE_COLLECT: collect_done(); break;
    case CODE_KEEP:
    case CODE_KEEP_PAREN: keep_done(pair_y(&rule_stack[f + 2]) == 1, code == CODE_KEEP_PAREN); break;
    default: break;
    }
    drop_rule();
    return pending();
}

} // namespace kem::parse
