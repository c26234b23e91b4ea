// email!: a string kind holding an e-mail address. It behaves as a string!
// except that it molds bare (as it forms) and that its path access reaches
// the user and host parts of the address as /user and /host.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// The text as string! forms it: no quotes, nothing escaped.
int32_t email_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);

// /user is the text before the first "@" (all of it without one), /host the
// text after it (empty without one). Getting gives a new string!; setting
// replaces that part of the address in place and answers the value set. An
// integer! picks or pokes a character as on a string!; any other element
// raises script invalid-path.
Cell* email_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);

void register_email();

} // namespace kem
