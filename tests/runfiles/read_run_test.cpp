// The run's text files into RunData: the values as the text shows them,
// the span from the records, the gap filling's file only when it is the
// run's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runfiles/run_data.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using testsupport::write_file;

const std::string kCitation = " first line\n second line\n third line\n";
const std::string kXy = "  title\n title\n   Xlon.   Ylat\n  -98.75   31.25\n  178.75  -58.75\n";
const std::string kYears1 =
    " 1990  -1.25  -0.82 -99.90  -1.23  -0.76  -0.20  -0.06  -1.31  -0.38  -0.48  -0.23   0.09\n"
    " 1991   0.13   1.00   2.55   9.99 -10.00   0.01  -0.01   0.00   3.33  -4.44   5.55  -6.66\n";
const std::string kYears2 =
    " 1990 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90 -99.90\n"
    " 1991  12.34  -0.50   0.50   0.25  -0.25   0.75  -0.75   1.10   1.20   1.30   1.40   1.50\n";
const std::string kTsf = kCitation + "    31.25  -98.75  cell values\n" + kYears1 +
                         "   -58.75  178.75  cell values\n" + kYears2;
const std::string kQc = "    31.25  -98.75  cell values\n" + kYears2 + "   -58.75  178.75  cell values\n" + kYears1;

TEST(ReadRun, CarriesTheTextsValuesSpanAndCells) {
    testsupport::TempDir dir;
    write_file(dir / "MonthlyPDSI.xy", kXy);
    write_file(dir / "MonthlyPDSI.tsf", kTsf);
    const runfiles::RunData data = runfiles::read_run(dir.path());
    EXPECT_EQ(data.iyr1, 1990);
    EXPECT_EQ(data.iyr2, 1991);
    ASSERT_EQ(data.ncells(), 2);
    EXPECT_EQ(data.cells[1].lat, -58.75f);
    EXPECT_EQ(data.cells[1].lon, 178.75f);
    EXPECT_EQ(data.cells[0].header, "    31.25  -98.75  cell values");
    EXPECT_EQ(data.citation, (std::vector<std::string>{"first line", "second line", "third line"}));
    EXPECT_FALSE(data.filled());
    EXPECT_FALSE(data.calibration);
    const struct {
        const char* name;
        int32_t cell, month;
        float value;
    } rows[] = {
        {"first month", 0, 0, -1.25f},       {"missing marker", 0, 2, runfiles::kMissing},
        {"second year", 0, 12, 0.13f},      {"minus ten", 0, 16, -10.0f},
        {"last month of cell 1", 0, 23, -6.66f}, {"cell 2 missing year", 1, 11, runfiles::kMissing},
        {"cell 2 outlier", 1, 12, 12.34f},
    };
    for (const auto& row : rows) EXPECT_EQ(data.series(row.cell)[row.month], row.value) << row.name;
}

TEST(ReadRun, TakesTheGapFillingFileOnlyWhenItIsTheRunsOwn) {
    const struct {
        const char* name;
        bool older;  // the QC file left from an earlier run
        bool filled;
    } rows[] = {{"the run's own", false, true}, {"left from an earlier run", true, false}};
    for (const auto& row : rows) {
        testsupport::TempDir dir;
        write_file(dir / "MonthlyPDSI.xy", kXy);
        write_file(dir / "MonthlyPDSI.tsf", kTsf);
        write_file(dir / "MonthlyPDSI_QC.tsf", kQc);
        if (row.older)
            fs::last_write_time(dir / "MonthlyPDSI_QC.tsf",
                                fs::last_write_time(dir / "MonthlyPDSI.tsf") - std::chrono::hours(1));
        const runfiles::RunData data = runfiles::read_run(dir.path());
        ASSERT_EQ(data.filled(), row.filled) << row.name;
        if (row.filled) {
            EXPECT_EQ(data.estimate(0)[12], 12.34f) << row.name;
            EXPECT_EQ(data.estimate(1)[0], -1.25f) << row.name;
        }
    }
}

TEST(ReadRun, TheSpanIsThatOfTheRecords) {
    const struct {
        const char* name;
        std::string xy, tsf;
        int32_t iyr1, iyr2;
    } rows[] = {
        {"no cell is no span", "  title\n title\n   Xlon.   Ylat\n", kCitation, 0, -1},
        {"the grid's last year alone", kXy,
         kCitation + "    31.25  -98.75\n" + kYears1.substr(0, 90).replace(0, 5, " 2010") + "   -58.75  178.75\n" +
             kYears2.substr(0, 90).replace(0, 5, " 2010"),
         2010, 2010},
    };
    for (const auto& row : rows) {
        testsupport::TempDir dir;
        write_file(dir / "MonthlyPDSI.xy", row.xy);
        write_file(dir / "MonthlyPDSI.tsf", row.tsf);
        const runfiles::RunData data = runfiles::read_run(dir.path());
        EXPECT_EQ(data.iyr1, row.iyr1) << row.name;
        EXPECT_EQ(data.iyr2, row.iyr2) << row.name;
        EXPECT_EQ(data.values.size(), static_cast<size_t>(data.ncells() * data.nmon())) << row.name;
        EXPECT_EQ(data.citation.size(), 3u) << row.name;
    }
}

TEST(ReadRun, RefusesYearsOffTheGridAndRecordsCutShort) {
    const std::string header = kCitation + "    31.25  -98.75  cell values\n";
    auto years = [](const char* first) { return std::string(first) + kYears1.substr(5, 84); };
    const struct {
        const char* name;
        std::string tsf;
        const char* words;  // empty: read
    } rows[] = {
        {"a first year after the grid's last", header + years(" 2011") + "\n", "no year record (1850 to 2010)"},
        {"a first year before the grid's first", header + years(" 1849") + "\n", "no year record (1850 to 2010)"},
        {"a record one column short", header + years(" 2010").substr(0, 88) + "\n", "is cut short"},
        {"a record of exactly its width", header + years(" 2010") + "\n", ""},
    };
    for (const auto& row : rows) {
        testsupport::TempDir dir;
        write_file(dir / "MonthlyPDSI.xy", "  title\n title\n   Xlon.   Ylat\n  -98.75   31.25\n");
        write_file(dir / "MonthlyPDSI.tsf", row.tsf);
        std::string message;
        try {
            runfiles::read_run(dir.path());
        } catch (const std::exception& error) {
            message = error.what();
        }
        if (*row.words == '\0')
            EXPECT_EQ(message, "") << row.name;
        else
            EXPECT_NE(message.find(row.words), std::string::npos) << row.name << ": " << message;
    }
}

}  // namespace
