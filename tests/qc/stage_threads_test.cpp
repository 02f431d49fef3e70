// The stage in process over a long span and many cells, so that there are
// more cell tasks than the threads hold at once: the same console and files
// for any count, a stop at a lone cell included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "qc/orvqc5.h"
#include "tests/support/program.h"
#include "textio/console.h"

namespace {

namespace fs = std::filesystem;

// A 12 by 12 block of cells and one beside it over 1850-2010 (145 cells:
// the last task holds one), values from a smooth field with gaps; with
// `lone`, one more cell far from the rest ends the list.
void write_run(const fs::path& dir, bool lone) {
    std::string xy = "   title\n title\n   Xlon.   Ylat\n";
    std::string tsf = " citation one\n citation two\n citation three\n";
    auto add = [&](float lat, float lon, int32_t c) {
        char line[128];
        std::snprintf(line, sizeof line, " %8.2f%8.2f\n", lon, lat);
        xy += line;
        std::snprintf(line, sizeof line, " %8.2f%8.2f  cell values\n", lat, lon);
        tsf += line;
        for (int32_t year = 1850; year <= 2010; ++year) {
            std::snprintf(line, sizeof line, " %4d", year);
            tsf += line;
            for (int32_t m = 0; m < 12; ++m) {
                const int32_t k = (year - 1850) * 12 + m;
                const float v = (k + 7 * c) % 53 == 0 || year < 1850 + c % 30
                                    ? -99.9f
                                    : std::round(400.0f * std::sin(0.05f * k + 0.3f * c)) / 100.0f;
                std::snprintf(line, sizeof line, " %6.2f", v);
                tsf += line;
            }
            tsf += "\n";
        }
    };
    int32_t c = 0;
    for (int32_t i = 0; i < 12; ++i)
        for (int32_t j = 0; j < 12; ++j) add(31.25f + 2.5f * static_cast<float>(j), -98.75f + 2.5f * static_cast<float>(i), c++);
    add(31.25f, -68.75f, c++);
    if (lone) add(-46.25f, 78.75f, c);
    testsupport::write_file(dir / "MonthlyPDSI.xy", xy);
    testsupport::write_file(dir / "MonthlyPDSI.tsf", tsf);
}

std::string run(const fs::path& dir, int32_t threads) {
    textio::StringSource keyboard("\n\n\n\n", "console");
    textio::StringSink display;
    textio::Console console(keyboard, display);
    qc::StageRequest request{1850, 2010, dir, qc::calibration_period(1850, 2010, 1951, 2010), nullptr, threads};
    const qc::StageOutcome outcome = qc::run_stage(console, request);
    std::string seen = display.text() + "\nend " + std::to_string(static_cast<int>(outcome.end));
    for (const char* name : {"MonthlyPDSI_col.tsf", "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf", "MonthlyPDSI_QC.out"}) {
        std::error_code ec;
        seen += std::string("\n%% ") + name + "\n" + (fs::exists(dir / name, ec) ? testsupport::read_file(dir / name) : "");
    }
    return seen;
}

TEST(StageThreads, ManyCellTasksGiveTheSameFiles) {
    for (bool lone : {false, true}) {
        SCOPED_TRACE(lone ? "ending at a lone cell" : "every cell filled");
        testsupport::TempDir dir;
        write_run(dir.path(), lone);
        const std::string one = run(dir.path(), 1);
        EXPECT_NE(one.find(lone ? "end 5" : "end 0"), std::string::npos);
        EXPECT_NE(one.find(" Grid point:  145"), std::string::npos);
        for (int32_t threads : {2, 7}) EXPECT_EQ(run(dir.path(), threads), one) << threads << " threads";
    }
}

}  // namespace
