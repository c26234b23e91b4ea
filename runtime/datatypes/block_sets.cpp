// block!: union, intersect, unique, difference and exclude over records of
// cells. A record is known by its first cell; the others follow it.
#include <algorithm>
#include <vector>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"

namespace kem {

// unique (8), union (9), intersect (10), exclude (11), difference (12) of the
// current call's two block arguments; the result replaces the first.
Cell* block_do_set_op(bool case_, Cell* skip, int32_t op) {
    int32_t size = 1;
    if (skip) {
        size = is_type(skip, TYPE_INTEGER) ? cell_int(skip) : 0;
        if (size < 1) fire(Err::script_invalid_refine_arg, word_load("skip"), *skip);
    }
    // The operands are read into copies: the result's growth may move nothing
    // they point at, and the same block may stand on both sides.
    Cell set1 = stack::arguments[0];
    Cell set2 = op == 8 ? set1 : stack::arguments[1];
    for (Cell* s : {&set1, &set2})
        set_series_position(s, std::clamp<int64_t>(series_position(s), 0, block_full_length(s)));
    const std::vector<Cell> cells1 = block_cells_copy(&set1);
    const std::vector<Cell> cells2 = op == 8 ? std::vector<Cell>{} : block_cells_copy(&set2);
    const int32_t cmp_op = case_ ? 2 : 12;
    std::vector<Cell> out;

    // Whether some record of `in` starts with a cell equal to c.
    auto holds = [&](const std::vector<Cell>& in, const Cell& c) {
        for (size_t i = 0; i < in.size(); i += size_t(size)) {
            Cell a = c, b = in[i];
            if (type_of(&a) == type_of(&b) && compare_values(&a, &b, cmp_op) == 0) return true;
        }
        return false;
    };
    auto pass = [&](const std::vector<Cell>& from, const std::vector<Cell>* other, bool want_in_other) {
        for (size_t i = 0; i < from.size(); i += size_t(size)) {
            if (other && holds(*other, from[i]) != want_in_other) continue;
            if (holds(out, from[i])) continue;
            out.insert(out.end(), from.begin() + ptrdiff_t(i),
                       from.begin() + ptrdiff_t(std::min(from.size(), i + size_t(size))));
        }
    };
    switch (op) {
    case 8: pass(cells1, nullptr, false); break;
    case 9: pass(cells1, nullptr, false); pass(cells2, nullptr, false); break;
    case 10: pass(cells1, &cells2, true); break;
    case 11: pass(cells1, &cells2, false); break;
    case 12: pass(cells1, &cells2, false); pass(cells2, &cells1, false); break;
    default: fire(Err::script_invalid_arg, Cell{TYPE_INTEGER, 0, uint32_t(op), 0});
    }
    Cell* result = block_make_at(stack::push_slot(), int32_t(std::max<size_t>(out.size(), 1)));
    for (const Cell& c : out) block_append_cell(result, &c);
    stack::arguments[0] = Cell{type_of(&set1), 0, series_node(result), 0};
    set_series_position(stack::arguments, 0);
    stack::top = stack::arguments + 1;
    return stack::arguments;
}

} // namespace kem
