#pragma once
// The checks and messages of `pdsi extract`, shared with every front end
// that takes the same request, so that all refuse the same input in the
// same words.
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/numbers.h"
#include "extract/readgrid.h"
#include "qc/orvqc5.h"

namespace cli {

// "SOUTH:NORTH" and "WEST:EAST": both bounds moved onto the grid, the lower
// not above the upper; a longitude past 180 is refused with its -180..180
// spelling. Each returns "" on success or what is wrong.
std::string parse_lat_span(std::string_view text, RealSpan& span);
std::string parse_lon_span(std::string_view text, RealSpan& span);
// The fraction of missing months a cell may have: a number, not negative.
std::string parse_fraction(std::string_view text, float& value);
// The calibration period inside the span; "" when it is.
std::string check_fill_within(const YearSpan& fill, const YearSpan& years);

// The failures of a run on its data, as the command words them (without
// its "pdsi extract: error: ").
std::string grid_read_message(const std::string& grid, const extract::GridReadFailure& failure);
std::string grid_ended_message(const std::string& grid, int32_t nrec, int32_t iyr2);
std::string stage_failure(const qc::StageOutcome& outcome);

}  // namespace cli
