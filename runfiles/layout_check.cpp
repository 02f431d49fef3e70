#include "runfiles/layout_check.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "qc/year_record.h"
#include "textio/record_read.h"

namespace runfiles {

namespace {

constexpr int32_t kRecordWidth = 89;  // a year record: year and twelve 7-column fields

std::string where(const std::string& at, int64_t line) { return at + " line " + std::to_string(line); }

std::string position(float lat, float lon) {
    char text[48];
    std::snprintf(text, sizeof text, "(%.2f, %.2f)", lat, lon);
    return text;
}

std::string cell_name(const RunData& data, size_t c) {
    return "cell " + std::to_string(c + 1) + " " + position(data.cells[c].lat, data.cells[c].lon);
}

// Lines with their numbers.
class Lines {
public:
    explicit Lines(textio::LineSource& in) : in_(in) {}
    std::optional<std::string_view> next() {
        auto line = in_.next();
        if (line) ++number_;
        return line;
    }
    int64_t number() const { return number_; }
private:
    textio::LineSource& in_;
    int64_t number_ = 0;
};

// The mid-point of a header line, read as the gap filling reads it.
bool header_position(std::string_view line, float& lat, float& lon) {
    // A short line reads as blanks past its end, as the padded record would.
    static const textio::Layout layout("(f9.2,f8.2)");
    return textio::read_record(line, layout, {lat, lon}) == textio::ReadStatus::ok;
}

void check_header(Lines& lines, const std::string& at, const RunData& data, size_t c) {
    const auto line = lines.next();
    if (!line)
        throw RunFileError(at + ": the file ends before " + cell_name(data, c) + " of " +
                           std::to_string(data.cells.size()) + "; it is cut short");
    float lat = 0.0f, lon = 0.0f;
    if (!header_position(*line, lat, lon))
        throw RunFileError(where(at, lines.number()) + ": not the header of " + cell_name(data, c));
    if (lat != data.cells[c].lat || lon != data.cells[c].lon)
        throw RunFileError(where(at, lines.number()) + ": the header of cell " + std::to_string(c + 1) + " is at " +
                           position(lat, lon) + ", MonthlyPDSI.xy has it at " +
                           position(data.cells[c].lat, data.cells[c].lon));
}

void check_years(Lines& lines, const std::string& at, const RunData& data, size_t c) {
    // A span of no year: the file holds headers and nothing under them.
    if (data.iyr2 < data.iyr1)
        throw RunFileError(where(at, lines.number() + 1) + ": no year record (1850 to 2010) after the header of " +
                           cell_name(data, c));
    for (int32_t year = data.iyr1; year <= data.iyr2; ++year) {
        const auto line = lines.next();
        if (!line)
            throw RunFileError(at + ": the file ends within " + cell_name(data, c) + ", before its record of " +
                               std::to_string(year) + "; it is cut short");
        if (record_year(*line) != year)
            throw RunFileError(where(at, lines.number()) + ": " + cell_name(data, c) + " has no record of " +
                               std::to_string(year) + " here");
        if (line->size() < kRecordWidth)
            throw RunFileError(where(at, lines.number()) + ": the record of " + std::to_string(year) + " of " +
                               cell_name(data, c) + " is cut short");
    }
}

void check_end(Lines& lines, const std::string& at, const RunData& data) {
    while (const auto line = lines.next()) {
        if (line->find_first_not_of(' ') != std::string_view::npos)
            throw RunFileError(where(at, lines.number()) + ": more than the " + std::to_string(data.cells.size()) +
                               " cells of MonthlyPDSI.xy");
    }
}

}  // namespace

int32_t record_year(std::string_view line) {
    std::string_view field = line.substr(0, 5);
    field.remove_prefix(std::min(field.find_first_not_of(' '), field.size()));
    int32_t year = -1;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), year);
    return ec == std::errc() && end == field.data() + field.size() ? year : -1;
}

void infer_span(textio::LineSource& in, const std::string& last_line, const std::string& at, RunData& data) {
    // Two readings of the span: the first cell's run of consecutive years,
    // and its first year to the year of the file's last line. They differ
    // only in a damaged file; the wider one lets the full check name the
    // damage: a last cell cut short when the first cell's run is the
    // longer, else a record missing from the first cell.
    Lines lines(in);
    int32_t first = -1, run_end = -1;
    int64_t first_line = 0;
    while (const auto line = lines.next()) {
        if (lines.number() <= 4 || line->find_first_not_of(' ') == std::string_view::npos) continue;
        const int32_t year = record_year(*line);
        if (first_line == 0) {
            first = run_end = year;
            first_line = lines.number();
        } else if (year == run_end + 1) {
            run_end = year;
        } else {
            break;
        }
    }
    if (first_line == 0) return;  // the full check says what is missing
    if (first < 1850 || first > 2010)
        throw RunFileError(where(at, first_line) + ": no year record (1850 to 2010) after the header of " +
                           cell_name(data, 0));
    const int32_t last = record_year(last_line);
    data.iyr1 = first;
    data.iyr2 = last >= first && last <= 2010 ? std::max(last, run_end) : run_end;
}

void check_data_file(textio::LineSource& in, const std::string& at, RunData& data) {
    Lines lines(in);
    data.citation.clear();
    for (int32_t k = 0; k < 3; ++k) {
        const auto line = lines.next();
        if (!line) throw RunFileError(at + ": the file ends within its three citation lines");
        std::string text(line->substr(std::min<size_t>(1, line->size())));
        text.erase(text.find_last_not_of(' ') + 1);
        data.citation.push_back(text);
    }
    for (size_t c = 0; c < data.cells.size(); ++c) {
        check_header(lines, at, data, c);
        check_years(lines, at, data, c);
    }
    check_end(lines, at, data);
}

void check_qc_file(textio::LineSource& in, const std::string& at, const RunData& data) {
    Lines lines(in);
    for (size_t c = 0; c < data.cells.size(); ++c) {
        const auto line = lines.next();
        if (!line)
            throw RunFileError(at + ": the file ends after " + std::to_string(c) + " of " +
                               std::to_string(data.cells.size()) + " cells (the gap filling stopped early?)");
        float lat = 0.0f, lon = 0.0f;
        if (!header_position(*line, lat, lon) || lat != data.cells[c].lat || lon != data.cells[c].lon)
            throw RunFileError(where(at, lines.number()) + ": expected the header of " + cell_name(data, c) +
                               ": the file is of other cells than MonthlyPDSI.tsf");
        check_years(lines, at, data, c);
    }
    check_end(lines, at, data);
}

std::string first_unreadable_record(textio::LineSource& in, int32_t skip) {
    static const textio::Layout year_record("(5x,12f7.2)");
    Lines lines(in);
    float v[12];
    const std::vector<textio::InTarget> months(std::begin(v), std::end(v));
    while (const auto line = lines.next()) {
        if (lines.number() <= skip || record_year(*line) < 1000 || qc::read_plain_year(*line, v)) continue;
        if (textio::read_record(*line, year_record, months) != textio::ReadStatus::ok)
            return "line " + std::to_string(lines.number());
    }
    return "";
}

}  // namespace runfiles
