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
    GridStore store(box, nmon);
    RowReader rows(box.ilon1, box.ilon2);
    std::vector<float> values(static_cast<size_t>(rows.count()));
    const size_t cell_stride = static_cast<size_t>(box.nrows()) * static_cast<size_t>(nmon);

    for (int32_t m = 1; m <= nmon; ++m) {
        skip();  // month header
        for (int32_t j = 1; j < box.jlat1; ++j) skip();
        for (int32_t j = box.jlat1; j <= box.jlat2; ++j) {
            const auto row = in.next();
            if (!row || !rows.read(*row, values.data())) report_read_failure(console, nrec, box);
            float* dst = &store.at(j, box.ilon1, m);
            for (size_t k = 0; k < values.size(); ++k) dst[k * cell_stride] = values[k];
            ++nrec;
        }
        for (int32_t j = box.jlat2 + 1; j <= kRows; ++j) skip();
    }
    return store;
}

}  // namespace extract
