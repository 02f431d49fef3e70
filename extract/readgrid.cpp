#include "extract/readgrid.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "extract/grid_axes.h"
#include "extract/row_reader.h"
#include "textio/errors.h"
#include "textio/source.h"

namespace extract {

namespace {

constexpr int32_t kBlock = 1 + kRows;  // month header and its data rows

}  // namespace

GridStore readgrid(const std::string& path, int32_t iyr1, int32_t iyr2, const Box& box, textio::Progress* progress) {
    const std::string unit = std::filesystem::path(path).filename().string();
    textio::FileSource in(path);
    if (!in.ok()) throw textio::IoError("Cannot open file", "open", unit);

    int32_t nrec = 0;
    auto skip = [&] {
        if (!in.skip()) throw GridEnded(unit, nrec);
        ++nrec;
    };

    skip();  // file header
    const int32_t months_before = 12 * (iyr1 - kFirstYear);
    for (int32_t k = 0; k < months_before * kBlock; ++k) skip();

    const int32_t nmon = 12 * (iyr2 - iyr1 + 1);
    GridStore store(box, nmon, GridStore::Unfilled{});
    RowReader rows(box.ilon1, box.ilon2);
    const size_t ncols = static_cast<size_t>(box.ncols());
    const size_t nrows = static_cast<size_t>(box.nrows());
    const size_t nbox = ncols * nrows;

    // Rows come month by month but a cell's series runs along the months:
    // a few months of each cell are gathered here, cell by cell, and then
    // copied over in one piece per cell, so that the store is written a
    // cache line at a time instead of one value per cell.
    constexpr size_t kStaged = 16;
    std::vector<float> staged(kStaged * nbox);
    std::vector<float> values(ncols);
    auto move_over = [&](int32_t first, size_t count) {
        for (size_t n = 0; n < nbox; ++n) {
            float* dst = store.series(static_cast<int32_t>(n + 1)) + (first - 1);
            const float* src = &staged[n * kStaged];
            if (count == kStaged) std::memcpy(dst, src, kStaged * sizeof(float));
            else std::memcpy(dst, src, count * sizeof(float));
        }
    };

    int32_t first_staged = 1;
    for (int32_t m = 1; m <= nmon; ++m) {
        const size_t t = static_cast<size_t>(m - first_staged);
        skip();  // month header
        for (int32_t j = 1; j < box.jlat1; ++j) skip();
        for (int32_t j = box.jlat1; j <= box.jlat2; ++j) {
            const auto row = in.next();
            if (!row) throw GridReadFailure{nrec, box, "the file ends before it"};
            if (!rows.read(*row, values.data())) throw GridReadFailure{nrec, box, rows.fault(*row)};
            ++nrec;
            // Cell number c * nrows + r + 1 for column c and row r of the box.
            float* to = &staged[static_cast<size_t>(j - box.jlat1) * kStaged + t];
            for (size_t c = 0; c < ncols; ++c) to[c * nrows * kStaged] = values[c];
        }
        for (int32_t j = box.jlat2 + 1; j <= kRows; ++j) skip();
        if (t + 1 == kStaged || m == nmon) {
            move_over(first_staged, t + 1);
            first_staged = m + 1;
        }
        if (progress) progress->advance(m, nmon);
    }
    return store;
}

}  // namespace extract
