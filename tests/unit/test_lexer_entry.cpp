// The ways into the lexer: transcode and its refinements, the scanning modes,
// the callback protocol, single values and the services other modules use.
#include <cstring>
#include <functional>
#include <stdexcept>
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "test_lexer_support.h"

using namespace kem;
using namespace kem::test;

namespace {

Cell binary_of(const std::string& bytes) {
    Cell b;
    binary_load_at(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), &b);
    return b;
}

std::string transcoded(const Cell& source, const TranscodeRequest& request) {
    Cell out;
    try {
        transcode(&source, request, &out);
    } catch (const KemError& e) {
        return "error: " + error_text(e);
    }
    return mold_text(out);
}

// A callback that logs "event type token" per call and answers through `answer`.
struct Recorder {
    LexerCallback callback;
    std::string log;
    std::function<bool(LexerEventArgs&, const std::string&)> answer = [](LexerEventArgs&, const std::string&) {
        return true;
    };
    Recorder() {
        callback.hook = [this](LexerEventArgs& a) {
            std::string event(symbol_name(a.event.data2));
            if (!log.empty()) log += " | ";
            log += event + " " + mold_text(a.type) + " " + mold_text(a.token);
            return answer(a, event);
        };
    }
    Cell load(const std::string& text) {
        Cell source = make_string(text);
        Cell out;
        lexer_load_string(&out, &source, -1, false, true, true, false, nullptr, &callback, nullptr);
        return out;
    }
    // Text that is not UTF-8 comes as a binary!.
    Cell load_bytes(const std::string& bytes) {
        Cell source = binary_of(bytes);
        TranscodeRequest request;
        request.trace = &callback;
        Cell out;
        transcode(&source, request, &out);
        return out;
    }
};

} // namespace

TEST_F(LexerTest, ScanningModes) {
    const struct {
        const char* text;
        const char* scan;
        const char* prescan;
    } cases[] = {
        {"1.2.3", "tuple!", "tuple!"},   {"1.2.300", "error!", "tuple!"}, {"a%", "error!", "error!"},
        {"[1]", "block!", "block!"},     {"[1", "error!", "error!"},      {"", "none", "none"},
        {" ; c\n", "none", "none"},      {"a/b c", "path!", "path!"},     {"{a}", "string!", "string!"},
        {"#(true)", "logic!", "logic!"}, {"1 2", "integer!", "integer!"}, {"#\"ab\"", "error!", "char!"},
        {"\"a\" x", "string!", "string!"}, {"(1, 2)", "point2D!", "point2D!"},
        {"#[a [b]]", "map!", "map!"},   // only nested containers are buffered, never pairs
    };
    for (auto& c : cases) {
        Cell source = make_string(c.text);
        TranscodeRequest scan;
        scan.scan = true;
        TranscodeRequest prescan;
        prescan.prescan = true;
        EXPECT_EQ(transcoded(source, scan), c.scan) << c.text;
        EXPECT_EQ(transcoded(source, prescan), c.prescan) << c.text;
    }
}

TEST_F(LexerTest, TranscodeNextOneAndInto) {
    Cell source = make_string("a b");
    TranscodeRequest next;
    next.next = true;
    Cell out;
    transcode(&source, next, &out);
    ASSERT_EQ(block_rs_length(&out), 2);
    EXPECT_EQ(mold_text(*block_rs_abs_at(&out, 0)), "a");
    Cell rest = *block_rs_abs_at(&out, 1);
    EXPECT_EQ(series_position(&rest), 1);
    EXPECT_EQ(utf8_of(rest), " b");

    // Offsets count characters of a string source.
    source = make_string("\xC3\xA9t\xC3\xA9 x");
    transcode(&source, next, &out);
    EXPECT_EQ(series_position(block_rs_abs_at(&out, 1)), 3);

    TranscodeRequest one;
    one.one = true;
    EXPECT_EQ(transcoded(make_string("[1 2] 3"), one), "[1 2]");
    EXPECT_EQ(transcoded(make_string(""), one), "[]");

    Cell target = load_block("0");
    TranscodeRequest into;
    into.into = &target;
    transcoded(make_string("1 [2]"), into);
    EXPECT_EQ(mold_text(target), "[0 1 [2]]");
}

TEST_F(LexerTest, TranscodePart) {
    Cell source = make_string("12 34 56");
    Cell limit;
    TranscodeRequest part;
    part.part = &limit;
    make_integer(&limit, 5);
    EXPECT_EQ(transcoded(source, part), "[12 34]");
    // A length beyond the data, or below zero, is cut to the data.
    make_integer(&limit, 1000);
    EXPECT_EQ(transcoded(source, part), "[12 34 56]");
    make_integer(&limit, -3);
    EXPECT_EQ(transcoded(source, part), "[]");
    limit = source;
    set_series_position(&limit, 2);
    EXPECT_EQ(transcoded(source, part), "[12]");

    Cell bytes = binary_of("12 34");
    limit = bytes;
    set_series_position(&limit, 100);
    EXPECT_EQ(transcoded(bytes, part), "[12 34]");
    // An end position in another series is refused.
    limit = binary_of("12 34");
    set_series_position(&limit, 2);
    try {
        Cell out;
        transcode(&bytes, part, &out);
        ADD_FAILURE() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_invalid_refine_arg);
    }
}

TEST_F(LexerTest, BinarySources) {
    EXPECT_EQ(transcoded(binary_of("\xEF\xBB\xBF" "a 1"), {}), "[a 1]");
    // Too short for a byte-order mark: the bytes are read as text.
    EXPECT_EQ(transcoded(binary_of("\xEF\xBB"), {}), "error: (line 1) invalid word at \xEF\xBF\xBD\xEF\xBF\xBD");
    TranscodeRequest next;
    next.next = true;
    Cell source = binary_of("\xEF\xBB\xBF\xC3\xA9 x");
    Cell out;
    transcode(&source, next, &out);
    EXPECT_EQ(mold_text(*block_rs_abs_at(&out, 0)), "\xC3\xA9");
    EXPECT_EQ(series_position(block_rs_abs_at(&out, 1)), 5);   // bytes, the mark included
}

TEST_F(LexerTest, CallbackEvents) {
    Recorder r;
    Cell out = r.load("[a 1] ; c");
    EXPECT_EQ(mold_text(out), "[[a 1]]");
    EXPECT_EQ(r.log,
              "prescan block! 1x1 | open block! 1x2 | prescan word! 2x3 | scan word! 2x3 | load word! a"
              " | prescan integer! 4x5 | scan integer! 4x5 | load integer! 1 | prescan block! 5x5"
              " | close block! 5x6 | prescan comment 7x10 | scan comment 7x10");
    r.log.clear();
    r.answer = [](LexerEventArgs&, const std::string& event) { return event != "error"; };
    r.load("{a{b}} (1, 2) x ,");
    EXPECT_EQ(r.log,
              "prescan string! 1x1 | open string! 1x2 | prescan string! 1x3 | prescan string! 1x5"
              " | prescan string! 1x6 | close string! 6x7 | scan string! 1x6 | load string! \"a{b}\""
              " | prescan paren! 8x8 | prescan point2D! 8x14 | scan point2D! 8x13 | load point2D! (1, 2)"
              " | prescan word! 15x16 | scan word! 15x16 | load word! x | prescan comma 17x17"
              " | error point2D! 17x18");
}

TEST_F(LexerTest, CallbackEventMasks) {
    EXPECT_EQ(lexer_event_mask(&none_value), LEX_ALL_EVENTS);
    Cell empty = load_block("");
    EXPECT_EQ(lexer_event_mask(&empty), 0u);
    Cell some = load_block("error 1 load Open x");
    EXPECT_EQ(lexer_event_mask(&some), uint32_t(LEX_EVENT_ERROR | LEX_EVENT_LOAD | LEX_EVENT_OPEN));
    Recorder r;
    r.callback.mask = LEX_EVENT_ERROR;
    r.answer = [](LexerEventArgs& a, const std::string&) {
        a.input.data1++;
        return false;
    };
    EXPECT_EQ(mold_text(r.load("1 } 2")), "[1 2]");
    EXPECT_EQ(r.log, "error error! 3x3");
}

TEST_F(LexerTest, CallbackAnswersSteerTheLexer) {
    const struct {
        const char* text;
        const char* refuse;   // "event type" answered false
        const char* result;
    } cases[] = {
        {"1 \"s\" 2", "prescan string!", "[1 2]"},     // the whole string is skipped
        {"1 #\"c\" 2", "prescan char!", "[1 2]"},
        {"1 a 2", "scan word!", "[1 2]"},
        {"1 a 2", "load word!", "[1 2]"},
        {"1 (2) 3", "open paren!", "[1 2 3]"},          // the ")" that follows is then refused as an error
        {"[1 2", "error block!", "none"},
        {"[1] 2", "close block!", "none"},             // left open, then missing at the end
        {"1 a% 2", "error word!", "[1 % 2]"},   // scanning goes on at the offending byte
    };
    for (auto& c : cases) {
        Recorder r;
        std::string refuse = c.refuse;
        r.answer = [&](LexerEventArgs& a, const std::string& event) {
            std::string key = event + " " + mold_text(a.type);
            return key != refuse && event != "error";
        };
        EXPECT_EQ(mold_text(r.load(c.text)), c.result) << c.text;
    }
    // An error answered true is raised.
    Recorder r;
    try {
        r.load("[1 2");
        ADD_FAILURE() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(error_text(e), "(line 1) missing ] at [1 2");
    }
}

TEST_F(LexerTest, RefusedErrorsAlwaysMoveOn) {
    // A callback that refuses errors without moving input: each bad byte is
    // reported once and skipped, so the run ends.
    Recorder r;
    r.callback.mask = LEX_EVENT_ERROR;
    r.answer = [](LexerEventArgs&, const std::string&) { return false; };
    EXPECT_EQ(mold_text(r.load("1 } 2 }} \\ 3")), "[1 2 3]");
    EXPECT_EQ(r.log, "error error! 3x3 | error error! 7x7 | error error! 8x8 | error error! 10x10");
    EXPECT_EQ(mold_text(r.load_bytes("{a \xC0 b} 1")), "[1]");
    EXPECT_EQ(mold_text(r.load_bytes("(1, \xC0 2) 3")), "[2 3]");
    // With one value asked for, a refused error is no value: reading goes on.
    Cell source = make_string("} 1 2");
    Cell out;
    lexer_load_string(&out, &source, -1, true, true, true, false, nullptr, &r.callback, nullptr);
    EXPECT_EQ(mold_text(out), "1");
    // Moving input back to the token does not stop the run either.
    r.answer = [](LexerEventArgs& a, const std::string&) {
        a.input.data1 = 0;
        return false;
    };
    EXPECT_EQ(mold_text(r.load("}")), "[]");
}

TEST_F(LexerTest, CallbacksCanNestAndFail) {
    // A callback running a lexer of its own.
    Recorder r;
    r.callback.mask = LEX_EVENT_LOAD;
    std::string inner;
    r.answer = [&](LexerEventArgs& a, const std::string&) {
        inner += load("x" + mold_text(a.token)) + ";";
        return true;
    };
    EXPECT_EQ(mold_text(r.load("1 [2]")), "[1 [2]]");
    EXPECT_EQ(inner, "x1;x2;");
    // A failure inside the callback passes through and leaves no lexer running.
    r.answer = [](LexerEventArgs&, const std::string&) -> bool { throw std::runtime_error("halt"); };
    EXPECT_THROW(r.load("1"), std::runtime_error);
    static int marked;
    marked = 0;
    lexer_mark_buffers([](const Cell*) { marked++; });
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(load("1 2"), "1 2");
}

TEST_F(LexerTest, MarkBuffersSeesRunningLexers) {
    static int cells, sources;
    cells = sources = 0;
    lexer_mark_buffers([](const Cell*) { cells++; });
    EXPECT_EQ(cells, 0);
    Recorder r;
    r.callback.mask = LEX_EVENT_LOAD;
    r.answer = [](LexerEventArgs&, const std::string&) {
        cells = sources = 0;
        lexer_mark_buffers([](const Cell* c) {
            if (type_of(c) == TYPE_STRING) sources++;
            else cells++;
        });
        return true;
    };
    r.load("[1 2] 3");
    // At the load of 3: the block and 3 itself, the source, and the callback function (none!).
    EXPECT_EQ(sources, 1);
    EXPECT_EQ(cells, 3);
}

TEST_F(LexerTest, SingleValues) {
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"abc", "abc"}, {"[1 2]", "[1 2]"}, {"1 2", "none"}, {"1 ", "none"}, {"", "unset"}, {" ", "unset"},
    };
    for (auto& c : cases) {
        Cell source = make_string(c.text);
        Cell target;
        make_integer(&target, 99);
        const Cell* r = load_single_value_into(&target, &source);
        EXPECT_EQ(mold_text(*r), c.result) << c.text;
        if (r != &target) {
            EXPECT_EQ(r, &none_value) << c.text;
        }
    }
}

TEST_F(LexerTest, ServicesForOtherModules) {
    auto scan = [](const char* text) {
        return lexer_scan_type(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
    };
    EXPECT_EQ(scan("foo"), TYPE_WORD);
    EXPECT_EQ(scan("foo:"), TYPE_SET_WORD);
    EXPECT_EQ(scan("12"), TYPE_INTEGER);
    EXPECT_EQ(scan("a%"), -1);
    EXPECT_EQ(scan(""), 0);
    Cell word = word_load("lexer-service-name");
    EXPECT_EQ(word_scan_name(&word), TYPE_WORD);
    Cell source = make_string("x: 1");
    Cell out;
    load_one_value(&source, &out);
    EXPECT_EQ(type_of(&out), TYPE_NONE);

    Cell states;
    lexer_exit_states(&states);
    ASSERT_EQ(block_rs_length(&states), 36);
    EXPECT_EQ(mold_text(*block_rs_abs_at(&states, 0)), "eof");
    EXPECT_EQ(mold_text(*block_rs_abs_at(&states, 2)), "block!");
    EXPECT_EQ(mold_text(*block_rs_abs_at(&states, 12)), "comma");
    EXPECT_EQ(mold_text(*block_rs_abs_at(&states, 27)), "point2D!");
    EXPECT_EQ(mold_text(*block_rs_abs_at(&states, 33)), "hex");
}

// Probing reads a value as loading does, for its datatype and length only:
// the names in it are never interned, so random text matched by datatype
// cannot grow the symbol table.
TEST_F(LexerTest, ProbingInternsNoName) {
    const char* const texts[] = {
        "probe-name-one rest", "[probe-name-two probe-name-three/x] 1", "'probe-name-four", "probe-name-five:",
        ":probe-name-six", "/probe-name-seven", "probe-name-eight/probe-name-nine", "#(probe-name-ten: 1)",
        "(probe-name-eleven)", "12 probe-name-twelve", "#probe-name-issue", "probe%", "[unclosed",
    };
    struct Read {
        int32_t type;
        uint32_t consumed;
        int32_t value_type;
    };
    std::vector<Read> probed;
    const uint32_t before = symbol_count();
    for (const char* t : texts) {
        Cell value{TYPE_NONE, 0, 0, 0};
        uint32_t consumed = 0;
        int32_t type = -99;
        try {
            type = lexer_probe(&value, reinterpret_cast<const uint8_t*>(t), uint32_t(std::strlen(t)), &consumed);
        } catch (const KemError&) {
        }
        probed.push_back({type, consumed, type_of(&value)});
    }
    EXPECT_EQ(symbol_count(), before);
    // The same as loading the first value.
    for (size_t i = 0; i < std::size(texts); i++) {
        Cell value{TYPE_NONE, 0, 0, 0};
        uint32_t consumed = 0;
        int32_t type = -99;
        try {
            type = lexer_scan(&value, reinterpret_cast<const uint8_t*>(texts[i]), uint32_t(std::strlen(texts[i])),
                              true, true, true, false, &consumed, nullptr, nullptr, nullptr);
        } catch (const KemError&) {
        }
        EXPECT_EQ(probed[i].type, type) << texts[i];
        EXPECT_EQ(probed[i].consumed, consumed) << texts[i];
        EXPECT_EQ(probed[i].value_type, type_of(&value)) << texts[i];
    }
    EXPECT_GT(symbol_count(), before);
}
