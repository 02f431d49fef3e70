// The same request through `pdsi extract` and through the dialogue's piped
// answers: every file the dialogue writes, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;

struct Request {
    const char* name;
    const char* years;  // FIRST:LAST
    const char* lat;    // SOUTH:NORTH, "" for the default
    const char* lon;
    const char* fraction;
    const char* fill;   // "" for none
    // The dialogue's answers for the same request: bounds and fraction
    // typed with a point, as it wants them.
    const char* north;
    const char* south;
    const char* west;
    const char* east;
    const char* pct;
    int status;  // of pdsi
};

const char* const kFiles[] = {"MonthlyPDSI.tsf",    "MonthlyPDSI.xy",         "MonthlyPDSI_col.tsf",
                              "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf", "MonthlyPDSI_QC.out"};

std::string answers(const Request& r) {
    const std::string years = r.years;
    const std::string first = years.substr(0, years.find(':'));
    const std::string last = years.substr(years.find(':') + 1);
    std::string text = "\n\n" + first + "\n" + last + "\n" + r.north + "\n" + r.south + "\n" + r.west + "\n" +
                       r.east + "\nT\n" + r.pct + "\n";
    if (*r.fill) {
        const std::string fill = r.fill;
        text += "T\n\n" + fill.substr(0, fill.find(':')) + "\n" + fill.substr(fill.find(':') + 1) + "\n\n";
    } else {
        text += "F\n";
    }
    return text + "\n\n";
}

std::vector<std::string> arguments(const Request& r, const fs::path& grid) {
    std::vector<std::string> args{"extract", "--years", r.years, "--max-missing", r.fraction,
                                  "--grid", grid.string(), "--out", "run", "--quiet"};
    if (*r.lat) args.push_back(std::string("--lat=") + r.lat);
    if (*r.lon) args.push_back(std::string("--lon=") + r.lon);
    if (*r.fill) args.insert(args.end(), {"--fill", r.fill});
    return args;
}

TEST(PdsiExtract, WritesTheDialoguesFiles) {
    testsupport::TempDir work;
    const fs::path grid = work / "pdsisc1850-2010.txt";
    cli_test::write_grid(grid);
    const Request requests[] = {
        {"one cell", "1850:1852", "36.25:36.25", "-96.25:-96.25", "0.5", "", "36.25", "36.25", "-96.25", "-96.25",
         "0.5", 0},
        {"a box over a coastline, filled", "1850:1852", "20:40", "-100:-80", "0.5", "1851:1852", "40.", "20.",
         "-100.", "-80.", "0.5", 0},
        {"the whole grid for one year", "1851:1851", "", "", "0.5", "", "90.", "-90.", "-180.", "180.", "0.5", 0},
        // Past 180 the command refuses what the dialogue moves: 180 stands in.
        {"bounds beyond the grid, moved onto it", "1850:1850", "-90:90", "-200:180", "1.01", "", "90.", "-90.",
         "-200.", "200.", "1.01", 0},
        {"bounds between mid-points", "1850:1852", "30:40", "-100:-90", "0.5", "", "40.", "30.", "-100.", "-90.",
         "0.5", 0},
        {"fraction 0 keeps no cell, filled", "1850:1852", "30:40", "-100:-90", "0", "1850:1852", "40.", "30.",
         "-100.", "-90.", "0.", 0},
        {"fraction 1.01 keeps gappy cells, filled", "1850:1852", "-10:10", "0:20", "1.01", "1852:1852", "10.",
         "-10.", "0.", "20.", "1.01", 0},
        {"calibration not at the end of the span", "1850:1852", "30:40", "-100:-90", "0.5", "1850:1851", "40.",
         "30.", "-100.", "-90.", "0.5", 0},
        {"a lone cell stops the filling", "1850:1852", "36.25:36.25", "-96.25:-96.25", "0.5", "1851:1852",
         "36.25", "36.25", "-96.25", "-96.25", "0.5", 1},
    };
    for (const Request& r : requests) {
        testsupport::TempDir dialogue_dir, command_dir;
        fs::create_symlink(grid, dialogue_dir / "pdsisc1850-2010.txt");
        const auto dialogue = testsupport::run_program(dialogue_dir.path(), answers(r));
        ASSERT_EQ(dialogue.status, 0) << r.name << "\n" << dialogue.out;
        const auto command = testsupport::run_pdsi(command_dir.path(), arguments(r, grid));
        EXPECT_EQ(command.status, r.status) << r.name << "\n" << command.err;
        EXPECT_EQ(command.out, "") << r.name;
        for (const char* file : kFiles) {
            const bool made = fs::exists(dialogue_dir / file);
            ASSERT_EQ(fs::exists(command_dir / "run" / file), made) << r.name << ": " << file;
            if (made) {
                EXPECT_EQ(read_file(command_dir / "run" / file), read_file(dialogue_dir / file)) << r.name << ": " << file;
            }
        }
    }
}

}  // namespace
