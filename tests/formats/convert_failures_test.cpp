// `pdsi convert` on folders whose files are missing, cut, edited or of
// other cells: exit status 1, one line naming the fault, no copy left.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::write_file;

// Replaces the `n`th line (from 1) of the file; "" removes it.
void edit_line(const fs::path& path, int32_t n, const std::string& text, bool remove = false) {
    std::string all = read_file(path);
    size_t at = 0;
    for (int32_t k = 1; k < n; ++k) at = all.find('\n', at) + 1;
    const size_t end = all.find('\n', at);
    all.replace(at, end - at + (remove ? 1 : 0), text);
    write_file(path, all);
}

struct Case {
    const char* name;
    std::function<void(const fs::path&)> damage;
    std::vector<std::string> words;  // each must be in the message
};

TEST(PdsiConvert, BadFilesAreRefusedAndLeaveNoCopy) {
    testsupport::TempDir work;
    const fs::path grid = work / "grid.txt";
    cli_test::write_grid(grid);
    const fs::path good = work / "good";
    const auto made = testsupport::run_pdsi(work.path(), {"extract", "--grid", grid.string(), "--out", good.string(),
                                                          "-q", "--years", "1850:1852", "--lat=31.25:36.25",
                                                          "--lon=-98.75:-96.25", "--max-missing", "1.01", "--fill",
                                                          "1851:1852"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string tsf = "MonthlyPDSI.tsf", xy = "MonthlyPDSI.xy", qc = "MonthlyPDSI_QC.tsf";
    // Cell 1's header is line 4 of the .tsf, its years lines 5-7; cell 2's header is line 8.
    const Case cases[] = {
        {"no files at all", [&](const fs::path& d) { fs::remove(d / tsf); fs::remove(d / xy); }, {tsf, "no such file"}},
        {"no coordinate file", [&](const fs::path& d) { fs::remove(d / xy); }, {xy, "no such file"}},
        {"data file cut within a cell",
         [&](const fs::path& d) {
             const std::string t = read_file(d / tsf);
             write_file(d / tsf, t.substr(0, t.size() / 2));
         },
         {tsf, "cut short"}},
        {"data file cut inside a record",
         [&](const fs::path& d) {
             const std::string t = read_file(d / tsf);
             write_file(d / tsf, t.substr(0, t.size() - 30));
         },
         {tsf, "cut short"}},
        {"data file cut after the year of its last record",
         [&](const fs::path& d) {
             const std::string t = read_file(d / tsf);
             write_file(d / tsf, t.substr(0, t.rfind('\n', t.size() - 2) + 6));
         },
         {tsf, "1852", "cut short"}},
        {"data file of headers only",
         [&](const fs::path& d) {
             const std::string t = read_file(d / tsf);
             size_t at = 0;
             for (int k = 0; k < 4; ++k) at = t.find('\n', at) + 1;
             write_file(d / tsf, t.substr(0, at));
         },
         {tsf, "line 5", "no year record"}},
        {"a year record missing", [&](const fs::path& d) { edit_line(d / tsf, 6, "", true); }, {tsf, "line 6", "cell 1 (", "1851"}},
        // The span ends with the last line that is not blank, even when the
        // first cell's run ends before it.
        {"a record missing from the first cell of a run ending in 2010 and a blank line",
         [&](const fs::path& d) {
             auto record = [](int32_t year) {
                 std::string r = " " + std::to_string(year);
                 for (int k = 0; k < 12; ++k) r += "   0.50";
                 return r + "\n";
             };
             write_file(d / xy, "  title\n title\n   Xlon.   Ylat\n  -98.75   31.25\n  -96.25   31.25\n");
             write_file(d / tsf, " a\n b\n c\n    31.25  -98.75\n" + record(2008) + record(2010) + "    31.25  -96.25\n" +
                                     record(2008) + record(2009) + record(2010) + "   \n");
             fs::remove(d / qc);
         },
         {tsf, "line 6", "2009"}},
        {"letters in a value",
         [&](const fs::path& d) {
             edit_line(d / tsf, 9, " 1850  -1.25  abcde  -1.01  -1.23  -0.76  -0.20  -0.06  -1.31  -0.38  -0.48  -0.23   0.09");
         },
         {tsf, "line 9", "not a number"}},
        {"coordinate file disagrees", [&](const fs::path& d) { edit_line(d / xy, 4, "  -93.75   31.25"); },
         {tsf, "line 4", "header of cell 1 ", "MonthlyPDSI.xy"}},
        {"a cell off the grid", [&](const fs::path& d) { edit_line(d / xy, 4, "  -98.70   31.25"); },
         {xy, "cell 1 (", "not a mid-point"}},
        {"a cell north of the grid", [&](const fs::path& d) { edit_line(d / xy, 4, "  -98.75   78.75"); },
         {xy, "not a mid-point"}},
        {"coordinate file lacks the first cell", [&](const fs::path& d) { edit_line(d / xy, 4, "", true); },
         {tsf, "line 4", "MonthlyPDSI.xy"}},
        {"data file of more cells than listed",
         [&](const fs::path& d) {
             std::string t = read_file(d / xy);
             t.erase(t.rfind('\n', t.size() - 2) + 1);
             write_file(d / xy, t);
         },
         {tsf, "more than the 5 cells"}},
        {"gap filling file of other cells",
         [&](const fs::path& d) {
             edit_line(d / qc, 1, "    33.75  -98.75  Orv Kelmaston Ruel Global PDSI values");
         },
         {qc, "line 1", "other cells"}},
        {"gap filling file cut short",
         [&](const fs::path& d) {
             const std::string t = read_file(d / qc);
             write_file(d / qc, t.substr(0, t.find('\n') + 1));
         },
         {qc, "cut short"}},
        {"disk full while writing",
         [&](const fs::path& d) { fs::create_symlink("/dev/full", d / "MonthlyPDSI.csv.tmp"); },
         {"MonthlyPDSI.csv", "write failed"}},
    };
    for (const Case& c : cases) {
        const fs::path dir = work / c.name;
        fs::copy(good, dir);
        c.damage(dir);
        const auto result = testsupport::run_pdsi(dir, {"convert", "--format", "csv,netcdf"});
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.err.rfind("pdsi convert: error: ", 0), 0u) << c.name << ": " << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.name << ": " << result.err;
        for (const std::string& word : c.words)
            EXPECT_NE(result.err.find(word), std::string::npos) << c.name << ": no \"" << word << "\" in " << result.err;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find(".nc") == std::string::npos && name.find(".csv") == std::string::npos)
                << c.name << ": " << name << " left behind";
        }
    }
}

// A GeoTIFF cannot be empty or be written to a full disk; the other
// copies of a run of no cell are still made when no format is named.
TEST(PdsiConvert, GeotiffOfNoCellOrNoRoom) {
    testsupport::TempDir work;
    const fs::path grid = work / "grid.txt";
    cli_test::write_grid(grid);
    struct Row {
        const char* name;
        const char* max_missing;  // 0 keeps no cell
        std::vector<std::string> formats;
        bool disk_full;
        int status;
        std::vector<std::string> words;  // in the message
        std::vector<std::string> files;  // the copies there afterwards
    };
    const Row rows[] = {
        {"no cell, every format", "0", {}, false, 0, {"kept no cell", "not written"},
         {"MonthlyPDSI.nc", "MonthlyPDSI.csv"}},
        {"no cell, asked for", "0", {"--format", "geotiff"}, false, 1, {"pdsi convert: error: ", "kept no cell"}, {}},
        {"disk full", "1.01", {"--format", "geotiff"}, true, 1, {"pdsi convert: error: ", "MonthlyPDSI.tif"}, {}},
    };
    for (const Row& row : rows) {
        const fs::path dir = work / row.name;
        const auto made = testsupport::run_pdsi(work.path(), {"extract", "--grid", grid.string(), "--out", dir.string(),
                                                              "-q", "--years", "1850:1851", "--lat=31.25:33.75",
                                                              "--lon=-98.75:-96.25", "--max-missing", row.max_missing});
        ASSERT_EQ(made.status, 0) << row.name << ": " << made.err;
        if (row.disk_full) fs::create_symlink("/dev/full", dir / "MonthlyPDSI.tif.tmp");
        std::vector<std::string> args{"convert", dir.string()};
        args.insert(args.end(), row.formats.begin(), row.formats.end());
        const auto result = testsupport::run_pdsi(work.path(), args);
        EXPECT_EQ(result.status, row.status) << row.name << ": " << result.err;
        for (const std::string& word : row.words)
            EXPECT_NE(result.err.find(word), std::string::npos) << row.name << ": no \"" << word << "\" in " << result.err;
        std::vector<std::string> copies;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.find(".nc") != std::string::npos || name.find(".csv") != std::string::npos ||
                name.find(".tif") != std::string::npos)
                copies.push_back(name);
        }
        std::sort(copies.begin(), copies.end());
        std::vector<std::string> want = row.files;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(copies, want) << row.name;
    }
}

}  // namespace
