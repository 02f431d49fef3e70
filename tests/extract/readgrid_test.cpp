#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "extract/box.h"
#include "extract/readgrid.h"
#include "tests/extract/grid_text.h"
#include "tests/support/program.h"
#include "textio/console.h"
#include "textio/errors.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace extract {
namespace {

using extract_test::code;
using extract_test::grid_text;

void expect_span(const GridStore& store, int32_t iyr1) {
    const Box& box = store.box();
    const int32_t first = 12 * (iyr1 - 1850);
    for (int32_t i = box.ilon1; i <= box.ilon2; ++i)
        for (int32_t j = box.jlat1; j <= box.jlat2; ++j)
            for (int32_t m = 1; m <= store.nmon(); ++m)
                ASSERT_EQ(store.at(j, i, m), code(i, j, first + m)) << i << "," << j << "," << m;
}

TEST(ReadGrid, SkipsTheMonthsBeforeTheSpan) {
    // 1932 blocks with only rows 10 and 11 filled: the last year is read
    // after 1920 skipped blocks.
    testsupport::TempDir dir;
    const auto path = dir / "pdsisc1850-2010.txt";
    testsupport::write_file(path, grid_text(1932, 10, 11, code));
    const Box box{5, 6, 10, 11};
    const GridStore store = readgrid(path.string(), 2010, 2010, box);
    ASSERT_EQ(store.nmon(), 12);
    expect_span(store, 2010);
}

TEST(ReadGrid, ReadsEdgeColumnsAndRows) {
    testsupport::TempDir dir;
    const auto path = dir / "grid.txt";
    testsupport::write_file(path, grid_text(36, 1, 55, code));
    // Columns go four at a time: boxes of 1, 4, 5 and 11 columns.
    const Box boxes[] = {{1, 1, 1, 1},     {144, 144, 55, 55}, {1, 144, 1, 55},
                         {70, 80, 20, 30}, {1, 4, 1, 55},      {140, 144, 54, 55}};
    for (const Box& box : boxes) {
        const GridStore store = readgrid(path.string(), 1851, 1852, box);
        ASSERT_EQ(store.nmon(), 24);
        expect_span(store, 1851);
    }
}

TEST(ReadGrid, LineEndsAndTabsReadAsPlainRows) {
    testsupport::TempDir dir;
    const auto path = dir / "grid.txt";
    std::string text = grid_text(12, 1, 55, code);
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    testsupport::write_file(path, crlf);
    const GridStore store = readgrid(path.string(), 1850, 1850, Box{1, 144, 1, 55});
    expect_span(store, 1850);
}

// Record numbers: the header is 1, month m's header is 56 (m - 1) + 2, its
// row j is 56 (m - 1) + 2 + j.
TEST(ReadGrid, NamesTheFailedBoxRowAndWhatIsWrong) {
    const Box box{33, 37, 20, 22};
    const std::string good = grid_text(24, 1, 55, code);
    auto row_start = [&](int32_t record) {
        size_t pos = 0;
        for (int32_t k = 1; k < record; ++k) pos = good.find('\n', pos) + 1;
        return pos;
    };
    struct Row {
        const char* name;
        int32_t record;     // record of the file to damage
        size_t column;      // 1-based first column to overwrite
        std::string patch;  // replaces that many characters; empty cuts the file there
        bool truncate_row;  // cut the row before the end of the box
        const char* fault;  // what the failure says is wrong
    };
    const Row rows[] = {
        {"letters in the first box column", 56 * 1 + 2 + 20, 7 * 32 + 1, " abc  ", false,
         "grid column 33 (characters 225-230) holds \" abc  \", not a number"},
        {"letters in the last box column of the last row", 56 * 1 + 2 + 22, 7 * 36 + 1, "9.9.9 ", false,
         "grid column 37 (characters 253-258) holds \"9.9.9 \", not a number"},
        {"row ends inside the box", 56 * 0 + 2 + 21, 0, "", true,
         "the row is cut short: 257 characters, the box needs 258"},
        {"file ends at a box row", 56 * 1 + 2 + 21, 0, "", false, "the file ends before it"},
    };
    for (const Row& row : rows) {
        std::string text = good;
        const size_t start = row_start(row.record);
        if (row.truncate_row) {
            const size_t end = text.find('\n', start);
            text.erase(start + 7 * 37 - 2, end - (start + 7 * 37 - 2));
        } else if (row.patch.empty()) {
            text.erase(start);
        } else {
            text.replace(start + row.column - 1, row.patch.size(), row.patch);
        }
        testsupport::TempDir dir;
        const auto path = dir / "grid.txt";
        testsupport::write_file(path, text);
            try {
            readgrid(path.string(), 1850, 1851, box);
            ADD_FAILURE() << row.name << ": no failure";
        } catch (const GridReadFailure& failure) {
            EXPECT_EQ(failure.nrec, row.record - 1) << row.name;
            EXPECT_EQ(failure.fault, row.fault) << row.name;
        }
    }
}

TEST(ReadGrid, LettersOutsideTheBoxAreNeverLookedAt) {
    std::string text = grid_text(12, 1, 55, code);
    // Row 21 of January: every column but the box's spoilt.
    const size_t start = [&] {
        size_t pos = 0;
        for (int32_t k = 1; k < 2 + 21; ++k) pos = text.find('\n', pos) + 1;
        return pos;
    }();
    for (int32_t i = 1; i <= 144; ++i)
        if (i < 33 || i > 37) text.replace(start + 7 * (i - 1), 6, "xxxxxx");
    testsupport::TempDir dir;
    const auto path = dir / "grid.txt";
    testsupport::write_file(path, text);
    const GridStore store = readgrid(path.string(), 1850, 1850, Box{33, 37, 20, 22});
    expect_span(store, 1850);
}

TEST(ReadGrid, AnEarlyEndOutsideTheBoxRowsIsAnInputError) {
    const Box box{33, 37, 20, 22};
    struct Row {
        const char* name;
        int32_t records;  // records left in the file
        size_t part = 0;  // characters of the next record left, without its line feed
    };
    const Row rows[] = {
        {"empty file", 0},
        {"ends in a skipped month", 1 + 30},
        {"ends inside a long header", 0, 100000},
        {"ends before a month header", 1 + 56 * 12},
        {"ends in the rows below the box", 1 + 56 * 12 + 1 + 10},
        {"ends inside a row below the box", 1 + 56 * 12 + 1 + 10, 500},
        {"ends in the rows above the box", 1 + 56 * 12 + 1 + 30},
        {"ends before the last rows of the span", 1 + 56 * 24 - 1},
    };
    const std::string good = std::string(300000, 'h') + grid_text(24, 1, 55, code);
    for (const Row& row : rows) {
        size_t pos = 0;
        for (int32_t k = 0; k < row.records; ++k) pos = good.find('\n', pos) + 1;
        testsupport::TempDir dir;
        const auto path = dir / "pdsisc1850-2010.txt";
        testsupport::write_file(path, good.substr(0, pos + row.part));
            try {
            readgrid(path.string(), 1851, 1851, box);
            ADD_FAILURE() << row.name << ": no failure";
        } catch (const GridEnded& error) {
            EXPECT_STREQ(error.what(), "Error: Attempt to read past end of file (formatted read, pdsisc1850-2010.txt)")
                << row.name;
            EXPECT_EQ(error.nrec, row.records + (row.part ? 1 : 0)) << row.name;  // a cut last line is a record
        }
    }
}

}  // namespace
}  // namespace extract

namespace extract {
namespace {

// A grid written with fixed widths, as the data set is: month headers that
// name the month, every row full. Such a file is read ahead on several
// threads; whatever is wrong with it, the result must be one thread's.
std::string shaped_grid(int32_t nmonths) {
    static const char* names[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
    std::string text = "shaped grid header\n";
    for (int32_t m = 1; m <= nmonths; ++m) {
        textio::edit_int(text, 1850 + (m - 1) / 12, 5);
        textio::edit_int(text, (m - 1) % 12 + 1, 3);
        text += std::string("  ") + names[(m - 1) % 12] + "\n";
        for (int32_t j = 1; j <= 55; ++j) {
            for (int32_t i = 1; i <= 144; ++i) {
                textio::edit_real(text, extract_test::code(i, j, m), 6, 2);
                text += ' ';
            }
            text += '\n';
        }
    }
    return text;
}

// What a read gives: every value of the store, or the failure.
std::string outcome(const std::string& path, const Box& box, int32_t threads) {
    try {
        const GridStore store = readgrid(path, 1850, 1854, box, nullptr, threads);
        std::string values;
        for (int32_t i = box.ilon1; i <= box.ilon2; ++i)
            for (int32_t j = box.jlat1; j <= box.jlat2; ++j)
                for (int32_t m = 1; m <= store.nmon(); ++m) values += std::to_string(store.at(j, i, m)) + ' ';
        return values;
    } catch (const GridReadFailure& failure) {
        return "failure at " + std::to_string(failure.nrec) + ": " + failure.fault;
    } catch (const GridEnded& ended) {
        return std::string("ended: ") + ended.what();
    }
}

TEST(ReadGrid, ReadAheadGivesWhatOneThreadReads) {
    // Record of month m's header: 56 (m - 1) + 2; its row j follows j on.
    auto line = [](int32_t m, int32_t j) { return 56 * (m - 1) + 2 + j; };
    auto start_of = [](const std::string& text, int32_t record) {
        size_t pos = 0;
        for (int32_t k = 1; k < record; ++k) pos = text.find('\n', pos) + 1;
        return pos;
    };
    struct Row {
        const char* name;
        std::function<void(std::string&)> damage;
    };
    const Row rows[] = {
        {"one shape throughout", [](std::string&) {}},
        {"a longer row in the third batch",
         [&](std::string& t) { t.insert(t.find('\n', start_of(t, line(40, 7))), "  "); }},
        {"a shorter header in the fourth batch",
         [&](std::string& t) { t.erase(start_of(t, line(50, 0)), 1); }},
        {"an extra line in the second batch", [&](std::string& t) { t.insert(start_of(t, line(20, 3)), "\n"); }},
        {"letters in a box row read ahead",
         [&](std::string& t) { t.replace(start_of(t, line(41, 12)) + 7 * 120, 6, "  x.yz"); }},
        {"the file ends in a batch read ahead", [&](std::string& t) { t.erase(start_of(t, line(45, 30)) + 100); }},
        {"the file ends at a month read ahead", [&](std::string& t) { t.erase(start_of(t, line(37, 0))); }},
        {"carriage returns", [](std::string& t) {
             std::string crlf;
             for (char c : t) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
             t = crlf;
         }},
    };
    const std::string good = shaped_grid(60);
    for (const Row& row : rows) {
        std::string text = good;
        row.damage(text);
        testsupport::TempDir dir;
        const auto path = dir / "grid.txt";
        testsupport::write_file(path, text);
        for (const Box& box : {Box{1, 144, 1, 55}, Box{100, 144, 10, 30}}) {
            const std::string one = outcome(path.string(), box, 1);
            for (int32_t threads : {2, 3}) EXPECT_EQ(outcome(path.string(), box, threads), one) << row.name;
        }
    }
    // The undamaged file holds the codes.
    testsupport::TempDir dir;
    testsupport::write_file(dir / "grid.txt", good);
    expect_span(readgrid((dir / "grid.txt").string(), 1850, 1854, Box{1, 144, 1, 55}, nullptr, 3), 1850);
}

}  // namespace
}  // namespace extract
