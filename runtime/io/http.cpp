// HTTP requests as values: the method, headers and body given to the
// platform's request, the response turned into a body value or a block of
// status, header map and body; the HTTP side of read and write of a url!.
#include "runtime/io/http.h"
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/simple_io.h"
#include "runtime/platform/http.h"

namespace kem {

namespace {

std::string text_of_string(const Cell* s) {
    const std::vector<uint8_t> bytes = binary_text_bytes(s);
    return std::string(bytes.begin(), bytes.end());
}

// A value as a header carries it: a string! as it is, anything else formed.
std::string formed_text(const Cell* value) {
    if (is_type(value, TYPE_STRING)) return text_of_string(value);
    Cell* buffer = string_make_at(stack::push_slot(), 32);
    Cell v = *value;
    form_direct(&v, buffer, nullptr, INT32_MAX);
    std::string text = text_of_string(buffer);
    stack::pop(1);
    return text;
}

std::string header_name(const Cell* name) {
    const uint8_t t = type_of(name);
    if (t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD)
        return std::string(symbol_name(name->data2));
    return formed_text(name);
}

std::string method_text(const Cell* method) {
    std::string text(symbol_name(method->data2));
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return text;  // GET, HEAD and POST included: their words in any case
}

std::vector<uint8_t> body_bytes(const Cell* body) {
    if (is_type(body, TYPE_BINARY)) {
        Cell bin = *body;
        const int32_t n = binary_rs_length(&bin);
        if (n <= 0) return {};
        const uint8_t* p = binary_rs_head(&bin);
        return std::vector<uint8_t>(p, p + n);
    }
    return binary_text_bytes(body);
}

Cell* body_value(const std::vector<uint8_t>& bytes, bool binary, bool lines) {
    if (binary) return binary_load_at(bytes.data(), uint32_t(bytes.size()), nullptr);
    if (lines && !bytes.empty()) return simple_io_lines_to_block(bytes.data(), bytes.size());
    return simple_io_bytes_to_string(bytes.data(), bytes.size());
}

bool ascii_same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? char(a[i] + 32) : a[i];
        const char y = (b[i] >= 'A' && b[i] <= 'Z') ? char(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

Cell* request_or_fail(const Cell* method, const Cell* url, const Cell* headers, const Cell* body, bool binary,
                      bool lines, bool info) {
    Cell* result = http_request(method, url, headers, body, binary, lines, info);
    if (!result) fire(Err::access_no_connect, *url);
    return result;
}

} // namespace

Cell* http_headers_to_map(std::string_view text) {
    // Names in the order first seen; a repeated name (in any letter case, as
    // word keys compare) gathers its values.
    std::vector<std::pair<std::string, std::vector<std::string>>> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string_view name = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        auto it = fields.begin();
        while (it != fields.end() && !ascii_same(it->first, name)) ++it;
        if (it == fields.end()) fields.push_back({std::string(name), {std::string(value)}});
        else it->second.emplace_back(value);
    }
    Cell* pairs = block_make_at(stack::push_slot(), int32_t(fields.size() * 2));
    for (const auto& [name, values] : fields) {
        Cell key;
        word_make_at(symbol_make_from_utf8(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size())),
                     &key);
        block_append_cell(pairs, &key);
        if (values.size() == 1) {
            string_load_in(reinterpret_cast<const uint8_t*>(values[0].data()), uint32_t(values[0].size()), pairs, 0);
        } else {
            Cell* list = block_make_at(stack::push_slot(), int32_t(values.size()));
            for (const std::string& v : values)
                string_load_in(reinterpret_cast<const uint8_t*>(v.data()), uint32_t(v.size()), list, 0);
            block_append_cell(pairs, list);
            stack::pop(1);
        }
    }
    Cell* map = map_make_at(stack::push_slot(), pairs, 0);
    *pairs = *map;
    stack::pop(1);
    return pairs;
}

Cell* http_request(const Cell* method, const Cell* url, const Cell* headers, const Cell* body, bool binary, bool lines,
                   bool info) {
    if (const char* library = platform::http_library_missing()) {
        Cell name;
        string_make_utf8(&name, library);
        fire(Err::access_cannot_open, name);
    }
    platform::HttpRequest request;
    request.method = method_text(method);
    request.url = formed_text(url);
    if (headers) {
        const std::vector<Cell> items = block_cells_copy(headers);
        // A last name without a value is sent with an empty value.
        for (size_t i = 0; i < items.size(); i += 2)
            request.headers.emplace_back(header_name(&items[i]), i + 1 < items.size() ? formed_text(&items[i + 1]) : "");
    } else {
        request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                           {"Accept-Charset", "UTF-8"},
                           {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    }
    if (body && request.method != "GET" && request.method != "HEAD") {
        request.has_body = true;
        request.body = body_bytes(body);
    }
    platform::HttpResponse response;
    if (!platform::http_request(request, response)) {
        if (response.out_of_memory) fire(Err::internal_no_memory);
        return nullptr;
    }
    if (!info) return body_value(response.body, binary, lines);
    Cell* result = block_make_at(stack::push_slot(), 3);
    const Cell status{TYPE_INTEGER, 0, uint32_t(int32_t(response.status)), 0};
    block_append_cell(result, &status);
    const Cell map = *http_headers_to_map(response.headers);
    block_append_cell(result, &map);
    stack::pop(1);
    const Cell value = *body_value(response.body, binary, lines);
    block_append_cell(result, &value);
    stack::pop(1);
    return result;
}

Cell* url_http_read(const Cell* url, bool binary, bool lines, bool info) {
    const Cell get = word_load("get");
    return request_or_fail(&get, url, nullptr, nullptr, binary, lines, info);
}

Cell* url_http_write(const Cell* url, const Cell* data, bool binary, bool lines, bool info) {
    Cell method = word_load("post");
    const Cell* headers = nullptr;
    const Cell* body = data;
    Cell header_block, body_cell;
    if (is_type(data, TYPE_BLOCK)) {
        const std::vector<Cell> items = block_cells_copy(data);
        body = nullptr;
        if (items.empty()) {
            method = word_load("get");
        } else {
            if (!is_type(&items[0], TYPE_WORD)) fire(Err::script_invalid_arg, items[0]);
            method = items[0];
            if (items.size() > 1) {
                if (!is_type(&items[1], TYPE_BLOCK)) fire(Err::script_invalid_arg, items[1]);
                header_block = items[1];
                headers = &header_block;
            }
            if (items.size() > 2) {
                body_cell = items[2];
                body = &body_cell;
            }
        }
    }
    // A block body cannot be sent as it stands: refused like any other non-text.
    if (body && !is_type(body, TYPE_STRING) && !is_type(body, TYPE_BINARY)) fire(Err::script_invalid_arg, *body);
    return request_or_fail(&method, url, headers, body, binary, lines, info);
}

} // namespace kem
