#pragma once
// The grid store: the span's months for the box's cells only, each cell's
// series contiguous in box order, so memory follows the box and the span.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "extract/box.h"
#include "parallel/huge_pages.h"

namespace extract {

class GridStore {
public:
    GridStore(const Box& box, int32_t nmon) : GridStore(box, nmon, Unfilled{}) {
        std::fill_n(values_.get(), size(), 0.0f);
    }
    // For a reader that writes every value before anything reads one.
    struct Unfilled {};
    GridStore(const Box& box, int32_t nmon, Unfilled)
        : box_(box), nmon_(nmon), values_(std::make_unique_for_overwrite<float[]>(size())) {
        parallel::prefer_huge_pages(values_.get(), size() * sizeof(float));
    }

    const Box& box() const { return box_; }
    int32_t nmon() const { return nmon_; }
    // Months 1..nmon of cell n of the box, at [0..nmon).
    float* series(int32_t n) { return values_.get() + static_cast<size_t>(n - 1) * static_cast<size_t>(nmon_); }
    const float* series(int32_t n) const { return values_.get() + static_cast<size_t>(n - 1) * static_cast<size_t>(nmon_); }
    // pdsigrid(j, i, m) for a cell of the box.
    float& at(int32_t j, int32_t i, int32_t m) { return series(box_.cell(i, j))[m - 1]; }
    float at(int32_t j, int32_t i, int32_t m) const { return series(box_.cell(i, j))[m - 1]; }

private:
    size_t size() const { return static_cast<size_t>(box_.nbox()) * static_cast<size_t>(nmon_); }

    Box box_;
    int32_t nmon_;
    std::unique_ptr<float[]> values_;
};

}  // namespace extract
