#pragma once
// A cell's listing block in the report "MonthlyPDSI_QC.out": its number and
// header line between rules, then the cells of its neighbourhood.
#include <cstdint>
#include <string>

#include "textio/sink.h"

namespace qc {

void write_listing(textio::Sink& report, int32_t c, const std::string& hdr, const int32_t* gpt,
                   const float* glat, const float* glon, int32_t nfound);

}  // namespace qc
