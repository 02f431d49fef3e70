#include "report/qc_report.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <type_traits>

#include "runfiles/run_data.h"

namespace report {

namespace {

bool starts(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }

// Whether a number was read from `text` and only blanks follow it.
bool read_whole(const std::string& text, const char* end) {
    return end != text.c_str() && end[std::strspn(end, " ")] == '\0';
}

// The text as one number, blanks around it allowed; NaN when it holds
// none (blanks, asterisks) or more than one, as a damaged record may.
float number(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const float value = std::strtof(copy.c_str(), &end);
    return read_whole(copy, end) ? value : NAN;
}

// A cell number; 0, which names no cell, unless the text is one whole number.
int32_t cell_number(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const long value = std::strtol(copy.c_str(), &end, 10);
    return read_whole(copy, end) && value == static_cast<int32_t>(value) ? static_cast<int32_t>(value) : 0;
}

// A fixed field; blank when the line ends before it.
std::string_view field(std::string_view line, size_t first, size_t width) {
    return first >= line.size() ? std::string_view() : line.substr(first, width);
}

template <class T>
std::vector<T> numbers_after(std::string_view line, size_t first) {
    std::vector<T> out;
    if (first >= line.size()) return out;
    std::istringstream words{std::string(line.substr(first))};
    std::string word;
    while (words >> word) {
        if constexpr (std::is_integral_v<T>) out.push_back(cell_number(word));
        else out.push_back(number(word));
    }
    return out;
}

int32_t count_words(std::string_view line, size_t first) {
    return static_cast<int32_t>(numbers_after<float>(line, first).size());
}

}  // namespace

std::vector<CellFit> read_qc_report(textio::LineSource& in, const std::string& at) {
    std::vector<CellFit> cells;
    bool open = false, done = false, in_outliers = false, seen_opening = false;
    int32_t outlier_gpt = 0, line_no = 0;
    auto close_block = [&] {
        if (open && !done)
            throw runfiles::RunFileError(at + ": the report of grid point " + std::to_string(cells.back().cell) +
                                         " is cut short");
    };
    while (auto next = in.next()) {
        const std::string_view line = *next;
        ++line_no;
        if (line.find_first_not_of(' ') == std::string_view::npos) {
            in_outliers = false;
            continue;
        }
        if (!seen_opening) {
            if (!starts(line, " Orv coordinate file opened:"))
                throw runfiles::RunFileError(at + ": line " + std::to_string(line_no) +
                                             " is not the opening of a gap filling report");
            seen_opening = true;
            continue;
        }
        if (starts(line, " Grid point:")) {
            close_block();
            CellFit fit;
            fit.cell = cell_number(field(line, 13, 4));
            fit.lat = number(field(line, 17, 9));
            fit.lon = number(field(line, 26, 8));
            const int32_t expected = static_cast<int32_t>(cells.size()) + 1;
            if (fit.cell != expected)
                throw runfiles::RunFileError(at + ": line " + std::to_string(line_no) + " names grid point " +
                                             std::string(field(line, 13, 4)) + " where " +
                                             std::to_string(expected) + " comes next");
            cells.push_back(std::move(fit));
            open = true;
            done = false;
            in_outliers = false;
            continue;
        }
        if (!open) continue;
        CellFit& fit = cells.back();
        if (starts(line, " gpt") && fit.gpt.empty()) {
            fit.gpt = numbers_after<int32_t>(line, 4);
        } else if (line.find("outliers found:") != std::string_view::npos) {
            in_outliers = true;
        } else if (in_outliers && starts(line, " gpt")) {
            outlier_gpt = cell_number(field(line, 4, 5));
            if (outlier_gpt == fit.cell) fit.outliers += count_words(line, 10);
        } else if (in_outliers && starts(line, "          ")) {
            if (outlier_gpt == fit.cell) fit.outliers += count_words(line, 10);
        } else if (starts(line, " xmn")) {
            fit.xmn = numbers_after<float>(line, 4);
        } else if (starts(line, " sig")) {
            fit.sig = numbers_after<float>(line, 4);
        } else if (starts(line, " PC1:") || ((starts(line, " PC2:") || starts(line, " PC3:")) &&
                                             line.find("PC used") != std::string_view::npos)) {
            fit.components.push_back(line[3] - '0');
        } else if (starts(line, " Sum:")) {
            fit.r = number(field(line, 5, 8));
            fit.slope = number(field(line, 13, 8));
            fit.intercept = number(field(line, 21, 8));
            done = true;
        } else if (line.find("written as read") != std::string_view::npos) {
            fit.note = std::string(line.substr(1));
            done = true;
        }
    }
    close_block();
    return cells;
}

}  // namespace report
