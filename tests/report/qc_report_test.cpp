// The gap filling's report read for the page: figures of a real report and
// of edited ones (damaged figures read as none), and the reports it refuses.
#include <gtest/gtest.h>

#include <cmath>
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
    std::string renumbered = real, lettered = real, label_only = real;
    renumbered.replace(second, 17, " Grid point:    3");
    lettered.replace(second, 17, " Grid point:   2x");
    label_only.erase(second + 12, real.find('\n', second) - second - 12);
    struct Row { const char* name; std::string text; const char* words; };
    const Row rows[] = {
        {"another file", "    36.25  -98.75  values\n", "not the opening"},
        {"grid points out of order", renumbered, "where 2 comes next"},
        {"a letter in a grid point number", lettered, "names grid point   2x where 2"},
        {"a grid point line of its label alone", label_only, "names grid point  where 2"},
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

TEST(QcReport, FiguresOfAnEditedReport) {
    const std::string real =
        testsupport::read_file(testsupport::source_path("e2e/expected/qc_analysis_last_years/MonthlyPDSI_QC.out"));
    struct Row { const char* name; const char* from; const char* to; bool (*holds)(const report::CellFit&); };
    const Row rows[] = {
        {"eleven outliers of its own, the last on a continuation line", " gpt    1   12.50  12.50\n",
         " gpt    1   12.50  12.50  12.50  12.50  12.50  12.50  12.50  12.50  12.50  12.50\n           -12.50\n",
         [](const report::CellFit& f) { return f.outliers == 11; }},
        {"a second component used", " PC1:  -0.884  -1.056   0.095   PC used in PDSI estimates\n",
         " PC1:  -0.884  -1.056   0.095   PC used in PDSI estimates\n"
         " PC2:   0.300   0.200   0.000   PC used in PDSI estimates\n"
         " PC3:   0.050   0.010   0.000   PC NOT used in PDSI estimates\n",
         [](const report::CellFit& f) { return f.components == std::vector<int32_t>{1, 2}; }},
        {"a letter inside the correlation", " Sum:   0.884", " Sum:   0.8x4",
         [](const report::CellFit& f) { return f.r && std::isnan(*f.r) && *f.slope == 1.0f; }},
        {"a blank inside the slope", " Sum:   0.884   1.000", " Sum:   0.884   1.0 0",
         [](const report::CellFit& f) { return std::isnan(*f.slope) && *f.r == 0.884f; }},
        {"a fraction among the neighbours", " gpt       1       2       4       5\n",
         " gpt       1       2     4.5       5\n",
         [](const report::CellFit& f) { return f.gpt == std::vector<int32_t>{1, 2, 0, 5}; }},
        {"a neighbour past the integers", " gpt       1       2       4       5\n",
         " gpt       1       2       4 4294967301\n",
         [](const report::CellFit& f) { return f.gpt == std::vector<int32_t>{1, 2, 4, 0}; }},
    };
    for (const Row& r : rows) {
        std::string text = real;
        const size_t at = text.find(r.from);
        ASSERT_NE(at, std::string::npos) << r.name;
        text.replace(at, std::string(r.from).size(), r.to);
        const auto fits = read_text(text);
        ASSERT_FALSE(fits.empty()) << r.name;
        EXPECT_TRUE(r.holds(fits[0])) << r.name;
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
