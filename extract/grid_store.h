#pragma once
// The grid store: the span's months for the box's cells only, each cell's
// series contiguous in box order, so memory follows the box and the span.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "extract/box.h"

namespace extract {

class GridStore {
public:
    GridStore(const Box& box, int32_t nmon)
        : box_(box), nmon_(nmon), values_(static_cast<size_t>(box.nbox()) * static_cast<size_t>(nmon), 0.0f) {}

    const Box& box() const { return box_; }
    int32_t nmon() const { return nmon_; }
    // Months 1..nmon of cell n of the box, at [0..nmon).
    float* series(int32_t n) { return &values_[static_cast<size_t>(n - 1) * static_cast<size_t>(nmon_)]; }
    const float* series(int32_t n) const { return &values_[static_cast<size_t>(n - 1) * static_cast<size_t>(nmon_)]; }
    // pdsigrid(j, i, m) for a cell of the box.
    float& at(int32_t j, int32_t i, int32_t m) { return series(box_.cell(i, j))[m - 1]; }
    float at(int32_t j, int32_t i, int32_t m) const { return series(box_.cell(i, j))[m - 1]; }

private:
    Box box_;
    int32_t nmon_;
    std::vector<float> values_;
};

}  // namespace extract
