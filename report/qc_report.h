#pragma once
// What the page shows of the gap filling's report MonthlyPDSI_QC.out: per
// cell its neighbourhood, the outliers the screen removed from it, the
// components used and the fit of the estimate.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "textio/source.h"

namespace report {

struct CellFit {
    int32_t cell = 0;                 // the grid point number, 1-based
    float lat = 0.0f, lon = 0.0f;     // from its header line
    std::vector<int32_t> gpt;         // the neighbourhood
    std::vector<float> xmn, sig;      // calibration means and deviations, by gpt
    int32_t outliers = 0;             // values of this cell listed as outliers
    std::vector<int32_t> components;  // the components that enter the estimate
    std::optional<float> r, slope, intercept;  // the fit of the estimate
    std::string note;                 // why there is no fit, when there is none
};

// Reads the report's cell blocks in order. Throws runfiles::RunFileError,
// naming `at`, when the file is not such a report, its grid points do not
// run 1, 2, ..., or its last block is cut short.
std::vector<CellFit> read_qc_report(textio::LineSource& in, const std::string& at);

}  // namespace report
