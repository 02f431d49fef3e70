#pragma once
// The map service's requests, typed: what a WMS client asks for once its
// parameters have been read, checked and put into the grid's terms.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/grid_axes.h"

namespace maps {

inline constexpr std::string_view kLayer = "pdsi";
inline constexpr std::string_view kStyle = "palmer";
inline constexpr int32_t kMaxPixels = 4096;  // a side of a map
// Months since January of the first year; the last is the default.
inline constexpr int32_t kMonths = 12 * (extract::kLastYear - extract::kFirstYear + 1);
// The grid's outer edges: its cells are 2.5 degrees, the first mid-points
// half a cell inside.
inline constexpr double kCellDegrees = 2.5;
inline constexpr double kWestEdge = -180.0, kSouthEdge = -60.0;
inline constexpr double kEastEdge = kWestEdge + kCellDegrees * extract::kColumns;
inline constexpr double kNorthEdge = kSouthEdge + kCellDegrees * extract::kRows;

enum class Version { v111, v130 };

// A refusal as the service reports it: a standard code (empty when none
// fits) and one line naming the parameter.
struct WmsError {
    std::string code;
    std::string message;
};

// The map's rectangle in longitude and latitude, whatever the axis order
// the request wrote it in, and its size in pixels.
struct MapFrame {
    double west = 0, south = 0, east = 0, north = 0;
    int32_t width = 0, height = 0;

    // Column (0-based, west to east) of the grid cell under pixel column
    // x, or -1 off the grid; row (0-based, south to north) under pixel row
    // y (0 at the top), or -1. A pixel takes the cell under its centre.
    int32_t column_at(int32_t x) const;
    int32_t row_at(int32_t y) const;
};

struct MapRequest {
    Version version = Version::v130;
    MapFrame frame;
    int32_t month = kMonths - 1;
    bool transparent = false;
    uint32_t background = 0xffffff;  // 0xRRGGBB, drawn where no land is when not transparent
};

struct InfoRequest {
    MapRequest map;
    int32_t x = 0, y = 0;  // the pixel asked about, 0 at the top left
    bool json = false;     // else text/plain
};

struct WmsRequest {
    enum class Kind { capabilities, map, legend, info } kind = Kind::capabilities;
    Version version = Version::v130;
    MapRequest map;  // map and info
    InfoRequest info;
};

// The version a request's answer, or its refusal, is written in:
// VERSION (WMTVER of old clients) below 1.3.0 is 1.1.1, anything else
// 1.3.0.
Version wms_version(const std::vector<std::pair<std::string, std::string>>& args);

// Reads the decoded query arguments (names in any case, values not).
// Throws WmsError.
WmsRequest parse_wms(const std::vector<std::pair<std::string, std::string>>& args);

// "1850-01" for month 0.
std::string month_name(int32_t month);

// The request as a cache key: equal for requests that give the same bytes.
std::string request_key(const WmsRequest& request);

}  // namespace maps
