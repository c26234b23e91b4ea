// HTTP requests over the platform's libcurl layer, with values in and out:
// the method word, the header block, the body, and the response as a body
// value or a block of status, header map and body.
#pragma once
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/datatypes/url_io.h"

namespace kem {

// One request. method: a word (get, head and post in any case send GET, HEAD
// and POST; any other word its text in upper case). headers: a block of name
// and value pairs, or null for the three default headers (an empty block
// sends none of them). body: a string! (sent as UTF-8) or binary! from its
// position, or null; GET and HEAD never send one. Returns the pushed
// response value, or nullptr when no response came; internal no-memory when
// the body finds no memory to grow into. Without libcurl, raises access
// cannot-open naming it.
Cell* http_request(const Cell* method, const Cell* url, const Cell* headers, const Cell* body, bool binary, bool lines,
                   bool info);

// Pushes a map! of header lines "Name: value" (each ended by CR LF): word!
// keys, string! values; a name given more than once has a block of its
// values in order.
Cell* http_headers_to_map(std::string_view text);

} // namespace kem
