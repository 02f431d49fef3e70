// The gross-outlier screens, their listings and the pre-calibration level
// adjustment, on small hand-built neighbourhoods.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "qc/outlier_screen.h"
#include "textio/layout.h"
#include "textio/sink.h"

namespace {

constexpr float M = -99.9f;

TEST(OutlierScreen, GrossScreen) {
    struct Row {
        const char* name;
        std::vector<float> in;
        std::vector<float> kept;
        std::vector<float> removed;
    };
    const std::vector<Row> rows = {
        {"10.00 is an outlier", {10.0f, 1.0f}, {M, 1.0f}, {10.0f}},
        {"-10.00 is an outlier", {-10.0f}, {M}, {-10.0f}},
        {"9.99 is not", {9.99f, -9.99f}, {9.99f, -9.99f}, {}},
        {"missing is never an outlier", {M, 12.0f, M}, {M, M, M}, {12.0f}},
        {"removed in month order", {15.0f, 0.0f, -11.0f, 10.5f}, {M, 0.0f, M, M},
         {15.0f, -11.0f, 10.5f}},
        {"no months", {}, {}, {}},
        // Eight months at a time take the vector test.
        {"last of eight", {0, 0, 0, 0, 0, 0, 0, -10.5f}, {0, 0, 0, 0, 0, 0, 0, M}, {-10.5f}},
        {"first of eight, then the tail", {10, M, 1, 1, 1, 1, 1, 1, 11}, {M, M, 1, 1, 1, 1, 1, 1, M}, {10, 11}},
        {"eight missing, none removed", std::vector<float>(8, M), std::vector<float>(8, M), {}},
        {"infinities are outliers", {0, 0, 0, 0, -INFINITY, 0, 0, INFINITY}, {0, 0, 0, 0, M, 0, 0, M},
         {-INFINITY, INFINITY}},
    };
    for (const Row& row : rows) {
        std::vector<float> x = row.in;
        std::vector<float> outval(x.size() + 1, 0.0f);
        const int32_t nout = qc::screen_gross(x.data(), static_cast<int32_t>(x.size()), outval.data());
        EXPECT_EQ(x, row.kept) << row.name;
        outval.resize(static_cast<size_t>(nout));
        EXPECT_EQ(outval, row.removed) << row.name;
        // The silent screen of the centre removes the same values.
        std::vector<float> silent = row.in;
        EXPECT_EQ(qc::screen_gross(silent.data(), static_cast<int32_t>(silent.size()), nullptr), nout)
            << row.name;
        EXPECT_EQ(silent, row.kept) << row.name;
    }
}

TEST(OutlierScreen, ScreenAroundMedianAndMean) {
    struct Row {
        const char* name;
        std::vector<float> in;
        float centre;
        std::vector<float> kept;
    };
    const std::vector<Row> rows = {
        {"12.0 deviates 9.0 from 3.0", {12.0f, 3.0f}, 3.0f, {12.0f, 3.0f}},
        {"13.0 deviates 10.0 from 3.0", {13.0f, -7.0f, -6.5f}, 3.0f, {M, M, -6.5f}},
        {"from zero", {10.5f}, 0.0f, {M}},
        {"missing stays", {M}, 50.0f, {M}},
    };
    for (const Row& row : rows) {
        std::vector<float> x = row.in;
        qc::screen_around(x.data(), static_cast<int32_t>(x.size()), row.centre);
        EXPECT_EQ(x, row.kept) << row.name;
    }

    EXPECT_EQ(qc::valid_mean(std::vector<float>{M, M}.data(), 2), M);
    EXPECT_EQ(qc::valid_mean(nullptr, 0), M);
    EXPECT_EQ(qc::valid_mean(std::vector<float>{1.0f, M, 2.0f}.data(), 3), 1.5f);
}

// The columns taken four at a time give each column's own mean, whatever
// the count, the stride and the columns without a valid month.
TEST(OutlierScreen, ValidMeansOfColumns) {
    const int32_t ld = 7, n = 5;
    std::vector<float> x(static_cast<size_t>(ld) * 11);
    for (size_t k = 0; k < x.size(); ++k) x[k] = k % 3 == 0 ? M : 0.1f * static_cast<float>(k) - 2.0f;
    for (int32_t k = 0; k < 4 * ld; ++k) x[static_cast<size_t>(4 * ld + k)] = M;  // columns 5 to 8 missing
    for (int32_t count = 0; count <= 11; ++count) {
        std::vector<float> means(12, 123.0f);
        qc::valid_means(x.data(), ld, count, n, means.data());
        for (int32_t j = 0; j < count; ++j) {
            EXPECT_EQ(means[j], qc::valid_mean(x.data() + j * ld, n)) << count << " columns, column " << j;
        }
        EXPECT_EQ(means[count], 123.0f) << count;
    }
}

const char* kCalHeading = "(/1x,'EOF calibration period outliers found: |PDSI|>10 set to missing')";
const char* kCalHeadingText = "\n EOF calibration period outliers found: |PDSI|>10 set to missing\n";
const char* kPreHeading = "(/1x,'Pre-calibration period outliers found: |PDSI|>10 set to missing')";
const char* kPreHeadingText = "\n Pre-calibration period outliers found: |PDSI|>10 set to missing\n";

TEST(OutlierScreen, ListingRecords) {
    const textio::Layout heading(kCalHeading);
    std::vector<textio::OutValue> values;
    values.reserve(40);
    const std::vector<float> eleven = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, -20.5f};
    const std::vector<float> two = {12.0f, -10.0f};

    struct Row {
        const char* name;
        std::vector<std::pair<int32_t, std::vector<float>>> lists;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"nothing listed, no heading", {{3, {}}}, ""},
        {"one heading for two columns",
         {{5, two}, {1234, {99.5f}}},
         std::string(kCalHeadingText) + " gpt    5   12.00 -10.00\n gpt 1234   99.50\n"},
        {"eleven outliers continue on a second line",
         {{7, eleven}},
         std::string(kCalHeadingText) +
             " gpt    7   10.00  11.00  12.00  13.00  14.00  15.00  16.00  17.00  18.00  19.00\n" +
             std::string(10, ' ') + " -20.50\n"},
    };
    for (const Row& row : rows) {
        textio::StringSink report;
        qc::OutlierListing listing(heading, report, values);
        listing.reset();
        for (const auto& [gpt, out] : row.lists) {
            listing.list(gpt, out.data(), static_cast<int32_t>(out.size()));
        }
        EXPECT_EQ(report.text(), row.expected) << row.name;
    }
}

// A neighbourhood of pre-calibration months only, as the screen sees it.
struct Neighbourhood {
    int32_t npre;
    std::vector<std::vector<float>> columns;  // nbr, column by column
    std::vector<float> ctr;
};

struct Screened {
    std::vector<std::vector<float>> columns;
    std::vector<float> ctr;
    std::string report;
};

Screened screen(const Neighbourhood& in) {
    const int32_t nfound = static_cast<int32_t>(in.columns.size());
    const int32_t ld = std::max<int32_t>(in.npre, 1);
    std::vector<float> nbr(static_cast<size_t>(ld) * nfound, M);
    for (int32_t j = 0; j < nfound; ++j) {
        std::copy(in.columns[j].begin(), in.columns[j].end(), nbr.begin() + j * ld);
    }
    std::vector<float> ctr = in.ctr;
    std::vector<int32_t> gpt;
    for (int32_t j = 0; j < nfound; ++j) gpt.push_back(j + 1);
    std::vector<float> premean(20), medcopy(20), valid(ld), outval(ld);
    std::vector<textio::OutValue> values;
    values.reserve(ld + 1);
    const textio::Layout heading(kPreHeading);
    textio::StringSink report;
    qc::OutlierListing listing(heading, report, values);
    qc::screen_precalibration(numeric::ColumnMatrix<float>(nbr.data(), ld), ctr.data(), gpt.data(),
                              nfound, in.npre,
                              {premean.data(), medcopy.data(), valid.data(), outval.data()}, listing);
    Screened out;
    for (int32_t j = 0; j < nfound; ++j) {
        out.columns.emplace_back(nbr.begin() + j * ld, nbr.begin() + j * ld + in.npre);
    }
    out.ctr = ctr;
    out.report = report.text();
    return out;
}

TEST(OutlierScreen, PrecalibrationScreenAndLevels) {
    struct Row {
        const char* name;
        Neighbourhood in;
        Screened expected;
    };
    const std::vector<Row> rows = {
        {"npre 0: nothing to do",
         {0, {{}, {}}, {}},
         {{{}, {}}, {}, ""}},
        {"column 12.0 listed, centre 12.0 kept against its median 3.0",
         {3, {{0.0f, 0.0f, 0.0f}, {12.0f, -6.0f, -6.0f}}, {3.0f, 3.0f, 12.0f}},
         // premean 0 and 0, premed 0: no adjustment; ctrpre 6 is moved to 0.
         {{{0.0f, 0.0f, 0.0f}, {M, -6.0f, -6.0f}},
          {3.0f - 6.0f + 0.0f, 3.0f - 6.0f + 0.0f, 12.0f - 6.0f + 0.0f},
          std::string(kPreHeadingText) + " gpt    2   12.00\n"}},
        {"centre's 13.5 lost against its median 3.0",
         {3, {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}}, {3.0f, 3.0f, 13.5f}},
         {{{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}}, {0.0f, 0.0f, M}, ""}},
        {"two centre months: 12.0 kept against their median 6.25",
         {2, {{0.0f, 0.0f}, {0.0f, 0.0f}}, {0.5f, 12.0f}},
         {{{0.0f, 0.0f}, {0.0f, 0.0f}}, {0.5f - 6.25f, 12.0f - 6.25f}, ""}},
        {"centre's single 10.5 lost, measured from zero",
         {2, {{0.1f, 0.1f}, {0.2f, 0.2f}}, {M, 10.5f}},
         {{{0.1f, 0.1f}, {0.2f, 0.2f}}, {M, M}, ""}},
        {"column at 2.5 lowered by 2.3: 11.0 becomes 8.7 and is not listed",
         {2, {{11.0f, -6.0f}, {0.2f, 0.2f}, {0.2f, 0.2f}}, {0.0f, 0.0f}},
         {{{11.0f - 2.5f + 0.2f, -6.0f - 2.5f + 0.2f}, {0.2f, 0.2f}, {0.2f, 0.2f}}, {0.0f, 0.0f}, ""}},
        {"premed of exactly 1.0: nothing moves",
         {2, {{3.0f, 3.0f}, {1.0f, 1.0f}, {0.5f, 0.5f}}, {4.0f, 4.0f}},
         {{{3.0f, 3.0f}, {1.0f, 1.0f}, {0.5f, 0.5f}}, {4.0f, 4.0f}, ""}},
        {"column and centre at exactly 1.0 are moved, the centre's later months are not",
         {2, {{1.0f, 1.0f}, {0.25f, 0.25f}, {0.25f, 0.25f}}, {1.0f, 1.0f, 50.0f}},
         {{{0.25f, 0.25f}, {0.25f, 0.25f}, {0.25f, 0.25f}}, {0.25f, 0.25f, 50.0f}, ""}},
        {"columns without data vote -99.9 and stop every adjustment",
         {2, {{M, M}, {M, M}, {4.0f, 4.0f}}, {4.0f, 4.0f}},
         {{{M, M}, {M, M}, {4.0f, 4.0f}}, {4.0f, 4.0f}, ""}},
        {"adjusted column is then screened: -3.0 level brings 9.0 to 12.2",
         {3, {{9.0f, -9.0f, -9.0f}, {0.2f, 0.2f, 0.2f}, {0.2f, 0.2f, 0.2f}}, {M, M, M}},
         {{{M, -9.0f + 3.0f + 0.2f, -9.0f + 3.0f + 0.2f}, {0.2f, 0.2f, 0.2f}, {0.2f, 0.2f, 0.2f}},
          {M, M, M},
          std::string(kPreHeadingText) + " gpt    1   12.20\n"}},
    };
    for (const Row& row : rows) {
        const Screened got = screen(row.in);
        EXPECT_EQ(got.columns, row.expected.columns) << row.name;
        EXPECT_EQ(got.ctr, row.expected.ctr) << row.name;
        EXPECT_EQ(got.report, row.expected.report) << row.name;
    }
}

}  // namespace
