#include "maps/page_data.h"

#include <charconv>
#include <cmath>

#include "extract/grid_axes.h"
#include "maps/palette.h"

namespace maps {

int32_t hundredths(float x) {
    if (x == extract::kMissing) return kNoHundredths;
    // A float times 100 is exact in double, so this rounds the exact value.
    const double h = std::round(static_cast<double>(x) * 100.0);
    // Past int32 only in a corrupt grid; the reader keeps such a value out.
    if (!(std::fabs(h) < 2147483647.0)) return kNoHundredths;
    return static_cast<int32_t>(h);
}

std::string month_bytes(const extract::GridView& whole, int32_t m) {
    const int32_t cells = whole.box().nbox();
    std::string out(static_cast<size_t>(cells) * 5, '\0');
    for (int32_t n = 1; n <= cells; ++n) {
        const float x = whole.series(n)[m - 1];
        const int32_t h = hundredths(x);
        const auto u = static_cast<uint32_t>(h);
        const size_t at = static_cast<size_t>(n - 1) * 4;
        for (int b = 0; b < 4; ++b) out[at + static_cast<size_t>(b)] = static_cast<char>((u >> (8 * b)) & 0xff);
        out[static_cast<size_t>(cells) * 4 + static_cast<size_t>(n - 1)] =
            static_cast<char>(h == kNoHundredths ? kNoValueClass : pdsi_class(x));
    }
    return out;
}

std::string series_json(const extract::GridView& whole, int32_t n, int32_t first_year) {
    const float* series = whole.series(n);
    std::string out = "{\"first_year\": " + std::to_string(first_year) + ", \"values\": [";
    out.reserve(out.size() + static_cast<size_t>(whole.nmon()) * 6);
    for (int32_t k = 0; k < whole.nmon(); ++k) {
        if (k > 0) out += ',';
        const int32_t h = hundredths(series[k]);
        if (h == kNoHundredths) {
            out += "null";
            continue;
        }
        char text[16];
        out.append(text, std::to_chars(text, text + sizeof text, h).ptr);
    }
    return out + "]}\n";
}

std::string palette_json() {
    std::string out = "[";
    auto add = [&](const PdsiClass& c) {
        if (out.size() > 1) out += ", ";
        out += "{\"label\": \"" + std::string(c.label) + "\", \"colour\": \"" + std::string(c.colour) + "\"}";
    };
    for (const PdsiClass& c : kPalette) add(c);
    add(kNoValue);
    return out + "]";
}

}  // namespace maps
