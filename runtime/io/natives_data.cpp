// Natives over byte data: checksum, compress, decompress.
#include <algorithm>
#include <vector>
#include "runtime/io/natives_data.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/natives.h"
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"
#include "runtime/io/simple_io.h"
#include "runtime/services/output.h"

namespace kem {

namespace {

// The bytes a value stands for: a binary's from its position, a text's as
// UTF-8 from its position, or (when asked) a file's content. Texts and files
// are copied out; a binary's bytes are found again through its cell, since
// making the result may move them.
class DataBytes {
public:
    DataBytes(const Cell* value, bool read_file) : value_(*value) {
        if (is_type(value, TYPE_BINARY)) return;
        binary_ = false;
        if (read_file && is_type(value, TYPE_FILE)) {
            copy_ = simple_io_read_bytes(value);
        } else {
            copy_ = binary_text_bytes(value);
        }
    }
    // Good until the next allocation; never null.
    const uint8_t* data() {
        static const uint8_t none = 0;
        if (size() == 0) return &none;
        return binary_ ? binary_rs_head(&value_) : copy_.data();
    }
    size_t size() const { return binary_ ? size_t(binary_rs_length(&value_)) : copy_.size(); }

private:
    Cell value_;
    bool binary_ = true;
    std::vector<uint8_t> copy_;
};

inline bool names(const Cell* word, uint32_t symbol) { return symbol_resolve(word->data2) == symbol_resolve(symbol); }

// --- checksum -------------------------------------------------------------------------------

// The digest index of a method word (as the digest functions number them):
// 0 tcp, 1 crc32, 2..6 the digests; -1 adler32, -2 hash, -3 not a method.
int checksum_method(const Cell* word) {
    const std::pair<uint32_t, int> methods[] = {
        {rt_symbols.tcp, 0},    {rt_symbols.crc32, 1},  {rt_symbols.md5, 2},     {rt_symbols.sha1, 3},
        {rt_symbols.sha256, 4}, {rt_symbols.sha384, 5}, {rt_symbols.sha512, 6},  {rt_symbols.adler32, -1},
        {rt_symbols.hash, -2},
    };
    for (const auto& [symbol, index] : methods)
        if (names(word, symbol)) return index;
    return -3;
}

void native_checksum(const int32_t* refinements) {
    Cell* args = stack::arguments;
    const int32_t with_at = refinements[native_ref(NAT_CHECKSUM, "with")];
    const Cell* spec = with_at >= 0 ? args + with_at : nullptr;
    const uint8_t data_type = type_of(&args[0]);
    if (data_type != TYPE_BINARY && data_type != TYPE_STRING && data_type != TYPE_FILE)
        fire(Err::script_invalid_arg, args[0]);
    const Cell method = args[1];
    const int index = is_type(&method, TYPE_WORD) ? checksum_method(&method) : -3;
    if (index == -3) fire(Err::script_invalid_arg, method);
    const bool plain = index == 0 || index == 1 || index == -1;
    if (plain && spec) fire(Err::script_invalid_refine_arg, rt_refinements.with, method);
    if (index == -2 && !spec) fire(Err::script_invalid_refine_arg, rt_refinements.with, method);
    if (spec && !is_type(spec, TYPE_STRING) && !is_type(spec, TYPE_BINARY) && !is_type(spec, TYPE_INTEGER))
        fire(Err::script_invalid_arg, *spec);
    if (spec && index == -2 && !is_type(spec, TYPE_INTEGER))
        fire(Err::script_invalid_refine_arg, rt_refinements.with, *spec);

    DataBytes data(&args[0], true);
    Cell* result = &args[0];
    stack::top = args + 1;
    if (plain) {
        const uint32_t sum = index == 0   ? checksum_tcp(data.data(), data.size())
                             : index == 1 ? checksum_crc32(data.data(), data.size())
                                          : checksum_adler32(data.data(), data.size());
        make_integer(result, int32_t(sum));
        return;
    }
    if (spec && is_type(spec, TYPE_INTEGER)) {
        write_utf8("** /hash support not yet implemented; algorithm TBD.", true);
        make_integer(result, 0);
        return;
    }
    uint8_t digest[DIGEST_MAX_SIZE];
    if (spec) {
        DataBytes key(spec, false);
        checksum_hmac(data.data(), data.size(), key.data(), key.size(), index, digest);
    } else {
        checksum_digest(data.data(), data.size(), index, digest);
    }
    binary_load_at(digest, uint32_t(checksum_digest_size(index)), result);
}

// --- compress, decompress -------------------------------------------------------------------

using Worker = CompressStatus (*)(uint8_t*, int32_t*, const uint8_t*, size_t);

// The worker of a method word, by the method symbol's canonical spelling;
// script invalid-arg for any other word.
Worker pick_worker(const Cell* method, Worker zlib, Worker deflate, Worker gzip) {
    if (is_type(method, TYPE_WORD)) {
        if (names(method, rt_symbols.zlib)) return zlib;
        if (names(method, rt_symbols.deflate)) return deflate;
        if (names(method, rt_symbols.gzip)) return gzip;
    }
    fire(Err::script_invalid_arg, *method);
}

// Runs the worker into a new binary of `capacity` bytes, once more with the
// size it asks for when that was too small; the binary goes to the current
// call's result. Script invalid-data for any other failure.
void fill_result(Worker worker, DataBytes& data, uint64_t capacity) {
    Cell* out = stack::push_slot();
    for (int attempt = 0; attempt < 2; attempt++) {
        const int32_t room = int32_t(std::min(capacity, COMPRESS_MAX_OUTPUT));
        binary_make_at(out, uint32_t(room));
        SeriesBuffer* b = series_buffer(out);
        int32_t size = room;
        const CompressStatus s = worker(b->head_ptr(), &size, data.data(), data.size());
        if (s == CompressStatus::done) {
            b->tail = b->head + uint32_t(size);
            stack::arguments[0] = *out;
            stack::top = stack::arguments + 1;
            return;
        }
        if (s != CompressStatus::too_small) break;
        capacity = uint64_t(size);
    }
    fire(Err::script_invalid_data);
}

void native_compress(const int32_t* refinements) {
    Cell* args = stack::arguments;
    if (!is_type(&args[0], TYPE_BINARY) && !any_string_type(type_of(&args[0])))
        fire_expect_arg_type(type_of(&args[0]), 0);
    const Worker worker = pick_worker(&args[1], compress_zlib, compress_deflate, compress_gzip);
    DataBytes data(&args[0], false);
    fill_result(worker, data, uint64_t(data.size()) + 32);
}

void native_decompress(const int32_t* refinements) {
    Cell* args = stack::arguments;
    if (!is_type(&args[0], TYPE_BINARY)) fire_expect_arg_type(type_of(&args[0]), 0);
    const Worker worker = pick_worker(&args[1], compress_unzlib, compress_inflate, compress_gunzip);
    const int32_t size_at = refinements[native_ref(NAT_DECOMPRESS, "size")];
    DataBytes data(&args[0], false);
    // A stated size larger than the input is taken as it stands; otherwise one
    // pass that only counts gives the size (gzip reads it from its trailer).
    int64_t capacity = size_at >= 0 && is_type(args + size_at, TYPE_INTEGER) ? cell_int(args + size_at) : 0;
    if (worker == compress_gunzip || capacity <= int64_t(data.size())) {
        int32_t size = 0;
        const CompressStatus s = worker(nullptr, &size, data.data(), data.size());
        if (s != CompressStatus::done && s != CompressStatus::too_small) fire(Err::script_invalid_data);
        capacity = size;
    }
    fill_result(worker, data, uint64_t(capacity));
}

} // namespace

void register_data_natives() {
    native_register(NAT_CHECKSUM, native_checksum);
    native_register(NAT_COMPRESS, native_compress);
    native_register(NAT_DECOMPRESS, native_decompress);
}

} // namespace kem
