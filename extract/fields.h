#pragma once
// F6.2 fields the way the data set writes them ("[blanks][-]digits.dd"),
// read and written without the general editors. Each answers false on
// anything else, and the caller then takes textio::parse_real or
// textio::edit_real, so the values and the text stay exactly theirs.
#include <cmath>
#include <cstdint>
#include <cstring>

namespace extract {

// parse_real(f[0..6), 2, value) for the plain shape.
inline bool parse_plain(const char* f, float& value) {
    const unsigned d4 = static_cast<unsigned char>(f[4]) - '0';
    const unsigned d5 = static_cast<unsigned char>(f[5]) - '0';
    if (f[3] != '.' || d4 > 9 || d5 > 9) return false;
    int k = 0;
    while (k < 3 && f[k] == ' ') ++k;
    const bool neg = k < 3 && f[k] == '-';
    if (neg) ++k;
    uint32_t m = 0;
    for (; k < 3; ++k) {
        const unsigned d = static_cast<unsigned char>(f[k]) - '0';
        if (d > 9) return false;
        m = m * 10 + d;
    }
    m = m * 100 + d4 * 10 + d5;
    // m / 100 rounded once to float, as parse_real has it. The product in
    // double is within a relative 2^-52 of m / 100, and for m below 10^5 no
    // such quotient lies that close to a point halfway between two floats,
    // so the conversion rounds as the float division would.
    const float v = static_cast<float>(static_cast<double>(m) * 0.01);
    value = neg ? -v : v;
    return true;
}

namespace detail {

// "  0." to "999." and " -0." to "-99.": the integer part with its point,
// right-aligned in 4 characters; then "00" to "99" for the decimals.
struct PlainTables {
    char whole[1000][4];
    char negative[100][4];
    char decimals[100][2];
    constexpr PlainTables() : whole{}, negative{}, decimals{} {
        for (int n = 0; n < 1000; ++n) {
            char* t = whole[n];
            t[0] = n >= 100 ? static_cast<char>('0' + n / 100) : ' ';
            t[1] = n >= 10 ? static_cast<char>('0' + n / 10 % 10) : ' ';
            t[2] = static_cast<char>('0' + n % 10);
            t[3] = '.';
        }
        for (int n = 0; n < 100; ++n) {
            char* t = negative[n];
            t[0] = n >= 10 ? '-' : ' ';
            t[1] = n >= 10 ? static_cast<char>('0' + n / 10) : '-';
            t[2] = static_cast<char>('0' + n % 10);
            t[3] = '.';
            decimals[n][0] = static_cast<char>('0' + n / 10);
            decimals[n][1] = static_cast<char>('0' + n % 10);
        }
    }
};
inline constexpr PlainTables kPlain{};

}  // namespace detail

// edit_real(out, value, 6, 2) into dst[0..6) for values that fit.
inline bool edit_plain(char* dst, float value) {
    // Exact in double (24 bits times 100), so rounding it rounds the value.
    const double x = std::fabs(static_cast<double>(value)) * 100.0;
    if (!(x < 99999.5)) return false;  // asterisks, NaN, INF
    uint32_t n = static_cast<uint32_t>(x);
    if (x - static_cast<double>(n) >= 0.5) ++n;  // ties away from zero
    const uint32_t whole = n / 100;
    const uint32_t decimals = n - 100 * whole;
    if (value < 0.0f) {  // negative zero is written as zero
        if (whole >= 100) return false;
        std::memcpy(dst, detail::kPlain.negative[whole], 4);
    } else {
        std::memcpy(dst, detail::kPlain.whole[whole], 4);
    }
    std::memcpy(dst + 4, detail::kPlain.decimals[decimals], 2);
    return true;
}

}  // namespace extract
