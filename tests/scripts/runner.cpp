// Runs a Kem test script: after its header, each case is a block of code,
// then `==` and the expected value (one expression, evaluated), or `!!` and
// the error it must raise as category/id, optionally followed by a string: the
// error's message as the report shows it (after "*** Script Error: " and the
// like). Prints one line per failure and a summary; exits non-zero when a case
// fails.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include "environment/boot.h"
#include "environment/script.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/platform/thread.h"
#include "runtime/services/unicode/utf.h"

using namespace kem;

namespace {

std::string utf8_of(const Cell& s) {
    std::string out;
    int32_t n = string_rs_length(&s);
    for (int32_t i = 0; i < n; i++) {
        uint8_t bytes[4];
        int len = utf8_encode_char(string_char_at(&s, series_index(&s) + uint32_t(i)), bytes);
        out.append(reinterpret_cast<const char*>(bytes), size_t(len));
    }
    return out;
}

std::string mold_of(const Cell& v) {
    Cell value = v;
    Cell buf;
    string_make_at(&buf, 64);
    mold_direct(&value, &buf, MoldArgs{.all = true}, 1 << 30, 0);
    return utf8_of(buf);
}

// The message line of an error's report, without its "*** Type: " prefix.
std::string message_of(const KemError& e) {
    Cell* err = error_from_exception(e);
    Cell buf;
    string_make_at(&buf, 64);
    RootedCell keep(&buf);
    error_form(err, &buf, nullptr, 1 << 30);
    std::string text = utf8_of(buf);
    text = text.substr(0, text.find('\n'));
    size_t colon = text.find(": ");
    return colon == std::string::npos ? text : text.substr(colon + 2);
}

// Evaluates one value of the script (the code of a case or its expectation).
// Gives the molded result, or "!! category/id" for an error.
std::string outcome(const Cell& code, bool whole_block) {
    stack::init();
    last_throw_code = 0;
    try {
        if (whole_block) {
            interp::eval_block(&code, false);
        } else {
            Cell holder;
            block_make_at(&holder, 1);
            block_append_cell(&holder, &code);
            interp::eval_block(&holder, false);
        }
        if (last_throw_code) {
            last_throw_code = 0;
            return "!! pending exit";
        }
        return mold_of(*(stack::top - 1));
    } catch (const KemError& e) {
        const ErrorInfo* info = error_info(e.id);
        return std::string("!! ") + error_category_info(error_category(e.id)).name + "/" + (info ? info->name : "?") +
               " " + message_of(e);
    }
}

struct Run {
    const char* path;
    int failed = 0;
    int passed = 0;
};

int run(void* p) {
    auto* r = static_cast<Run*>(p);
    boot_all();
    std::ifstream in(r->path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    long at = find_script_header(text);
    if (at < 0) {
        std::printf("%s: no Kem header\n", r->path);
        return 1;
    }
    Cell* script = stack::push_slot();
    lexer_scan(script, reinterpret_cast<const uint8_t*>(text.data() + at), uint32_t(text.size() - size_t(at)), false,
               true, true, true, nullptr, nullptr, nullptr, nullptr);
    Cell cases = *script;
    // Each case starts from empty stacks: the cases stay alive as a root.
    RootedCell keep(&cases);
    uint32_t n = block_full_length(&cases);
    for (uint32_t i = cases.data1 + 2; i + 2 < n + 1;) {
        Cell code = *block_rs_abs_at(&cases, i);
        Cell mark = *block_rs_abs_at(&cases, i + 1);
        Cell expected = i + 2 < n ? *block_rs_abs_at(&cases, i + 2) : Cell{TYPE_NONE, 0, 0, 0};
        // Anything but a word here means the cases are out of step (an
        // expectation of more than one value): its payload names no symbol.
        std::string marker = type_of(&mark) == TYPE_WORD ? std::string(symbol_name(mark.data2)) : "";
        if (type_of(&code) != TYPE_BLOCK || (marker != "==" && marker != "!!")) {
            std::printf("%s: case %u is not [code] == value or [code] !! category/id\n", r->path, i);
            return 1;
        }
        i += 3;
        std::string got = outcome(code, true);
        std::string want = marker == "==" ? outcome(expected, false) : "!! " + mold_of(expected);
        if (marker == "!!") {
            // Without a message only the category/id is checked.
            Cell* next = i < n ? block_rs_abs_at(&cases, i) : nullptr;
            if (next && type_of(next) == TYPE_STRING) {
                want += " " + utf8_of(*next);
                i++;
            } else {
                got = got.substr(0, got.find(' ', 3));
            }
        }
        if (got == want) {
            r->passed++;
        } else {
            r->failed++;
            std::printf("FAIL %s\n  code: %s\n  got:  %s\n  want: %s\n", r->path, mold_of(code).c_str(), got.c_str(),
                        want.c_str());
        }
    }
    std::printf("%s: %d passed, %d failed\n", r->path, r->passed, r->failed);
    std::fflush(stdout);
    return r->failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: kem_script_tests FILE.kem\n");
        return 2;
    }
    Run r{argv[1]};
    return platform::run_interpreter_thread(run, &r);
}
