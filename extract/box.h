#pragma once
// The box: the block of grid columns and rows the user's rectangle covers,
// and the order its cells are numbered in (columns west to east, within a
// column rows south to north).
#include <cstdint>

#include "extract/grid_axes.h"

namespace extract {

struct Box {
    int32_t ilon1 = 1, ilon2 = 1, jlat1 = 1, jlat2 = 1;

    int32_t ncols() const { return ilon2 - ilon1 + 1; }
    int32_t nrows() const { return jlat2 - jlat1 + 1; }
    int32_t nbox() const { return ncols() * nrows(); }
    // Column and row of cell n (1-based), and the number of cell (i, j).
    int32_t column(int32_t n) const { return ilon1 + (n - 1) / nrows(); }
    int32_t row(int32_t n) const { return jlat1 + (n - 1) % nrows(); }
    int32_t cell(int32_t i, int32_t j) const { return (i - ilon1) * nrows() + (j - jlat1) + 1; }
};

// Each range ends at the first mid-point that reaches its bound. The bounds
// come clamped to the outermost mid-points with the lower one not above the
// upper one.
Box findbox(const GridAxes& axes, float latmin, float latmax, float lonmin, float lonmax);

}  // namespace extract
