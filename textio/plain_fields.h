#pragma once
// Iw and Fw.d fields of the everyday shape ("[blanks][-]digits.digits",
// "[blanks][-]digits"), edited and parsed without the general editors, for
// writers and readers that handle millions of them. Each answers false on
// anything else -- overflow, NaN, INF, exponents, signs or blanks the
// writers never put -- and the caller then takes edit_real, edit_int or
// parse_real, so the text and the value are exactly theirs in every case.
// The width and decimals are template arguments: fixed, they let the
// compiler turn every digit loop into a few multiplications.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace textio {

namespace plain_detail {

inline constexpr double kPow10d[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
inline constexpr uint64_t kPow10u[] = {1ull,      10ull,      100ull,      1000ull,      10000ull,
                                       100000ull, 1000000ull, 10000000ull, 100000000ull, 1000000000ull};
inline constexpr double kInversePow10d[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8, 1e-9};

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

// The text before the decimals -- sign, integer digits, point -- of every
// integer part below 1000, right-aligned in h characters, and whether it
// fits there. Field widths are w = h + d, and both the asterisks and the
// leading zero depend only on what room the integer part has.
template <int32_t h>
struct HeadTable {
    static constexpr int32_t kCount = 1000;
    char text[2][kCount][8];
    bool fits[2][kCount];
    constexpr HeadTable() : text{}, fits{} {
        for (int32_t neg = 0; neg < 2; ++neg) {
            for (int32_t whole = 0; whole < kCount; ++whole) {
                char* t = text[neg][whole];
                const int32_t digits = whole >= 100 ? 3 : whole >= 10 ? 2 : whole > 0 ? 1 : 0;
                int32_t need = neg + digits + 1;
                fits[neg][whole] = need <= h;
                for (int32_t k = 0; k < 8; ++k) t[k] = ' ';
                if (need > h) continue;
                int32_t at = h;
                t[--at] = '.';
                for (int32_t n = whole, k = 0; k < digits; ++k, n /= 10) t[--at] = static_cast<char>('0' + n % 10);
                if (digits == 0 && need < h) t[--at] = '0';
                if (neg) t[--at] = '-';
            }
        }
    }
};
template <int32_t h>
inline constexpr HeadTable<h> kHead{};

struct PairTable {
    char text[100][2];
    constexpr PairTable() : text{} {
        for (int32_t n = 0; n < 100; ++n) {
            text[n][0] = static_cast<char>('0' + n / 10);
            text[n][1] = static_cast<char>('0' + n % 10);
        }
    }
};
inline constexpr PairTable kPairs{};

// Per character: a digit's value (bits 0-3), its class (bits 4-5: a
// field's integer part reads blanks, then a minus, then digits), and flags
// for a minus (bit 6) and for a character of no class (bit 7).
inline constexpr uint32_t kBlank = 0, kMinus = 1, kDigit = 2;
struct CharTable {
    uint8_t code[256];
    constexpr CharTable() : code{} {
        for (int32_t c = 0; c < 256; ++c) code[c] = 0x80 | 3 << 4;
        code[static_cast<unsigned char>(' ')] = kBlank << 4;
        code[static_cast<unsigned char>('-')] = 0x40 | kMinus << 4;
        for (int32_t d = 0; d < 10; ++d) code['0' + d] = static_cast<uint8_t>(kDigit << 4 | d);
    }
};
inline constexpr CharTable kChars{};

// For integer parts of up to kShapeChars characters: every sequence of
// classes, two bits each, the first character highest, judged once: bad,
// or good without (0) or with (1) a minus.
inline constexpr int32_t kShapeChars = 5;
inline constexpr uint8_t kBadShape = 2;
template <int32_t n>
struct ShapeTable {
    uint8_t verdict[1u << (2 * n)];
    constexpr ShapeTable() : verdict{} {
        for (uint32_t shape = 0; shape < (1u << (2 * n)); ++shape) {
            uint32_t previous = 0, minus = 0;
            bool good = true;
            for (int32_t k = n - 1; k >= 0; --k) {
                const uint32_t cls = shape >> (2 * k) & 3u;
                if (cls == 3 || cls < previous) good = false;
                if (cls == kMinus) ++minus;
                previous = cls;
            }
            verdict[shape] = good && minus <= 1 ? static_cast<uint8_t>(minus) : kBadShape;
        }
    }
};
template <int32_t n>
inline constexpr ShapeTable<n> kShapes{};

}  // namespace plain_detail

// edit_real(out, value, W, D) into dst[0..W), for values that fit.
template <int32_t W, int32_t D>
inline bool edit_plain_real(char* dst, float value) {
    using namespace plain_detail;
    static_assert(W > 0 && W <= 20 && D >= 0 && D <= 9);
    // 24 bits times at most 10^9 is exact in double, so rounding the product
    // rounds the exact value, as the general editor does.
    const double x = std::fabs(static_cast<double>(value)) * kPow10d[D];
    if (!(x < 1e15)) return false;  // also NaN and INF
    uint64_t n = static_cast<uint64_t>(x);
    n += x - static_cast<double>(n) >= 0.5 ? 1 : 0;  // ties away from zero
    const uint64_t whole = n / kPow10u[D];
    uint64_t decimals = n - whole * kPow10u[D];
    const bool neg = value < 0.0f;  // negative zero is not negative
    constexpr int32_t h = W - D;
    if constexpr (h <= 8) {
        // The common case by tables: the signs and digit counts of real data
        // would make the branches below unpredictable.
        if (whole < HeadTable<h>::kCount) {
            const int32_t sign = neg ? 1 : 0;
            if (!kHead<h>.fits[sign][whole]) return false;
            std::memcpy(dst, kHead<h>.text[sign][whole], h);
            char* p = dst + W;
            int32_t k = 0;
            for (; k + 2 <= D; k += 2) {
                p -= 2;
                std::memcpy(p, kPairs.text[decimals % 100], 2);
                decimals /= 100;
            }
            if (k < D) *--p = static_cast<char>('0' + decimals);
            return true;
        }
    }
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
    // Blanks, at most one minus, digits: the classes never go down and no
    // other character comes. Checked without branches, since the blanks
    // and the sign vary from field to field. Blanks and the sign count as
    // leading zeros; at most 19 digits fit in m.
    uint32_t previous = 0, minus = 0;
    uint64_t m = 0;
    if constexpr (point <= kShapeChars) {
        // The classes side by side index the table of good shapes.
        uint32_t shape = 0;
        [&]<size_t... K>(std::index_sequence<K...>) {
            ((
                 [&](uint32_t code) {
                     shape = shape << 2 | (code >> 4 & 3u);
                     m = m * 10 + (code & 15u);
                 }(kChars.code[static_cast<unsigned char>(f[K])])),
             ...);
        }(std::make_index_sequence<point>{});
        const uint32_t verdict = kShapes<point>.verdict[shape];
        if (verdict == kBadShape) return false;
        minus = verdict & 1u;
        previous = shape & 3u;
    } else {
        uint32_t descents = 0, other = 0;
        [&]<size_t... K>(std::index_sequence<K...>) {
            ((
                 [&](uint32_t code) {
                     const uint32_t cls = code >> 4 & 3u;
                     descents |= cls < previous ? 1u : 0u;
                     minus += code >> 6 & 1u;
                     other |= code >> 7;
                     previous = cls;
                     m = m * 10 + (code & 15u);
                 }(kChars.code[static_cast<unsigned char>(f[K])])),
             ...);
        }(std::make_index_sequence<point>{});
        if ((descents | other) != 0 || minus > 1) return false;
    }
    if (D == 0 && previous != kDigit) return false;  // no digits: a bad field
    for (int32_t k = point + 1; k < W; ++k) {
        const uint64_t digit = static_cast<uint64_t>(static_cast<unsigned char>(f[k])) - '0';
        if (digit > 9) return false;
        m = m * 10 + digit;
    }
    // Below 2^24 the general parser divides the exact float by an exact
    // power of ten; larger mantissas take its other road. For every such m
    // and d the product in double rounds to the same float as that quotient
    // (checked one by one), and a multiplication is much the faster.
    if (m >= (1u << 24)) return false;
    const float v = static_cast<float>(static_cast<double>(m) * kInversePow10d[D]);
    // The sign bit flipped, as negation does, but without a branch.
    value = std::bit_cast<float>(std::bit_cast<uint32_t>(v) ^ minus << 31);
    return true;
}

}  // namespace textio
