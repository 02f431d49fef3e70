#pragma once
// The calibration ("EOF analysis") period dialogue.
#include <cstdint>

#include "textio/console.h"

namespace qc {

struct CalibrationPeriod {
    int32_t ieof1 = 0;  // years as entered
    int32_t ieof2 = 0;
    int32_t ncal = 0;   // calibration months: the last ncal months of the span
    int32_t npre = 0;   // months before it
};

// The period of years ieof1..ieof2 in the span iyr1..iyr2; only its
// length counts.
CalibrationPeriod calibration_period(int32_t iyr1, int32_t iyr2, int32_t ieof1, int32_t ieof2);

// Asks until the first year lies in iyr1..iyr2 and the last in ieof1..iyr2.
CalibrationPeriod ask_calibration_period(textio::Console& console, int32_t iyr1, int32_t iyr2);

}  // namespace qc
