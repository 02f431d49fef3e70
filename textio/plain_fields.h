#pragma once
// Iw and Fw.d fields of the everyday shape ("[blanks][-]digits.digits",
// "[blanks][-]digits"), edited and parsed without the general editors, for
// writers and readers that handle millions of them. Each answers false on
// anything else -- overflow, NaN, INF, exponents, signs or blanks the
// writers never put -- and the caller then takes edit_real, edit_int or
// parse_real, so the text and the value are exactly theirs in every case.
// The width and decimals are template arguments: fixed, they let the
// compiler turn every digit loop into a few multiplications.
#include <cstdint>
#include <cstring>

namespace textio {

namespace plain_detail {

inline constexpr double kPow10d[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
inline constexpr uint64_t kPow10u[] = {1ull,      10ull,      100ull,      1000ull,      10000ull,
                                       100000ull, 1000000ull, 10000000ull, 100000000ull, 1000000000ull};
inline constexpr float kPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f};

inline int32_t digit_count(uint64_t n) {
    int32_t count = 1;
    while (n >= 10) {
        n /= 10;
        ++count;
    }
    return count;
}

// Writes the decimal digits of n to the left of `end`; returns the first.
inline char* digits_left_of(char* end, uint64_t n) {
    do {
        *--end = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    return end;
}

}  // namespace plain_detail

// edit_real(out, value, W, D) into dst[0..W), for values that fit.
template <int32_t W, int32_t D>
inline bool edit_plain_real(char* dst, float value) {
    using namespace plain_detail;
    static_assert(W > 0 && W <= 20 && D >= 0 && D <= 9);
    // 24 bits times at most 10^9 is exact in double, so rounding the product
    // rounds the exact value, as the general editor does.
    double x = static_cast<double>(value) * kPow10d[D];
    if (x < 0.0) x = -x;
    if (!(x < 1e15)) return false;  // also NaN and INF
    uint64_t n = static_cast<uint64_t>(x);
    if (x - static_cast<double>(n) >= 0.5) ++n;  // ties away from zero
    const uint64_t whole = n / kPow10u[D];
    uint64_t decimals = n - whole * kPow10u[D];
    const bool neg = value < 0.0f;  // negative zero is not negative
    const int32_t whole_digits = whole == 0 ? 0 : digit_count(whole);
    const int32_t need = (neg ? 1 : 0) + whole_digits + 1 + D;
    if (need > W) return false;  // asterisks
    std::memset(dst, ' ', W);
    char* p = dst + W;
    for (int32_t k = 0; k < D; ++k) {
        *--p = static_cast<char>('0' + decimals % 10);
        decimals /= 10;
    }
    *--p = '.';
    if (whole_digits > 0) p = digits_left_of(p, whole);
    else if (need < W) *--p = '0';  // a leading zero where there is room
    if (neg) *--p = '-';
    return true;
}

// edit_int(out, value, W) into dst[0..W), for values that fit.
template <int32_t W>
inline bool edit_plain_int(char* dst, int32_t value) {
    using namespace plain_detail;
    static_assert(W > 0 && W <= 20);
    const bool neg = value < 0;
    const uint64_t magnitude = neg ? 0ull - static_cast<uint64_t>(static_cast<int64_t>(value))
                                   : static_cast<uint64_t>(value);
    if ((neg ? 1 : 0) + digit_count(magnitude) > W) return false;
    std::memset(dst, ' ', W);
    char* p = digits_left_of(dst + W, magnitude);
    if (neg) *--p = '-';
    return true;
}

// parse_real(f[0..W), D, value) for the shape "[blanks][-][digits].dd..d",
// the point D places from the right.
template <int32_t W, int32_t D>
inline bool parse_plain_real(const char* f, float& value) {
    using namespace plain_detail;
    static_assert(D >= 0 && D <= 9 && W >= D + 1 && W <= 20);
    constexpr int32_t point = W - D - 1;
    if (f[point] != '.') return false;
    int32_t k = 0;
    while (k < point && f[k] == ' ') ++k;
    const bool neg = k < point && f[k] == '-';
    if (neg) ++k;
    if (D == 0 && k == point) return false;  // no digits: a bad field
    // Below 2^24 the general parser divides the exact float by an exact
    // power of ten; larger mantissas take its other road.
    constexpr uint64_t kLimit = 1u << 24;
    uint64_t m = 0;
    for (; k < point; ++k) {
        const uint64_t digit = static_cast<uint64_t>(static_cast<unsigned char>(f[k])) - '0';
        if (digit > 9) return false;
        m = m * 10 + digit;
        if (m >= kLimit) return false;
    }
    for (k = point + 1; k < W; ++k) {
        const uint64_t digit = static_cast<uint64_t>(static_cast<unsigned char>(f[k])) - '0';
        if (digit > 9) return false;
        m = m * 10 + digit;
    }
    if (m >= kLimit) return false;
    float v = static_cast<float>(m);
    if (D > 0) v = v / kPow10f[D];
    value = neg ? -v : v;
    return true;
}

}  // namespace textio
