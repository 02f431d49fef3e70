// Formatted reads of arbitrary lines by every input layout the program
// uses: the answers to the number questions, the one-character wait, the
// header position and year records of the extraction files, and the grid
// row layout built at run time. The first two bytes pick the row's box.
#include <cmath>
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

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// Reads the whole text, one read after another, as the callers do.
template <class Targets>
void read_all(std::string_view text, const textio::Layout& layout, Targets make_targets) {
    textio::StringSource in{std::string(text)};
    const size_t lines = fuzz::count_lines(text);
    for (size_t reads = 1;; ++reads) {
        fuzz::check_progress(reads, lines);
        if (textio::read(in, layout, make_targets()) == textio::ReadStatus::end) break;
    }
}

// A one-record layout reads a line the same from a source as from a buffer.
template <class T>
void compare_sources(std::string_view line, const textio::Layout& layout) {
    T a{}, b{};
    textio::StringSource in{std::string(line) + "\n"};
    const textio::ReadStatus from_source = textio::read(in, layout, {a});
    const textio::ReadStatus from_buffer = textio::read_record(line, layout, {b});
    if (from_source != from_buffer) fail("source and buffer reads differ in status");
    if (from_source == textio::ReadStatus::ok && std::memcmp(&a, &b, sizeof a) != 0) {
        fail("source and buffer reads differ in value");
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
    static const textio::Layout one_character("(a1)");
    static const textio::Layout position("(f9.2,f8.2)");
    static const textio::Layout year_record("(5x,12f7.2)");

    int32_t i = 0;
    float x = 0.0f, y = 0.0f;
    std::string c(1, ' ');
    read_all(text, year, [&] { return std::vector<textio::InTarget>{i}; });
    read_all(text, coordinate, [&] { return std::vector<textio::InTarget>{x}; });
    read_all(text, fraction, [&] { return std::vector<textio::InTarget>{x}; });
    read_all(text, one_character, [&] { return std::vector<textio::InTarget>{c}; });
    read_all(text, position, [&] { return std::vector<textio::InTarget>{y, x}; });
    if (c.size() != 1) fail("A1 changed the length of its variable");

    // Two years of months, the way the data file's cells are read.
    std::vector<float> months(24);
    read_all(text, year_record, [&] { return std::vector<textio::InTarget>(months.begin(), months.end()); });

    // The row reader's shortcut must give what its layout gives.
    extract::RowReader rows(ilon1, ilon2);
    std::vector<float> fast(static_cast<size_t>(rows.count())), slow(fast.size());
    textio::StringSource in{std::string(text)};
    while (const auto line = in.next()) {
        compare_sources<int32_t>(*line, year);
        compare_sources<float>(*line, coordinate);
        compare_sources<float>(*line, fraction);
        const bool a = rows.read(*line, fast.data());
        const bool b = rows.read_by_layout(*line, slow.data());
        if (a != b) fail("row shortcut and row layout disagree on success");
        if (a) {
            for (size_t k = 0; k < fast.size(); ++k) {
                if (!same_bits(fast[k], slow[k])) fail("row shortcut and row layout read different values");
            }
        }
    }
    return 0;
}
