// url!: a string kind holding a URL, and the percent-encoding ("%XX")
// shared by the lexer, mold, dehex and enhex.
//
// A url! keeps its text decoded; the lexer decodes the escapes of a URL
// literal (and of an unquoted file! literal) and mold encodes them again.
//
// Encoding and decoding work on the UTF-8 bytes of the text: a non-ASCII
// character is written as the escapes of its UTF-8 bytes, and a run of
// escapes that forms one well-formed UTF-8 sequence decodes to one character.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

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

// A copy of the url! on the data stack.
Cell* url_push(const Cell* value);

// --- actions -----------------------------------------------------------------------

// make and to: a block!, paren! or hash! spec builds a URL when the target
// type is url! (scheme, host, optional port, then path parts); every other
// case is the string! make or to.
Cell* url_make(Cell* proto, Cell* spec, int32_t type);
Cell* url_to(Cell* proto, Cell* spec, int32_t type);
int32_t url_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                 int32_t indent);
// Path join of url! and file!: base/element is a new value of the base's type
// with one "/" between the two texts. Setting raises script bad-path-set.
Cell* url_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* owner, Cell* prev_element,
                    int32_t index, bool push, bool get, bool last, bool notify);

void register_url();

} // namespace kem
