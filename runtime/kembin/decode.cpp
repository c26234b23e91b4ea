// The KEMBIN decoder: the header and symbol table, the bounded reads, record
// headers, reference paths, and the run-time and start-up entry points.
#include <cstring>
#include <string>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/kembin/decoder.h"
#include "runtime/kembin/kembin.h"
#include "runtime/kembin/pack.h"
#include "runtime/kembin/records.h"
#include "runtime/platform/exit.h"
#include "runtime/services/output.h"
#include "runtime/services/unicode/utf.h"

namespace kem::kembin {

// --- reading -----------------------------------------------------------------------

Decoder::Decoder(bool compact, bool codec, const uint8_t* base, uint32_t base_offset, const Cell& output,
                 uint32_t first_new)
    : compact_(compact), codec_(codec), base_(base), base_offset_(base_offset), output_(output),
      first_new_(first_new) {}

void Decoder::invalid(const uint8_t* at) const {
    Cell position;
    make_integer(&position, int32_t(uint32_t(at - base_) + base_offset_ + 1));
    fire(Err::script_kb_invalid_record, position);
}

uint8_t Decoder::byte() {
    if (p_ >= end_) invalid(p_);
    return *p_++;
}

uint32_t Decoder::varint() {
    uint32_t v = 0;
    for (int i = 0; i < 5; i++) {
        const uint8_t b = byte();
        // The fifth byte holds the top four bits and nothing more.
        if (i == 4 && b >= 0x10) invalid(p_ - 1);
        v |= uint32_t(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) break;
    }
    return v;
}

uint32_t Decoder::u32() {
    if (remaining() < 4) invalid(p_);
    const uint32_t v = get_u32(p_);
    p_ += 4;
    return v;
}

uint32_t Decoder::count() {
    const uint8_t* at = p_;
    const uint32_t v = compact_ ? varint() : u32();
    if (v > uint32_t(INT32_MAX)) invalid(at);
    return v;
}

uint32_t Decoder::count_of(uint32_t each) {
    const uint8_t* at = p_;
    const uint32_t n = count();
    if (uint64_t(n) * each > remaining()) invalid(at);
    return n;
}

int32_t Decoder::sint() { return compact_ ? unzigzag(varint()) : int32_t(u32()); }

const uint8_t* Decoder::take(uint64_t n) {
    if (n > remaining()) invalid(p_);
    const uint8_t* at = p_;
    p_ += n;
    return at;
}

const uint8_t* Decoder::bytes(uint64_t n) {
    const uint8_t* at = take(n);
    if (!compact_) take((4 - n % 4) % 4);
    return at;
}

// --- symbols ---------------------------------------------------------------------------

void Decoder::set_symbols(const uint8_t* offsets, uint32_t count, const uint8_t* names, uint32_t names_size) {
    offsets_ = offsets;
    symbol_count_ = count;
    names_ = names;
    names_size_ = names_size;
    symbols_.assign(count, 0);
    global_words_.assign(count, Cell{0, 0, 0, 0});
}

uint32_t Decoder::symbol(uint32_t index, const uint8_t* at) {
    if (index >= symbol_count_) invalid(at);
    if (uint32_t id = symbols_[index]) return id;
    const uint32_t offset = get_u32(offsets_ + 4 * size_t(index));
    if (offset >= names_size_) invalid(at);
    // The names area ends with a NUL, so every name does.
    const uint8_t* name = names_ + offset;
    const size_t length = std::strlen(reinterpret_cast<const char*>(name));
    if (length == 0) invalid(at);
    // The boot data is the build's own: only data from outside needs checking.
    for (size_t i = 0; codec_ && i < length;) {
        int32_t cp;
        const int n = unicode::check_utf8_char(name + i, length - i, &cp);
        if (n <= 0) invalid(at);
        i += size_t(n);
    }
    const uint32_t id = symbol_make_from_utf8(name, uint32_t(length));
    symbols_[index] = id;
    return id;
}

uint32_t Decoder::read_symbol() {
    const uint8_t* at = p_;
    return symbol(read_symbol_index(), at);
}

Cell Decoder::global_word(uint32_t index, const uint8_t* at) {
    const uint32_t id = symbol(index, at);
    Cell& w = global_words_[index];
    if (w.header == 0) word_make_at(id, &w);
    return w;
}

// --- records ---------------------------------------------------------------------------

namespace {

// Keeps the recursion of nested records bounded.
class Depth {
public:
    Depth(uint32_t& depth, const Decoder& d, const uint8_t* at) : depth_(depth) {
        if (depth_ >= MAX_DEPTH) d.invalid(at);
        depth_++;
    }
    ~Depth() { depth_--; }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;

private:
    uint32_t& depth_;
};

inline bool set_target_type(uint8_t type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

} // namespace

void Decoder::record(const Cell& target) {
    Depth depth(depth_, *this, p_);
    if (compact_) compact_record(target);
    else fixed_record(target);
}

void Decoder::dispatch(const RecordHead& h, const Cell& target) {
    const RecordCodec& codec = record_codec(h.type);
    if (codec.kind == RecordKind::none || !datatype_names[h.type].name) invalid(h.at);
    if (codec.kind == RecordKind::refused || !codec.read) refuse(h.type);
    if (h.shared && codec.key == RecordKey::none) invalid(h.at);
    const NodeId node = series_node(&target);
    const uint32_t first = cell_count(node);
    if (h.set) {
        if (!set_target_type(h.type) || node != series_node(&output_)) invalid(h.at);
        codec.read(*this, h, target);
        set_word_from_next(first);
        return;
    }
    codec.read(*this, h, target);
    if (h.new_line && cell_count(node) > first) cell_at(node, first)->header |= HEADER_NEW_LINE;
}

// A boot set record: the word just read takes the value of the next record,
// and neither stays in the output.
void Decoder::set_word_from_next(uint32_t word_at) {
    const NodeId node = series_node(&output_);
    const uint8_t* at = p_;
    record(output_);
    if (cell_count(node) <= word_at + 1) invalid(at);
    const Cell word = *cell_at(node, word_at);
    const Cell value = *cell_at(node, word_at + 1);
    const NodeId ctx = word.data1;
    if (ctx == global_context || type_of(&word) == TYPE_ISSUE) {
        context_set_global(word.data2, &value);
    } else {
        Cell* slot = context_value_slot_checked(ctx, word.data3);
        if (!slot) invalid(at);
        *slot = value;
    }
    block_set_tail_at(&output_, word_at);
}

void Decoder::compact_record(const Cell& target) {
    RecordHead h;
    h.at = p_;
    uint8_t b;
    for (;;) {
        b = byte();
        if (b == PREFIX_NEW_LINE) h.new_line = true;
        else if (b == PREFIX_SHARED) h.shared = true;
        else if (b == PREFIX_SET) h.set = true;
        else break;
    }
    if (h.set && codec_) invalid(h.at);
    if (b >= 0x80) {
        if (h.shared || h.set) invalid(h.at);
        Cell v;
        if (b < LOGIC_TRUE) make_integer(&v, b & TYPE_BITS);
        else if (b == LOGIC_TRUE || b == LOGIC_FALSE) make_logic(&v, b == LOGIC_TRUE);
        else if (b == REFERENCE) v = follow_path();
        else invalid(p_ - 1);
        if (h.new_line) v.header |= HEADER_NEW_LINE;
        *block_alloc_tail(&target) = v;
        return;
    }
    h.x = (b & EXTRA_FLAG) != 0;
    uint32_t type = b & TYPE_BITS;
    if (type == TYPE_ESCAPE) type = varint();
    if (type == 0 || type > TYPE_COUNT) invalid(h.at);
    h.type = uint8_t(type);
    dispatch(h, target);
}

void Decoder::fixed_record(const Cell& target) {
    RecordHead h;
    // Zero words pad the records before doubles.
    while (remaining() >= 4 && get_u32(p_) == 0) p_ += 4;
    h.at = p_;
    h.word = u32();
    const uint32_t type = h.word & FIXED_TYPE_MASK;
    if (type == FIXED_REFERENCE) {
        p_ = h.at;
        Cell v = follow_path();
        if (h.word & FIXED_NEW_LINE) v.header |= HEADER_NEW_LINE;
        *block_alloc_tail(&target) = v;
        return;
    }
    if (type == 0 || type > TYPE_COUNT) invalid(h.at);
    h.type = uint8_t(type);
    h.new_line = (h.word & FIXED_NEW_LINE) != 0;
    // Bit 19 means shared only for the types that can be; elsewhere it belongs to the type.
    h.shared = (h.word & FIXED_SHARED) && record_codec(h.type).key != RecordKey::none;
    h.set = !codec_ && set_target_type(h.type) && (h.word & FIXED_SET);
    dispatch(h, target);
}

void Decoder::all_records() {
    while (p_ < end_) record(output_);
}

// --- reference paths -----------------------------------------------------------------

Cell Decoder::step(const Cell& v, uint32_t i, const uint8_t* at) {
    const uint8_t type = type_of(&v);
    auto cell_of = [&](NodeId node, uint32_t first) {
        if (!node || uint64_t(i) + first >= cell_count(node)) invalid(at);
        return *cell_at(node, first + i);
    };
    if (any_block_type(type) || type == TYPE_MAP) return cell_of(series_node(&v), 0);
    switch (type) {
    case TYPE_OBJECT: return cell_of(context_values_node(v.data1), 0);
    case TYPE_ERROR: return cell_of(context_values_node(v.data1), 3);
    case TYPE_NATIVE:
    case TYPE_ACTION: return cell_of(v.data2, 0);
    case TYPE_FUNCTION:
    case TYPE_OP: {
        const bool function = type == TYPE_FUNCTION || op_wrapped_type(&v) == TYPE_FUNCTION;
        if (i == 0) return callable_spec(&v);
        if (i == 1 && function) return *callable_extra_cell(&v, 0);
        invalid(at);
    }
    default:
        if (any_word_type(type) && v.data1) {
            const NodeId ctx = v.data1;
            if (context_values_on_stack(ctx)) return step(*context_self_cell(ctx), i, at);
            return cell_of(context_values_node(ctx), 0);
        }
        invalid(at);
    }
}

Cell Decoder::follow_path() {
    const uint8_t* at = p_;
    if (!compact_) {
        if ((u32() & FIXED_TYPE_MASK) != FIXED_REFERENCE) invalid(at);
    }
    const uint32_t steps = count();
    if (steps == 0 || steps > MAX_PATH) invalid(at);
    Cell v = output_;
    for (uint32_t s = 0; s < steps; s++) {
        const uint8_t* step_at = p_;
        const uint32_t i = compact_ ? varint() : u32();
        v = step(v, i, step_at);
    }
    return v;
}

// --- entry points ------------------------------------------------------------------

namespace {

enum class Opened { ok, bad_magic, corrupt, short_fixed };

// The bytes after the magic, version and flags, unpacked when flagged.
struct Payload {
    bool compact = false;
    bool symbols = false;
    const uint8_t* body = nullptr;
    size_t size = 0;
    const uint8_t* base = nullptr;  // error positions count from here
    uint32_t base_offset = 0;       // plus this
    std::vector<uint8_t> unpacked;
};

Opened open_payload(const uint8_t* data, size_t size, Payload& p) {
    if (size < PREAMBLE_BYTES || std::memcmp(data, MAGIC, sizeof MAGIC) != 0) return Opened::bad_magic;
    const uint8_t flags = data[7];
    p.compact = (flags & FLAG_COMPACT) != 0;
    p.symbols = (flags & FLAG_SYMBOLS) != 0;
    p.body = data + PREAMBLE_BYTES;
    p.size = size - PREAMBLE_BYTES;
    p.base = data;
    if (flags & FLAG_COMPRESSED) {
        if (!pack::unpack(p.body, p.size, p.unpacked)) return Opened::corrupt;
        p.size = p.unpacked.size();
        if (p.size) p.body = p.unpacked.data();
        p.base = p.body;
        p.base_offset = PREAMBLE_BYTES;
    }
    if (!p.compact && p.size < 8) return Opened::short_fixed;
    return Opened::ok;
}

// Counts and symbol table; the decoder's area becomes the records.
void read_header(Decoder& d, bool symbols) {
    (void)(d.compact() ? d.varint() : d.u32());  // the root count: records are read to the end
    const uint32_t records = d.count();
    if (symbols) {
        const uint32_t n = d.count_of(4);
        const uint8_t* at = d.at();
        const uint32_t names_size = d.count();
        const uint8_t* offsets = d.take(uint64_t(n) * 4);
        const uint8_t* names = d.take(names_size);
        if (names_size > 0 && names[names_size - 1] != 0) d.invalid(at);
        d.set_symbols(offsets, n, names, names_size);
    }
    const uint8_t* first = d.take(records);
    d.set_area(first, first + records);
}

void run(const Payload& p, const Cell& output, bool codec, uint32_t first_new) {
    Decoder d(p.compact, codec, p.base, p.base_offset, output, first_new);
    d.set_area(p.body, p.body + p.size);
    read_header(d, p.symbols);
    d.all_records();
}

std::string arg_text(const Cell& arg) {
    switch (type_of(&arg)) {
    case TYPE_INTEGER: return std::to_string(cell_int(&arg));
    case TYPE_DATATYPE: return type_name(uint8_t(arg.data1)) ? type_name(uint8_t(arg.data1)) : "?";
    default: return "?";
    }
}

[[noreturn]] void boot_failure(const std::string& message) {
    write_utf8(message, true);
    exit_process(1);
}

} // namespace

void decode(const uint8_t* data, size_t size, const Cell* block, const Cell& input) {
    Payload p;
    if (open_payload(data, size, p) != Opened::ok) fire(Err::script_invalid_data, input);
    run(p, *block, codec_mode, 0);
}

uint32_t load_boot(const uint8_t* data, size_t size) {
    codec_mode = false;
    const bool was_active = collector::active();
    collector::set_active(false);
    const Cell root = *root_block();
    const uint32_t first_new = block_full_length(&root);
    Payload p;
    switch (open_payload(data, size, p)) {
    case Opened::ok:
    case Opened::short_fixed: break;  // the header reads then fail at the end of the data
    case Opened::bad_magic: boot_failure("Error: Not a Kembin file!");
    case Opened::corrupt: boot_failure("Error: Kembin compressed data corrupted!");
    }
    try {
        run(p, root, false, first_new);
    } catch (const KemError& e) {
        // Running out of memory is no fault of the data: start-up reports it.
        if (e.id == Err::internal_no_memory) throw;
        std::string args[3];
        for (int i = 0; i < e.argc; i++) args[i] = arg_text(e.args[i]);
        boot_failure(std::string("*** ") + error_category_info(error_category(e.id)).type_text + ": " +
                     error_message(e.id, args, e.argc));
    }
    collector::set_active(was_active);
    const uint32_t count = block_full_length(&root) - first_new;
    set_boot_values(block_rs_abs_at(&root, first_new), count);
    return count;
}

} // namespace kem::kembin
