#pragma once
// Readers of the two extraction files, "MonthlyPDSI.xy" and "MonthlyPDSI.tsf".
#include <cstdint>
#include <vector>

#include "qc/stage_data.h"
#include "textio/source.h"

namespace qc {

// Skips the three header lines, then takes every line that reads as two
// numbers (longitude, latitude) to the end of the file; other lines are
// passed over without a word.
void read_coordinates(textio::LineSource& in, std::vector<float>& lats, std::vector<float>& lons);

// Skips the three header lines of the data file; false when it ends first.
bool skip_data_header(textio::LineSource& in);

enum class CellsRead { ok, mismatch, early_end };

// Reads the header line and the nmon values of cells 1..ngrid. A candidate
// header that does not read as two numbers is skipped; `matched` counts the
// headers found at their coordinates. A value field that is no number is
// an input error (IoError). The values are parsed on `threads` threads.
CellsRead read_cells(textio::LineSource& in, StageData& data, int32_t& matched, int32_t threads = 1);

}  // namespace qc
