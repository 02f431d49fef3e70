#pragma once
// The columnwise tables, "MonthlyPDSI_col.tsf" and "MonthlyPDSI_QC_col.tsf":
// a heading of cell numbers, then one record per month, its time value and
// the value of every cell. Records of more than 1000 cells go on on further
// lines.
#include <cstdint>

#include "textio/sink.h"

namespace qc {

// Time value of month k of a span starting in iyr1, in single precision.
float month_time(int32_t iyr1, int32_t k);

// values: nmon by ngrid, by columns. Blocks of months are formatted on
// `threads` threads and written in order, as one thread would write them.
void write_columnwise(textio::Sink& out, const float* values, int32_t nmon, int32_t ngrid,
                      int32_t iyr1, int32_t threads = 1);

}  // namespace qc
