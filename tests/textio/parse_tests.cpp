// Field parsers: Iw and Fw.d text to values, and the fast path of Fw.d
// against strtof.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "textio/editors.h"

namespace {

TEST(ParseInt, BlanksSignsAndBadCharacters) {
    struct Row { const char* name; const char* field; bool ok; int32_t expected; };
    const Row rows[] = {
        {"plain", "1950", true, 1950},
        {"blanks around", " 19 ", true, 19},
        {"blank inside", "19 5", true, 195},
        {"empty", "", true, 0},
        {"all blank", "    ", true, 0},
        {"letter", "19a0", false, 0},
        {"negative", "-12", true, -12},
        {"blank after sign", "- 12", true, -12},
        {"plus", "+7", true, 7},
        {"sign alone", "-", false, 0},
        {"second sign", "1-2", false, 0},
        {"point", "1.0", false, 0},
        {"largest", "2147483647", true, 2147483647},
        {"smallest", "-2147483648", true, std::numeric_limits<int32_t>::min()},
        {"beyond 32 bits", "2147483648", false, 0},
        {"far beyond", "99999999999999999999", false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        int32_t v = -777;
        EXPECT_EQ(textio::parse_int(row.field, v), row.ok);
        EXPECT_EQ(v, row.ok ? row.expected : -777);
    }
}

TEST(ParseReal, ImpliedDecimalsExponentsAndBadFields) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Row { const char* name; const char* field; int32_t d; bool ok; float expected; };
    const Row rows[] = {
        {"point given", "-100.25", 1, true, -100.25f},
        {"implied decimal", "45", 1, true, 4.5f},
        {"implied, zeros added", "50", 3, true, 0.05f},
        {"trailing point", "30.", 1, true, 30.0f},
        {"point, no decimals", "45.", 1, true, 45.0f},
        {"empty", "", 1, true, 0.0f},
        {"all blank", "      ", 2, true, 0.0f},
        {"bad character", "12%", 1, false, 0},
        {"exponent with implied decimal", "1e2", 1, true, 10.0f},
        {"point and exponent", "1.e2", 1, true, 100.0f},
        {"D exponent", "1.5D1", 0, true, 15.0f},
        {"Q exponent", "2q-1", 0, true, 0.2f},
        {"bare sign exponent", "1.0+2", 0, true, 100.0f},
        {"bare minus exponent", "5.0-1", 0, true, 0.5f},
        {"signed exponent", "1.0e+3", 0, true, 1000.0f},
        {"blanks everywhere", " - 1 2 . 5 ", 0, true, -12.5f},
        {"missing value", "-99.90", 2, true, -99.9f},
        {"missing value, no point", "-9990", 2, true, -99.9f},
        {"leading point", ".5", 2, true, 0.5f},
        {"point alone", ".", 2, false, 0},
        {"plus alone", "+", 2, false, 0},
        {"minus alone", "-", 2, false, 0},
        {"exponent without digits", "1e", 2, false, 0},
        {"exponent without mantissa", "e5", 2, false, 0},
        {"second point", "1.2.3", 2, false, 0},
        {"second exponent", "1e2e3", 2, false, 0},
        {"point in exponent", "1e2.5", 2, false, 0},
        {"sign after digits of exponent", "1e2-", 2, false, 0},
        {"letter", "1.2x", 2, false, 0},
        {"beyond float range", "1e39", 0, true, inf},
        {"beyond float range, negative", "-1e39", 0, true, -inf},
        {"huge exponent", "1e999999999999", 0, true, inf},
        {"below float range", "1e-60", 0, true, 0.0f},
        {"long digit string", "0.100000000000000000000000000001", 0, true, 0.1f},
        {"long digit string, plus", "+0.100000000000000000000000000001", 0, true, 0.1f},
        {"largest exact integer", "16777217", 0, true, 16777216.0f},
        {"negative zero", "-0.0", 1, true, -0.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        float v = -777.0f;
        EXPECT_EQ(textio::parse_real(row.field, row.d, v), row.ok);
        if (row.ok) {
            EXPECT_EQ(v, row.expected);
            EXPECT_EQ(std::signbit(v), std::signbit(row.expected));
        } else {
            EXPECT_EQ(v, -777.0f);
        }
    }
}

// An exponent that offsets more decimals than any float could hold.
TEST(ParseReal, ExponentOffsetsVeryManyDecimals) {
    const std::string field = "0." + std::string(100004, '0') + "1e100005";
    float v = 0.0f;
    ASSERT_TRUE(textio::parse_real(field, 0, v));
    EXPECT_EQ(v, 1.0f);
}

// Random fields in the ranges of the fast path and beyond it, each compared
// with strtof on the same number written plainly.
TEST(ParseReal, AgreesWithStrtof) {
    std::mt19937 rng(1850);
    std::uniform_int_distribution<int32_t> ndigits(1, 12);
    std::uniform_int_distribution<int32_t> digit(0, 9);
    std::uniform_int_distribution<int32_t> exponent(-45, 40);
    for (int32_t trial = 0; trial < 200000; ++trial) {
        int32_t n = ndigits(rng);
        std::string digits;
        for (int32_t k = 0; k < n; ++k) digits += static_cast<char>('0' + digit(rng));
        int32_t point = std::uniform_int_distribution<int32_t>(0, n)(rng);
        bool neg = trial % 2 == 1;
        std::string field = (neg ? "-" : "") + digits.substr(0, static_cast<size_t>(point)) + "." +
                            digits.substr(static_cast<size_t>(point));
        int32_t e = trial % 3 == 0 ? exponent(rng) : 0;
        if (e != 0) field += "e" + std::to_string(e);
        float expected = std::strtof(field.c_str(), nullptr);
        float v = 0;
        ASSERT_TRUE(textio::parse_real(field, 2, v)) << field;
        ASSERT_EQ(v, expected) << field;
        // The same digits without a point take d implied decimals.
        std::string implied = (neg ? "-" : "") + digits;
        std::string plain = implied + "e-2";
        ASSERT_TRUE(textio::parse_real(implied, 2, v)) << implied;
        ASSERT_EQ(v, std::strtof(plain.c_str(), nullptr)) << implied;
    }
}

}  // namespace
