// url!: a string kind holding a URL.
//
// A url! keeps its text decoded; the lexer decodes the escapes of a URL
// literal (and of an unquoted file! literal) and mold encodes them again,
// through the percent-encoding of services/percent.h.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/services/percent.h"

namespace kem {

// Appends the decoded text of source (a string kind, from its position) to
// target. A malformed escape, or escapes that do not form well-formed UTF-8
// (an overlong form, a surrogate, a cut-short sequence), stay as text; a lone
// escaped byte that leads no sequence becomes the character of that value.
// Source and target may be the same series.
void url_decode(const Cell* source, Cell* target);
// Decodes the text from the value's position in place (the lexer's loaders).
void url_decode_in_place(Cell* value);
// Appends the encoded text of source (from its position) to target.
void url_encode(const Cell* source, Cell* target, int32_t mode);

// --- actions -----------------------------------------------------------------------

// make and to: a block!, paren! or hash! spec builds a URL when the target
// type is url! (scheme, host, optional port, then path parts); every other
// case is the string! make or to.
Cell* url_make(Cell* proto, Cell* spec, int32_t type);
Cell* url_to(Cell* proto, Cell* spec, int32_t type);
int32_t url_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// Path join of url! and file!: base/element is a new value of the base's type
// with one "/" between the two texts. Setting raises script bad-path-set.
Cell* url_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
// open makes a port of the URL's scheme and opens it. read and write of a URL
// beginning with "http" run one HTTP request (internal not-done for /part,
// /seek and /as of read, /seek, /allow and /as of write); other URLs are read
// and written through a port of their scheme.
Cell* url_open(Cell* url, const OpenArgs& refs);
Cell* url_read(Cell* url, const ReadArgs& refs);
Cell* url_write(Cell* url, Cell* data, const WriteArgs& refs);

void register_url();

} // namespace kem
