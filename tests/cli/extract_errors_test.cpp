// What `pdsi` says and returns when it refuses a request, a run fails or
// the calibration is not the one asked for, and that nothing is left
// behind where it refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    std::vector<std::string> args;  // "GRID" stands for the grid file's path
    int status;
    std::vector<std::string> words;  // each must be in the message
    const char* out = "";            // and this on standard output
};

std::vector<std::string> with_grid(std::vector<std::string> args, const fs::path& grid) {
    for (std::string& arg : args)
        if (arg == "GRID") arg = grid.string();
    return args;
}

TEST(PdsiExtract, RefusalsAndFailuresNameTheirCause) {
    testsupport::TempDir work;
    const fs::path grid = work / "grid.txt";
    cli_test::write_grid(grid);
    // A copy whose row 39 of February 1850 holds letters, one cut short
    // after 1850, and a folder in the way of a file.
    std::string text = testsupport::read_file(grid);
    size_t row = 0;
    for (int32_t k = 0; k < 1 + 56 * 24; ++k) row = text.find('\n', row) + 1;
    testsupport::write_file(work / "short.txt", text.substr(0, row));  // ends after 1851
    row = 0;
    for (int32_t k = 1; k < 56 + 2 + 39; ++k) row = text.find('\n', row) + 1;
    text.replace(row + 7 * 32, 6, " x.yz ");
    testsupport::write_file(work / "letters.txt", text);
    fs::create_directories(work / "full");
    fs::create_symlink("/dev/full", work / "full" / "MonthlyPDSI.tsf");
    fs::create_directories(work / "taken");
    testsupport::write_file(work / "taken" / "file", "");
    fs::create_directories(work / "page" / "MonthlyPDSI_report.html.tmp");
    // A good request on `grid_file` with more options.
    auto plus = [&](std::vector<std::string> more, const std::string& grid_file = "GRID") {
        std::vector<std::string> args{"extract", "--grid", grid_file, "--years", "1850:1851", "--max-missing", "0.5"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const Case cases[] = {
        {"no subcommand", {}, 2, {"subcommand is required"}},
        {"unknown subcommand", {"extrct"}, 2, {"extrct", "\": extract, convert, ", " or "}},
        {"a run folder named like a negative number", {"convert", "-5"}, 1, {"-5/MonthlyPDSI.tsf", "no such file"}},
        {"years missing", {"extract", "--max-missing", "0.5"}, 2, {"--years", "required"}},
        {"fraction missing", {"extract", "--years", "1850:1851"}, 2, {"--max-missing", "required"}},
        {"year before the grid", plus({"--years", "1849:1850"}), 2, {"--years", "1849", "outside"}},
        {"year after the grid", {"extract", "--years", "2000:2011", "--max-missing", "1"}, 2, {"--years", "2011"}},
        {"years without a colon", {"extract", "--years", "1900", "--max-missing", "1"}, 2, {"--years", "FIRST:LAST"}},
        {"last year before the first", {"extract", "--years", "1990:1980", "--max-missing", "1"}, 2,
         {"--years", "before"}},
        {"years repeated", plus({"--years", "1850:1850"}), 2, {"--years"}},
        {"empty bound", plus({"--lat=:40"}), 2, {"--lat", "not a number"}},
        {"a span option as the last word", plus({"--lat"}), 2, {"--lat"}},
        {"latitudes inverted after the clamp", plus({"--lat=80:90"}), 2,
         {"--lat", "after moving the north bound onto the grid's northernmost mid-point (80.00 > 76.25)"}},
        {"longitudes inverted, none moved", plus({"--lon", "10:-10"}), 2,
         {"--lon", "the west bound is above the east bound (10.00 > -10.00)"}},
        {"an east bound counted to 360", plus({"--lon=-100:200"}), 2,
         {"--lon", "the east bound is beyond 180: longitudes run from -180 to 180; for 200 write -160"}},
        {"a bound past 360 has no spelling to offer", plus({"--lon=400:410"}), 2,
         {"--lon", "the west bound is beyond 180: longitudes run from -180 to 180"}},
        {"a bound of 1e39", plus({"--lon=-1e39:0"}), 2, {"--lon", "finite"}},
        {"fraction NaN", {"extract", "--years", "1850:1851", "--max-missing", "nan"}, 2, {"--max-missing", "finite"}},
        {"fraction negative", {"extract", "--years", "1850:1851", "--max-missing", "-0.5"}, 2,
         {"--max-missing", "negative"}},
        {"fraction letters", {"extract", "--years", "1850:1851", "--max-missing", "half"}, 2,
         {"--max-missing", "not a number"}},
        {"calibration outside the span", plus({"--fill", "1852:1852"}), 2, {"--fill", "outside the span"}},
        {"unknown option", plus({"--bogus"}), 2, {"--bogus"}},
        {"no thread", plus({"--threads", "0"}), 2, {"--threads", "\"0\" is not a thread count"}},
        {"threads beyond the limit", plus({"--threads", "1025"}), 2, {"--threads", "1 to 1024"}},
        {"threads not whole", plus({"--threads", "2.5"}), 2, {"--threads", "\"2.5\""}},
        {"unknown format", plus({"--format", "nc"}), 2, {"--format", "nc"}},
        {"grid missing", {"extract", "--years", "1850:1851", "--max-missing", "1", "--grid", "none.txt"}, 2,
         {"--grid", "none.txt"}},
        {"default grid missing", {"extract", "--years", "1850:1851", "--max-missing", "1"}, 2,
         {"--grid", "pdsisc1850-2010.txt"}},
        {"grid is a folder", {"extract", "--years", "1850:1851", "--max-missing", "1", "--grid", "."}, 2,
         {"--grid", "directory"}},
        {"output folder under a file", plus({"--out", (work / "taken/file/run").string()}), 2, {"--out", "taken/file/run"}},
        {"letters in a box row", plus({"--lat=36.25:36.25"}, (work / "letters.txt").string()), 1,
         {"record 97", "grid row 39 of February 1850", "grid column 33", "not a number"}},
        {"grid cut short", {"extract", "--grid", (work / "short.txt").string(), "--years", "1850:1852", "--max-missing", "1"},
         1, {"short.txt", "ends after record 1345", "cut short"}},
        {"a full disk", plus({"--out", (work / "full").string()}), 1, {"full/MonthlyPDSI.tsf", "error: Error writing file"}},
        {"a lone cell", plus({"--lat=36.25:36.25", "--lon=-96.25:-96.25", "--fill", "1851:1851"}), 1,
         {"cell 1 (36.25, -96.25)", "no neighbour", "hold no cell"}},
        {"a lone second cell",
         {"extract", "--grid", "GRID", "--years", "1850:1851", "--max-missing", "0.1", "--lat=-11.25:-3.75",
          "--lon=-168.75:-166.25", "--fill", "1851:1851"},
         1, {"cell 2 (-3.75, -168.75)", "hold cell 1 only,"}},
        {"a calibration short of the span's end, told how it is used",
         plus({"--lat=36.25:36.25", "--lon=-96.25:-93.75", "--fill", "1850:1850"}), 0,
         {"calibration uses 1851-1851 (1 year ending with the span)"}, "pdsi extract: 2 cells in the box, 2 kept"},
        {"a page that cannot be written",
         plus({"--lat=36.25:36.25", "--lon=-96.25:-93.75", "--out", (work / "page").string(), "--report", "-q"}), 1,
         {"pdsi report: error: ", "MonthlyPDSI_report.html.tmp: cannot be created"}},
        {"the sample where no folder is", {"sample", "--out", (work / "none/grid.txt").string()}, 1,
         {"pdsi sample: error: ", "none/grid.txt.part"}},
        {"a lone third cell", plus({"--lat=13.75:23.75", "--lon=-151.25:-151.25", "--fill", "1851:1851"}), 1,
         {"cell 3 (23.75, -151.25)", "hold cells 1 to 2 only"}},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        const auto run = testsupport::run_pdsi(dir.path(), with_grid(c.args, grid));
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.err;
        for (const std::string& word : c.words)
            EXPECT_NE(run.err.find(word), std::string::npos) << c.name << ": no \"" << word << "\" in\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.name << "\n" << run.err;
        EXPECT_EQ(run.err.find('\r'), std::string::npos) << c.name << ": a progress line on a pipe";
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.name << ": no \"" << c.out << "\" in\n" << run.out;
        if (c.status == 2) {
            EXPECT_TRUE(fs::is_empty(dir.path())) << c.name << ": files written";
        }
    }
}

}  // namespace
