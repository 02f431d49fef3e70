#include "qc/period_dialogue.h"

namespace qc {

namespace {

// Reads one year at `prompt` until it is an integer within low..high; the
// variable keeps its value over an answer that gives none, so it starts at 0.
void ask_year(textio::Console& console, const textio::Layout& prompt, int32_t& year, int32_t low,
              int32_t high) {
    static const textio::Layout invalid(
        "(/1x,'*** Invalid year ** > ',i4,'.'/2x,'Value must be between: ',i4,' - ',i4,'.')");
    for (;;) {
        console.write(prompt, {});
        if (console.read_free({year}) != textio::ReadStatus::ok) continue;
        if (year >= low && year <= high) return;
        console.write(invalid, {year, low, high});
        console.pause(" Hit return to change selection.");
    }
}

}  // namespace

CalibrationPeriod ask_calibration_period(textio::Console& console, int32_t iyr1, int32_t iyr2) {
    static const textio::Layout intro(
        "(/1x,'Enter the EOF analysis period now. This will ordinarily be the period'"
        "/1x,'of highest data quality over your region of interest.')");
    static const textio::Layout first("(/1x,'Enter the first year for EOF analysis',t45,'==> ',$)");
    static const textio::Layout last("(1x,'Enter the last year for EOF analysis',t45,'==> ',$)");

    CalibrationPeriod period;
    console.write(intro, {});
    ask_year(console, first, period.ieof1, iyr1, iyr2);
    // A last year before the first would leave no calibration months.
    ask_year(console, last, period.ieof2, period.ieof1, iyr2);
    return calibration_period(iyr1, iyr2, period.ieof1, period.ieof2);
}

CalibrationPeriod calibration_period(int32_t iyr1, int32_t iyr2, int32_t ieof1, int32_t ieof2) {
    CalibrationPeriod period;
    period.ieof1 = ieof1;
    period.ieof2 = ieof2;
    const int32_t nmon = 12 * (iyr2 - iyr1 + 1);
    period.ncal = 12 * (ieof2 - ieof1 + 1);
    period.npre = nmon - period.ncal;
    return period;
}

}  // namespace qc
