#pragma once
// What the home page draws and probes, from the grid in memory: one month
// of every cell, one cell's whole series, and the class table.
#include <cstdint>
#include <string>

#include "extract/grid_store.h"
#include "maps/palette.h"

namespace maps {

// A value as the files print it (two decimals, half away from zero), in
// hundredths; kNoHundredths for the missing value.
inline constexpr int32_t kNoHundredths = INT32_MIN;
int32_t hundredths(float x);

// The class code of a land cell without a value that month.
inline constexpr uint8_t kNoValueClass = kClasses;

// Month m (1 = January 1850) of every cell of `whole`, in its cell order:
// the cells' hundredths as little-endian int32, then their class codes as
// one byte each.
std::string month_bytes(const extract::GridView& whole, int32_t m);

// Cell n's series as JSON: {"first_year": Y, "values": [hundredths or null, ...]}.
std::string series_json(const extract::GridView& whole, int32_t n, int32_t first_year);

// The class table for the page: [{"label": ..., "colour": ...}, ...], the
// no-value entry last, indexed by the class codes.
std::string palette_json();

}  // namespace maps
