// The word family in source text: words and their kinds, refinements, issues
// and the words of paths.
#include <string>
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer_state.h"
#include "runtime/services/unicode/utf.h"

namespace kem::lexer {

namespace {

// The kind a word token makes, from its ":" and "'" marks.
int32_t word_kind(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    int32_t kind = TYPE_WORD;
    if (flags & FLAG_COLON) {
        bool leading = *start == ':';
        bool trailing = end - start > 1 && end[-1] == ':';
        if (leading && !trailing) kind = TYPE_GET_WORD;
        else if (trailing && !leading) kind = TYPE_SET_WORD;
        else if (leading || trailing) throw_load_error(s, start, end, TYPE_WORD);
        else {
            // The ":" after a path element makes the path a set-path.
            bool in_path = s.entry_state == ENTRY_PATH && end < s.input_end && *end == ':' &&
                           (end + 1 >= s.input_end || delimiter_byte(end[1]));
            if (!in_path) throw_load_error(s, start, end, TYPE_WORD);
        }
    }
    if (*start == '\'') {
        if (kind == TYPE_SET_WORD) throw_load_error(s, start, end, TYPE_LIT_WORD);
        kind = TYPE_LIT_WORD;
    }
    return kind;
}

// Checks that start..end is UTF-8; the invalid error names `kind`.
void check_name(LexerState& s, const uint8_t* start, const uint8_t* end, int32_t kind) {
    for (const uint8_t* p = start; p < end;) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        int n = unicode::check_utf8_char(p, size_t(end - p), &cp);
        if (n <= 0) throw_load_error(s, s.token_start, s.token_end, kind);
        p += n;
    }
}

} // namespace

void scan_word(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    // The word ends before the first space-like code point; the rest is read again.
    for (const uint8_t* p = start; p < end;) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        int n = unicode::check_utf8_char(p, size_t(end - p), &cp);
        if (n <= 0) throw_load_error(s, start, end, TYPE_WORD);
        if (unicode_delimiter(cp)) {
            end = p;
            flags &= ~FLAG_COLON;
            for (const uint8_t* q = start; q < end; q++)
                if (*q == ':') flags |= FLAG_COLON;
            break;
        }
        p += n;
    }
    s.token_end = end;
    s.position = end;
    int32_t kind = word_kind(s, start, end, flags);
    s.type_override = kind;
    s.type = kind;
}

void scan_issue(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (end - start < 2 || *start != '#') throw_load_error(s, start, end, TYPE_ISSUE);
    s.type_override = TYPE_ISSUE;
    s.position = end;
}

void load_word_kind(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int32_t kind,
                    bool load) {
    if (kind <= 0) kind = word_kind(s, start, end, flags);
    const uint8_t* name = start;
    const uint8_t* name_end = end;
    switch (kind) {
    case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT: case TYPE_ISSUE: name++; break;
    case TYPE_SET_WORD: name_end--; break;
    case TYPE_WORD:
        if (*name == '\'' || *name == ':') name++;   // the head of a lit-path or get-path
        break;
    default: break;
    }
    if ((kind == TYPE_REFINEMENT || kind == TYPE_ISSUE) && name >= name_end) throw_load_error(s, start, end, kind);
    check_name(s, name, name_end, kind);
    s.type = kind;
    s.position = end;
    if (!load) return;
    uint32_t index = alloc_cell(s);
    Cell word;
    if (s.probe) {
        word = Cell{uint32_t(kind), 0, 0, 0};
    } else if (kind == TYPE_ISSUE) {
        issue_set_in(&word, std::string(name, name_end).c_str());
    } else {
        word_make_at(symbol_make_from_utf8(name, uint32_t(name_end - name)), &word);
        set_type(&word, uint8_t(kind));
    }
    word.header |= cell_at(index)->header & HEADER_NEW_LINE;
    *cell_at(index) = word;
}

void load_word(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_word_kind(s, start, end, flags, s.type_override, load);
}

// "/" alone is a word; "'/", ":/" and "/:" its lit-, get- and set-word.
void load_refinement(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    ptrdiff_t n = end - start;
    if (n == 1 && *start == '/') return load_word_kind(s, start, end, flags, TYPE_WORD, load);
    if (n == 2 && (start[0] == '\'' || start[0] == ':' || start[1] == ':')) {
        int32_t kind = start[0] == '\'' ? TYPE_LIT_WORD : start[0] == ':' ? TYPE_GET_WORD : TYPE_SET_WORD;
        return load_word_kind(s, start, end, flags, kind, load);
    }
    if (*start != '/') throw_load_error(s, start, end, TYPE_REFINEMENT);
    load_word_kind(s, start, end, flags, TYPE_REFINEMENT, load);
}

} // namespace kem::lexer
