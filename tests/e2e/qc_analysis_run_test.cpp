// Whole runs with gap filling through the real binary on a small generated
// grid: every file against the expected text, and the filled series against
// the estimate recomputed in double precision from the extraction files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/qc/analysis_reference.h"
#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

using testsupport::read_file;

uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    return x ^ (x >> 16);
}

// Uniform in [0, 1) from a cell and a month.
float noise(int32_t i, int32_t j, int32_t m, uint32_t salt) {
    return static_cast<float>(mix(static_cast<uint32_t>(i * 7919 + j * 104729 + m * 31) ^ salt) >> 8) /
           16777216.0f;
}

// A 4 by 3 box (columns 77 to 80, rows 33 to 35) over 1850 to 1859: three
// regional signals with loadings that vary over the box, noise, gaps, gross
// outliers in both periods, a shifted level in the older years of one cell
// and one cell that has nothing from 1856 on.
float grid_value(int32_t i, int32_t j, int32_t m) {
    if (i < 77 || i > 80 || j < 33 || j > 35) return -99.9f;
    const float s1 = 2.5f * std::sin(0.3f * static_cast<float>(m));
    const float s2 = 1.8f * std::sin(0.11f * static_cast<float>(m) + 1.0f);
    const float s3 = 1.2f * std::cos(0.7f * static_cast<float>(m));
    const float di = static_cast<float>(i - 78), dj = static_cast<float>(j - 34);
    float v = (1.0f + 0.1f * di) * s1 + (1.2f * di - 1.0f * dj) * s2 + 1.5f * dj * di * s3 +
              1.2f * (noise(i, j, m, 1u) - 0.5f);
    if (noise(i, j, m, 2u) < 0.07f) return -99.9f;
    if (i == 80 && j == 35 && m > 72) return -99.9f;
    if (i == 78 && j == 34 && m <= 72) v += 3.0f;
    if (i == 77 && j == 33 && (m == 80 || m == 101)) v = 12.5f;
    if (i == 79 && j == 34 && m == 90) v = -10.0f;
    if (i == 79 && j == 35 && m == 20) v = 15.25f;
    if (i == 78 && j == 35 && m == 30) v = 9.99f;
    return std::round(v * 100.0f) / 100.0f;
}

// The extraction's answers (the whole span, the box, keep every cell, fill
// the gaps), then the EOF period, then Return for every wait.
std::string answers(const std::string& ieof1, const std::string& ieof2) {
    return "\n\n1850\n1859\n26.25\n21.25\n11.25\n18.75\nt\n1.5\n\nt\n\n" + ieof1 + "\n" + ieof2 +
           "\n\n\n\n\n";
}

const char* const kFiles[] = {"MonthlyPDSI.tsf",    "MonthlyPDSI.xy",         "MonthlyPDSI_col.tsf",
                              "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf", "MonthlyPDSI_QC.out"};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Cell {
    float lat = 0, lon = 0;
    std::vector<float> series;
};

// The cells of a year-record file: a header line, then records of a year
// and twelve 7-column values.
std::vector<Cell> read_cells(const std::string& text, size_t skip, int32_t nyrs) {
    const std::vector<std::string> lines = lines_of(text);
    std::vector<Cell> cells;
    for (size_t at = skip; at + nyrs < lines.size() + 1 && at < lines.size(); at += nyrs + 1) {
        Cell c;
        c.lat = std::stof(lines[at].substr(0, 9));
        c.lon = std::stof(lines[at].substr(9, 8));
        for (int32_t y = 1; y <= nyrs; ++y) {
            for (int32_t m = 0; m < 12; ++m) c.series.push_back(std::stof(lines[at + y].substr(5 + 7 * m, 7)));
        }
        cells.push_back(c);
    }
    return cells;
}

// The report's analysis block of each cell, from its separator on.
std::vector<std::string> analysis_blocks(const std::string& report) {
    std::vector<std::string> blocks;
    const std::string separator = "\n " + std::string(71, '=') + "\n";
    for (size_t at = report.find(separator); at != std::string::npos;) {
        const size_t next = report.find("\n " + std::string(72, '='), at + 1);
        blocks.push_back(report.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = report.find(separator, at + 1);
    }
    return blocks;
}

bool used(const std::string& block, const std::string& label) {
    for (const std::string& line : lines_of(block)) {
        if (line.rfind(label, 0) == 0) return line.substr(29) == "   PC used in PDSI estimates";
    }
    return false;
}

struct Case {
    const char* name;
    const char* expected;  // the expected files' folder
    std::string ieof1, ieof2;
    int32_t ncal;
};

class QcAnalysisRun : public ::testing::TestWithParam<Case> {};

TEST_P(QcAnalysisRun, FilesAndEstimates) {
    const Case& c = GetParam();
    testsupport::TempDir dir;
    tools::write_grid_file((dir / "pdsisc1850-2010.txt").string(), 120, grid_value);
    const testsupport::RunResult run = testsupport::run_program(dir.path(), answers(c.ieof1, c.ieof2));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const std::filesystem::path expected =
        testsupport::source_path(std::string("e2e/expected/qc_analysis_") + c.expected);
    if (std::getenv("PDSI_WRITE_EXPECTED") && std::string(c.name) == c.expected) {
        std::filesystem::create_directories(expected);
        testsupport::write_file(expected / "console.txt", run.out);
        for (const char* f : kFiles) testsupport::write_file(expected / f, read_file(dir / f));
    }
    EXPECT_EQ(run.out, read_file(expected / "console.txt"));
    for (const char* f : kFiles) EXPECT_EQ(read_file(dir / f), read_file(expected / f)) << f;

    // Independently: every filled series is the estimate recomputed from the
    // extracted series, within the rounding of the files.
    const int32_t nyrs = 10, nmon = 120;
    const std::vector<Cell> in = read_cells(read_file(dir / "MonthlyPDSI.tsf"), 3, nyrs);
    const std::vector<Cell> out = read_cells(read_file(dir / "MonthlyPDSI_QC.tsf"), 0, nyrs);
    const std::vector<std::string> blocks = analysis_blocks(read_file(dir / "MonthlyPDSI_QC.out"));
    ASSERT_EQ(in.size(), 12u);
    ASSERT_EQ(out.size(), in.size());
    ASSERT_EQ(blocks.size(), in.size());
    for (size_t centre = 0; centre < in.size(); ++centre) {
        SCOPED_TRACE("cell " + std::to_string(centre + 1));
        std::vector<std::vector<float>> hood;
        size_t position = 0;
        for (size_t j = 0; j < in.size(); ++j) {
            if (std::fabs(in[j].lat - in[centre].lat) <= 2.5f && std::fabs(in[j].lon - in[centre].lon) <= 2.5f) {
                if (j == centre) position = hood.size();
                hood.push_back(in[j].series);
            }
        }
        if (blocks[centre].find("No valid calibration values") != std::string::npos) {
            EXPECT_EQ(out[centre].series, in[centre].series);
            continue;
        }
        const analysis_test::Reference ref = analysis_test::reference(
            hood, position, nmon, c.ncal, used(blocks[centre], " PC2:"), used(blocks[centre], " PC3:"));
        for (int32_t k = 0; k < nmon; ++k) {
            ASSERT_NEAR(out[centre].series[k], ref.est[k], 0.0051 + 1e-3 * std::fabs(ref.est[k])) << "month " << k + 1;
        }
    }
}

// The EOF period's years fix only its length: 1852 to 1855 is the same
// four years of calibration as 1856 to 1859.
INSTANTIATE_TEST_SUITE_P(Periods, QcAnalysisRun,
                         ::testing::Values(Case{"last_years", "last_years", "1856", "1859", 48},
                                           Case{"early_years", "last_years", "1852", "1855", 48},
                                           Case{"whole_span", "whole_span", "1850", "1859", 120}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
