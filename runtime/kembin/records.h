// The one table of KEMBIN records: for each datatype, how its values are
// written and read, and what identifies them for sharing. A datatype joins
// KEMBIN with a writer and a reader (in the records_*.cpp file of its family)
// and its row in records.cpp.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kem::kembin {

class Encoder;
class Decoder;
struct RecordHead;

// What the encoder's seen table keys a value by: written once, later
// occurrences become references to the first.
enum class RecordKey : uint8_t {
    none,     // written in full every time
    series,   // the series node (payload word 2)
    context,  // the context node (payload word 1), unless it is the global context
    word,     // the context node of a word bound elsewhere than globally
};

enum class RecordKind : uint8_t {
    wired,    // has a writer and a reader
    refused,  // never encoded nor decoded: access no-codec
    none,     // no record exists: invalid on reading, no-codec on writing
};

struct RecordCodec {
    RecordKind kind = RecordKind::none;
    RecordKey key = RecordKey::none;
    void (*write)(Encoder&, const Cell&) = nullptr;
    void (*read)(Decoder&, const RecordHead&, const Cell& target) = nullptr;
};

const RecordCodec& record_codec(uint32_t type);

// The writers and readers, by family.
void write_scalar(Encoder& e, const Cell& v);
void read_scalar(Decoder& d, const RecordHead& h, const Cell& target);
void write_block(Encoder& e, const Cell& v);
void read_block(Decoder& d, const RecordHead& h, const Cell& target);
void write_string(Encoder& e, const Cell& v);
void read_string(Decoder& d, const RecordHead& h, const Cell& target);
void write_vector(Encoder& e, const Cell& v);
void read_vector(Decoder& d, const RecordHead& h, const Cell& target);
void write_bitset(Encoder& e, const Cell& v);
void read_bitset(Decoder& d, const RecordHead& h, const Cell& target);
void write_map(Encoder& e, const Cell& v);
void read_map(Decoder& d, const RecordHead& h, const Cell& target);
void write_image(Encoder& e, const Cell& v);
void read_image(Decoder& d, const RecordHead& h, const Cell& target);
void write_word(Encoder& e, const Cell& v);
void read_word(Decoder& d, const RecordHead& h, const Cell& target);
void read_context(Decoder& d, const RecordHead& h, const Cell& target);
void write_object(Encoder& e, const Cell& v);
void read_object(Decoder& d, const RecordHead& h, const Cell& target);
void write_function(Encoder& e, const Cell& v);
void read_function(Decoder& d, const RecordHead& h, const Cell& target);
void write_native(Encoder& e, const Cell& v);
void read_native(Decoder& d, const RecordHead& h, const Cell& target);
void write_op(Encoder& e, const Cell& v);
void read_op(Decoder& d, const RecordHead& h, const Cell& target);
void write_error(Encoder& e, const Cell& v);
void read_error(Decoder& d, const RecordHead& h, const Cell& target);

// Whether a word's context is owned by an object! or function! of its own,
// which its record can carry; other words are written as global ones.
bool word_has_owner(const Cell& word);

// Access no-codec naming the datatype.
[[noreturn]] void refuse(uint8_t type);

// --- shared by the readers -----------------------------------------------------

// The head of a series record: compact only with x, fixed always; never negative.
int32_t read_head(Decoder& d, const RecordHead& h);
// What a series taken over from a reference must hold.
enum class SeriesNeed : uint8_t { cells, text, bytes };
// Follows the path of a shared series record to the value whose buffer the
// new value takes: a series, bitset! or callable (its spec) whose units fit.
NodeId shared_series(Decoder& d, SeriesNeed need);

} // namespace kem::kembin
