// Field editors: Iw and Fw.d text, and an exact cross-check of Fw.d.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "textio/editors.h"

namespace {

std::string int_text(int32_t v, int32_t w) {
    std::string s;
    textio::edit_int(s, v, w);
    return s;
}

std::string real_text(float v, int32_t w, int32_t d) {
    std::string s;
    textio::edit_real(s, v, w, d);
    return s;
}

TEST(EditInt, WidthsSignsAndOverflow) {
    struct Row { const char* name; int32_t value; int32_t w; const char* expected; };
    const Row rows[] = {
        {"too wide", 12345, 4, "****"},
        {"negative fits", -999, 4, "-999"},
        {"sign makes it too wide", -1000, 4, "****"},
        {"right-aligned", 7, 5, "    7"},
        {"zero", 0, 3, "  0"},
        {"exactly w", 1850, 4, "1850"},
        {"most negative", std::numeric_limits<int32_t>::min(), 11, "-2147483648"},
        {"most negative too wide", std::numeric_limits<int32_t>::min(), 10, "**********"},
        {"free-form width", -2, 12, "          -2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(int_text(row.value, row.w), row.expected);
    }
}

TEST(EditReal, RoundingSignsZeroAndOverflow) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Row { const char* name; float value; int32_t w, d; const char* expected; };
    const Row rows[] = {
        {"tie away from zero", 0.125f, 6, 2, "  0.13"},
        {"negative tie away from zero", -0.125f, 6, 2, " -0.13"},
        {"tie at d=0", 2.5f, 4, 0, "  3."},
        {"below a half hundredth", 0.005f, 6, 2, "  0.00"},
        {"rounds up into a new digit", 0.996f, 6, 2, "  1.00"},
        {"missing value", -99.9f, 6, 2, "-99.90"},
        {"F7.2 negative", -99.99f, 7, 2, " -99.99"},
        {"F7.2 widest positive", 999.99f, 7, 2, " 999.99"},
        {"too large", 1000.0f, 6, 2, "******"},
        {"too large with sign", -100.0f, 6, 2, "******"},
        {"zero before the point", 0.5f, 6, 2, "  0.50"},
        {"no room for the zero", 0.5f, 4, 2, "0.50"},
        {"point first", 0.5f, 3, 2, ".50"},
        {"negative zero before the point", -0.5f, 6, 2, " -0.50"},
        {"negative, point first", -0.5f, 4, 2, "-.50"},
        {"negative that rounds to zero", -0.001f, 6, 2, " -0.00"},
        {"negative zero has no sign", -0.0f, 6, 2, "  0.00"},
        {"plain zero", 0.0f, 8, 3, "   0.000"},
        {"eight wide three decimals", -12.3456f, 8, 3, " -12.346"},
        {"nan", nan, 6, 2, "   NaN"},
        {"negative nan", -nan, 6, 2, "  -NaN"},
        {"infinity", inf, 6, 2, "   INF"},
        {"negative infinity", -inf, 6, 2, "  -INF"},
        {"infinity too narrow", -inf, 3, 1, "***"},
        {"huge value", 3.0e38f, 8, 2, "********"},
        {"huge value, wide field", 1.0e20f, 25, 2, " 100000002004087734272.00"},
        {"many decimals, exact expansion", 0.1f, 20, 15, "   0.100000001490116"},
        {"tiny value, many decimals", 1e-30f, 20, 16, "  0.0000000000000000"},
        {"tie at no decimals", 0.5f, 16, 0, "              1."},
        {"exact beyond 12 decimals", 1.0f / 1024.0f, 17, 13, "  0.0009765625000"},
        {"tie beyond 12 decimals", 1.0f / 16384.0f, 17, 13, "  0.0000610351563"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(real_text(row.value, row.w, row.d), row.expected);
    }
}

// The exact digits of |v| * 10^d rounded half away from zero, by integer
// arithmetic on the float's own bits; false when it does not fit 128 bits.
bool exact_scaled(float v, int32_t d, unsigned __int128& n) {
    int e;
    float frac = std::frexp(std::fabs(v), &e);
    auto m = static_cast<unsigned __int128>(std::ldexp(frac, 24));  // |v| = m * 2^(e-24)
    int shift = e - 24;
    unsigned __int128 p = 1;
    for (int32_t k = 0; k < d; ++k) p *= 10;
    if (shift >= 0) {
        if (shift + 24 + 4 * d > 120) return false;
        n = (m << shift) * p;
        return true;
    }
    if (-shift > 126 - 0) {
        n = 0;  // far below any half unit of the tested decimals
        return true;
    }
    unsigned __int128 num = m * p;
    unsigned __int128 den = static_cast<unsigned __int128>(1) << -shift;
    n = num / den;
    if (2 * (num % den) >= den) ++n;
    return true;
}

std::string reference_text(float v, int32_t w, int32_t d, bool& known) {
    unsigned __int128 n = 0;
    known = exact_scaled(v, d, n);
    if (!known) return {};
    unsigned __int128 p = 1;
    for (int32_t k = 0; k < d; ++k) p *= 10;
    unsigned __int128 ip = n / p, fp = n % p;
    std::string decimals(static_cast<size_t>(d), '0');
    for (int32_t k = d - 1; k >= 0; --k, fp /= 10) decimals[static_cast<size_t>(k)] = static_cast<char>('0' + static_cast<int>(fp % 10));
    std::string digits;
    for (; ip != 0; ip /= 10) digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(ip % 10)));
    std::string body = (v < 0 ? "-" : "") + std::string(digits.empty() ? "" : digits) + "." + decimals;
    if (static_cast<int32_t>(body.size()) > w) return std::string(static_cast<size_t>(w), '*');
    if (digits.empty() && static_cast<int32_t>(body.size()) < w) body.insert(v < 0 ? 1 : 0, "0");
    return std::string(static_cast<size_t>(w) - body.size(), ' ') + body;
}

TEST(EditReal, AgreesWithExactReferenceOnRandomValues) {
    std::mt19937 rng(20101);
    std::uniform_int_distribution<uint32_t> bits;
    std::uniform_int_distribution<int32_t> exponent(-40, 60);  // around the printable range
    std::uniform_int_distribution<int32_t> width(1, 30);
    int32_t compared = 0;
    for (int32_t trial = 0; trial < 200000; ++trial) {
        float v;
        if (trial % 4 == 0) {
            // Binary fractions hold exact decimal ties: the hard cases.
            int32_t j = static_cast<int32_t>(bits(rng) % 10) + 1;
            v = std::ldexp(static_cast<float>(static_cast<int32_t>(bits(rng) % 200000) - 100000), -j);
        } else {
            uint32_t b = bits(rng);
            b = (b & 0x807FFFFFu) | (static_cast<uint32_t>(127 + exponent(rng)) << 23);
            std::memcpy(&v, &b, sizeof v);
        }
        int32_t w = width(rng);
        int32_t d = std::uniform_int_distribution<int32_t>(0, std::min(w, 20))(rng);
        bool known = false;
        std::string expected = reference_text(v, w, d, known);
        if (!known) continue;
        ++compared;
        ASSERT_EQ(real_text(v, w, d), expected) << "value " << v << " F" << w << "." << d;
    }
    EXPECT_GT(compared, 150000);
}

}  // namespace
