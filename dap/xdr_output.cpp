#include "dap/xdr_output.h"

#include <libdap/InternalErr.h>
#include <libdap/Vector.h>

#include <algorithm>
#include <cstring>

namespace dap::detail {

namespace {

template <class Word>
void append_big_endian(std::string& out, Word word) {
    if constexpr (sizeof(Word) == 4) word = __builtin_bswap32(word);
    else word = __builtin_bswap64(word);
    char bytes[sizeof(Word)];
    std::memcpy(bytes, &word, sizeof word);
    out.append(bytes, sizeof bytes);
}

// `count` words of `Word` from `values`, swapped through a small buffer:
// appending copies without first zeroing what a resize would.
template <class Word>
void append_all_big_endian(std::string& out, const char* values, size_t count) {
    constexpr size_t kChunk = 4096;
    Word swapped[kChunk];
    for (size_t done = 0; done < count; done += kChunk) {
        const size_t n = std::min(kChunk, count - done);
        std::memcpy(swapped, values + done * sizeof(Word), n * sizeof(Word));
        for (size_t k = 0; k < n; ++k) {
            if constexpr (sizeof(Word) == 4) swapped[k] = __builtin_bswap32(swapped[k]);
            else swapped[k] = __builtin_bswap64(swapped[k]);
        }
        out.append(reinterpret_cast<const char*>(swapped), n * sizeof(Word));
    }
}

}  // namespace

void XdrOutput::put_u32(uint32_t value) { append_big_endian(out_, value); }

void XdrOutput::put_float32(libdap::dods_float32 value) {
    uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    append_big_endian(out_, word);
}

void XdrOutput::put_float64(libdap::dods_float64 value) {
    uint64_t word;
    std::memcpy(&word, &value, sizeof word);
    append_big_endian(out_, word);
}

void XdrOutput::pad(size_t length) {
    if (length % 4) out_.append(4 - length % 4, '\0');
}

void XdrOutput::put_str(const std::string& value) {
    put_u32(static_cast<uint32_t>(value.size()));
    out_ += value;
    pad(value.size());
}

void XdrOutput::put_opaque(char* value, unsigned int length) {
    out_.append(value, length);
    pad(length);
}

void XdrOutput::put_floats(const float* values, uint64_t count) {
    append_all_big_endian<uint32_t>(out_, reinterpret_cast<const char*>(values), count);
}

// Bytes: the count, then XDR's own counted, padded bytes.
void XdrOutput::put_vector(char* values, int count, libdap::Vector&) {
    put_u32(static_cast<uint32_t>(count));
    put_u32(static_cast<uint32_t>(count));
    out_.append(values, static_cast<size_t>(count));
    pad(static_cast<size_t>(count));
}

// The count twice (libdap's, then XDR's array length), then the values.
void XdrOutput::put_vector(char* values, int count, int width, libdap::Vector& vector) {
    put_u32(static_cast<uint32_t>(count));
    put_u32(static_cast<uint32_t>(count));
    const auto n = static_cast<size_t>(count);
    switch (vector.var()->type()) {
        case libdap::dods_float32_c:
        case libdap::dods_int32_c:
        case libdap::dods_uint32_c:
            append_all_big_endian<uint32_t>(out_, values, n);
            return;
        case libdap::dods_float64_c:
            append_all_big_endian<uint64_t>(out_, values, n);
            return;
        default:
            throw libdap::InternalErr(__FILE__, __LINE__,
                                      "no XDR encoding here for values of width " + std::to_string(width));
    }
}

}  // namespace dap::detail
