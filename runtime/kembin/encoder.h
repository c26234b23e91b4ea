// The KEMBIN encoder's state and the writing primitives the record writers
// share. One Encoder lives for one encoding: the records, the symbol table and
// the seen table (node -> path of its first occurrence) are its own, so
// nothing is left behind when an encoding fails.
//
// Paths: the value counter is the position of the value being written within
// its container (or among the root records); entering a container pushes it
// and starts again from 0. A keyed value is registered with the path stack as
// it stands once its own level is pushed.
//
// Nothing here allocates series memory until finish, so the values written
// cannot move and no collection can run.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/kembin/format.h"

namespace kem::kembin {

class Encoder {
public:
    // boot: the boot data's form (set records allowed, sharing never used,
    // every word bound globally).
    Encoder(bool compact, bool boot);

    // One root record.
    void root(const Cell& value);
    // Boot data: a set record making `word` (bound globally) hold `value`.
    void set_word(const Cell& word, const Cell& value);
    // The whole data: header, symbol table and records; compressed when asked
    // and when packing makes it smaller.
    std::vector<uint8_t> finish(uint8_t version, bool compress);

    // --- for the record writers ------------------------------------------------
    bool compact() const { return compact_; }
    // The record's header: compact prefixes and header byte (type with the
    // extra flag x), or the fixed header word (type with fixed_bits). The
    // pending new-line and shared marks of the value go with it.
    void header(uint8_t type, bool x, uint32_t fixed_bits);
    // A compact header byte of 0x80 and above (small integers, logic!).
    void header_byte(uint8_t b);
    void byte(uint8_t b) { records_.push_back(b); }
    void u32(uint32_t v) { put_u32(records_, v); }
    // Varint (compact) or int32 (fixed).
    void uint(uint32_t v);
    // Zigzag varint (compact) or int32 (fixed).
    void sint(int32_t v);
    // Raw bytes (fixed: zero-padded to a multiple of 4).
    void bytes(const uint8_t* p, size_t n);
    // A series head: compact only when x says it is there, fixed always.
    void head(int32_t head, bool x);
    // The symbol table index of a symbol, adding it when new.
    uint32_t symbol(uint32_t id);

    // A nested value: keyed values are registered or referenced, and it
    // counts as one value of the current level.
    void value(const Cell& v);
    // The record of an owner (object! or function!) written in full in
    // place, whatever the seen table holds; it counts as no value.
    void owner(const Cell& v);
    // Whether the value being written is a reference to its first
    // occurrence, and then the path that replaces its payload.
    bool shared() const { return shared_path_ != nullptr; }
    void path();

    bool boot() const { return boot_; }
    uint32_t counter() const { return counter_; }
    void set_counter(uint32_t n) { counter_ = n; }
    void push_level() {
        levels_.push_back(counter_);
        counter_ = 0;
    }
    void pop_level() {
        counter_ = levels_.back();
        levels_.pop_back();
    }

private:
    void write(const Cell& v, bool counted, bool keyed);
    NodeId key_of(const Cell& v) const;

    bool compact_;
    bool boot_;
    bool new_line_ = false;
    bool set_ = false;
    uint32_t depth_ = 0;
    uint32_t counter_ = 0;
    std::vector<uint32_t> levels_;
    std::unordered_map<NodeId, std::vector<uint32_t>> seen_;
    const std::vector<uint32_t>* shared_path_ = nullptr;
    bool shared_pending_ = false;
    std::vector<uint8_t> records_;
    std::unordered_map<uint32_t, uint32_t> symbol_index_;
    std::vector<uint32_t> symbols_;
    std::vector<uint8_t> names_;
    std::vector<uint32_t> offsets_;
    uint32_t roots_ = 0;
};

} // namespace kem::kembin
