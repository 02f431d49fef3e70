#pragma once
// Writes grid files in the layout the reader expects: a header line, then
// month blocks from January 1850, each a month header and 55 data rows of
// 144 seven-character fields (a value in F6.2 and one blank).
#include <cstdint>
#include <functional>
#include <string>

namespace tools {

inline constexpr int32_t kColumns = 144;
inline constexpr int32_t kRows = 55;
inline constexpr int32_t kMonths = 1932;

// value(i, j, m): column i (1..144), row j (1..55), data-set month m
// (1 = January 1850), all 1-based. Writes `nmonths` month blocks.
void write_grid_file(const std::string& path, int32_t nmonths,
                     const std::function<float(int32_t i, int32_t j, int32_t m)>& value);

}  // namespace tools
