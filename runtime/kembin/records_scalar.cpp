// KEMBIN records of the values held whole in their cell: datatype!, unset!,
// none!, logic!, integer!, char!, issue!, the numbers, pair!, the points,
// date!, typeset!, tuple! and money!.
#include <cmath>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/kembin/decoder.h"
#include "runtime/kembin/encoder.h"
#include "runtime/kembin/records.h"

namespace kem::kembin {

namespace {

// float! and time! fit the integer form within these bounds, percent! (as
// hundredths) within the smaller ones.
constexpr double WHOLE_LIMIT = 2147483000.0;
constexpr double PERCENT_LIMIT = 21474836.0;

void write_number(Encoder& e, const Cell& v) {
    const uint8_t type = type_of(&v);
    const double d = cell_float(&v);
    if (e.compact() && !(d == 0.0 && std::signbit(d))) {
        if (type == TYPE_PERCENT) {
            if (d >= -PERCENT_LIMIT && d <= PERCENT_LIMIT) {
                const double hundredths = std::trunc(d >= 0 ? d * 100.0 + 0.5 : d * 100.0 - 0.5);
                if (hundredths / 100.0 == d) {
                    e.header(type, true, 0);
                    e.sint(int32_t(hundredths));
                    return;
                }
            }
        } else if (d >= -WHOLE_LIMIT && d <= WHOLE_LIMIT && std::trunc(d) == d) {
            e.header(type, true, 0);
            e.sint(int32_t(d));
            return;
        }
    }
    e.header(type, false, 0);
    e.u32(v.data2);
    e.u32(v.data3);
}

// The 12 payload bytes of a typeset! without the zero bytes at their end.
uint32_t typeset_used_bytes(const Cell& v) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&v.data1);
    uint32_t m = 12;
    while (m > 0 && bytes[m - 1] == 0) m--;
    return m;
}

bool valid_date(uint32_t w, double time) {
    const int32_t month = date_month(w), day = date_day(w);
    if (month < 1 || month > 12 || day < 1) return false;
    static constexpr int32_t DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int32_t last = DAYS[month - 1] + (month == 2 && date_leap_year_q(date_year(w)) ? 1 : 0);
    if (day > last) return false;
    if (!date_has_time(w)) return date_zone(w) == 0 && time == 0.0;
    // The stored time is UTC counted from the local midnight.
    const double local = time + date_zone_offset(date_zone(w));
    return std::isfinite(time) && local >= 0.0 && local < SECONDS_PER_DAY;
}

} // namespace

void write_scalar(Encoder& e, const Cell& v) {
    const uint8_t type = type_of(&v);
    switch (type) {
    case TYPE_UNSET:
    case TYPE_NONE: e.header(type, false, 0); break;
    case TYPE_DATATYPE:
        e.header(type, false, 0);
        e.uint(v.data1);
        break;
    case TYPE_LOGIC:
        if (e.compact()) {
            e.header_byte(v.data1 == 1 ? LOGIC_TRUE : LOGIC_FALSE);
        } else {
            e.header(type, false, 0);
            e.uint(v.data1 == 1 ? 1 : 0);
        }
        break;
    case TYPE_INTEGER: {
        const int32_t n = cell_int(&v);
        if (e.compact() && n >= 0 && n < 64) {
            e.header_byte(uint8_t(SMALL_INTEGER | n));
        } else {
            e.header(type, false, 0);
            e.sint(n);
        }
        break;
    }
    case TYPE_CHAR:
        e.header(type, false, 0);
        e.uint(v.data2);
        break;
    case TYPE_ISSUE: {
        const uint32_t index = e.symbol(v.data2);
        e.header(type, false, 0);
        e.uint(index);
        break;
    }
    case TYPE_PAIR:
        e.header(type, false, 0);
        e.sint(int32_t(v.data2));
        e.sint(int32_t(v.data3));
        break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        e.header(type, false, 0);
        e.u32(v.data1);
        e.u32(v.data2);
        if (type == TYPE_POINT3D) e.u32(v.data3);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: write_number(e, v); break;
    case TYPE_DATE: {
        const bool has_time = date_has_time(v.data1);
        e.header(type, e.compact() && has_time, 0);
        e.u32(v.data1);
        if (has_time || !e.compact()) {
            e.u32(v.data2);
            e.u32(v.data3);
        }
        break;
    }
    case TYPE_TYPESET:
    case TYPE_TUPLE: {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&v.data1);
        if (!e.compact()) {
            e.header(type, false, type == TYPE_TUPLE ? tuple_length(&v) << FIXED_TUPLE_SHIFT : 0);
            e.u32(v.data1);
            e.u32(v.data2);
            e.u32(v.data3);
        } else if (type == TYPE_TYPESET) {
            const uint32_t m = typeset_used_bytes(v);
            e.header(type, false, 0);
            e.byte(uint8_t(m));
            e.bytes(bytes, m);
        } else if (tuple_length(&v) == TUPLE_MIN_LENGTH) {
            e.header(type, false, 0);
            e.bytes(bytes, TUPLE_MIN_LENGTH);
        } else {
            e.header(type, true, 0);
            e.byte(uint8_t(tuple_length(&v)));
            e.bytes(bytes, tuple_length(&v));
        }
        break;
    }
    case TYPE_MONEY: {
        // The sign in the header, then the currency index and the 11 amount bytes.
        const bool negative = money_get_sign(&v);
        if (e.compact()) e.header(type, negative, 0);
        else e.header(type, false, negative ? FIXED_MONEY_SIGN : 0);
        e.bytes(reinterpret_cast<const uint8_t*>(&v.data1), 12);
        break;
    }
    default: refuse(type);
    }
}

void read_scalar(Decoder& d, const RecordHead& h, const Cell& target) {
    Cell v{h.type, 0, 0, 0};
    switch (h.type) {
    case TYPE_UNSET:
    case TYPE_NONE: break;
    case TYPE_DATATYPE: {
        const uint8_t* at = d.at();
        const uint32_t id = d.compact() ? d.varint() : d.u32();
        if (id == 0 || id > uint32_t(TYPE_COUNT) || !datatype_names[id].name) d.invalid(at);
        v.data1 = id;
        break;
    }
    case TYPE_LOGIC: {
        // The compact variant writes logic! only as its two header bytes.
        if (d.compact()) d.invalid(h.at);
        const uint8_t* at = d.at();
        const uint32_t flag = d.u32();
        if (flag > 1) d.invalid(at);
        make_logic(&v, flag == 1);
        break;
    }
    case TYPE_INTEGER: v.data2 = uint32_t(d.sint()); break;
    case TYPE_CHAR: {
        const uint8_t* at = d.at();
        v.data2 = d.compact() ? d.varint() : d.u32();
        if (v.data2 > 0x10FFFF) d.invalid(at);
        break;
    }
    case TYPE_ISSUE: v = Cell{TYPE_ISSUE, global_context, d.read_symbol(), 0xFFFFFFFF}; break;
    case TYPE_PAIR:
        v.data2 = uint32_t(d.sint());
        v.data3 = uint32_t(d.sint());
        break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        v.data1 = d.u32();
        v.data2 = d.u32();
        if (h.type == TYPE_POINT3D) v.data3 = d.u32();
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        if (d.compact() && h.x) {
            const int32_t n = d.sint();
            set_cell_float(&v, h.type == TYPE_PERCENT ? n / 100.0 : double(n));
        } else {
            v.data2 = d.u32();
            v.data3 = d.u32();
        }
        break;
    case TYPE_DATE: {
        const uint8_t* at = d.at();
        v.data1 = d.u32();
        const bool has_time = date_has_time(v.data1);
        if (d.compact() && has_time != h.x) d.invalid(h.at);
        if (has_time || !d.compact()) {
            v.data2 = d.u32();
            v.data3 = d.u32();
        }
        if (!has_time) v.data2 = v.data3 = 0;
        if (!valid_date(v.data1, cell_float(&v))) d.invalid(at);
        break;
    }
    case TYPE_TYPESET:
    case TYPE_TUPLE: {
        auto* bytes = reinterpret_cast<uint8_t*>(&v.data1);
        if (!d.compact()) {
            v.data1 = d.u32();
            v.data2 = d.u32();
            v.data3 = d.u32();
            if (h.type == TYPE_TUPLE) {
                const uint32_t n = (h.word >> FIXED_TUPLE_SHIFT) & 0xF;
                if (n < TUPLE_MIN_LENGTH || n > TUPLE_MAX_LENGTH) d.invalid(h.at);
                for (uint32_t i = n; i < TUPLE_MAX_LENGTH; i++) bytes[i] = 0;
                set_tuple_length(&v, n);
            }
            break;
        }
        const uint8_t* at = d.at();
        uint32_t n = TUPLE_MIN_LENGTH;
        if (h.type == TYPE_TYPESET || h.x) n = d.byte();
        const uint32_t least = h.type == TYPE_TUPLE ? TUPLE_MIN_LENGTH : 0;
        if (n < least || n > 12) d.invalid(at);
        const uint8_t* src = d.bytes(n);
        for (uint32_t i = 0; i < n; i++) bytes[i] = src[i];
        if (h.type == TYPE_TUPLE) set_tuple_length(&v, n);
        break;
    }
    case TYPE_MONEY: {
        const uint8_t* at = d.at();
        const bool negative = d.compact() ? h.x : (h.word & FIXED_MONEY_SIGN) != 0;
        const uint8_t* src = d.bytes(12);
        if (!money_load(&v, negative, src[0], src + 1)) d.invalid(at);
        break;
    }
    default: d.invalid(h.at);
    }
    *block_alloc_tail(&target) = v;
}

} // namespace kem::kembin
