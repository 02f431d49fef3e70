#pragma once
// The grid store: the span's months for the box's cells only, each cell's
// series contiguous in box order, so memory follows the box and the span.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "extract/box.h"
#include "parallel/huge_pages.h"

namespace extract {

class GridStore {
public:
    // A cell's series starts on a cache line, so that the reader's batches
    // of kLine months each fill whole lines.
    static constexpr size_t kLine = 64 / sizeof(float);

    GridStore(const Box& box, int32_t nmon) : GridStore(box, nmon, Unfilled{}) {
        std::fill_n(values_.get(), size(), 0.0f);
    }
    // For a reader that writes every value before anything reads one.
    struct Unfilled {};
    GridStore(const Box& box, int32_t nmon, Unfilled)
        : box_(box),
          nmon_(nmon),
          stride_((static_cast<size_t>(nmon) + kLine - 1) / kLine * kLine),
          values_(static_cast<float*>(::operator new[](size() * sizeof(float), std::align_val_t{64}))) {
        parallel::prefer_huge_pages(values_.get(), size() * sizeof(float));
    }

    const Box& box() const { return box_; }
    int32_t nmon() const { return nmon_; }
    // Months 1..nmon of cell n of the box, at [0..nmon).
    float* series(int32_t n) { return values_.get() + static_cast<size_t>(n - 1) * stride_; }
    const float* series(int32_t n) const { return values_.get() + static_cast<size_t>(n - 1) * stride_; }
    size_t stride() const { return stride_; }
    // pdsigrid(j, i, m) for a cell of the box.
    float& at(int32_t j, int32_t i, int32_t m) { return series(box_.cell(i, j))[m - 1]; }
    float at(int32_t j, int32_t i, int32_t m) const { return series(box_.cell(i, j))[m - 1]; }

private:
    struct Free {
        void operator()(float* p) const { ::operator delete[](p, std::align_val_t{64}); }
    };
    size_t size() const { return static_cast<size_t>(box_.nbox()) * stride_; }

    Box box_;
    int32_t nmon_;
    size_t stride_;  // floats from one cell's series to the next
    std::unique_ptr<float[], Free> values_;
};

// Read access to the series of a box of cells, wherever they are held: a
// store of that box, or a span and a box within a store of a larger one
// (the server's whole grid), without copying.
class GridView {
public:
    GridView(const GridStore& store)  // NOLINT: every store is a view of itself
        : box_(store.box()),
          nmon_(store.nmon()),
          base_(store.series(1)),
          row_step_(store.stride()),
          column_step_(row_step_ * static_cast<size_t>(store.box().nrows())) {}
    // Months first..first + nmon - 1 of the cells of `box`, which lies
    // within the store's box.
    GridView(const GridStore& store, const Box& box, int32_t first, int32_t nmon)
        : box_(box),
          nmon_(nmon),
          base_(store.series(store.box().cell(box.ilon1, box.jlat1)) + (first - 1)),
          row_step_(store.stride()),
          column_step_(row_step_ * static_cast<size_t>(store.box().nrows())) {}

    const Box& box() const { return box_; }
    int32_t nmon() const { return nmon_; }
    const float* series(int32_t n) const {
        const auto k = static_cast<size_t>(n - 1);
        const auto rows = static_cast<size_t>(box_.nrows());
        return base_ + (k / rows) * column_step_ + (k % rows) * row_step_;
    }

private:
    Box box_;
    int32_t nmon_;
    const float* base_;
    size_t row_step_;     // floats from a cell to the one north of it
    size_t column_step_;  // and to the one east of it
};

}  // namespace extract
