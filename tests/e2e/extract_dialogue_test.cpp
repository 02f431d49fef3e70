// The extraction dialogue through the real binary: whole transcripts of
// stdout and stderr against expected text, and the exit status.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

using testsupport::read_file;

// 1850 and 1851 only. The 2 by 2 box around (0, 0) is columns 72-73 and
// rows 24-25; over the two years its cells miss 0, 1, 6 and 24 months, so
// each missing fraction accepted keeps a different set of cells.
constexpr int32_t kMonths = 24;

float grid_value(int32_t i, int32_t j, int32_t m) {
    if (i == 72 && j == 25 && m == 5) return -99.9f;
    if (i == 73 && j == 24 && m % 4 == 0) return -99.9f;
    if (i == 73 && j == 25) return -99.9f;
    return 0.25f * static_cast<float>(i - 72) - 0.5f * static_cast<float>(j - 24) + 0.01f * static_cast<float>(m);
}

// Return at the banner and at the file check.
const std::string kOpen = "\n\n";
const std::string kYears = "1850\n1851\n";
const std::string kBox = "1.25\n-1.25\n-1.25\n1.25\nt\n";
// No gap filling, Return at "Hit RETURN to quit" and at the end of the run.
const std::string kClose = "f\n\n\n";

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

struct Case {
    const char* name;
    const char* expected;  // the expected files' name, shared by equal runs
    bool grid;
    std::string answers;
    int status;
    bool writes_files;  // the run reaches the extraction
};

class ExtractDialogue : public ::testing::TestWithParam<Case> {};

TEST_P(ExtractDialogue, Transcript) {
    const Case& c = GetParam();
    testsupport::TempDir dir;
    if (c.grid) tools::write_grid_file((dir / "pdsisc1850-2010.txt").string(), kMonths, grid_value);
    const testsupport::RunResult run = testsupport::run_program(dir.path(), c.answers);

    const std::filesystem::path expected = testsupport::source_path("e2e/expected/dialogue");
    const std::string out_file = std::string(c.expected) + ".out";
    const std::string err_file = std::string(c.expected) + ".err";
    if (std::getenv("PDSI_WRITE_EXPECTED") && std::string(c.name) == c.expected) {
        std::filesystem::create_directories(expected);
        testsupport::write_file(expected / out_file, run.out);
        testsupport::write_file(expected / err_file, run.err);
    }
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, read_file(expected / out_file));
    EXPECT_EQ(run.err, read_file(expected / err_file));
    EXPECT_EQ(std::filesystem::exists(dir / "MonthlyPDSI.tsf"), c.writes_files);
    EXPECT_EQ(std::filesystem::exists(dir / "MonthlyPDSI.xy"), c.writes_files);
}

const std::string kPct = kOpen + kYears + kBox;

INSTANTIATE_TEST_SUITE_P(
    Runs, ExtractDialogue,
    ::testing::Values(
        Case{"missing_file", "missing_file", false, "\n\n\n", 0, false},
        // First year: below, above, letters, empty, three digits, a leading
        // blank (read as 185), then five digits read as 1851. Last year:
        // before the first, above, letters, then equal to the first.
        Case{"years_refused", "years_refused", true,
             kOpen + "1849\n\n2011\n\n19a0\n\n\n190\n\n 1850\n\n18515\n" + "1850\n\n2011\n\nx\n1851\n" + kBox +
                 "0.5\n" + kClose,
             0, true},
        // An empty north bound is 0.0; 80.0 becomes 76.25 and so falls below
        // a south bound of 76.3; -100 is -10.0; equal latitudes pass.
        Case{"inverted_bounds", "inverted_bounds", true,
             kOpen + kYears + "\n1.25\n\n" + "80.0\n76.3\n\n" + "1.25\n1.25\n" + "20.\n-100\n\n" + "-1.25\n1.25\n" +
                 "t\n0.5\n" + kClose,
             0, true},
        // Bounds beyond the outermost mid-points, infinities included; the
        // box refused by F, yes and a slash, then letters asked again and
        // an empty line passed over before the true answer.
        Case{"clamps_and_confirm", "clamps_and_confirm", true,
             kOpen + kYears + "1e39\n-1e39\n-1.e39\n1.0e39\nF\n" + "80.0\n-70.0\n-180.0\n180.0\nyes\n" +
                 "1.25\n-1.25\n-1.25\n1.25\n/\n" + "abc\n1.25\n+\n-1.25\n1e\n-1.25\n.\n1.25\n\nTx\n" + "0.5\n" +
                 kClose,
             0, true},
        Case{"pct_0_5", "pct_0_5", true, kPct + "0.5\n" + kClose, 0, true},
        Case{"pct_dot5", "pct_0_5", true, kPct + ".5\n" + kClose, 0, true},
        Case{"pct_500", "pct_0_5", true, kPct + "500\n" + kClose, 0, true},
        Case{"pct_50", "pct_50", true, kPct + "50\n" + kClose, 0, true},
        Case{"pct_letters", "pct_letters", true, kPct + "abc\n\n0.5\n" + kClose, 0, true},
        Case{"pct_empty", "pct_empty", true, kPct + "\n" + kClose, 0, true},
        Case{"pct_above_one", "pct_above_one", true, kPct + "1.5\n" + kClose, 0, true},
        Case{"crlf", "pct_0_5", true, crlf(kPct + "0.5\n" + kClose), 0, true},
        // The wait after "Press RETURN to quit the program." may meet the end.
        Case{"no_last_line", "pct_0_5", true, kPct + "0.5\nf\n\n", 0, true},
        // A tab before a year or a bound blanks the whole field (0); after
        // the digits or before a true/false answer it changes nothing.
        Case{"tabs", "tabs", true,
             kOpen + "\t1850\n\n1850\t\n1851\n" + "\t1.25\n-1.25\n-1.25\n1.25\t\n\tt\n" + "0.5\t\n\tF\n\n\n", 0, true},
        // A megabyte at a wait and after a year; a NUL byte in a year.
        Case{"long_lines", "long_lines", true,
             std::string(1 << 20, 'x') + "\n\n" + "1850" + std::string(1 << 20, '9') + "\n" +
                 std::string("18\0" "51\n", 6) + "1851\n" + kBox + "0.5\n" + kClose,
             0, true},
        // The end of input at every kind of read.
        Case{"eof_banner_pause", "eof_banner_pause", true, "", 255, false},
        Case{"eof_missing_file_pause", "eof_missing_file_pause", false, "\n", 255, false},
        Case{"eof_first_year", "eof_first_year", true, kOpen, 255, false},
        Case{"eof_after_unended_line", "eof_after_unended_line", true, kOpen + "1850", 255, false},
        Case{"eof_refused_year_pause", "eof_refused_year_pause", true, kOpen + "2011\n", 255, false},
        Case{"eof_coordinate", "eof_coordinate", true, kOpen + kYears + "1.25\n", 255, false},
        Case{"eof_continue_wait", "eof_continue_wait", true, kOpen + kYears + "1.25\n2.5\n", 255, false},
        Case{"eof_confirm", "eof_confirm", true, kOpen + kYears + "1.25\n-1.25\n-1.25\n1.25\n\n\n", 255, false},
        Case{"eof_pctmiss", "eof_pctmiss", true, kPct, 255, false},
        Case{"eof_fill_question", "eof_fill_question", true, kPct + "0.5\n", 255, true},
        Case{"eof_final_pause", "eof_final_pause", true, kPct + "0.5\nf\n", 255, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
