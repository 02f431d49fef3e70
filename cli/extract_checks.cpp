#include "cli/extract_checks.h"

#include <cstdio>
#include <utility>

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

// A longitude as short as it goes: "261.25", "-160".
std::string plain(double value) {
    std::string text = shown(static_cast<float>(value));
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

struct Side {
    const char* name;      // "south"
    const char* outmost;   // "southernmost"
};

template <float (*clamp_low)(float), float (*clamp_high)(float)>
std::string parse_box_side(std::string_view text, RealSpan& span, Side low, Side high) {
    RealSpan parsed;
    if (auto error = parse_real_span(text, parsed); !error.empty()) return error;
    const RealSpan typed = parsed;
    parsed.low = clamp_low(parsed.low);
    parsed.high = clamp_high(parsed.high);
    if (extract::inverted(parsed.low, parsed.high)) {
        // At most one bound moved: both moved would leave them in order.
        std::string moved;
        if (parsed.low != typed.low) moved = std::string(low.name) + " bound onto the grid's " + low.outmost;
        if (parsed.high != typed.high) moved = std::string(high.name) + " bound onto the grid's " + high.outmost;
        return std::string("the ") + low.name + " bound is above the " + high.name + " bound" +
               (moved.empty() ? "" : " after moving the " + moved + " mid-point") + " (" + shown(parsed.low) +
               " > " + shown(parsed.high) + ")";
    }
    span = parsed;
    return "";
}

}  // namespace

std::string parse_lat_span(std::string_view text, RealSpan& span) {
    return parse_box_side<extract::clamp_south, extract::clamp_north>(text, span, {"south", "southernmost"},
                                                                      {"north", "northernmost"});
}

std::string parse_lon_span(std::string_view text, RealSpan& span) {
    // Longitudes counted 0 to 360 would otherwise be clamped to the
    // dateline without a word.
    RealSpan typed;
    if (parse_real_span(text, typed).empty())
        for (const auto& [value, name] : {std::pair{typed.low, "west"}, std::pair{typed.high, "east"}})
            if (value > 180.0f)
                return std::string("the ") + name + " bound is beyond 180: longitudes run from -180 to 180" +
                       (value <= 360.0f ? "; for " + plain(value) + " write " + plain(value - 360.0) : "");
    return parse_box_side<extract::clamp_west, extract::clamp_east>(text, span, {"west", "westernmost"},
                                                                    {"east", "easternmost"});
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
