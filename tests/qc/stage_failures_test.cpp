// The whole stage in process on hand-made extraction files: its failure
// table and hand-edited input, with the console transcript and the stage's
// files compared whole against the expected text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "qc/orvqc5.h"
#include "tests/support/program.h"
#include "textio/console.h"
#include "textio/errors.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::write_file;

// Runs in `dir` and goes back to the folder it came from.
class InFolder {
public:
    explicit InFolder(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
    ~InFolder() { fs::current_path(previous_); }
private:
    fs::path previous_;
};

const std::string kXyHead = "   Orv-Kelmaston-Ruel 2010\n Global PDSI cell mid-points\n   Xlon.   Ylat\n";
const std::string kXy = kXyHead + "  -98.75   31.25\n  -98.75   33.75\n";
const std::string kCitation = " citation one\n citation two\n citation three\n";
const std::string kHdr1 = "   31.25  -98.75  Orv Kelmaston Ruel Global PDSI values\n";
const std::string kHdr2 = "   33.75  -98.75  Orv Kelmaston Ruel Global PDSI values\n";
const std::string kYears1 =
    " 2000   1.00   2.00  -1.50   0.25 -99.90   3.00   2.50   1.75   0.50  -0.75  -2.00  -1.00\n"
    " 2001   0.50   1.50  -1.00   0.75   1.25   2.75   2.00   1.25   0.00  -1.25  -1.75  -0.50\n";
const std::string kYears2 =
    " 2000   1.25   1.75  -1.25   0.50   0.75   2.50   2.75   1.50   0.25  -0.50  -2.25  -1.25\n"
    " 2001   0.75   1.25  -0.75   0.50   1.50   2.50 -99.90   1.00   0.25  -1.00  -1.50  -0.25\n";
const std::string kTsf = kCitation + kHdr1 + kYears1 + kHdr2 + kYears2;

// The welcome wait, the period 2000 to 2001, then Return for every wait.
const std::string kAnswers = "\n2000\n2001\n\n\n";

std::string crlf(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

struct Case {
    const char* name;
    const char* xy;   // nullptr: no such file
    const char* tsf;
    std::string error;  // the input error that ends the run, if any
    bool analysed = false;  // the analysis filled the QC files and the report
    bool report_full = false;  // the report is a link to /dev/full
};

const std::string kOld = "left from an earlier run\n";
const char* const kStageFiles[] = {"MonthlyPDSI_col.tsf", "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf",
                                   "MonthlyPDSI_QC.out"};
// Only the columnwise copy of the input is checked after a run through the
// analysis; the estimates are the analysis tests' business.
bool unchecked(const Case& c, const std::string& f) {
    return (c.analysed && f != kStageFiles[0]) || (c.report_full && f == kStageFiles[3]);
}

const std::string kTsfMismatch = kCitation + kHdr2 + kYears1 + kHdr1 + kYears2;
const std::string kTsfCutInValues = kCitation + kHdr1 + kYears1 + kHdr2 + kYears2.substr(0, 90);
const std::string kTsfCutAtHeader = kCitation + kHdr1 + kYears1;
const std::string kTsfCutInCitation = " citation one\n";
const std::string kTsfLetters = kCitation + kHdr1 + kYears1.substr(0, 100) + "abc" + kYears1.substr(103) +
                                kHdr2 + kYears2;
// Hand-edited: CRLF line ends, tabs, a coordinate line of text, a pair
// split by a comma, and a text line where a cell's header should stand.
const std::string kXyEdited = crlf(kXyHead + "\t-98.75\t31.25\n cells follow\n-98.75,33.75\n");
const std::string kTsfEdited =
    crlf(kCitation + kHdr1 + kYears1 + " Orv-Kelmaston-Ruel, a text line\n" + kHdr2.substr(0, 17) +
         "\tedited by hand\n" + kYears2);

const Case kCases[] = {
    {"coordinate_file_missing", nullptr, kTsf.c_str(), ""},
    {"data_file_missing", kXy.c_str(), nullptr, ""},
    {"lat_lon_mismatch", kXy.c_str(), kTsfMismatch.c_str(), ""},
    {"data_ends_within_values", kXy.c_str(), kTsfCutInValues.c_str(), ""},
    {"data_ends_at_a_header", kXy.c_str(), kTsfCutAtHeader.c_str(), ""},
    {"data_ends_in_citation", kXy.c_str(), kTsfCutInCitation.c_str(), ""},
    {"letters_in_a_year_record", kXy.c_str(), kTsfLetters.c_str(),
     "Error: Illegal character in numeric input (formatted read, MonthlyPDSI.tsf)"},
    {"hand_edited_files", kXyEdited.c_str(), kTsfEdited.c_str(), "", true},
    // A failure path must not lose the report's write error.
    {"report_disk_full", kXy.c_str(), kTsfMismatch.c_str(),
     "Error: Error writing file (formatted write, MonthlyPDSI_QC.out)", false, true},
};

class StageFailures : public ::testing::TestWithParam<Case> {};

TEST_P(StageFailures, TranscriptAndFiles) {
    const Case& c = GetParam();
    testsupport::TempDir dir;
    if (c.xy) write_file(dir / "MonthlyPDSI.xy", c.xy);
    if (c.tsf) write_file(dir / "MonthlyPDSI.tsf", c.tsf);
    // A stage that fails before writing a file leaves an earlier one alone.
    for (const char* f : kStageFiles) write_file(dir / f, kOld);
    if (c.report_full) {
        fs::remove(dir / kStageFiles[3]);
        fs::create_symlink("/dev/full", dir / kStageFiles[3]);
    }

    textio::StringSource keyboard(kAnswers, "console");
    textio::StringSink display;
    textio::Console console(keyboard, display);
    std::string error;
    {
        InFolder here(dir.path());
        try {
            qc::orvqc5(console, 2000, 2001);
        } catch (const textio::IoError& e) {
            error = e.what();
        }
    }
    EXPECT_EQ(error, c.error);
    if (c.report_full) fs::remove(dir / kStageFiles[3]);  // reading it would never end

    const fs::path expected = testsupport::source_path(std::string("qc/expected/stage/") + c.name);
    if (std::getenv("PDSI_WRITE_EXPECTED")) {
        fs::remove_all(expected);
        fs::create_directories(expected);
        write_file(expected / "console.txt", display.text());
        for (const char* f : kStageFiles) {
            if (!unchecked(c, f) && read_file(dir / f) != kOld) write_file(expected / f, read_file(dir / f));
        }
    }
    EXPECT_EQ(display.text(), read_file(expected / "console.txt"));
    for (const char* f : kStageFiles) {
        if (unchecked(c, f)) {
            if (c.analysed) {
                EXPECT_NE(read_file(dir / f), kOld) << f;
            }
            continue;
        }
        const std::string want = fs::exists(expected / f) ? read_file(expected / f) : kOld;
        EXPECT_EQ(read_file(dir / f), want) << f;
    }
}

// The whole span of the data set, 1932 months, goes through every file of
// the stage to its end: storage is sized from the input.
TEST(StageSpan, WholeDataSetIsFilled) {
    testsupport::TempDir dir;
    std::string tsf = kCitation;
    for (const std::string& hdr : {kHdr1, kHdr2}) {
        tsf += hdr;
        for (int32_t y = 1850, k = 0; y <= 2010; ++y) {
            char record[96];
            int at = std::snprintf(record, sizeof record, " %4d", static_cast<int>(y));
            for (int32_t m = 0; m < 12; ++m, ++k) {
                const double v = 2.0 * std::sin(0.3 * k) + (hdr == kHdr2 ? 0.5 * std::cos(0.7 * k) : 0.0);
                at += std::snprintf(record + at, sizeof record - at, " %6.2f", v);
            }
            tsf += std::string(record) + "\n";
        }
    }
    write_file(dir / "MonthlyPDSI.xy", kXy);
    write_file(dir / "MonthlyPDSI.tsf", tsf);
    textio::StringSource keyboard("\n1850\n2010\n\n", "console");
    textio::StringSink display;
    textio::Console console(keyboard, display);
    {
        InFolder here(dir.path());
        qc::orvqc5(console, 1850, 2010);
    }
    const std::string shown = display.text();
    EXPECT_NE(shown.find(" Grid point:    2"), std::string::npos);
    EXPECT_EQ(shown.substr(shown.size() - 64),
              " Process complete. End of Orv_QC\n Okay, hit return to continue.\n");
    const auto last_line = [&](const char* f) {
        const std::string text = read_file(dir / f);
        return text.substr(text.rfind('\n', text.size() - 2) + 1);
    };
    EXPECT_EQ(last_line("MonthlyPDSI_col.tsf").substr(0, 8), "2010.917");
    EXPECT_EQ(last_line("MonthlyPDSI_QC_col.tsf").substr(0, 8), "2010.917");
    EXPECT_EQ(last_line("MonthlyPDSI_QC.tsf").substr(0, 5), " 2010");
}

INSTANTIATE_TEST_SUITE_P(Inputs, StageFailures, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
