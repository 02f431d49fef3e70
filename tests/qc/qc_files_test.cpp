// The stage's own files: the columnwise tables, the QC file's records and
// the reading of the QC file back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "qc/columnwise.h"
#include "qc/qc_file.h"
#include "qc/year_record.h"
#include "qc/stage_data.h"
#include "textio/errors.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

TEST(Columnwise, TimeValues) {
    struct Row {
        const char* name;
        int32_t iyr1, k;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"January", 1901, 1, "1901.000"},   {"February", 1901, 2, "1901.083"},
        {"December", 1901, 12, "1901.917"}, {"next January", 1901, 13, "1902.000"},
        {"last month of the data set", 1850, 1932, "2010.917"},
    };
    for (const Row& row : rows) {
        textio::StringSink out;
        out.write(textio::Layout("(f8.3)"), {qc::month_time(row.iyr1, row.k)});
        EXPECT_EQ(out.text(), row.shown + "\n") << row.name;
    }
}

TEST(Columnwise, TwoCells) {
    const std::vector<float> values = {-1.23f, -99.9f, 5.0f, 0.0f, 0.45f, 1.02f, -0.5f, 10000.0f};
    textio::StringSink out;
    qc::write_columnwise(out, values.data(), 4, 2, 1901);
    EXPECT_EQ(out.text(),
              "Months        1      2\n"
              "1901.000  -1.23   0.45\n"
              "1901.083 -99.90   1.02\n"
              "1901.167   5.00  -0.50\n"
              "1901.250   0.00*******\n");
}

TEST(Columnwise, NoCellsStillHasTheMonths) {
    textio::StringSink out;
    qc::write_columnwise(out, nullptr, 3, 0, 2010);
    EXPECT_EQ(out.text(), "Months  \n2010.000\n2010.083\n2010.167\n");
}

TEST(Columnwise, MoreThanAThousandCellsGoOnOnFurtherLines) {
    const int32_t ngrid = 1001, nmon = 2;
    std::vector<float> values(static_cast<size_t>(ngrid) * nmon, 0.25f);
    values[static_cast<size_t>(ngrid - 1) * nmon] = -1.5f;      // cell 1001, month 1
    values[static_cast<size_t>(ngrid - 1) * nmon + 1] = 12.25f;  // cell 1001, month 2
    textio::StringSink out;
    qc::write_columnwise(out, values.data(), nmon, ngrid, 1901);
    const auto rec = split(out.text());
    ASSERT_EQ(rec.size(), 6u);
    EXPECT_EQ(rec[0].size(), 8u + 7u * 1000u);
    EXPECT_EQ(rec[0].substr(0, 22), "Months        1      2");
    EXPECT_EQ(rec[0].substr(rec[0].size() - 7), "   1000");
    EXPECT_EQ(rec[1], "Months     1001");
    EXPECT_EQ(rec[2].size(), 8u + 7u * 1000u);
    EXPECT_EQ(rec[2].substr(0, 15), "1901.000   0.25");
    EXPECT_EQ(rec[3], "  -1.500");
    EXPECT_EQ(rec[4].substr(0, 8), "1901.083");
    EXPECT_EQ(rec[5], "  12.250");
}

// Hostile values among ordinary ones: what the writers must show exactly as
// the layouts would.
float sample_value(size_t k) {
    const float specials[] = {-99.9f, 0.0f, -0.0f, 0.005f, -0.005f, 9999.995f, 10000.0f, -1000.0f, 1e30f,
                              std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(), 1.0f / 3.0f, -2.675f};
    if (k % 5 == 0) return specials[(k / 5) % (sizeof specials / sizeof specials[0])];
    return static_cast<float>(static_cast<int32_t>(k * 7919 % 4001) - 2000) / 128.0f;
}

TEST(Columnwise, AsTheLayoutWritesThem) {
    struct Row {
        int32_t ngrid, nmon;
    };
    // Line breaks at 1000 cells and after; month tiles of 16 and a part one;
    // more tiles than the threads hold at once.
    const std::vector<Row> rows = {{0, 2}, {0, 40}, {1, 65}, {999, 3}, {1000, 2}, {1001, 2}, {2001, 1}, {2002, 130}, {3, 16 * 40 + 5}};
    for (const Row& row : rows) {
        std::vector<float> values(static_cast<size_t>(row.ngrid) * row.nmon);
        for (size_t k = 0; k < values.size(); ++k) values[k] = sample_value(k);
        textio::StringSink fast;
        qc::write_columnwise(fast, values.data(), row.nmon, row.ngrid, 1901);
        textio::StringSink slow;
        std::vector<textio::OutValue> record;
        for (int32_t c = 1; c <= row.ngrid; ++c) record.emplace_back(c);
        slow.write(textio::Layout("('Months  ',1000i7)"), record);
        for (int32_t k = 1; k <= row.nmon; ++k) {
            record.clear();
            record.emplace_back(qc::month_time(1901, k));
            for (int32_t c = 0; c < row.ngrid; ++c) record.emplace_back(values[static_cast<size_t>(c) * row.nmon + k - 1]);
            slow.write(textio::Layout("(f8.3,1000f7.2)"), record);
        }
        ASSERT_EQ(fast.text(), slow.text()) << row.ngrid << " cells, " << row.nmon << " months";
        for (int32_t threads : {2, 7}) {
            textio::StringSink shared;
            qc::write_columnwise(shared, values.data(), row.nmon, row.ngrid, 1901, threads);
            ASSERT_EQ(shared.text(), slow.text()) << row.ngrid << " cells, " << row.nmon << " months, " << threads
                                                  << " threads";
        }
    }
}

TEST(Report, CellRowsAsTheLayoutWritesThem) {
    const textio::Layout layout("(1x,i3,20f8.3)");
    for (int32_t n = 0; n <= 22; ++n)
        for (int32_t gpt : {7, 999, 1000, -12}) {
            std::vector<float> row(static_cast<size_t>(n));
            for (size_t k = 0; k < row.size(); ++k) row[k] = sample_value(k * 3 + static_cast<size_t>(gpt & 7));
            textio::StringSink fast, slow;
            qc::write_cell_row(fast, gpt, row.data(), n);
            std::vector<textio::OutValue> values{gpt};
            for (float v : row) values.emplace_back(v);
            slow.write(layout, values);
            ASSERT_EQ(fast.text(), slow.text()) << n << " values, cell " << gpt;
        }
}

TEST(QcFile, YearRecordsAsTheLayoutWritesThem) {
    std::vector<float> est(12 * 40);
    for (size_t k = 0; k < est.size(); ++k) est[k] = sample_value(k);
    for (int32_t iyr1 : {1850, -5, 99990}) {  // years that fit I5, and those that do not
        textio::StringSink fast;
        qc::write_cell_years(fast, est.data(), iyr1, 40);
        textio::StringSink slow;
        for (int32_t y = 0; y < 40; ++y) {
            std::vector<textio::OutValue> record{iyr1 + y};
            for (int32_t m = 0; m < 12; ++m) record.emplace_back(est[static_cast<size_t>(12 * y + m)]);
            slow.write(textio::Layout("(i5,12f7.2)"), record);
        }
        ASSERT_EQ(fast.text(), slow.text()) << iyr1;
    }
}

TEST(QcFile, RecordsAsTheDataFileHasThem) {
    std::vector<float> est(24, 0.0f);
    for (int32_t k = 0; k < 24; ++k) est[k] = 0.25f * static_cast<float>(k) - 3.0f;
    est[5] = -99.9f;
    est[6] = -0.001f;
    est[7] = 12345.0f;
    textio::StringSink out;
    qc::write_cell_header(out, "   31.25  -98.75  Orv Kelmaston Ruel Global PDSI values" + std::string(25, ' '));
    qc::write_cell_years(out, est.data(), 2000, 2);
    const auto rec = split(out.text());
    ASSERT_EQ(rec.size(), 3u);
    EXPECT_EQ(rec[0].size(), 80u);
    EXPECT_EQ(rec[1],
              " 2000  -3.00  -2.75  -2.50  -2.25  -2.00 -99.90  -0.00*******  -1.00  -0.75  -0.50  -0.25");
    EXPECT_EQ(rec[2],
              " 2001   0.00   0.25   0.50   0.75   1.00   1.25   1.50   1.75   2.00   2.25   2.50   2.75");
}

struct Back {
    bool ok;
    int32_t nread;
    qc::StageData data;
};

Back read_back(const std::string& text, int32_t ngrid = 2) {
    Back b{false, -1, qc::StageData(2000, 2001)};
    b.data.set_cells(std::vector<float>(ngrid, 31.25f), std::vector<float>(ngrid, -98.75f));
    textio::StringSource in(text, "MonthlyPDSI_QC.tsf");
    b.ok = qc::read_back(in, b.data, b.nread);
    return b;
}

const std::string kHdr = "   31.25  -98.75  Orv Kelmaston Ruel Global PDSI values";
const std::string kY1 = " 2000   1.00   2.00   3.00   4.00   5.00   6.00   7.00   8.00   9.00  10.00  11.00  12.00\n";
const std::string kY2 = " 2001  -1.00  -2.00  -3.00  -4.00  -5.00  -6.00  -7.00  -8.00  -9.00 -10.00 -11.00 -12.00\n";

TEST(QcFile, ReadBack) {
    struct Row {
        std::string name;
        std::string text;
        bool ok;
        int32_t nread;
    };
    const std::string cell = kHdr + "\n" + kY1 + kY2;
    const std::vector<Row> rows = {
        {"two whole cells", cell + cell, true, 2},
        {"ends after a header", cell + kHdr + "\n", false, 1},
        {"ends within the values", cell + kHdr + "\n" + kY1, false, 1},
        {"ends before the first cell", "", false, 0},
        {"header not checked", cell + "anything at all\n" + kY1 + kY2, true, 2},
    };
    for (const Row& row : rows) {
        const Back b = read_back(row.text);
        EXPECT_EQ(b.ok, row.ok) << row.name;
        EXPECT_EQ(b.nread, row.nread) << row.name;
    }
    const Back b = read_back(cell + cell);
    EXPECT_EQ(b.data.est_col(2)[11], 12.0f);
    EXPECT_EQ(b.data.est_col(2)[23], -12.0f);
    EXPECT_EQ(b.data.hdr[0], kHdr + std::string(80 - kHdr.size(), ' '));
}

TEST(QcFile, UnshowableFieldsReadBackAsMissing) {
    // What the writer puts down for overflow, NaN and infinities.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> est = {12345.0f, nan, inf, -inf, -nan, -1000.0f, 0.5f, -99.9f, 1, 2, 3, 4,
                              5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    textio::StringSink out;
    qc::write_cell_header(out, kHdr);
    qc::write_cell_years(out, est.data(), 2000, 2);
    const Back b = read_back(out.text(), 1);
    ASSERT_TRUE(b.ok);
    const std::vector<float> got(b.data.est_col(1), b.data.est_col(1) + 8);
    EXPECT_EQ(got, (std::vector<float>{-99.9f, -99.9f, -99.9f, -99.9f, -99.9f, -99.9f, 0.5f, -99.9f}));
    EXPECT_EQ(b.data.est_col(1)[23], 16.0f);

    // Other letters are no number the writer makes: the input error.
    EXPECT_THROW(read_back(kHdr + "\n 2000   1.00   abc\n" + kY2, 1), textio::IoError);
}

}  // namespace
