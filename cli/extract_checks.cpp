#include "cli/extract_checks.h"

#include <cstdio>

#include "extract/request.h"

namespace cli {

namespace {

constexpr int32_t kBlock = 56;  // month header and 55 rows

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

std::string shown(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string midpoint(float lat, float lon) { return shown(lat) + ", " + shown(lon); }

// Record r of the grid file: 1 is the header, then blocks of a month header
// and its rows.
std::string record_place(int32_t record) {
    if (record <= 1) return "the file header";
    const int32_t k = record - 2;
    const int32_t month = k / kBlock;
    const int32_t row = k % kBlock;
    const std::string when = std::string(kMonths[month % 12]) + " " + std::to_string(1850 + month / 12);
    return row == 0 ? "the header of " + when : "grid row " + std::to_string(row) + " of " + when;
}

std::string cells_held(int32_t cell) {
    if (cell <= 1) return "hold no cell";
    if (cell == 2) return "hold cell 1 only";
    return "hold cells 1 to " + std::to_string(cell - 1) + " only";
}

template <float (*clamp_low)(float), float (*clamp_high)(float)>
std::string parse_box_side(std::string_view text, RealSpan& span, const char* low_name, const char* high_name) {
    RealSpan parsed;
    if (auto error = parse_real_span(text, parsed); !error.empty()) return error;
    parsed.low = clamp_low(parsed.low);
    parsed.high = clamp_high(parsed.high);
    if (extract::inverted(parsed.low, parsed.high))
        return std::string("the ") + low_name + " bound is above the " + high_name +
               " bound after moving both onto the grid's outermost mid-points (" + shown(parsed.low) + " > " +
               shown(parsed.high) + ")";
    span = parsed;
    return "";
}

}  // namespace

std::string parse_lat_span(std::string_view text, RealSpan& span) {
    return parse_box_side<extract::clamp_south, extract::clamp_north>(text, span, "south", "north");
}

std::string parse_lon_span(std::string_view text, RealSpan& span) {
    return parse_box_side<extract::clamp_west, extract::clamp_east>(text, span, "west", "east");
}

std::string parse_fraction(std::string_view text, float& value) {
    float parsed = 0.0f;
    std::string error = parse_real(text, parsed);
    if (error.empty() && parsed < 0.0f) error = "the fraction must not be negative";
    if (error.empty()) value = parsed;
    return error;
}

std::string check_fill_within(const YearSpan& fill, const YearSpan& years) {
    if (fill.first >= years.first && fill.last <= years.last) return "";
    return "the calibration period " + std::to_string(fill.first) + ":" + std::to_string(fill.last) +
           " lies outside the span " + std::to_string(years.first) + ":" + std::to_string(years.last);
}

std::string grid_read_message(const std::string& grid, const extract::GridReadFailure& failure) {
    const int32_t record = failure.nrec + 1;
    return grid + ": record " + std::to_string(record) + " (" + record_place(record) +
           ") cannot be read: " + failure.fault + "; nothing was written";
}

std::string grid_ended_message(const std::string& grid, int32_t nrec, int32_t iyr2) {
    return grid + ": the file ends after record " + std::to_string(nrec) + ", before December " +
           std::to_string(iyr2) + "; it is cut short";
}

// The stage's failures other than a lone cell need files changed under its
// feet: say what it found.
std::string stage_failure(const qc::StageOutcome& outcome) {
    using End = qc::StageOutcome::End;
    switch (outcome.end) {
        case End::file_not_found: return "the gap filling found no " + outcome.file;
        case End::data_header_missing: return "the gap filling found MonthlyPDSI.tsf without its header";
        case End::mismatch: return "MonthlyPDSI.tsf and MonthlyPDSI.xy do not describe the same cells";
        case End::early_end:
            return "MonthlyPDSI.tsf ends after " + std::to_string(outcome.count) + " of " +
                   std::to_string(outcome.ngrid) + " cells";
        case End::qc_read_back:
            return "MonthlyPDSI_QC.tsf read back only " + std::to_string(outcome.count) + " of " +
                   std::to_string(outcome.ngrid) + " cells";
        case End::lone_cell:
            return "the gap filling stopped at cell " + std::to_string(outcome.cell) + " (" +
                   midpoint(outcome.lat, outcome.lon) +
                   "): it has no neighbour within 5.0 degrees; MonthlyPDSI_QC.tsf and MonthlyPDSI_QC.out " +
                   cells_held(outcome.cell) + ", MonthlyPDSI_QC_col.tsf was not written";
        case End::complete: break;
    }
    return "";
}

}  // namespace cli
