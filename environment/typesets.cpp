// The named typesets: each a set of datatype ids, composites made from the
// sets before them.
#include <initializer_list>
#include "environment/boot.h"
#include "runtime/core/cell.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

namespace {

struct Typeset {
    Cell cell{TYPE_TYPESET, 0, 0, 0};
    Typeset& add(std::initializer_list<uint8_t> types) {
        auto* bytes = reinterpret_cast<uint8_t*>(&cell.data1);
        for (uint8_t t : types) bytes[t / 8] |= uint8_t(0x80 >> (t % 8));
        return *this;
    }
    Typeset& add(const Typeset& other) {
        cell.data1 |= other.cell.data1;
        cell.data2 |= other.cell.data2;
        cell.data3 |= other.cell.data3;
        return *this;
    }
};

void bind(const char* name, const Typeset& ts) { context_set_global(symbol_make(name), &ts.cell); }

} // namespace

void boot_typesets() {
    Typeset internal, external, number, planar, any_point, scalar, any_word, all_word, any_list, any_path, any_block,
        any_function, any_object, any_string, series, immediate, default_, any_type;
    internal.add({TYPE_UNSET});
    external.add({TYPE_EVENT});
    number.add({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    planar.add({TYPE_PAIR, TYPE_POINT2D});
    any_point.add({TYPE_POINT2D, TYPE_POINT3D});
    scalar.add(number).add(any_point).add({TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE});
    any_word.add({TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
    all_word.add(any_word).add({TYPE_REFINEMENT, TYPE_ISSUE});
    any_list.add({TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    any_path.add({TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    any_block.add(any_path).add(any_list);
    any_function.add({TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
    any_object.add({TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
    any_string.add({TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    series.add({TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}).add(any_block).add(any_string);
    immediate.add(scalar).add(all_word).add({TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_DATE});
    default_.add(series).add(immediate).add(any_object).add(external).add(any_function).add({TYPE_MAP, TYPE_BITSET});
    any_type.add(default_).add(internal);
    bind("internal!", internal);
    bind("external!", external);
    bind("number!", number);
    bind("planar!", planar);
    bind("any-point!", any_point);
    bind("scalar!", scalar);
    bind("any-word!", any_word);
    bind("all-word!", all_word);
    bind("any-list!", any_list);
    bind("any-path!", any_path);
    bind("any-block!", any_block);
    bind("any-function!", any_function);
    bind("any-object!", any_object);
    bind("any-string!", any_string);
    bind("series!", series);
    bind("immediate!", immediate);
    bind("default!", default_);
    bind("any-type!", any_type);
}

} // namespace kem
