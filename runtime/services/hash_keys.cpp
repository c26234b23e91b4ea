#include "runtime/services/hash_keys.h"
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/platform/exit.h"

namespace kem {

uint32_t hash_seed = 0;

namespace {

constexpr uint32_t C1 = 0xCC9E2D51;
constexpr uint32_t C2 = 0x1B873593;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t mix_block(uint32_t h, uint32_t k) {
    k *= C1;
    k = rotl(k, 15);
    k *= C2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64;
}

inline uint32_t finish(uint32_t h, uint32_t length) {
    h ^= length;
    return hash_int(h);
}

uint32_t ascii_upper(uint32_t c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
uint32_t same_symbol(uint32_t id) { return id; }

// Grown when a name does not fit; lives until exit.
uint8_t* scratch = nullptr;
uint32_t scratch_size = 0;

[[noreturn]] void bad_unit() { report_runtime_error(101, __builtin_return_address(0)); }

// Units from the position to the tail of a string-like value (0 past the tail).
uint32_t units_after(const SeriesBuffer* b, uint32_t unit, int32_t position) {
    uint32_t total = b->used() / unit;
    if (position < 0) position = 0;
    return uint32_t(position) < total ? total - uint32_t(position) : 0;
}

inline uint32_t code_point_at(const uint8_t* p, uint32_t unit, uint32_t i) {
    switch (unit) {
    case 1: return p[i];
    case 2: { uint16_t v; std::memcpy(&v, p + 2 * i, 2); return v; }
    default: { uint32_t v; std::memcpy(&v, p + 4 * i, 4); return v; }
    }
}

// Upper case as keys hash and compare it: ASCII inline, the rest through
// the hook.
inline uint32_t key_upper(uint32_t c, uint32_t (*upper)(uint32_t)) {
    if (c < 0x80) return c - (c - 'a' < 26u ? 32u : 0u);
    return upper(c);
}

// The part of a string value that takes part in hashing and comparing.
struct Text {
    const uint8_t* units;
    uint32_t unit;
    uint32_t length;
};

Text text_of(const Cell* s) {
    const SeriesBuffer* b = node_buffer(series_node(s));
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    int32_t position = int32_t(series_index(s));
    uint32_t length = units_after(b, unit, position);
    // A slice never reaches past the string's tail, whatever length it claims.
    if (type_of(s) == TYPE_LOOKUP_SLICE && int32_t(s->data3) >= 0 && s->data3 < length) length = s->data3;
    const uint8_t* start = const_cast<SeriesBuffer*>(b)->head_ptr() + size_t(position > 0 ? position : 0) * unit;
    return Text{start, unit, length};
}

bool string_like(uint8_t type) { return any_string_type(type) || type == TYPE_LOOKUP_SLICE; }

int32_t identity_compare(Cell* a, Cell* b, CompareOp) {
    return type_of(a) == type_of(b) && a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3 ? 0
                                                                                                           : -2;
}

} // namespace

namespace {
constexpr std::array<HashCompareFn, 256> builtin_compare_slots() {
    std::array<HashCompareFn, 256> slots{};
    slots[TYPE_INTEGER] = hash_compare_integers;
    slots[TYPE_CHAR] = hash_compare_integers;
    for (int t = 0; t < 256; t++)
        if (any_string_type(uint8_t(t))) slots[size_t(t)] = hash_compare_strings;
    return slots;
}
} // namespace

std::array<HashCompareFn, 256> hash_compare_slots = builtin_compare_slots();
HashKeyHooks hash_key_hooks{ascii_upper, same_symbol};

void hash_keys_reset() {
    hash_compare_slots = builtin_compare_slots();
    hash_key_hooks = HashKeyHooks{ascii_upper, same_symbol};
}

uint32_t murmur3_hash(const void* bytes, uint32_t n) {
    auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t h = hash_seed;
    uint32_t blocks = n / 4;
    for (uint32_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, p + 4 * i, 4);
        h = mix_block(h, k);
    }
    const uint8_t* tail = p + 4 * blocks;
    uint32_t k = 0;
    switch (n & 3) {
    case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
    case 1:
        k ^= tail[0];
        k *= C1;
        k = rotl(k, 15);
        k *= C2;
        h ^= k;
    }
    return finish(h, n);
}

uint32_t hash_string(const Cell* string, bool case_sensitive) {
    Text t = text_of(string);
    uint32_t h = hash_seed;
    auto upper = hash_key_hooks.upper_case;
    if (t.unit == 1) {
        for (uint32_t i = 0; i < t.length; i++) {
            const uint32_t c = t.units[i];
            h = mix_block(h, case_sensitive ? c : key_upper(c, upper));
        }
    } else {
        for (uint32_t i = 0; i < t.length; i++) {
            const uint32_t c = code_point_at(t.units, t.unit, i);
            h = mix_block(h, case_sensitive ? c : key_upper(c, upper));
        }
    }
    return finish(h, 4 * t.length);
}

const uint8_t* fold_ascii_name(const uint8_t* name, uint32_t length) {
    if (length > scratch_size || !scratch) {
        uint32_t size = scratch_size ? scratch_size : 256;
        while (size < length) size *= 2;
        auto* p = static_cast<uint8_t*>(std::malloc(size));
        if (!p) report_runtime_error(94, __builtin_return_address(0));
        std::free(scratch);
        scratch = p;
        scratch_size = size;
    }
    for (uint32_t i = 0; i < length; i++) {
        uint8_t c = name[i];
        scratch[i] = (c >= 0x41 && c <= 0x5A) ? uint8_t(c | 0x60) : c;
    }
    return scratch;
}

uint32_t hash_symbol_name(const uint8_t* name, uint32_t length) {
    return murmur3_hash(fold_ascii_name(name, length), length);
}

uint32_t hash_symbol(const Cell* symbol) {
    SeriesBuffer* b = node_buffer(symbol->data3);
    return hash_symbol_name(b->head_ptr(), b->used());
}

uint32_t hash_value(const Cell* key, bool case_sensitive) {
    switch (type_of(key)) {
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT: return hash_int(key->data1);
    case TYPE_UNSET: return uint32_t(-2);
    case TYPE_NONE: return uint32_t(-1);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_IMAGE: return murmur3_hash(&key->data1, 8);
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
    case TYPE_LOOKUP_SLICE: return hash_string(key, case_sensitive);
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_MAP:
    case TYPE_HANDLE:
    case TYPE_EVENT: return hash_int(key->data2);
    case TYPE_PAIR: return murmur3_hash(&key->data2, 8);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        // Adding 0.0 turns -0.0 into 0.0: keys that compare equal hash alike.
        double d = cell_float(key) + 0.0;
        return murmur3_hash(&d, 8);
    }
    case TYPE_SYMBOL: return hash_symbol(key);
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: return hash_int(hash_key_hooks.resolve_symbol(key->data2));
    case TYPE_NATIVE:
    case TYPE_ACTION: return hash_int(key->data3);
    case TYPE_OP:
    case TYPE_FUNCTION:
    case TYPE_TRIPLE:
    case TYPE_TYPESET: return murmur3_hash(&key->data1, 12);
    case TYPE_DATE: return date_key_hash(key);
    case TYPE_POINT2D:
    case TYPE_POINT3D: {
        // Adding 0.0f turns -0.0 into 0.0: points that compare equal hash alike.
        float axes[3] = {0.0f, 0.0f, 0.0f};
        uint32_t n = type_of(key) == TYPE_POINT3D ? 3 : 2;
        std::memcpy(axes, &key->data1, 4 * n);
        for (float& a : axes) a += 0.0f;
        return murmur3_hash(axes, 4 * n);
    }
    case TYPE_TUPLE: {
        // Trailing zero bytes do not count: 1.2.3 and 1.2.3.0 are equal.
        uint32_t n = (key->header >> 19) & 0xF;
        if (n > 12) n = 12;
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key->data1);
        while (n > 0 && bytes[n - 1] == 0) n--;
        return murmur3_hash(bytes, n);
    }
    case TYPE_BITSET: {
        // The whole array and the complement flag, as bitset! equality reads them.
        SeriesBuffer* b = node_buffer(series_node(key));
        return hash_int(murmur3_hash(b->head_ptr(), b->used()) ^ ((b->flags & SERIES_COMPLEMENT) ? 1u : 0u));
    }
    case TYPE_BINARY: {
        SeriesBuffer* b = node_buffer(series_node(key));
        int32_t position = std::max(int32_t(series_index(key)), 0);
        uint32_t n = units_after(b, 1, position);
        return murmur3_hash(b->head_ptr() + (n ? position : 0), n);
    }
    case TYPE_MONEY: {
        // Only the sign flag (bit 14) of the header takes part, and not the
        // currency (byte 4): an amount without one equals it in any currency.
        Cell c = *key;
        c.header = TYPE_MONEY | (key->header & 0x4000);
        c.data1 &= ~0xFFu;
        return murmur3_hash(&c, sizeof c);
    }
    default: return 0;
    }
}

bool hash_node_key(uint8_t type) {
    switch (type) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_HASH:
    case TYPE_MAP:
    case TYPE_PORT:
    case TYPE_IMAGE:
    case TYPE_EVENT: return true;
    default: return type >= TYPE_NATIVE && type <= TYPE_GET_PATH;
    }
}

// --- Comparison ------------------------------------------------------------

bool hash_keys_compare(const Cell* stored, const Cell* key, CompareOp op) {
    auto* a = const_cast<Cell*>(stored);
    auto* b = const_cast<Cell*>(key);
    HashCompareFn fn = hash_compare_slots[type_of(a)];
    int32_t r = fn ? fn(a, b, op) : identity_compare(a, b, op);
    if (compare_asks_equal(op)) return r == 0;
    if (op == CompareOp::not_equal) return r != 0;
    if (r == -2) fire(Err::script_invalid_compare, *a, *b);
    switch (op) {
    case CompareOp::lesser: return r < 0;
    case CompareOp::lesser_or_equal: return r <= 0;
    case CompareOp::greater: return r > 0;
    case CompareOp::greater_or_equal: return r >= 0;
    default: report_runtime_error(101, __builtin_return_address(0));
    }
}

int32_t hash_compare_integers(Cell* value1, Cell* value2, CompareOp) {
    if (type_of(value1) != type_of(value2)) return -2;
    int32_t a = cell_int(value1), b = cell_int(value2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

int32_t hash_compare_strings(Cell* value1, Cell* value2, CompareOp op) {
    uint8_t t2 = type_of(value2);
    if (!string_like(t2)) return -2;
    // A slice stands for a string of the stored kind.
    if (t2 != type_of(value1) && t2 != TYPE_LOOKUP_SLICE && op != CompareOp::equal && op != CompareOp::not_equal)
        return -2;
    // A slice is never the same as a whole string, even over the same text.
    bool slice = type_of(value1) == TYPE_LOOKUP_SLICE || t2 == TYPE_LOOKUP_SLICE;
    if (!slice && value1->data2 == value2->data2 && value1->data1 == value2->data1) {
        if (op == CompareOp::same) return 0;
        if (op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal ||
            op == CompareOp::find)
            return 0;
    } else if (op == CompareOp::same) {
        return -1;
    }
    Text a = text_of(value1), b = text_of(value2);
    bool equality =
        op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal || op == CompareOp::find;
    if (a.length != b.length && (equality || b.length == 0)) return 1;
    if (a.length == 0 && b.length == 0) return 0;
    uint32_t n = a.length < b.length ? a.length : b.length;
    bool fold = op != CompareOp::strict_equal && op != CompareOp::case_sort;
    auto upper = hash_key_hooks.upper_case;
    if (a.unit == 1 && b.unit == 1) {
        for (uint32_t i = 0; i < n; i++) {
            uint32_t c1 = a.units[i];
            uint32_t c2 = b.units[i];
            if (c1 == c2) continue;
            if (fold) {
                c1 = key_upper(c1, upper);
                c2 = key_upper(c2, upper);
                if (c1 == c2) continue;
            }
            return c1 < c2 ? -1 : 1;
        }
    } else {
        for (uint32_t i = 0; i < n; i++) {
            uint32_t c1 = code_point_at(a.units, a.unit, i);
            uint32_t c2 = code_point_at(b.units, b.unit, i);
            if (fold) {
                c1 = key_upper(c1, upper);
                c2 = key_upper(c2, upper);
            }
            if (c1 != c2) return c1 < c2 ? -1 : 1;
        }
    }
    return a.length < b.length ? -1 : (a.length > b.length ? 1 : 0);
}

} // namespace kem
