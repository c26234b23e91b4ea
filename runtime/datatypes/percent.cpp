// percent!: cells, its text form and its row, which takes every other action
// from float!.
#include "runtime/datatypes/percent.h"
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hash_keys.h"

namespace kem {

void percent_set_in(Cell* c, double d) {
    *c = Cell{TYPE_PERCENT, 0, 0, 0};
    set_cell_float(c, d);
}

void percent_set_in_halves(Cell* c, uint32_t high, uint32_t low) {
    percent_set_in(c, std::bit_cast<double>((uint64_t(high) << 32) | low));
}

Cell* percent_push64(uint32_t high, uint32_t low) {
    Cell* c = stack::push_slot();
    percent_set_in_halves(c, high, low);
    return c;
}

Cell* percent_make_in(const Cell* block, uint32_t high, uint32_t low) {
    Cell* c = block_alloc_tail(block);
    percent_set_in_halves(c, high, low);
    return c;
}

namespace {

int32_t percent_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    const char* text = float_form_float(cell_float(value) * 100.0, FORM_PERCENT);
    size_t len = std::strlen(text);
    string_append_ascii(buffer, std::string_view(text, len));
    return part - int32_t(len);
}

// The lexer reads a percent's exponent only after whole digits and as an
// upper-case E with no sign ("15E19%"), a negative one not at all: mold
// rewrites the formed exponent text that way, or into plain decimals.
std::string readable_percent(std::string_view text) {
    const size_t e = text.find('e');
    if (e == std::string_view::npos) return std::string(text);
    const size_t sign = text[0] == '-' ? 1 : 0;
    std::string digits;
    int32_t fraction = 0;
    bool after_point = false;
    for (char c : text.substr(sign, e - sign)) {
        if (c == '.') {
            after_point = true;
            continue;
        }
        digits += c;
        fraction += after_point;
    }
    const int32_t exponent = std::atoi(std::string(text.substr(e + 1)).c_str()) - fraction;
    std::string out(text.substr(0, sign));
    if (exponent > 0) {
        out += digits + "E" + std::to_string(exponent);
    } else if (-exponent >= int32_t(digits.size())) {
        out += "0." + std::string(size_t(-exponent) - digits.size(), '0') + digits;
    } else {
        const size_t point = digits.size() - size_t(-exponent);
        out += digits.substr(0, point) + (exponent < 0 ? "." : "") + digits.substr(point);
    }
    return out + "%";
}

int32_t percent_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const std::string text = readable_percent(float_form_float(cell_float(value) * 100.0, FORM_PERCENT));
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

} // namespace

void register_percent() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_FORM>(percent_form).set<ACT_MOLD>(percent_mold);
    register_datatype(TYPE_PERCENT, TYPE_FLOAT, "percent!", row);
    hash_compare_slots[TYPE_PERCENT] = float_compare;
}

} // namespace kem
