#pragma once
// pdsi's values from the grid as held, for the answers that send them
// (the OPeNDAP field, the Zarr chunks): a view of the store when the grid
// is sound; otherwise the reader on the start's copy, for the years and
// the box that cover the slab, meeting the damage as `pdsi extract` would,
// kept for the next slab it covers.
#include <optional>

#include "dap/dataset.h"
#include "serve/products.h"
#include "serve/loaded_grid.h"

namespace serve {

class GridValues : public dap::Values {
public:
    GridValues(const LoadedGrid& grid, const Budget& budget) : grid_(grid), budget_(budget) {}

    // Throws dap::Failure: 422 with the command's message where the slab
    // meets the damage, 503 or 504 when the server stops or time is up.
    void read(const dap::Slab& s, float* out) const override;

private:
    // The years and the box that cover a slab, as read.
    struct Held {
        int32_t iyr1, iyr2;
        extract::Box box;
        BoxData data;
        bool covers(const dap::Slab& s) const;
    };
    Held load(const dap::Slab& s) const;

    const LoadedGrid& grid_;
    const Budget& budget_;
    mutable std::optional<Held> held_;
};

}  // namespace serve
