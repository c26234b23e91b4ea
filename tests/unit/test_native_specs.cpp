#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>
#include "runtime/interpreter/native_specs.h"

using namespace kem;

namespace {

// The native words in table order, as the start-up sequence fixes them.
constexpr const char* TABLE_ORDER =
    "if unless either any all while until loop repeat forever foreach forall remove-each func function does has "
    "switch case do get set print prin equal? not-equal? strict-equal? lesser? greater? lesser-or-equal? "
    "greater-or-equal? same? not type? reduce compose stats bind in parse union intersect unique difference "
    "exclude complement? dehex enhex negative? positive? max min shift to-hex sine cosine tangent arcsine "
    "arccosine arctangent arctangent2 NaN? log-2 log-10 log-e exp square-root construct value? try uppercase "
    "lowercase as-pair as-point2D as-point3D as-money break continue exit return throw catch extend debase "
    "to-local-file wait checksum unset new-line new-line? enbase context? set-env get-env list-env now sign? "
    "as call zero? size? browse compress decompress recycle transcode apply";

// Names a type block may use: the datatypes and the named typesets.
const std::set<std::string>& known_types() {
    static const std::set<std::string> names = [] {
        std::set<std::string> s = {"internal!",  "external!",  "number!",       "planar!",     "any-point!",
                                   "scalar!",    "any-word!",  "all-word!",     "any-list!",   "any-path!",
                                   "any-block!", "any-function!", "any-object!", "any-string!", "series!",
                                   "immediate!", "default!",   "any-type!"};
#define KEM_TYPE(id, cname, name) s.insert(name);
#include "runtime/core/types.def"
#undef KEM_TYPE
        return s;
    }();
    return names;
}

// One item of a spec block, read by a tokenizer of its own so the header's
// scanner is checked against something it does not share code with.
struct Item {
    enum Kind { String, Block, Word, LitWord, GetWord, SetWord, Refinement } kind;
    std::string text;                // name, or the string's contents
    std::vector<std::string> types;  // for a Block
};

struct Parsed {
    std::vector<Item> items;
    std::string error;  // empty when the text is one well-formed block
};

bool delimiter(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '[' || c == ']' || c == '"'; }

Parsed tokenize(std::string_view t) {
    Parsed p;
    size_t i = 0;
    auto skip_space = [&] {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n')) i++;
    };
    auto read_name = [&] {
        size_t start = i;
        while (i < t.size() && !delimiter(t[i])) i++;
        return std::string(t.substr(start, i - start));
    };
    skip_space();
    if (i >= t.size() || t[i] != '[') return p.error = "no opening bracket", p;
    i++;
    for (;;) {
        skip_space();
        if (i >= t.size()) return p.error = "unclosed block", p;
        char c = t[i];
        if (c == ']') {
            i++;
            skip_space();
            if (i != t.size()) p.error = "text after the block";
            return p;
        }
        if (c == '"') {
            std::string s;
            for (i++; i < t.size() && t[i] != '"'; i++) {
                if (t[i] == '^') i++;
                if (i < t.size()) s += t[i];
            }
            if (i >= t.size()) return p.error = "unclosed string", p;
            i++;
            p.items.push_back({Item::String, s, {}});
            continue;
        }
        if (c == '[') {
            Item b{Item::Block, "", {}};
            for (i++;;) {
                skip_space();
                if (i >= t.size()) return p.error = "unclosed type block", p;
                if (t[i] == ']') break;
                if (t[i] == '[' || t[i] == '"') return p.error = "type block holds more than words", p;
                b.types.push_back(read_name());
            }
            i++;
            p.items.push_back(b);
            continue;
        }
        Item w{Item::Word, "", {}};
        if (c == '/') w.kind = Item::Refinement, i++;
        else if (c == '\'') w.kind = Item::LitWord, i++;
        else if (c == ':') w.kind = Item::GetWord, i++;
        w.text = read_name();
        if (w.kind == Item::Word && !w.text.empty() && w.text.back() == ':') {
            w.kind = Item::SetWord;
            w.text.pop_back();
        }
        if (w.text.empty()) return p.error = "empty word", p;
        p.items.push_back(w);
    }
}

// The rules a function spec obeys, plus what every native spec has: a doc
// string first, known type names, and return: only as the last entry.
std::string check_spec(std::string_view text) {
    Parsed p = tokenize(text);
    if (!p.error.empty()) return p.error;
    const auto& items = p.items;
    if (items.empty() || items[0].kind != Item::String) return "no doc string first";
    std::set<std::string> names;
    for (size_t i = 1; i < items.size(); i++) {
        const Item& it = items[i];
        auto next_is = [&](size_t k, Item::Kind kind) { return k < items.size() && items[k].kind == kind; };
        switch (it.kind) {
        case Item::String: return "doc string out of place";
        case Item::Block: return "type block without a word";
        case Item::SetWord:
            if (it.text != "return") return "set-word " + it.text;
            if (!next_is(i + 1, Item::Block)) return "return: without types";
            for (const std::string& ty : items[i + 1].types)
                if (!known_types().count(ty)) return "unknown type " + ty;
            if (i + 2 != items.size()) return "return: is not last";
            i++;
            break;
        default:
            if (!names.insert(it.text).second) return "duplicate " + it.text;
            if (it.kind == Item::Refinement) {
                if (next_is(i + 1, Item::String)) i++;
                break;
            }
            if (next_is(i + 1, Item::String) && next_is(i + 2, Item::Block)) return "doc before types of " + it.text;
            if (next_is(i + 1, Item::Block)) {
                for (const std::string& ty : items[i + 1].types)
                    if (!known_types().count(ty)) return "unknown type " + ty;
                i++;
            }
            if (next_is(i + 1, Item::String)) i++;
        }
    }
    return "";
}

// The spec without types and doc strings: "value /expand /args arg ...".
std::string shape(std::string_view text) {
    std::string out;
    for (const Item& it : tokenize(text).items) {
        std::string w;
        switch (it.kind) {
        case Item::Word: w = it.text; break;
        case Item::LitWord: w = "'" + it.text; break;
        case Item::GetWord: w = ":" + it.text; break;
        case Item::Refinement: w = "/" + it.text; break;
        case Item::SetWord: w = it.text + ":"; break;
        default: continue;
        }
        out += (out.empty() ? "" : " ") + w;
    }
    return out;
}

// The type block and doc string that follow an item ("" names the spec's own doc).
struct ItemInfo {
    std::string types;
    std::string doc;
};

ItemInfo info(std::string_view text, std::string_view name) {
    auto items = tokenize(text).items;
    size_t i = 0;
    if (!name.empty()) {
        while (i < items.size() && !(items[i].kind != Item::String && items[i].kind != Item::Block && items[i].text == name)) i++;
        if (i == items.size()) return {"<missing>", "<missing>"};
        i++;
    }
    ItemInfo r;
    if (i < items.size() && items[i].kind == Item::Block) {
        for (const std::string& t : items[i].types) r.types += (r.types.empty() ? "" : " ") + t;
        i++;
    }
    if (i < items.size() && items[i].kind == Item::String) r.doc = items[i].text;
    return r;
}

std::vector<std::string> refinements_of(std::string_view text) {
    std::vector<std::string> out;
    for (const Item& it : tokenize(text).items)
        if (it.kind == Item::Refinement) out.push_back(it.text);
    return out;
}

} // namespace

TEST(NativeSpecs, TableHoldsTheNativesInTheirFixedOrder) {
    std::istringstream words(TABLE_ORDER);
    std::string w;
    int n = 0;
    while (words >> w) {
        n++;
        ASSERT_LE(n, NATIVE_COUNT);
        EXPECT_EQ(native_word(n), w) << "index " << n;
        EXPECT_EQ(native_index(w), n) << w;
    }
    EXPECT_EQ(n, NATIVE_COUNT);
    for (int out : {0, -1, NATIVE_COUNT + 1, 120}) {
        EXPECT_TRUE(native_word(out).empty()) << out;
        EXPECT_TRUE(native_spec_text(out).empty()) << out;
        EXPECT_TRUE(native_refinement_names(out).empty()) << out;
    }
    EXPECT_EQ(native_index("nan?"), 0);  // words are looked up by exact spelling
    EXPECT_EQ(native_index(""), 0);
    EXPECT_EQ(native_index("append"), 0);  // an action, not a native
    EXPECT_EQ(NAT_IF, 1);
    EXPECT_EQ(NAT_PARSE, 40);
    EXPECT_EQ(NAT_SIGN_Q, 97);
    EXPECT_EQ(NAT_ZERO_Q, 100);
    EXPECT_EQ(NAT_APPLY, 107);
}

// The checker has to refuse what the boot code would refuse or misread.
TEST(NativeSpecs, SpecCheckerRefusesMalformedSpecs) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {R"(["d" a [integer!])", "unclosed block"},
        {R"(["d" a [integer!]] x)", "text after the block"},
        {R"(["d" a "doc)", "unclosed string"},
        {R"(["d" a [integer! [block!]]])", "type block holds more than words"},
        {R"([a [integer!]])", "no doc string first"},
        {R"(["d" a "doc" [integer!]])", "doc before types of a"},
        {R"(["d" a [integr!]])", "unknown type integr!"},
        {R"(["d" /all /all])", "duplicate all"},
        {R"(["d" value /part value [integer!]])", "duplicate value"},
        {R"(["d" return: [logic!] a])", "return: is not last"},
        {R"(["d" result: [logic!]])", "set-word result"},
        {R"(["d" [integer!]])", "type block without a word"},
        {R"(["d" "e"])", "doc string out of place"},
        {R"(["d" a [integer!] "doc" /b "doc" c [block! none!] return: [logic!]])", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(check_spec(c.text), c.error) << c.text;
}

// Every spec is one well-formed block, and the header's refinement scan (what
// the entries are compiled against) reads the same refinements in the same order.
TEST(NativeSpecs, EverySpecIsWellFormedAndItsRefinementsAreReadInOrder) {
    for (int n = 1; n <= NATIVE_COUNT; n++) {
        std::string_view text = native_spec_text(n);
        EXPECT_EQ(check_spec(text), "") << native_word(n) << ": " << text;
        std::vector<std::string> expected = refinements_of(text);
        auto names = native_refinement_names(n);
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), expected) << native_word(n);
        EXPECT_EQ(native_refinement_count(n), int(expected.size())) << native_word(n);
        for (size_t i = 0; i < expected.size(); i++)
            EXPECT_EQ(native_refinement(n, expected[i]), int(i)) << native_word(n) << " /" << expected[i];
        EXPECT_EQ(native_refinement(n, "no-such-refinement"), -1);
    }
}

// Positions usable as constants in native bodies.
static_assert(native_ref(NAT_DO, "trace") == 3);
static_assert(native_ref(NAT_NOW, "utc") == 9);
static_assert(native_ref(NAT_TRANSCODE, "into") == 5);
static_assert(native_refinement(NAT_IF, "all") == -1);
static_assert(native_refinement_count(NAT_CALL) == 7);

// Argument names and refinement order that the native bodies and apply's
// positional mode are written against.
TEST(NativeSpecs, ArgumentsAndRefinementsStandInSpecOrder) {
    struct Case {
        int index;
        const char* shape;
    } cases[] = {
        {NAT_IF, "cond then-blk"},
        {NAT_EITHER, "cond true-blk false-blk"},
        {NAT_SWITCH, "value cases /default case"},
        {NAT_CASE, "cases /all"},
        {NAT_DO, "value /expand /args arg /next position /trace callback"},
        {NAT_GET, "word /any /case"},
        {NAT_SET, "word value /any /case /only /some"},
        {NAT_FUNCTION, "spec body /extern"},
        {NAT_HAS, "vars body"},
        {NAT_LOOP, "count body"},
        {NAT_REPEAT, "'word value body"},
        {NAT_FOREACH, "'word series body"},
        {NAT_FORALL, "'word body"},
        {NAT_REMOVE_EACH, "'word data body"},
        {NAT_TYPE_Q, "value /word"},
        {NAT_REDUCE, "value /into out"},
        {NAT_COMPOSE, "value /deep /only /into out"},
        {NAT_STATS, "/show /info"},
        {NAT_BIND, "word context /copy"},
        {NAT_IN, "object word"},
        {NAT_PARSE, "input rules /case /part length /trace callback"},
        {NAT_UNION, "set1 set2 /case /skip size"},
        {NAT_UNIQUE, "set /case /skip size"},
        {NAT_NEGATIVE_Q, "number"},
        {NAT_SHIFT, "data bits /left /logical"},
        {NAT_TO_HEX, "value /size length"},
        {NAT_ARCSINE, "sine /radians"},
        {NAT_ARCTANGENT2, "y x /radians"},
        {NAT_CONSTRUCT, "block /with object /only"},
        {NAT_TRY, "block /all /keep"},
        {NAT_UPPERCASE, "string /part limit return:"},
        {NAT_AS_POINT3D, "x y z"},
        {NAT_AS_MONEY, "currency amount return:"},
        {NAT_BREAK, "/return value"},
        {NAT_CONTINUE, ""},
        {NAT_RETURN, "value"},
        {NAT_THROW, "value /name word"},
        {NAT_CATCH, "block /name word"},
        {NAT_EXTEND, "obj spec /case"},
        {NAT_DEBASE, "value /base base-value"},
        {NAT_TO_LOCAL_FILE, "path /full return:"},
        {NAT_WAIT, "value /all"},
        {NAT_CHECKSUM, "data method /with spec return:"},
        {NAT_NEW_LINE, "position value /all /skip size return:"},
        {NAT_SET_ENV, "var value"},
        {NAT_LIST_ENV, "return:"},
        {NAT_NOW, "/year /month /day /time /zone /date /weekday /yearday /precise /utc"},
        {NAT_AS, "type spec"},
        {NAT_CALL, "cmd /wait /show /console /shell /input in /output out /error err"},
        {NAT_COMPRESS, "data method"},
        {NAT_DECOMPRESS, "data method /size sz"},
        {NAT_RECYCLE, "/on /off"},
        {NAT_TRANSCODE, "src /next /one /prescan /scan /part length /into dst /trace callback"},
        {NAT_APPLY, "func args /all /safer"},
    };
    for (const Case& c : cases) EXPECT_EQ(shape(native_spec_text(c.index)), c.shape) << native_word(c.index);
}

// Types the native bodies rely on, and doc strings help shows word for word.
TEST(NativeSpecs, StatedTypesAndDocStringsAreKept) {
    struct Case {
        int index;
        const char* item;  // "" for the native's own doc string
        const char* types;
        const char* doc;   // nullptr: not checked
    } cases[] = {
        {NAT_IF, "cond", "any-type!", nullptr},  // an unset condition counts as true
        {NAT_SET, "value", "any-type!", nullptr},  // set/any accepts unset
        {NAT_LOOP, "count", "integer! float!", nullptr},
        {NAT_REPEAT, "value", "integer! float!", nullptr},
        {NAT_MAX, "value2", "scalar! series!", nullptr},
        {NAT_ZERO_Q, "value", "number! char! pair! tuple! time! money! any-point!", nullptr},
        {NAT_SINE, "angle", "number!", nullptr},
        {NAT_DIFFERENCE, "set2", "block! hash! string! bitset! typeset! datatype! date!", nullptr},
        {NAT_CONSTRUCT, "object", "object!", nullptr},
        {NAT_CATCH, "word", "word! block!", nullptr},
        {NAT_EXTEND, "spec", "block! hash! map!", nullptr},
        {NAT_UPPERCASE, "limit", "number! any-string!", nullptr},
        {NAT_WAIT, "value", "number! time! block! none!", nullptr},
        {NAT_PARSE, "length", "series! number!", nullptr},
        {NAT_TRANSCODE, "length", "integer! binary!", nullptr},
        {NAT_CALL, "err", "string! file! binary!", nullptr},
        {NAT_APPLY, "func", "word! path! any-function!", nullptr},
        {NAT_TRY, "", "", "Tries to DO a block and returns its value or an error"},
        {NAT_TRY, "all", "", "Catch also BREAK, CONTINUE, RETURN, EXIT and THROW exceptions"},
        {NAT_TRY, "keep", "", "Capture and save the call stack in the error object"},
        {NAT_BREAK, "", "", "Breaks out of a loop, while, until, repeat, foreach, etc"},
        {NAT_UNION, "", "", "Returns the union of two data sets"},
        {NAT_DEHEX, "", "", "Converts URL-style hex encoded (%xx) strings"},
        {NAT_DEBASE, "", "", "Decodes binary-coded string (BASE-64 default) to binary value"},
        {NAT_CHECKSUM, "method", "word!", "MD5 SHA1 SHA256 SHA384 SHA512 CRC32 TCP ADLER32 hash"},
        {NAT_CHECKSUM, "spec", "any-string! binary! integer!",
         "String or binary for MD5/SHA* HMAC key, integer for hash table size"},
        {NAT_NEW_LINE, "skip", "", "Set/clear marker periodically to the end of the series"},
        {NAT_SET_ENV, "value", "string! none!", "Value to set, or NONE to unset it"},
        {NAT_TO_LOCAL_FILE, "full", "", "Prepends current dir for full path (for relative paths only)"},
        {NAT_CONTEXT_Q, "return", "object! function! none!", nullptr},
    };
    for (const Case& c : cases) {
        ItemInfo got = info(native_spec_text(c.index), c.item);
        EXPECT_EQ(got.types, c.types) << native_word(c.index) << " " << c.item;
        if (c.doc) {
            EXPECT_EQ(got.doc, c.doc) << native_word(c.index) << " " << c.item;
        }
    }
}
