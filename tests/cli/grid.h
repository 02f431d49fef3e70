#pragma once
// A small grid of 36 months (1850-1852) for the command's runs: land with
// ocean cells scattered over it, gaps, cells too gappy for a fraction of
// 0.5 and a few gross outliers.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tools/grid_writer.h"

namespace cli_test {

inline uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    return x ^ (x >> 16);
}

inline float grid_value(int32_t i, int32_t j, int32_t m) {
    if (j < 8 || j > 52 || (i * 7 + j * 13) % 10 == 0) return -99.9f;  // ocean
    const uint32_t h = mix(static_cast<uint32_t>(i * 7919 + j * 104729 + m * 31));
    const bool gappy = (i + j) % 9 == 0;
    if (h % 100 < (gappy ? 60u : 8u)) return -99.9f;
    if (h % 997 == 5) return 12.0f;
    const float v = 3.0f * std::sin(0.2f * static_cast<float>(m) + 0.1f * static_cast<float>(i)) +
                    2.0f * std::cos(0.13f * static_cast<float>(m) + 0.05f * static_cast<float>(j)) +
                    static_cast<float>(h % 200) / 100.0f - 1.0f;
    return std::round(v * 100.0f) / 100.0f;
}

inline constexpr int32_t kGridMonths = 36;

inline void write_grid(const std::filesystem::path& path) { tools::write_grid_file(path.string(), kGridMonths, grid_value); }

}  // namespace cli_test
