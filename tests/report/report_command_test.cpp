// `pdsi report` and `pdsi extract --report` on real runs: the page, its
// refusals with nothing left behind, and the page in a browser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::run_pdsi;
using testsupport::write_file;

constexpr const char* kPage = "MonthlyPDSI_report.html";

// A filled run of 5 by 4 cells, with gaps and an outlier or two.
void filled_run(const fs::path& dir, bool report) {
    cli_test::write_grid(dir / "grid.txt");
    std::vector<std::string> args{"extract", "--grid", (dir / "grid.txt").string(), "--years", "1850:1852",
                                  "--lat=-33.75:-26.25", "--lon=-98.75:-88.75", "--max-missing", "0.9",
                                  "--fill", "1851:1852", "--out", (dir / "run").string(), "-q"};
    if (report) args.push_back("--report");
    const auto result = run_pdsi(dir, args);
    ASSERT_EQ(result.status, 0) << result.err;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(PdsiReport, BothWaysMakeTheSamePage) {
    testsupport::TempDir work;
    filled_run(work.path(), true);
    const std::string page = read_file(work / "run" / kPage);
    const auto again = run_pdsi(work.path(), {"report", (work / "run").string()});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "  " + (work / "run" / kPage).string() + "  " + std::to_string(page.size()) + " bytes\n");
    EXPECT_EQ(read_file(work / "run" / kPage), page);
    // A clock that ticks in seconds gives the report the data file's time: still this run's.
    fs::last_write_time(work / "run" / "MonthlyPDSI_QC.out", fs::last_write_time(work / "run" / "MonthlyPDSI.tsf"));
    ASSERT_EQ(run_pdsi(work.path(), {"report", (work / "run").string(), "-q"}).status, 0);
    EXPECT_EQ(read_file(work / "run" / kPage), page);
    const size_t cells = count(read_file(work / "run" / "MonthlyPDSI.xy"), "\n") - 3;
    EXPECT_EQ(count(page, "<rect class=\"cell "), cells);
    EXPECT_NE(page.find("1851 to 1852 (found from"), std::string::npos) << "calibration period";
    EXPECT_EQ(page.find("sourceMappingURL"), std::string::npos) << "the page asks for no other file";
    EXPECT_EQ(count(page, "</script>"), 3u) << "data, library, page script";
    // What the page says before its scripts, whole.
    const size_t body = page.find("<body");
    ASSERT_NE(body, std::string::npos);
    std::string text = page.substr(body, page.find("<script", body) - body);
    const std::string program = "<td>Program</td><td>";  // the version, which each release moves
    const size_t at = text.find(program);
    ASSERT_NE(at, std::string::npos);
    const size_t version = at + program.size();
    text.replace(version, text.find("</td>", version) - version, "pdsi VERSION");
    const fs::path expected = testsupport::source_path("report/expected/page-text.html");
    if (std::getenv("PDSI_WRITE_EXPECTED")) testsupport::write_file(expected, text);
    EXPECT_TRUE(text == read_file(expected)) << text;
}

TEST(PdsiReport, RefusesBrokenRunsAndLeavesNoPage) {
    testsupport::TempDir work;
    filled_run(work.path(), false);
    const fs::path run = work / "run";
    const std::string out = read_file(run / "MonthlyPDSI_QC.out");
    const std::string tsf = read_file(run / "MonthlyPDSI.tsf");
    struct Row { const char* name; std::string file, text; const char* words; };
    std::string moved = out;
    moved.replace(moved.find(" Grid point:    2") + 17, 9, "    -1.25");
    const Row rows[] = {
        {"no run in the folder", "MonthlyPDSI.tsf", "", "MonthlyPDSI.xy"},
        {"report cut inside a block", "MonthlyPDSI_QC.out", out.substr(0, out.rfind(" Sum:")), "cut short"},
        {"report of other cells", "MonthlyPDSI_QC.out", moved, "grid point 2 is at"},
        {"data file cut short", "MonthlyPDSI.tsf", tsf.substr(0, tsf.size() - 200), "MonthlyPDSI.tsf"},
        {"a coordinate more than the data file's cells", "MonthlyPDSI.xy",
         read_file(run / "MonthlyPDSI.xy") + "   -86.25  -26.25\n", "MonthlyPDSI.tsf: the file ends before cell"},
    };
    for (const Row& r : rows) {
        testsupport::TempDir copy;
        for (const auto& entry : fs::directory_iterator(run)) {  // times kept: they tell a file of this run
            const fs::path to = copy / entry.path().filename().string();
            fs::copy(entry.path(), to);
            fs::last_write_time(to, fs::last_write_time(entry.path()));
        }
        if (r.text.empty()) fs::remove(copy / "MonthlyPDSI.xy");
        else write_file(copy / r.file, r.text);
        const auto result = run_pdsi(copy.path(), {"report"});
        EXPECT_EQ(result.status, 1) << r.name;
        EXPECT_EQ(result.err.rfind("pdsi report: error: ", 0), 0u) << r.name << ": " << result.err;
        EXPECT_EQ(count(result.err, "\n"), 1u) << r.name << ": " << result.err;
        EXPECT_NE(result.err.find(r.words), std::string::npos) << r.name << ": " << result.err;
        EXPECT_EQ(result.err.find("pdsi-report-"), std::string::npos) << r.name << ": names its scratch folder";
        EXPECT_FALSE(fs::exists(copy / kPage)) << r.name;
        EXPECT_FALSE(fs::exists(copy / (std::string(kPage) + ".tmp"))) << r.name;
    }
}

TEST(PdsiReport, StageStoppedEarlyGivesThePageOfTheCellsItHolds) {
    testsupport::TempDir work;
    filled_run(work.path(), false);
    const fs::path run = work / "run";
    // As the stage leaves its files when cell 4 has no neighbour.
    const std::string out = read_file(run / "MonthlyPDSI_QC.out");
    write_file(run / "MonthlyPDSI_QC.out", out.substr(0, out.find(" Grid point:    4") - 75));
    const std::string qc = read_file(run / "MonthlyPDSI_QC.tsf");
    size_t at = 0;
    for (int32_t line = 0; line < 3 * 4 + 1; ++line) at = qc.find('\n', at) + 1;
    write_file(run / "MonthlyPDSI_QC.tsf", qc.substr(0, at));
    fs::remove(run / "MonthlyPDSI_QC_col.tsf");
    const auto result = run_pdsi(work.path(), {"report", run.string(), "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const std::string page = read_file(run / kPage);
    EXPECT_NE(page.find("stopped at cell 4"), std::string::npos);
    EXPECT_EQ(count(page, "\"est\":"), 3u) << "estimates of cells 1 to 3 only";
    EXPECT_EQ(count(page, "],\"r\":"), 3u) << "fit figures of cells 1 to 3 only";
    // Cell 2's estimates under another cell's header.
    std::string moved = qc.substr(0, at);
    moved.replace(moved.find("\n   -31.25  -98.75") + 1, 17, "   -31.25  -96.25");
    write_file(run / "MonthlyPDSI_QC.tsf", moved);
    const auto refused = run_pdsi(work.path(), {"report", run.string(), "-q"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("MonthlyPDSI_QC.tsf: cell 2 is not at its mid-point"), std::string::npos) << refused.err;
}

// The browser's checks are in browser_check.py; it prints its table.
TEST(PdsiReport, PageWorksInHeadlessChromium) {
    testsupport::TempDir work;
    filled_run(work.path(), true);
    const fs::path hostile = work / "hostile";
    fs::create_directories(hostile);
    for (const char* name : {"MonthlyPDSI.tsf", "MonthlyPDSI.xy"}) fs::copy(work / "run" / name, hostile / name);
    std::string tsf = read_file(hostile / "MonthlyPDSI.tsf");
    tsf.replace(1, tsf.find('\n') - 1, "<script>alert(1)</script>");
    write_file(hostile / "MonthlyPDSI.tsf", tsf);
    ASSERT_EQ(run_pdsi(work.path(), {"report", hostile.string(), "-q"}).status, 0);
    const fs::path shot = fs::current_path() / "report_page.png";
    const std::string command = "/usr/bin/python3 " + testsupport::source_path("report/browser_check.py").string() +
                                " " + (work / "run").string() + " " + (hostile / kPage).string() + " " +
                                shot.string() + " 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no browser here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the table above";
}

}  // namespace
