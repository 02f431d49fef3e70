#pragma once
// Everything the page shows, read from a run's folder.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/qc_report.h"
#include "runfiles/run_data.h"

namespace report {

struct ReportData {
    runfiles::RunData run;
    std::vector<CellFit> fits;  // by cell, as far as the gap filling's report goes
    bool stopped_early = false; // the gap filling stopped before the last cell
    std::optional<std::pair<int32_t, int32_t>> calibration;
    std::vector<std::string> files;  // the files read, by name
};

// Reads the run in `dir`: the extraction's files, and the gap filling's
// when they belong to this run. Throws runfiles::RunFileError.
ReportData read_report_data(const std::filesystem::path& dir);

// The calibration years, from the calibration means the report lists: the
// one span of last years over which the cells' screened values give them.
std::optional<std::pair<int32_t, int32_t>> infer_calibration(const runfiles::RunData& run,
                                                             const std::vector<CellFit>& fits);

}  // namespace report
