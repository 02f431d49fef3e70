#include "extract/readgrid.h"

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
    // a few months are kept as read and then moved over together, so that
    // the stores fill whole cache lines instead of one value per cell.
    constexpr int32_t kStaged = 64;
    std::vector<float> staged(static_cast<size_t>(kStaged) * nbox);
    auto move_over = [&](int32_t first, int32_t count) {
        for (size_t c = 0; c < ncols; ++c) {
            for (size_t r = 0; r < nrows; ++r) {
                float* dst = store.series(static_cast<int32_t>(c * nrows + r + 1)) + (first - 1);
                const float* src = &staged[r * ncols + c];
                for (int32_t t = 0; t < count; ++t) dst[t] = src[static_cast<size_t>(t) * nbox];
            }
        }
    };

    int32_t first_staged = 1;
    for (int32_t m = 1; m <= nmon; ++m) {
        float* month = &staged[static_cast<size_t>(m - first_staged) * nbox];
        skip();  // month header
        for (int32_t j = 1; j < box.jlat1; ++j) skip();
        for (int32_t j = box.jlat1; j <= box.jlat2; ++j) {
            const auto row = in.next();
            if (!row || !rows.read(*row, month + static_cast<size_t>(j - box.jlat1) * ncols))
                report_read_failure(console, nrec, box);
            ++nrec;
        }
        for (int32_t j = box.jlat2 + 1; j <= kRows; ++j) skip();
        if (m - first_staged + 1 == kStaged || m == nmon) {
            move_over(first_staged, m - first_staged + 1);
            first_staged = m + 1;
        }
    }
    return store;
}

}  // namespace extract
