#include "report/map_geometry.h"

#include <chrono>
#include <cmath>

namespace report {

CellRect cell_rect(float lat, float lon) {
    // Mid-points are odd multiples of 1.25: the edges fall on whole units.
    const float west = lon - 1.25f, north = lat + 1.25f;
    return {static_cast<int32_t>(std::lround((west + 180.0f) / 2.5f)),
            static_cast<int32_t>(std::lround((90.0f - north) / 2.5f))};
}

int32_t colour_class(std::optional<float> value, std::span<const float> breaks) {
    if (!value || std::isnan(*value)) return -1;
    int32_t k = 0;
    while (k < static_cast<int32_t>(breaks.size()) && breaks[k] <= *value) ++k;
    return k;
}

int64_t month_ms(int32_t year, int32_t month) {
    using namespace std::chrono;
    const sys_days day = year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                        std::chrono::day{1}};
    return duration_cast<milliseconds>(day.time_since_epoch()).count();
}

}  // namespace report
