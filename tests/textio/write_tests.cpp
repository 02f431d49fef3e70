// Formatted and free-form writes: the walk of a layout, record ends, and
// writes into a character buffer.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "textio/layout.h"
#include "textio/sink.h"

namespace {

using textio::Layout;
using textio::OutValue;

std::string written(const char* layout, const std::vector<OutValue>& values) {
    textio::StringSink sink;
    sink.write(Layout(layout), values);
    return sink.text();
}

std::vector<OutValue> gpt_and_reals(int32_t gpt, int32_t n) {
    std::vector<OutValue> v{gpt};
    for (int32_t k = 1; k <= n; ++k) v.emplace_back(static_cast<float>(k) + 0.5f);
    return v;
}

TEST(Write, Layouts) {
    struct Row { const char* name; const char* layout; std::vector<OutValue> values; std::string expected; };
    const std::string reals10_1 = "   1.50   2.50   3.50   4.50   5.50   6.50   7.50   8.50   9.50  10.50";
    const std::string reals10_2 = "  11.50  12.50  13.50  14.50  15.50  16.50  17.50  18.50  19.50  20.50";
    const Row rows[] = {
        {"reversion to the last outer group", "(1x,'gpt',i5,1x,10f7.2/(10x,10f7.2))", gpt_and_reals(3, 25),
         " gpt    3 " + reals10_1 + "\n          " + reals10_2 +
             "\n            21.50  22.50  23.50  24.50  25.50\n"},
        // The "/" after the last value is still carried out: an empty line.
        {"values end before a slash", "(1x,'gpt',i5,1x,10f7.2/(10x,10f7.2))", gpt_and_reals(3, 10),
         " gpt    3 " + reals10_1 + "\n\n"},
        {"reversion to the start", "(i3)", {1, 2, 3}, "  1\n  2\n  3\n"},
        {"reversion restarts the group count", "(1x,'h',(2i2))", {1, 2, 3, 4, 5}, " h 1 2\n 3 4\n 5\n"},
        {"text after the last value", "(20x,i8,' Grids Extracted')", {12},
         "                          12 Grids Extracted\n"},
        {"no values stop at the first field", "('Months  ',1000i7)", {}, "Months  \n"},
        {"values stop inside a repeat", "('Months  ',1000i7)", {1, 2}, "Months        1      2\n"},
        {"empty line then equals", "(/1x,72('='))", {}, "\n " + std::string(72, '=') + "\n"},
        {"slashes around text", "(/12x,'Hit return to CONTINUE',/)", {}, "\n            Hit return to CONTINUE\n\n"},
        {"prompt stays open", "(/10x,'Enter first year to extract [>',i4,'<',i4,'] : ',$)", {1850, 2010},
         "\n          Enter first year to extract [>1850<2010] : "},
        {"year record", "(1x,i4,12(1x,f6.2))",
         {1850, 0.125f, -0.125f, -99.9f, 0.f, 1.f, 2.f, 3.f, 4.f, 5.f, 6.f, 7.f, 1000.f},
         " 1850   0.13  -0.13 -99.90   0.00   1.00   2.00   3.00   4.00   5.00   6.00   7.00 ******\n"},
        {"doubled quote", "('it''s',\"a \"\"b\"\"\")", {}, "it'sa \"b\"\n"},
        {"repeated text", "(3('ab'),2'c')", {}, "abababcc\n"},
        {"blanks and case do not matter", "( 1 X , I 3 , F 6 . 2 )", {5, 1.5f}, "   5  1.50\n"},
        {"trailing skip does not lengthen", "(i2,5x)", {1}, " 1\n"},
        {"skip then text leaves blanks", "(i2,3x,'z')", {1}, " 1   z\n"},
        {"column moves right with blanks", "('ab',t6,'c')", {}, "ab   c\n"},
        {"column moves left and overwrites", "('abcdef',t2,'XY')", {}, "aXYdef\n"},
        {"column left then field", "('abcdef',t5,i4)", {12}, "abcd  12\n"},
        {"first character is text", "(i1)", {0}, "0\n"},
        {"A whole text", "(a,'|')", {"MonthlyPDSI.tsf          "}, "MonthlyPDSI.tsf          |\n"},
        {"Aw right-aligns", "(a6,'|')", {"abc"}, "   abc|\n"},
        {"Aw keeps the first w", "(a2,'|')", {"abc"}, "ab|\n"},
        {"nested groups", "(2(i1,2(1x,i1)),'.')", {1, 2, 3, 4, 5, 6}, "1 2 34 5 6.\n"},
        {"run-time count", "( 144(f6.2,1x))", {1.0f, 2.0f}, "  1.00   2.00\n"},
        {"run-time skip and count", "(   224x,  5(f6.2,1x))", {1.0f}, std::string(224, ' ') + "  1.00\n"},
        {"slash in the middle", "(i1/i1)", {1, 2}, "1\n2\n"},
        {"repeated slash", "(i1,2/i1)", {1, 2}, "1\n\n2\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(written(row.layout, row.values), row.expected);
    }
}

TEST(Write, PromptThenNextWriteFollowsInTheStream) {
    textio::StringSink sink;
    sink.write(Layout("(1x,'Answer : ',$)"), {});
    sink.write(Layout("(/1x,'next')"), {});
    EXPECT_EQ(sink.text(), " Answer : \n next\n");
}

TEST(Write, FreeForm) {
    struct Row { const char* name; std::vector<OutValue> values; std::string expected; };
    const Row rows[] = {
        {"integers in 12", {OutValue(int32_t{1}), OutValue(int32_t{-20})}, "            1         -20\n"},
        {"no values", {}, " \n"},
        {"text unchanged", {OutValue("ab "), OutValue(int32_t{5})}, " ab            5\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        textio::StringSink sink;
        sink.write_free(row.values);
        EXPECT_EQ(sink.text(), row.expected);
    }
}

TEST(Write, IntoCharacterBuffer) {
    struct Row { const char* name; std::string before; size_t at, len; const char* layout; std::vector<OutValue> values; std::string after; };
    const Row rows[] = {
        {"count into a run-time layout", "(    (f6.2,1x))", 1, 4, "(i4)", {144}, "( 144(f6.2,1x))"},
        {"skip into a run-time layout", "(      x,    (f6.2,1x))", 1, 6, "(i6)", {224}, "(   224x,    (f6.2,1x))"},
        {"rest of the slice blanked", "xxxxxxxx", 0, 8, "('ab')", {}, "ab      "},
        {"too long is cut", "xxxx", 0, 2, "(i5)", {12345}, "12xx"},
        {"only the first record", "xxxxxx", 0, 6, "(i1/i1)", {1, 2}, "1     "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string text = row.before;
        textio::write_into(std::span<char>(text.data() + row.at, row.len), Layout(row.layout), row.values);
        EXPECT_EQ(text, row.after);
    }
    std::string rowfmt = "(      x,    (f6.2,1x))";
    textio::write_into(std::span<char>(rowfmt.data() + 1, 6), Layout("(i6)"), {224});
    textio::write_into(std::span<char>(rowfmt.data() + 10, 3), Layout("(i3)"), {5});
    EXPECT_EQ(rowfmt, "(   224x,   5(f6.2,1x))");
    EXPECT_EQ(written(rowfmt.c_str(), {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}),
              std::string(224, ' ') + "  1.00   2.00   3.00   4.00   5.00\n  6.00\n");
}

TEST(Layout, CompilesOnceIntoFlatItems) {
    Layout layout("(1x,'gpt',i5,1x,10f7.2/(10x,10f7.2))");
    const auto& items = layout.items();
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[1].text, "gpt");
    EXPECT_EQ(items[4].kind, textio::LayoutItem::Field);
    EXPECT_EQ(items[4].count, 10);
    EXPECT_EQ(items[4].field.width, 7);
    EXPECT_EQ(items[4].field.digits, 2);
    EXPECT_EQ(layout.reversion_index(), 6);
    EXPECT_EQ(items[6].partner, 9);
    EXPECT_EQ(items[9].partner, 6);
    EXPECT_TRUE(layout.has_fields());
    EXPECT_FALSE(Layout("(/1x,72('='))").has_fields());
}

TEST(Layout, MalformedLayoutsThrow) {
    struct Row { const char* name; const char* layout; };
    const Row rows[] = {
        {"no parenthesis", "i4"},
        {"not closed", "(i4"},
        {"unclosed quote", "('abc)"},
        {"unknown item", "(z4)"},
        {"I without width", "(i)"},
        {"text after close", "(i4)x"},
        {"count alone", "(3)"},
        {"nested too deep", "((((((((((((((((((((((i1))))))))))))))))))))))"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(Layout{row.layout}, std::invalid_argument);
    }
    EXPECT_NO_THROW(Layout("(((((((((((((((((((((i1)))))))))))))))))))))"));
    EXPECT_NO_THROW(Layout("(    (f6.2,1x))                         "));
}

}  // namespace
