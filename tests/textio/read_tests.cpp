// Formatted and free-form reads, line sources and read statuses.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "textio/errors.h"
#include "textio/record_read.h"
#include "textio/source.h"

namespace {

using textio::InTarget;
using textio::Layout;
using textio::ReadStatus;
using textio::StringSource;

TEST(Read, IntegerFields) {
    struct Row { const char* name; std::string input; ReadStatus status; int32_t expected; };
    const Row rows[] = {
        {"four digits", "1950\n", ReadStatus::ok, 1950},
        {"longer than the field", "19500\n", ReadStatus::ok, 1950},
        {"blanks around", " 19 \n", ReadStatus::ok, 19},
        {"blank inside", "19 5\n", ReadStatus::ok, 195},
        {"empty line", "\n", ReadStatus::ok, 0},
        {"bad character", "19a0\n", ReadStatus::error, -1},
        {"comma ends early", "19,5\n", ReadStatus::ok, 19},
        {"CRLF", "1950\r\n", ReadStatus::ok, 1950},
        {"CR inside", "19\r50\n", ReadStatus::ok, 1950},
        {"tab expands to blanks", "\t1950\n", ReadStatus::ok, 0},
        {"last line without line feed", "1950", ReadStatus::ok, 1950},
        {"no input", "", ReadStatus::end, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringSource in(row.input);
        int32_t v = -1;
        EXPECT_EQ(textio::read(in, Layout("(i4)"), {v}), row.status);
        EXPECT_EQ(v, row.expected);
    }
}

TEST(Read, RealFields) {
    struct Row { const char* name; std::string input; ReadStatus status; float expected; };
    const Row rows[] = {
        {"point given", "-100.25\n", ReadStatus::ok, -100.25f},
        {"implied decimal", "45\n", ReadStatus::ok, 4.5f},
        {"comma ends early", "45,5\n", ReadStatus::ok, 4.5f},
        {"trailing point", "30.\n", ReadStatus::ok, 30.0f},
        {"empty line", "\n", ReadStatus::ok, 0.0f},
        {"bad character", "12%\n", ReadStatus::error, -1.0f},
        {"exponent", "1e2\n", ReadStatus::ok, 10.0f},
        {"implied decimal with exponent", "1e39\n", ReadStatus::ok, 1e38f},
        {"coordinate beyond range", "1.0e39\n", ReadStatus::ok, std::numeric_limits<float>::infinity()},
        {"point alone", ".\n", ReadStatus::error, -1.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringSource in(row.input);
        float v = -1.0f;
        EXPECT_EQ(textio::read(in, Layout("(f8.1)"), {v}), row.status);
        EXPECT_EQ(v, row.expected);
    }
}

TEST(Read, RecordsAndPositions) {
    struct Row { const char* name; const char* layout; std::string record; ReadStatus status; std::vector<float> expected; };
    const Row rows[] = {
        {"comma then the skip applies", "(2(f6.2,1x))", "1.25,3.50 ", ReadStatus::ok, {1.25f, 0.50f}},
        {"grid row", "(    3(f6.2,1x))", "-99.90   1.23 -12.50", ReadStatus::ok, {-99.9f, 1.23f, -12.5f}},
        {"row shorter than the layout", "(3(f6.2,1x))", "  1.00", ReadStatus::ok, {1.0f, 0.0f, 0.0f}},
        {"skip then group", "(      7x,    2(f6.2,1x))", "xxxxxxx  1.00   2.00", ReadStatus::ok, {1.0f, 2.0f}},
        {"column", "(t8,f6.2)", "xxxxxxx  4.25", ReadStatus::ok, {4.25f}},
        {"column moves back", "(f6.2,t1,f6.2)", "  4.25", ReadStatus::ok, {4.25f, 4.25f}},
        {"bad field keeps later values", "(3f6.2)", "  1.00  x.00  3.00", ReadStatus::error, {1.0f, -1.0f, -1.0f}},
        {"slash needs a further record", "(f6.2/f6.2)", "  1.00", ReadStatus::end, {1.0f, -1.0f}},
        {"reversion needs a further record", "(f6.2)", "  1.00", ReadStatus::end, {1.0f, -1.0f}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<float> v(row.expected.size(), -1.0f);
        std::vector<InTarget> targets(v.begin(), v.end());
        EXPECT_EQ(textio::read_record(row.record, Layout(row.layout), targets), row.status);
        EXPECT_EQ(v, row.expected);
    }
}

TEST(Read, TextFields) {
    struct Row { const char* name; const char* layout; std::string input; size_t len; std::string expected; };
    const Row rows[] = {
        {"A1 takes the first character", "(a1)", "yes\n", 1, "y"},
        {"A1 of an empty answer is a blank", "(a1)", "\n", 1, " "},
        {"A fills the variable", "(a)", "MonthlyPDSI.tsf\n", 20, "MonthlyPDSI.tsf     "},
        {"A takes as many as it holds", "(a)", "abcdef\n", 3, "abc"},
        {"Aw wider takes the rightmost", "(a6)", "abcdef\n", 2, "ef"},
        {"Aw wider on a short line", "(a6)", "abc\n", 2, "  "},
        {"Aw narrower pads", "(a2)", "abcdef\n", 4, "ab  "},
        {"comma does not end text", "(a5)", "a,b,c\n", 5, "a,b,c"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringSource in(row.input);
        std::string s(row.len, '?');
        EXPECT_EQ(textio::read(in, Layout(row.layout), {s}), ReadStatus::ok);
        EXPECT_EQ(s, row.expected);
    }
}

TEST(Read, EachReadStartsOnANewLine) {
    StringSource in("1 2 3\n4\n\n7\n");
    int32_t a = 0, b = 0;
    EXPECT_EQ(textio::read(in, Layout("(i2)"), {a}), ReadStatus::ok);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(textio::read(in, Layout("(i2)"), {}), ReadStatus::ok);  // consumes "4"
    EXPECT_EQ(textio::read(in, Layout("(i2)"), {a}), ReadStatus::ok);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(textio::read(in, Layout("(i2)"), {a, b}), ReadStatus::end);
    EXPECT_EQ(a, 7);
}

TEST(Read, ErrorDiscardsTheRestOfTheLine) {
    StringSource in("1x 2\n3\n");
    int32_t a = 0, b = 0;
    EXPECT_EQ(textio::read(in, Layout("(2i2)"), {a, b}), ReadStatus::error);
    EXPECT_EQ(textio::read(in, Layout("(i2)"), {a}), ReadStatus::ok);
    EXPECT_EQ(a, 3);
}

TEST(ReadFree, Logicals) {
    struct Row { const char* name; std::string input; ReadStatus status; bool expected; };
    const Row rows[] = {
        {"t", "t\n", ReadStatus::ok, true},
        {"T", "T\n", ReadStatus::ok, true},
        {"dotted", ".true.\n", ReadStatus::ok, true},
        {"True", "True\n", ReadStatus::ok, true},
        {"tRUE", "tRUE\n", ReadStatus::ok, true},
        {"f", "f\n", ReadStatus::ok, false},
        {"no", "no\n", ReadStatus::ok, false},
        {"yes is false", "yes\n", ReadStatus::ok, false},
        {"1 is false", "1\n", ReadStatus::ok, false},
        {"empty lines are skipped", "\n\n   \n  t\n", ReadStatus::ok, true},
        {"leading blanks and a tab", " \t t\n", ReadStatus::ok, true},
        {"CRLF", "t\r\n", ReadStatus::ok, true},
        {"null leaves it", ",t\n", ReadStatus::ok, false},
        {"slash leaves it", "/\n", ReadStatus::ok, false},
        {"end of input", "\n\n", ReadStatus::end, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringSource in(row.input);
        bool v = false;
        EXPECT_EQ(textio::read_free(in, {v}), row.status);
        EXPECT_EQ(v, row.expected);
    }
}

TEST(ReadFree, NumbersRepeatsNullsAndSlash) {
    struct Row { const char* name; std::string input; ReadStatus status; std::vector<float> reals; int32_t n; };
    const Row rows[] = {
        {"as written, no implied point", "-40 1.5 2 8\n", ReadStatus::ok, {-40.0f, 1.5f, 2.0f}, 8},
        {"commas and blanks", "1,2 , 3,9\n", ReadStatus::ok, {1.0f, 2.0f, 3.0f}, 9},
        {"values across lines", "1\n\n2 3\n4", ReadStatus::ok, {1.0f, 2.0f, 3.0f}, 4},
        {"repeat", "3*2.5 1\n", ReadStatus::ok, {2.5f, 2.5f, 2.5f}, 1},
        {"repeat then value", "2*1 7 9\n", ReadStatus::ok, {1.0f, 1.0f, 7.0f}, 9},
        {"null values", "1,,3,4\n", ReadStatus::ok, {1.0f, -1.0f, 3.0f}, 4},
        {"leading null", ",2,3 4\n", ReadStatus::ok, {-1.0f, 2.0f, 3.0f}, 4},
        {"repeated nulls", "2* 3 4\n", ReadStatus::ok, {-1.0f, -1.0f, 3.0f}, 4},
        {"blank after a comma is no null", "1, 2 ,3 ,4\n", ReadStatus::ok, {1.0f, 2.0f, 3.0f}, 4},
        {"null at the end of the list", "1 2 3,,\n", ReadStatus::ok, {1.0f, 2.0f, 3.0f}, -1},
        {"slash ends the read", "1 /2 3\n", ReadStatus::ok, {1.0f, -1.0f, -1.0f}, -1},
        {"value then slash", "1 2/\n", ReadStatus::ok, {1.0f, 2.0f, -1.0f}, -1},
        {"rest of the line discarded", "1 2 3 4 5 6\n", ReadStatus::ok, {1.0f, 2.0f, 3.0f}, 4},
        {"integer of a real", "1 2 3 4.5\n", ReadStatus::error, {1.0f, 2.0f, 3.0f}, -1},
        {"integer beyond 32 bits", "1 2 3 3000000000\n", ReadStatus::error, {1.0f, 2.0f, 3.0f}, -1},
        {"bad real", "1 x 3\n", ReadStatus::error, {1.0f, -1.0f, -1.0f}, -1},
        {"bare sign", "1 - 3\n", ReadStatus::error, {1.0f, -1.0f, -1.0f}, -1},
        {"end before complete", "1 2\n", ReadStatus::end, {1.0f, 2.0f, -1.0f}, -1},
        {"beyond float range", "1e39 -1e39 0 5\n", ReadStatus::ok,
         {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 0.0f}, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringSource in(row.input);
        float a = -1.0f, b = -1.0f, c = -1.0f;
        int32_t n = -1;
        EXPECT_EQ(textio::read_free(in, {a, b, c, n}), row.status);
        EXPECT_EQ((std::vector<float>{a, b, c}), row.reals);
        EXPECT_EQ(n, row.n);
    }
}

TEST(ReadFree, RestOfLineIsDiscarded) {
    StringSource in("1 2\n3\n");
    int32_t a = 0;
    EXPECT_EQ(textio::read_free(in, {a}), ReadStatus::ok);
    EXPECT_EQ(textio::read_free(in, {a}), ReadStatus::ok);
    EXPECT_EQ(a, 3);
}

TEST(LineSource, CleaningAndLongLines) {
    std::string big(1 << 20, 'x');
    big[5] = '\0';
    StringSource in("a\tb\r\n\r\n12345678\tc\n" + big + "\nlast");
    EXPECT_EQ(in.next(), std::optional<std::string_view>("a       b"));
    EXPECT_EQ(in.next(), std::optional<std::string_view>(""));
    EXPECT_EQ(in.next(), std::optional<std::string_view>("12345678        c"));
    std::optional<std::string_view> line = in.next();
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, big);
    EXPECT_EQ(in.next(), std::optional<std::string_view>("last"));
    EXPECT_EQ(in.next(), std::nullopt);
    EXPECT_EQ(in.next(), std::nullopt);
}

TEST(LineSource, MegabyteAnswerReadsItsField) {
    std::string answer = "1950" + std::string(1 << 20, '7') + "\n1851\n";
    StringSource in(answer);
    int32_t year = 0;
    EXPECT_EQ(textio::read(in, Layout("(i4)"), {year}), ReadStatus::ok);
    EXPECT_EQ(year, 1950);
    EXPECT_EQ(textio::read(in, Layout("(i4)"), {year}), ReadStatus::ok);
    EXPECT_EQ(year, 1851);
    bool flag = true;
    StringSource free_in(std::string(1 << 20, ' ') + "f" + std::string(1 << 20, 'x') + "\n");
    EXPECT_EQ(textio::read_free(free_in, {flag}), ReadStatus::ok);
    EXPECT_FALSE(flag);
}

TEST(ReadOrFail, ThrowsTheErrorLine) {
    struct Row { const char* name; std::string input; std::string message; };
    const Row rows[] = {
        {"bad field", "x\n", "Error: Illegal character in numeric input (formatted read, grid.txt)"},
        {"end of input", "", "Error: Attempt to read past end of file (formatted read, grid.txt)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StringSource in(row.input, "grid.txt");
        int32_t v = 0;
        try {
            textio::read_or_fail(in, Layout("(i4)"), {v});
            ADD_FAILURE() << "no error";
        } catch (const textio::IoError& e) {
            EXPECT_EQ(std::string(e.what()), row.message);
        }
    }
}

}  // namespace
