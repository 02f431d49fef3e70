// The readers of the extraction files on hand-made text: what is taken,
// what is skipped and how each failure is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qc/input_files.h"
#include "qc/stage_data.h"
#include "textio/errors.h"
#include "textio/source.h"

namespace {

const std::string kXyHeader =
    "   Orv-Kelmaston-Ruel 2010\n Global PDSI cell mid-points\n   Xlon.   Ylat\n";
const std::string kCitation = " citation one\n citation two\n citation three\n";
const std::string kHeader1 = "   31.25  -98.75  Orv Kelmaston Ruel Global PDSI values";
const std::string kHeader2 = "   33.75  -98.75  Orv Kelmaston Ruel Global PDSI values";
const std::string kYear2000 =
    " 2000   1.00   2.00   3.00   4.00   5.00   6.00   7.00   8.00   9.00  10.00  11.00  12.00";
const std::string kYear2001 =
    " 2001 -99.90  -0.01   0.00   0.50  -1.25   9.99 -10.00   1.23   2.34   3.45   4.56   5.67";

struct Pairs {
    std::vector<float> lats, lons;
};

Pairs coordinates(const std::string& text) {
    textio::StringSource in(text, "MonthlyPDSI.xy");
    Pairs p;
    qc::read_coordinates(in, p.lats, p.lons);
    return p;
}

TEST(ReadCoordinates, TakesPairsAndSkipsTheRest) {
    struct Row {
        std::string name;
        std::string text;
        std::vector<float> lats, lons;
    };
    const std::vector<Row> rows = {
        {"as the extraction writes it", kXyHeader + "  -98.75   31.25\n  -96.25   33.75\n",
         {31.25f, 33.75f}, {-98.75f, -96.25f}},
        {"no pairs", kXyHeader, {}, {}},
        {"empty file", "", {}, {}},
        {"header cut short", " one\n two\n", {}, {}},
        {"text lines skipped", kXyHeader + " cells follow\n  -98.75   31.25\n abc def\n  -96.25   33.75\n",
         {31.25f, 33.75f}, {-98.75f, -96.25f}},
        {"a lone slash gives no pair", kXyHeader + " /\n  -98.75   31.25\n", {31.25f}, {-98.75f}},
        {"empty lines passed over", kXyHeader + "\n\n  -98.75   31.25\n\n", {31.25f}, {-98.75f}},
        {"commas, CRLF and tabs", kXyHeader + "-98.75,31.25\r\n\t-96.25\t33.75\r\n",
         {31.25f, 33.75f}, {-98.75f, -96.25f}},
        {"last line without line feed", kXyHeader + "  -98.75   31.25", {31.25f}, {-98.75f}},
    };
    for (const Row& row : rows) {
        const Pairs p = coordinates(row.text);
        EXPECT_EQ(p.lats, row.lats) << row.name;
        EXPECT_EQ(p.lons, row.lons) << row.name;
    }
}

struct CellsResult {
    qc::CellsRead status;
    int32_t matched;
    qc::StageData data;
};

// Two cells, 2000..2001, at the mid-points of kHeader1 and kHeader2.
CellsResult cells(const std::string& body, bool header_ok = true) {
    CellsResult r{qc::CellsRead::ok, -1, qc::StageData(2000, 2001)};
    r.data.set_cells({31.25f, 33.75f}, {-98.75f, -98.75f});
    textio::StringSource in(kCitation + body, "MonthlyPDSI.tsf");
    EXPECT_EQ(qc::skip_data_header(in), header_ok);
    r.status = qc::read_cells(in, r.data, r.matched);
    return r;
}

std::string lines(std::initializer_list<std::string> items) {
    std::string text;
    for (const auto& s : items) text += s + "\n";
    return text;
}

TEST(ReadCells, HeadersChecksAndEnds) {
    const std::string good2 = lines({kHeader2, kYear2000, kYear2001});
    struct Row {
        std::string name;
        std::string body;
        qc::CellsRead status;
        int32_t matched;
    };
    const std::vector<Row> rows = {
        {"two whole cells", lines({kHeader1, kYear2000, kYear2001}) + good2, qc::CellsRead::ok, 2},
        {"text line before a header skipped",
         lines({" Orv-Kelmaston-Ruel citation", kHeader1, kYear2000, kYear2001}) + good2,
         qc::CellsRead::ok, 2},
        {"blank header reads as 0,0", lines({"", kHeader1, kYear2000, kYear2001}) + good2,
         qc::CellsRead::mismatch, 0},
        {"second cell out of place", lines({kHeader1, kYear2000, kYear2001, kHeader1}),
         qc::CellsRead::mismatch, 1},
        {"longitude differs", lines({"   31.25  -96.25  x", kYear2000}), qc::CellsRead::mismatch, 0},
        {"end while looking for a header", lines({kHeader1, kYear2000, kYear2001}),
         qc::CellsRead::early_end, 1},
        {"end within the values", lines({kHeader1, kYear2000, kYear2001, kHeader2, kYear2000}),
         qc::CellsRead::early_end, 2},
        {"a leading tab moves the fields", lines({"\t31.25  -98.75", kYear2000, kYear2001}),
         qc::CellsRead::mismatch, 0},
        {"only text after the citation", lines({" nothing here"}), qc::CellsRead::early_end, 0},
    };
    for (const Row& row : rows) {
        const CellsResult r = cells(row.body);
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_EQ(r.matched, row.matched) << row.name;
    }
}

TEST(ReadCells, ValuesAndHeaderLinesAsRead) {
    std::string body = lines({kHeader1, kYear2000, kYear2001}) + lines({kHeader2, kYear2001, kYear2000});
    // Carriage returns and a tab in a hand-edited file read the same.
    std::string crlf;
    for (char ch : body) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    const std::string tabbed = lines({"   31.25  -98.75\ttabbed", kYear2000, kYear2001}) +
                               lines({kHeader2, kYear2001, kYear2000});
    for (const std::string& text : {body, crlf, tabbed}) {
        CellsResult r = cells(text);
        ASSERT_EQ(r.status, qc::CellsRead::ok);
        const float* c1 = r.data.pdsi_col(1);
        const float* c2 = r.data.pdsi_col(2);
        EXPECT_EQ(c1[0], 1.0f);
        EXPECT_EQ(c1[11], 12.0f);
        EXPECT_EQ(c1[12], -99.9f);
        EXPECT_EQ(c1[13], -0.01f);
        EXPECT_EQ(c1[18], -10.0f);
        EXPECT_EQ(c2[0], -99.9f);
        EXPECT_EQ(c2[23], 12.0f);
        EXPECT_EQ(r.data.hdr[1], kHeader2 + std::string(80 - kHeader2.size(), ' '));
    }
    EXPECT_EQ(cells(tabbed).data.hdr[0].substr(0, 30), "   31.25  -98.75        tabbed");

    // A long line keeps its first 80 characters.
    const std::string long_header = kHeader1 + std::string(40, 'x');
    CellsResult r = cells(lines({long_header, kYear2000, kYear2001}) + lines({kHeader2, kYear2000, kYear2001}));
    EXPECT_EQ(r.data.hdr[0], long_header.substr(0, 80));
}

TEST(ReadCells, FailuresOutsideTheChecks) {
    // Letters in a year record: the input error, not a skip.
    EXPECT_THROW(cells(lines({kHeader1, " 2000   1.00   abc"})), textio::IoError);
    // A data file that ends inside its three header lines.
    textio::StringSource short_file(" one\n two\n", "MonthlyPDSI.tsf");
    EXPECT_FALSE(qc::skip_data_header(short_file));
}

}  // namespace
