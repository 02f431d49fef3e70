#pragma once
// The shape of a run's .tsf files checked line by line, so that a file cut
// short or edited is refused with the line that is wrong; the values are
// then read by the gap filling's own readers.
#include <cstdint>
#include <string>
#include <vector>

#include "runfiles/run_data.h"
#include "textio/source.h"

namespace runfiles {

// The year in columns 1 to 5 of a year record, or -1.
int32_t record_year(std::string_view line);

// The span of MonthlyPDSI.tsf: from the year of the first cell's first
// record to that of `last_line`, the file's last line that is not blank.
// Needs data.cells not empty.
void infer_span(textio::LineSource& in, const std::string& last_line, const std::string& at, RunData& data);

// MonthlyPDSI.tsf: three citation lines (into data.citation), then per cell
// of `cells` its header at the cell's mid-point and a year record for every
// year of the span, nothing after. `at` names the file.
void check_data_file(textio::LineSource& in, const std::string& at, RunData& data);

// MonthlyPDSI_QC.tsf: per cell its header at the cell's mid-point and the
// span's year records, nothing after.
void check_qc_file(textio::LineSource& in, const std::string& at, const RunData& data);

// The first year record of `in` after line `skip` whose twelve values do
// not read, as "line N"; empty when every one reads. For the message of a
// failed read.
std::string first_unreadable_record(textio::LineSource& in, int32_t skip);

}  // namespace runfiles
