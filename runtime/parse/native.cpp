// The parse native: its refinements turned into a comparison mode, a limit
// and a trace function for the engine.
#include <algorithm>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/interpreter/natives.h"
#include "runtime/parse/parse.h"

namespace kem {

namespace {

// The limit /part gives, as an index of the input: a length from the input's
// position, or a position in the input's own series. A window that ends
// before it begins is empty; the rules still run over it.
int64_t parse_limit(const Cell* input, const Cell* part) {
    const int64_t at = std::max(series_position(input), 0);
    int64_t end;
    switch (type_of(part)) {
    case TYPE_INTEGER: end = at + cell_int(part); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        // A fractional length is cut toward zero; NaN counts as nothing.
        const double d = cell_float(part);
        end = at + (d == d ? int64_t(std::clamp(d, -4294967296.0, 4294967296.0)) : 0);
        break;
    }
    default:
        if (type_of(part) != type_of(input) || series_node(part) != series_node(input))
            fire(Err::script_invalid_refine_arg, rt_refinements.part, *part);
        end = series_position(part);
    }
    return std::max(end, at);
}

void native_parse(const int32_t* refinements) {
    const int32_t part = refinements[native_ref(NAT_PARSE, "part")];
    const int32_t trace = refinements[native_ref(NAT_PARSE, "trace")];
    const Cell input = stack::arguments[0];
    const Cell rules = stack::arguments[1];
    const CompareOp mode =
        refinements[native_ref(NAT_PARSE, "case")] != -1 ? CompareOp::strict_equal : CompareOp::equal;
    const int64_t limit = part >= 0 ? parse_limit(&input, stack::arguments + part) : PARSE_NO_LIMIT;
    try {
        stack::arguments[0] = parse_run(&input, &rules, mode, limit, trace >= 0 ? stack::arguments + trace : nullptr);
    } catch (const PendingExit&) {
        // An exit from a rule's paren: the stacks are already set for its catcher.
    }
}

} // namespace

void register_parse_native() { native_register(NAT_PARSE, native_parse); }

} // namespace kem
