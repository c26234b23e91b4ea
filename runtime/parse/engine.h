// The parse engine: one loop over an explicit state, no recursion of its own.
//
// Two process-wide stacks hold the matching state: the rule stack (frames of
// three cells, one per entered rule block and per pending keyword) and the
// input stack (the outermost input, then one entry per `into`). A parse run
// inside another one (from a paren, a trace callback or a change handler)
// works above the content of the enclosing run, after a one-cell marker, and
// cuts both stacks back on every way out.
//
// Frames are read and written by index, never through pointers kept across a
// step that may run Kem code: the stacks may grow under a nested run, and a
// collection may move every series buffer.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/roots.h"
#include "runtime/core/cell.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/series.h"
#include "runtime/parse/match.h"

namespace kem::parse {

// A stack of cells that grows by doubling and is cut back by size; the
// collector marks its cells.
class CellStack {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Cell* data() const { return cells_; }
    Cell& operator[](size_t i) { return cells_[i]; }
    const Cell& operator[](size_t i) const { return cells_[i]; }
    Cell& back() { return cells_[size_ - 1]; }
    const Cell& back() const { return cells_[size_ - 1]; }
    // n new cells at the top, left for the caller to fill.
    Cell* grow(size_t n) {
        if (size_ + n > capacity_) [[unlikely]] reserve(std::max(capacity_ * 2, size_ + n));
        Cell* at = cells_ + size_;
        size_ += n;
        return at;
    }
    void push_back(const Cell& c) { *grow(1) = c; }
    void pop_back() { size_--; }
    void cut(size_t n) { size_ = n; }
    void reserve(size_t n);

private:
    Cell* cells_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

extern CellStack rule_stack;
extern CellStack input_stack;
// Neither stack may hold more cells than this, enclosing runs included.
constexpr size_t STACK_LIMIT = 10000;

// Rule codes: the x of a rule frame's pair.
enum Code : int32_t {
    CODE_ITERATE = -1,
    CODE_TO = -2,
    CODE_THRU = -3,
    CODE_COPY = -4,
    CODE_SET = -5,
    CODE_NOT = -6,
    CODE_INTO = -7,
    CODE_REMOVE = -9,
    CODE_WHILE = -11,
    CODE_COLLECT = -12,
    CODE_KEEP = -13,
    CODE_KEEP_PAREN = -14,
    CODE_AHEAD = -16,
    CODE_CHANGE = -17,
    CODE_CHANGE_ONLY = -18,
    CODE_CASE = -19,
};

enum Keyword : uint8_t {
    KW_NOT_KEYWORD,
    KW_ANY, KW_BREAK, KW_COPY, KW_END, KW_FAIL, KW_INTO, KW_OPT, KW_NOT, KW_QUOTE, KW_CASE, KW_REJECT,
    KW_SET, KW_SKIP, KW_SOME, KW_THRU, KW_TO, KW_NONE, KW_BAR, KW_IF, KW_REMOVE, KW_WHILE, KW_INSERT,
    KW_COLLECT, KW_KEEP, KW_AHEAD, KW_CHANGE,
    // Words that mean something only right after insert, change, keep or collect.
    KW_ONLY, KW_PICK, KW_AFTER,
    KW_UNKNOWN = 0xFF,  // a symbol not looked at yet
};
// By symbol id as written: each spelling's keyword, once looked up.
extern std::vector<uint8_t> keyword_cache;
Keyword keyword_of_symbol(uint32_t symbol);
// The keyword a word! names (through its case-folded symbol).
inline Keyword keyword_of(const Cell* value) {
    if (!is_type(value, TYPE_WORD)) return KW_NOT_KEYWORD;
    const uint32_t s = value->data2;
    if (s < keyword_cache.size() && keyword_cache[s] != KW_UNKNOWN) return Keyword(keyword_cache[s]);
    return keyword_of_symbol(s);
}

// The states the engine's loop goes through; the other steps of a rule are
// direct calls from these.
enum class State : uint8_t { push_block, pop_block, push_rule, pop_rule, next_action, match_rule, find_alternative, end, exit };

// The engine's cells that hold values; the collector marks them while a run lives.
struct Regs {
    Cell input;    // the current input at the current position
    Cell rules;    // the rule block in force
    Cell value;    // the rule value being handled
    Cell first;    // the first cell of the rule frame about to be pushed
    Cell paren;    // the value of the last paren evaluated
    Cell copied;   // the word the last finished copy set
    Cell made;     // a value being put into a series or a word
    Cell trace;    // the trace function, none without one
};

// Raised by a trace callback that answers false: the run ends at once.
struct TraceStop {};

class Engine {
public:
    Engine(const Cell* input, const Cell* rules, CompareOp mode, int64_t limit, const Cell* trace);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    // The result: a logic!, or the block the outermost collect filled.
    Cell run();

private:
    enum Event : uint8_t { EV_PUSH, EV_POP, EV_FETCH, EV_MATCH, EV_ITERATE, EV_PAREN, EV_END };

    Regs r_;
    RootedCells keep_;
    // Views of the rule block and the input: raw pointers, made again after
    // anything that may move or resize a buffer (Kem code, changes to series).
    const Cell* rules_cells_ = nullptr;  // cell 0 of the rule block's buffer
    int32_t rules_len_ = 0;              // its cells, head to tail
    int32_t rules_head_ = 0;             // the rule block's position
    InputView in_{};
    uint32_t window_ = 0;                // where matching stops: tail or limit
    std::vector<uint8_t> scratch_;       // text rules as bytes
    int32_t cursor_ = 0;
    CompareOp mode_;
    int64_t limit_;
    bool match_ = true;
    bool end_ = false;
    bool break_ = false;         // break or reject: ends the repetition of this pass
    bool pop_request_ = false;   // break or reject: leave the innermost block
    bool from_word_ = false;     // the value is a word's value
    bool collected_ = false;     // the outermost collect gives the result
    bool tracing_;
    Family family_;
    int32_t collect_depth_ = 0;
    int32_t code_ = 0, extra_ = 0;  // the rule frame about to be pushed
    size_t saved_rules_, saved_inputs_;   // the stacks' sizes before this run
    size_t rule_base_, input_base_;       // where this run's content begins
    uint32_t saved_heads_[2];
    Cell* anchor_;               // data-stack cell below the collect blocks

    // --- stacks (stacks.cpp)
    void check_limit(size_t cells) const {
        if (rule_stack.size() + cells > STACK_LIMIT) [[unlikely]] stack_full();
    }
    [[noreturn]] static void stack_full();
    size_t frame_at() const { return rule_stack.size() - 3; }
    bool has_frame() const { return rule_stack.size() - rule_base_ >= 3; }
    bool top_is_rule() const { return has_frame() && is_type(&rule_stack.back(), TYPE_PAIR); }
    int32_t top_code() const { return top_is_rule() ? int32_t(rule_stack.back().data2) : 0; }
    bool top_is_iteration() const {
        const int32_t code = top_code();
        return code == CODE_ITERATE || code == CODE_WHILE;
    }
    // Whether the value at the cursor is the rule of the top rule frame.
    bool rule_argument() const {
        return top_is_rule() && cursor_ == rules_head_ + int32_t(rule_stack[frame_at() + 1].data1) + 1;
    }
    void push_frame(const Cell& first, const Cell& position, const Cell& last) {
        Cell* at = rule_stack.grow(3);
        at[0] = first;
        at[1] = position;
        at[2] = last;
    }
    Cell position_triple() const {
        return Cell{TYPE_TRIPLE, uint32_t(cursor_ - rules_head_), pos(), remaining()};
    }
    void drop_rule();
    // The enclosing frame learns which rule just ended (keep copy reads it);
    // a repetition keeps the remaining length its progress check needs.
    void rule_ended(int32_t code) {
        if (has_frame() && !top_is_iteration()) rule_stack[frame_at() + 1].data3 = uint32_t(code);
    }
    void fire_event(Event e, int32_t rule_at = -1) {
        if (tracing_) [[unlikely]] trace_event(e, rule_at);
    }
    void trace_event(Event e, int32_t rule_at);
    Cell eval_paren(const Cell& paren);

    // --- input
    uint32_t pos() const { return r_.input.data1; }
    uint32_t tail() const { return in_.tail; }
    uint32_t window() const { return window_; }
    uint32_t remaining() const { return in_.tail - pos(); }
    bool at_end() const { return pos() >= window_; }
    void set_pos(int64_t p) {
        r_.input.data1 = uint32_t(p < 0 ? 0 : p > int64_t(in_.tail) ? in_.tail : p);
    }
    void update_end() { end_ = at_end(); }
    // After Kem code or a change to any series: the views again, the
    // position back within the input.
    void after_kem();
    void set_input(const Cell& input);
    // Sets a word; only an object's change handler runs Kem code there.
    void set_word(Cell* word, const Cell* value);

    // --- rules
    int32_t head() const { return rules_head_; }
    int32_t rules_tail() const { return rules_len_; }
    const Cell& rule_at(int32_t i) const { return rules_cells_[i]; }
    void set_rules(const Cell& rules);
    // A word's value; nullptr when it has none.
    static const Cell* word_value(const Cell* word) {
        const int32_t index = int32_t(word->data3);
        if (index < 0 || word->data1 == 0) return nullptr;
        const Cell* v = context_value_slot_checked(word->data1, uint32_t(index));
        return v && !is_type(v, TYPE_UNSET) ? v : nullptr;
    }
    bool position_word(const Cell& value, int64_t* position) const;
    int32_t rule_end(int32_t i) const;
    [[noreturn]] void fail_end(const Cell& keyword) const;
    [[noreturn]] void fail_rule(const Cell& value) const;

    // --- states (engine.cpp)
    // After a rule's outcome: the frame that takes it, else the next rule
    // or the next alternative.
    State pending() const {
        if (top_is_rule()) return State::pop_rule;
        return match_ ? State::next_action : State::find_alternative;
    }
    State push_block();
    State pop_block();
    State push_rule();
    State pop_rule();
    State dispatch();
    State next_action();
    State match_literal();
    // The common literal: an ASCII character that case does not change (or
    // under /case), in one-byte text or bytes, compared as a byte. Its code,
    // else -1.
    int32_t ascii_char_rule() const {
        const int32_t ch = cell_int(&r_.value);
        if (!is_type(&r_.value, TYPE_CHAR) || family_ == Family::cells || in_.unit != 1 || uint32_t(ch) >= 0x80)
            return -1;
        const bool letter = (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z';
        return letter && mode_ != CompareOp::strict_equal ? -1 : ch;
    }
    State match_rule();
    State find_alternative();
    State word();
    State end();
    State counts();
    State match_type_rule();
    State search_literal();
    void search(int32_t code);
    // The literal a to or thru at the cursor searches text or bytes for,
    // when it is one (or a word's value that is one); else nullptr.
    const Cell* search_argument() const;
    State repeat_literal();
    State iteration_done();
    bool repeat_block();
    // Whether the repetition whose frame is at f takes another pass: the last
    // one matched, the count allows it and it made progress.
    bool another_pass(size_t f) const;
    // Starts the next pass of the repetition at f from here; its rule's index.
    int32_t start_pass(size_t f);
    State search_done();

    // --- keywords (keywords.cpp)
    State keyword(Keyword kw);
    State start_rule(int32_t code, const Cell& first, int32_t extra = 0);
    State repeat(int32_t min, int32_t max, int32_t code);
    State copy_or_set(Keyword kw);
    State remove();
    State into();
    State insert();
    State change();
    State case_();
    State collect();
    State keep();
    State keyword_done(int32_t code);
    Cell value_arg(int32_t i);
    int64_t replace_or_remove(uint32_t from, uint32_t count, bool only, bool remove);
    void collect_done();
    void keep_done(bool pick, bool paren);
    void collect_put(bool splice);
    Cell slice(uint32_t from, uint32_t count) const;
};

} // namespace kem::parse
