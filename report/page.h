#pragma once
// The report page of a run: one self-contained HTML file.
#include <cstdint>
#include <filesystem>
#include <string>

#include "report/report_data.h"

namespace report {

inline constexpr const char* kPageName = "MonthlyPDSI_report.html";

// The page's text. `program` names the program and its version.
std::string render_page(const ReportData& data, const std::string& program);

// A series as three characters a month: hundredths, or no value.
std::string pack_series(const float* values, int32_t nmon);

// Reads the run in `dir` and writes its page there, under a temporary name
// first so that a failure leaves no partial page. Returns the page's size.
// Throws runfiles::RunFileError.
uintmax_t write_page(const std::filesystem::path& dir, const std::string& program);

}  // namespace report
