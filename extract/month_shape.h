#pragma once
// Most grid files are written with fixed widths: a month's header line has
// a length that depends on its month of the year alone (it names it), and
// every row has one length. A file seen to be so can be read ahead at
// computed offsets by many threads, each part checked to have its line
// feeds exactly where the shape puts them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace extract {

struct MonthShape {
    std::array<size_t, 12> header;  // bytes of the header line of each month of the year, line feed included
    size_t row;                     // bytes of a row, line feed included
    // Bytes of `count` months from month of the year `first` (0 = January) on.
    size_t bytes(int32_t first, int32_t count) const;
};

// The shape of `months` (at least 12) whole months from a January on, laid
// out in `bytes`, if they have one.
std::optional<MonthShape> shape_of(std::string_view bytes, int32_t months);

// Whether `bytes` are `months` whole months of this shape from month of the
// year `first` on: every line feed is where the shape puts one, and none
// is elsewhere.
bool has_shape(std::string_view bytes, const MonthShape& shape, int32_t first, int32_t months);

}  // namespace extract
