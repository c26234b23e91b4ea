// The type predicates: one routine per datatype and per named typeset, each
// answering whether its argument's type is that datatype or in that typeset.
#include <string>
#include <utility>
#include "environment/boot.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

struct DatatypePredicate {
    const char* name;
    uint8_t type;
};

constexpr DatatypePredicate datatype_predicates[] = {
    {"bitset?", TYPE_BITSET},       {"binary?", TYPE_BINARY},         {"block?", TYPE_BLOCK},
    {"char?", TYPE_CHAR},           {"email?", TYPE_EMAIL},           {"file?", TYPE_FILE},
    {"float?", TYPE_FLOAT},         {"get-path?", TYPE_GET_PATH},     {"get-word?", TYPE_GET_WORD},
    {"hash?", TYPE_HASH},           {"integer?", TYPE_INTEGER},       {"issue?", TYPE_ISSUE},
    {"lit-path?", TYPE_LIT_PATH},   {"lit-word?", TYPE_LIT_WORD},     {"logic?", TYPE_LOGIC},
    {"map?", TYPE_MAP},             {"none?", TYPE_NONE},             {"pair?", TYPE_PAIR},
    {"paren?", TYPE_PAREN},         {"path?", TYPE_PATH},             {"percent?", TYPE_PERCENT},
    {"refinement?", TYPE_REFINEMENT}, {"set-path?", TYPE_SET_PATH},   {"set-word?", TYPE_SET_WORD},
    {"string?", TYPE_STRING},       {"tag?", TYPE_TAG},               {"time?", TYPE_TIME},
    {"typeset?", TYPE_TYPESET},     {"tuple?", TYPE_TUPLE},           {"unset?", TYPE_UNSET},
    {"url?", TYPE_URL},             {"word?", TYPE_WORD},             {"image?", TYPE_IMAGE}, {"port?", TYPE_PORT},
    {"date?", TYPE_DATE},           {"money?", TYPE_MONEY},           {"ref?", TYPE_REF},
    {"point2D?", TYPE_POINT2D},     {"point3D?", TYPE_POINT3D},       {"handle?", TYPE_HANDLE},
    {"error?", TYPE_ERROR},         {"action?", TYPE_ACTION},         {"native?", TYPE_NATIVE},
    {"datatype?", TYPE_DATATYPE},   {"function?", TYPE_FUNCTION},     {"object?", TYPE_OBJECT},
    {"op?", TYPE_OP},               {"routine?", TYPE_ROUTINE},       {"vector?", TYPE_VECTOR},
};
constexpr int DATATYPE_PREDICATES = sizeof(datatype_predicates) / sizeof(datatype_predicates[0]);

// Each reads its typeset word's global value at every call, so a script that
// redefines the typeset changes the predicate too.
constexpr const char* typeset_predicates[] = {
    "any-list!",  "any-block!", "any-function!", "any-object!", "any-path!",  "any-string!", "any-word!",
    "series!",    "number!",    "immediate!",    "scalar!",     "all-word!",  "any-point!",  "planar!",
};
constexpr int TYPESET_PREDICATES = sizeof(typeset_predicates) / sizeof(typeset_predicates[0]);
Cell typeset_words[TYPESET_PREDICATES];

template <int I>
Cell* is_datatype(Cell* args) {
    make_logic(args, type_of(args) == datatype_predicates[I].type);
    return args;
}

template <int I>
Cell* in_typeset(Cell* args) {
    const Cell* ts = word_value_cell(&typeset_words[I]);
    make_logic(args, type_of(ts) == TYPE_TYPESET && typeset_has(ts, type_of(args)));
    return args;
}

template <int... I>
void bind_datatype_predicates(std::integer_sequence<int, I...>) {
    const RoutineFn fns[] = {is_datatype<I>...};
    for (int i = 0; i < int(sizeof...(I)); i++) {
        const Cell r =
            make_routine(R"KEM(["Returns true if the value is this type" value [any-type!] return: [logic!]])KEM", fns[i]);
        context_set_global(symbol_make(datatype_predicates[i].name), &r);
    }
}

template <int... I>
void bind_typeset_predicates(std::integer_sequence<int, I...>) {
    const RoutineFn fns[] = {in_typeset<I>...};
    for (int i = 0; i < int(sizeof...(I)); i++) {
        std::string name = typeset_predicates[i];
        name.pop_back();  // the "!"
        typeset_words[i] = word_load(typeset_predicates[i]);
        const std::string spec = "[\"Returns true if the value is any type of " + name +
                                 "\" value [any-type!] return: [logic!]]";
        const Cell r = make_routine(spec.c_str(), fns[i]);
        context_set_global(symbol_make((name + "?").c_str()), &r);
    }
}

} // namespace

void boot_type_predicates() {
    bind_datatype_predicates(std::make_integer_sequence<int, DATATYPE_PREDICATES>());
    bind_typeset_predicates(std::make_integer_sequence<int, TYPESET_PREDICATES>());
}

} // namespace kem
