// The dataset without a socket: the size announced before the answer is
// made, the limit, the XDR's order, errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dap/dataset.h"
#include "tests/support/program.h"

namespace {

// Values that say where they are: t * 10000 + lat * 100 + lon.
class Numbered : public dap::Values {
public:
    void read(const dap::Slab& s, float* out) const override {
        for (int32_t t = s.start[0]; t <= s.stop[0]; t += s.stride[0])
            for (int32_t j = s.start[1]; j <= s.stop[1]; j += s.stride[1])
                for (int32_t i = s.start[2]; i <= s.stop[2]; i += s.stride[2])
                    *out++ = static_cast<float>(t * 10000 + j * 100 + i);
    }
};

class Damaged : public dap::Values {
public:
    void read(const dap::Slab&, float*) const override { throw dap::Failure{422, "grid.txt: record 9 is broken"}; }
};

constexpr uint64_t kNoLimit = uint64_t{1} << 40;

std::string body_of(dap::Kind kind, const std::string& constraint, const dap::Values& values = Numbered()) {
    dap::Request request(kind, constraint, kNoLimit);
    return *request.answer(values).body;
}

uint32_t word_at(const std::string& bytes, size_t at) {
    uint32_t w = 0;
    for (size_t k = 0; k < 4; ++k) w = (w << 8) | static_cast<unsigned char>(bytes[at + k]);
    return w;
}

TEST(DapDataset, TheSizeIsKnownBeforeTheAnswer) {
    for (const char* constraint : {"", "lat", "time,lon", "pdsi[3][2][1]", "pdsi.pdsi[0:5:1931][1:7:50][3]", "pdsi.time",
                                   "crs", "lat_bnds[1:3:54][1],crs,time_bnds[5][0:1]", " lat , lon ",
                                   "pdsi.pdsi[ 0 : 2 : 5 ] [ 1 ][3] . pdsi"}) {
        SCOPED_TRACE(constraint);
        dap::Request request(dap::Kind::dods, constraint, kNoLimit);
        const uint64_t announced = request.bytes();
        EXPECT_EQ(request.answer(Numbered()).body->size(), announced);
    }
    for (dap::Kind kind : {dap::Kind::das, dap::Kind::dds, dap::Kind::ver, dap::Kind::html}) {
        dap::Request request(kind, "", kNoLimit);
        EXPECT_EQ(request.bytes(), request.answer(Numbered()).body->size()) << static_cast<int>(kind);
    }
}

TEST(DapDataset, TheLimitRefusesWithTheByteCount) {
    const uint64_t whole = dap::Request(dap::Kind::dods, "pdsi.pdsi", kNoLimit).bytes();
    EXPECT_GT(whole, uint64_t{61'000'000});
    EXPECT_NO_THROW(dap::Request(dap::Kind::dods, "pdsi.pdsi", whole));
    try {
        dap::Request(dap::Kind::dods, "pdsi.pdsi", whole - 1);
        ADD_FAILURE() << "one byte over the limit passed";
    } catch (const dap::Failure& failure) {
        EXPECT_EQ(failure.status, 413);
        EXPECT_EQ(failure.message, "the answer would be " + std::to_string(whole) + " bytes, over this server's limit of " +
                                       std::to_string(whole - 1) + " bytes: ask for a smaller slice");
    }
    // The structure of a huge answer is small.
    EXPECT_NO_THROW(dap::Request(dap::Kind::dds, "pdsi.pdsi", 1));
}

float float_at(const std::string& bytes, size_t at) {
    const uint32_t w = word_at(bytes, at);
    float v;
    std::memcpy(&v, &w, sizeof v);
    return v;
}

// In the DDS's order, whatever the constraint's: lat before the Grid.
TEST(DapDataset, ValuesAreXdrInTheDdsOrder) {
    const std::string body = body_of(dap::Kind::dods, "pdsi.pdsi[2:3:5][1][4:5],lat[0:1]");
    const size_t data = body.find("Data:\n") + 6;
    ASSERT_EQ(body.size() - data, 8 + 2 * 4 + 8 + 4 * 4u);
    EXPECT_EQ(word_at(body, data), 2u);
    EXPECT_EQ(word_at(body, data + 4), 2u);
    EXPECT_EQ(float_at(body, data + 8), -58.75f);
    EXPECT_EQ(float_at(body, data + 12), -56.25f);
    const size_t field = data + 16;
    EXPECT_EQ(word_at(body, field), 4u);
    EXPECT_EQ(word_at(body, field + 4), 4u);
    const float want[] = {20104, 20105, 50104, 50105};
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(float_at(body, field + 8 + 4 * k), want[k]) << k;
}

double double_at(const std::string& bytes, size_t at) {
    const uint64_t w = uint64_t{word_at(bytes, at)} << 32 | word_at(bytes, at + 4);
    double v;
    std::memcpy(&v, &w, sizeof v);
    return v;
}

// Each month's and cell's edges, first and last, a leap February between;
// strided either way.
TEST(DapDataset, BoundsAreTheEdges) {
    struct Row {
        const char* constraint;
        bool doubles;
        std::vector<double> want;
    };
    const Row rows[] = {
        {"time_bnds[0][0:1]", true, {0, 31}},           {"time_bnds[13][0:1]", true, {396, 424}},
        {"time_bnds[25][0:1]", true, {761, 790}},        {"time_bnds[1931][0:1]", true, {58773, 58804}},
        {"lat_bnds[0][0:1]", false, {-60, -57.5}},       {"lat_bnds[54][0:1]", false, {75, 77.5}},
        {"lon_bnds[0][0:1]", false, {-180, -177.5}},     {"lon_bnds[143][0:1]", false, {177.5, 180}},
        {"time_bnds[0:2:2][0:1]", true, {0, 31, 59, 90}}, {"lat_bnds[0][0:2:1]", false, {-60}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.constraint);
        const std::string body = body_of(dap::Kind::dods, row.constraint);
        const size_t data = body.find("Data:\n") + 6, width = row.doubles ? 8 : 4;
        ASSERT_EQ(body.size() - data, 8 + row.want.size() * width);
        EXPECT_EQ(word_at(body, data), row.want.size());
        for (size_t k = 0; k < row.want.size(); ++k) {
            const size_t at = data + 8 + k * width;
            EXPECT_EQ(row.doubles ? double_at(body, at) : double{float_at(body, at)}, row.want[k]) << k;
        }
    }
    // The grid mapping's own value.
    const std::string crs = body_of(dap::Kind::dods, "crs");
    EXPECT_EQ(crs.substr(crs.find("Data:\n") + 6), std::string(4, '\0'));
}

// The whole DAS: every attribute a client reads, each once, in this order.
TEST(DapDataset, TheDasIsWhole) {
    const std::string want = R"das(Attributes {
    time {
        String units "days since 1850-01-01 00:00:00";
        String calendar "standard";
        String standard_name "time";
        String axis "T";
        String bounds "time_bnds";
        String comment "the middle of the month; the bounds are its first day and the next month's";
    }
    lat {
        String units "degrees_north";
        String standard_name "latitude";
        String axis "Y";
        String bounds "lat_bnds";
    }
    lon {
        String units "degrees_east";
        String standard_name "longitude";
        String axis "X";
        String bounds "lon_bnds";
    }
    crs {
        String grid_mapping_name "latitude_longitude";
        Float64 semi_major_axis 6378137;
        Float64 inverse_flattening 298.257223563;
        Float64 longitude_of_prime_meridian 0;
        String crs_wkt "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";
    }
    pdsi {
        String long_name "Palmer Drought Severity Index";
        String units "1";
        String cell_methods "time: mean";
        String grid_mapping "crs";
        Float32 _FillValue -99.900001525878906;
    }
    NC_GLOBAL {
        String Conventions "CF-1.8";
        String title "Monthly Palmer Drought Severity Index on the 2.5-degree land grid (pdsi serve)";
        String source "pdsi )das" PDSI_VERSION R"das(";
        String comment "the grid as read by pdsi serve, every month and cell; missing months are -99.9";
    }
    DODS_EXTRA {
        String Unlimited_Dimension "time";
    }
}
)das";
    EXPECT_EQ(body_of(dap::Kind::das, ""), want);
}

// Streamed, the answer has the same bytes however it is read: in small
// pieces, or asked for more than is left.
TEST(DapDataset, AStreamIsTheAnswerInAnyPieces) {
    // The last in many blocks of months, strided unlike its rows.
    for (const char* constraint : {"pdsi[2:3:40][1:2][4:5]", "lat,pdsi.pdsi[0:5][1][2],lon[3]", "pdsi.pdsi[0:1:9][0:54][0:143]",
                                   "pdsi.pdsi[1:3:400][0:2:54][0:7:143]"}) {
        const std::string whole = body_of(dap::Kind::dods, constraint);
        for (size_t piece : {size_t{1}, size_t{7}, size_t{65536}, size_t{1} << 30}) {
            SCOPED_TRACE(std::string(constraint) + " in pieces of " + std::to_string(piece));
            dap::Request request(dap::Kind::dods, constraint, kNoLimit);
            const auto stream = request.stream(std::make_shared<Numbered>());
            ASSERT_EQ(stream->size(), whole.size());
            std::string read(whole.size(), '\0');
            std::vector<char> buffer(std::min(piece, whole.size() + 100));
            for (uint64_t at = 0; at < whole.size();) {
                const size_t n = stream->read(at, buffer.data(), buffer.size());
                ASSERT_GT(n, 0u);
                ASSERT_LE(at + n, whole.size());
                std::memcpy(read.data() + at, buffer.data(), n);
                at += n;
            }
            EXPECT_TRUE(read == whole);
        }
    }
}

// The grammar's own check, before libdap's parser sees the text: each
// refusal names what it wanted and where.
TEST(DapDataset, TheConstraintsGrammar) {
    struct Row {
        const char* constraint;
        const char* problem;  // "" when accepted
    };
    const Row rows[] = {
        {"   ", ""},
        {"lat [ 1 : 2 ] , lon", ""},
        {"lat_bnds", ""},
        {"lat[", "an index expected at character 5"},
        {"lat[]", "an index expected at character 5"},
        {"lat[0123456789]", "an index of 10 digits at character 15"},
        {"lat[007]", "an index with a leading zero at character 8"},
        {"lat[0]", ""},
        {"lat[1:2:3:4]", "']' expected at character 10"},
        {"lat[1", "']' expected at character 6"},
        {"lat[1;2]", "']' expected at character 6"},
        {"pdsi.[1]", "a variable name expected at character 6"},
        {"1lat", "a variable name expected at character 5"},
        {"lat,", "a variable name expected at character 5"},
        {"&lat>1", "a selection (&...): this dataset answers projections only"},
        {"lat&lat>1", "a selection (&...): this dataset answers projections only"},
        {"lat(1)", "a function call: this dataset answers projections only"},
        {"lat;", "',' expected at character 4"},
        {"lat[1]x", "',' expected at character 7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.constraint);
        std::string problem;
        try {
            dap::Request(dap::Kind::dds, row.constraint, kNoLimit);
        } catch (const dap::Failure& failure) {
            EXPECT_EQ(failure.status, 400);
            problem = failure.message;
        }
        EXPECT_EQ(problem, *row.problem ? std::string("constraint: ") + row.problem : "");
    }
}

// The page shows the DDS and the whole DAS, their quotes escaped.
// The whole page, its structure and attributes escaped.
TEST(DapDataset, ThePageIsWhole) {
    const std::string page = body_of(dap::Kind::html, "");
    const std::filesystem::path expected = testsupport::source_path("dap/expected/pdsi.html");
    if (std::getenv("PDSI_WRITE_EXPECTED")) testsupport::write_file(expected, page);
    EXPECT_TRUE(page == testsupport::read_file(expected)) << page;
}

TEST(DapDataset, FailuresKeepTheirStatus) {
    struct Row {
        const char* name;
        dap::Kind kind;
        const char* constraint;
        int status;
    };
    const Row rows[] = {
        {"the values cannot be had", dap::Kind::dods, "pdsi.pdsi[0][0][0]", 422},
        {"no values needed", dap::Kind::dods, "lat", 200},
        {"the structure only", dap::Kind::dds, "pdsi.pdsi[0][0][0]", 200},
        {"a bad index first", dap::Kind::dods, "pdsi.pdsi[0][0][999]", 400},
    };
    try {
        dap::Request(dap::Kind::das, "", kNoLimit).stream(std::make_shared<Numbered>());
        ADD_FAILURE() << "a .das streamed";
    } catch (const dap::Failure& failure) {
        EXPECT_EQ(failure.status, 500);
        EXPECT_EQ(failure.message, "only a .dods answer is streamed");
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        int status = 200;
        try {
            dap::Request request(row.kind, row.constraint, kNoLimit);
            request.answer(Damaged());
        } catch (const dap::Failure& failure) {
            status = failure.status;
        }
        EXPECT_EQ(status, row.status);
    }
}

TEST(DapDataset, ErrorsInTheProtocolsForm) {
    struct Row {
        const char* name;
        std::string message;
        std::string shown;
    };
    const Row rows[] = {
        {"plain", "lat: bad", "lat: bad"},
        {"quotes and backslashes", "a \"b\" \\c", "a \\\"b\\\" \\\\c"},
        {"lines joined", "one\nmore \nline\n", "one more line"},
        {"returns and tabs joined too", "a\r\nb\tc", "a b c"},
        {"a message on its next line", "\nlat: bad", "lat: bad"},
        {"blanks only", " \n ", "error"},
        {"control bytes", std::string("a\x01z"), "a?z"},
        {"the controls' edges", "\x1f| |~|\x7f", "?| |~|?"},
        {"empty", "", "error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const dap::Answer answer = dap::error_answer({413, row.message});
        EXPECT_EQ(answer.status, 413);
        EXPECT_EQ(answer.description, "dods_error");
        EXPECT_EQ(*answer.body, "Error {\n    code = 413;\n    message = \"" + row.shown + "\";\n};\n");
    }
}

}  // namespace
