// Decoded blocks and call records: what the run loop derives once from a
// block of code and from a callable's argument list, kept in side buffers.
//
// A block run as code gets, on its first run, a site per cell: what an
// expression starting at that cell is (a literal, a bound word, a set-word,
// a paren, a path ...), decided from the cell's type. The sites of words and
// paths also hold an inline cache: the word's value slot, the callee found
// there with its call record, the object and field a path reached. A cache
// is trusted only while cache_epoch (core/memory.h) keeps the value it was
// filled under, and the callee and object it names are checked against what
// the words name now; the block's own cells are read for everything else.
//
// Both kinds of record live in side buffers, which the collector counts like
// any buffer and drops at every collection; a change to the block drops its
// own (series_changed). The next use derives them again.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kem::interp {

struct CallRecord;
struct Code;

enum SiteKind : uint8_t {
    SITE_GENERAL = 0,  // a kind the general walk evaluates
    SITE_LITERAL,      // its own value
    SITE_WORD,         // a bound word!: its value, or a call of it
    SITE_SET_WORD,     // a bound set-word!
    SITE_GET_WORD,     // a bound get-word!
    SITE_LIT_WORD,
    SITE_PAREN,
    SITE_PATH,
    SITE_SET_PATH,
    SITE_LIT_PATH,
};

struct Site {
    uint8_t kind;
    uint8_t callee_type;  // type of the callee cached below, 0 for none
    union {
        uint16_t field;   // a path's field index in `object`
        uint16_t local;   // a word: bound to a function's argument or local
    };
    uint32_t epoch;       // the cache_epoch the cache below was filled under; 0: empty
    NodeId callee;        // the cached callee's extras node
    union {
        NodeId object;    // a path p/x: the context of the object p held
        uint32_t shape;   // if, unless or either: the conditional's shape (run loop)
    };
    union {
        Cell* slot;       // the value slot a word found (not of values on the stack); p/x: x's
        Code* code;       // a paren's decoded code
    };
    union {
        CallRecord* call;  // the cached callee's record
        Cell* word_cell;   // p/x:, the word of x in the object's word list
    };
    Cell* holder;         // p/x: the value slot of p
#ifdef KEM_ASAN
    Cell decoded;  // the cell as decoded: checking builds verify that no change went unnoticed
#endif
    // Makes the cache this epoch's, emptied when it was filled under another.
    void claim() {
        if (epoch == cache_epoch) return;
        epoch = cache_epoch;
        callee_type = 0;
        slot = nullptr;
        object = 0;
    }
    // An operand that may need no step: a value of its own or a word.
    bool operand() const { return kind == SITE_LITERAL || kind == SITE_WORD; }
};

// What a side buffer holds, in its first word: a series run as code in one
// place and read as a path in another keeps only one of them at a time.
enum SideTag : uint32_t { SIDE_CODE = 1, SIDE_CALL = 2, SIDE_PATH = 3 };

// The data of the series' side buffer when it holds that kind, else nullptr.
inline uint8_t* side_of(NodeId series, SideTag tag) {
    const NodeId side = node_buffer(series)->side;
    if (!side) return nullptr;
    uint8_t* data = node_buffer(side)->data();
    return *reinterpret_cast<const uint32_t*>(data) == tag ? data : nullptr;
}
// A new side buffer of `bytes` zeroed bytes for the series, tagged; it
// replaces the one the series had.
uint8_t* new_side(NodeId series, uint32_t bytes, SideTag tag);

// The side buffer of a decoded block.
struct Code {
    uint32_t tag;
    uint32_t length;  // the block's length when decoded
    // The block from its head is one value, or value operator value, as
    // far as its sites tell: the run loop may compute it without a walk.
    uint32_t simple;
    uint32_t spare;
    Site* sites() { return reinterpret_cast<Site*>(this + 1); }
};

// The code of the block node, decoded now when it has none, or when the
// block's length is no longer the one it was decoded at.
Code* block_code(NodeId block);


// How a callable is called, read once from its argument list. A call
// without refinements pushes the required arguments, then rest_slots cells
// for a function (false for each refinement, none for each of its
// arguments, as rest_flags says) and its locals, or passes `refinements`
// absent refinements to a native.
struct CallRecord {
    uint32_t tag;
    uint8_t kind;         // the callable's type (an op!'s: the type it wraps)
    uint8_t usable;       // 0: the general call handles it
    uint8_t required;
    uint8_t rest_slots;
    uint8_t refinements;
    uint8_t system;       // a function of the system
    uint8_t arg_kind[8];  // ArgKind of each required argument
    uint8_t frame_top;    // the top byte of the frame the run loop pushes for the call
    uint8_t any_slots;    // a function with slots after its arguments (rest_slots or locals)
    uint8_t quick_start;  // a function the run loop walks whose call a paren may start without a walk of
                          // its own (not of the system, its body noting positions, at most
                          // QUICK_START_SLOTS slots after its arguments)
    uint32_t number;      // a native's or action's number
    uint32_t locals;      // a function's local slots (with /local's own)
    NodeId body;          // a function's body block (0: none) and its index
    uint32_t body_index;
    uint32_t body_epoch;  // the cache_epoch body_code was found under
    Code* body_code;
    uint64_t rest_flags;
    uint64_t types[8];    // accepted types of each required argument
};

constexpr uint32_t QUICK_START_SLOTS = 16;

// The call record of a native!, action!, function!, routine! or op!, made
// now when its argument list has none.
CallRecord* call_record(const Cell* callable);

static_assert(TYPE_COUNT < 64, "a call record keeps an argument's types in 64 bits");
inline bool record_accepts(const CallRecord* r, uint32_t k, uint8_t type) {
    return (r->types[k] >> (type & 63)) & 1;
}

} // namespace kem::interp
