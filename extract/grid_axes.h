#pragma once
// Mid-point tables of the 2.5 degree grid: xlon(i), i = 1..144 west to east,
// ylat(j), j = 1..55 south to north, both 1-based.
#include <array>
#include <cstdint>

namespace extract {

inline constexpr int32_t kColumns = 144;
inline constexpr int32_t kRows = 55;
inline constexpr int32_t kFirstYear = 1850;
inline constexpr int32_t kLastYear = 2010;
inline constexpr float kMissing = -99.9f;

struct GridAxes {
    // Built by adding 2.5 to the first mid-point; every entry is a multiple
    // of 0.25, so exact, and coordinates can be compared with ==.
    GridAxes() {
        x_[0] = -178.75f;
        for (int32_t i = 1; i < kColumns; ++i) x_[i] = x_[i - 1] + 2.5f;
        y_[0] = -58.75f;
        for (int32_t j = 1; j < kRows; ++j) y_[j] = y_[j - 1] + 2.5f;
    }
    float xlon(int32_t i) const { return x_[i - 1]; }
    float ylat(int32_t j) const { return y_[j - 1]; }

private:
    std::array<float, kColumns> x_;
    std::array<float, kRows> y_;
};

}  // namespace extract
