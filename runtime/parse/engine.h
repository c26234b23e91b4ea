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
#include <cstdint>
#include <vector>
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/datatypes/series.h"
#include "runtime/parse/match.h"

namespace kem::parse {

extern std::vector<Cell> rule_stack;
extern std::vector<Cell> input_stack;
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
};
// The keyword a word! names (through its case-folded symbol).
Keyword keyword_of(const Cell* value);

enum class State : uint8_t {
    push_block, pop_block, push_rule, pop_rule, check_pending, dispatch, next_input, next_action, match,
    match_rule, find_alternative, word, end, exit,
};

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
    Engine(const Cell* input, const Cell* rules, int32_t mode, int64_t limit, const Cell* trace);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    // The result: a logic!, or the block the outermost collect filled.
    Cell run();

private:
    enum Event : uint8_t { EV_PUSH, EV_POP, EV_FETCH, EV_MATCH, EV_ITERATE, EV_PAREN, EV_END };

    Regs r_;
    RootedCells keep_;
    int32_t cursor_ = 0;
    int32_t mode_;
    int64_t limit_;
    State state_ = State::push_block;
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
    void check_limit(size_t cells) const;
    size_t frame_at() const { return rule_stack.size() - 3; }
    bool has_frame() const { return rule_stack.size() - rule_base_ >= 3; }
    bool top_is_rule() const;
    int32_t top_code() const;
    bool top_is_iteration() const;
    // Whether the value at the cursor is the rule of the top rule frame.
    bool rule_argument() const;
    void push_frame(const Cell& first, const Cell& position, const Cell& last);
    Cell position_triple() const;
    void drop_rule();
    void fire_event(Event e, int32_t rule_at = -1);
    bool call_trace(Event e, int32_t rule_at);
    Cell eval_paren(const Cell& paren);

    // --- input
    uint32_t pos() const { return uint32_t(series_position(&r_.input)); }
    uint32_t tail() const;
    uint32_t window() const;
    uint32_t remaining() const { return tail() - pos(); }
    bool at_end() const { return pos() >= window(); }
    void set_pos(int64_t p);
    void update_end() { end_ = at_end(); }
    void after_kem();
    void set_input(const Cell& input);

    // --- rules
    int32_t head() const { return series_position(&r_.rules); }
    int32_t rules_tail() const;
    Cell rule_at(int32_t i) const;
    const Cell* word_value(const Cell* word) const;
    bool position_word(const Cell& value, int64_t* position) const;
    int32_t rule_end(int32_t i) const;
    [[noreturn]] void fail_end(const Cell& keyword) const;
    [[noreturn]] void fail_rule(const Cell& value) const;

    // --- states (engine.cpp)
    State push_block();
    State pop_block();
    State push_rule();
    State pop_rule();
    State check_pending();
    State dispatch();
    State next_action();
    State match_literal();
    State match_rule();
    State find_alternative();
    State word();
    State end();
    State counts();
    State match_type_rule();
    State search_literal();
    State repeat_literal();
    State iteration_done();
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
