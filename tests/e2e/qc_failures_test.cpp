// The quality-control stage's odd paths through the real binary: a cell with
// no neighbour, a box with no kept cell, the period dialogue's refusals, a QC
// file that reads back empty, and the end of console input at the stage's
// questions and waits. Console, error stream and the stage's files are
// compared whole; a file the case does not keep must not exist.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;

// Complete cells in columns 77 to 79, rows 33 to 35 over 1850 to 1854, but
// for an empty cell at column 78, row 33; the rest of the grid is ocean.
float grid_value(int32_t i, int32_t j, int32_t m) {
    if (i < 77 || i > 79 || j < 33 || j > 35 || (i == 78 && j == 33)) return -99.9f;
    const float v = 2.0f * std::sin(0.3f * static_cast<float>(m) + 0.2f * static_cast<float>(i)) +
                    0.5f * std::cos(0.7f * static_cast<float>(m * j));
    return std::round(v * 100.0f) / 100.0f;
}

// Boxes as answers TOP, BOTTOM, LEFT, RIGHT.
const std::string kLoneCell = "21.25\n21.25\n11.25\n11.25\n";
const std::string kStrip = "23.75\n21.25\n11.25\n11.25\n";
const std::string kOcean = "1.25\n1.25\n1.25\n1.25\n";
const std::string kGappedRow = "21.25\n21.25\n11.25\n16.25\n";  // two cells 5.0 degrees apart

// The extraction over 1850 to 1854 with gap filling asked for; `stage`
// answers the stage's questions and the closing waits.
std::string answers(const std::string& box, const std::string& stage) {
    return "\n\n1850\n1854\n" + box + "t\n0.5\nt\n" + stage;
}

const std::string kStageDone = "\n1850\n1854\n\n\n\n";

const char* const kStageFiles[] = {"MonthlyPDSI_col.tsf", "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf",
                                   "MonthlyPDSI_QC.out"};

struct Case {
    const char* name;
    std::string answers;
    int status;
    const char* link = nullptr;     // a stage file made a link to `target` before the run
    const char* target = nullptr;
    bool analysed = false;  // cells went through the analysis: see stage_file
};

// What the case compares of a stage file. After the analysis the QC files
// and the report's analysis records are the analysis tests' business: the
// report is kept up to the first cell's analysis.
std::string stage_file(const Case& c, const fs::path& path) {
    std::string text = read_file(path);
    if (c.analysed && path.filename() == "MonthlyPDSI_QC.out") {
        text = text.substr(0, text.find("\n " + std::string(71, '=') + "\n"));
    }
    return text;
}

bool ignored(const Case& c, const std::string& f) {
    return c.analysed && (f == "MonthlyPDSI_QC.tsf" || f == "MonthlyPDSI_QC_col.tsf");
}

const Case kCases[] = {
    {"lone_cell", answers(kLoneCell, kStageDone), 0},
    {"no_kept_cell", answers(kOcean, kStageDone), 0},
    // No value, letters and a year below the span; then no value, a last
    // year above the span and one before the first year.
    {"period_refusals", answers(kOcean, "\n/\n\nabc\n1849\n\n1851\n,\n\n1855\n\n1850\n\n1854\n\n\n\n"), 0},
    {"qc_file_reads_back_empty", answers(kStrip, "\n1850\n1854\n\n\n\n\n"), 0, "MonthlyPDSI_QC.tsf", "/dev/null",
     true},
    {"wider_search", answers(kGappedRow, kStageDone), 0, nullptr, nullptr, true},
    // The files a cell without neighbours leaves open must still fail loudly.
    {"lone_cell_report_disk_full", answers(kLoneCell, kStageDone), 255, "MonthlyPDSI_QC.out", "/dev/full"},
    {"lone_cell_qc_file_disk_full", answers(kLoneCell, kStageDone), 255, "MonthlyPDSI_QC.tsf", "/dev/full"},
    {"input_ends_at_welcome", answers(kLoneCell, ""), 255},
    {"input_ends_at_first_year", answers(kLoneCell, "\n"), 255},
    {"input_ends_at_refusal_wait", answers(kLoneCell, "\n1849\n"), 255},
    {"input_ends_at_stage_end", answers(kLoneCell, "\n1850\n1854\n"), 255},
};

class QcFailures : public ::testing::TestWithParam<Case> {};

TEST_P(QcFailures, TranscriptAndFiles) {
    const Case& c = GetParam();
    testsupport::TempDir dir;
    tools::write_grid_file((dir / "pdsisc1850-2010.txt").string(), 60, grid_value);
    if (c.link) fs::create_symlink(c.target, dir / c.link);
    const testsupport::RunResult run = testsupport::run_program(dir.path(), c.answers);
    if (c.link) fs::remove(dir / c.link);

    const fs::path expected = testsupport::source_path(std::string("e2e/expected/qc_failures/") + c.name);
    if (std::getenv("PDSI_WRITE_EXPECTED")) {
        fs::remove_all(expected);
        fs::create_directories(expected);
        testsupport::write_file(expected / "stdout.txt", run.out);
        testsupport::write_file(expected / "stderr.txt", run.err);
        for (const char* f : kStageFiles) {
            if (fs::exists(dir / f) && !ignored(c, f)) testsupport::write_file(expected / f, stage_file(c, dir / f));
        }
    }
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, read_file(expected / "stdout.txt"));
    EXPECT_EQ(run.err, read_file(expected / "stderr.txt"));
    for (const char* f : kStageFiles) {
        if (ignored(c, f)) continue;
        ASSERT_EQ(fs::exists(dir / f), fs::exists(expected / f)) << f;
        if (fs::exists(expected / f)) {
            EXPECT_EQ(stage_file(c, dir / f), read_file(expected / f)) << f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, QcFailures, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
