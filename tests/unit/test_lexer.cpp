// The recogniser's tables, containers and paths, words, construction syntax
// and line counting.
#include <cstring>
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/tables.h"
#include "test_lexer_support.h"

using namespace kem;
using namespace kem::test;

namespace {

struct KindCase {
    const char* text;
    int kind;         // token kind of the first token
    const char* token;  // its text
};

// The first token of the text as the recogniser alone finds it.
lexer::TokenRun first_token(const std::string& text) {
    auto p = reinterpret_cast<const uint8_t*>(text.data());
    return lexer::recognise(lexer::ENTRY_TOKEN, p, p + text.size());
}

} // namespace

TEST(LexerTables, EveryStateEndsAtTheEndOfInput) {
    for (int state = 0; state < lexer::STATE_COUNT; state++)
        EXPECT_GT(lexer::transitions[state][lexer::CLASS_END], lexer::STATE_COUNT) << "state " << state;
}

TEST(LexerTables, ClassesAndFlags) {
    using namespace lexer;
    EXPECT_EQ(class_of('\t'), CLASS_BLANK);
    EXPECT_EQ(class_of('\n'), CLASS_NEWLINE);
    EXPECT_EQ(class_of(0), CLASS_END);
    EXPECT_EQ(class_of('H'), class_of('G'));       // only lower-case h has a class of its own
    EXPECT_EQ(class_of('t'), class_of('G'));
    EXPECT_NE(class_of('h'), class_of('H'));
    EXPECT_EQ(class_of(0x7F), class_of(0x80));      // continuation
    EXPECT_EQ(class_of(0xC0), class_of(0xFF));      // never valid UTF-8
    EXPECT_EQ(byte_classes[0xC3] & FLAG_UTF8_2_3, FLAG_UTF8_2_3);
    EXPECT_EQ(byte_classes[0xF0] & FLAG_UTF8_4, FLAG_UTF8_4);
    EXPECT_EQ(byte_classes['^'] & FLAG_CARET, FLAG_CARET);
    EXPECT_TRUE(point_chars['n'] && point_chars['I'] && point_chars['#'] && !point_chars['x']);
}

TEST(LexerTables, PointTestAndUnicodeDelimiters) {
    auto test = [](const char* after) {
        auto p = reinterpret_cast<const uint8_t*>(after);
        return lexer::point_test(p, p + std::strlen(after));
    };
    EXPECT_TRUE(test("1, 2)"));
    EXPECT_TRUE(test("a, b)"));       // looks like a point: the point loader rejects it
    EXPECT_TRUE(test("1.5e3 "));      // point characters up to the end also count
    EXPECT_FALSE(test("x, y)"));
    EXPECT_FALSE(test("1 2)"));
    EXPECT_FALSE(test("1,)"));        // three bytes are too few
    lexer::build_unicode_delimiters();
    for (int32_t cp : {0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x200B, 0x2028, 0x202F, 0x205F, 0x3000, 0x180E})
        EXPECT_TRUE(lexer::unicode_delimiter(cp)) << std::hex << cp;
    for (int32_t cp : {0x20, 0x41, 0x200C, 0x3001, 0x10FFFF, -1}) EXPECT_FALSE(lexer::unicode_delimiter(cp)) << cp;
}

TEST(LexerTables, RecogniserTokenKinds) {
    using namespace lexer;
    const KindCase cases[] = {
        {"1<2", TOKEN_INTEGER, "1"},
        {"a<b", TOKEN_WORD, "a"},
        {"a>b", TOKEN_WORD, "a>b"},
        {"<a \"x>y\">", TOKEN_TAG, "<a \"x>y\""},
        {"%", TOKEN_WORD, "%"},
        {"%%", TOKEN_WORD, "%%"},
        {"//", TOKEN_WORD, "//"},
        {"<<", TOKEN_WORD, "<<"},
        {"==", TOKEN_WORD, "=="},
        {"<:", TOKEN_WORD, "<:"},
        {"%{a}%", TOKEN_RAWSTRING, "%{a}%"},
        {"%%{a}%%", TOKEN_RAWSTRING, "%%{a}%%"},
        {"1E2%", TOKEN_PERCENT, "1E2"},
        {"1e2%", TOKEN_ERROR, "1e2"},
        {"1EF", TOKEN_WORD, "1EF"},
        {"1EFh", TOKEN_HEX, "1EFh"},
        {"1.#INF", TOKEN_FLOAT_SPECIAL, "1.#INF"},
        {"1.#1", TOKEN_FLOAT, "1.#"},
        {"1.", TOKEN_FLOAT, "1."},
        {"#", TOKEN_ISSUE, "#"},
        {"\"abc", TOKEN_ERROR, "\"abc"},
        {"  \n\x01 abc", TOKEN_WORD, "abc"},
        {"1/2", TOKEN_DATE, "1/2"},
        {"a/b", TOKEN_PATH_HEAD, "a"},
        {"#[", TOKEN_MAP_OPEN, "#"},
        {"#(a)", TOKEN_CONSTRUCT, "#(a"},
        {"; c\nx", TOKEN_COMMENT, "; c"},
        {"a:b", TOKEN_URL, "a:b"},
        {"a@b", TOKEN_EMAIL, "a@b"},
        {"@a", TOKEN_REF, "@a"},
        {"$1", TOKEN_MONEY, "$1"},
        {"1x2", TOKEN_PAIR, "1x2"},
        {"10:30", TOKEN_TIME, "10:30"},
        {"#{00}", TOKEN_BINARY, "#{00"},
    };
    for (const KindCase& c : cases) {
        std::string text = c.text;
        TokenRun run = first_token(text);
        EXPECT_EQ(run.final_state - FINAL_STATE_FIRST, c.kind) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(run.start), size_t(run.end - run.start)), c.token)
            << c.text;
    }
    // Line feeds skipped before a token count; the error names the state it left.
    std::string tuple = "\n\n1.2.3x";
    TokenRun run = first_token(tuple);
    EXPECT_EQ(run.lines, 2);
    EXPECT_EQ(token_datatypes[run.exit_state], TYPE_TUPLE);
    // A zero byte ends a word like the end of input does.
    std::string zero("abc\0def", 7);
    run = first_token(zero);
    EXPECT_EQ(run.final_state - FINAL_STATE_FIRST, TOKEN_WORD);
    EXPECT_EQ(run.end - run.start, 3);
}

// --- containers --------------------------------------------------------------------

TEST_F(LexerTest, BlocksParensAndMaps) {
    const LoadCase cases[] = {
        {"[1 [2 (3)] ()]", "[1 [2 (3)] ()]"},
        {"[]", "[]"},
        {"[1 2", "error: (line 1) missing ] at [1 2"},
        {"1 2]", "error: (line 1) missing [ at ]"},
        {"[1 2)", "error: (line 1) missing ] at )"},
        {"(1 2]", "error: (line 1) missing ) at ]"},
        {"[a (b", "error: (line 1) missing ) at (b"},
        {"#[a 1 b 2]", "#[\n    a: 1\n    b: 2\n]"},
        {"#[a 1 b]", "error: (line 1) invalid map at #[a 1 b]"},
        {"#[a]", "error: (line 1) invalid map at #[a]"},
        {"#[a 1", "error: (line 1) missing ] at #[a 1"},
    };
    check_loads(cases, std::size(cases));
    Cell b = load_one("[1 (2)]");
    EXPECT_EQ(type_of(&b), TYPE_BLOCK);
    EXPECT_EQ(type_of(block_rs_abs_at(&b, 1)), TYPE_PAREN);
}

TEST_F(LexerTest, PointsAndCommas) {
    const LoadCase cases[] = {
        {"(1, 2)", "(1, 2)"},
        {"(1, 2, 3)", "(1, 2, 3)"},
        {"( 1.5 , -2e1 )", "(1.5, -20)"},
        {"(1.#INF, 1.#NaN)", "(1.#INF, 1.#NaN)"},
        {"(1 2)", "(1 2)"},
        {"(1, 2)(3, 4)", "(1, 2) (3, 4)"},
        {"(a, b)", "error: (line 1) invalid float at a, b)"},
        {"(1,)", "error: (line 1) missing ( at )"},   // too short for a point: a paren, then a comma
        {"(x , y)", "error: (line 1) missing ( at )"},
        {"(x , (1 2))", "error: (line 1) invalid point2D at (1 2))"},
        {"1, 2", "error: (line 1) invalid point2D at , 2"},
        {"(1,\n2)", "error: (line 1) invalid point2D at 1,"},
        {"(1, 2, 3, 4)", "error: (line 1) invalid point3D at (1, 2, 3, 4)"},
        {"(1, , 2)", "error: (line 1) invalid point2D at (1, , 2)"},
    };
    check_loads(cases, std::size(cases));
    Cell p3 = load_one("(1, 2, 3)");
    EXPECT_EQ(type_of(&p3), TYPE_POINT3D);
}

TEST_F(LexerTest, Paths) {
    const LoadCase cases[] = {
        {"a/b c", "a/b c"},
        {"a/b:", "a/b:"},
        {"a/b/c: 1", "a/b/c: 1"},
        {"'a/b", "'a/b"},
        {":a/b", ":a/b"},
        {"a/1/\"s\"/(b c)/d", "a/1/\"s\"/(b c)/d"},
        {"a/:b/'c", "a/:b/'c"},
        {"a/(1, 2)/b c", "a/(1, 2)/b c"},
        {"[a/b]", "[a/b]"},
        {"'a/b:", "error: (line 1) invalid character at 'a/b:"},
        {":a/b:", "error: (line 1) invalid character at :a/b:"},
        {"a/b:/c", "error: (line 1) invalid word at b:/c"},
        {"a/1:/c", "error: (line 1) invalid path at a/1:/c"},
        {"a/", "error: (line 1) invalid path at a/"},
        {"a/b/", "error: (line 1) invalid path at a/b/"},
        {"a/ b", "error: (line 1) invalid path at a/ b"},
        {"a/[b]", "error: (line 1) invalid path at a/[b]"},
    };
    check_loads(cases, std::size(cases));
    const struct {
        const char* text;
        uint8_t type;
    } kinds[] = {{"a/b", TYPE_PATH}, {"a/b:", TYPE_SET_PATH}, {"'a/b", TYPE_LIT_PATH}, {":a/b", TYPE_GET_PATH}};
    for (auto& k : kinds) {
        Cell p = load_one(k.text);
        EXPECT_EQ(type_of(&p), k.type) << k.text;
        EXPECT_EQ(type_of(block_rs_abs_at(&p, 0)), TYPE_WORD) << k.text;   // the head word keeps no prefix
    }
}

// --- words -------------------------------------------------------------------------

TEST_F(LexerTest, WordKinds) {
    const struct {
        const char* text;
        uint8_t type;
        const char* name;
    } cases[] = {
        {"abc", TYPE_WORD, "abc"},      {"a:", TYPE_SET_WORD, "a"},   {":a", TYPE_GET_WORD, "a"},
        {"'a", TYPE_LIT_WORD, "a"},     {"/a", TYPE_REFINEMENT, "a"}, {"#a", TYPE_ISSUE, "a"},
        {"%", TYPE_WORD, "%"},          {"%%", TYPE_WORD, "%%"},      {"/", TYPE_WORD, "/"},
        {"//", TYPE_WORD, "//"},        {"<", TYPE_WORD, "<"},        {"<<", TYPE_WORD, "<<"},
        {"<=", TYPE_WORD, "<="},        {"<>", TYPE_WORD, "<>"},      {"=>", TYPE_WORD, "=>"},
        {"=<", TYPE_WORD, "=<"},        {"=", TYPE_WORD, "="},        {"<:", TYPE_SET_WORD, "<"},
        {"/:", TYPE_SET_WORD, "/"},     {"%:", TYPE_SET_WORD, "%"},   {"'/", TYPE_LIT_WORD, "/"},
        {"+", TYPE_WORD, "+"},          {"a>b", TYPE_WORD, "a>b"},    {"1EF", TYPE_WORD, "1EF"},
        {"\xC3\xA9t\xC3\xA9", TYPE_WORD, "\xC3\xA9t\xC3\xA9"},
    };
    for (auto& c : cases) {
        Cell w = load_one(c.text);
        EXPECT_EQ(type_of(&w), c.type) << c.text;
        EXPECT_EQ(symbol_name(w.data2), c.name) << c.text;
    }
    const LoadCase errors[] = {
        {":a:", "error: (line 1) invalid word at :a:"},
        {"'a:", "error: (line 1) invalid lit-word at 'a:"},
        {"a%", "error: (line 1) invalid word at a%"},
        {"a,b", "error: (line 1) invalid word at a,b"},
        {"#", "error: (line 1) invalid issue at #"},
        {"# ", "error: (line 1) invalid issue at # "},
        {"#;", "error: (line 1) invalid issue at #;"},
        {"12#abc", "error: (line 1) invalid issue at 12#abc"},
        {"=:", "error: (line 1) invalid word at =:"},
    };
    check_loads(errors, std::size(errors));
}

TEST_F(LexerTest, WordsAreBoundGlobally) {
    Cell a = load_one("lexer-bound-word");
    Cell b = word_load("lexer-bound-word");
    EXPECT_EQ(a.data1, b.data1);   // same context
    EXPECT_EQ(a.data3, b.data3);   // same slot
}

TEST_F(LexerTest, UnicodeSpacesSeparateWords) {
    EXPECT_EQ(load("a\xE3\x80\x80" "b"), "a b");                // U+3000 ends the word
    EXPECT_EQ(load("\xC2\xA0\xC2\xA0"), "");                     // a token of U+00A0 alone is blank
    EXPECT_EQ(load("\xC2\xA0x\xE2\x80\x8By:"), "x y:");
    EXPECT_EQ(load("a\xC2\xA0" "b:"), "a b:");
    EXPECT_EQ(load("a\xC2\xA0:b"), "a%C2%A0:b");   // only words are split
}

// --- construction syntax ---------------------------------------------------------------

TEST_F(LexerTest, ConstructionSyntax) {
    const LoadCase cases[] = {
        {"#(true) #(FALSE) #(none) #(unset)", "true false none unset"},
        {"#(block!) #(block) #(Integer!)", "block! block! integer!"},
        {"#(foo)", "error: (line 1) invalid construction spec at #(foo)"},
        {"#(truex)", "error: (line 1) invalid construction spec at #(truex)"},
        // Names match whole: neither a prefix of a name nor an empty text.
        {"#()", "error: (line 1) invalid construction spec at #()"},
        {"#(t)", "error: (line 1) invalid construction spec at #(t)"},
        {"#(bl)", "error: (line 1) invalid construction spec at #(bl)"},
        {"#( true)", "error: (line 1) invalid construction spec at #( true)"},
    };
    check_loads(cases, std::size(cases));
    Cell t = load_one("#(true)");
    EXPECT_EQ(type_of(&t), TYPE_LOGIC);
    EXPECT_EQ(t.data1, 1u);
    Cell d = load_one("#(point2D)");
    EXPECT_EQ(type_of(&d), TYPE_DATATYPE);
    EXPECT_EQ(d.data1, uint32_t(TYPE_POINT2D));
    EXPECT_EQ(scan_type("#(none)"), "none!");
    EXPECT_EQ(scan_type("#(block!)"), "datatype!");
}

// --- lines --------------------------------------------------------------------------

TEST_F(LexerTest, NewLineMarkers) {
    const LoadCase cases[] = {
        {"1\n2 3", "1\n2 3"},
        {"\n1", "\n1"},
        {"[1\n[2]\n]", "[1\n[2]]"},
        {"a {x\ny} b", "a \"x^/y\" b"},            // a line feed inside does not mark the string
        {"a\n{x}", "a\n\"x\""},
        {"a #{00\n11} b", "a #{0011} b"},
        {"a %{x\ny}% b", "a \"x^/y\" b"},
        {"a <t\nu> b", "a <t\nu> b"},
        {"1 ; c\n2", "1\n2"},
        {"x\n(1, 2)", "x\n(1, 2)"},
        {"x (\n1, 2)", "error: (line 2) missing ( at )"},   // a point does not span lines
    };
    check_loads(cases, std::size(cases));
}

TEST_F(LexerTest, ErrorsReportTheirLine) {
    const LoadCase cases[] = {
        {"1\n2\n3a", "error: (line 3) invalid integer at 3a"},
        {"{a\nb\nc} 1a", "error: (line 3) invalid integer at 1a"},
        {"\"a\" ; x\n %{\n\n}% 1a", "error: (line 4) invalid integer at 1a"},
        {"[\n1\n", "error: (line 3) missing ] at ["},
    };
    check_loads(cases, std::size(cases));
}

TEST_F(LexerTest, CommentsAndBlanks) {
    const LoadCase cases[] = {
        {"1 ;comment\n2", "1\n2"},
        {";only a comment", ""},
        {"  \t\r\n  ", ""},
        {"1\x01\x02 2", "1 2"},
        {"; \xFF", "error: (line 1) invalid character at ; \xEF\xBF\xBD"},
    };
    check_loads(cases, std::size(cases));
    // A zero byte between tokens ends the input.
    EXPECT_EQ(load(std::string("1\0 ignored 2", 12)), "1");
}

TEST_F(LexerTest, OutputBufferGrowsPastItsFirstSize) {
    std::string text = "[";
    for (int i = 0; i < 2500; i++) text += std::to_string(i) + " [" + std::to_string(i) + "] ";
    text += "]";
    Cell b = load_one(text);
    ASSERT_EQ(block_rs_length(&b), 5000);
    EXPECT_EQ(mold_text(*block_rs_abs_at(&b, 4998)), "2499");
    EXPECT_EQ(mold_text(*block_rs_abs_at(&b, 4999)), "[2499]");
}
