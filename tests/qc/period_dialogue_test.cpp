// The calibration period dialogue: what it accepts, what it refuses and
// what the console shows for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "qc/period_dialogue.h"
#include "textio/console.h"
#include "textio/errors.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace {

const std::string kIntro =
    "\n Enter the EOF analysis period now. This will ordinarily be the period\n"
    " of highest data quality over your region of interest.\n";
const std::string kFirst = "\n Enter the first year for EOF analysis      ==> ";
const std::string kLast = " Enter the last year for EOF analysis       ==> ";

std::string invalid(int32_t year, int32_t low, int32_t high) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "\n *** Invalid year ** > %4d.\n  Value must be between: %4d - %4d.\n"
                  "  Hit return to change selection.\n",
                  static_cast<int>(year), static_cast<int>(low), static_cast<int>(high));
    return text;
}

TEST(PeriodDialogue, AcceptsAndRefuses) {
    struct Row {
        std::string name;
        int32_t iyr1, iyr2;
        std::string answers;
        int32_t ieof1, ieof2, ncal, npre;
        std::string shown;  // after the introduction
    };
    const std::vector<Row> rows = {
        {"whole span", 1901, 2000, "1901\n2000\n", 1901, 2000, 1200, 0, kFirst + kLast},
        {"shorter period: its length counts", 1901, 2000, "1971\n1990\n", 1971, 1990, 240, 960,
         kFirst + kLast},
        {"one year", 2010, 2010, "2010\n2010\n", 2010, 2010, 12, 0, kFirst + kLast},
        {"letters ask again without a word", 1901, 2000, "abc\n1950\nxyz\n2000\n", 1950, 2000, 612, 588,
         kFirst + kFirst + kLast + kLast},
        {"first year one below", 1901, 2000, "1900\n\n1901\n2000\n", 1901, 2000, 1200, 0,
         kFirst + invalid(1900, 1901, 2000) + kFirst + kLast},
        {"first year one above", 1901, 2000, "2001\n\n1901\n2000\n", 1901, 2000, 1200, 0,
         kFirst + invalid(2001, 1901, 2000) + kFirst + kLast},
        {"last year above the span keeps the first", 1901, 2000, "1950\n2001\n\n1999\n", 1950, 1999, 600, 600,
         kFirst + kLast + invalid(2001, 1950, 2000) + kLast},
        {"last year before the first year", 1901, 2000, "1950\n1949\n\n1950\n", 1950, 1950, 12, 1188,
         kFirst + kLast + invalid(1949, 1950, 2000) + kLast},
        {"no value given is refused", 1901, 2000, "/\n\n1901\n,\n\n2000\n", 1901, 2000, 1200, 0,
         kFirst + invalid(0, 1901, 2000) + kFirst + kLast + invalid(0, 1901, 2000) + kLast},
        {"empty lines are passed over", 1901, 2000, "\n\n1901\n\n2000\n", 1901, 2000, 1200, 0,
         kFirst + kLast},
    };
    for (const Row& row : rows) {
        textio::StringSource in(row.answers, "console");
        textio::StringSink out;
        textio::Console console(in, out);
        const qc::CalibrationPeriod p = qc::ask_calibration_period(console, row.iyr1, row.iyr2);
        EXPECT_EQ(p.ieof1, row.ieof1) << row.name;
        EXPECT_EQ(p.ieof2, row.ieof2) << row.name;
        EXPECT_EQ(p.ncal, row.ncal) << row.name;
        EXPECT_EQ(p.npre, row.npre) << row.name;
        EXPECT_EQ(out.text(), kIntro + row.shown) << row.name;
    }
}

TEST(PeriodDialogue, EndOfInputIsAnInputError) {
    for (const std::string answers : {"", "1950\n", "1850\n", "abc\n"}) {
        textio::StringSource in(answers, "console");
        textio::StringSink out;
        textio::Console console(in, out);
        EXPECT_THROW(qc::ask_calibration_period(console, 1901, 2000), textio::IoError) << answers;
    }
}

}  // namespace
