// money!: cells, the currency list, conversions, text, make and to, path
// access and pick, and the registration of its row. The arithmetic is in
// money_math.cpp.
#include "runtime/datatypes/money.h"
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money_impl.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"

namespace kem {

// --- cells ---------------------------------------------------------------------------

namespace {

inline uint8_t* cell_bytes(Cell* c) { return reinterpret_cast<uint8_t*>(c); }
inline const uint8_t* cell_bytes(const Cell* c) { return reinterpret_cast<const uint8_t*>(c); }
constexpr size_t AMOUNT_OFFSET = 5;

} // namespace

const uint8_t* money_amount_bytes(const Cell* c) { return cell_bytes(c) + AMOUNT_OFFSET; }

Decimal money_get(const Cell* c) {
    DecimalUnits u = 0;
    // Cells are made by money_set and money_load only, so the digits are sound.
    decimal_unpack(money_amount_bytes(c), &u);
    return decimal_make(money_get_sign(c), u);
}

Cell* money_set(Cell* c, const Decimal& d, uint32_t currency) {
    *c = Cell{TYPE_MONEY | (d.negative && !d.zero() ? MONEY_SIGN : 0), currency & 0xFF, 0, 0};
    decimal_pack(d.units, cell_bytes(c) + AMOUNT_OFFSET);
    return c;
}

int32_t money_sign(const Cell* c) { return money_get(c).sign(); }

bool money_load(Cell* c, bool negative, uint32_t currency, const uint8_t amount[11]) {
    DecimalUnits u;
    if (!decimal_unpack(amount, &u)) return false;
    money_set(c, decimal_make(negative, u), currency);
    return true;
}

// --- currencies -------------------------------------------------------------------------

namespace {

// The codes system/locale/currencies/list starts with: ISO 4217, a few crypto
// and territorial ones.
constexpr const char* DEFAULT_CURRENCIES[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PKB",
    "PYG", "QAR", "KEM", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW",
};
static_assert(std::size(DEFAULT_CURRENCIES) == 170);

Cell fallback_list = {TYPE_NONE, 0, 0, 0};
NodeId fallback_made_for = 0;

bool ascii_caseless_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// A field of the system object down a path of field names, or nullptr while
// there is no such field (before the system object is made).
class SystemField {
public:
    SystemField(std::initializer_list<const char*> names) : count_(names.size()) {
        std::copy(names.begin(), names.end(), names_);
    }
    const Cell* get() {
        // Symbols are made again only for a new symbol table (a new runtime in tests).
        if (made_for_ != symbol_table) {
            symbols_[0] = symbol_make("system");
            for (size_t i = 0; i < count_; i++) symbols_[i + 1] = symbol_make(names_[i]);
            made_for_ = symbol_table;
        }
        const Cell* v = context_global_value_cell(symbols_[0]);
        for (size_t i = 1; i <= count_; i++) {
            if (!v || !is_type(v, TYPE_OBJECT)) return nullptr;
            const NodeId ctx = object_context(v);
            const int32_t at = context_find_word(ctx, symbols_[i], true);
            v = at < 0 ? nullptr : context_value_slot(ctx, uint32_t(at));
        }
        return v;
    }

private:
    const char* names_[3] = {};
    size_t count_;
    uint32_t symbols_[4] = {};
    NodeId made_for_ = 0;
};

SystemField system_currencies{"locale", "currencies", "list"};
SystemField system_money_digits{"options", "money-digits"};
} // namespace

const Cell* money_currency_list() {
    const Cell* list = system_currencies.get();
    if (list && is_type(list, TYPE_BLOCK)) return list;
    // Before the system object holds the list, the one it starts with.
    if (fallback_made_for != symbol_table || !is_type(&fallback_list, TYPE_BLOCK)) {
        block_make_at(&fallback_list, int32_t(std::size(DEFAULT_CURRENCIES)));
        for (const char* code : DEFAULT_CURRENCIES) word_load_in(code, &fallback_list);
        fallback_made_for = symbol_table;
        collector::add_layer_root("currencies", [] { collector::mark_value(&fallback_list); });
    }
    return &fallback_list;
}

int32_t money_find_currency(uint32_t symbol) {
    const Cell* list = money_currency_list();
    const uint32_t id = symbol_resolve(symbol);
    const uint32_t n = std::min<uint32_t>(block_full_length(list), MONEY_MAX_CURRENCIES);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* w = block_rs_abs_at(list, i);
        if (any_word_type(type_of(w)) && symbol_resolve(w->data2) == id) return int32_t(i + 1);
    }
    return -1;
}

int32_t money_find_currency_name(std::string_view code) {
    const Cell* list = money_currency_list();
    const uint32_t n = std::min<uint32_t>(block_full_length(list), MONEY_MAX_CURRENCIES);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* w = block_rs_abs_at(list, i);
        if (any_word_type(type_of(w)) && ascii_caseless_equal(symbol_name(w->data2), code)) return int32_t(i + 1);
    }
    return -1;
}

Cell money_currency_at(uint32_t index) {
    const Cell* list = money_currency_list();
    if (index == 0 || index > block_full_length(list)) return none_value;
    Cell w = *block_rs_abs_at(list, index - 1);
    return w;
}

// --- numbers -------------------------------------------------------------------------------

namespace money_detail {

Cell datatype_of(uint8_t type) {
    Cell t;
    make_datatype(&t, type);
    return t;
}

[[noreturn]] void fire_type_limit(uint8_t type) { fire(Err::script_type_limit, datatype_of(type)); }

void check(DecimalStatus s) {
    switch (s) {
    case DecimalStatus::ok: return;
    case DecimalStatus::zero_divide: fire(Err::math_zero_divide);
    default: fire_type_limit(TYPE_MONEY);
    }
}

} // namespace money_detail

using namespace money_detail;

Cell* money_from_integer(Cell* c, int32_t n) { return money_set(c, decimal_from_int(n), 0); }

Cell* money_from_float(Cell* c, double x, bool strict) {
    Decimal d;
    if (decimal_from_double(x, strict, &d) != DecimalStatus::ok) {
        Cell f;
        make_float(&f, x);
        fire(Err::script_bad_make_arg, datatype_of(TYPE_MONEY), f);
    }
    return money_set(c, d, 0);
}

double money_to_float(const Cell* c) { return decimal_to_double(money_get(c)); }

int32_t money_to_integer(const Cell* c) {
    const Decimal d = money_get(c);
    const DecimalUnits whole = d.units / DECIMAL_SCALE;
    if (whole > (d.negative ? DecimalUnits(2147483648u) : DecimalUnits(2147483647))) fire_type_limit(TYPE_INTEGER);
    const int64_t n = int64_t(whole);
    return int32_t(d.negative ? -n : n);
}

MoneyText money_from_digits(Cell* c, bool negative, std::string_view currency, std::string_view integer,
                            std::string_view fraction) {
    int32_t index = 0;
    if (!currency.empty()) {
        index = money_find_currency_name(currency);
        if (index < 0) return MoneyText::unknown_currency;
    }
    DecimalUnits u;
    switch (decimal_from_digit_runs(integer, fraction, &u)) {
    case DecimalStatus::ok: break;
    case DecimalStatus::overflow: return MoneyText::too_long;
    default: return MoneyText::invalid;
    }
    money_set(c, decimal_make(negative, u), uint32_t(index));
    return MoneyText::ok;
}

// --- text ------------------------------------------------------------------------------------

namespace {

// system/options/money-digits, 2 when it is not an integer!.
int32_t fraction_digits_setting() {
    const Cell* v = system_money_digits.get();
    return v && is_type(v, TYPE_INTEGER) ? cell_int(v) : 2;
}

std::string amount_text(const Cell* value, int32_t fraction_digits, bool group) {
    const Decimal d = money_get(value);
    std::string out = d.negative ? "-" : "";
    if (uint32_t index = money_currency_index(value)) {
        const Cell code = money_currency_at(index);
        if (any_word_type(type_of(&code))) out += symbol_name(code.data2);
    }
    out += '$';
    decimal_append_digits(out, d.units, std::min(fraction_digits, DECIMAL_FRACTION_DIGITS), group);
    return out;
}

int32_t append_text(Cell* buffer, const std::string& text, int32_t part) {
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t money_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return append_text(buffer, amount_text(value, fraction_digits_setting(), true), part);
}

// A molded amount loads back to the same value: the fraction digits the
// setting asks for, and more when the value has more.
int32_t money_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    int32_t digits = DECIMAL_FRACTION_DIGITS;
    if (!refs.all) digits = std::max(fraction_digits_setting(), decimal_fraction_digits_used(money_get(value).units));
    return append_text(buffer, amount_text(value, digits, false), part);
}

} // namespace

// --- make and to ------------------------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_make(const Cell* culprit) {
    fire(Err::script_bad_make_arg, datatype_of(TYPE_MONEY), *culprit);
}

// [currency amount extra]: an optional currency word, an integer! or float!
// amount, and after an integer amount an optional count of 10^-5 units.
Cell* from_block(Cell* proto, const Cell* spec) {
    Cell blk = *spec;
    const int32_t n = block_rs_length(&blk);
    if (n < 1 || n > 3) fire_bad_make(spec);
    const Cell* items = block_rs_head(&blk);
    int32_t at = 0;
    int32_t currency = 0;
    if (is_type(&items[0], TYPE_WORD)) {
        currency = money_find_currency(items[0].data2);
        if (currency < 0 || n == 1) fire_bad_make(&items[0]);
        at = 1;
    }
    const Cell amount = items[at];
    Decimal d;
    Cell made;
    if (is_type(&amount, TYPE_INTEGER)) {
        d = decimal_from_int(cell_int(&amount));
    } else if (is_type(&amount, TYPE_FLOAT)) {
        d = money_get(money_from_float(&made, cell_float(&amount), true));
    } else {
        fire_bad_make(&amount);
    }
    if (at + 1 < n) {
        const Cell extra = items[at + 1];
        if (!is_type(&amount, TYPE_INTEGER) || !is_type(&extra, TYPE_INTEGER) || cell_int(&extra) < 0 ||
            cell_int(&extra) > 99999)
            fire_bad_make(&extra);
        // The units carry the amount's sign.
        d.units += DecimalUnits(uint32_t(cell_int(&extra)));
        d.negative = cell_int(&amount) < 0;
    }
    if (at + 2 < n) fire_bad_make(&items[at + 2]);
    return money_set(proto, d, uint32_t(currency));
}

// The money reader of the lexer over the text from its position.
Cell* from_text(Cell* proto, const Cell* spec) {
    Cell text = *spec;
    const int32_t count = string_rs_length(&text);
    const uint32_t unit = unit_bytes(series_buffer(&text));
    Cell made;
    switch (lexer_money_from_text(string_rs_head(&text), count, unit, &made)) {
    case MoneyText::ok: return copy_cell(&made, proto);
    case MoneyText::too_long: fire_type_limit(TYPE_MONEY);
    default: fire(Err::script_bad_to_arg, datatype_of(TYPE_MONEY), *spec);
    }
}

} // namespace

Cell* money_to(Cell* proto, Cell* spec, int32_t type) {
    const uint8_t t = type_of(spec);
    if (any_string_type(t)) return from_text(proto, spec);
    switch (t) {
    case TYPE_INTEGER: return money_from_integer(proto, cell_int(spec));
    case TYPE_FLOAT: return money_from_float(proto, cell_float(spec), true);
    case TYPE_MONEY: return copy_cell(spec, proto);
    default: fire(Err::script_bad_to_arg, datatype_of(TYPE_MONEY), *spec);
    }
}

Cell* money_make(Cell* proto, Cell* spec, int32_t type) {
    if (is_type(spec, TYPE_WORD)) {
        const int32_t currency = money_find_currency(spec->data2);
        if (currency < 0) fire_bad_make(spec);
        return money_set(proto, Decimal{}, uint32_t(currency));
    }
    if (is_type(spec, TYPE_BLOCK)) return from_block(proto, spec);
    return money_to(proto, spec, type);
}

// --- path access and pick -------------------------------------------------------------------

namespace {

// 1 for code, 2 for amount, 0 for anything else.
int32_t field_of(const Cell* element) {
    if (is_type(element, TYPE_INTEGER)) {
        const int32_t i = cell_int(element);
        return i == 1 || i == 2 ? i : 0;
    }
    if (!any_word_type(type_of(element))) return 0;
    const uint32_t id = symbol_resolve(element->data2);
    if (id == symbol_resolve(rt_symbols.code)) return 1;
    if (id == symbol_resolve(rt_symbols.amount)) return 2;
    return 0;
}

Cell* field_value(Cell* money, int32_t field, Cell* out) {
    if (field == 1) {
        *out = money_currency_at(money_currency_index(money));
        return out;
    }
    copy_cell(money, out);
    money_set_currency(out, 0);
    return out;
}

Cell* money_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    const Cell shown_path = step.path ? *step.path : none_value;
    if (value) fire(Err::script_bad_path_set, shown_path, *element);
    const int32_t field = field_of(element);
    if (!field) fire(Err::script_invalid_path, shown_path, *element);
    Cell result;
    field_value(parent, field, &result);
    return stack::push(&result);
}

Cell* money_pick(Cell* series, int32_t index, Cell* boxed) {
    Cell shown;
    if (boxed) shown = *boxed;
    else make_integer(&shown, index);
    const int32_t field = field_of(&shown);
    if (!field) fire(Err::script_out_of_range, shown);
    Cell result;
    field_value(series, field, &result);
    return copy_cell(&result, series);
}

} // namespace

// --- registration ---------------------------------------------------------------------------

void register_money() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(money_make)
        .set<ACT_TO>(money_to)
        .set<ACT_FORM>(money_form)
        .set<ACT_MOLD>(money_mold)
        .set<ACT_EVAL_PATH>(money_eval_path)
        .set<ACT_PICK>(money_pick);
    money_detail::set_math_actions(row);
    register_datatype(TYPE_MONEY, 0, "money!", row);
    hash_compare_slots[TYPE_MONEY] = money_compare;
}

} // namespace kem
