// Shared helpers of the terminal GUI tests: a screen of known size read back
// as text, the backend's output captured, and Kem values made from source.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "eval_support.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/services/unicode/utf.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/screen.h"

namespace kem::test {

// An empty screen of the size.
inline void fresh_screen(int width, int height) {
    gui::free_cells();
    gui::set_screen_size(width, height);
    gui::clear_cells();
}

// The screen as rows of UTF-8 text: "." for an empty cell, continuation
// cells left out.
inline std::vector<std::string> screen_rows() {
    std::vector<std::string> rows;
    for (int y = 0; y < gui::screen.height; y++) {
        std::string row;
        for (int x = 0; x < gui::screen.width; x++) {
            const gui::GuiCell& c = gui::cell_at(x, y);
            if (c.style & gui::STYLE_CONTINUATION) continue;
            if (c.code == 0) {
                row += '.';
                continue;
            }
            uint8_t bytes[4];
            row.append(reinterpret_cast<const char*>(bytes), size_t(utf8_encode_char(int32_t(c.code), bytes)));
        }
        rows.push_back(row);
    }
    return rows;
}

// What the backend writes, kept instead of sent to the terminal.
inline std::string& written() {
    static std::string bytes;
    return bytes;
}
inline void capture_output() {
    written().clear();
    gui::set_output_sink([](const char* bytes, size_t n) { written().append(bytes, n); });
}

// Evaluates Kem source and keeps its value in the global word `name` (so
// that it lives on); returns the value.
inline Cell kem(const std::string& source, const char* name = "tui-value") {
    const std::string result = run_kem(std::string(name) + ": do [" + source + "\n] none");
    EXPECT_EQ(result, "none") << source;
    const int32_t slot = context_find_word(global_context, symbol_make(name), true);
    return *context_value_slot(global_context, uint32_t(slot));
}

// A face with every facet of face!, then the fields of the spec.
inline Cell kem_face(const std::string& spec, const char* name = "tui-face") {
    return kem("make make object! [type: 'base offset: none size: none text: none image: none color: none menu: none "
               "data: none enabled?: true visible?: true selected: none flags: none options: none parent: none "
               "pane: none state: none rate: none edge: none para: none font: none actors: none extra: none "
               "draw: none] [" + spec + "]",
               name);
}

} // namespace kem::test
