// The gap filling's report read for the page: figures of a real report,
// and the reports it refuses.
#include <gtest/gtest.h>

#include <string>

#include "report/qc_report.h"
#include "runfiles/run_data.h"
#include "tests/support/program.h"
#include "textio/source.h"

namespace {

std::vector<report::CellFit> read_text(const std::string& text) {
    testsupport::TempDir dir;
    testsupport::write_file(dir / "r.out", text);
    textio::FileSource in((dir / "r.out").string());
    return report::read_qc_report(in, "r.out");
}

TEST(QcReport, FiguresOfARealReport) {
    const std::string text =
        testsupport::read_file(testsupport::source_path("e2e/expected/qc_analysis_last_years/MonthlyPDSI_QC.out"));
    const auto fits = read_text(text);
    ASSERT_EQ(fits.size(), 12u);
    const report::CellFit& first = fits[0];
    EXPECT_EQ(first.cell, 1);
    EXPECT_FLOAT_EQ(first.lat, 21.25f);
    EXPECT_FLOAT_EQ(first.lon, 11.25f);
    EXPECT_EQ(first.gpt, (std::vector<int32_t>{1, 2, 4, 5}));
    EXPECT_EQ(first.outliers, 2) << "two values of its own listed";
    EXPECT_EQ(first.components, std::vector<int32_t>{1});
    ASSERT_TRUE(first.r);
    EXPECT_FLOAT_EQ(*first.r, 0.884f);
    EXPECT_FLOAT_EQ(*first.slope, 1.0f);
    ASSERT_EQ(first.xmn.size(), 4u);
    EXPECT_FLOAT_EQ(first.sig[3], 1.768f);
    EXPECT_FALSE(fits[11].r) << "a cell the stage wrote as read has no fit";
    EXPECT_NE(fits[11].note.find("written as read"), std::string::npos);
    EXPECT_EQ(fits[1].outliers, 0) << "cell 1's outliers listed in cell 2's block are not cell 2's";
}

TEST(QcReport, RefusesWhatIsNotAWholeReport) {
    const std::string real =
        testsupport::read_file(testsupport::source_path("e2e/expected/qc_analysis_last_years/MonthlyPDSI_QC.out"));
    const size_t second = real.find(" Grid point:    2");
    const size_t last_end = real.rfind(" No valid calibration values");
    std::string renumbered = real;
    renumbered.replace(second, 17, " Grid point:    3");
    struct Row { const char* name; std::string text; const char* words; };
    const Row rows[] = {
        {"another file", "    36.25  -98.75  values\n", "not the opening"},
        {"grid points out of order", renumbered, "where 2 comes next"},
        {"last block cut short", real.substr(0, last_end), "grid point 12 is cut short"},
    };
    for (const Row& r : rows) {
        try {
            read_text(r.text);
            ADD_FAILURE() << r.name << ": read without complaint";
        } catch (const runfiles::RunFileError& e) {
            EXPECT_NE(std::string(e.what()).find(r.words), std::string::npos) << r.name << ": " << e.what();
        }
    }
}

TEST(QcReport, StageStoppedAtALoneCellLeavesWholeBlocks) {
    const std::string real =
        testsupport::read_file(testsupport::source_path("e2e/expected/qc_analysis_last_years/MonthlyPDSI_QC.out"));
    const size_t fourth = real.find("\n ========================================================================\n\n Grid point:    4");
    ASSERT_NE(fourth, std::string::npos);
    EXPECT_EQ(read_text(real.substr(0, fourth + 1)).size(), 3u);
}

}  // namespace
