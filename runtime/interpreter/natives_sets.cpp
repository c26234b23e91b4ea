// Natives for set operations (union, intersect, unique, difference, exclude,
// complement?) and text encodings (dehex, enhex, debase, enbase).
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/url.h"
#include "runtime/interpreter/natives.h"
#include "runtime/services/unicode/text.h"

namespace kem {

Cell* block_do_set_op(bool case_, Cell* skip, int32_t op);  // block_sets.cpp

namespace {

inline bool is_block_kind(uint8_t t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// The worker of the five set operations: op 8 unique, 9 union, 10 intersect,
// 11 exclude, 12 difference, handed to the type of the first set.
void do_set_op(int index, const int32_t* refinements, int32_t op) {
    const bool case_ = refinements[0] != -1;
    Cell* skip = refinements[1] != -1 ? stack::arguments + refinements[1] : nullptr;
    Cell* args = stack::arguments;
    const uint8_t t1 = type_of(&args[0]);
    if (op != 8) {
        const uint8_t t2 = type_of(&args[1]);
        // A datatype counts as the typeset of that one type.
        const bool agree = is_block_kind(t1) ? is_block_kind(t2) : t1 == t2 || (t1 == TYPE_TYPESET && t2 == TYPE_DATATYPE);
        if (!agree) {
            Cell d1, d2;
            make_datatype(&d1, t1);
            make_datatype(&d2, t2);
            fire(Err::script_expect_val, d1, d2);
        }
    }
    switch (t1) {
    case TYPE_BLOCK:
    case TYPE_HASH: block_do_set_op(case_, skip, op); break;
    case TYPE_STRING: string_do_set_op(case_, skip, op); break;
    case TYPE_BITSET: bitset_do_bitwise(op); break;
    case TYPE_TYPESET: typeset_do_bitwise(op); break;
    case TYPE_DATE:
        if (op == 12) {
            date_difference(&args[0], &args[1]);
            break;
        }
        [[fallthrough]];
    default: fire_expect_arg_type(t1, 0);
    }
    stack::top = stack::arguments + 1;
}

void native_union(const int32_t* r) { do_set_op(NAT_UNION, r, 9); }
void native_intersect(const int32_t* r) { do_set_op(NAT_INTERSECT, r, 10); }
void native_unique(const int32_t* r) { do_set_op(NAT_UNIQUE, r, 8); }
void native_difference(const int32_t* r) { do_set_op(NAT_DIFFERENCE, r, 12); }
void native_exclude(const int32_t* r) { do_set_op(NAT_EXCLUDE, r, 11); }

void native_complement_q(const int32_t*) {
    Cell* v = stack::arguments;
    if (!is_type(v, TYPE_BITSET)) fire_expect_arg_type(type_of(v), 0);
    make_logic(v, bitset_complemented(v));
}

// The spec asks for any-string!; callers that bypass it are refused here too.
void require_any_string() {
    if (!any_string_type(type_of(stack::arguments))) fire_expect_arg_type(type_of(stack::arguments), 0);
}

void native_dehex(const int32_t* r) {
    require_any_string();
    const Cell source = stack::arguments[0];
    Cell* out = stack::push_slot();
    string_make_at(out, uint32_t(std::max(string_rs_length(&source), 1)));
    url_decode(&source, out);
    stack::arguments[0] = *out;
    stack::top = stack::arguments + 1;
}

void native_enhex(const int32_t* r) {
    require_any_string();
    const Cell source = stack::arguments[0];
    Cell* out = stack::push_slot();
    string_make_at(out, uint32_t(std::max(string_rs_length(&source), 1)));
    url_encode(&source, out, is_type(&source, TYPE_STRING) ? URL_MODE_TEXT : URL_MODE_URL);
    stack::arguments[0] = *out;
    stack::top = stack::arguments + 1;
}

int32_t base_argument(const int32_t* r) {
    if (r[0] == -1) return 64;
    const Cell* b = stack::arguments + r[0];
    const int32_t base = is_type(b, TYPE_INTEGER) ? cell_int(b) : 0;
    if (base != 2 && base != 16 && base != 58 && base != 64) fire(Err::script_invalid_arg, *b);
    return base;
}

void native_debase(const int32_t* r) {
    const int32_t base = base_argument(r);
    Cell* v = stack::arguments;
    if (!any_string_type(type_of(v))) fire_expect_arg_type(type_of(v), 0);
    const int32_t length = std::max(string_rs_length(v), 0);
    const uint8_t* text = length ? string_rs_head(v) : nullptr;
    const uint32_t unit = 1u << unit_shift(series_buffer(v));
    static const uint8_t empty = 0;
    if (!text) text = &empty;
    Cell out;
    Cell* made = nullptr;
    switch (base) {
    case 2: made = binary_decode_2(text, uint32_t(length), unit, &out); break;
    case 16: made = binary_decode_16(text, uint32_t(length), unit, &out); break;
    case 58: made = binary_decode_58(text, uint32_t(length), unit, &out); break;
    default: made = binary_decode_64(text, uint32_t(length), unit, &out); break;
    }
    if (made) stack::arguments[0] = out;
    else make_none(stack::arguments);
    stack::top = stack::arguments + 1;
}

void native_enbase(const int32_t* r) {
    const int32_t base = base_argument(r);
    Cell v = stack::arguments[0];
    std::vector<uint8_t> bytes;
    if (is_type(&v, TYPE_BINARY)) {
        SeriesBuffer* b = series_buffer(&v);
        const uint32_t pos = uint32_t(std::clamp<int64_t>(series_position(&v), 0, b->used()));
        bytes.assign(b->head_ptr() + pos, b->head_ptr() + b->used());
    } else if (is_type(&v, TYPE_STRING)) {
        int32_t limit = -1;
        const uint8_t* p = string_to_utf8_data(&v, &limit, false);
        bytes.assign(p, p + std::max(limit, 0));
    } else {
        fire_expect_arg_type(type_of(&v), 0);
    }
    const uint64_t n = bytes.size();
    uint64_t room;
    switch (base) {
    case 64: room = (n / 3) * 4 + ((n % 3) * 4) / 3 + (n / 32) * 2 + 5; break;
    case 58: room = n * 2; break;
    case 16: room = n * 2 + n / 32 + 32; break;
    default: room = n * 8 + (n / 8) * 2 + 4; break;
    }
    room = std::max<uint64_t>(room, binary_encoded_size(base, n));
    if (room > 0xFFFFFFFFu) fire(Err::script_too_long);
    Cell* out = stack::push_slot();
    string_rs_make_at(out, uint32_t(std::max<uint64_t>(room, 1)));
    SeriesBuffer* b = series_buffer(out);
    uint8_t* start = b->head_ptr();
    uint8_t* end = start;
    switch (base) {
    case 2: end = binary_encode_2(start, bytes.data(), uint32_t(n)); break;
    case 16: end = binary_encode_16(start, bytes.data(), uint32_t(n)); break;
    case 58: end = binary_encode_58(start, bytes.data(), uint32_t(n)); break;
    default: end = binary_encode_64(start, bytes.data(), uint32_t(n)); break;
    }
    b->tail = b->head + uint32_t(end - start);
    stack::arguments[0] = *out;
    stack::top = stack::arguments + 1;
}

} // namespace

void register_sets_natives() {
    native_register(NAT_UNION, native_union);
    native_register(NAT_INTERSECT, native_intersect);
    native_register(NAT_UNIQUE, native_unique);
    native_register(NAT_DIFFERENCE, native_difference);
    native_register(NAT_EXCLUDE, native_exclude);
    native_register(NAT_COMPLEMENT_Q, native_complement_q);
    native_register(NAT_DEHEX, native_dehex);
    native_register(NAT_ENHEX, native_enhex);
    native_register(NAT_DEBASE, native_debase);
    native_register(NAT_ENBASE, native_enbase);
}

} // namespace kem
