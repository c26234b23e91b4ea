// HTTP as the url! actions reach it: read and write of a URL whose text
// begins with "http". The bodies live with the I/O services, a layer above
// (io/http.cpp defines these); declaring them here keeps every include
// pointing down.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// A GET of the URL. The body comes back as a binary! with binary, a block of
// line strings with lines, else a string! of UTF-8; with info a block of the
// status (integer!), the response headers (map!) and the body. Access
// no-connect with the URL when no response comes. Returns the pushed result.
Cell* url_http_read(const Cell* url, bool binary, bool lines, bool info);

// A request chosen by the data: a request block (method word, optional
// header block, optional string! or binary! body; an empty block is a GET)
// or any other value, sent as the body of a POST with the default headers.
// Script invalid-arg for a malformed request block or body; the response as
// url_http_read gives it.
Cell* url_http_write(const Cell* url, const Cell* data, bool binary, bool lines, bool info);

} // namespace kem
