#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/grid_axes.h"
#include "extract/grid_store.h"
#include "extract/writecells.h"
#include "tests/support/program.h"
#include "textio/console.h"
#include "textio/layout.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace extract {
namespace {

const std::string kCitation =
    " Orv-Kelmaston-Ruel Global/Land PDSI, version 2010: monthly Palmer Drought\n"
    " Severity Index on a 2.5 by 2.5 degree land grid, January 1850 to December\n"
    " 2010, with self-calibrated values. See the data set's documentation.\n";
const std::string kXyTitles =
    "   Orv-Kelmaston-Ruel 2010\n"
    " Global PDSI cell mid-points\n"
    "   Xlon.   Ylat\n";

struct Screen {
    textio::StringSource keyboard{"", "console"};
    textio::StringSink display;
    textio::Console console{keyboard, display};
};

// Columns 33-34, rows 37-38, years 2000-2001; cell 2 removed.
GridStore small_grid() {
    GridStore store(Box{33, 34, 37, 38}, 24);
    for (int32_t n = 1; n <= 4; ++n)
        for (int32_t m = 1; m <= 24; ++m) store.series(n)[m - 1] = static_cast<float>(n * 100 + m) / 100.0f;
    float* s = store.series(1);
    s[0] = kMissing;
    s[1] = 0.125f;      // ties round away from zero
    s[2] = -0.001f;     // a negative that rounds to zero keeps its sign
    s[3] = 1000.0f;     // too wide for six columns
    s[4] = -99.99f;
    s[5] = 0.0f;
    s[6] = -0.5f;
    s[7] = 999.99f;
    return store;
}

TEST(WriteCells, WritesBothFilesToTheColumn) {
    testsupport::TempDir dir;
    Screen screen;
    writecells(screen.console, small_grid(), {1, 0, 1, 1}, GridAxes(), 2000, dir.path());

    const std::string tsf = kCitation +
        "    31.25  -98.75  Orv Kelmaston Ruel Global PDSI values\n"
        " 2000 -99.90   0.13  -0.00 ****** -99.99   0.00  -0.50 999.99   1.09   1.10   1.11   1.12\n"
        " 2001   1.13   1.14   1.15   1.16   1.17   1.18   1.19   1.20   1.21   1.22   1.23   1.24\n"
        "    31.25  -96.25  Orv Kelmaston Ruel Global PDSI values\n"
        " 2000   3.01   3.02   3.03   3.04   3.05   3.06   3.07   3.08   3.09   3.10   3.11   3.12\n"
        " 2001   3.13   3.14   3.15   3.16   3.17   3.18   3.19   3.20   3.21   3.22   3.23   3.24\n"
        "    33.75  -96.25  Orv Kelmaston Ruel Global PDSI values\n"
        " 2000   4.01   4.02   4.03   4.04   4.05   4.06   4.07   4.08   4.09   4.10   4.11   4.12\n"
        " 2001   4.13   4.14   4.15   4.16   4.17   4.18   4.19   4.20   4.21   4.22   4.23   4.24\n";
    const std::string xy = kXyTitles +
        "   -98.75   31.25\n"
        "   -96.25   31.25\n"
        "   -96.25   33.75\n";
    EXPECT_EQ(testsupport::read_file(dir / "MonthlyPDSI.tsf"), tsf);
    EXPECT_EQ(testsupport::read_file(dir / "MonthlyPDSI.xy"), xy);
    EXPECT_EQ(screen.display.text(),
              "             31.25  -98.75  Orv Kelmaston Ruel Global PDSI values\n"
              "             31.25  -96.25  Orv Kelmaston Ruel Global PDSI values\n"
              "             33.75  -96.25  Orv Kelmaston Ruel Global PDSI values\n");
}

TEST(WriteCells, ReplacesEarlierFilesEvenWithNoCellKept) {
    testsupport::TempDir dir;
    {
        Screen screen;
        writecells(screen.console, small_grid(), {1, 1, 1, 1}, GridAxes(), 2000, dir.path());
    }
    Screen screen;
    writecells(screen.console, small_grid(), {0, 0, 0, 0}, GridAxes(), 1901, dir.path());
    EXPECT_EQ(testsupport::read_file(dir / "MonthlyPDSI.tsf"), kCitation);
    EXPECT_EQ(testsupport::read_file(dir / "MonthlyPDSI.xy"), kXyTitles);
    EXPECT_EQ(screen.display.text(), "");
}

TEST(WriteCells, OutermostMidPointsFillTheirFields) {
    testsupport::TempDir dir;
    Screen screen;
    GridStore store(Box{1, 1, 55, 55}, 12);
    for (int32_t m = 0; m < 12; ++m) store.series(1)[m] = -9.99f;
    writecells(screen.console, store, {1}, GridAxes(), 1901, dir.path());
    EXPECT_EQ(testsupport::read_file(dir / "MonthlyPDSI.xy"), kXyTitles + "  -178.75   76.25\n");
    const std::string tsf = testsupport::read_file(dir / "MonthlyPDSI.tsf");
    EXPECT_EQ(tsf.substr(kCitation.size()),
              "    76.25 -178.75  Orv Kelmaston Ruel Global PDSI values\n"
              " 1901  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99  -9.99\n");
}

TEST(YearRecordWriter, MatchesTheYearLayout) {
    static const textio::Layout year_layout("(1x,i4,12(1x,f6.2))");
    struct Row {
        const char* name;
        int32_t year;
        float months[12];
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Row rows[] = {
        {"ordinary", 1850, {1.0f, -1.0f, 0.5f, -0.5f, 2.25f, -2.25f, 10.0f, -10.0f, 0.01f, -0.01f, 6.66f, -6.66f}},
        {"ties and tiny values", 2010, {0.125f, -0.125f, 0.005f, -0.005f, 0.995f, -0.001f, -0.0f, 1e-30f, 0.004999f,
                                       2.675f, 1.005f, -1.005f}},
        {"overflow and specials", 1999, {1000.0f, -100.0f, 999.995f, -99.995f, 999.99f, -99.99f, inf, -inf, nan,
                                        -99.9f, 12345.0f, -1e30f}},
        {"runs", 1, {-99.9f, -99.9f, -99.9f, 0.0f, -0.0f, -0.0f, 1.5f, 1.5f, -1.5f, -1.5f, -99.9f, -99.9f}},
        {"all missing", 99999, {-99.9f, -99.9f, -99.9f, -99.9f, -99.9f, -99.9f, -99.9f, -99.9f, -99.9f, -99.9f,
                                -99.9f, -99.9f}},
    };
    // One writer for all: every record twice, the second from the memo.
    YearRecordWriter writer;
    textio::StringSink direct, by_layout;
    for (const Row& row : rows) {
        std::vector<textio::OutValue> values{row.year};
        for (float v : row.months) values.emplace_back(v);
        for (int32_t twice = 0; twice < 2; ++twice) {
            by_layout.write(year_layout, values);
            writer.write(direct, row.year + twice, row.months);
            values[0] = row.year + 1;
        }
    }
    EXPECT_EQ(direct.text(), by_layout.text());
}

}  // namespace
}  // namespace extract
