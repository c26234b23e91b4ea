// The run loop: blocks, expressions, calls and operators over decoded sites.
//
// What an unfinished expression waits for is a record on the loop's own stack
// (a call gathering its arguments, an operator's right operand, the value of
// a set-word ...); a block being walked (a paren, a function's body, the
// block of if, either or unless) is a record too, which says what its value
// is for. The record on top says what the value just computed is for.
// Natives run as C++ calls; everything else stays in the loop, so a Kem call
// costs a record or two, not a chain of C++ frames.
#include "runtime/interpreter/run.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/calls.h"
#include "runtime/interpreter/decode.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/loops.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/operators.h"
#include "runtime/interpreter/paths.h"
#include "runtime/interpreter/trace.h"
#include "runtime/interpreter/walk.h"

#ifdef KEM_ASAN
#include <cstdio>
#include <cstdlib>
#endif

namespace kem::interp {

namespace {

enum ContKind : uint8_t {
    K_LEAVE,     // the bottom of one run of the loop
    K_WALK,      // a block being walked: `end` says what its value is for
    K_ARGS,      // a call gathering its arguments
    K_OPERATOR,  // an operator's right operand, in the operator's frame
    K_SET_WORD,  // a set-word's value, in the set-word's frame
    K_SET_PATH,  // a set-path's value, in the set-path frame
    K_RETURN,    // return's value
    K_LOOP,      // a loop native stepping through its passes
};

enum WalkEnd : uint8_t {
    END_LEAVE,   // run_block's walk: back to its C++ caller
    END_SINGLE,  // run_expression's one expression: back to its C++ caller
    END_PAREN,   // a paren: the expression it is in goes on
    END_BRANCH,  // the block of if, either or unless: the native's call ends
    END_BODY,    // a function's body: the call ends
    END_LOOP,    // a pass of a loop native: the loop takes the next step
};

// The function whose body a walk is in: its context, its arguments and the
// record return and exit land on (none when the body is no function's, or
// when the walk is not this run's).
struct Walked {
    NodeId ctx;
    Cell* base;
    struct Cont* target;
};

struct Cont {
    uint8_t kind;
    uint8_t end;            // K_WALK
    uint8_t no_infix;       // of the expression that goes on after this record's part
    uint8_t track;          // K_WALK: notes the position
    uint8_t restore;        // K_WALK of a body: turns position tracking back on at the end
    uint32_t resume;        // K_WALK: where the expression it is part of goes on
    uint32_t tail;          // K_WALK
    uint32_t epoch;         // K_WALK: of cells and sites; K_ARGS: of rec; K_SET_WORD: when read
    uint32_t arg;           // K_ARGS: the argument being gathered; K_SET_WORD: its position;
                            // K_OPERATOR: its Infix
    Cont* outer;            // K_WALK: the walk it is nested in; K_LOOP: the walk the loop is called in
    const Cell* cells;      // K_WALK
    Site* sites;            // K_WALK
    Cell* base;             // K_WALK: where each expression's value goes
    CallRecord* rec;        // K_ARGS
    Cell* slot;             // K_WALK of a branch or body, K_LOOP: the callable's cell
    Walked caller;          // K_WALK of a body, K_LOOP: the function walked before it
    CallFrame* frame;       // K_WALK of a body: its frame; K_LOOP: the loop frame
    LoopState loop;         // K_LOOP
    Code* pass_code[2];     // K_LOOP: the decoded code of its first block and of its other
    uint32_t pass_epoch;    // K_LOOP: the cache_epoch pass_code was found under
    Cell a;                 // K_WALK: the block; K_ARGS: the call's name; K_OPERATOR: the
                            // operator; K_SET_PATH: the path; K_RETURN: its word
    Cell b;                 // K_WALK: the position to put back; K_OPERATOR: its name
};

// Deeper nesting than this ends as the data stack's or the call stack's
// limit would, with the stack-overflow error.
constexpr uint32_t CONT_CAPACITY = 65536;
Cont conts[CONT_CAPACITY];
Cont* conts_top = conts;

[[gnu::always_inline]] inline Cont* push_cont(uint8_t kind) {
    Cont* c = conts_top;
    if (c == conts + CONT_CAPACITY) [[unlikely]] stack::overflow();
    conts_top = c + 1;
    c->kind = kind;
    return c;
}

void mark_conts() {
    for (Cont* c = conts; c < conts_top; c++) {
        switch (c->kind) {
        case K_WALK:
            if (c->end != END_SINGLE) collector::mark_value(&c->b);
            collector::mark_value(&c->a);
            // The caller's context lives in its call frame; only its id is kept here.
            if (c->end == END_BODY) collector::forward_node(&c->caller.ctx);
            break;
        case K_LOOP: collector::forward_node(&c->caller.ctx); break;
        case K_OPERATOR: collector::mark_value(&c->b); [[fallthrough]];
        case K_ARGS:
        case K_SET_PATH:
        case K_RETURN: collector::mark_value(&c->a); break;
        default: break;
        }
    }
}

inline NodeId walk_node(const Cont* w) { return w->a.data2; }
inline Cell block_value(const Cont* w) { return Cell{w->a.header & HEADER_TYPE_MASK, 0, w->a.data2, 0}; }
inline Code* code_of(const Cont* w) { return reinterpret_cast<Code*>(w->sites) - 1; }

// Finds the walk's cells and sites again (they move with their buffers, and
// the sites go when the block changes); a block that shrank ends the walk
// sooner.
[[gnu::noinline]] void reload(Cont* w) {
    Code* code = block_code(walk_node(w));
    if (code->length < w->tail) w->tail = code->length;
    w->cells = node_buffer(walk_node(w))->cell_head();
    w->sites = code->sites();
    w->epoch = cache_epoch;
}

// A walk of a block from its position, its value going to the top of the
// stack (unset when it has no expression). The block and the position to put
// back are held in the record, which the collector marks, so that code which
// drops the block from where it was cannot free it while it runs. code: the
// block's decoded code when the caller has it. fill_walk sets the walk's
// own part of a K_WALK record; its outer walk, the position to put back and
// where it resumes are the opener's (a body that ends a paren keeps the
// paren's).
[[gnu::always_inline]] inline void fill_walk(Cont* w, const Cell& block, uint8_t end, Code* code) {
    Cell* base = stack::push_slot();
    stack::top = base;
    // Kept in the form a position takes, so each expression's is one copy.
    w->a = Cell{block.header & HEADER_TYPE_MASK, block.data1, block.data2, 0};
    const NodeId node = block.data2;
    SeriesBuffer* b = node_buffer(node);
    const uint32_t length = b->used() / uint32_t(sizeof(Cell));
    if (!code || code->length != length) [[unlikely]] {
        code = block_code(node);
        b = node_buffer(node);
    }
    w->end = end;
    w->tail = length;
    w->track = !(b->flags & SERIES_SYSTEM_CODE);
    w->base = base;
    w->cells = b->cell_head();
    w->sites = code->sites();
    w->epoch = cache_epoch;
}
[[gnu::always_inline]] inline Cont* open_walk(const Cell& block, uint8_t end, Cont* outer, Code* code) {
    Cont* w = push_cont(K_WALK);
    w->b = position;
    w->outer = outer;
    fill_walk(w, block, end, code);
    return w;
}

#ifdef KEM_ASAN
// Checking builds prove that every change to a block of code is noticed: the
// cell a site was decoded from is still there, and the walk stays within the
// block. Only the new-line marker may change unnoticed.
void verify_site(const Cell* cells, const Site* sites, NodeId block, uint32_t pos) {
    const Cell& now = cells[pos];
    const Cell& then = sites[pos].decoded;
    const bool same = ((now.header ^ then.header) & ~HEADER_NEW_LINE) == 0 && now.data1 == then.data1 &&
                      now.data2 == then.data2 && now.data3 == then.data3;
    if (same && pos < node_buffer(block)->used() / sizeof(Cell)) return;
    std::fprintf(stderr, "run loop: cell %u of block node %u changed without notice\n", pos, block);
    std::abort();
}
#else
inline void verify_site(const Cell*, const Site*, NodeId, uint32_t) {}
#endif
inline void verify_site(const Cell* cells, const Site* sites, const Cont* w, uint32_t pos) {
    verify_site(cells, sites, walk_node(w), pos);
}

constexpr uint64_t type_bit(uint8_t t) { return uint64_t(1) << t; }
// What a word's value may not be for the word to give it as it stands.
constexpr uint64_t ACTIVE_VALUES = type_bit(TYPE_UNSET) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
                                   type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP);
inline bool plain_value(uint8_t t) { return t >= 64 || !((ACTIVE_VALUES >> t) & 1); }

// The slot a set-word at `at` stores into directly (context_store_slot),
// kept in its site for the global context and for an object without change
// handlers (with the object's self cell and the field's word, which is
// marked as assigned at each store). fresh: nothing changed the cache_epoch
// since the set-word was read, so the site is still its own.
Cell* store_slot(Site* sites, uint32_t at, const Cell& word, bool fresh) {
    Cell* slot = context_store_slot(&word);
    if (!slot || !fresh) return slot;
    const NodeId ctx = word.data1;
    if (ctx == global_context) {
        sites[at].claim();
        sites[at].slot = slot;
        sites[at].holder = nullptr;
    } else if (!context_values_on_stack(ctx) && context_kind(ctx) == CONTEXT_OBJECT) {
        sites[at].claim();
        sites[at].slot = slot;
        sites[at].holder = context_self_cell(ctx);
        sites[at].word_cell = context_word_cell(ctx, word.data3);
    }
    return slot;
}

// A native or action through its record, its arguments pushed on its frame.
// False when an exit is pending.
[[gnu::noinline]] bool call_native(const CallRecord* rec) {
    try {
        if (rec->kind == TYPE_NATIVE) native_table[rec->number](no_refinements);
        else action_dispatcher_table[rec->number](no_refinements);
    } catch (const PendingExit&) {
        return false;  // the stacks are already set for the exit's catcher
    }
    return !pending();
}

// An operator's action or native with both operands in its frame, when the
// direct path could not compute it. False when an exit is pending.
[[gnu::noinline]] bool call_operator(const Cell& op, const Cell& name, uint32_t pos, const Cont* w) {
    const Cell fn = op_callable(&op);
    const Cell block = block_value(w);
    try {
        fetch_arguments(&fn, pos, w->tail, &block, nullptr, 0, 2, &name);
        if (pending()) return false;
        stack::pop_frame_keep_result();
        // Tracing may have been switched on by the right operand's code.
        if (tracing) [[unlikely]]
            fire_trace_event(EV_RETURN, &block, int32_t(pos), stack::top - 1, &name);
    } catch (const PendingExit&) {
        return false;
    }
    return true;
}

// The full store of a set-word the site keeps no slot for: an object's
// change handlers run, unset is refused. False when an exit is pending.
[[gnu::noinline]] bool set_word_slow(Site* sites, const Cont* c) {
    const Cell* value = stack::arguments + 1;
    const Cell word = stack::arguments[0];
    return assign_from_frame(type_of(value) != TYPE_UNSET ? store_slot(sites, c->arg, word, c->epoch == cache_epoch)
                                                          : nullptr);
}

// The slot a set-word's site keeps, when a store through it needs nothing
// more: none, or an object without change handlers (its field's word is
// then marked as assigned).
[[gnu::always_inline]] inline Cell* site_store(Site& s) {
    if (s.epoch != cache_epoch || !s.slot || (s.holder && s.holder->data3)) return nullptr;
    if (s.holder) s.word_cell->header |= WORD_CHANGED;
    return s.slot;
}

// A set-word's value is in its frame: stores it. False when an exit is
// pending. A local of the function walked (fctx, fbase) and a slot the site
// keeps take it directly.
[[gnu::always_inline]] inline bool set_word(Site* sites, const Cont* c, NodeId fctx, Cell* fbase) {
    const Cell* value = stack::arguments + 1;
    const Cell* word = stack::arguments;
    if (type_of(value) != TYPE_UNSET) [[likely]] {
        Cell* slot = nullptr;
        if (word->data1 == fctx && int32_t(word->data3) >= 0) slot = fbase + word->data3;
        else if (c->epoch == cache_epoch) slot = site_store(sites[c->arg]);
        if (slot) {
            *slot = *value;
            *stack::arguments = *value;
            stack::pop_frame_keep_result();
            return true;
        }
    }
    return set_word_slow(sites, c);
}

// The result sits just above the callable's cell: moves it down over it.
inline void take_result(Cell* callable_slot) {
    *callable_slot = *(stack::top - 1);
    stack::top = callable_slot + 1;
}
// A function's call is over: its frame goes, its result over its callable.
inline void end_function(Cell* callable_slot) {
    stack::pop_function_frame_keep_result();
    take_result(callable_slot);
}
// A walked function's body is done, its value at *value: the value goes
// over the callable, the frame goes.
inline void finish_function(Cell* callable_slot, const Cell* value) {
    *callable_slot = *value;
    stack::leave_function_context(stack::frames_top - 1);
    stack::pop_frame_keep_result();
    stack::top = callable_slot + 1;
}
// What a record that ends a call resumes with: the callable's cell, the
// position after the call and the no_infix of the expression it is in.
inline void resume_after(Cont* c, Cell* callable, uint32_t pos, uint8_t ni) {
    c->slot = callable;
    c->resume = pos;
    c->no_infix = ni;
}


// The value slot of the bound word w, whose site is s, when it is no local
// of the function being walked and the site has no slot: through its
// context, kept in the site for a context with a values series. Unresolved
// words raise what word_value_cell raises.
[[gnu::noinline]] Cell* context_slot(Site& s, const Cell* w) {
    const NodeId ctx = w->data1;
    const int32_t index = int32_t(w->data3);
    if (index >= 0) [[likely]] {
        const Cell* c = context_cell(ctx);
        if (c->data2) [[likely]] {
            if (c->header & CONTEXT_VALUES_ON_STACK) return stack::bottom + (c->data2 - 1) + index;
            SeriesBuffer* values = node_buffer(c->data2);
            if (uint32_t(index) < values->used() / sizeof(Cell)) {
                Cell* slot = values->cell_head() + index;
                s.claim();
                s.slot = slot;
                return slot;
            }
        }
    }
    return word_value_cell_in(w, ctx);
}

// A word's value slot: a local of the function whose body is being walked
// (fctx) at its arguments (fbase), else the site's cache, else its context.
[[gnu::always_inline]] inline Cell* word_slot(Site& s, const Cell* w, NodeId fctx, Cell* fbase) {
    if (s.local) {
        if (w->data1 == fctx) [[likely]]
            return fbase + w->data3;
    } else if (s.epoch == cache_epoch && s.slot) [[likely]] {
        return s.slot;
    }
    return context_slot(s, w);
}

// The value a bound word at `at` names when that takes no lookup that could
// raise: a local of the function walked, or the slot its site keeps.
[[gnu::always_inline]] inline const Cell* word_at_hand(const Cell* cells, Site* sites, uint32_t at, const Walked& f) {
    const Cell* w = cells + at;
    const Site& s = sites[at];
    if (s.local) return w->data1 == f.ctx ? f.base + w->data3 : nullptr;
    return s.epoch == cache_epoch ? s.slot : nullptr;
}
// The value at `at` when it needs no step and can raise nothing: a literal,
// or a word at hand with a plain value; else nullptr.
[[gnu::always_inline]] inline const Cell* value_at_hand(const Cell* cells, Site* sites, uint32_t at, const Walked& f) {
    const uint8_t kind = sites[at].kind;
    if (kind == SITE_LITERAL) return cells + at;
    if (kind != SITE_WORD) return nullptr;
    const Cell* v = word_at_hand(cells, sites, at, f);
    return v && plain_value(type_of(v)) ? v : nullptr;
}

// A branch of if, either or unless that is one value at hand, or `return`
// of one in a function this run walks, needs no walk of its own. Returns
// the branch's value (*returns: it is the function's result), or nullptr
// when the branch is walked.
[[gnu::always_inline]] inline const Cell* short_branch(const Cell& branch, Code* code, const Walked& f,
                                                       bool* returns, const Cell* cells) {
    const uint32_t at = branch.data1;
    const uint32_t n = code->length;
    if (tracing || at >= n || n - at > 2) return nullptr;
    Site* sites = code->sites();
    if (n - at == 1) {
        *returns = false;
        return value_at_hand(cells, sites, at, f);
    }
    if (!f.target || sites[at].kind != SITE_WORD || cells[at].data1 == f.ctx || sites[at].epoch != cache_epoch ||
        !sites[at].slot)
        return nullptr;
    const Cell* word = sites[at].slot;
    if (type_of(word) != TYPE_NATIVE || native_number(word) != NAT_RETURN) return nullptr;
    *returns = true;
    return value_at_hand(cells, sites, at + 1, f);
}


// The value of a block (from its position, `code` its decoded code) that
// is one expression needing no step and able to raise nothing: a value at
// hand, or two numbers at hand joined by an operator the direct path
// computes. Its value goes to *out; false when the block is walked. b: the
// block's buffer.
[[gnu::always_inline]] inline bool short_expression(const Cell& block, Code* code, const Walked& f, Cell* out,
                                                    SeriesBuffer* b) {
    if (block.data1 != 0 || !code->simple) return false;
    const Cell* cells = b->cell_head();
    Site* const sites = code->sites();
    const Cell* left = value_at_hand(cells, sites, 0, f);
    if (!left) return false;
    if (code->length == 1) {
        *out = *left;
        return true;
    }
    // Both operands are at hand: infix_compute's own checks of their types
    // are all the direct path needs.
    const Cell* op = word_at_hand(cells, sites, 1, f);
    if (!op || type_of(op) != TYPE_OP) return false;
    const Cell* right = value_at_hand(cells, sites, 2, f);
    if (!right) return false;
    *out = *left;
    return infix_compute(op_direct(op), out, right);
}

// A paren whose site keeps its code, when short_expression computes it.
[[gnu::always_inline]] inline bool short_paren(const Cell& paren, const Site& s, const Walked& f, Cell* out) {
    if (s.epoch != cache_epoch || !s.code->simple) return false;
    SeriesBuffer* b = node_buffer(paren.data2);
    if (s.code->length != b->used() / uint32_t(sizeof(Cell))) return false;
    return short_expression(paren, s.code, f, out, b);
}

// An operand that needs no step and can raise nothing: a value at hand, or
// a paren short_paren computes into *scratch. nullptr when it needs more.
[[gnu::always_inline]] inline const Cell* operand_at_hand(const Cell* cells, Site* sites, uint32_t at, const Walked& f,
                                                          Cell* scratch) {
    if (sites[at].kind == SITE_PAREN) return short_paren(cells[at], sites[at], f, scratch) ? scratch : nullptr;
    return value_at_hand(cells, sites, at, f);
}
// The same operand copied to *out: false when it needs more.
[[gnu::always_inline]] inline bool short_operand(const Cell* cells, Site* sites, uint32_t at, const Walked& f,
                                                 Cell* out) {
    const Cell* v = operand_at_hand(cells, sites, at, f, out);
    if (!v) return false;
    *out = *v;
    return true;
}

// The decoded code of a block a site or record keeps (kept: nullptr when
// not this epoch's), checked against the block's length as open_walk does.
inline Code* kept_code(NodeId node, Code* kept) {
    if (kept && kept->length == node_buffer(node)->used() / uint32_t(sizeof(Cell))) return kept;
    return block_code(node);
}

// An expression at `at` that needs no step and can raise nothing: an
// operand short_operand takes (Parens: else a value at hand), with the
// operators the direct path computes after it. Its value goes to *out;
// returns the position after it, 0 when it is walked.
template <bool Parens = true>
[[gnu::always_inline]] inline uint32_t expression_at_hand(const Cell* cells, Site* sites, uint32_t at, uint32_t tail,
                                                          const Walked& f, Cell* out) {
    if (at >= tail) return 0;
    if constexpr (Parens) {
        if (!short_operand(cells, sites, at, f, out)) return 0;
    } else {
        const Cell* v = value_at_hand(cells, sites, at, f);
        if (!v) return 0;
        *out = *v;
    }
    for (at++; at < tail && sites[at].kind == SITE_WORD; at += 2) {
        const Cell* op = word_at_hand(cells, sites, at, f);
        if (!op) return 0;
        if (type_of(op) != TYPE_OP) break;
        Cell scratch;
        const Cell* right = at + 1 >= tail ? nullptr
                            : Parens      ? operand_at_hand(cells, sites, at + 1, f, &scratch)
                                          : value_at_hand(cells, sites, at + 1, f);
        if (!right || !infix_compute(op_direct(op), out, right)) return 0;
    }
    return at;
}

// The decoded code of a block written in place at a literal site, kept in
// the site (a branch of if, either or unless); b: the block's buffer.
inline Code* literal_block_code(Site& s, const Cell& block, const SeriesBuffer* b) {
    Code* const kept = s.epoch == cache_epoch ? s.code : nullptr;
    if (kept && kept->length == b->used() / uint32_t(sizeof(Cell))) [[likely]]
        return kept;
    Code* const code = block_code(block.data2);
    s.claim();
    s.code = code;
    return code;
}

// What a conditional's site keeps of its shape once looked at under the
// site's epoch: the cells it is made of stay as they are while the epoch
// lasts, so only the values of its words are read again.
enum : uint32_t {
    SHAPE_KNOWN = 1,        // looked at: the bits below tell what was found
    SHAPE_FIXED = 2,        // an operand, or operand op operand, then blocks written in place
    SHAPE_EITHER = 4,       // looked at as either: two blocks
    SHAPE_INFIX = 8,        // the condition has an operator
    SHAPE_LEFT_WORD = 16,   // its first operand is a word (else a literal)
    SHAPE_RIGHT_WORD = 32,  // its operator's right operand is a word (else a literal)
    SHAPE_WORD_AFTER = 64,  // a word follows the last block
};

inline bool block_at(const Cell* cells, const Site* sites, uint32_t i) {
    return sites[i].kind == SITE_LITERAL && type_of(cells + i) == TYPE_BLOCK;
}

// The shape of if, unless or either (number n) at pos.
[[gnu::noinline]] uint32_t conditional_shape(const Cell* cells, const Site* sites, uint32_t pos, uint32_t tail,
                                             uint32_t n) {
    uint32_t shape = n == NAT_EITHER ? SHAPE_KNOWN | SHAPE_EITHER : uint32_t(SHAPE_KNOWN);
    uint32_t at = pos + 1;
    if (at >= tail || !sites[at].operand()) return shape;
    if (sites[at].kind == SITE_WORD) shape |= SHAPE_LEFT_WORD;
    at++;
    if (at + 1 < tail && sites[at].kind == SITE_WORD && sites[at + 1].operand()) {
        shape |= SHAPE_INFIX;
        if (sites[at + 1].kind == SITE_WORD) shape |= SHAPE_RIGHT_WORD;
        at += 2;
    }
    const uint32_t after = at + (n == NAT_EITHER ? 2 : 1);
    if (after > tail || !block_at(cells, sites, at) || (n == NAT_EITHER && !block_at(cells, sites, at + 1)))
        return shape;
    if (after < tail && sites[after].kind == SITE_WORD) shape |= SHAPE_WORD_AFTER;
    return shape | SHAPE_FIXED;
}

// An operand the shape names: a literal, or a word at hand with a plain value.
[[gnu::always_inline]] inline const Cell* shaped_operand(const Cell* cells, Site* sites, uint32_t at, const Walked& f,
                                                         bool word) {
    if (!word) return cells + at;
    const Cell* v = word_at_hand(cells, sites, at, f);
    return v && plain_value(type_of(v)) ? v : nullptr;
}

// if, unless or either (number n) at pos, whose condition is an expression
// at hand and whose branches are blocks written in place: the condition's
// value goes to *cond, the branch taken to *taken (nullptr: none is) with
// its code to *code and its cells to *branch_cells; returns the position
// after the call, 0 when the call takes the general steps. Notes the shape
// in the site, once per epoch, for short_conditional.
[[gnu::always_inline]] inline uint32_t conditional_at_hand(const Cell* cells, Site* sites, uint32_t pos,
                                                           uint32_t tail, const Walked& f, uint32_t n, Cell* cond,
                                                           const Cell** taken, Code** code,
                                                           const Cell** branch_cells) {
    Site& s = sites[pos];
    if (s.epoch != cache_epoch || !s.shape) [[unlikely]] {
        const uint32_t shape = conditional_shape(cells, sites, pos, tail, n);
        s.claim();
        s.shape = shape;
    }
    // short_conditional reads a fixed shape itself and comes here for
    // anything else: the condition is read the general way.
    const uint32_t at = expression_at_hand(cells, sites, pos + 1, tail, f, cond);
    const uint32_t after = at + (n == NAT_EITHER ? 2 : 1);
    if (!at || after > tail || !block_at(cells, sites, at) || (n == NAT_EITHER && !block_at(cells, sites, at + 1)))
        return 0;
    // An operator after the last block takes it as its left operand.
    if (after < tail && sites[after].kind == SITE_WORD) {
        const Cell* next = word_at_hand(cells, sites, after, f);
        if (!next || type_of(next) == TYPE_OP) return 0;
    }
    uint32_t branch = at;
    if (n == NAT_EITHER) {
        if (!is_truthy(cond)) branch++;
    } else if (is_truthy(cond) == (n == NAT_UNLESS)) {
        *taken = nullptr;
        return after;
    }
    *taken = cells + branch;
    // Making the code moves no buffer: b stays where it is.
    SeriesBuffer* b = node_buffer(cells[branch].data2);
    *code = literal_block_code(sites[branch], cells[branch], b);
    *branch_cells = b->cell_head();
    return after;
}

// What short_conditional found: the call's value when the branch needs no
// walk (nullptr: it is walked; returns: it is return of the value); for a
// branch walked, the condition's value, the branch and its code.
struct ShortConditional {
    Cell cond;
    const Cell* branch;
    Code* code;
    const Cell* value;
    bool returns;
};
// Read by the run loop as soon as short_conditional returns, before any Kem
// code can run: one for all runs of the loop, at a fixed place.
ShortConditional sc;

// if, unless or either (number n) at pos as conditional_at_hand takes it,
// its branch given by short_branch where it can be; returns the position
// after the call, 0 when the call takes the general steps.
[[gnu::noinline]] uint32_t conditional_in_full(const Cell* cells, Site* sites, uint32_t pos, uint32_t tail,
                                               const Walked& f, uint32_t n) {
    const Cell* branch_cells = nullptr;
    const uint32_t after =
        conditional_at_hand(cells, sites, pos, tail, f, n, &sc.cond, &sc.branch, &sc.code, &branch_cells);
    if (!after) return 0;
    sc.returns = false;
    sc.value = sc.branch ? short_branch(*sc.branch, sc.code, f, &sc.returns, branch_cells) : &none_value;
    return after;
}

// The same, first through the shape the site keeps and the code the taken
// branch's site keeps: that way calls nothing, so it saves no registers.
// Anything it does not find as it was goes the full way.
[[gnu::noinline]] uint32_t short_conditional(const Cell* cells, Site* sites, uint32_t pos, uint32_t tail,
                                             const Walked& f, uint32_t n) {
    Site& s = sites[pos];
    const uint32_t fixed = n == NAT_EITHER ? SHAPE_FIXED | SHAPE_EITHER : uint32_t(SHAPE_FIXED);
    if (s.epoch != cache_epoch || (s.shape & (SHAPE_FIXED | SHAPE_EITHER)) != fixed) [[unlikely]]
        return conditional_in_full(cells, sites, pos, tail, f, n);
    const uint32_t shape = s.shape;
    const Cell* left = shaped_operand(cells, sites, pos + 1, f, shape & SHAPE_LEFT_WORD);
    if (!left) [[unlikely]]
        return conditional_in_full(cells, sites, pos, tail, f, n);
    uint32_t at = pos + 2;
    bool truth;
    bool cond_kept = true;  // sc.cond holds the condition's value (else it is the logic! of truth)
    if (shape & SHAPE_INFIX) {
        const Cell* op = word_at_hand(cells, sites, at, f);
        if (!op || type_of(op) != TYPE_OP) [[unlikely]]
            return conditional_in_full(cells, sites, pos, tail, f, n);
        const uint8_t ix = op_direct(op);
        const Cell* right = shaped_operand(cells, sites, at + 1, f, shape & SHAPE_RIGHT_WORD);
        if (!right) [[unlikely]]
            return conditional_in_full(cells, sites, pos, tail, f, n);
        const uint32_t outcomes = comparison_outcomes(ix);
        if (type_of(left) == TYPE_INTEGER && type_of(right) == TYPE_INTEGER && outcomes) [[likely]] {
            // Two integers compared: the outcome picks its bit of the
            // comparison's outcomes, and that the branch.
            truth = (outcomes >> integer_outcome(cell_int(left), cell_int(right))) & 1;
            cond_kept = false;
        } else {
            sc.cond = *left;
            if (!infix_compute(ix, &sc.cond, right)) [[unlikely]]
                return conditional_in_full(cells, sites, pos, tail, f, n);
            truth = is_truthy(&sc.cond);
        }
        at += 2;
    } else {
        sc.cond = *left;
        truth = is_truthy(left);
    }
    const uint32_t after = at + (n == NAT_EITHER ? 2 : 1);
    if ((shape & SHAPE_WORD_AFTER) || after > tail) [[unlikely]]
        return conditional_in_full(cells, sites, pos, tail, f, n);
    uint32_t branch = at;
    if (n == NAT_EITHER) {
        if (!truth) branch++;
    } else if (truth == (n == NAT_UNLESS)) {
        sc.value = &none_value;
        sc.returns = false;
        return after;
    }
    const Site& bs = sites[branch];
    SeriesBuffer* b = node_buffer(cells[branch].data2);
    Code* const code = bs.epoch == cache_epoch ? bs.code : nullptr;
    if (!code || code->length != b->used() / uint32_t(sizeof(Cell))) [[unlikely]]
        return conditional_in_full(cells, sites, pos, tail, f, n);
    sc.returns = false;
    sc.value = short_branch(cells[branch], code, f, &sc.returns, b->cell_head());
    if (!sc.value) {
        // The branch is walked in the conditional's frame, its condition with it.
        sc.branch = cells + branch;
        sc.code = code;
        if (!cond_kept) make_logic(&sc.cond, truth);
    }
    return after;
}

// A set-word at pos whose value needs no step and can raise nothing (an
// operand short_operand takes, with the operators the direct path computes
// after it), stored into a slot that takes it at once: no frame, no record.
// Returns the position after the expression, its value pushed; 0 when the
// set-word is walked.
[[gnu::always_inline]] inline uint32_t set_word_at_hand(const Cell* cells, Site* sites, uint32_t pos, uint32_t tail,
                                                        const Walked& f) {
    Cell value;
    const uint32_t at = expression_at_hand(cells, sites, pos + 1, tail, f, &value);
    if (!at) return 0;
    const Cell* word = cells + pos;
    Cell* target = !sites[pos].local ? site_store(sites[pos]) : word->data1 == f.ctx ? f.base + word->data3 : nullptr;
    if (!target) return 0;
    *target = value;
    stack::push(&value);
    return at;
}

[[gnu::noinline]] uint32_t short_set_word(const Cell* cells, Site* sites, uint32_t pos, uint32_t tail,
                                          const Walked& f) {
    return set_word_at_hand(cells, sites, pos, tail, f);
}

[[noreturn, gnu::cold, gnu::noinline]] void word_error(const Cell& word, uint8_t t) {
    if (t == TYPE_UNSET) fire(Err::script_no_value, word);
    fire(Err::script_no_op_arg, word);
}

// What the general walk does for the run loop: an expression of a kind no
// site takes, or a traced one; a call no record takes; a path no cache
// takes; a literal argument; an operator's full call.
[[gnu::noinline]] uint32_t general_expression(const Cont* w, uint32_t pos, bool ni) {
    const Cell b = block_value(w);
    return walk_expression(pos, w->tail, &b, ni ? EvalFlags::no_infix | EvalFlags::push : EvalFlags::push);
}
[[gnu::noinline]] uint32_t general_call(const Cell& fn, const Cell& name, uint32_t pos, const Cont* w, EvalFlags flags) {
    const Cell b = block_value(w);
    return eval_call(&fn, pos, w->tail, &b, flags, &name, nullptr, 0);
}
[[gnu::noinline]] uint32_t general_path(const Cell& path, uint32_t pos, const Cont* w) {
    const Cell b = block_value(w);
    return eval_path(&path, pos, w->tail, &b, EvalFlags::push);
}
[[gnu::noinline]] uint32_t literal_argument(const Cell* cells, uint32_t pos, const Cont* w) {
    const Cell b = block_value(w);
    return push_literal_argument(cells[pos], pos + 1, w->tail, &b);
}
[[gnu::noinline]] bool set_path(const Cell& path, uint32_t pos, const Cont* w) {
    if (store_field(path)) return true;
    const Cell b = block_value(w);
    eval_path(&path, pos, w->tail, &b, EvalFlags::set);
    return !pending();
}
// A loop's next step and the settling of a pass, which may run change
// handlers. False when an exit is pending.
[[gnu::noinline]] bool step_loop(LoopState& s, const Cell** block) {
    try {
        *block = loop_step(s);
    } catch (const PendingExit&) {
        return false;
    }
    return !pending();
}
[[gnu::noinline]] bool settle_loop(LoopState& s) {
    try {
        return loop_settle(s);
    } catch (const PendingExit&) {
        return false;
    }
}

// The codes a loop's record keeps for its condition and body blocks, dropped
// once the cache_epoch they were found under has passed.
inline void forget_stale_pass_codes(Cont* c) {
    if (c->pass_epoch == cache_epoch) return;
    c->pass_code[0] = c->pass_code[1] = nullptr;
    c->pass_epoch = cache_epoch;
}
inline Code* kept_pass_code(Cont* c, int which, NodeId block) {
    forget_stale_pass_codes(c);
    return c->pass_code[which] = kept_code(block, c->pass_code[which]);
}

// Runs a loop's body here, without a walk, while each of its expressions
// is a set-word short_set_word takes: true when all of them were, the last
// one's value in the loop's result cell. Otherwise *at is the expression the
// body is walked from, with nothing after it done and the data top at the
// result cell.
bool short_body(const Cell& body, Code* code, const Walked& f, uint32_t* at) {
    const Cell* cells = node_buffer(body.data2)->cell_head();
    Site* const sites = code->sites();
    const uint32_t tail = code->length;
    uint32_t pos = body.data1;
    bool ran = false;
    while (pos < tail && sites[pos].kind == SITE_SET_WORD) {
        stack::top = stack::arguments;
        const uint32_t after = set_word_at_hand(cells, sites, pos, tail, f);
        if (!after) break;
        for (uint32_t i = pos; i < after; i++) verify_site(cells, sites, body.data2, i);
        pos = after;
        ran = true;
    }
    if (ran && pos >= tail) return true;
    stack::top = stack::arguments;
    *at = pos;
    return false;
}

// The next pass of while, loop or repeat taken here, without the loop's
// steps: the body block, on the loop frame with the data top at its result
// cell, and *start the position its walk begins at; or nullptr when the loop
// takes its step. A while condition of one expression that can raise
// nothing is tested here, after a safe point as its walk would pass; a body
// short_body runs goes on to the next pass at once, each pass passing one
// safe point.
[[gnu::noinline]] const Cell* direct_pass(Cont* c, const Walked& f, uint32_t* start) {
    LoopState& ls = c->loop;
    for (;;) {
        bool safe = false;
        if (ls.number == NAT_WHILE && !tracing) {
            if (ls.next == NEXT_COND) {
                collector::safe_point();
                safe = true;
                const Cell* cond = ls.args;
                Code* const code = kept_pass_code(c, 0, cond->data2);
                Cell value;
                if (short_expression(*cond, code, f, &value, node_buffer(cond->data2))) ls.next = is_truthy(&value) ? NEXT_BODY : NEXT_END;
            }
            if (ls.next != NEXT_BODY) return nullptr;
            ls.next = NEXT_PASS;
        } else if (ls.next == NEXT_PASS && ls.done < ls.count) {
            if (ls.number == NAT_REPEAT) {
                // The word takes the count from a cell the body cannot reach; a
                // store that needs more (an object's change handler) is left to
                // the loop's step.
                Cell* slot = context_store_slot(ls.word);
                if (!slot) return nullptr;
                make_integer(ls.series, int32_t(ls.done + 1));
                *slot = *ls.series;
            }
            ls.done++;
        } else {
            return nullptr;
        }
        stack::top = stack::arguments;
        ls.handed = HANDED_BODY;
        const Cell* body = ls.number == NAT_REPEAT ? ls.args + 2 : ls.args + 1;
        *start = body->data1;
        if (tracing) return body;
        if (!safe) {
            // A body whose kept code is gone, or which short_body cannot
            // start on, is walked: the walk passes its own safe point (the
            // collector is then not reached from here, where the machine
            // stack may name nodes and keep their frames in place).
            forget_stale_pass_codes(c);
            Code* const kept = c->pass_code[1];
            if (!kept || *start >= kept->length || kept->sites()[*start].kind != SITE_SET_WORD) return body;
            collector::safe_point();
        }
        Code* const code = kept_pass_code(c, 1, body->data2);
        if (!short_body(*body, code, f, start)) return body;
        ls.next = ls.number == NAT_WHILE ? NEXT_COND : NEXT_PASS;
    }
}

// A call to a function the run loop walks is the whole of the paren walked
// at w (the paren's one expression, or its last, with no record of its own
// waiting: pos is the paren's tail and the callable sits at its base), so the
// paren's walk can end before the body starts.
[[gnu::always_inline]] inline bool paren_ends_with_call(const Cont* w, const Cell* callable, uint32_t pos) {
    return w->end == END_PAREN && pos >= w->tail && conts_top - 1 == w && callable == w->base;
}

// The record on top is the walk w itself, taking each expression's value
// in turn (no call, operator or set-word waits for it). An expression done
// with nothing changed since the loop last refreshed its pointers then lets
// the walk go on to its next expression, or end, at once, as value_done
// would. Every way to operand_done refreshes after the code it ran.
[[gnu::always_inline]] inline bool walk_on_top(const Cont* w) {
    return conts_top - 1 == w && w->end != END_SINGLE;
}

// A paren that is one call of a function, each argument a value at hand,
// with the number operators the direct path computes after it, of a type
// the function takes, and with room on every stack for the call to start:
// pushes the callable, its frame and its arguments as the loop's call
// would, the call's name to *name, and returns its record. Nothing can raise
// before the body runs, so the paren needs no walk of its own; its value is
// the call's. nullptr (with nothing pushed) when the paren is walked.
[[gnu::noinline]] CallRecord* paren_call(const Cell& paren, Code* code, const Walked& f, Cell* name) {
    SeriesBuffer* const b = node_buffer(paren.data2);
    const uint32_t tail = code->length;
    uint32_t at = paren.data1;
    if (trace_on || at >= tail || tail != b->used() / uint32_t(sizeof(Cell))) return nullptr;
    const Cell* const cells = b->cell_head();
    Site* const sites = code->sites();
    if (sites[at].kind != SITE_WORD) return nullptr;
    const Cell* fn = word_at_hand(cells, sites, at, f);
    if (!fn || type_of(fn) != TYPE_FUNCTION) return nullptr;
    CallRecord* const rec = cached_record(sites[at], fn);
    // Room for the callable, at most eight arguments, the function's other
    // slots and its body's value cell.
    if (!rec->quick_start || stack::top + 10 + QUICK_START_SLOTS >= stack::limit ||
        stack::frames_top >= stack::frames_limit || conts_top + 1 >= conts + CONT_CAPACITY)
        return nullptr;
    Cell* const callable = stack::push(fn);
    stack::push_frame(cells + at, rec->frame_top);
    at++;
    uint32_t k = 0;
    for (; k < rec->required; k++) {
        Cell* const arg = stack::push_slot();
        if (rec->arg_kind[k] != ARG_NORMAL || !(at = expression_at_hand<false>(cells, sites, at, tail, f, arg)) ||
            !record_accepts(rec, k, type_of(arg)))
            break;
    }
    // Every argument taken, and nothing after them.
    if (k == rec->required && at == tail) {
        for (uint32_t i = paren.data1; i < tail; i++) verify_site(cells, sites, paren.data2, i);
        *name = cells[paren.data1];
        return rec;
    }
    stack::pop_frame_keep_result();
    stack::top = callable;
    return nullptr;
}

// A function called in a trace run, which follows its trace attributes.
[[gnu::noinline]] bool traced_function(Cell* callable) {
    try {
        call_function(callable);
    } catch (const PendingExit&) {
        return false;
    }
    return !pending();
}

// Walks until the record `leave` is reached again. single: one expression
// of the block at pos (else the whole block from its position).
uint32_t loop(Cont* const leave, const Cell& block, uint32_t pos, uint32_t tail_in, bool single, bool no_infix) {
    Cont* w;
    const Cell* cells;
    Site* sites;
    uint32_t tail;
    bool ni = no_infix;
    Walked f{0, nullptr, nullptr};  // the innermost function whose body is walked here
    Cont* landing;
    Cell fn, name;
    const Cell* ret;  // the value a return or exit gives its function
    CallRecord* rec;
    const Cell* slot;
    Cell* cslot;  // the call gathering its arguments: its callable's cell,
    uint32_t carg;  // the argument it gathers,
    uint8_t cni;    // and the no_infix of the expression it is part of

#define KEM_LOAD() (cells = w->cells, sites = w->sites, tail = w->tail)
#define KEM_REFRESH()                  \
    do {                               \
        if (w->epoch != cache_epoch) { \
            reload(w);                 \
            KEM_LOAD();                \
        }                              \
    } while (0)
#define KEM_SLOT(at) word_slot(sites[at], cells + (at), f.ctx, f.base)
    const auto suspend_call = [&] {
        Cont* c = push_cont(K_ARGS);
        c->no_infix = cni;
        c->slot = cslot;
        c->rec = rec;
        c->epoch = cache_epoch;
        c->arg = carg;
        c->a = name;
    };

    {
        if (single) {
            w = push_cont(K_WALK);
            w->end = END_SINGLE;
            w->a = block;
            w->tail = tail_in;
            w->outer = nullptr;
            w->base = stack::top;
            reload(w);
            KEM_LOAD();
            goto expression;
        }
        w = open_walk(block, END_LEAVE, nullptr, nullptr);
        KEM_LOAD();
        pos = block.data1;

    next_expression:
        // pos: the walk's next expression.
        if (pos >= tail) goto walk_end;
        // The value before is dropped: it must not outlive its expression.
        stack::top = w->base;
        collector::safe_point();
        KEM_REFRESH();
    first_expression:
        ni = false;
        if (w->track) {
            position = w->a;
            position.data1 = pos;
        }

    expression:
        if (tracing) [[unlikely]] {
            pos = general_expression(w, pos, ni);
            if (pending()) goto exit_pending;
            goto value_done;
        }
        verify_site(cells, sites, w, pos);
        switch (sites[pos].kind) {
        case SITE_LITERAL:
            stack::push(cells + pos);
            pos++;
            goto operand_done;
        case SITE_WORD:
            slot = KEM_SLOT(pos);
            if (plain_value(type_of(slot))) [[likely]] {
                stack::push(slot);
                pos++;
                goto operand_done;
            }
            goto word_call;
        case SITE_SET_WORD: {
            if (const uint32_t after = short_set_word(cells, sites, pos, tail, f)) {
                for (uint32_t i = pos; i < after; i++) verify_site(cells, sites, w, i);
                pos = after;
                if (walk_on_top(w)) goto next_expression;
                goto value_done;
            }
            const Cell word = cells[pos];
            Cont* c = push_cont(K_SET_WORD);
            c->arg = pos;
            c->epoch = cache_epoch;
            if (++pos >= tail) fire(Err::script_need_value, word);
            stack::push_frame(&word, FRAME_TOP_NATIVE);
            stack::push(&word);
            ni = false;
            goto expression;
        }
        case SITE_GET_WORD:
            stack::push(KEM_SLOT(pos));
            pos++;
            goto operand_done;
        case SITE_LIT_WORD:
        case SITE_LIT_PATH: {
            Cell value = cells[pos];
            set_type(&value, sites[pos].kind == SITE_LIT_WORD ? TYPE_WORD : TYPE_PATH);
            stack::push(&value);
            pos++;
            goto operand_done;
        }
        case SITE_PAREN: {
            Site& s = sites[pos];
            Code* code = s.epoch == cache_epoch ? s.code : nullptr;
            // A paren of one expression that can raise nothing is computed
            // here, without a walk of its own.
            Cell value;
            if (code && short_paren(cells[pos], s, f, &value)) {
                stack::push(&value);
                pos++;
                goto operand_done;
            }
            if (code) {
                if (CallRecord* const r = paren_call(cells[pos], code, f, &name)) {
                    rec = r;
                    cslot = stack::arguments - 1;
                    cni = ni;
                    pos++;
                    goto call_ready;
                }
            }
            Cont* paren = open_walk(cells[pos], END_PAREN, w, code);
            if (!code) {
                s.claim();
                s.code = code_of(paren);
            }
            paren->resume = pos + 1;
            paren->no_infix = ni;
            w = paren;
            KEM_LOAD();
            pos = paren->a.data1;
            // Its first expression follows a safe point of the expression the
            // paren is in, under the same cache_epoch.
            if (pos >= tail) goto walk_end;
            goto first_expression;
        }
        case SITE_PATH: {
            // p/x on an object, through the site.
            Site& s = sites[pos];
            if (path_site_holds(s) || path_site(s, cells[pos], false)) {
                const uint8_t t = type_of(s.slot);
                if (callable_type(t)) {
                    fn = *s.slot;
                    rec = cached_record(s, &fn);
                    const Cell* path = cells + pos;
                    const Cell* field = node_buffer(path->data2)->cell_head() + path->data1 + 1;
                    name = Cell{TYPE_WORD, s.object, field->data2, s.field};
                    pos++;
                    goto call;
                }
                if (t != TYPE_UNSET) {
                    stack::push(s.slot);
                    pos++;
                    goto operand_done;
                }
            }
            pos = general_path(cells[pos], pos + 1, w);
            if (pending()) goto exit_pending;
            KEM_REFRESH();
            goto operand_done;
        }
        case SITE_SET_PATH: {
            Cont* c = push_cont(K_SET_PATH);
            c->a = cells[pos];
            c->arg = pos;
            c->epoch = cache_epoch;
            if (++pos >= tail) fire(Err::script_need_value, c->a);
            stack::push_frame(&rt_words.set_path, FRAME_TOP_NATIVE);
            ni = false;
            goto expression;
        }
        default:
            pos = general_expression(w, pos, ni);
            if (pending()) goto exit_pending;
            goto value_done;
        }

    word_call: {
        // A word whose value is no plain value: a call, return or exit, or an error.
        const uint8_t t = type_of(slot);
        name = cells[pos];
        if (t == TYPE_UNSET || t == TYPE_OP) [[unlikely]]
            word_error(name, t);
        if (t == TYPE_NATIVE) {
            // return and exit leave as cheaply as a call returns: their value
            // goes straight into the current result cell and the stacks unwind
            // from here.
            const uint32_t n = native_number(slot);
            if (n == NAT_RETURN && pos + 1 < tail) {
                const uint32_t at = pos + 1;
                if (f.target) {
                    // return with a value at hand lands at once.
                    const Cell* value = value_at_hand(cells, sites, at, f);
                    if (value && !(at + 1 < tail && sites[at + 1].kind == SITE_WORD &&
                                   type_of(KEM_SLOT(at + 1)) == TYPE_OP)) {
                        verify_site(cells, sites, w, at);
                        pos = at + 1;
                        ret = value;
                        goto return_value;
                    }
                }
                Cont* c = push_cont(K_RETURN);
                c->a = name;
                pos++;
                ni = false;
                goto expression;
            }
            if (n == NAT_IF || n == NAT_UNLESS || n == NAT_EITHER) {
                // A condition at hand and a branch that is one value at hand
                // (or none taken) need no frame: nothing here can raise or see it.

                if (const uint32_t after = short_conditional(cells, sites, pos, tail, f, n)) {
                    for (uint32_t i = pos; i < after; i++) verify_site(cells, sites, w, i);
                    pos = after;
                    if (!sc.value) goto walk_branch;
                    if (sc.returns) {
                        ret = sc.value;
                        goto return_value;
                    }
                    *stack::push_slot() = *sc.value;
                    // No word follows the call (its shape says so): no
                    // operator applies.
                    if (!ni && walk_on_top(w)) goto next_expression;
                    goto operand_done;
                }
            }
            if (n == NAT_EXIT) {
                pos++;
                if (f.target) {
                    ret = &unset_value;
                    goto return_value;
                }
                stack::unwind_return(false, true, &name);
                goto exit_pending;
            }
        }
        fn = *slot;
        rec = cached_record(sites[pos], &fn);
        pos++;
    }

    call: {
        // fn, named by name, with its arguments from pos on. The call's state
        // stays in locals while its arguments need no expression step of
        // their own; one that does puts it in a K_ARGS record meanwhile.
        if (!rec->usable) [[unlikely]] {
            pos = general_call(fn, name, pos, w, EvalFlags::push);
            if (pending()) goto exit_pending;
            KEM_REFRESH();
            goto operand_done;
        }
        cslot = stack::push(&fn);
        // A function's frame takes its context at call_ready.
        stack::push_frame(&name, rec->frame_top);
        cni = ni;
        carg = 0;
    }

    next_argument:
        // The call in cslot, rec and name gathers its argument carg, at pos.
        for (; carg < rec->required; carg++) {
            if (pos >= tail) [[unlikely]] {
                missing_argument(name, *cslot, rec, carg);
            } else if (rec->arg_kind[carg] == ARG_NORMAL) {
                // A literal, or a word's plain value, needs no expression step,
                // and neither does a number operator with such a right operand.
                const uint8_t kind = sites[pos].kind;
                const Cell* value;
                if (kind == SITE_LITERAL) {
                    value = cells + pos;
                } else if (kind == SITE_WORD) {
                    value = KEM_SLOT(pos);
                    if (!plain_value(type_of(value))) goto argument_expression;
                } else {
                    goto argument_expression;
                }
                verify_site(cells, sites, w, pos);
                stack::push(value);
                pos++;
                while (pos < tail && sites[pos].kind == SITE_WORD) {
                    slot = KEM_SLOT(pos);
                    if (type_of(slot) != TYPE_OP) break;
                    const uint32_t at = pos + 1;
                    if (at >= tail) goto argument_operator;
                    const uint8_t rk = sites[at].kind;
                    const Cell* right;
                    if (rk == SITE_LITERAL) right = cells + at;
                    else if (rk == SITE_WORD) right = KEM_SLOT(at);
                    else goto argument_operator;
                    const uint8_t rt = type_of(right);
                    const uint8_t ix = op_direct(slot);
                    if ((rt != TYPE_INTEGER && rt != TYPE_FLOAT) || !infix_direct(ix, stack::top - 1) ||
                        !infix_compute(ix, stack::top - 1, right))
                        goto argument_operator;
                    verify_site(cells, sites, w, pos);
                    verify_site(cells, sites, w, at);
                    pos = at + 1;
                }
            } else if (rec->arg_kind[carg] == ARG_GET) {
                stack::push(cells + pos);
                pos++;
            } else {
                const uint32_t epoch = cache_epoch;
                pos = literal_argument(cells, pos, w);
                if (pending()) goto exit_pending;
                KEM_REFRESH();
                if (epoch != cache_epoch) rec = call_record(cslot);
            }
            const Cell* got = stack::top - 1;
            if (!record_accepts(rec, carg, type_of(got))) [[unlikely]]
                fire_expect(&name, got, cslot, int(carg));
        }
        goto call_ready;

    argument_operator:
        // The argument's operator needs more than numbers at hand: the call
        // waits in a record while the operator runs (slot holds it, at pos).
        suspend_call();
        ni = false;
        goto apply_operator;

    argument_expression:
        // The argument needs an expression step: the call waits in a record.
        suspend_call();
        ni = false;
        goto expression;

    call_ready: {
        // Every argument is in place.
        Cell* const callable = cslot;
        const uint8_t resume_ni = cni;
        CallRecord* const r = rec;
        if (r->kind != TYPE_FUNCTION) {
            if (r->kind == TYPE_NATIVE &&
                (r->number == NAT_IF || r->number == NAT_UNLESS || r->number == NAT_EITHER)) {
                if (const Cell* branch = conditional_branch(r->number)) {
                    Code* const code = block_code(branch->data2);
                    bool returns;
                    const Cell* bcells = node_buffer(branch->data2)->cell_head();
                    if (const Cell* value = short_branch(*branch, code, f, &returns, bcells)) {
                        if (returns) {
                            ret = value;
                            goto return_value;
                        }
                        *stack::arguments = *value;
                        stack::pop_frame_keep_result();
                        take_result(callable);
                        ni = resume_ni;
                        goto operand_done;
                    }
                    w = open_walk(*branch, END_BRANCH, w, code);
                    resume_after(w, callable, pos, resume_ni);
                    KEM_LOAD();
                    pos = w->a.data1;
                    goto next_expression;
                }
            } else if (r->kind == TYPE_NATIVE && loop_native(r->number)) {
                // The loop's passes are walked here, one step at a time.
                Cont* c = push_cont(K_LOOP);
                resume_after(c, callable, pos, resume_ni);
                c->outer = w;
                c->caller = f;
                c->pass_epoch = 0;
                if (loop_open(r->number, c->loop)) {
                    c->frame = stack::frames_top - 1;
                    goto loop_next;
                }
                conts_top = c;
            } else if (!call_native(r)) {
                goto exit_pending;
            }
            stack::pop_frame_keep_result();
            take_result(callable);
            ni = resume_ni;
            KEM_REFRESH();
            goto operand_done;
        }
        if (r->any_slots) push_function_slots(r);
        if (trace_on) [[unlikely]] {
            if (!traced_function(callable)) goto exit_pending;
            end_function(callable);
            ni = resume_ni;
            KEM_REFRESH();
            goto operand_done;
        }
        // The function's context points at its arguments and locals; its
        // frame is where return and exit land, unless it is part of the
        // system (then they leave the caller's function).
        const NodeId ctx = function_context(callable);
        CallFrame* const frame = stack::frames_top - 1;
        stack::enter_function_context(frame, ctx);
        bool restore = false;
        if (!r->system) {
            frame->header |= FRAME_RETURN_TARGET;
        } else if (track_position) {
            // A function of the system stands for compiled code.
            track_position = false;
            restore = true;
        }
        if (!r->body) [[unlikely]] {
            make_unset(stack::arguments);
            if (restore) track_position = true;
            finish_function(callable, stack::arguments);
            ni = resume_ni;
            goto operand_done;
        }
        Code* code = r->body_epoch == cache_epoch ? r->body_code : nullptr;
        const Cell body{TYPE_BLOCK, r->body_index, r->body, 0};
        if (paren_ends_with_call(w, callable, pos)) {
            // The paren's value is the call's: the body takes the paren's
            // record, going back where the paren would and putting back the
            // position the paren found.
            fill_walk(w, body, END_BODY, code);
            w->slot = callable;
        } else {
            w = open_walk(body, END_BODY, w, code);
            resume_after(w, callable, pos, resume_ni);
        }
        if (!code) {
            r->body_code = code_of(w);
            r->body_epoch = cache_epoch;
        }
        w->frame = frame;
        w->restore = restore;
        w->caller = f;
        f = Walked{ctx, stack::arguments, r->system ? f.target : w};
        KEM_LOAD();
        pos = body.data1;
        goto next_expression;
    }

    loop_next: {
        // The K_LOOP record on top takes its next step.
        Cont* c = conts_top - 1;
        const Cell* block;
        uint32_t start;
        const uint32_t number = c->loop.number;
        if ((number == NAT_WHILE || number == NAT_LOOP || number == NAT_REPEAT) && (block = direct_pass(c, f, &start)))
            goto open_pass;
        if (!step_loop(c->loop, &block)) goto exit_pending;
        if (!block) {
            // The loop is over: the native's frame is on top with its result.
            stack::pop_frame_keep_result();
            take_result(c->slot);
            pos = c->resume;
            ni = c->no_infix;
            conts_top = c;
            KEM_REFRESH();
            goto operand_done;
        }
        start = block->data1;
    open_pass:
        // The blocks of a loop's passes are the same each time: their codes
        // are kept in its record.
        const int which = block == c->loop.args ? 0 : 1;
        forget_stale_pass_codes(c);
        Code* const code = c->pass_code[which];
        w = open_walk(*block, END_LOOP, w, code);
        if (!code) c->pass_code[which] = code_of(w);
        KEM_LOAD();
        pos = start;
        goto next_expression;
    }

    operand_done:
        // A value is on top and pos is after it: the operators after it apply.
        if (ni) goto value_done;
    operand_next:
        if (pos >= tail) {
            // The walk's last expression is done: a walk that takes its
            // value itself ends here.
            if (walk_on_top(w)) goto walk_end;
            goto value_done;
        }
        if (sites[pos].kind != SITE_WORD) goto value_done;
        verify_site(cells, sites, w, pos);
        slot = KEM_SLOT(pos);
        if (type_of(slot) != TYPE_OP) goto value_done;
    apply_operator: {
        // slot holds the operator at pos.
        const Cell op = *slot;
        const uint32_t at = pos + 1;
        Cell* left = stack::top - 1;
        const uint8_t ix = op_direct(&op);
        if (at < tail && infix_direct(ix, left)) {
            const uint8_t kind = sites[at].kind;
            if (kind == SITE_LITERAL || kind == SITE_WORD) {
                verify_site(cells, sites, w, at);
                const Cell* right = kind == SITE_LITERAL ? cells + at : KEM_SLOT(at);
                const uint8_t rt = type_of(right);
                if (rt == TYPE_INTEGER || rt == TYPE_FLOAT) {
                    if (infix_compute(ix, left, right)) {
                        pos += 2;
                        goto operand_next;
                    }
                    goto full_operator;  // an overflow or a zero divisor
                }
            }
            // The right operand needs evaluating, in the operator's frame.
            Cont* c = push_cont(K_OPERATOR);
            c->a = op;
            c->arg = ix;
            c->b = cells[pos];
            c->no_infix = 0;
            stack::top = left;
            stack::push_interp_native_frame(&c->b);
            stack::top = left + 1;
            pos = at;
            ni = true;
            goto expression;
        }
    full_operator:
        name = cells[pos];
        fn = op_callable(&op);
        pos = general_call(fn, name, at, w, EvalFlags::push | EvalFlags::infix);
        if (pending()) goto exit_pending;
        KEM_REFRESH();
        goto operand_next;
    }

    value_done: {
        // An expression's value is on top, pos after it: the record on top
        // says what it is for.
        KEM_REFRESH();
        Cont* c = conts_top - 1;
        switch (c->kind) {
        case K_WALK:
            if (c->end == END_SINGLE) {
                conts_top = leave;
                return pos;
            }
            // The value is in place, at the walk's base.
            goto next_expression;
        case K_ARGS: {
            // The call goes on in locals.
            cslot = c->slot;
            rec = c->epoch == cache_epoch ? c->rec : call_record(cslot);
            carg = c->arg;
            cni = c->no_infix;
            name = c->a;
            conts_top = c;
            const Cell* got = stack::top - 1;
            if (!record_accepts(rec, carg, type_of(got))) [[unlikely]]
                fire_expect(&name, got, cslot, int(carg));
            carg++;
            goto next_argument;
        }
        case K_OPERATOR:
            ni = c->no_infix;
            conts_top = c;
            if (infix_compute(uint8_t(c->arg), stack::arguments, stack::arguments + 1)) {
                stack::pop_frame_keep_result();
                goto operand_done;
            }
            if (!call_operator(c->a, c->b, pos, w)) goto exit_pending;
            KEM_REFRESH();
            goto operand_done;
        case K_SET_WORD:
            // The value took the operators after it.
            if (!set_word(sites, c, f.ctx, f.base)) goto exit_pending;
            conts_top = c;
            goto value_done;
        case K_SET_PATH: {
            // p/x: on an object without change handlers stores through the site.
            Site* s = c->epoch == cache_epoch ? sites + c->arg : nullptr;
            if (s && (path_site_holds(*s) || path_site(*s, c->a, true)) && !object_on_set(s->holder)) {
                *s->slot = *(stack::top - 1);
                s->word_cell->header |= WORD_CHANGED;
                *stack::arguments = *s->slot;
                stack::top = stack::arguments + 1;
            } else if (!set_path(c->a, pos, w)) {
                goto exit_pending;
            }
            stack::pop_frame_keep_result();
            conts_top = c;
            goto value_done;
        }
        case K_RETURN:
            conts_top = c;
            if (f.target) {
                // The return lands on a function this run walks: no frame
                // between has to be searched.
                ret = stack::top - 1;
                goto return_value;
            }
            settle(false);
            stack::unwind_return(true, true, &c->a);
            goto exit_pending;
        default: break;
        }
        std::abort();  // a block's walk is always above the other records
    }

    walk_end: {
        // The walk on top is done, its value at its base.
        Cont* const done = w;
        if (done->end == END_BODY) {
            landing = done;
            ret = done->base;
            goto body_end;
        }
        position = done->b;
        stack::top = done->base + 1;
        conts_top = done;
        if (done->end == END_LEAVE) {
            conts_top = leave;
            return pos;
        }
        w = done->outer;
        KEM_LOAD();
        KEM_REFRESH();
        pos = done->resume;
        ni = done->no_infix;
        if (done->end == END_PAREN) goto operand_done;
        *stack::arguments = *(stack::top - 1);
        if (done->end == END_LOOP) {
            // The pass's value is in the loop's result cell. A pass of while
            // or loop that ends normally goes straight to the next.
            LoopState& ls = (conts_top - 1)->loop;
            if (!last_throw_code) [[likely]] {
                if (ls.number == NAT_WHILE) {
                    if (ls.handed == HANDED_BODY) {
                        ls.next = NEXT_COND;
                        goto loop_next;
                    }
                    if (type_of(stack::arguments) != TYPE_UNSET) {
                        ls.next = is_truthy(stack::arguments) ? NEXT_BODY : NEXT_END;
                        goto loop_next;
                    }
                } else if (ls.number == NAT_LOOP || ls.number == NAT_REPEAT) {
                    ls.next = NEXT_PASS;
                    goto loop_next;
                }
            }
            if (!settle_loop(ls)) goto exit_pending;
            goto loop_next;
        }
        if (done->end == END_BRANCH) {
            stack::pop_frame_keep_result();
            take_result(done->slot);
            goto operand_done;
        }
        std::abort();  // no other walk ends here
    }

    return_value:
        // return or exit with the value at ret, into the function f.target.
        // When its body's walk is the record on top and its frame the frame
        // on top, nothing lies between: the call ends as its body's end would.
        landing = f.target;
        if (landing == conts_top - 1 && landing->frame == stack::frames_top - 1) [[likely]]
            goto body_end;
        stack::return_to(landing->frame, ret);
        goto leave_walks;

    body_end: {
        // The body walked in landing, the record on top, is done: the
        // function's value is at ret, in its frame.
        Cont* const done = landing;
        position = done->b;
        conts_top = done;
        w = done->outer;
        KEM_LOAD();
        KEM_REFRESH();
        pos = done->resume;
        ni = done->no_infix;
        if (done->restore) track_position = true;
        f = done->caller;
        finish_function(done->slot, ret);
        goto operand_done;
    }

    walk_branch: {
        // The branch short_conditional found (slot holds the conditional
        // named name, pos is after its call) is walked in the native's frame,
        // as its call has it.
        Cell* const callable = stack::push(slot);
        stack::push_interp_native_frame(&name);
        stack::push(&sc.cond);
        const uint32_t branches = native_number(slot) == NAT_EITHER ? 2 : 1;
        for (uint32_t i = pos - branches; i < pos; i++) stack::push(cells + i);
        w = open_walk(*sc.branch, END_BRANCH, w, sc.code);
        resume_after(w, callable, pos, ni);
        KEM_LOAD();
        pos = w->a.data1;
        goto next_expression;
    }

    exit_pending:
        // A non-local exit: the stacks are set for its catcher. A return or
        // exit whose function's body this run walks goes on after that call;
        // any other exit leaves this run.
        landing = nullptr;
        if (last_throw_code == THROW_CODE_RETURN || last_throw_code == THROW_CODE_EXIT) {
            const CallFrame* target = stack::frames_top - 1;
            for (Cont* c = conts_top - 1; c > leave; c--) {
                if (c->kind == K_WALK && c->end == END_BODY && c->frame == target) {
                    landing = c;
                    break;
                }
            }
            if (landing) last_throw_code = 0;
        } else if (last_throw_code == THROW_CODE_BREAK || last_throw_code == THROW_CODE_CONTINUE) {
            // break and continue land on a loop this run steps: the loop
            // takes them as its pass's end.
            const CallFrame* target = stack::frames_top - 1;
            for (Cont* c = conts_top - 1; c > leave; c--) {
                if (c->kind == K_LOOP && c->frame == target) {
                    landing = c;
                    break;
                }
            }
        }

    leave_walks: {
        // The walks left behind put the position back as the outermost of
        // them found it, and the calls left behind their position tracking.
        // landing: the body a return or exit lands on, with the stacks set.
        Cont* const from = landing ? landing : leave + 1;
        bool walk_seen = false;
        for (Cont* c = from; c < conts_top; c++) {
            if (c->kind != K_WALK || c->end == END_SINGLE) continue;
            if (!walk_seen) {
                position = c->b;
                walk_seen = true;
            }
            if (c->restore && c->end == END_BODY) track_position = true;
        }
        if (!landing) {
            conts_top = leave;
            return pos;
        }
        if (landing->kind == K_LOOP) {
            conts_top = landing + 1;
            w = landing->outer;
            KEM_LOAD();
            KEM_REFRESH();
            f = landing->caller;
            if (!settle_loop(landing->loop)) goto exit_pending;
            goto loop_next;
        }
        conts_top = landing + 1;
        ret = stack::arguments;
        goto body_end;
    }
    }
#undef KEM_LOAD
#undef KEM_REFRESH
#undef KEM_SLOT
}

// Runs the loop from a record of its own; an error leaving it takes the
// loop's records and the position tracking back to where they were.
uint32_t run(const Cell& block, uint32_t pos, uint32_t tail, bool single, bool no_infix) {
    Cont* const leave = push_cont(K_LEAVE);
    const bool tracked = track_position;
    try {
        return loop(leave, block, pos, tail, single, no_infix);
    } catch (...) {
        conts_top = leave;
        track_position = tracked;
        throw;
    }
}

} // namespace

void run_block(const Cell* block) { run(*block, 0, 0, false, false); }

uint32_t run_expression(const Cell& block, uint32_t pos, uint32_t tail, bool no_infix) {
    return run(block, pos, tail, true, no_infix);
}

void run_init() { collector::add_layer_root("run loop", mark_conts); }

} // namespace kem::interp
