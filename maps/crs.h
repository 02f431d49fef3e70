#pragma once
// The grid's coordinate system, WGS 84 longitude/latitude (EPSG:4326), as
// every copy declares it: CF's grid_mapping attributes and its WKT.
#include <string_view>

namespace maps {

inline constexpr std::string_view kGridMappingName = "latitude_longitude";
inline constexpr double kSemiMajorAxis = 6378137.0;
inline constexpr double kInverseFlattening = 298.257223563;
inline constexpr double kPrimeMeridian = 0.0;
inline constexpr std::string_view kEpsg = "EPSG:4326";
// One line, as GDAL's netCDF driver and the Zarr clients read `crs_wkt`.
inline constexpr std::string_view kCrsWkt =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
    "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],"
    "PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
    "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
    "AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";

}  // namespace maps
