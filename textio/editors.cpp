#include "textio/editors.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace textio {

namespace {

void append_stars(std::string& out, int32_t w) {
    if (w > 0) out.append(static_cast<size_t>(w), '*');
}

// Right-aligns `text` in w characters, or asterisks when it does not fit.
void append_right(std::string& out, std::string_view text, int32_t w) {
    if (w <= 0) return;
    if (text.size() > static_cast<size_t>(w)) {
        append_stars(out, w);
        return;
    }
    out.append(static_cast<size_t>(w) - text.size(), ' ');
    out.append(text);
}

constexpr double kPow10d[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
constexpr uint64_t kPow10u[] = {1ull,         10ull,         100ull,         1000ull,        10000ull,
                                100000ull,    1000000ull,    10000000ull,    100000000ull,   1000000000ull,
                                10000000000ull, 100000000000ull, 1000000000000ull};
constexpr float kPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// Lays out sign, integer digits, point and decimals; `int_digits` empty
// means an integer part of 0.
void append_fixed(std::string& out, bool neg, std::string_view int_digits, std::string_view decimals,
                  int32_t w) {
    size_t width = static_cast<size_t>(w);
    size_t need = (neg ? 1 : 0) + int_digits.size() + 1 + decimals.size();
    if (need > width) {
        append_stars(out, w);
        return;
    }
    bool zero = int_digits.empty() && need < width;
    if (zero) ++need;
    // One append of the finished field: this runs for every value written.
    size_t at = out.size();
    out.resize(at + width, ' ');
    char* p = out.data() + at + (width - need);
    if (neg) *p++ = '-';
    if (zero) *p++ = '0';
    std::memcpy(p, int_digits.data(), int_digits.size());
    p += int_digits.size();
    *p++ = '.';
    std::memcpy(p, decimals.data(), decimals.size());
}

// Exact decimal expansion of the float, rounded half away from zero by hand:
// printf itself would send exact ties to even.
void edit_real_exact(std::string& out, float magnitude, bool neg, int32_t w, int32_t d) {
    char buf[256];
    // 150 decimals hold every float's binary fraction exactly.
    int n = std::snprintf(buf, sizeof buf, "%.150f", static_cast<double>(magnitude));
    std::string_view text(buf, static_cast<size_t>(n));
    size_t point = text.find('.');
    std::string digits(text.substr(0, point));
    std::string frac(text.substr(point + 1));
    if (static_cast<size_t>(d) < frac.size()) {
        bool up = frac[static_cast<size_t>(d)] >= '5';
        frac.resize(static_cast<size_t>(d));
        if (up) {
            std::string all = digits + frac;
            size_t k = all.size();
            while (k > 0 && all[k - 1] == '9') all[--k] = '0';
            if (k == 0) all.insert(all.begin(), '1');
            else ++all[k - 1];
            digits = all.substr(0, all.size() - frac.size());
            frac = all.substr(all.size() - frac.size());
        }
    } else {
        frac.append(static_cast<size_t>(d) - frac.size(), '0');
    }
    size_t lead = digits.find_first_not_of('0');
    digits.erase(0, lead == std::string::npos ? digits.size() : lead);
    append_fixed(out, neg, digits, frac, w);
}

}  // namespace

void edit_int(std::string& out, int32_t value, int32_t w) {
    char buf[12];
    char* end = buf + sizeof buf;
    char* p = end;
    uint32_t mag = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        *--p = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag != 0);
    if (value < 0) *--p = '-';
    append_right(out, std::string_view(p, static_cast<size_t>(end - p)), w);
}

void edit_real(std::string& out, float value, int32_t w, int32_t d) {
    if (w <= 0) return;
    if (d < 0) d = 0;
    if (std::isnan(value)) {
        append_right(out, std::signbit(value) ? "-NaN" : "NaN", w);
        return;
    }
    if (std::isinf(value)) {
        append_right(out, value < 0 ? "-INF" : "INF", w);
        return;
    }
    // Negative zero has its sign set but is not negative.
    bool neg = value < 0;
    float magnitude = std::fabs(value);
    if (d <= 12) {
        // A float has 24 significant bits and 5^12 needs 28: the product is
        // exact in double, so rounding it rounds the exact value.
        double x = static_cast<double>(magnitude) * kPow10d[d];
        if (x < 4.0e15) {
            uint64_t n = static_cast<uint64_t>(x);
            if (x - static_cast<double>(n) >= 0.5) ++n;
            uint64_t ip = n / kPow10u[d];
            uint64_t fp = n % kPow10u[d];
            char frac[12];
            for (int32_t k = d - 1; k >= 0; --k) {
                frac[k] = static_cast<char>('0' + fp % 10);
                fp /= 10;
            }
            char ibuf[20];
            char* end = ibuf + sizeof ibuf;
            char* p = end;
            while (ip != 0) {
                *--p = static_cast<char>('0' + ip % 10);
                ip /= 10;
            }
            append_fixed(out, neg, std::string_view(p, static_cast<size_t>(end - p)),
                         std::string_view(frac, static_cast<size_t>(d)), w);
            return;
        }
    }
    edit_real_exact(out, magnitude, neg, w, d);
}

bool parse_int(std::string_view field, int32_t& value) {
    bool neg = false;
    bool sign = false;
    bool digits = false;
    int64_t n = 0;
    for (char c : field) {
        if (c == ' ') continue;
        if ((c == '+' || c == '-') && !sign && !digits) {
            sign = true;
            neg = c == '-';
            continue;
        }
        if (c < '0' || c > '9') return false;
        digits = true;
        n = n * 10 + (c - '0');
        if (n > 2147483648LL) return false;
    }
    if (sign && !digits) return false;
    if (neg) n = -n;
    if (n > 2147483647LL) return false;
    value = static_cast<int32_t>(n);
    return true;
}

namespace {

// The number rebuilt as "[-]digits e exponent" for strtof: the slow path for
// long digit strings and scales beyond the exact float powers of ten.
float convert_slow(std::string_view field, bool neg, int64_t scale) {
    std::string text;
    text.reserve(field.size() + 24);
    if (neg) text += '-';
    bool mantissa = true;
    bool any = false;
    for (char c : field) {
        if (c == ' ') continue;
        if (c >= '0' && c <= '9') {
            if (!mantissa) break;
            if (c == '0' && !any) continue;
            any = true;
            text += c;
        } else if (c == '.') {
            continue;
        } else if (any || (c != '+' && c != '-')) {
            // Past the sign: an exponent letter or sign ends the mantissa.
            mantissa = false;
        }
        if (!mantissa) break;
    }
    if (!any) return neg ? -0.0f : 0.0f;
    text += 'e';
    text += std::to_string(scale);
    return std::strtof(text.c_str(), nullptr);
}

}  // namespace

bool parse_real(std::string_view field, int32_t d, float& value) {
    constexpr int64_t kExponentCap = int64_t{1} << 50;
    const char* p = field.data();
    const char* end = p + field.size();
    bool neg = false;
    bool any = false;        // a non-blank character seen
    int32_t digits = 0;      // mantissa digits
    int32_t significant = 0; // mantissa digits from the first non-zero one
    int32_t after_point = 0;
    bool point = false;
    uint64_t m = 0;
    // Mantissa: sign, digits, at most one point.
    for (; p != end; ++p) {
        char c = *p;
        if (c == ' ') continue;
        if (c >= '0' && c <= '9') {
            any = true;
            ++digits;
            if (point) ++after_point;
            if (significant > 0 || c != '0') {
                if (++significant <= 19) m = m * 10 + static_cast<uint64_t>(c - '0');
            }
            continue;
        }
        if (c == '.') {
            if (point) return false;
            point = true;
            any = true;
            continue;
        }
        if ((c == '+' || c == '-') && !any) {
            neg = c == '-';
            any = true;
            continue;
        }
        break;
    }
    if (!any && p == end) {
        value = 0.0f;
        return true;
    }
    if (digits == 0) return false;
    // Exponent: a letter, or a sign alone, then an optionally signed integer.
    int64_t exponent = 0;
    if (p != end) {
        char c = *p;
        bool letter = c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q';
        if (!letter && c != '+' && c != '-') return false;
        bool eneg = false;
        bool esign = false;
        if (!letter) {
            eneg = c == '-';
            esign = true;
        }
        ++p;
        bool edigits = false;
        for (; p != end; ++p) {
            c = *p;
            if (c == ' ') continue;
            if ((c == '+' || c == '-') && !esign && !edigits) {
                eneg = c == '-';
                esign = true;
                continue;
            }
            if (c < '0' || c > '9') return false;
            edigits = true;
            // Held below any overflow yet far beyond what the decimals of a
            // field could offset, so the scale comes out right.
            if (exponent < kExponentCap) exponent = exponent * 10 + (c - '0');
        }
        if (!edigits) return false;
        if (eneg) exponent = -exponent;
    }
    // Without a point, d digits of the mantissa are decimals.
    int64_t scale = exponent - (point ? after_point : d);
    // The significant digits kept in m: the dropped ones shift the scale.
    if (significant > 19) {
        value = convert_slow(field.substr(0, static_cast<size_t>(p - field.data())), neg,
                             scale);
        return true;
    }
    if (m == 0) {
        value = neg ? -0.0f : 0.0f;
        return true;
    }
    // m and the power of ten are exact floats: one correctly rounded operation.
    if (m < (1u << 24) && scale >= -10 && scale <= 10) {
        float f = static_cast<float>(m);
        f = scale < 0 ? f / kPow10f[-scale] : f * kPow10f[scale];
        value = neg ? -f : f;
        return true;
    }
    value = convert_slow(field.substr(0, static_cast<size_t>(p - field.data())), neg, scale);
    return true;
}

}  // namespace textio
