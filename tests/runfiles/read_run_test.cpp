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

const std::string kCitation = " first line   \n second line\n third line\n";  // blanks to be trimmed
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
        {"a header cut after its latitude reads blanks", kCitation + "    31.25\n" + years(" 2010") + "\n",
         "is at (31.25, 0.00)"},
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

TEST(ReadRun, NamesEachDamageInFull) {
    const std::string h1 = "    31.25  -98.75  cell values\n", h2 = "   -58.75  178.75  cell values\n";
    const std::string y1990 = kYears1.substr(0, 90), y1991 = kYears1.substr(90);
    const std::string whole = kCitation + h1 + kYears1 + h2 + kYears2;
    const struct {
        const char* name;
        std::string xy, tsf, qc;  // qc empty: none
        const char* message;      // after the folder; empty: read
    } rows[] = {
        {"cut in the citation", kXy, " first line\n", "", "/MonthlyPDSI.tsf: the file ends within its three citation lines"},
        {"cut before a cell", kXy, kCitation + h1 + kYears1, "",
         "/MonthlyPDSI.tsf: the file ends before cell 2 (-58.75, 178.75) of 2; it is cut short"},
        {"cut within a cell", kXy, kCitation + h1 + kYears1 + h2 + y1990, "",
         "/MonthlyPDSI.tsf: the file ends within cell 2 (-58.75, 178.75), before its record of 1991; it is cut short"},
        {"a header that is no header", kXy, kCitation + "    31.2x\n" + kYears1 + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 4: not the header of cell 1 (31.25, -98.75)"},
        {"a header of another cell", kXy, kCitation + h2 + kYears1 + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 4: the header of cell 1 is at (-58.75, 178.75), MonthlyPDSI.xy has it at (31.25, -98.75)"},
        {"a year missing", kXy, kCitation + h1 + y1990 + y1990 + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 6: cell 1 (31.25, -98.75) has no record of 1991 here"},
        {"a record short", kXy, kCitation + h1 + y1990 + y1991.substr(0, 80) + "\n" + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 6: the record of 1991 of cell 1 (31.25, -98.75) is cut short"},
        {"a year alone is a record cut short", kXy, kCitation + h1 + y1990 + "1991\n" + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 6: the record of 1991 of cell 1 (31.25, -98.75) is cut short"},
        {"a year run into its first value", kXy, kCitation + h1 + y1990 + "1991x" + y1991.substr(5) + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 6: cell 1 (31.25, -98.75) has no record of 1991 here"},
        {"a blank line before the first record", kXy, kCitation + h1 + "\n" + kYears1 + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 5: cell 1 (31.25, -98.75) has no record of 1990 here"},
        {"a first value of seven columns", kXy, kCitation + h1 + " 19901234.56" + y1990.substr(12) + y1991 + h2 + kYears2,
         "", ""},
        {"a first year past the grid's last", kXy, kCitation + h1 + " 2011" + y1990.substr(5) + y1991 + h2 + kYears2, "",
         "/MonthlyPDSI.tsf line 5: no year record (1850 to 2010) after the header of cell 1 (31.25, -98.75)"},
        {"a last line of a year past the grid", kXy, whole + " 2011" + y1991.substr(5), "",
         "/MonthlyPDSI.tsf line 10: more than the 2 cells of MonthlyPDSI.xy"},
        {"a record missing from the first cell, the last line long", kXy,
         kCitation + h1 + y1990 + h2 + y1990 + y1991.substr(0, 89) + std::string(600, '=') + "\n" + std::string(600, ' '),
         "", "/MonthlyPDSI.tsf line 6: cell 1 (31.25, -98.75) has no record of 1991 here"},
        {"more than the cells", kXy, whole + "  more\n", "", "/MonthlyPDSI.tsf line 10: more than the 2 cells of MonthlyPDSI.xy"},
        {"headers with no year", kXy, kCitation + h1 + h2, "",
         "/MonthlyPDSI.tsf line 5: no year record (1850 to 2010) after the header of cell 1 (31.25, -98.75)"},
        {"a value that is no number", kXy, kCitation + h1 + y1990.substr(0, 12) + "  x.xx" + y1990.substr(18) + y1991 + h2 + kYears2,
         "", "/MonthlyPDSI.tsf line 5: a value is not a number"},
        {"a value no number after one of another shape", kXy,
         kCitation + h1 + y1990.substr(0, 5) + "  1.5  " + y1990.substr(12) + y1991.substr(0, 12) + "  x.xx" +
             y1991.substr(18) + h2 + kYears2,
         "", "/MonthlyPDSI.tsf line 6: a value is not a number"},
        {"a cell off the grid", "  title\n title\n   Xlon.   Ylat\n  -98.70   31.25\n", whole, "",
         "/MonthlyPDSI.xy: cell 1 (31.25, -98.70) is not a mid-point of the 2.5-degree grid"},
        {"a cell past the last row", "  title\n title\n   Xlon.   Ylat\n  -98.75   78.75\n", whole, "",
         "/MonthlyPDSI.xy: cell 1 (78.75, -98.75) is not a mid-point of the 2.5-degree grid"},
        {"a cell past the last column", "  title\n title\n   Xlon.   Ylat\n  181.25   31.25\n", whole, "",
         "/MonthlyPDSI.xy: cell 1 (31.25, 181.25) is not a mid-point of the 2.5-degree grid"},
        {"the grid's corners", "  title\n title\n   Xlon.   Ylat\n  178.75   76.25\n -178.75  -58.75\n",
         kCitation + "    76.25  178.75\n" + kYears1 + "   -58.75 -178.75\n" + kYears2, "", ""},
        {"a cell twice", kXy + "  -98.75   31.25\n", whole, "", "/MonthlyPDSI.xy: cell 3 (31.25, -98.75) is listed twice"},
        {"no cell, and a gap filling's file", "  title\n title\n   Xlon.   Ylat\n", kCitation, h1 + kYears1, ""},
        {"a gap filling cut short", kXy, whole, h1 + kYears2,
         "/MonthlyPDSI_QC.tsf: the file ends after 1 of 2 cells (the gap filling stopped early?)"},
        {"a gap filling of other cells", kXy, whole, h2 + kYears2 + h1 + kYears1,
         "/MonthlyPDSI_QC.tsf line 1: expected the header of cell 1 (31.25, -98.75): the file is of other cells than MonthlyPDSI.tsf"},
        {"a gap filling with more than the cells", kXy, whole, h1 + kYears2 + h2 + kYears1 + "  more\n",
         "/MonthlyPDSI_QC.tsf line 7: more than the 2 cells of MonthlyPDSI.xy"},
        {"a gap filling's value no number", kXy, whole, h1 + y1990.substr(0, 12) + "  x.xx" + y1990.substr(18) + y1991 + h2 + kYears1,
         "/MonthlyPDSI_QC.tsf line 2: a value is not a number"},
    };
    for (const auto& row : rows) {
        testsupport::TempDir dir;
        write_file(dir / "MonthlyPDSI.xy", row.xy);
        write_file(dir / "MonthlyPDSI.tsf", row.tsf);
        if (!row.qc.empty()) write_file(dir / "MonthlyPDSI_QC.tsf", row.qc);
        std::string message;
        try {
            runfiles::read_run(dir.path());
        } catch (const std::exception& error) {
            message = error.what();
        }
        EXPECT_EQ(message, *row.message ? dir.path().string() + row.message : "") << row.name;
    }
}

}  // namespace
