#include "view/backends/terminal/colors.h"
#include <cctype>
#include <cstdlib>
#include <string_view>
#include "runtime/datatypes/tuple.h"

namespace kem::gui {

namespace {

constexpr Rgb SYSTEM_COLORS[16] = {
    {0, 0, 0},       {205, 0, 0},   {0, 205, 0},     {205, 205, 0},   {0, 0, 238},   {205, 0, 205},
    {0, 205, 205},   {229, 229, 229}, {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {92, 92, 255},   {255, 0, 255}, {0, 255, 255},   {255, 255, 255}};
constexpr uint8_t CUBE_LEVELS[6] = {0, 95, 135, 175, 215, 255};

// SGR parameters of the base colours, as foreground; the background adds 10.
constexpr int BASE_FOREGROUND[18] = {30, 31, 32, 33, 34, 35, 36, 37, 0, 39, 90, 91, 92, 93, 94, 95, 96, 97};

int cube_level(int component) {
    if (component < 48) return 0;
    if (component <= 114) return 1;
    return (component - 35) / 40;
}

int distance(Rgb a, int r, int g, int b) {
    const int dr = a.r - r, dg = a.g - g, db = a.b - b;
    return dr * dr + dg * dg + db * db;
}

bool contains_caseless(const char* text, std::string_view part) {
    if (!text) return false;
    const std::string_view t(text);
    for (size_t at = 0; at + part.size() <= t.size(); at++) {
        size_t i = 0;
        while (i < part.size() && std::tolower(static_cast<unsigned char>(t[at + i])) == part[i]) i++;
        if (i == part.size()) return true;
    }
    return false;
}

} // namespace

Rgb palette_rgb(uint32_t index) {
    index &= 0xFF;
    if (index < 16) return SYSTEM_COLORS[index];
    if (index < 232) {
        const uint32_t i = index - 16;
        return Rgb{CUBE_LEVELS[i / 36], CUBE_LEVELS[(i / 6) % 6], CUBE_LEVELS[i % 6]};
    }
    const uint8_t level = uint8_t(8 + 10 * (index - 232));
    return Rgb{level, level, level};
}

uint32_t rgb_to_256(uint32_t c) {
    if ((c >> 24) == 255) return 0;
    const int r = int(c & 0xFF), g = int((c >> 8) & 0xFF), b = int((c >> 16) & 0xFF);
    const uint32_t cube = uint32_t(16 + 36 * cube_level(r) + 6 * cube_level(g) + cube_level(b));
    const int average = (r + g + b) / 3;
    const uint32_t grey = 232 + uint32_t(average >= 239 ? 23 : (average - 3) / 10);
    const bool cube_nearer = distance(palette_rgb(cube), r, g, b) < distance(palette_rgb(grey), r, g, b);
    return color_word(COLOR_PALETTE, cube_nearer ? cube : grey);
}

uint32_t tuple_color_value(const Cell* tuple) {
    const uint8_t* bytes = tuple_bytes(tuple);
    uint32_t value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16;
    if (tuple_length(tuple) > 3) value |= uint32_t(bytes[3]) << 24;
    return value;
}

void append_color_sequence(std::string& out, uint32_t word, bool foreground) {
    out += "\x1b[";
    const uint32_t value = word & 0xFFFFFF;
    switch (color_kind(word)) {
    case COLOR_DEFAULT: out += foreground ? "39" : "49"; break;
    case COLOR_BASE:
        if (value < 18) {
            const int code = BASE_FOREGROUND[value];
            // Index 8 is the full reset, the same text for both.
            out += std::to_string(code == 0 || foreground ? code : code + 10);
        } else {
            out += '0';
        }
        break;
    case COLOR_PALETTE:
        out += foreground ? "38;5;" : "48;5;";
        out += std::to_string(value & 0xFF);
        break;
    case COLOR_RGB:
        out += foreground ? "38;2;" : "48;2;";
        out += std::to_string(value >> 16) + ';' + std::to_string((value >> 8) & 0xFF) + ';' +
               std::to_string(value & 0xFF);
        break;
    default: out += '0'; break;
    }
    out += 'm';
}

uint32_t pixel_color_word(uint32_t argb, int color_mode) {
    if (color_mode == COLOR_MODE_24BIT) return color_word(COLOR_RGB, argb);
    // A pixel's alpha counts opacity, a tuple's transparency: turned round
    // with the byte order, so an opaque pixel is an opaque colour.
    const uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    const uint32_t transparency = 255 - (argb >> 24);
    return rgb_to_256(r | g << 8 | b << 16 | transparency << 24);
}

int color_mode_from(const char* colorterm, const char* term) {
    if (contains_caseless(colorterm, "24bit") || contains_caseless(colorterm, "truecolor")) return COLOR_MODE_24BIT;
    if (contains_caseless(colorterm, "256") || contains_caseless(term, "256")) return COLOR_MODE_256;
    return COLOR_MODE_24BIT;
}

int color_mode_from_environment() { return color_mode_from(std::getenv("COLORTERM"), std::getenv("TERM")); }

} // namespace kem::gui
