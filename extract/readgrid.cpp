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

// The failed record is record nrec + 1 of the file. Nothing has been
// written yet, so the output files are left as they were.
[[noreturn]] void report_read_failure(textio::Console& console, int32_t nrec, const Box& box) {
    static const textio::Layout report("(/25x,'Input file Format/Read data')");
    console.write_free({nrec, box.jlat1, box.jlat2, box.ilon1, box.ilon2});
    console.write(report, {});
    console.pause(" Hit RETURN to EXIT");
    textio::end_run();
}

}  // namespace

GridStore readgrid(textio::Console& console, const std::string& path, int32_t iyr1, int32_t iyr2, const Box& box) {
    const std::string unit = std::filesystem::path(path).filename().string();
    textio::FileSource in(path);
    if (!in.ok()) throw textio::IoError("Cannot open file", "open", unit);

    int32_t nrec = 0;
    auto skip = [&] {
        if (!in.skip()) throw textio::IoError(textio::kReadPastEnd, "formatted read", unit);
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
            if (!row || !rows.read(*row, values.data())) report_read_failure(console, nrec, box);
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
    }
    return store;
}

}  // namespace extract
