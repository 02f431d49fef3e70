#pragma once
// What the gridded copies share: the smallest rectangle of the grid that
// holds a run's cells, and the series they hold for a cell and month.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/series.h"
#include "runfiles/run_data.h"

namespace formats {

inline constexpr float kStep = 2.5f, kHalf = 1.25f;
inline constexpr float kFill = runfiles::kMissing;  // the text's marker and the files' agree

struct Rectangle {
    float south = 0.0f, west = 0.0f;
    size_t nlat = 0, nlon = 0;

    explicit Rectangle(const runfiles::RunData& data) {
        if (data.cells.empty()) return;
        float north = data.cells[0].lat, east = data.cells[0].lon;
        south = north;
        west = east;
        for (const auto& cell : data.cells) {
            south = std::min(south, cell.lat);
            north = std::max(north, cell.lat);
            west = std::min(west, cell.lon);
            east = std::max(east, cell.lon);
        }
        nlat = static_cast<size_t>(std::lround((north - south) / kStep)) + 1;
        nlon = static_cast<size_t>(std::lround((east - west) / kStep)) + 1;
    }
    float lat(size_t j) const { return south + kStep * static_cast<float>(j); }
    float lon(size_t i) const { return west + kStep * static_cast<float>(i); }
    // Rows from the south, as the NetCDF copy's lat axis runs.
    size_t offset(const runfiles::Cell& cell) const {
        const auto j = static_cast<size_t>(std::lround((cell.lat - south) / kStep));
        const auto i = static_cast<size_t>(std::lround((cell.lon - west) / kStep));
        return j * nlon + i;
    }
};

// Months k0 .. k0 + n - 1 of every cell, month after month, each month a
// map of `map` places with cell c at where[c]; the fill value elsewhere.
inline void fill_months(const runfiles::RunData& data, Series which, const std::vector<size_t>& where, size_t map,
                        size_t k0, size_t n, std::vector<float>& block) {
    block.assign(n * map, kFill);
    for (size_t c = 0; c < where.size(); ++c)
        for (size_t k = 0; k < n; ++k)
            block[k * map + where[c]] = value_of(data, which, static_cast<int32_t>(c), static_cast<int32_t>(k0 + k));
}

}  // namespace formats
