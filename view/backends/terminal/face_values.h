// Reading the GUI layer's objects from the backend: facets of a face by
// their position in face!, fields of font! and para! objects, and fields of
// system/view. Cell pointers returned here are good until the next allocation.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem::gui {

// Facets by their 0-based position in face!.
enum Facet : uint32_t {
    FACET_TYPE,
    FACET_OFFSET,
    FACET_SIZE,
    FACET_TEXT,
    FACET_IMAGE,
    FACET_COLOR,
    FACET_MENU,
    FACET_DATA,
    FACET_ENABLED,
    FACET_VISIBLE,
    FACET_SELECTED,
    FACET_FLAGS,
    FACET_OPTIONS,
    FACET_PARENT,
    FACET_PANE,
    FACET_STATE,
    FACET_RATE,
    FACET_EDGE,
    FACET_PARA,
    FACET_FONT,
    FACET_ACTORS,
    FACET_EXTRA,
    FACET_DRAW,
};
enum FontField : uint32_t {
    FONT_NAME, FONT_SIZE, FONT_STYLE, FONT_ANGLE, FONT_COLOR, FONT_ANTI_ALIAS, FONT_SHADOW, FONT_STATE, FONT_PARENT
};
enum ParaField : uint32_t { PARA_ORIGIN, PARA_PADDING, PARA_SCROLL, PARA_ALIGN, PARA_V_ALIGN, PARA_WRAP, PARA_PARENT };

// The value at a field position of an object!, or nullptr when the value
// is no object or has fewer fields.
Cell* field_at(const Cell* object, uint32_t index);
// The same as a value that is none when the field is missing.
Cell field_value(const Cell* object, uint32_t index);
// A field by its name (letter case ignored), or nullptr.
Cell* field_named(const Cell* object, const char* name);

// Whether the word (of any kind) names the symbol, letter case ignored.
bool word_is(const Cell* word, uint32_t symbol);
// Symbols the backend compares words with (names are string literals),
// interned on first use.
uint32_t gui_symbol(const char* name);

// A face as face? tells one: an object of face!'s class, or one with every
// field a face is read through.
bool is_face(const Cell* value);

// system/view/<name>, or nullptr while there is no such field.
Cell* view_field(const char* name);
// system/view/silent?: draw errors stop drawing without a report.
bool view_silent();

// A point argument (pair! or point2D!, truncated) as integers.
bool point_of(const Cell* value, int32_t* x, int32_t* y);
// A float truncated to an integer, saturated at the 32-bit limits (NaN is 0).
int32_t saturate_int(double value);

} // namespace kem::gui
