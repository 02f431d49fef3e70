// /zarr/pdsi/ and /zarr/pdsi-series/ through the real server and the
// clients people use (xarray over fsspec, zarr, GDAL): values equal
// `pdsi extract`'s text, attributes the NetCDF copy's; keys that cannot
// exist get 404, a damaged grid the command's message.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "serve/app.h"
#include "serve/http_server.h"
#include "serve/loaded_grid.h"
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
    if ((i * 5 + j * 11 + m * 3) % 19 == 0) return -99.9f;
    const uint32_t h = cli_test::mix(static_cast<uint32_t>(i * 7919 + j * 104729 + m * 31));
    return static_cast<float>(static_cast<int32_t>(h % 1600) - 800) / 100.0f;
}

struct Running {
    std::unique_ptr<serve::LoadedGrid> grid;
    std::unique_ptr<serve::App> app;
    std::unique_ptr<serve::HttpServer> server;
    std::string base;  // .../zarr

    Running(const fs::path& grid_path, const fs::path& temp) {
        grid = serve::LoadedGrid::load(grid_path.string(), 2);
        serve::ServerConfig c;
        c.threads = 2;
        c.timeout_seconds = 120;
        c.cache_bytes = 64u << 20;
        app = std::make_unique<serve::App>(*grid, temp, c);
        const serve::Listener listener = serve::listen_on("127.0.0.1:0");
        server = std::make_unique<serve::HttpServer>(*app, listener, true);
        base = "http://127.0.0.1:" + std::to_string(listener.port) + "/zarr";
    }
    ~Running() { server->drain(1); }
};

using testsupport::Output;
using testsupport::shell;

const std::string kPython = "/usr/bin/python3";

class ZarrServer : public ::testing::Test {
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

testsupport::TempDir* ZarrServer::dir_ = nullptr;
Running* ZarrServer::server_ = nullptr;

TEST_F(ZarrServer, KeysThatCannotExistAreNotFound) {
    struct Row {
        const char* name;
        std::string target;  // after /zarr/
        long status;
    };
    const Row rows[] = {
        {"the last year", "pdsi/pdsi/160.0.0", 200},
        {"a key sent escaped", "pdsi/pdsi%2F0.0.%30", 200},
        {"a year past the end", "pdsi/pdsi/161.0.0", 404},
        {"four indices", "pdsi/pdsi/0.0.0.0", 404},
        {"a huge index", "pdsi-series/pdsi/0.99999999999999999999999999.0", 404},
        {"the parent escaped", "pdsi/%2e%2e/%2E%2E/etc/passwd", 404},
        {"an escaped NUL", "pdsi/pdsi/0.0.0%00", 400},
        {"an escaped line feed", "pdsi/.zgroup%0a", 404},
        {"a bare percent", "pdsi/pdsi/0.0.0%", 404},
        {"the store itself", "pdsi/", 404},
        {"no store", "", 404},
        {"another store", "pdsi-maps/.zgroup", 404},
        {"a long key", "pdsi/" + std::string(5000, '0'), 404},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Reply reply = fetch(server_->base + "/" + row.target);
        EXPECT_EQ(reply.status, row.status) << reply.body.substr(0, 200);
        if (row.status == 404) {
            EXPECT_LT(reply.body.size(), 200u);
        }
    }
    // Sent as it stands: a client would resolve the dots itself.
    const int port = std::stoi(server_->base.substr(server_->base.rfind(':') + 1));
    EXPECT_EQ(serve_test::raw_exchange(port, "GET /zarr/pdsi/../pdsi/.zgroup HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                             "Connection: close\r\n\r\n")
                  .rfind("HTTP/1.1 404", 0),
              0u);
    EXPECT_EQ(fetch(server_->base + "/pdsi/.zgroup", {}, "POST").status, 405);
    EXPECT_NE(fetch(server_->base.substr(0, server_->base.size() - 5) + "/metrics")
                  .body.find("pdsi_http_requests_total{route=\"/zarr\",code=\"404\"}"),
              std::string::npos);
}

TEST_F(ZarrServer, HeadersCachingAndHead) {
    struct Row {
        const char* key;
        const char* type;
    };
    const Row rows[] = {{"pdsi/.zmetadata", "application/json"},
                        {"pdsi-series/pdsi/.zattrs", "application/json"},
                        {"pdsi/time/0", "application/octet-stream"},
                        {"pdsi/pdsi/3.0.0", "application/octet-stream"},
                        {"pdsi-series/pdsi/0.6.8", "application/octet-stream"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        const std::string url = server_->base + "/" + row.key;
        const Reply head = fetch(url, {}, "HEAD");  // before any GET: HEAD makes the chunk too
        const Reply reply = fetch(url);
        ASSERT_EQ(reply.status, 200);
        EXPECT_EQ(reply.header("content-type"), row.type);
        EXPECT_EQ(reply.header("cache-control"), "public, max-age=86400");
        EXPECT_FALSE(reply.header("last-modified").empty());
        EXPECT_TRUE(head.body.empty());
        EXPECT_EQ(head.header("content-length"), std::to_string(reply.body.size()));
        const std::string etag = reply.header("etag");
        ASSERT_EQ(etag.front(), '"');
        EXPECT_EQ(head.header("etag"), etag);
        EXPECT_EQ(fetch(url).body, reply.body) << "the same bytes for the same tag";
        const Reply again = fetch(url, {"If-None-Match: \"x\", " + etag});
        EXPECT_EQ(again.status, 304);
        EXPECT_EQ(again.header("etag"), etag);
    }
    EXPECT_NE(fetch(server_->base + "/pdsi/pdsi/0.0.0").header("etag"),
              fetch(server_->base + "/pdsi-series/pdsi/0.0.0").header("etag"));
}

// xarray (with and without dask's own chunks) and zarr on both stores: a
// table of cells' whole series and months' maps against `pdsi extract`'s
// text; coordinates and attributes against the NetCDF copy.
TEST_F(ZarrServer, XarrayAndZarrGiveTheCommandsValues) {
    struct Extract {
        const char* years;
        const char* lat;
        const char* lon;
    };
    const Extract runs[] = {
        {"1933:1933", "-90:90", "-180:180"},                // two months' maps, and the NetCDF copy
        {"1850:2010", "36.25:36.25", "-98.75:-98.75"},      // a cell's series
        {"1850:2010", "76.25:76.25", "178.75:178.75"},      // in the padded edge of the series' chunks
        {"1850:2010", "-58.75:-58.75", "-178.75:-178.75"},  // the first corner
    };
    std::string folders;
    int n = 0;
    for (const Extract& e : runs) {
        const fs::path out = *dir_ / ("text" + std::to_string(n++));
        const auto run = testsupport::run_pdsi(
            dir_->path(), {"extract", "--grid", (*dir_ / "grid.txt").string(), "--out", out.string(), "-q", "--years",
                           e.years, std::string("--lat=") + e.lat, std::string("--lon=") + e.lon, "--max-missing",
                           "1.01", "--format", "netcdf"});
        ASSERT_EQ(run.status, 0) << run.err;
        folders += " '" + out.string() + "'";
    }
    const std::string script = testsupport::source_path("zarr/clients.py").string();
    const Output out = shell(kPython + " " + script + " '" + server_->base + "' '" +
                             (*dir_ / "text0" / "MonthlyPDSI.nc").string() + "'" + folders);
    EXPECT_EQ(out.status, 0) << out.text;
    EXPECT_NE(out.text.find("pdsi-series zarr: 3 series, 2 maps"), std::string::npos) << out.text;
}

TEST_F(ZarrServer, GdalReadsTheStoreAndItsCoordinateSystem) {
    for (const char* store : {"pdsi", "pdsi-series"}) {
        SCOPED_TRACE(store);
        const std::string group = "ZARR:\"/vsicurl/" + server_->base + "/" + store + "\"";
        const Output arrays = shell("gdalinfo '" + group + "'");
        ASSERT_EQ(arrays.status, 0) << arrays.text;
        EXPECT_NE(arrays.text.find(group + ":/pdsi"), std::string::npos) << arrays.text;
        const std::string name = "'" + group + ":/pdsi:1000'";
        const Output info = shell("gdalinfo " + name);
        ASSERT_EQ(info.status, 0) << info.text;
        for (const char* line : {"Size is 144, 55", "ID[\"EPSG\",4326]", "NoData Value=-99.9"})
            EXPECT_NE(info.text.find(line), std::string::npos) << line << "\n" << info.text;
        const Output value = shell("gdallocationinfo -valonly " + name + " 32 38");
        ASSERT_EQ(value.status, 0) << value.text;
        char want[16];
        std::snprintf(want, sizeof want, "%.2f", static_cast<double>(grid_value(33, 39, 1001)));
        EXPECT_EQ(std::strtof(value.text.c_str(), nullptr), std::strtof(want, nullptr)) << value.text;
    }
}

TEST_F(ZarrServer, DamagedGridsServeTheirMetadataAndFailWhereTheDamageIs) {
    // Cut short: 36 months.
    tools::write_grid_file((*dir_ / "short.txt").string(), 36, grid_value);
    const Running damaged(*dir_ / "short.txt", *dir_ / "tmp");
    // Named without its folder, as the server names it (the command runs there).
    const auto command = testsupport::run_pdsi(
        dir_->path(), {"extract", "--grid", "short.txt", "--out", (*dir_ / "damaged").string(),
                       "-q", "--years", "1850:1853", "--lat=-58.75:-38.75", "--lon=-178.75:-141.25", "--max-missing", "1.01"});
    ASSERT_EQ(command.status, 1);
    const std::string prefix = "pdsi extract: error: ";
    ASSERT_EQ(command.err.rfind(prefix, 0), 0u) << command.err;
    const std::string message = command.err.substr(prefix.size());
    struct Row {
        const char* key;
        long status;
        bool commands_message;  // the same years as the command's run
    };
    const Row rows[] = {{"pdsi/.zmetadata", 200, false},   {"pdsi-series/pdsi/.zarray", 200, false},
                        {"pdsi/time/0", 200, false},       {"pdsi/pdsi/2.0.0", 200, false},
                        {"pdsi/pdsi/3.0.0", 422, true},    {"pdsi-series/pdsi/0.0.0", 422, false},
                        {"pdsi/pdsi/161.0.0", 404, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        const Reply reply = fetch(damaged.base + "/" + row.key);
        EXPECT_EQ(reply.status, row.status) << reply.body.substr(0, 300);
        if (row.commands_message) {
            EXPECT_EQ(reply.body, message) << "the command's own words";
        }
    }
    EXPECT_EQ(fetch(damaged.base + "/pdsi/pdsi/3.0.0").status, 422) << "a failure is not kept";
}

// The route alone, without the server's own checks after it: a chunk made
// once is held, a tag that matches is a 304 already, and a chunk of a
// damaged grid is a job's work.
TEST_F(ZarrServer, TheRouteHoldsChunksAndAnswersTagsItself) {
    tools::write_grid_file((*dir_ / "short2.txt").string(), 36, grid_value);
    const Running damaged(*dir_ / "short2.txt", *dir_ / "tmp");
    auto route = [](serve::App& app, const std::string& key, const std::string& tag = "") {
        serve::HttpRequest request;
        request.method = "GET";
        request.path = "/zarr/" + key;
        request.if_none_match = tag;
        return app.route(request);
    };
    const serve::Routed first = route(*server_->app, "pdsi/pdsi/7.0.0");
    ASSERT_TRUE(first.response && first.response->body);
    const serve::Routed again = route(*server_->app, "pdsi/pdsi/7.0.0");
    ASSERT_TRUE(again.response);
    EXPECT_EQ(again.response->body.get(), first.response->body.get()) << "made once, then held";
    const std::string* etag = first.response->header("ETag");
    ASSERT_TRUE(etag);
    const serve::Routed tagged = route(*server_->app, "pdsi/pdsi/7.0.0", *etag);
    ASSERT_TRUE(tagged.response);
    EXPECT_EQ(tagged.response->status, 304);
    const serve::Routed job = route(*damaged.app, "pdsi/pdsi/3.0.0");
    EXPECT_TRUE(job.long_job && job.work && !job.response);
    const serve::Routed metadata = route(*damaged.app, "pdsi/.zmetadata");
    EXPECT_TRUE(metadata.response && !metadata.long_job);
}

}  // namespace
