#include "report/qc_report.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "runfiles/run_data.h"

namespace report {

namespace {

bool starts(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }

// A fixed field as a number; NaN when it holds none (blanks, asterisks).
float field(std::string_view line, size_t first, size_t width) {
    if (first >= line.size()) return NAN;
    const std::string text(line.substr(first, width));
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    return end == text.c_str() ? NAN : value;
}

template <class T>
std::vector<T> numbers_after(std::string_view line, size_t first) {
    std::vector<T> out;
    if (first >= line.size()) return out;
    std::istringstream words{std::string(line.substr(first))};
    std::string word;
    while (words >> word) {
        char* end = nullptr;
        const float value = std::strtof(word.c_str(), &end);
        out.push_back(*end == '\0' ? static_cast<T>(value) : static_cast<T>(NAN));
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
            fit.cell = static_cast<int32_t>(field(line, 13, 4));
            fit.lat = field(line, 17, 9);
            fit.lon = field(line, 26, 8);
            const int32_t expected = static_cast<int32_t>(cells.size()) + 1;
            if (fit.cell != expected)
                throw runfiles::RunFileError(at + ": line " + std::to_string(line_no) + " names grid point " +
                                             std::string(line.substr(13, 4)) + " where " +
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
            outlier_gpt = static_cast<int32_t>(field(line, 4, 5));
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
            fit.r = field(line, 5, 8);
            fit.slope = field(line, 13, 8);
            fit.intercept = field(line, 21, 8);
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
