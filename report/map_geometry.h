#pragma once
// The page's map in grid units and its colour classes, and the time axis.
#include <cstdint>
#include <optional>
#include <span>

namespace report {

// A cell's square in the map's viewBox "0 0 144 72": one unit per
// 2.5 degrees, x from the west edge at -180, y from the north edge at 90.
struct CellRect {
    int32_t x, y;
};
CellRect cell_rect(float lat, float lon);

// The class of `value` among ascending `breaks`: how many breaks are at or
// below it (0 .. breaks.size()); -1 for no value.
int32_t colour_class(std::optional<float> value, std::span<const float> breaks);

// The classes of the map: by the fraction of missing months, or by the
// correlation of the estimate with the calibration months.
inline constexpr float kMissingBreaks[] = {0.05f, 0.1f, 0.25f, 0.5f, 0.75f, 1.0f};
inline constexpr float kFitBreaks[] = {0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 0.95f};

// Milliseconds since 1970-01-01 UTC at the start of a month (1..12).
int64_t month_ms(int32_t year, int32_t month);

}  // namespace report
