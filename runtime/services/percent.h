// Percent-encoding ("%XX"), shared by the lexer (URL and file literals), the
// url! and file! datatypes (mold) and the dehex and enhex natives.
//
// Encoding and decoding work on the UTF-8 bytes of the text: a non-ASCII
// character is written as the escapes of its UTF-8 bytes, and a run of
// escapes that forms one well-formed UTF-8 sequence decodes to one character.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kem {

// Encoding modes: the unreserved set (enhex of a string!), or the URL text
// set (every other caller; any mode but URL_MODE_TEXT selects it).
constexpr int32_t URL_MODE_TEXT = 254;
constexpr int32_t URL_MODE_URL = 255;

// Letters, digits and - . _ ~
bool url_unreserved_char(int32_t cp);
// The unreserved set plus ! # $ & ' ( ) * + , / : = ? @
bool url_text_char(int32_t cp);
// The value of an ASCII hexadecimal digit, -1 for anything else.
int32_t url_hex_digit(int32_t cp);

// Whether p..end starts with "%" and two hexadecimal digits; the escaped
// byte goes to *out. Never reads at or past end.
bool url_decode_escape(const uint8_t* p, const uint8_t* end, uint8_t* out);

// The text one byte becomes: the byte itself when the mode's set allows it,
// else "%XX" with uppercase digits. Bytes of 0x80 and above always escape.
struct UrlEscapedByte {
    char text[4];
    int32_t length;  // 1 or 3
};
UrlEscapedByte url_escape_byte(int32_t mode, uint8_t byte);

// The code points with their escapes decoded. A malformed escape, or escapes
// that do not form well-formed UTF-8 (an overlong form, a surrogate, a
// cut-short sequence), stay as text; a lone escaped byte that leads no
// sequence becomes the character of that value.
std::vector<int32_t> percent_decode(const std::vector<int32_t>& code_points);

// Appends the encoding of the code points to `out`, stopping before a piece
// once `limit` characters are out (limit < 0: no limit). With escape_parens,
// "(" and ")" are escaped whatever the mode. Returns the characters written.
int64_t percent_encode(const std::vector<int32_t>& code_points, int32_t mode, bool escape_parens, int64_t limit,
                       std::string& out);

} // namespace kem
