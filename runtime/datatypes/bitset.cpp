// bitset!: the bit array, applying specs (measure, set, test, clear), making,
// form and mold, and comparison.
#include "runtime/datatypes/bitset.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFF00;

inline uint8_t mask_of(int64_t n) { return uint8_t(0x80 >> (n & 7)); }

bool word_named(const Cell* c, std::string_view name) {
    if (!is_type(c, TYPE_WORD)) return false;
    std::string_view s = symbol_name(c->data2);
    return s.size() == name.size() &&
           std::equal(s.begin(), s.end(), name.begin(), [](char a, char b) { return (a | 0x20) == (b | 0x20); });
}

[[noreturn]] void fire_out_of_range(int64_t n, const Cell* value) {
    if (value) fire(Err::script_out_of_range, *value);
    Cell c;
    make_integer(&c, int32_t(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX)));
    fire(Err::script_out_of_range, c);
}

// Sets or clears the bits a..b (inclusive, inside the array).
void write_range(const Cell* bs, int64_t a, int64_t b, bool on) {
    uint8_t* bytes = bitset_rs_head(bs);
    auto one = [&](int64_t n) {
        if (on) bytes[n >> 3] |= mask_of(n);
        else bytes[n >> 3] &= uint8_t(~mask_of(n));
    };
    for (; a <= b && (a & 7); a++) one(a);
    for (; a + 7 <= b; a += 8) bytes[a >> 3] = on ? 0xFF : 0x00;
    for (; a <= b; a++) one(a);
}

// Whether every bit of a..b (a >= 0) is a member.
bool range_members(const Cell* bs, int64_t a, int64_t b) {
    int64_t inside_end = int64_t(bitset_byte_count(bs)) * 8 - 1;
    if (b > inside_end && !bitset_complemented(bs)) return false;
    const uint8_t* bytes = bitset_rs_head(bs);
    int64_t last = std::min(b, inside_end);
    for (; a <= last && (a & 7); a++)
        if (!(bytes[a >> 3] & mask_of(a))) return false;
    for (; a + 7 <= last; a += 8)
        if (bytes[a >> 3] != 0xFF) return false;
    for (; a <= last; a++)
        if (!(bytes[a >> 3] & mask_of(a))) return false;
    return true;
}

// One pass of a spec over a bitset. Each value is applied on its own, so a
// complemented set and a plain one follow the same membership rules.
class Pass {
public:
    Pass(const Cell* bs, int32_t op, int32_t errors) : bs_(bs), op_(op), errors_(errors) {}

    int64_t highest = -1;  // measure and set: the highest bit named
    bool all_members = true;  // test

    void value(const Cell* v) {
        uint8_t t = type_of(v);
        if (t == TYPE_CHAR || t == TYPE_INTEGER) range(cell_int(v), cell_int(v), v, v);
        else if (t == TYPE_FLOAT) { int32_t n = to_int_checked(v); range(n, n, v, v); }
        else if (t == TYPE_STRING) text(v);
        else if (t == TYPE_BLOCK) block(v);
        else if (t == TYPE_BINARY) fire(Err::internal_not_done);
        else unusable(v);
    }

private:
    const Cell* bs_;
    int32_t op_;
    int32_t errors_;

    [[noreturn]] void unusable(const Cell* v) {
        Cell dt;
        make_datatype(&dt, TYPE_BITSET);
        if (errors_ == BITSET_MAKE_ERRORS) fire(Err::script_bad_make_arg, dt, *v);
        if (errors_ == BITSET_TO_ERRORS) fire(Err::script_bad_to_arg, dt, *v);
        fire(Err::script_invalid_arg, *v);
    }

    // Bits a..b; va and vb name the values for errors.
    void range(int64_t a, int64_t b, const Cell* va, const Cell* vb) {
        if (!all_members) return;
        bool complemented = op_ != BITSET_MEASURE && bitset_complemented(bs_);
        if (a < 0) {
            // Under test a negative bit reads as one beyond the array.
            if (op_ != BITSET_TEST) fire_out_of_range(a, va);
            if (!complemented) { all_members = false; return; }
            if (b < 0) return;
            a = 0;
        }
        if (b >= BITSET_BIT_LIMIT && (op_ == BITSET_MEASURE || (op_ == BITSET_SET && !complemented) ||
                                      (op_ == BITSET_CLEAR && complemented)))
            fire_out_of_range(b, vb);
        highest = std::max(highest, b);
        int64_t inside_end = op_ == BITSET_MEASURE ? 0 : int64_t(bitset_byte_count(bs_)) * 8 - 1;
        switch (op_) {
        case BITSET_MEASURE: break;
        case BITSET_SET:
            // Bits beyond a complemented array are members already.
            if (!complemented) bitset_ensure_bit(bs_, b, vb);
            else b = std::min(b, inside_end);
            if (a <= b) write_range(bs_, a, b, true);
            break;
        case BITSET_CLEAR:
            // Bits beyond a plain array are clear already.
            if (complemented) bitset_ensure_bit(bs_, b, vb);
            else b = std::min(b, inside_end);
            if (a <= b) write_range(bs_, a, b, false);
            break;
        default: all_members = range_members(bs_, a, b); break;
        }
    }

    void text(const Cell* s) {
        TextRange r = string_text_range(s);
        for (uint32_t i = 0; i < r.length && all_members; i++) {
            const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos + i) * r.unit;
            int32_t cp = read_unit(p, r.unit);
            range(cp, cp, s, s);
        }
    }

    void block(const Cell* blk) {
        CycleOpen open(series_node(blk));
        int64_t n = series_buffer(blk)->used() / 16;
        for (int64_t i = std::max(series_position(blk), 0); i < n && all_members;) {
            Cell v = series_buffer(blk)->cell_head()[i];
            uint8_t t = type_of(&v);
            bool ranged = (t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < n &&
                          word_named(&series_buffer(blk)->cell_head()[i + 1], "-");
            if (!ranged) {
                value(&v);
                i++;
                continue;
            }
            if (i + 2 >= n) fire(Err::script_past_end);
            Cell end = series_buffer(blk)->cell_head()[i + 2];
            if (type_of(&end) != t) fire(Err::script_invalid_arg, end);
            if (cell_int(&end) < cell_int(&v)) fire(Err::script_past_end);
            range(cell_int(&v), cell_int(&end), &v, &end);
            i += 3;
        }
    }
};

// (highest bit + 8) >> 3, at least 1.
uint32_t bytes_for(int64_t highest) { return uint32_t(std::max<int64_t>((highest + 8) >> 3, 1)); }

} // namespace

// --- the bit array ----------------------------------------------------------------

bool bitset_member_q(const Cell* bs, int64_t n) {
    if (!bitset_bit_in_range_q(bs, n)) return bitset_complemented(bs);
    return (bitset_rs_head(bs)[n >> 3] & mask_of(n)) != 0;
}

void bitset_ensure_bit(const Cell* bs, int64_t n, const Cell* value) {
    if (n < 0 || n >= BITSET_BIT_LIMIT) fire_out_of_range(n, value);
    uint32_t need = uint32_t(n >> 3) + 1;
    SeriesBuffer* b = series_buffer(bs);
    uint32_t used = b->used();
    if (need <= used) return;
    if (uint64_t(b->head) + need > b->size) {
        uint64_t size = std::min(std::max<uint64_t>(need, uint64_t(b->size) * 2), MAX_BYTES);
        b = expand_series(b, int64_t(size));
    }
    std::memset(b->head_ptr() + used, (b->flags & SERIES_COMPLEMENT) ? 0xFF : 0x00, need - used);
    b->tail = b->head + need;
}

void bitset_invert_bytes(const Cell* bs) {
    for (uint8_t* p = bitset_rs_head(bs); p < bitset_rs_tail(bs); p++) *p = uint8_t(~*p);
}

Cell* bitset_make_at(Cell* c, uint32_t bytes, bool complemented) {
    NodeId node = alloc_bytes_filled(bytes, complemented ? 0xFF : 0x00);
    SeriesBuffer* b = node_buffer(node);
    b->tail = b->head + bytes;
    if (complemented) b->flags |= SERIES_COMPLEMENT;
    *c = Cell{TYPE_BITSET, 0, node, 0};
    return c;
}

// --- specs -------------------------------------------------------------------------------

int64_t bitset_process(const Cell* spec, const Cell* bitset, int32_t op, bool nested, int32_t errors) {
    Pass pass(bitset, op, errors);
    pass.value(spec);
    if (op == BITSET_TEST) return pass.all_members ? 1 : 0;
    if (op == BITSET_CLEAR) return 0;
    if (nested) return pass.highest;
    uint32_t bytes = bytes_for(pass.highest);
    // A set also extends the array to the spec's size; on a complemented set
    // the bytes that adds are members already, so a size past the limit is
    // simply not reached for.
    if (op == BITSET_SET && (!bitset_complemented(bitset) || int64_t(bytes) * 8 <= BITSET_BIT_LIMIT))
        bitset_ensure_bit(bitset, int64_t(bytes) * 8 - 1, nullptr);
    return bytes;
}

Cell* bitset_make_from(const Cell* spec_arg, int32_t mode) {
    Cell spec = *spec_arg;
    bool negated = false;
    if (is_type(&spec, TYPE_BLOCK)) {
        int64_t pos = std::max(series_position(&spec), 0);
        int64_t n = series_buffer(&spec)->used() / 16;
        if (pos < n && word_named(&series_buffer(&spec)->cell_head()[pos], "not")) {
            negated = true;
            set_series_position(&spec, pos + 1);
            if (pos + 1 < n && is_type(&series_buffer(&spec)->cell_head()[pos + 1], TYPE_BINARY))
                spec = series_buffer(&spec)->cell_head()[pos + 1];
        }
    }
    Cell* result = stack::push_slot();
    make_unset(result);
    uint8_t t = type_of(&spec);
    if (t == TYPE_BITSET && !negated) {
        SeriesBuffer* from = series_buffer(&spec);
        bitset_make_at(result, from->used(), false);
        SeriesBuffer* to = series_buffer(result);
        std::memcpy(to->head_ptr(), from->head_ptr(), from->used());
        to->flags |= from->flags & SERIES_COMPLEMENT;
    } else if ((t == TYPE_INTEGER || t == TYPE_FLOAT) && !negated) {
        if (mode == 1) {
            Cell dt;
            make_datatype(&dt, TYPE_BITSET);
            fire(Err::script_bad_to_arg, dt, spec);
        }
        int64_t bits = to_int_checked(&spec);
        // Rounded up to whole bytes in 64 bits: 2147483647 must not wrap.
        int64_t bytes = (bits + 7) >> 3;
        if (bits < 0 || bytes * 8 > BITSET_BIT_LIMIT) fire(Err::script_out_of_range, spec);
        bitset_make_at(result, uint32_t(bytes), false);
    } else if (t == TYPE_BINARY) {
        uint32_t used = series_buffer(&spec)->used();
        uint32_t from = uint32_t(std::clamp<int64_t>(series_position(&spec), 0, used));
        bitset_make_at(result, used - from, false);
        std::memcpy(bitset_rs_head(result), series_buffer(&spec)->head_ptr() + from, used - from);
        if (negated) {
            bitset_invert_bytes(result);
            series_buffer(result)->flags |= SERIES_COMPLEMENT;
        }
    } else {
        int64_t bytes = bitset_process(&spec, nullptr, BITSET_MEASURE, false, mode);
        bitset_make_at(result, uint32_t(bytes), negated);
        bitset_process(&spec, result, negated ? BITSET_CLEAR : BITSET_SET, false, mode);
    }
    return result;
}

Cell* bitset_make(Cell* proto, Cell* spec, int32_t type) { return bitset_make_from(spec, 0); }
Cell* bitset_to(Cell* proto, Cell* spec, int32_t type) { return bitset_make_from(spec, 1); }

// --- form and mold ------------------------------------------------------------------------

int32_t bitset_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    static const char HEX[] = "0123456789ABCDEF";
    bool complemented = bitset_complemented(value);
    // A complemented set shows the bits of the spec it is the complement of.
    uint8_t flip = complemented ? 0xFF : 0x00;
    std::string out = complemented ? "make bitset! [not #{" : "make bitset! #{";
    int64_t left = int64_t(part) - int64_t(out.size());
    uint32_t n = bitset_byte_count(value);
    for (uint32_t i = 0; i < n && (!refs.limit || left > 0); i++) {
        uint8_t byte = bitset_rs_head(value)[i] ^ flip;
        out += HEX[byte >> 4];
        out += HEX[byte & 15];
        left -= 2;
    }
    if (!refs.limit || left > 0) {
        out += complemented ? "}]" : "}";
        left -= complemented ? 2 : 1;
    }
    string_append_ascii(buffer, out);
    return int32_t(std::max<int64_t>(left, INT32_MIN));
}

int32_t bitset_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return bitset_mold(value, buffer, MoldArgs{.limit = arg}, part, 0);
}

// --- compare ---------------------------------------------------------------------------

int32_t bitset_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_BITSET)) return -2;
    if (op == CompareOp::same) return series_node(value1) == series_node(value2) ? 0 : 1;
    uint32_t n1 = bitset_byte_count(value1), n2 = bitset_byte_count(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    bool c1 = bitset_complemented(value1), c2 = bitset_complemented(value2);
    // Empty arrays differ only by their flags: the empty set and the full one
    // are not equal.
    if (c1 != c2) return c1 ? 1 : -1;
    const uint8_t* p1 = bitset_rs_head(value1);
    const uint8_t* p2 = bitset_rs_head(value2);
    for (uint32_t i = n1; i-- > 0;)
        if (p1[i] != p2[i]) return p1[i] < p2[i] ? -1 : 1;
    return 0;
}

} // namespace kem
