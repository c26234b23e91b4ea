#include "runtime/services/percent.h"
#include <array>
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

// Bit 0: unreserved; bit 1: URL text. Indexed by ASCII code.
constexpr std::array<uint8_t, 128> make_char_sets() {
    std::array<uint8_t, 128> t{};
    for (int c = 'A'; c <= 'Z'; c++) t[size_t(c)] = 3;
    for (int c = 'a'; c <= 'z'; c++) t[size_t(c)] = 3;
    for (int c = '0'; c <= '9'; c++) t[size_t(c)] = 3;
    for (char c : {'-', '.', '_', '~'}) t[size_t(c)] = 3;
    for (char c : {'!', '#', '$', '&', '\'', '(', ')', '*', '+', ',', '/', ':', '=', '?', '@'}) t[size_t(c)] = 2;
    return t;
}
constexpr std::array<uint8_t, 128> char_sets = make_char_sets();

constexpr char HEX_UPPER[] = "0123456789ABCDEF";

// An escape "%XX" at index i of the code points: its byte.
bool escape_at(const std::vector<int32_t>& cps, size_t i, uint8_t* byte) {
    if (i + 2 >= cps.size() || cps[i] != '%') return false;
    int32_t hi = url_hex_digit(cps[i + 1]);
    int32_t lo = url_hex_digit(cps[i + 2]);
    if (hi < 0 || lo < 0) return false;
    *byte = uint8_t(hi * 16 + lo);
    return true;
}

} // namespace

bool url_unreserved_char(int32_t cp) { return cp >= 0 && cp < 128 && (char_sets[size_t(cp)] & 1); }
bool url_text_char(int32_t cp) { return cp >= 0 && cp < 128 && (char_sets[size_t(cp)] & 2); }

int32_t url_hex_digit(int32_t cp) {
    if (cp >= '0' && cp <= '9') return cp - '0';
    if (cp >= 'A' && cp <= 'F') return cp - 'A' + 10;
    if (cp >= 'a' && cp <= 'f') return cp - 'a' + 10;
    return -1;
}

bool url_decode_escape(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    if (end - p < 3 || p[0] != '%') return false;
    int32_t hi = url_hex_digit(p[1]);
    int32_t lo = url_hex_digit(p[2]);
    if (hi < 0 || lo < 0) return false;
    *out = uint8_t(hi * 16 + lo);
    return true;
}

UrlEscapedByte url_escape_byte(int32_t mode, uint8_t byte) {
    bool keep = mode == URL_MODE_TEXT ? url_unreserved_char(byte) : url_text_char(byte);
    if (keep) return UrlEscapedByte{{char(byte), 0, 0, 0}, 1};
    return UrlEscapedByte{{'%', HEX_UPPER[byte >> 4], HEX_UPPER[byte & 15], 0}, 3};
}

// "%", hexadecimal digits and every unescaped character are ASCII or whole
// code points, so decoding over code points is decoding over UTF-8 bytes.
std::vector<int32_t> percent_decode(const std::vector<int32_t>& in) {
    std::vector<int32_t> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        uint8_t seq[4];
        if (escape_at(in, i, &seq[0])) {
            int n = utf8_lead_length(seq[0]);
            if (n == 0) {
                out.push_back(seq[0]);
                i += 3;
                continue;
            }
            bool escaped = true;
            for (int k = 1; k < n && escaped; k++) escaped = escape_at(in, i + 3 * size_t(k), &seq[k]);
            // Only well-formed UTF-8 decodes: an overlong form would smuggle in
            // characters such as "/" that the text never showed.
            int32_t cp;
            if (escaped && unicode::check_utf8_char(seq, size_t(n), &cp) == n) {
                out.push_back(cp);
                i += 3 * size_t(n);
                continue;
            }
        }
        out.push_back(in[i]);
        i++;
    }
    return out;
}

int64_t percent_encode(const std::vector<int32_t>& cps, int32_t mode, bool escape_parens, int64_t limit,
                       std::string& out) {
    int64_t count = 0;
    for (size_t i = 0; i < cps.size() && !(limit >= 0 && count >= limit); i++) {
        uint8_t bytes[4];
        int n = utf8_encode_char(cps[i], bytes);
        for (int k = 0; k < n && !(limit >= 0 && count >= limit); k++) {
            UrlEscapedByte e = url_escape_byte(mode, bytes[k]);
            if (escape_parens && (bytes[k] == '(' || bytes[k] == ')')) e = url_escape_byte(URL_MODE_TEXT, bytes[k]);
            out.append(e.text, size_t(e.length));
            count += e.length;
        }
    }
    return count;
}

} // namespace kem
