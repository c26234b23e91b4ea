// The KEMBIN encoder: walking values into records, the symbol table, the seen
// table of shared series and contexts, and the assembly of the header.
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/kembin/encoder.h"
#include "runtime/kembin/kembin.h"
#include "runtime/kembin/pack.h"
#include "runtime/kembin/records.h"

namespace kem::kembin {

bool codec_mode = false;

namespace {

constexpr bool is_float_record(uint8_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT || type == TYPE_TIME; }

} // namespace

Encoder::Encoder(bool compact, bool boot) : compact_(compact), boot_(boot) {}

NodeId Encoder::key_of(const Cell& v) const {
    if (boot_) return 0;
    switch (record_codec(type_of(&v)).key) {
    case RecordKey::none: return 0;
    case RecordKey::series: return v.data2;
    case RecordKey::context: return v.data1 == global_context ? 0 : v.data1;
    case RecordKey::word: return word_has_owner(v) ? v.data1 : 0;
    }
    return 0;
}

void Encoder::write(const Cell& v, bool counted, bool keyed) {
    const uint8_t type = type_of(&v);
    const RecordCodec& codec = record_codec(type);
    if (codec.kind != RecordKind::wired || !codec.write) refuse(type);
    if (++depth_ > MAX_DEPTH) fire(Err::internal_stack_overflow);
    const bool saved_new_line = new_line_;
    const auto* saved_path = shared_path_;
    const bool saved_pending = shared_pending_;
    new_line_ = (v.header & HEADER_NEW_LINE) != 0;
    shared_path_ = nullptr;
    shared_pending_ = false;
    const NodeId key = keyed ? key_of(v) : 0;
    if (key == 0) {
        codec.write(*this, v);
    } else if (auto seen = seen_.find(key); seen != seen_.end()) {
        shared_path_ = &seen->second;
        shared_pending_ = true;
        codec.write(*this, v);
    } else {
        push_level();
        seen_.emplace(key, levels_);
        codec.write(*this, v);
        pop_level();
    }
    new_line_ = saved_new_line;
    shared_path_ = saved_path;
    shared_pending_ = saved_pending;
    depth_--;
    if (counted) counter_++;
}

void Encoder::value(const Cell& v) { write(v, true, true); }

void Encoder::owner(const Cell& v) { write(v, false, false); }

void Encoder::root(const Cell& value) {
    roots_++;
    write(value, true, true);
}

void Encoder::set_word(const Cell& word, const Cell& value) {
    roots_++;
    set_ = true;
    write(word, false, false);
    set_ = false;
    write(value, true, true);
}

void Encoder::header(uint8_t type, bool x, uint32_t fixed_bits) {
    const bool shared = shared_pending_;
    shared_pending_ = false;
    if (compact_) {
        if (new_line_) byte(PREFIX_NEW_LINE);
        if (shared) byte(PREFIX_SHARED);
        if (set_) byte(PREFIX_SET);
        const uint8_t flag = x ? EXTRA_FLAG : 0;
        if (type < TYPE_ESCAPE) {
            byte(type | flag);
        } else {
            byte(TYPE_ESCAPE | flag);
            put_varint(records_, type);
        }
    } else {
        // Doubles start on a multiple of 8 bytes of the records area.
        if (is_float_record(type) && records_.size() % 8 != 0) u32(0);
        uint32_t word = type | fixed_bits;
        if (new_line_) word |= FIXED_NEW_LINE;
        if (shared) word |= FIXED_SHARED;
        if (set_) word |= FIXED_SET;
        u32(word);
    }
    new_line_ = false;
    set_ = false;
}

void Encoder::header_byte(uint8_t b) {
    if (new_line_) byte(PREFIX_NEW_LINE);
    new_line_ = false;
    byte(b);
}

void Encoder::uint(uint32_t v) {
    if (compact_) put_varint(records_, v);
    else u32(v);
}

void Encoder::sint(int32_t v) {
    if (compact_) put_varint(records_, zigzag(v));
    else u32(uint32_t(v));
}

void Encoder::bytes(const uint8_t* p, size_t n) {
    records_.insert(records_.end(), p, p + n);
    if (!compact_)
        while (records_.size() % 4) records_.push_back(0);
}

void Encoder::head(int32_t head, bool x) {
    if (!compact_ || x) uint(uint32_t(head));
}

void Encoder::path() {
    const std::vector<uint32_t>& steps = *shared_path_;
    if (!compact_) u32(FIXED_REFERENCE);
    uint(uint32_t(steps.size()));
    for (uint32_t s : steps) uint(s);
}

uint32_t Encoder::symbol(uint32_t id) {
    auto [it, added] = symbol_index_.emplace(id, uint32_t(symbols_.size()));
    if (added) {
        symbols_.push_back(id);
        const std::string_view name = symbol_name(id);
        offsets_.push_back(uint32_t(names_.size()));
        names_.insert(names_.end(), name.begin(), name.end());
        names_.push_back(0);
        if (!compact_)
            while (names_.size() % 8) names_.push_back(0);
    }
    return it->second;
}

std::vector<uint8_t> Encoder::finish(uint8_t version, bool compress) {
    const bool symbols = !symbols_.empty();
    std::vector<uint8_t> body;
    auto count = [&](uint32_t v) {
        if (compact_) put_varint(body, v);
        else put_u32(body, v);
    };
    count(roots_);
    count(uint32_t(records_.size()));
    if (symbols) {
        count(uint32_t(symbols_.size()));
        count(uint32_t(names_.size()));
        for (uint32_t off : offsets_) put_u32(body, off);
        body.insert(body.end(), names_.begin(), names_.end());
    }
    body.insert(body.end(), records_.begin(), records_.end());

    std::vector<uint8_t> out(MAGIC, MAGIC + sizeof MAGIC);
    out.push_back(version);
    uint8_t flags = compact_ ? FLAG_COMPACT : 0;
    if (symbols) flags |= FLAG_SYMBOLS;
    if (compress && body.size() <= UINT32_MAX) {
        std::vector<uint8_t> packed(body.size());
        const int64_t n = pack::pack(body.data(), uint32_t(body.size()), packed.data());
        if (n > 0) {
            packed.resize(size_t(n));
            body.swap(packed);
            flags |= FLAG_COMPRESSED;
        }
    }
    out.push_back(flags);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Cell* encode(const Cell* value, bool compact, Cell* out) {
    codec_mode = true;
    Encoder e(compact, false);
    e.root(*value);
    const std::vector<uint8_t> bytes = e.finish(VERSION, false);
    return binary_load_at(bytes.data(), uint32_t(bytes.size()), out);
}

} // namespace kem::kembin
