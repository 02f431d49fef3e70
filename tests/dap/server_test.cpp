// /dap/pdsi through the real server and the clients people use (ncdump,
// getdap, xarray, CDO): values equal the grid's and `pdsi extract`'s text,
// constraints good, bad and hostile get their status, a damaged grid the
// command's message.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serve/app.h"
#include "serve/http_server.h"
#include "serve/loaded_grid.h"
#include "serve/more_routes.h"
#include "tests/cli/grid.h"
#include "tests/serve/http_client.h"
#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;
using serve_test::fetch;
using serve_test::Reply;

// Land to the grid's corners, a missing month here and there.
float grid_value(int32_t i, int32_t j, int32_t m) {
    if ((i * 7 + j * 13 + m * 3) % 23 == 0) return -99.9f;
    const uint32_t h = cli_test::mix(static_cast<uint32_t>(i * 7919 + j * 104729 + m * 31));
    return static_cast<float>(static_cast<int32_t>(h % 1600) - 800) / 100.0f;
}

// What the reader makes of the value as the file holds it; lon, lat and
// month from 0.
float served(int32_t lon, int32_t lat, int32_t month) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(grid_value(lon + 1, lat + 1, month + 1)));
    return std::strtof(text, nullptr);
}

struct Running {
    std::unique_ptr<serve::LoadedGrid> grid;
    std::unique_ptr<serve::App> app;
    std::unique_ptr<serve::HttpServer> server;
    std::string base;

    Running(const fs::path& grid_path, const fs::path& temp) {
        grid = serve::LoadedGrid::load(grid_path.string(), 2);
        serve::ServerConfig c;
        c.threads = 2;
        c.timeout_seconds = 120;
        c.job_threads = 2;
        app = std::make_unique<serve::App>(*grid, temp, c);
        const serve::Listener listener = serve::listen_on("127.0.0.1:0");
        server = std::make_unique<serve::HttpServer>(*app, listener, true);
        base = "http://127.0.0.1:" + std::to_string(listener.port) + "/dap/pdsi";
    }
    ~Running() { server->drain(1); }
};

// The XDR after "Data:\n": per array its count twice, then the values.
class Xdr {
public:
    explicit Xdr(const std::string& body) : body_(body), at_(body.find("\nData:\n")) {
        at_ = at_ == std::string::npos ? body.size() : at_ + 7;
    }
    std::vector<float> floats() { return values<float, uint32_t>(); }
    std::vector<double> doubles() { return values<double, uint64_t>(); }
    bool done() const { return at_ == body_.size(); }

private:
    template <class Word>
    Word word() {
        Word w = 0;
        for (size_t k = 0; k < sizeof(Word) && at_ < body_.size(); ++k)
            w = static_cast<Word>((w << 8) | static_cast<unsigned char>(body_[at_++]));
        return w;
    }
    template <class Real, class Word>
    std::vector<Real> values() {
        const uint32_t n = word<uint32_t>();
        if (word<uint32_t>() != n || body_.size() - at_ < static_cast<size_t>(n) * sizeof(Word)) return {};
        std::vector<Real> out(n);
        for (Real& v : out) {
            const Word w = word<Word>();
            std::memcpy(&v, &w, sizeof v);
        }
        return out;
    }
    const std::string& body_;
    size_t at_;
};

using testsupport::Output;
using testsupport::shell;

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) out += text;
    return out;
}

// Days from 1850-01-01 to the middle of month `k` (from 0) of the span.
double mid_month(int32_t k) {
    using namespace std::chrono;
    const auto first = [](int32_t n) {
        return sys_days(year(1850 + n / 12) / month(static_cast<unsigned>(n % 12 + 1)) / 1) - sys_days(year(1850) / 1 / 1);
    };
    return static_cast<double>((first(k) + first(k + 1)).count()) / 2.0;
}

bool have(const std::string& probe) { return shell(probe + " >/dev/null").status == 0; }

const std::string kPython = "/usr/bin/python3";

class DapServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testsupport::TempDir;
        tools::write_grid_file((*dir_ / "grid.txt").string(), tools::kMonths, grid_value);
        fs::create_directories(*dir_ / "tmp");
        server_ = new Running(*dir_ / "grid.txt", *dir_ / "tmp");
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }
    static testsupport::TempDir* dir_;
    static Running* server_;
};

testsupport::TempDir* DapServer::dir_ = nullptr;
Running* DapServer::server_ = nullptr;

TEST_F(DapServer, ConstraintsGetTheirStatus) {
    struct Row {
        const char* name;
        std::string target;  // after /dap/pdsi
        long status;
        const char* words;   // in the body
    };
    const Row rows[] = {
        {"whole DDS", ".dds", 200, "Float32 pdsi[time = 1932][lat = 55][lon = 144];"},
        {"a cell's series", ".dods?pdsi.pdsi[0:1:1931][38][32]", 200, "Float32 pdsi[time = 1932][lat = 1][lon = 1];"},
        {"percent-encoded", ".dods?pdsi.pdsi%5B0%3A1%3A3%5D%5B1%5D%5B2%5D", 200, "[time = 4][lat = 1][lon = 1]"},
        {"the grid sliced with its maps", ".dds?pdsi[5][0:2:54][7]", 200, "Float32 lat[lat = 28];"},
        {"a map by its dotted path", ".dds?pdsi.time[0:11]", 200, "Float64 time[time = 12];"},
        {"stop not on the stride", ".dods?lat[1:3:2]", 200, "Float32 lat[lat = 1];"},
        {"three coordinates", ".dods?time,lat,lon", 200, "Float32 lon[lon = 144];"},
        {"a projection many times", ".dds?" + repeated("lat,", 1000) + "lon", 200, "Float32 lon[lon = 144];"},
        {"unknown variable", ".dods?nosuch", 400, "not found in the dataset"},
        {"index past the dimension", ".dods?lat[55]", 400, "do not match the array"},
        {"stride 0", ".dods?lat[0:0:5]", 400, "do not match the array"},
        {"start after stop", ".dods?lat[5:2]", 400, "start value of an array index is past the stop"},
        {"too few indices", ".dods?pdsi[0][0]", 400, "number of dimensions"},
        {"unclosed bracket", ".dods?pdsi.pdsi[0][0][0", 400, "']' expected at character 18"},
        {"a selection", ".dods?lat&lat>3", 400, "a selection"},
        {"a selection alone", ".dods?&lat>3", 400, "a selection"},
        {"empty brackets", ".dods?lat[]", 400, "an index expected at character 5"},
        {"a function", ".dods?version()", 400, "a function call"},
        {"huge index", ".dods?lat[99999999999999999999]", 400, "an index of 20 digits"},
        {"index at INT_MAX", ".dods?lat[2147483647]", 400, "constraint: "},
        {"a leading zero", ".dods?pdsi.pdsi[5][09][1]", 400, "leading zero"},
        {"negative index", ".dods?lat[-1]", 400, "constraint: "},
        {"negative slice", ".dods?pdsi.pdsi[-5:-1][0][0]", 400, "constraint: "},
        {"nested brackets", ".dods?pdsi[[[[0]]]][0][0]", 400, "constraint: "},
        {"10 kB of commas", ".dods?" + std::string(10000, ','), 400, "constraint: "},
        {"deep parentheses", ".dods?" + std::string(5000, '(') + "lat", 400, "constraint: "},
        {"percent-encoded NUL", ".dods?lat%00,lon", 400, "control character"},
        {"NUL after a name", ".dds?lat%00", 400, "control character"},
        {"a lone percent", ".dods?lat%", 400, "constraint: "},
        {"a malformed escape", ".dods?lat%zz", 400, "not followed by two hex digits"},
        {"half an escape", ".dods?lat%g0,lon", 400, "not followed by two hex digits"},
        {"its other half", ".dods?lat%0g,lon", 400, "not followed by two hex digits"},
        {"an escape first", ".dods?%zzlat", 400, "not followed by two hex digits"},
        {"a control first", ".dods?%0alat", 400, "control character"},
        {"a tab after a name", ".dods?lon%09", 400, "control character"},
        {"percent-encoded tab", ".dods?lat%09", 400, "control character"},
        {"percent-encoded line feed", ".dods?lat%0a", 400, "control character"},
        {"percent-encoded DEL", ".dods?lat%7f", 400, "control character"},
        {"capitals: line feed", ".dods?lat%0A", 400, "control character"},
        {"capitals: unit separator", ".dods?lat%1F", 400, "control character"},
        {"capitals: DEL", ".dods?lat%7F", 400, "control character"},
        {"a colon after the percent", ".dods?lat%:0", 400, "not followed by two hex digits"},
        {"an encoded space, kept so", ".dods?lat%20", 400, "',' expected at character 4"},
        {"a missing name", ".dods?lat,,lon", 400, "a variable name expected at character 5"},
        {"an index of nine digits", ".dods?lat[999999999]", 400, "do not match the array"},
        {"an index of ten digits", ".dods?lat[1000000000]", 400, "an index of 10 digits"},
        {"another response", ".ascii?lat", 404, "not found"},
        {"another dataset", "x.dods", 404, "not found"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Reply reply = fetch(server_->base + row.target);
        EXPECT_EQ(reply.status, row.status) << reply.body.substr(0, 300);
        EXPECT_NE(reply.body.find(row.words), std::string::npos) << reply.body.substr(0, 300);
        if (row.status != 200) {
            EXPECT_EQ(reply.body.rfind("Error {\n    code = " + std::to_string(row.status) + ";\n    message = \"", 0),
                      0u)
                << reply.body;
            EXPECT_EQ(reply.header("content-description"), "dods_error");
            EXPECT_EQ(reply.header("cache-control"), "no-store");
            EXPECT_EQ(fetch(server_->base + row.target, {"If-None-Match: *"}).status, row.status)
                << "a failure is no 304";
        }
    }
    EXPECT_EQ(fetch(server_->base + ".dds", {}, "POST").status, 405);
    EXPECT_EQ(fetch(server_->base + ".ver").status, 200) << "the server answers after all of that";
}

TEST_F(DapServer, HeadersCachingAndHead) {
    struct Row {
        const char* suffix;
        const char* description;
        const char* type;
    };
    const Row rows[] = {{".das", "dods_das", "text/plain; charset=utf-8"},
                        {".dds?lat", "dods_dds", "text/plain; charset=utf-8"},
                        {".dods?lat", "dods_data", "application/octet-stream"},
                        {".dods?pdsi.pdsi[0:1:200][0:1:54][0:1:143]", "dods_data", "application/octet-stream"},  // streamed
                        {".html", "", "text/html; charset=utf-8"},
                        {".ver", "dods_version", "text/plain; charset=utf-8"},
                        {"", "", "text/html; charset=utf-8"}};
    EXPECT_EQ(fetch(server_->base + ".ver").body, "Core version: DAP/2.0\nServer version: pdsi/" PDSI_VERSION "\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.suffix);
        const std::string url = server_->base + row.suffix;
        const Reply reply = fetch(url);
        ASSERT_EQ(reply.status, 200);
        EXPECT_EQ(reply.header("content-description"), row.description);
        EXPECT_EQ(reply.header("content-type"), row.type);
        EXPECT_EQ(reply.header("xdap"), "2.0");
        EXPECT_EQ(reply.header("xdods-server"), "pdsi/" PDSI_VERSION);
        EXPECT_EQ(reply.header("cache-control"), "public, max-age=86400");
        EXPECT_FALSE(reply.header("last-modified").empty());
        const std::string etag = reply.header("etag");
        ASSERT_EQ(etag.front(), '"');
        EXPECT_EQ(fetch(url).body, reply.body) << "the same bytes for the same tag";
        const Reply again = fetch(url, {"If-None-Match: \"x\", " + etag});
        EXPECT_EQ(again.status, 304);
        EXPECT_EQ(again.header("etag"), etag);
        const Reply head = fetch(url, {}, "HEAD");
        EXPECT_TRUE(head.body.empty());
        EXPECT_EQ(head.header("content-length"), std::to_string(reply.body.size()));
    }
    EXPECT_NE(fetch(server_->base + ".dds?lat").header("etag"), fetch(server_->base + ".dds?lon").header("etag"));
}

TEST_F(DapServer, DataEqualsTheGrid) {
    struct Row {
        const char* name;
        const char* constraint;
        std::array<int32_t, 3> start, stride, stop;  // time, lat, lon
        bool maps;  // the Grid, its maps before... after the array
    };
    const Row rows[] = {
        {"a cell's series", "pdsi.pdsi[0:1:1931][38][32]", {0, 38, 32}, {1, 1, 1}, {1931, 38, 32}, false},
        {"a month's map", "pdsi[1000][0:1:54][0:1:143]", {1000, 0, 0}, {1, 1, 1}, {1000, 54, 143}, true},
        {"a strided block", "pdsi.pdsi[5:37:200][10:4:30][50:9:90]", {5, 10, 50}, {37, 4, 9}, {200, 30, 90}, false},
        {"the last corner", "pdsi[1931][54][143]", {1931, 54, 143}, {1, 1, 1}, {1931, 54, 143}, true},
        {"the whole field", "pdsi.pdsi", {0, 0, 0}, {1, 1, 1}, {1931, 54, 143}, false},
        {"streamed, with its maps after", "pdsi[0:1:1000][0:1:54][0:1:143]", {0, 0, 0}, {1, 1, 1}, {1000, 54, 143}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Reply reply = fetch(server_->base + ".dods?" + row.constraint);
        ASSERT_EQ(reply.status, 200) << reply.body.substr(0, 300);
        EXPECT_EQ(reply.header("content-length"), std::to_string(reply.body.size()));
        Xdr xdr(reply.body);
        const std::vector<float> values = xdr.floats();
        size_t k = 0, wrong = 0;
        for (int32_t t = row.start[0]; t <= row.stop[0]; t += row.stride[0])
            for (int32_t j = row.start[1]; j <= row.stop[1]; j += row.stride[1])
                for (int32_t i = row.start[2]; i <= row.stop[2]; i += row.stride[2], ++k)
                    wrong += k >= values.size() || values[k] != served(i, j, t);
        EXPECT_EQ(values.size(), k);
        EXPECT_EQ(wrong, 0u);
        if (row.maps) {
            const std::vector<double> time = xdr.doubles();
            const std::vector<float> lat = xdr.floats(), lon = xdr.floats();
            ASSERT_FALSE(time.empty() || lat.empty() || lon.empty());
            EXPECT_EQ(time[0], mid_month(row.start[0]));
            EXPECT_EQ(lat[0], -58.75f + 2.5f * static_cast<float>(row.start[1]));
            EXPECT_EQ(lon.back(), -178.75f + 2.5f * static_cast<float>(row.stop[2]));
        }
        EXPECT_TRUE(xdr.done());
    }
}

TEST_F(DapServer, ManyRequestsAtOnceEachGetTheirOwnBytes) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int w = 0; w < 4; ++w)
        threads.emplace_back([w, &wrong] {
            for (int r = 0; r < 25; ++r) {
                const int32_t lat = (w * 25 + r) % 55, lon = (w * 37 + r * 3) % 144;
                const std::string c = "pdsi.pdsi[0:7:1931][" + std::to_string(lat) + "][" + std::to_string(lon) + "]";
                const Reply reply = fetch(server_->base + ".dods?" + c);
                const std::vector<float> values = Xdr(reply.body).floats();
                bool same = values.size() == 276;
                for (size_t k = 0; same && k < values.size(); ++k)
                    same = values[k] == served(lon, lat, static_cast<int32_t>(k) * 7);
                wrong[static_cast<size_t>(w)] += !same;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(DapServer, NcdumpAndGetdapReadIt) {
    if (!have("ncdump")) GTEST_SKIP() << "ncdump (netcdf-bin) is not installed";
    const std::string url = "'" + server_->base + "'";
    struct Row {
        const char* command;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"ncdump -h",
         {"time = UNLIMITED ; // (1932 currently)", "float pdsi(time, lat, lon) ;", "double time(time) ;",
          "pdsi:_FillValue = -99.9f ;", "time:units = \"days since 1850-01-01 00:00:00\" ;",
          ":Conventions = \"CF-1.8\" ;", "float lat_bnds(lat, nv) ;", "double time_bnds(time, nv) ;",
          "lon:bounds = \"lon_bnds\" ;", "pdsi:grid_mapping = \"crs\" ;",
          "crs:grid_mapping_name = \"latitude_longitude\" ;"}},
        {"ncdump -v lon_bnds", {" lon_bnds =\n  -180, -177.5,", " 177.5, 180 ;"}},
        // GDAL through netCDF's DAP client.
        {"gdalsrsinfo -o epsg NETCDF:", {"EPSG:4326"}},
        {"ncdump -v lat", {" lat = -58.75, -56.25,", " 73.75, 76.25 ;"}},
        {"getdap -d", {"Grid {", "        Float32 pdsi[time = 1932][lat = 55][lon = 144];", "    Float64 time[time = 1932];"}},
        {"getdap -a", {"Float32 _FillValue -99.900001525878906;", "String Unlimited_Dimension \"time\";"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        if (std::string(row.command).rfind("getdap", 0) == 0 && !have("getdap -V")) continue;
        const bool gdal = std::string(row.command).find("NETCDF:") != std::string::npos;
        const Output out = shell(std::string(row.command) + (gdal ? "'\"" + server_->base + "\":pdsi'" : " " + url));
        ASSERT_EQ(out.status, 0) << out.text;
        for (const std::string& line : row.lines)
            EXPECT_NE(out.text.find(line), std::string::npos) << "no " << line << "\n" << out.text.substr(0, 2000);
    }
    if (!have("getdap -V")) GTEST_SKIP() << "getdap (libdap-bin) is not installed";
    const Output data = shell("getdap -D '" + server_->base + "?pdsi.pdsi[0:1:2][38][32]'");
    ASSERT_EQ(data.status, 0) << data.text;
    char want[96];
    std::snprintf(want, sizeof want, "{{{%g}},{{%g}},{{%g}}}", static_cast<double>(served(32, 38, 0)),
                  static_cast<double>(served(32, 38, 1)), static_cast<double>(served(32, 38, 2)));
    EXPECT_NE(data.text.find(want), std::string::npos) << want << "\n" << data.text;
}

// Each subset as xarray indexes it, against `pdsi extract` of the cells
// it covers.
TEST_F(DapServer, XarrayAndCdoGiveTheCommandsValues) {
    if (!have(kPython + " -c 'import xarray, netCDF4'")) GTEST_SKIP() << "xarray or netCDF4 for " << kPython << " missing";
    struct Extract {
        const char* years;
        const char* lat;
        const char* lon;
    };
    struct Row {
        const char* name;
        const char* expr;  // after ds.pdsi
        std::vector<Extract> runs;
    };
    const Row rows[] = {
        {"a cell's series", ".sel(lat=36.25, lon=-98.75)", {{"1850:2010", "36.25:36.25", "-98.75:-98.75"}}},
        {"a month's map", ".isel(time=1000)", {{"1933:1933", "-90:90", "-180:180"}}},
        {"a strided block", "[5:200:37, 10:30:4, 50:90:9]", {{"1850:1866", "-33.75:13.75", "-53.75:43.75"}}},
        {"the grid's corners",
         ".isel(lat=[0, 54], lon=[0, 143])",
         {{"1850:2010", "-58.75:-58.75", "-178.75:-178.75"},
          {"1850:2010", "-58.75:-58.75", "178.75:178.75"},
          {"1850:2010", "76.25:76.25", "-178.75:-178.75"},
          {"1850:2010", "76.25:76.25", "178.75:178.75"}}},
    };
    const std::string script = testsupport::source_path("dap/clients.py").string();
    int n = 0;
    std::string all_folders;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string folders;
        for (const Extract& e : row.runs) {
            const fs::path out = *dir_ / ("text" + std::to_string(n++));
            const auto run = testsupport::run_pdsi(dir_->path(), {"extract", "--grid", (*dir_ / "grid.txt").string(), "--out",
                                                                 out.string(), "-q", "--years", e.years,
                                                                 std::string("--lat=") + e.lat,
                                                                 std::string("--lon=") + e.lon, "--max-missing", "1.01"});
            ASSERT_EQ(run.status, 0) << run.err;
            folders += " '" + out.string() + "'";
        }
        all_folders += folders;
        const Output out = shell(kPython + " " + script + " xarray '" + server_->base + "' '" + row.expr + "'" + folders);
        EXPECT_EQ(out.status, 0) << out.text;
    }
    if (!have("cdo -s --version")) GTEST_SKIP() << "cdo is not installed";
    const fs::path table = *dir_ / "cdo.txt";
    const Output tab = shell("cdo -s outputtab,date,lon,lat,value -seltimestep,1/12 -sellonlatbox,-50,40,-30,10 '" +
                             server_->base + "' > '" + table.string() + "'");
    ASSERT_EQ(tab.status, 0) << tab.text;
    const Output out = shell(kPython + " " + script + " cdotab '" + table.string() + "'" + all_folders);
    EXPECT_EQ(out.status, 0) << out.text;
    EXPECT_NE(out.text.find("values 6912"), std::string::npos) << "12 months of 36 by 16 cells: " << out.text;
}

TEST_F(DapServer, DamagedGridsGiveTheCommandsOutcome) {
    // Cut short: 36 months. Broken: the same with a field of February
    // 1850 turned to letters.
    tools::write_grid_file((*dir_ / "short.txt").string(), 36, grid_value);
    std::string text = testsupport::read_file(*dir_ / "short.txt");
    size_t at = 0;
    for (int32_t line = 1; line < 1 + 56 + 1 + 30; ++line) at = text.find('\n', at) + 1;
    text.replace(at + 7 * 99 + 2, 3, "x.y");
    testsupport::write_file(*dir_ / "broken.txt", text);
    struct Row {
        const char* name;
        const char* grid;
        const char* constraint;
        std::vector<std::string> options;  // of `pdsi extract` for the same cells
        int32_t lon, lat;                  // of the values checked when it reads
    };
    const Row rows[] = {
        {"past the end", "short.txt", "pdsi.pdsi[0:1:40][2][2]",
         {"--years", "1850:1853", "--lat=-53.75:-53.75", "--lon=-173.75:-173.75"}, 2, 2},
        {"inside the file", "short.txt", "pdsi.pdsi[0:1:35][2][2]",
         {"--years", "1850:1852", "--lat=-53.75:-53.75", "--lon=-173.75:-173.75"}, 2, 2},
        {"the broken record", "broken.txt", "pdsi.pdsi[1][0:1:54][0:1:143]", {"--years", "1850:1850"}, 0, 0},
        {"before the broken record", "broken.txt", "pdsi.pdsi[0:1:35][54][143]",
         {"--years", "1850:1852", "--lat=76.25:76.25", "--lon=178.75:178.75"}, 143, 54},
    };
    std::vector<int> statuses;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Running damaged(*dir_ / row.grid, *dir_ / "tmp");
        // Its field is read from the file, by a job; its coordinates are not.
        for (const std::string& query : {std::string(row.constraint), std::string("lat,lon")}) {
            serve::HttpRequest request;
            request.method = "GET";
            request.path = "/dap/pdsi.dods";
            request.raw_query = query;
            EXPECT_EQ(serve::dap_route(*damaged.grid, request, damaged.app->config()).long_job, query != "lat,lon") << query;
        }
        // The grid named as the server names it, without its folder.
        std::vector<std::string> args{"extract", "--grid", row.grid, "--out",
                                      (*dir_ / "damaged").string(), "-q", "--max-missing", "1.01"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const auto command = testsupport::run_pdsi(dir_->path(), args);
        statuses.push_back(command.status);
        const Reply reply = fetch(damaged.base + ".dods?" + row.constraint);
        if (command.status == 0) {
            EXPECT_EQ(reply.status, 200) << reply.body.substr(0, 300);
            const std::vector<float> values = Xdr(reply.body).floats();
            ASSERT_FALSE(values.empty());
            EXPECT_EQ(values.back(), served(row.lon, row.lat, 35));
            continue;
        }
        EXPECT_EQ(reply.status, 422);
        const std::string prefix = "pdsi extract: error: ";
        ASSERT_EQ(command.err.rfind(prefix, 0), 0u) << command.err;
        std::string message = command.err.substr(prefix.size());
        while (!message.empty() && message.back() == '\n') message.pop_back();
        for (size_t q = message.find('"'); q != std::string::npos; q = message.find('"', q + 2)) message.insert(q, "\\");
        EXPECT_NE(reply.body.find("message = \"" + message + "\";"), std::string::npos) << reply.body << command.err;
        EXPECT_EQ(fetch(damaged.base + ".dds").status, 200) << "the structure needs no values";
    }
    EXPECT_EQ(statuses, (std::vector<int>{1, 0, 1, 0})) << "the rows meet the damage as meant";
}

}  // namespace
