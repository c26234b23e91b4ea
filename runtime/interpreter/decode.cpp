#include "runtime/interpreter/decode.h"
#include <cstring>
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/interpreter/walk.h"

namespace kem::interp {

namespace {

SiteKind site_kind(const Cell& c) {
    switch (type_of(&c)) {
    // An unbound word raises its error through the general walk.
    case TYPE_WORD: return c.data1 ? SITE_WORD : SITE_GENERAL;
    case TYPE_SET_WORD: return c.data1 ? SITE_SET_WORD : SITE_GENERAL;
    case TYPE_GET_WORD: return c.data1 ? SITE_GET_WORD : SITE_GENERAL;
    case TYPE_LIT_WORD: return SITE_LIT_WORD;
    case TYPE_PAREN: return SITE_PAREN;
    case TYPE_PATH: return SITE_PATH;
    case TYPE_SET_PATH: return SITE_SET_PATH;
    case TYPE_LIT_PATH: return SITE_LIT_PATH;
    case TYPE_GET_PATH:
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
    case TYPE_OP: return SITE_GENERAL;
    // #system before a block is refused, which the general walk knows.
    case TYPE_ISSUE:
        return c.data2 == rt_symbols.system || c.data2 == rt_symbols.system_global ? SITE_GENERAL : SITE_LITERAL;
    default: return SITE_LITERAL;
    }
}

} // namespace

uint8_t* new_side(NodeId series, uint32_t bytes, SideTag tag) {
    const NodeId side = alloc_series(bytes, 1, 0);
    SeriesBuffer* sb = node_buffer(side);
    sb->tail = sb->head + bytes;
    std::memset(sb->data(), 0, bytes);
    *reinterpret_cast<uint32_t*>(sb->data()) = tag;
    node_buffer(series)->side = side;
    return sb->data();
}

Code* block_code(NodeId block) {
    const uint32_t n = node_buffer(block)->used() / uint32_t(sizeof(Cell));
    if (auto* code = reinterpret_cast<Code*>(side_of(block, SIDE_CODE))) [[likely]] {
        // Cells added at the tail of a buffer with room leave the ones before
        // unchanged, and are found here.
        if (code->length == n) [[likely]]
            return code;
    }
    auto* code = reinterpret_cast<Code*>(new_side(block, uint32_t(sizeof(Code) + uint64_t(n) * sizeof(Site)), SIDE_CODE));
    code->length = n;
    // Allocation moves no buffer: the cells are where they were.
    const Cell* cells = node_buffer(block)->cell_head();
    Site* sites = code->sites();
    for (uint32_t i = 0; i < n; i++) {
        sites[i].kind = site_kind(cells[i]);
        // Such a word is mostly run in its function's body, where it is
        // found among the arguments; any other word through its site's slot.
        const Cell& c = cells[i];
        sites[i].local = (sites[i].kind == SITE_WORD || sites[i].kind == SITE_SET_WORD ||
                          sites[i].kind == SITE_GET_WORD) &&
                         int32_t(c.data3) >= 0 && context_kind(c.data1) == CONTEXT_FUNCTION;
#ifdef KEM_ASAN
        sites[i].decoded = cells[i];
#endif
    }
    code->simple = (n == 1 && sites[0].operand()) ||
                   (n == 3 && sites[0].operand() && sites[1].kind == SITE_WORD && sites[2].operand());
    return code;
}

CallRecord* call_record(const Cell* callable) {
    const Cell list = callable_arg_list(callable);
    if (uint8_t* made = side_of(list.data2, SIDE_CALL)) [[likely]]
        return reinterpret_cast<CallRecord*>(made);
    SeriesBuffer* lb = node_buffer(list.data2);
    CallRecord r{};
    r.tag = SIDE_CALL;
    uint8_t kind = type_of(callable);
    if (kind == TYPE_OP) kind = op_wrapped_type(callable);
    r.kind = kind;
    const bool native_kind = kind == TYPE_NATIVE || kind == TYPE_ACTION;
    bool usable = kind != TYPE_ROUTINE;
    bool required = true;
    uint32_t rest = 0, refinements = 0;
    const uint32_t n = lb->used() / uint32_t(sizeof(Cell));
    for (uint32_t i = 0; i < n; i++) {
        const Cell e = node_buffer(list.data2)->cell_head()[i];
        switch (type_of(&e)) {
        case TYPE_TYPESET:
            if (arg_kind(&e) == ARG_RETURN) break;
            if (!required) {
                rest++;
                break;
            }
            if (r.required == 8) {
                usable = false;
                break;
            }
            r.arg_kind[r.required] = uint8_t(arg_kind(&e));
            for (uint32_t t = 0; t < 64; t++)
                if (typeset_has(&e, uint8_t(t))) r.types[r.required] |= uint64_t(1) << t;
            r.required++;
            break;
        case TYPE_REFINEMENT:
            required = false;
            if (rest < 64) r.rest_flags |= uint64_t(1) << rest;
            rest++;
            refinements++;
            break;
        case TYPE_INTEGER:
            if (!native_kind) r.locals = uint32_t(cell_int(&e));
            break;
        default: break;
        }
    }
    if (rest > 64 || refinements > 64 || n > 255) usable = false;
    r.rest_slots = native_kind ? 0 : uint8_t(rest);
    r.refinements = uint8_t(refinements);
    if (native_kind) r.number = native_number(callable);
    if (kind == TYPE_FUNCTION) {
        const Cell fn = type_of(callable) == TYPE_OP ? op_callable(callable) : *callable;
        const Cell body = *function_body(&fn);
        if (is_type(&body, TYPE_BLOCK)) {
            r.body = body.data2;
            r.body_index = body.data1;
        }
        r.system = function_is_system(&fn);
    }
    r.any_slots = r.rest_slots || r.locals;
    r.frame_top = kind != TYPE_FUNCTION ? FRAME_TOP_INTERP_NATIVE
                  : r.system             ? FRAME_TOP_FUNCTION
                                         : FRAME_TOP_INTERP_FUNCTION;
    r.usable = usable;
    r.quick_start = usable && kind == TYPE_FUNCTION && !r.system && r.body && tracks_position(r.body) &&
                    r.rest_slots + r.locals <= QUICK_START_SLOTS;
    auto* out = reinterpret_cast<CallRecord*>(new_side(list.data2, sizeof(CallRecord), SIDE_CALL));
    *out = r;
    return out;
}

} // namespace kem::interp
