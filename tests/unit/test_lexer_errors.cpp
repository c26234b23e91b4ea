// Syntax errors: their ids, arguments, texts, where they are placed and how
// much of the input they quote.
#include "runtime/datatypes/datatype.h"
#include "test_lexer_support.h"

using namespace kem;
using namespace kem::test;

namespace {

KemError error_of(const std::string& text) {
    try {
        load_block(text);
    } catch (const KemError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for " << text;
    return KemError(Err::internal_not_done);
}

} // namespace

TEST_F(LexerTest, ErrorIdsAndArguments) {
    KemError e = error_of("x 1a");
    EXPECT_EQ(e.id, Err::syntax_invalid);
    ASSERT_EQ(e.argc, 3);
    EXPECT_EQ(type_of(&e.args[0]), TYPE_STRING);
    EXPECT_EQ(utf8_of(e.args[0]), "(line 1)");
    EXPECT_EQ(type_of(&e.args[1]), TYPE_DATATYPE);
    EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(utf8_of(e.args[2]), "1a");

    e = error_of("}");
    EXPECT_EQ(e.id, Err::syntax_bad_char);
    EXPECT_EQ(e.argc, 2);
    e = error_of("#(x)");
    EXPECT_EQ(e.id, Err::syntax_malconstruct);
    EXPECT_EQ(e.argc, 2);
    e = error_of("[");
    EXPECT_EQ(e.id, Err::syntax_missing);
    ASSERT_EQ(e.argc, 3);
    EXPECT_EQ(utf8_of(e.args[1]), "]");
}

TEST_F(LexerTest, ErrorTexts) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"}", "(line 1) invalid character at }"},
        {"\\", "(line 1) invalid character at \\"},
        {"a \xC1 b", "(line 1) invalid character at \xEF\xBF\xBD b"},
        {"\xF8", "(line 1) invalid character at \xEF\xBF\xBD"},
        {"#(foo)", "(line 1) invalid construction spec at #(foo)"},
        {"[1 2", "(line 1) missing ] at [1 2"},
        {"(1 2", "(line 1) missing ) at (1 2"},
        {"1 2]", "(line 1) missing [ at ]"},
        {"1 2)", "(line 1) missing ( at )"},
        {"[[1] 2", "(line 1) missing ] at [[1] 2"},
        {"[(1]", "(line 1) missing ) at ]"},
        {"a/(b", "(line 1) missing ) at (b"},
        {"\"abc", "(line 1) invalid string at \"abc"},
        {"<a \xC0>", "(line 1) invalid tag at <a \xEF\xBF\xBD>"},
        {"x {a\xC0}", "(line 1) invalid string at {a\xEF\xBF\xBD}"},   // placed at the opening brace
        {"a/b,", "(line 1) invalid word at b,"},
        {"a/ ", "(line 1) invalid path at a/ "},                        // placed at the path
        {"[a/#]", "(line 1) invalid issue at #]"},
    };
    for (auto& c : cases) {
        KemError e = error_of(c.text);
        EXPECT_EQ(error_text(e), c.message) << c.text;
    }
}

TEST_F(LexerTest, NearTextStopsAtLineEndOrThirtyBytes) {
    std::string long_word(40, 'x');
    KemError e = error_of("\"" + long_word);
    // Characters that start before byte 30 are kept whole.
    EXPECT_EQ(utf8_of(e.args[2]), "\"" + std::string(29, 'x'));
    e = error_of("\"" + std::string(28, 'x') + "\xE2\x82\xAC\xE2\x82\xAC");
    EXPECT_EQ(utf8_of(e.args[2]), "\"" + std::string(28, 'x') + "\xE2\x82\xAC");
    e = error_of("1a b\nc d");
    EXPECT_EQ(utf8_of(e.args[2]), "1a b");
    e = error_of("[1\n2");
    EXPECT_EQ(utf8_of(e.args[2]), "[1");
    EXPECT_EQ(utf8_of(e.args[0]), "(line 2)");
}
