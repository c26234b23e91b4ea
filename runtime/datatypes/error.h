// error!: an object! of ten fixed fields made from the error catalog.
//
// The context of an error is a copy of system/standard/error, so its fields
// always sit at these indexes. Class id 1, no on-set block.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

enum ErrorField : uint32_t {
    ERROR_CODE = 0,
    ERROR_TYPE,
    ERROR_ID,
    ERROR_ARG1,
    ERROR_ARG2,
    ERROR_ARG3,
    ERROR_NEAR,
    ERROR_WHERE,
    ERROR_STACK,
    ERROR_FILES,
    ERROR_FIELD_COUNT
};

// The field cell of an error value (re-derive after anything allocates).
Cell* error_field(const Cell* error, ErrorField f);

// Pushes a new error of the catalog entry named by the two words, with the
// given arguments (nullptr: left none); near is the evaluator's position.
Cell* error_create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The same from a catalog id of the C++ table.
Cell* error_create_id(Err e, int argc, const Cell* args);
// Pushes the error value a KemError stands for: the one it carries, or one
// made from its id and arguments. Where and the stack marker are taken from
// the call stack as it stands (call before unwinding).
Cell* error_from_exception(const KemError& e);
// Raises an existing error value again (do of an error!).
[[noreturn]] void error_raise(const Cell& error);

// where := word, unless where already holds a value other than none.
void error_set_where(Cell* error, const Cell* word);
// Records the call-stack top in `stack` (unless it holds a block already).
void error_save_stack(Cell* error);
// Turns an integer stack marker into the block of the calls it names.
void error_capture_stack(Cell* error);

// Prints the report of an error (as `print` shows an error! value) without
// raising it; the one-line form when no error! value can be made (before the
// system object exists). The call stack must still hold the frames of the
// raise: where and the stack line come from them.
void error_print_report(const KemError& e);

// The actions.
Cell* error_make(Cell* proto, Cell* spec, int32_t type);
int32_t error_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t error_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t error_compare(Cell* value1, Cell* value2, CompareOp op);

void register_error();

} // namespace kem
