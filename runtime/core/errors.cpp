#include "runtime/core/errors.h"

namespace kem {

namespace {

constexpr ErrorCategoryInfo categories[ERROR_CATEGORY_COUNT] = {
#define KEM_ERROR_CATEGORY(index, cname, name, base, type_text) {name, base, type_text},
#define KEM_ERROR(code, cat, cname, name, tmpl)
#include "runtime/core/errors.def"
#undef KEM_ERROR
#undef KEM_ERROR_CATEGORY
};

constexpr ErrorInfo catalog[] = {
#define KEM_ERROR_CATEGORY(index, cname, name, base, type_text)
#define KEM_ERROR(code, cat, cname, name, tmpl) {Err::cat##_##cname, ErrCategory::cat, name, tmpl},
#include "runtime/core/errors.def"
#undef KEM_ERROR
#undef KEM_ERROR_CATEGORY
};
constexpr size_t catalog_size = sizeof catalog / sizeof catalog[0];

// Index of the first catalog entry of each category (entries are in code order).
struct CategoryStarts {
    int start[ERROR_CATEGORY_COUNT + 1];
    constexpr CategoryStarts() : start{} {
        size_t i = 0;
        for (int c = 0; c < ERROR_CATEGORY_COUNT; c++) {
            start[c] = static_cast<int>(i);
            while (i < catalog_size && static_cast<int>(catalog[i].category) == c) i++;
        }
        start[ERROR_CATEGORY_COUNT] = static_cast<int>(i);
    }
};
constexpr CategoryStarts starts;

[[noreturn]] void raise(KemError& err) { throw err; }

} // namespace

const ErrorCategoryInfo& error_category_info(ErrCategory c) { return categories[static_cast<int>(c)]; }

const ErrorInfo* error_catalog(size_t* count) {
    *count = catalog_size;
    return catalog;
}

const ErrorInfo* error_info(Err e) {
    int code = error_code(e);
    int cat = code / 100;
    if (cat < 0 || cat >= ERROR_CATEGORY_COUNT) return nullptr;
    int pos = code % 100;
    int i = starts.start[cat] + pos;
    if (i >= starts.start[cat + 1]) return nullptr;
    return &catalog[i];
}

const ErrorInfo* error_info_by_name(std::string_view category, std::string_view id) {
    for (int c = 0; c < ERROR_CATEGORY_COUNT; c++) {
        if (category != categories[c].name) continue;
        for (int i = starts.start[c]; i < starts.start[c + 1]; i++)
            if (id == catalog[i].name) return &catalog[i];
        return nullptr;
    }
    return nullptr;
}

std::string error_message(Err e, const std::string* args, int argc) {
    const ErrorInfo* info = error_info(e);
    if (!info) return "";
    std::string_view t = info->tmpl;
    std::string out;
    auto add = [&](std::string_view part) {
        if (!out.empty()) out += ' ';
        out += part;
    };
    size_t i = 0;
    if (!t.empty() && t[0] == '[') {
        i = 1;
        t.remove_suffix(1);
    }
    while (i < t.size()) {
        char ch = t[i];
        if (ch == ' ') {
            i++;
        } else if (ch == '"') {
            size_t end = t.find('"', i + 1);
            add(t.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = t.find(' ', i);
            if (end == std::string_view::npos) end = t.size();
            std::string_view word = t.substr(i, end - i);
            if (!word.empty() && word[0] == ':') word.remove_prefix(1);
            int n = (word.size() == 4 && word.substr(0, 3) == "arg") ? word[3] - '1' : -1;
            if (n >= 0 && n < 3) add(n < argc ? args[n] : std::string("none"));
            else add(word);
            i = end;
        }
    }
    return out;
}

const char* KemError::what() const noexcept {
    const ErrorInfo* info = error_info(id);
    return info ? info->name : "error";
}

void fire(Err e) {
    KemError err(e);
    raise(err);
}
void fire(Err e, const Cell& a1) {
    KemError err(e);
    err.argc = 1;
    err.args[0] = a1;
    raise(err);
}
void fire(Err e, const Cell& a1, const Cell& a2) {
    KemError err(e);
    err.argc = 2;
    err.args[0] = a1;
    err.args[1] = a2;
    raise(err);
}
void fire(Err e, const Cell& a1, const Cell& a2, const Cell& a3) {
    KemError err(e);
    err.argc = 3;
    err.args[0] = a1;
    err.args[1] = a2;
    err.args[2] = a3;
    raise(err);
}

} // namespace kem
