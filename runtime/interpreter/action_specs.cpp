#include "runtime/interpreter/action_specs.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

namespace {

struct ActionSpec {
    int slot;
    const char* text;
};

// One entry per action with a word, in slot order. Type blocks name what the
// datatype rows implement for the first argument (a type outside them is
// refused at lookup anyway) and what the implementations read elsewhere.
constexpr ActionSpec SPECS[] = {
    {ACT_MAKE, R"KEM(["Makes a new value of a datatype from a spec"
        type [any-type!] "The datatype, or a value of it to build on"
        spec [any-type!] "What the new value is made from"])KEM"},
    {ACT_RANDOM, R"KEM(["Returns a random value up to the given one, or shuffles a series in place"
        value [logic! scalar! series!] "Upper limit, or the series to shuffle"
        /seed "Seeds the generator with the value instead; returns nothing"
        /secure "Draws from the secure random source"
        /only "Picks one value of the series at random"])KEM"},
    {ACT_REFLECT, R"KEM(["Returns a property of a value named by a word"
        value [any-type!]
        field [word!] "The property, such as spec, body or words; each datatype has its own"])KEM"},
    {ACT_TO, R"KEM(["Converts a value to a datatype"
        type [any-type!] "The datatype, or a value of it"
        spec [any-type!] "The value to convert"])KEM"},
    {ACT_FORM, R"KEM(["Returns the text of a value as it reads for people"
        value [any-type!]
        /part "Cuts the text to a length"
        limit [integer!]
        return: [string!]])KEM"},
    {ACT_MOLD, R"KEM(["Returns the text of a value as source that loads back"
        value [any-type!]
        /only "Leaves out the outer brackets of a block"
        /all "Writes values in their loadable construction form"
        /flat "Writes no indentation or line breaks"
        /part "Cuts the text to a length"
        limit [integer!]
        return: [string!]])KEM"},
    {ACT_ABSOLUTE, R"KEM(["Returns the value without its sign"
        value [number! char! pair! any-point! time! money!]])KEM"},
    {ACT_ADD, R"KEM(["Returns the sum of two values"
        value1 [scalar! vector!]
        value2 [scalar! vector!]])KEM"},
    {ACT_DIVIDE, R"KEM(["Returns the first value divided by the second"
        value1 [number! char! pair! any-point! tuple! vector! time! money!] "The dividend"
        value2 [number! char! pair! any-point! tuple! vector! time! money!] "The divisor"])KEM"},
    {ACT_MULTIPLY, R"KEM(["Returns the product of two values"
        value1 [number! char! pair! any-point! tuple! vector! time! money!]
        value2 [number! char! pair! any-point! tuple! vector! time! money!]])KEM"},
    {ACT_NEGATE, R"KEM(["Returns the value with its sign reversed"
        number [number! pair! any-point! time! money! bitset!]])KEM"},
    {ACT_POWER, R"KEM(["Returns a number raised to an exponent"
        number [number!] "The base"
        exponent [number!] "The exponent"])KEM"},
    {ACT_REMAINDER, R"KEM(["Returns what is left when the first value is divided by the second"
        value1 [number! char! pair! any-point! tuple! vector! time! money!]
        value2 [number! char! pair! any-point! tuple! vector! time! money!]])KEM"},
    {ACT_ROUND, R"KEM(["Rounds a value; halves go away from zero unless a refinement says otherwise"
        n [number! money! time! pair! any-point!]
        /to "Rounds to the nearest multiple of a scale"
        scale [number! money! time! pair!] "The scale; not zero"
        /even "Halves go to the even neighbour"
        /down "Drops the fraction (toward zero)"
        /half-down "Halves go toward zero"
        /floor "Goes toward negative infinity"
        /ceiling "Goes toward positive infinity"
        /half-ceiling "Halves go toward positive infinity"])KEM"},
    {ACT_SUBTRACT, R"KEM(["Returns the first value minus the second"
        value1 [scalar! vector!]
        value2 [scalar! vector!]])KEM"},
    {ACT_EVEN_Q, R"KEM(["Returns true when the number divides by 2 without remainder"
        number [number! char! time! money!]
        return: [logic!]])KEM"},
    {ACT_ODD_Q, R"KEM(["Returns true when the number leaves a remainder when divided by 2"
        number [number! char! time! money!]
        return: [logic!]])KEM"},
    {ACT_AND_T, R"KEM(["Returns the bitwise or logical AND of two values"
        value1 [logic! integer! char! bitset! typeset! binary! pair! tuple! vector!]
        value2 [logic! integer! char! bitset! typeset! binary! pair! tuple! vector!]])KEM"},
    {ACT_COMPLEMENT, R"KEM(["Returns the bitwise or logical complement of a value"
        value [logic! integer! bitset! typeset! binary! tuple!]])KEM"},
    {ACT_OR_T, R"KEM(["Returns the bitwise or logical OR of two values"
        value1 [logic! integer! char! bitset! typeset! binary! pair! tuple! vector!]
        value2 [logic! integer! char! bitset! typeset! binary! pair! tuple! vector!]])KEM"},
    {ACT_XOR_T, R"KEM(["Returns the bitwise or logical exclusive OR of two values"
        value1 [logic! integer! char! bitset! typeset! binary! pair! tuple! vector!]
        value2 [logic! integer! char! bitset! typeset! binary! pair! tuple! vector!]])KEM"},
    {ACT_APPEND, R"KEM(["Inserts value(s) at series tail; returns series head"
        series [series! port! bitset!]
        value [any-type!]
        /part "Limits to a given length or position"
        length [number! series!]
        /only "Insert block types as single values (overrides /part)"
        /dup "Duplicates the insert a specified number of times"
        count [integer!]])KEM"},
    {ACT_AT, R"KEM(["Returns the series at an index counted from its current position"
        series [series! port!]
        index [integer! pair!]])KEM"},
    {ACT_BACK, R"KEM(["Returns the series one position back"
        series [series! port!]])KEM"},
    {ACT_CHANGE, R"KEM(["Replaces values at the series position; returns the series just past the change"
        series [series! port!] "The series at the place to change"
        value [any-type!] "The new value(s)"
        /part "Replaces a given length, or up to a given position"
        range [number! series! pair!]
        /only "Puts a block in as one value"
        /dup "Repeats the new value(s) a number of times"
        count [integer!]])KEM"},
    {ACT_CLEAR, R"KEM(["Removes the values from the position to the tail; returns the series at its new tail"
        series [series! port! bitset! map! none!]])KEM"},
    {ACT_COPY, R"KEM(["Returns a copy of a series or other non-scalar value"
        value [series! any-object! bitset! map!]
        /part "Copies only a length, or up to a position"
        length [number! series! pair!]
        /deep "Copies nested values too"
        /types "Copies only nested values of the given types"
        kind [datatype! typeset!]])KEM"},
    {ACT_FIND, R"KEM(["Returns the series at the first place a value is found, or none"
        series [series! bitset! typeset! map! port! none!]
        value [any-type!]
        /part "Searches only a length, or up to a position"
        length [number! series!]
        /only "Looks for a series value as one value"
        /case "Tells letter case apart"
        /same "Matches only the same value (same?)"
        /any "Lets * and ? stand for any text in strings"
        /with "Uses other wildcard characters in place of * and ?"
        wild [string!]
        /skip "Sees the series as records of a fixed size"
        size [integer!]
        /last "Searches backward from the tail"
        /reverse "Searches backward from the position"
        /tail "Returns the series just past the match"
        /match "Matches only at the position; returns the series past the match"])KEM"},
    {ACT_HEAD, R"KEM(["Returns the series at its first position"
        series [series! port!]])KEM"},
    {ACT_HEAD_Q, R"KEM(["Returns true when the series is at its first position"
        series [series! port!]
        return: [logic!]])KEM"},
    {ACT_INDEX_Q, R"KEM(["Returns the position of a series counted from 1, or a word's index in its context"
        series [series! port! any-word!]
        return: [integer!]])KEM"},
    {ACT_INSERT, R"KEM(["Inserts value(s) at the series position; returns the series just past them"
        series [series! port! bitset!]
        value [any-type!]
        /part "Limits to a given length or position"
        length [number! series!]
        /only "Insert block types as single values (overrides /part)"
        /dup "Duplicates the insert a specified number of times"
        count [integer!]])KEM"},
    {ACT_LENGTH_Q, R"KEM(["Returns how many values lie between the position and the tail"
        series [series! port! bitset! map! tuple! none!]
        return: [integer! none!]])KEM"},
    {ACT_MOVE, R"KEM(["Moves values from one position of a series to another position, or to another series"
        origin [series! port!]
        target [series! port!]
        /part "Moves a number of values"
        length [integer!]])KEM"},
    {ACT_NEXT, R"KEM(["Returns the series one position further"
        series [series! port!]])KEM"},
    {ACT_PICK, R"KEM(["Returns the value at an index of a series or at a field of a composite value"
        series [series! port! bitset! pair! tuple! money! date! time! any-point!]
        index [scalar! any-string! any-word! block! logic!]])KEM"},
    {ACT_POKE, R"KEM(["Replaces the value at an index; returns the new value"
        series [series! port! bitset!]
        index [scalar! any-string! any-word! block! logic!]
        value [any-type!]])KEM"},
    {ACT_PUT, R"KEM(["Sets the value that follows a key, adding the key when absent; returns the value"
        series [series! port! map! object!]
        key [scalar! any-string! any-word! binary!]
        value [any-type!]
        /case "Tells letter case apart in the key"])KEM"},
    {ACT_REMOVE, R"KEM(["Removes the value at the position; returns the series at the same position"
        series [series! port! bitset! map! none!]
        /part "Removes a number of values, or up to a position"
        length [number! char! series!]
        /key "Removes a key and its value"
        key-arg [scalar! any-string! any-word! binary! block!]])KEM"},
    {ACT_REVERSE, R"KEM(["Reverses the order of the values from the position on; returns the series at the position"
        series [series! port! pair! tuple! any-point!]
        /part "Reverses only a length, or up to a position"
        length [number! series!]
        /skip "Sees the series as records of a fixed size"
        size [integer!]])KEM"},
    {ACT_SELECT, R"KEM(["Finds a value and returns the value after it, or none"
        series [series! any-object! map! port! none!]
        value [any-type!]
        /part "Searches only a length, or up to a position"
        length [number! series!]
        /only "Looks for a series value as one value"
        /case "Tells letter case apart"
        /same "Matches only the same value (same?)"
        /any "Lets * and ? stand for any text in strings"
        /with "Uses other wildcard characters in place of * and ?"
        wild [string!]
        /skip "Sees the series as records of a fixed size"
        size [integer!]
        /last "Searches backward from the tail"
        /reverse "Searches backward from the position"])KEM"},
    {ACT_SORT, R"KEM(["Sorts a series in place, ascending by default"
        series [series! port!]
        /case "Tells letter case apart"
        /skip "Sees the series as records of a fixed size"
        size [integer!]
        /compare "Compares by a field offset or with a function"
        comparator [integer! block! any-function!]
        /part "Sorts only a length, or up to a position"
        length [number! series!]
        /all "Compares whole records"
        /reverse "Sorts in descending order"
        /stable "Keeps equal values in their original order"])KEM"},
    {ACT_SKIP, R"KEM(["Returns the series moved by an offset from its position"
        series [series! port!]
        offset [integer! pair!]])KEM"},
    {ACT_SWAP, R"KEM(["Exchanges the values at the positions of two series"
        series1 [series! port!]
        series2 [series! port!]])KEM"},
    {ACT_TAIL, R"KEM(["Returns the series just past its last value"
        series [series! port!]])KEM"},
    {ACT_TAIL_Q, R"KEM(["Returns true when the series is at or past its tail"
        series [series! port!]
        return: [logic!]])KEM"},
    {ACT_TAKE, R"KEM(["Removes and returns the value at the position, or none"
        series [series! port! none!]
        /part "Takes a length, or up to a position"
        length [number! series!]
        /deep "Copies nested values of the taken ones"
        /last "Takes from the tail"])KEM"},
    {ACT_TRIM, R"KEM(["Removes white space from a string, or none values from a block"
        series [series! port!]
        /head "Only at the head"
        /tail "Only at the tail"
        /auto "Indents lines relative to the first"
        /lines "Joins the lines, removing line breaks and extra spaces"
        /all "Removes all white space"
        /with "Removes the given characters instead"
        str [char! string! binary! integer!]])KEM"},
    {ACT_CREATE, R"KEM(["Asks a port to create its resource"
        port [port! file! url! block!]])KEM"},
    {ACT_CLOSE, R"KEM(["Closes a port"
        port [port!]])KEM"},
    {ACT_DELETE, R"KEM(["Deletes a file or an empty folder"
        file [file! url! port!]])KEM"},
    {ACT_MODIFY, R"KEM(["Changes a setting of a composite value"
        target [object! series! bitset! map! port!]
        field [word!]
        value [any-type!]
        /case "Tells letter case apart"])KEM"},
    {ACT_OPEN, R"KEM(["Opens a port, making it first from a file, URL or spec block"
        port [port! file! url! block!]
        /new "Creates the resource anew, replacing an existing one"
        /read "For reading"
        /write "For writing"
        /seek "For access at any position"
        /allow "With the given access rights"
        access [block!]])KEM"},
    {ACT_OPEN_Q, R"KEM(["Returns true when the port is open"
        port [port!]])KEM"},
    {ACT_QUERY, R"KEM(["Returns information about a file or port"
        target [file! url! port!]])KEM"},
    {ACT_READ, R"KEM(["Reads from a file, URL or port"
        source [file! url! port!]
        /part "Reads a number of units"
        length [number!]
        /seek "Reads from a position"
        index [number!]
        /binary "Returns the bytes unchanged"
        /lines "Returns a block of lines"
        /info "Returns the status, headers and body of the response"
        /as "Decodes the text from an encoding (UTF-8 by default)"
        encoding [word!]])KEM"},
    {ACT_RENAME, R"KEM(["Renames a file or folder"
        from [file! url! port!]
        to [file! url! port!]])KEM"},
    {ACT_UPDATE, R"KEM(["Brings a port's outside and inside states up to date"
        port [port!]])KEM"},
    {ACT_WRITE, R"KEM(["Writes to a file, URL or port"
        destination [file! url! port!]
        data [any-type!]
        /binary "Writes the bytes unchanged"
        /lines "Writes each value of a block as a line"
        /info "Returns the status, headers and body of the response"
        /append "Writes at the end of the file"
        /part "Writes a number of units"
        length [number!]
        /seek "Writes at a position"
        index [number!]
        /allow "With the given access rights"
        access [block!]
        /as "Encodes the text in an encoding (UTF-8 by default)"
        encoding [word!]])KEM"},
};

constexpr std::string_view WORDS[ACTION_SLOT_COUNT + 1] = {
    "",
#define KEM_ACTION(slot, cname, word) word,
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
};

} // namespace

std::string_view action_spec_text(int slot) {
    for (const ActionSpec& s : SPECS)
        if (s.slot == slot) return s.text;
    return {};
}

std::string_view action_word(int slot) {
    if (slot < 1 || slot > ACTION_SLOT_COUNT) return {};
    return WORDS[slot];
}

} // namespace kem
