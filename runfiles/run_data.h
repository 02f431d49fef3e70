#pragma once
// A run's text files read into one value: the extraction's MonthlyPDSI.tsf
// and MonthlyPDSI.xy and, when the gap filling ran, its MonthlyPDSI_QC.tsf.
// The NetCDF and CSV writers and the report page take what this holds and
// nothing else; every value is the text's own two decimals read as float.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace runfiles {

inline constexpr float kMissing = -99.9f;  // the text's marker, read back

struct Cell {
    float lat = 0.0f;    // mid-point, degrees north
    float lon = 0.0f;    // mid-point, degrees east
    std::string header;  // the cell's header line as in MonthlyPDSI.tsf, trailing blanks dropped
};

struct RunData {
    // The span. A run that kept no cell tells no span: then iyr1 = 0,
    // iyr2 = -1 and nmon() = 0, unless the caller knows it (set_span).
    int32_t iyr1 = 0, iyr2 = -1;
    std::vector<std::string> citation;  // the three citation lines, leading blank dropped
    std::vector<Cell> cells;            // in file order
    // nmon() values per cell, cell after cell: values[c * nmon() + k] is
    // month k (0 = January of iyr1) of cell c; kMissing where missing.
    std::vector<float> values;
    // The gap filling's estimates, shaped as values; empty when the run
    // was not filled.
    std::vector<float> estimates;
    // The calibration years: no file states them, so the reader leaves
    // this empty; a caller that ran the stage may set it.
    std::optional<std::pair<int32_t, int32_t>> calibration;

    int32_t nyrs() const { return iyr2 - iyr1 + 1; }
    int32_t nmon() const { return 12 * nyrs(); }
    int32_t ncells() const { return static_cast<int32_t>(cells.size()); }
    bool filled() const { return !estimates.empty(); }
    const float* series(int32_t c) const { return values.data() + static_cast<size_t>(c) * nmon(); }
    const float* estimate(int32_t c) const { return estimates.data() + static_cast<size_t>(c) * nmon(); }
};

// A file of the run that cannot be used: what() names the file and, where
// there is one, the line and the cell.
class RunFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the run in `dir`. The gap filling's file is taken when it is
// present and not older than MonthlyPDSI.tsf (an older one belongs to an
// earlier run in the same folder). Throws RunFileError.
RunData read_run(const std::filesystem::path& dir);

}  // namespace runfiles
