#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "extract/row_reader.h"
#include "textio/editors.h"
#include "textio/layout.h"
#include "textio/record_read.h"
#include "textio/source.h"

namespace extract {
namespace {

TEST(MakeRowfmt, WritesSkipAndCountIntoTheBlankSlots) {
    struct Row {
        int32_t ilon1, ilon2;
        std::string text;
    };
    const Row rows[] = {
        {1, 1, "(   1(f6.2,1x))"},
        {1, 12, "(  12(f6.2,1x))"},
        {1, 144, "( 144(f6.2,1x))"},
        {2, 2, "(     7x,   1(f6.2,1x))"},
        {33, 37, "(   224x,   5(f6.2,1x))"},
        {34, 37, "(   231x,   4(f6.2,1x))"},
        {35, 37, "(   238x,   3(f6.2,1x))"},
        {36, 37, "(   245x,   2(f6.2,1x))"},
        {37, 37, "(   252x,   1(f6.2,1x))"},
        {2, 144, "(     7x, 143(f6.2,1x))"},
        {144, 144, "(  1001x,   1(f6.2,1x))"},
    };
    for (const Row& row : rows) {
        const std::string rowfmt = make_rowfmt(row.ilon1, row.ilon2);
        EXPECT_EQ(rowfmt, row.text + std::string(40 - row.text.size(), ' ')) << row.ilon1 << ".." << row.ilon2;
    }
}

// A full row of 144 distinct fields, each in its 7 columns.
std::string plain_row() {
    std::string row;
    for (int32_t i = 1; i <= 144; ++i) {
        textio::edit_real(row, static_cast<float>(i * 13 % 900) / 100.0f - 3.0f, 6, 2);
        row += ' ';
    }
    return row;
}

std::string with_field(std::string row, int32_t i, const std::string& field) {
    row.replace(static_cast<size_t>(7 * (i - 1)), field.size(), field);
    return row;
}

// What the layout alone makes of a row, with the short-row rule applied.
bool reference(std::string_view row, int32_t ilon1, int32_t ilon2, std::vector<float>& out) {
    if (row.size() < static_cast<size_t>(7 * ilon2 - 1)) return false;
    const textio::Layout layout(make_rowfmt(ilon1, ilon2));
    std::vector<textio::InTarget> targets;
    for (float& v : out) targets.emplace_back(v);
    return textio::read_record(row, layout, targets) == textio::ReadStatus::ok;
}

TEST(RowReader, ShortcutMatchesTheLayoutOnHostileRows) {
    const std::string base = plain_row();
    struct Row {
        const char* name;
        std::string raw;  // before carriage returns are dropped and tabs expanded
    };
    const Row rows[] = {
        {"plain", base},
        {"without the last separator", base.substr(0, base.size() - 1)},
        {"one character short", base.substr(0, base.size() - 2)},
        {"half a row", base.substr(0, 500)},
        {"empty", ""},
        {"very long", base + std::string(5000, '7') + "abc"},
        {"crlf", base + "\r"},
        {"cr inside fields", with_field(base, 35, " 1\r.25 ")},
        {"comma ends a field early", with_field(base, 35, "1.5,   ")},
        {"comma in a separator", with_field(base, 35, "  1.25,")},
        {"comma in the skipped columns", with_field(base, 3, ",,,,,,,")},
        {"comma at the start of a field", with_field(base, 36, ",2.5   ")},
        {"tab inside a field", with_field(base, 35, "\t1.2   ")},
        {"tab in the skipped columns", with_field(base, 2, "\t")},
        {"blanks inside a field", with_field(base, 35, "1 2.3 ")},
        {"implied decimals", with_field(base, 35, " -9990")},
        {"implied decimals, short", with_field(base, 36, "     5")},
        {"all blanks", with_field(base, 37, "      ")},
        {"exponent", with_field(base, 35, "1.2e1 ")},
        {"bare sign exponent", with_field(base, 35, "1.5-1 ")},
        {"exponent without digits", with_field(base, 35, "  1.e ")},
        {"point alone", with_field(base, 35, "   .  ")},
        {"sign alone", with_field(base, 35, "    - ")},
        {"second point", with_field(base, 35, "1.2.3 ")},
        {"letters in a box field", with_field(base, 36, " abc  ")},
        {"letters in the last field", with_field(base, 144, "  x   ")},
        {"letters outside the box", with_field(base, 40, "ABCDEF")},
        {"nul byte in a field", with_field(base, 35, std::string("  1\0 5", 6))},
        {"missing marker", with_field(base, 35, "-99.90")},
        {"overflowed field", with_field(base, 35, "******")},
        {"a run of one text, then implied decimals",
         with_field(with_field(with_field(base, 35, "-99.90 -99.90 -99.90"), 38, " -9990"), 39, "-99.90")},
        {"a run of one text, then a comma", with_field(with_field(base, 35, "  1.25   1.25   1.25"), 38, "1.25,  ")},
        {"leading zeros and a bare point", with_field(base, 35, "001.50 -01.50   .05  -.50")},
    };
    const int32_t boxes[][2] = {{1, 144}, {1, 1}, {33, 37}, {35, 35}, {36, 40}, {38, 39}, {144, 144}};
    for (const Row& row : rows) {
        textio::StringSource source(row.raw + "\n");
        const std::string cleaned(*source.next());
        for (const auto& b : boxes) {
            RowReader reader(b[0], b[1]);
            std::vector<float> fast(static_cast<size_t>(reader.count()), -1.0f);
            std::vector<float> slow(fast.size(), -1.0f);
            const bool fast_ok = reader.read(cleaned, fast.data());
            const bool slow_ok = reference(cleaned, b[0], b[1], slow);
            ASSERT_EQ(fast_ok, slow_ok) << row.name << " box " << b[0] << ".." << b[1];
            if (!fast_ok) continue;
            for (size_t k = 0; k < fast.size(); ++k) {
                EXPECT_EQ(std::bit_cast<uint32_t>(fast[k]), std::bit_cast<uint32_t>(slow[k]))
                    << row.name << " box " << b[0] << ".." << b[1] << " value " << k + 1;
            }
        }
    }
}

TEST(RowReader, ReadsTheBoxColumnsOnly) {
    std::string row = with_field(plain_row(), 33, " -9990");
    row = with_field(row, 34, "-99.90");
    row = with_field(row, 35, "  1.25");
    row = with_field(row, 36, "     7");
    row = with_field(row, 32, "letter");
    row = with_field(row, 38, "letter");
    RowReader reader(33, 37);
    std::vector<float> values(5);
    ASSERT_TRUE(reader.read(row, values.data()));
    EXPECT_EQ(values[0], -99.9f);
    EXPECT_EQ(values[1], -99.9f);
    EXPECT_EQ(values[2], 1.25f);
    EXPECT_EQ(values[3], 0.07f);
    // The row must reach the end of the last box field, 7 * 37 - 1 columns.
    EXPECT_TRUE(reader.read(std::string_view(row).substr(0, 258), values.data()));
    EXPECT_FALSE(reader.read(std::string_view(row).substr(0, 257), values.data()));
}

}  // namespace
}  // namespace extract
