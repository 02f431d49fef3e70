#pragma once
// The time axis of the copies: days since 1850-01-01, months at their middle.
#include <cstdint>

namespace formats {

// Days from 1850-01-01 to the first day of `month` (1..13; 13 is January
// of the next year) of `year`.
double days_since_1850(int32_t year, int32_t month);

// The middle of the month: the time value the NetCDF copy gives it.
inline double mid_month(int32_t year, int32_t month) {
    return (days_since_1850(year, month) + days_since_1850(year, month + 1)) / 2.0;
}

}  // namespace formats
