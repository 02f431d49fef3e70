// Formatted reads of arbitrary lines by every input layout the program
// uses: the answers to the number questions, the one-character wait, the
// header position and year records of the extraction files, and the grid
// row layout built at run time. The first two bytes pick the row's box.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "extract/row_reader.h"
#include "fuzz/support.h"
#include "textio/record_read.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

template <class T, size_t N>
std::vector<textio::InTarget> targets(std::array<T, N>& values) {
    return std::vector<textio::InTarget>(values.begin(), values.end());
}

// A one-record layout takes exactly one line per read, and reads it from
// the source as it reads the same line held in a buffer.
template <class T, size_t N>
void read_lines(std::string_view text, const textio::Layout& layout) {
    textio::StringSource in{std::string(text)};
    textio::StringSource lines{std::string(text)};
    for (;;) {
        std::array<T, N> a{}, b{};
        const textio::ReadStatus from_source = textio::read(in, layout, targets(a));
        const auto line = lines.next();
        if (from_source == textio::ReadStatus::end) {
            if (line) fail("read ended before the input did");
            return;
        }
        if (!line) fail("read went past the end of the input");
        const textio::ReadStatus from_buffer = textio::read_record(*line, layout, targets(b));
        if (from_source != from_buffer) fail("source and buffer reads differ in status");
        if (from_source == textio::ReadStatus::ok && std::memcmp(&a, &b, sizeof a) != 0) {
            fail("source and buffer reads differ in value");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t ilon1 = 1 + data[0] % 144;
    const int32_t ilon2 = ilon1 + data[1] % (145 - ilon1);
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    static const textio::Layout year("(i4)");
    static const textio::Layout coordinate("(f8.1)");
    static const textio::Layout fraction("(f8.3)");
    static const textio::Layout position("(f9.2,f8.2)");
    static const textio::Layout one_character("(a1)");
    static const textio::Layout year_record("(5x,12f7.2)");

    read_lines<int32_t, 1>(text, year);
    read_lines<float, 1>(text, coordinate);
    read_lines<float, 1>(text, fraction);
    read_lines<float, 2>(text, position);

    const size_t lines = fuzz::count_lines(text);
    {
        textio::StringSource in{std::string(text)};
        std::string c(1, ' ');
        for (size_t reads = 1; textio::read(in, one_character, {c}) != textio::ReadStatus::end; ++reads) {
            fuzz::check_progress(reads, lines);
            if (c.size() != 1) fail("A1 changed the length of its variable");
        }
    }
    {
        // Two years of months, the way the data file's cells are read.
        textio::StringSource in{std::string(text)};
        std::array<float, 24> months{};
        for (size_t reads = 1; textio::read(in, year_record, targets(months)) != textio::ReadStatus::end; ++reads) {
            fuzz::check_progress(reads, lines);
        }
    }

    // The row reader's shortcut must give what its layout gives.
    extract::RowReader rows(ilon1, ilon2);
    std::vector<float> fast(static_cast<size_t>(rows.count())), slow(fast.size());
    textio::StringSource in{std::string(text)};
    while (const auto line = in.next()) {
        const bool a = rows.read(*line, fast.data());
        const bool b = rows.read_by_layout(*line, slow.data());
        if (a != b) fail("row shortcut and row layout disagree on success");
        if (a && std::memcmp(fast.data(), slow.data(), fast.size() * sizeof(float)) != 0) {
            fail("row shortcut and row layout read different values");
        }
    }
    return 0;
}
