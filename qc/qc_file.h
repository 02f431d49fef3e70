#pragma once
// The QC file "MonthlyPDSI_QC.tsf": per cell its header line and its year
// records of estimates; and the reading of it back.
#include <cstdint>
#include <string>

#include "qc/stage_data.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace qc {

void write_cell_header(textio::Sink& out, const std::string& hdr);
// nyrs records "(i5,12f7.2)" from est[0..12 nyrs - 1].
void write_cell_years(textio::Sink& out, const float* est, int32_t iyr1, int32_t nyrs);

// Reads back the header line and nmon values of cells 1..ngrid into hdr and
// est. Fields the writer could not show as a number (asterisks, NaN, INF)
// come back as the missing value. False when the file ends first; `nread`
// counts the cells read back whole. Other bad fields are an input error.
// The values are parsed on `threads` threads.
bool read_back(textio::LineSource& in, StageData& data, int32_t& nread, int32_t threads = 1);

}  // namespace qc
