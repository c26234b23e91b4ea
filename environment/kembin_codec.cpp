// The KEMBIN codec object: its encode function and its encode* and decode
// routines, which call the encoder and the decoder of runtime/kembin.
#include <string_view>
#include <vector>
#include "environment/boot.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/kembin/kembin.h"

namespace kem {

namespace {

// Anything this short cannot hold a header and a record.
constexpr int32_t SHORTEST_PAYLOAD = 10;

// encode* data compact?: the binary! of the data in the compact or fixed variant.
Cell* encode_star(Cell* args) {
    const Cell data = args[0];
    kembin::encode(&data, is_truthy(&args[1]), &args[0]);
    return &args[0];
}

// decode payload: the value a binary! (or the file or URL it names) holds,
// or the block of them when it holds more than one.
Cell* decode(Cell* args) {
    Cell payload = args[0];
    if (is_type(&payload, TYPE_FILE) || is_type(&payload, TYPE_URL)) {
        Cell source = payload;
        payload = *read_direct(&source, ReadArgs{.binary = true});
    }
    if (!is_type(&payload, TYPE_BINARY) || binary_rs_length(&payload) <= SHORTEST_PAYLOAD)
        fire(Err::script_invalid_data, payload);
    // A copy of the bytes: nothing the decoder does may move what it reads.
    const uint8_t* head = binary_rs_head(&payload);
    const std::vector<uint8_t> bytes(head, head + binary_rs_length(&payload));
    Cell* out = stack::push_slot();
    block_make_at(out, 1);
    kembin::codec_mode = true;
    kembin::decode(bytes.data(), bytes.size(), out, payload);
    args[0] = block_full_length(out) == 1 ? *block_rs_abs_at(out, 0) : *out;
    return &args[0];
}

constexpr std::string_view CODEC_SOURCE = R"KEM(make object! [
    title: "Kembin codec"
    name: 'Kembin
    mime-type: []
    suffixes: [%.kembin]
    compact?: true
    encode: func [data [any-type!] where [any-type!]] [encode* :data compact?]
    encode*: none
    decode: none
])KEM";

} // namespace

Cell make_kembin_codec() {
    return make_codec_object(CODEC_SOURCE, {
                                               {"encode*", R"KEM([data [any-type!] compact? [logic!]])KEM", encode_star},
                                               {"decode", R"KEM([payload [any-type!]])KEM", decode},
                                           });
}

} // namespace kem
