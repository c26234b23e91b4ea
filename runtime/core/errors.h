// Raising errors from runtime code: the catalog ids, the error exception and fire.
#pragma once
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/platform/vm.h"

namespace kem {

// Catalog ids; the value of each is the error's code (category base + position).
enum class Err : uint16_t {
#define KEM_ERROR_CATEGORY(index, cname, name, base, type_text)
#define KEM_ERROR(code, cat, cname, name, tmpl) cat##_##cname = code,
#include "runtime/core/errors.def"
#undef KEM_ERROR
#undef KEM_ERROR_CATEGORY
};

enum class ErrCategory : uint8_t {
#define KEM_ERROR_CATEGORY(index, cname, name, base, type_text) cname = index,
#define KEM_ERROR(code, cat, cname, name, tmpl)
#include "runtime/core/errors.def"
#undef KEM_ERROR
#undef KEM_ERROR_CATEGORY
};
constexpr int ERROR_CATEGORY_COUNT = 10;

inline int error_code(Err e) { return static_cast<int>(e); }
inline ErrCategory error_category(Err e) { return static_cast<ErrCategory>(static_cast<int>(e) / 100); }

struct ErrorCategoryInfo {
    const char* name;       // the category word
    int base;               // base code
    const char* type_text;  // "Script Error"
};
struct ErrorInfo {
    Err id;
    ErrCategory category;
    const char* name;       // the id word
    const char* tmpl;       // the message template, as Kem source
};

const ErrorCategoryInfo& error_category_info(ErrCategory c);
// The catalog in order; `error_info` finds one entry (nullptr for an unknown code).
const ErrorInfo* error_catalog(size_t* count);
const ErrorInfo* error_info(Err e);
const ErrorInfo* error_info_by_name(std::string_view category, std::string_view id);

// Fills a template with argument texts (already formed) the way the error report
// forms a template block: the parts joined by single spaces.
std::string error_message(Err e, const std::string* args, int argc);

// Codes of the non-local exits in flight (last-throw-code); a catch point
// accepts every code at or below its own.
constexpr uint32_t THROW_CODE_ERROR = 0x7FFFFFFF;
constexpr uint32_t THROW_CODE_BREAK = 0x7FFFFFFE;
constexpr uint32_t THROW_CODE_CONTINUE = 0x7FFFFFFD;
constexpr uint32_t THROW_CODE_RETURN = 0x7FFFFFFC;
constexpr uint32_t THROW_CODE_EXIT = 0x7FFFFFFB;
constexpr uint32_t THROW_CODE_THROW = 0x7FFFFFFA;
// THROW_CODE_OS_NO_MEMORY and THROW_CODE_OS_FREE_FAILED: platform/vm.h.

// A language error raised by runtime code, carried up to the nearest catch point.
// The arguments are copies of cells; nodes never move, so they stay valid.
struct KemError : std::exception {
    Err id;
    int argc = 0;
    Cell args[3] = {};
    // Set when an existing error! value is raised again: the catcher uses it as is.
    bool has_value = false;
    Cell value = {};
    explicit KemError(Err e) : id(e) {}
    const char* what() const noexcept override;
};

[[noreturn]] void fire(Err e);
[[noreturn]] void fire(Err e, const Cell& arg1);
[[noreturn]] void fire(Err e, const Cell& arg1, const Cell& arg2);
[[noreturn]] void fire(Err e, const Cell& arg1, const Cell& arg2, const Cell& arg3);

} // namespace kem
