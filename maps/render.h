#pragma once
// Maps and their legend as indexed PNGs, and what the service says about
// them: its capabilities, a pixel's cell, a refusal.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "maps/wms.h"

namespace maps {

// The grid's values as the caller holds them. Columns 0-based west to
// east, rows 0-based south to north, months 0-based from January of the
// first year.
struct GridSource {
    const void* data = nullptr;
    // The value as stored; extract::kMissing when the month has none.
    float (*value)(const void* data, int32_t column, int32_t row, int32_t month) = nullptr;
    // The cell has a value in some month.
    bool (*land)(const void* data, int32_t column, int32_t row) = nullptr;
};

// One month's cells as palette entries, column by column (index
// column * kRows + row).
std::vector<uint8_t> month_entries(const GridSource& grid, int32_t month);

std::string map_png(const std::vector<uint8_t>& entries, const MapRequest& request);

struct LegendSize {
    int32_t width, height;
};
LegendSize legend_size();
std::string legend_png();

// `service_url` is where the service answers (http://host/wms); the
// abstract is the data set's citation.
std::string capabilities(Version version, std::string_view service_url, std::string_view abstract);
// What lies under the request's pixel, as text/plain or JSON.
std::string feature_info(const InfoRequest& request, const GridSource& grid);
std::string exception_report(Version version, const WmsError& error);
// Content types of the capabilities and the refusals in each version.
std::string_view capabilities_type(Version version);
std::string_view exception_type(Version version);

}  // namespace maps
