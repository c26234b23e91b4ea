// One synchronous HTTP or HTTPS request through libcurl.
//
// The request carries exactly the headers it is given (libcurl's own
// "Accept", "Content-Type" and "Expect" are withheld unless given), follows
// redirects, and keeps nothing between calls: no connections, no cookies.
// libcurl is opened and set up once, before the first request. Asynchronous signals are
// held while a request runs; one that arrives ends it (no response).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kem::platform {

struct HttpRequest {
    std::string method;  // "GET", "HEAD", "POST" or any other method text
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // sent in order
    bool has_body = false;  // never for GET and HEAD
    std::vector<uint8_t> body;
};

struct HttpResponse {
    long status = 0;
    // The header lines of the final response (after redirects), each
    // "Name: value" ended by CR LF, without the status line.
    std::string headers;
    std::vector<uint8_t> body;
    bool out_of_memory = false;  // the body found no memory to grow into
};

// The file name of libcurl when it cannot be opened, else null (it is opened
// at the first call).
const char* http_library_missing();

// False when no response came (no connection, a bad URL or scheme, a
// certificate refused, a transfer cut short, no connection within 30 seconds,
// no byte moved for 60 seconds, the body out of memory); an error status is
// a response.
bool http_request(const HttpRequest& request, HttpResponse& response);

} // namespace kem::platform
