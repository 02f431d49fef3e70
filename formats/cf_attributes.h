#pragma once
// The CF attributes of the grid's variables, as every copy declares them:
// the NetCDF copy and the Zarr stores read the same texts.

namespace formats::cf {

struct Attribute {
    const char* name;
    const char* text;
};

inline constexpr Attribute kTime[] = {
    {"units", "days since 1850-01-01 00:00:00"},
    {"calendar", "standard"},
    {"standard_name", "time"},
    {"axis", "T"},
    {"bounds", "time_bnds"},
    {"comment", "the middle of the month; the bounds are its first day and the next month's"},
};
inline constexpr Attribute kLat[] = {
    {"units", "degrees_north"}, {"standard_name", "latitude"}, {"axis", "Y"}, {"bounds", "lat_bnds"}};
inline constexpr Attribute kLon[] = {
    {"units", "degrees_east"}, {"standard_name", "longitude"}, {"axis", "X"}, {"bounds", "lon_bnds"}};

inline constexpr const char* kPdsiLongName = "Palmer Drought Severity Index";
// After the long name, on every field.
inline constexpr Attribute kField[] = {{"units", "1"}, {"cell_methods", "time: mean"}};

inline constexpr const char* kConventions = "CF-1.8";
inline constexpr const char* kTitle = "Monthly Palmer Drought Severity Index on the 2.5-degree land grid";

}  // namespace formats::cf
