// The KEMBIN decoder's state and the reading primitives the record readers
// share. One Decoder lives for one call of decode or load_boot.
//
// Every read is bounded by the end of the records area; a fault raises script
// kb-invalid-record with the 1-based position, counted from the first byte of
// the data given (a compressed payload counts as if it stood unpacked from
// byte 8 on).
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/core/value.h"
#include "runtime/kembin/format.h"

namespace kem::kembin {

// Cell n of a cell series (re-derive after any allocation).
inline Cell* cell_at(NodeId node, uint32_t n) { return node_buffer(node)->cell_head() + n; }
inline uint32_t cell_count(NodeId node) { return node_buffer(node)->used() / sizeof(Cell); }

// What the header of one record says. Compact records give x and the
// prefixes; fixed records give their header word, whose bits each type reads.
struct RecordHead {
    uint8_t type = 0;
    bool x = false;
    bool new_line = false;
    bool shared = false;
    bool set = false;
    uint32_t word = 0;
    const uint8_t* at = nullptr;  // where the record starts
};

class Decoder {
public:
    Decoder(bool compact, bool codec, const uint8_t* base, uint32_t base_offset, const Cell& output,
            uint32_t first_new);

    bool compact() const { return compact_; }
    bool codec() const { return codec_; }
    const Cell& output() const { return output_; }
    uint32_t first_new() const { return first_new_; }

    // --- reading -------------------------------------------------------------
    [[noreturn]] void invalid(const uint8_t* at) const;
    void set_area(const uint8_t* at, const uint8_t* end) {
        p_ = at;
        end_ = end;
    }
    const uint8_t* at() const { return p_; }
    const uint8_t* end() const { return end_; }
    size_t remaining() const { return size_t(end_ - p_); }
    uint8_t byte();
    uint32_t varint();
    uint32_t u32();
    // A count or size: varint (compact) or int32 (fixed), never negative.
    uint32_t count();
    // A count of things that take at least `each` bytes apiece in what is left.
    uint32_t count_of(uint32_t each);
    // A signed number: zigzag varint (compact) or int32 (fixed).
    int32_t sint();
    // n raw bytes.
    const uint8_t* take(uint64_t n);
    // A byte run of a record: n bytes, in the fixed variant followed by
    // padding to a multiple of 4.
    const uint8_t* bytes(uint64_t n);

    // --- symbols ---------------------------------------------------------------
    void set_symbols(const uint8_t* offsets, uint32_t count, const uint8_t* names, uint32_t names_size);
    // The symbol id of table entry `index` (read just before `at`).
    uint32_t symbol(uint32_t index, const uint8_t* at);
    uint32_t read_symbol();
    // A word! of table entry `index` bound to the global context; the same
    // names come again and again, so each is looked up once.
    Cell global_word(uint32_t index, const uint8_t* at);
    uint32_t read_symbol_index() { return compact_ ? varint() : u32(); }

    // --- records ---------------------------------------------------------------
    // Decodes one record and appends its value(s) to the block `target`.
    void record(const Cell& target);
    // The records until the area is used up, appended to the output block.
    void all_records();
    // Reads a reference path and gives a copy of the value it leads to.
    Cell follow_path();
    // A word whose owner record comes next: once the owner's context exists
    // (before its values are read), the word at `index` of `block` is bound
    // to it, so that paths through the word reach the values read so far.
    void expect_owner(NodeId block, uint32_t index) {
        owner_block_ = block;
        owner_index_ = index;
    }
    void bind_owner(NodeId ctx) {
        if (owner_block_) cell_at(owner_block_, owner_index_)->data1 = ctx;
        owner_block_ = 0;
    }

private:
    void compact_record(const Cell& target);
    void fixed_record(const Cell& target);
    void dispatch(const RecordHead& h, const Cell& target);
    void set_word_from_next(uint32_t word_at);
    Cell step(const Cell& value, uint32_t index, const uint8_t* at);

    bool compact_;
    bool codec_;
    const uint8_t* base_;
    uint32_t base_offset_;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    Cell output_;
    uint32_t first_new_;
    uint32_t depth_ = 0;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* names_ = nullptr;
    uint32_t symbol_count_ = 0;
    uint32_t names_size_ = 0;
    std::vector<uint32_t> symbols_;  // resolved ids, 0 until first use
    std::vector<Cell> global_words_;  // header 0 until first use
    NodeId owner_block_ = 0;
    uint32_t owner_index_ = 0;
};

} // namespace kem::kembin
