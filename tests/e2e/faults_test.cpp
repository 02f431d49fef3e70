// Faults from outside the program, through the real binary: output files that
// cannot be made or written, the grid file taken away mid-run, and the
// extraction files changed before the quality-control stage reads them. None
// may end with a claim of success.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::write_file;

// A 3 by 3 box of complete cells (columns 77 to 79, rows 33 to 35) over
// 1850 to 1854; the rest of the grid is ocean.
float grid_value(int32_t i, int32_t j, int32_t m) {
    if (i < 77 || i > 79 || j < 33 || j > 35) return -99.9f;
    const float v = 2.0f * std::sin(0.3f * static_cast<float>(m) + 0.2f * static_cast<float>(i)) +
                    0.5f * std::cos(0.7f * static_cast<float>(m * j));
    return std::round(v * 100.0f) / 100.0f;
}

const std::string kOpening = "\n\n";
const std::string kBox = "1850\n1854\n26.25\n21.25\n11.25\n16.25\nt\n0.5\n";
const std::string kGapFill = "t\n\n1850\n1854\n\n";
const std::string kClose = "\n\n";
const std::string kGapQuestion = "[t]rue or [f]alse > ";

struct FaultCase {
    const char* name;
    bool gap_filling;
    std::function<void(const fs::path&)> before;  // on the folder, before the run
    const char* interrupt_at;                       // empty: no change mid-run
    std::function<void(const fs::path&)> mid_run;
    int status;
    std::string err;       // the whole error stream
    std::string message;   // a console text the run must show
};

void make_dir(const fs::path& p) { fs::create_directory(p); }
void to_dev_full(const fs::path& p) { fs::create_symlink("/dev/full", p); }

// The lines of a file, edited by `edit` and written back.
void edit_lines(const fs::path& p, const std::function<void(std::vector<std::string>&)>& edit) {
    std::vector<std::string> lines;
    std::string text = read_file(p), line;
    for (char c : text) {
        if (c == '\n') lines.push_back(line), line.clear();
        else line += c;
    }
    edit(lines);
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    write_file(p, out);
}

const char* kTsf = "MonthlyPDSI.tsf";
const char* kXy = "MonthlyPDSI.xy";

std::string write_error(const std::string& file) {
    return "Error: Error writing file (formatted write, " + file + ")\n";
}
std::string open_error(const std::string& file) {
    return "Error: Cannot open file (open, " + file + ")\n";
}

const FaultCase kCases[] = {
    {"extraction file is a folder", false, [](auto& d) { make_dir(d / kTsf); }, "", nullptr, 255,
     open_error(kTsf), "Writing Selected Grid Cells"},
    {"coordinate file is a folder", false, [](auto& d) { make_dir(d / kXy); }, "", nullptr, 255,
     open_error(kXy), "Writing Selected Grid Cells"},
    {"report file is a folder", true, [](auto& d) { make_dir(d / "MonthlyPDSI_QC.out"); }, "",
     nullptr, 255, open_error("MonthlyPDSI_QC.out"), "Okay, hit return now"},
    {"columnwise file is a folder", true, [](auto& d) { make_dir(d / "MonthlyPDSI_col.tsf"); }, "",
     nullptr, 255, open_error("MonthlyPDSI_col.tsf"), "Orv PDSI gridded data read in:"},
    {"QC columnwise file is a folder", true,
     [](auto& d) { make_dir(d / "MonthlyPDSI_QC_col.tsf"); }, "", nullptr, 255,
     open_error("MonthlyPDSI_QC_col.tsf"), "Grid point:    9"},
    {"disk full writing the extraction", false, [](auto& d) { to_dev_full(d / kTsf); }, "", nullptr,
     255, write_error(kTsf), "Writing Selected Grid Cells"},
    {"disk full writing the coordinates", false, [](auto& d) { to_dev_full(d / kXy); }, "",
     nullptr, 255, write_error(kXy), "Writing Selected Grid Cells"},
    {"disk full writing the QC file", true, [](auto& d) { to_dev_full(d / "MonthlyPDSI_QC.tsf"); },
     "", nullptr, 255, write_error("MonthlyPDSI_QC.tsf"), "===="},
    {"disk full writing the report", true, [](auto& d) { to_dev_full(d / "MonthlyPDSI_QC.out"); },
     "", nullptr, 255, write_error("MonthlyPDSI_QC.out"), "===="},
    {"grid file removed after the check", false, nullptr, "Enter first year",
     [](auto& d) { fs::remove(d / "pdsisc1850-2010.txt"); }, 255,
     open_error("pdsisc1850-2010.txt"), "Extracting Monthly Grid Cell Data."},
    {"coordinate file removed before the stage", true, nullptr, kGapQuestion.c_str(),
     [](auto& d) { fs::remove(d / kXy); }, 0, "",
     "\nFile not found: MonthlyPDSI.xy                          \n Okay, hit return to continue."},
    {"data file removed before the stage", true, nullptr, kGapQuestion.c_str(),
     [](auto& d) { fs::remove(d / kTsf); }, 0, "",
     "\nFile not found: MonthlyPDSI.tsf                         \n Okay, hit return to continue."},
    {"first cell removed from the coordinates", true, nullptr, kGapQuestion.c_str(),
     [](auto& d) { edit_lines(d / kXy, [](auto& l) { l.erase(l.begin() + 3); }); }, 0, "",
     "\nLat-Lon mismatch -- ngrid:     8\n Okay, hit return to continue."},
    {"data file cut inside a cell", true, nullptr, kGapQuestion.c_str(),
     [](auto& d) { edit_lines(d / kTsf, [](auto& l) { l.resize(3 + 6 * 4 + 2); }); }, 0, "",
     "\nOops! End of file reading in data    9    5\n Okay, hit return to continue."},
    {"letters in a value of the data file", true, nullptr, kGapQuestion.c_str(),
     [](auto& d) { edit_lines(d / kTsf, [](auto& l) { l[5].replace(8, 4, "abcd"); }); }, 255,
     "Error: Illegal character in numeric input (formatted read, MonthlyPDSI.tsf)\n",
     "Orv PDSI data file opened:"},
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, EndWithTheirMessageAndNoClaimOfSuccess) {
    const FaultCase& c = GetParam();
    testsupport::TempDir dir;
    tools::write_grid_file((dir / "pdsisc1850-2010.txt").string(), 60, grid_value);
    if (c.before) c.before(dir.path());
    const std::string tail = (c.gap_filling ? kGapFill : std::string("f\n")) + kClose;
    const auto run = c.mid_run ? testsupport::run_program_interrupted(
                                     dir.path(), kOpening + (c.interrupt_at == kGapQuestion ? kBox : ""),
                                     c.interrupt_at, [&] { c.mid_run(dir.path()); },
                                     (c.interrupt_at == kGapQuestion ? "" : kBox) + tail)
                               : testsupport::run_program(dir.path(), kOpening + kBox + tail);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    // A failure of the text layer ends the run before any closing line; a
    // failure the stage reports itself returns to the driver's close.
    const bool closed = run.out.find("Normal Termination of Program") != std::string::npos;
    EXPECT_EQ(closed, c.status == 0) << run.out;
    EXPECT_NE(run.out.find("Press RETURN to quit the program."), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Runs, Faults, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(*p) ? *p : '_';
    return name;
});

// Run as root the permission bits do not stop a write; the folder case
// above covers the same path there.
TEST(FaultsReadOnly, ReadOnlyFolderEndsWithTheOpenError) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    testsupport::TempDir dir;
    tools::write_grid_file((dir / "pdsisc1850-2010.txt").string(), 60, grid_value);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const auto run = testsupport::run_program(dir.path(), kOpening + kBox + "f\n" + kClose);
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, open_error(kTsf));
}

}  // namespace
