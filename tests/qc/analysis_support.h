#pragma once
// Small neighbourhoods for the analysis tests, run through qc::CellAnalysis,
// and a reading of the report's numeric rows.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "qc/analysis.h"
#include "textio/sink.h"

namespace analysis_test {

constexpr float M = -99.9f;

struct Neighbourhood {
    int32_t nmon = 0;
    int32_t ncal = 0;
    int32_t centre = 1;                       // 1-based position among the columns
    std::vector<std::vector<float>> columns;  // nmon values each, as read
    int32_t maxiter = 30;
};

struct Outcome {
    std::string report;
    std::string console;
    std::vector<float> est;
};

inline std::vector<int32_t> cell_numbers(const Neighbourhood& n) {
    std::vector<int32_t> gpt;
    for (size_t j = 0; j < n.columns.size(); ++j) gpt.push_back(static_cast<int32_t>(3 * j + 2));
    return gpt;
}

inline Outcome analyse(const Neighbourhood& n) {
    const int32_t nfound = static_cast<int32_t>(n.columns.size());
    std::vector<float> nbr(static_cast<size_t>(n.nmon) * nfound);
    for (int32_t j = 0; j < nfound; ++j) {
        std::copy(n.columns[j].begin(), n.columns[j].end(), nbr.begin() + static_cast<size_t>(j) * n.nmon);
    }
    const std::vector<float>& as_read = n.columns[n.centre - 1];
    std::vector<float> ctr = as_read;
    const std::vector<int32_t> gpt = cell_numbers(n);
    Outcome out;
    out.est.assign(n.nmon, 12345.0f);
    textio::StringSink report, console;
    qc::CellAnalysis analysis(n.nmon, n.maxiter);
    analysis.run(numeric::ColumnMatrix<float>(nbr.data(), n.nmon), ctr.data(), as_read.data(),
                 gpt.data(), nfound, n.nmon, n.ncal, n.nmon - n.ncal, out.est.data(), report, console);
    out.report = report.text();
    out.console = console.text();
    return out;
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The numbers of the first report line after `after` (a heading) that
// starts with `label`.
inline std::vector<float> row_after(const std::string& report, const std::string& after,
                                    const std::string& label) {
    const std::vector<std::string> lines = lines_of(report);
    size_t i = 0;
    while (i < lines.size() && lines[i].find(after) == std::string::npos) ++i;
    for (; i < lines.size(); ++i) {
        if (lines[i].rfind(label, 0) == 0) {
            std::istringstream in(lines[i].substr(label.size()));
            std::vector<float> v;
            for (float x; in >> x;) v.push_back(x);
            return v;
        }
    }
    return {};
}

inline bool has_line(const std::string& report, const std::string& start) {
    for (const std::string& line : lines_of(report)) {
        if (line.rfind(start, 0) == 0) return true;
    }
    return false;
}

// Whether the report's "PC2:" or "PC3:" record says the component is used.
inline bool component_used(const std::string& report, const std::string& label) {
    for (const std::string& line : lines_of(report)) {
        if (line.rfind(label, 0) == 0) return line.size() > 29 && line.substr(29) == "   PC used in PDSI estimates";
    }
    return false;
}

}  // namespace analysis_test
