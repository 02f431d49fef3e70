// Damaged and oddly written grid files through the real binary. Lines the
// reader only skips, or reads the same whatever their line ends, give the
// files of the clean run; a box row that cannot be read gives the
// read-failure report and no output file; an early end anywhere else is
// the input error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using Lines = std::vector<std::string>;

// Land in columns 77 to 79, rows 33 to 35, the box of the answers below;
// cell (78, 34) has nothing in 1851, so the screen removes it.
float grid_value(int32_t i, int32_t j, int32_t m) {
    if (i < 77 || i > 79 || j < 33 || j > 35) return -99.9f;
    if (i == 78 && j == 34 && m >= 13 && m <= 24) return -99.9f;
    const float v = 3.0f * std::sin(0.4f * static_cast<float>(m) + 0.3f * static_cast<float>(i * j));
    return std::round(v * 100.0f) / 100.0f;
}

constexpr int32_t kMonths = 36;  // 1850 to 1852
// 1851 to 1852, box TOP, BOTTOM, LEFT, RIGHT, confirmed, pctmiss, no gap
// filling, then Return for the last wait and the end of the run.
const std::string kAnswers = "\n\n1851\n1852\n26.25\n21.25\n11.25\n16.25\nt\n0.5\nf\n\n\n";

// Index in the file's lines of row j of data-set month m (record 56 (m - 1) + 2 + j).
size_t row(int32_t m, int32_t j) { return static_cast<size_t>(56 * (m - 1) + 1 + j); }
// The first column of the field of column i.
size_t column(int32_t i) { return static_cast<size_t>(7 * (i - 1)); }

void cut_file(Lines& l, size_t records) { l.resize(records); }

struct Case {
    const char* name;
    const char* expected;                 // folder of the expected files
    std::function<void(Lines&)> damage;   // on the lines of the clean file
    bool crlf = false;                    // line ends written as CR LF
    bool last_line_feed = true;           // the last line ends with a line feed
    int status = 0;
};

const Case kCases[] = {
    {"clean", "clean", [](Lines&) {}},
    {"letters_outside_the_box", "clean",
     [](Lines& l) {
         l[row(14, 34)].replace(column(80), 6, "  abc ");   // the column east of the box
         l[row(14, 34)].replace(column(76), 6, "xxxxxx");   // and west of it
         l[row(14, 36)].replace(column(78), 6, "  abc ");   // the row north of the box
         l[row(3, 34)].replace(column(78), 6, "  abc ");    // a month before the span
     }},
    {"crlf_line_ends", "clean", [](Lines&) {}, true},
    {"megabyte_header", "clean", [](Lines& l) { l[0] = std::string(1 << 20, 'h'); }},
    // A row cut right after the box's last field, a tab in the columns before
    // the box, and a file that stops after the last record of the span.
    {"short_and_tabbed_rows", "clean",
     [](Lines& l) {
         l[row(20, 33)].resize(column(79) + 6);
         l[row(21, 35)].replace(0, 8, "\t");
     },
     false, false},
    {"letters_in_a_box_column", "letters_in_a_box_column",
     [](Lines& l) { l[row(14, 34)].replace(column(78), 6, "  abc "); }},
    {"box_row_cut_short", "box_row_cut_short", [](Lines& l) { l[row(25, 35)].resize(column(79) + 5); }},
    {"file_ends_at_a_box_row", "file_ends_at_a_box_row", [](Lines& l) { cut_file(l, row(21, 33)); }},
    {"file_ends_in_a_box_row", "file_ends_in_a_box_row",
     [](Lines& l) {
         cut_file(l, row(21, 34) + 1);
         l.back().resize(300);
     },
     false, false},
    {"file_ends_below_the_box", "file_ends_below_the_box", [](Lines& l) { cut_file(l, row(21, 20)); }, false,
     true, 255},
};

Lines lines_of(const std::string& text) {
    Lines lines;
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(text.substr(at, nl - at));
    }
    return lines;
}

class ExtractFailures : public ::testing::TestWithParam<Case> {};

TEST_P(ExtractFailures, TranscriptAndFiles) {
    const Case& c = GetParam();
    testsupport::TempDir dir;
    const fs::path grid = dir / "pdsisc1850-2010.txt";
    tools::write_grid_file(grid.string(), kMonths, grid_value);
    Lines lines = lines_of(read_file(grid));
    c.damage(lines);
    std::string text;
    for (const std::string& line : lines) text += line + (c.crlf ? "\r\n" : "\n");
    if (!c.last_line_feed) text.pop_back();
    testsupport::write_file(grid, text);

    const testsupport::RunResult run = testsupport::run_program(dir.path(), kAnswers);

    const fs::path expected = testsupport::source_path(std::string("e2e/expected/extract_failures/") + c.expected);
    const char* const files[] = {"MonthlyPDSI.tsf", "MonthlyPDSI.xy"};
    if (std::getenv("PDSI_WRITE_EXPECTED") && std::string(c.name) == c.expected) {
        fs::remove_all(expected);
        fs::create_directories(expected);
        testsupport::write_file(expected / "stdout.txt", run.out);
        testsupport::write_file(expected / "stderr.txt", run.err);
        for (const char* f : files) {
            if (fs::exists(dir / f)) testsupport::write_file(expected / f, read_file(dir / f));
        }
    }
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, read_file(expected / "stdout.txt"));
    EXPECT_EQ(run.err, read_file(expected / "stderr.txt"));
    // A failed extraction leaves no file behind that could pass for one.
    for (const char* f : files) {
        ASSERT_EQ(fs::exists(dir / f), fs::exists(expected / f)) << f;
        if (fs::exists(expected / f)) {
            EXPECT_EQ(read_file(dir / f), read_file(expected / f)) << f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Grids, ExtractFailures, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
