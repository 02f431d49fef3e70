// The map service through OWSLib and GDAL against a real `pdsi serve`; the
// checks are in wms_check.py, which prints its table. The colours it
// expects come from the class table, one cell of each colour the month
// shows.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "maps/palette.h"
#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

// As the grid file holds it: two decimals.
float stored(float value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    return std::strtof(text, nullptr);
}

TEST(WmsClients, OwslibAndGdalReadTheMapService) {
    testsupport::TempDir work;
    const std::string grid = (work / "grid.txt").string();
    tools::write_grid_file(grid, tools::kMonths, cli_test::grid_value);
    const int32_t month = 12 * (1990 - 1850) + 6;  // June 1990, 1-based
    std::string cells;
    bool seen[maps::kClasses + 2] = {};
    for (int32_t i = 1; i <= tools::kColumns; ++i)
        for (int32_t j = 1; j <= tools::kRows; ++j) {
            bool land = false;
            for (int32_t m = 1; m <= tools::kMonths && !land; ++m) land = cli_test::grid_value(i, j, m) != -99.9f;
            const float x = stored(cli_test::grid_value(i, j, month));
            const int kind = !land ? maps::kClasses + 1 : x == -99.9f ? maps::kClasses : maps::pdsi_class(x);
            if (seen[kind]) continue;
            seen[kind] = true;
            const maps::PdsiClass& c =
                kind < maps::kClasses ? maps::kPalette[static_cast<size_t>(kind)] : maps::kNoValue;
            const std::string colour = land ? std::string(c.colour.substr(1)) + "ff" : "ffffff00";
            char cell[64];
            std::snprintf(cell, sizeof cell, " %.2f,%.2f,%s", -178.75 + 2.5 * (i - 1), -58.75 + 2.5 * (j - 1),
                          colour.c_str());
            cells += cell;
        }
    const std::string command = "/usr/bin/python3 " + testsupport::source_path("maps/wms_check.py").string() +
                                " " PDSI_PATH " " + grid + " 1990-06" + cells + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "see the table above";
}

}  // namespace
