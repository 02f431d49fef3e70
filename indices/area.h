#pragma once
// How much of a request's area is in each of Palmer's classes: month by
// month, the kept cells' mean PDSI weighted by their area (the cosine of
// the mid-point's latitude) and the share of that area in each class.
// Values are taken as the text files store them, two decimals, so a run
// read back and the grid in memory give the same figures.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "extract/grid_store.h"
#include "formats/writers.h"
#include "maps/palette.h"
#include "runfiles/run_data.h"

namespace indices {

struct AreaMonth {
    int32_t cells = 0;  // kept cells with a value; 0: the figures are empty
    double mean = 0.0;
    std::array<double, maps::kClasses> share{};  // percent of the area
};

struct AreaSeries {
    int32_t iyr1 = 0, iyr2 = -1;
    bool filled = false;  // the gap-filled series, else the observed one
    // The outermost mid-points of the kept cells: south, north, west, east.
    std::optional<std::array<float, 4>> box;
    std::vector<AreaMonth> months;  // from January iyr1
};

// A grid value that has no two-decimal text of six columns: the text files
// cannot hold it, so a figure from memory would not be the files'.
class NotStorable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A run read back; filled runs give the series of the NetCDF copy's
// pdsi_filled. A run that kept no cell tells no span: `span` is the
// request's, when the caller knows it.
AreaSeries area_of_run(const runfiles::RunData& run, std::optional<std::pair<int32_t, int32_t>> span = {},
                       int32_t threads = 1);

// The kept cells of a box in memory (keep[n - 1] != 0 for cell n), months
// from January `iyr1`, as the extraction would write and read them back.
// Throws NotStorable.
AreaSeries area_of_view(const extract::GridView& view, const std::vector<int32_t>& keep, int32_t iyr1,
                        int32_t threads = 1);

// MonthlyPDSI_area.csv: the header, then one CRLF row per month.
std::string area_csv(const AreaSeries& series);
// Both under a temporary name renamed onto `out`; throw FormatError.
void write_area_csv(const AreaSeries& series, const std::filesystem::path& out);
void write_area_netcdf(const AreaSeries& series, const formats::Provenance& made, const std::filesystem::path& out);

}  // namespace indices
