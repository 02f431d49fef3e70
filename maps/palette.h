#pragma once
// Palmer's classes and their colours: one table for every map, legend,
// page and area file. A class is decided on the value as stored (two
// decimals); the bounds are exact in binary, so no tolerance.
#include <array>
#include <cstdint>
#include <string_view>

namespace maps {

struct PdsiClass {
    std::string_view column;  // the area file's column name
    std::string_view label;   // as a legend and the probe print it
    std::string_view colour;  // #rrggbb
    uint8_t r, g, b;
};

inline constexpr int kClasses = 11;

inline constexpr std::array<PdsiClass, kClasses> kPalette{{
    {"extreme_drought", "extreme drought", "#543005", 0x54, 0x30, 0x05},
    {"severe_drought", "severe drought", "#8c510a", 0x8c, 0x51, 0x0a},
    {"moderate_drought", "moderate drought", "#bf812d", 0xbf, 0x81, 0x2d},
    {"mild_drought", "mild drought", "#dfc27d", 0xdf, 0xc2, 0x7d},
    {"incipient_dry", "incipient dry spell", "#f6e8c3", 0xf6, 0xe8, 0xc3},
    {"near_normal", "near normal", "#f5f5f5", 0xf5, 0xf5, 0xf5},
    {"incipient_wet", "incipient wet spell", "#c7eae5", 0xc7, 0xea, 0xe5},
    {"slightly_wet", "slightly wet", "#80cdc1", 0x80, 0xcd, 0xc1},
    {"moderately_wet", "moderately wet", "#35978f", 0x35, 0x97, 0x8f},
    {"very_wet", "very wet", "#01665e", 0x01, 0x66, 0x5e},
    {"extremely_wet", "extremely wet", "#003c30", 0x00, 0x3c, 0x30},
}};

// A land cell without a value that month.
inline constexpr PdsiClass kNoValue{"", "no value", "#bdbdbd", 0xbd, 0xbd, 0xbd};

// The class of a stored value (not the missing value). Drought classes
// include their upper bound, wet classes their lower one.
constexpr int pdsi_class(float x) {
    if (x <= -4.0f) return 0;
    if (x <= -3.0f) return 1;
    if (x <= -2.0f) return 2;
    if (x <= -1.0f) return 3;
    if (x <= -0.5f) return 4;
    if (x < 0.5f) return 5;
    if (x < 1.0f) return 6;
    if (x < 2.0f) return 7;
    if (x < 3.0f) return 8;
    if (x < 4.0f) return 9;
    return 10;
}

}  // namespace maps
