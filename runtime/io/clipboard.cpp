// The clipboard as values, over the platform layer's formats.
#include "runtime/io/clipboard.h"
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/platform/clipboard.h"
#include "runtime/services/percent.h"

namespace kem {

using platform::ClipFormat;
using platform::ClipItem;

namespace {

constexpr std::string_view FILE_SCHEME = "file://";

// A URI list line as a path: "file://", an optional host, then the path
// with its escapes decoded. Empty for lines that name no local file.
std::string path_of_uri(std::string_view line) {
    if (line.substr(0, FILE_SCHEME.size()) != FILE_SCHEME) return {};
    line.remove_prefix(FILE_SCHEME.size());
    const size_t slash = line.find('/');
    if (slash == std::string_view::npos) return {};
    line.remove_prefix(slash);
    std::string path;
    const auto* p = reinterpret_cast<const uint8_t*>(line.data());
    const auto* end = p + line.size();
    while (p < end) {
        uint8_t byte;
        if (url_decode_escape(p, end, &byte)) {
            path.push_back(char(byte));
            p += 3;
        } else {
            path.push_back(char(*p++));
        }
    }
    return path;
}

Cell* files_of_uri_list(const std::vector<uint8_t>& bytes) {
    Cell* block = block_make_at(stack::push_slot(), 4);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        if (line.empty() || line.front() == '#') continue;
        const std::string path = path_of_uri(line);
        if (path.empty()) continue;
        Cell file;
        string_load_at(reinterpret_cast<const uint8_t*>(path.data()), uint32_t(path.size()), &file, 0);
        set_type(&file, TYPE_FILE);
        block_append_cell(block, &file);
    }
    return block;
}

// The file! and string! values of a block as a URI list of absolute paths.
std::vector<uint8_t> uri_list_of(const Cell* block) {
    std::string list;
    const uint32_t n = uint32_t(series_length_at(const_cast<Cell*>(block), false));
    for (uint32_t i = 0; i < n; i++) {
        const Cell item = *(series_buffer(block)->cell_head() + series_position(block) + i);
        if (!is_type(&item, TYPE_FILE) && !is_type(&item, TYPE_STRING)) fire(Err::script_invalid_arg, item);
        Cell local;
        string_make_at(&local, 64);
        RootedCell keep(&local);
        file_to_local_path(&item, &local, true);
        list += FILE_SCHEME;
        for (uint8_t byte : binary_text_bytes(&local)) {
            if (byte == '/') {
                list.push_back('/');
                continue;
            }
            const UrlEscapedByte e = url_escape_byte(URL_MODE_TEXT, byte);
            list.append(e.text, size_t(e.length));
        }
        list += "\r\n";
    }
    return std::vector<uint8_t>(list.begin(), list.end());
}

std::vector<uint8_t> bytes_of_binary(const Cell* binary) {
    const uint8_t* head = series_buffer(binary)->head_ptr() + binary_index(binary);
    return std::vector<uint8_t>(head, head + binary_rs_length(binary));
}

std::vector<uint8_t> encoded(const Cell* image, platform::ImageFormat format) {
    Cell* bytes = image_encode(image, stack::push_slot(), format);
    std::vector<uint8_t> out = bytes_of_binary(bytes);
    stack::pop(1);
    return out;
}

} // namespace

Cell* clipboard_read() {
    static constexpr ClipFormat wanted[] = {ClipFormat::text, ClipFormat::files, ClipFormat::png,
                                            ClipFormat::jpeg, ClipFormat::gif,   ClipFormat::bmp};
    const platform::ClipRead r = platform::clipboard_read(wanted);
    if (r.status == platform::ClipStatus::unreachable) {
        Cell f;
        make_logic(&f, false);
        return stack::push(&f);
    }
    if (r.status == platform::ClipStatus::empty) return stack::push(&none_value);
    const std::vector<uint8_t>& bytes = r.item.bytes;
    switch (r.item.format) {
    case ClipFormat::text: return string_load_at(bytes.data(), uint32_t(bytes.size()), nullptr, 0);
    case ClipFormat::files: return files_of_uri_list(bytes);
    case ClipFormat::bmp: {
        // A bitmap that cannot be made into a picture is no picture.
        platform::Bitmap bm;
        if (!platform::decode_image(bytes.data(), bytes.size(), bm)) return stack::push(&none_value);
        return image_make_at(nullptr, std::move(bm));
    }
    default: {
        Cell* data = binary_load(bytes.data(), uint32_t(bytes.size()));
        *data = *image_decode(data);
        stack::pop(1);
        return data;
    }
    }
}

bool clipboard_write(const Cell* value) {
    std::vector<ClipItem> items;
    switch (type_of(value)) {
    case TYPE_NONE: break;
    case TYPE_STRING: items.push_back({ClipFormat::text, binary_text_bytes(value)}); break;
    case TYPE_BLOCK: items.push_back({ClipFormat::files, uri_list_of(value)}); break;
    case TYPE_IMAGE:
        items.push_back({ClipFormat::png, encoded(value, platform::ImageFormat::png)});
        items.push_back({ClipFormat::bmp, encoded(value, platform::ImageFormat::bmp)});
        break;
    default: fire(Err::script_invalid_arg, *value);
    }
    return platform::clipboard_write(items);
}

} // namespace kem
