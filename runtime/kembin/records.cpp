// The table of KEMBIN records by datatype.
#include "runtime/kembin/records.h"
#include <array>
#include "runtime/core/errors.h"
#include "runtime/datatypes/datatype.h"

namespace kem::kembin {

namespace {

constexpr RecordCodec wired(void (*write)(Encoder&, const Cell&), void (*read)(Decoder&, const RecordHead&, const Cell&),
                            RecordKey key = RecordKey::none) {
    return RecordCodec{RecordKind::wired, key, write, read};
}
constexpr RecordCodec REFUSED{RecordKind::refused, RecordKey::none, nullptr, nullptr};
constexpr RecordCodec NO_RECORD{};

constexpr std::array<RecordCodec, TYPE_COUNT + 1> make_table() {
    std::array<RecordCodec, TYPE_COUNT + 1> t{};
    const RecordCodec scalar = wired(write_scalar, read_scalar);
    const RecordCodec block = wired(write_block, read_block, RecordKey::series);
    const RecordCodec string = wired(write_string, read_string, RecordKey::series);
    const RecordCodec word = wired(write_word, read_word, RecordKey::word);
    for (uint8_t type : {TYPE_DATATYPE, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT,
                         TYPE_ISSUE, TYPE_TYPESET, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_TIME, TYPE_DATE,
                         TYPE_POINT2D, TYPE_POINT3D, TYPE_MONEY})
        t[type] = scalar;
    for (uint8_t type : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_HASH})
        t[type] = block;
    for (uint8_t type : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY})
        t[type] = string;
    for (uint8_t type : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT}) t[type] = word;
    t[TYPE_BITSET] = wired(write_bitset, read_bitset, RecordKey::series);
    t[TYPE_VECTOR] = wired(write_vector, read_vector, RecordKey::series);
    t[TYPE_MAP] = wired(write_map, read_map, RecordKey::series);
    t[TYPE_IMAGE] = wired(write_image, read_image, RecordKey::series);
    // A context! cell is no value scripts hold: it is read (as an object!) but never written.
    t[TYPE_CONTEXT] = wired(nullptr, read_context);
    t[TYPE_OBJECT] = wired(write_object, read_object, RecordKey::context);
    t[TYPE_FUNCTION] = wired(write_function, read_function, RecordKey::context);
    t[TYPE_NATIVE] = wired(write_native, read_native);
    t[TYPE_ACTION] = wired(write_native, read_native);
    t[TYPE_OP] = wired(write_op, read_op);
    t[TYPE_ERROR] = wired(write_error, read_error);
    for (uint8_t type : {TYPE_ROUTINE, TYPE_TRIPLE, TYPE_HANDLE, TYPE_PORT, TYPE_EVENT}) t[type] = REFUSED;
    return t;
}

constexpr std::array<RecordCodec, TYPE_COUNT + 1> TABLE = make_table();

} // namespace

const RecordCodec& record_codec(uint32_t type) { return type <= uint32_t(TYPE_COUNT) ? TABLE[type] : NO_RECORD; }

void refuse(uint8_t type) {
    Cell dt;
    make_datatype(&dt, type);
    fire(Err::access_no_codec, dt);
}

} // namespace kem::kembin
