// The server on a socket, through a real client: every file equals what
// `pdsi extract` writes for the same request, on sound and damaged grids;
// bad requests get their status and one line naming the parameter.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>
#include <map>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serve/app.h"
#include "serve/grid_values.h"
#include "serve/http_server.h"
#include "serve/loaded_grid.h"
#include "tests/cli/grid.h"
#include "tests/serve/gunzip.h"
#include "tests/serve/http_client.h"
#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;
using serve_test::fetch;
using serve_test::Reply;
using testsupport::read_file;

const char* const kAllFiles[] = {"MonthlyPDSI.tsf",        "MonthlyPDSI.xy",     "MonthlyPDSI_col.tsf",
                                 "MonthlyPDSI_QC.tsf",     "MonthlyPDSI_QC_col.tsf", "MonthlyPDSI_QC.out",
                                 "MonthlyPDSI.csv",        "MonthlyPDSI.nc",     "MonthlyPDSI.tif",
                                 "MonthlyPDSI_report.html", "MonthlyPDSI_area.csv", "MonthlyPDSI_area.nc"};

// One server on one grid, in this process.
struct Running {
    std::unique_ptr<serve::LoadedGrid> grid;
    std::unique_ptr<serve::App> app;
    std::unique_ptr<serve::HttpServer> server;
    std::string base;

    Running(const fs::path& grid_path, const fs::path& temp, serve::ServerConfig config) {
        grid = serve::LoadedGrid::load(grid_path.string(), 2);
        app = std::make_unique<serve::App>(*grid, temp, config);
        const serve::Listener listener = serve::listen_on("127.0.0.1:0");
        server = std::make_unique<serve::HttpServer>(*app, listener, true);
        base = "http://127.0.0.1:" + std::to_string(listener.port);
    }
    ~Running() { server->drain(1); }
};

serve::ServerConfig config(int32_t queue = 4) {
    serve::ServerConfig c;
    c.threads = 2;
    c.jobs = 1;
    c.queue = queue;
    c.timeout_seconds = 120;
    c.cache_bytes = 16 << 20;
    c.job_threads = 2;
    return c;
}

// A request as query parameters and as the command's options.
struct Request {
    const char* name;
    const char* query;
    std::vector<std::string> options;
};

// A connection to the server at `base` written by hand, for what a client
// would not send; -1 when refused.
int connect_to(const std::string& base) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(base.substr(base.rfind(':') + 1))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

// What one read of `fd` brings, waiting up to `seconds`.
std::string receive(int fd, int seconds) {
    std::string answer(4096, '\0');
    timeval wait{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const ssize_t n = ::recv(fd, answer.data(), answer.size(), 0);
    answer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return answer;
}

std::string ncdump(const fs::path& path) {
    std::string text;
    if (std::FILE* p = ::popen(("ncdump " + path.string() + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
        ::pclose(p);
    }
    std::string kept;  // the history names when and how each was made
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.find(":history") == std::string::npos && line.rfind("netcdf ", 0) != 0) kept += line + "\n";
        at = end + 1;
    }
    return kept;
}


class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testsupport::TempDir;
        // The whole span: a sound grid is served from memory.
        tools::write_grid_file((*dir_ / "sound.txt").string(), tools::kMonths, cli_test::grid_value);
        tools::write_grid_file((*dir_ / "short.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
        fs::create_directories(*dir_ / "tmp");
        sound_ = new Running(*dir_ / "sound.txt", *dir_ / "tmp", config());
    }
    static void TearDownTestSuite() {
        delete sound_;
        delete dir_;
    }

    // Every file of the request from the server equals the command's.
    // Returns the command's exit status.
    static int expect_same_as_command(const Running& server, const fs::path& grid, const Request& r) {
        const fs::path out = *dir_ / "cmd" / r.name;
        // Named without its folder, as the server names it (the command runs there).
        std::vector<std::string> args{"extract", "--grid", grid.filename().string(), "--out", out.string(), "--quiet",
                                      "--format", "netcdf,csv", "--report", "--area"};
        args.insert(args.end(), r.options.begin(), r.options.end());
        const testsupport::RunResult command = testsupport::run_pdsi(dir_->path(), args);
        // Apart: a run of no cell has every file but this one.
        const testsupport::RunResult tif =
            testsupport::run_pdsi(dir_->path(), {"convert", out.string(), "--format", "geotiff", "-q"});
        const bool filled = std::string(r.query).find("fill=") != std::string::npos;
        for (const char* file : kAllFiles) {
            SCOPED_TRACE(std::string(r.name) + ": " + file);
            const bool stage_file = std::string(file).find("QC") != std::string::npos ||
                                    std::string(file) == "MonthlyPDSI_col.tsf";
            if (stage_file && !filled) continue;
            const Reply reply = fetch(server.base + "/extract/" + file + "?" + r.query);
            if (command.status == 0 && tif.status != 0 && std::string(file) == "MonthlyPDSI.tif") {
                EXPECT_NE(tif.err.find("kept no cell"), std::string::npos) << tif.err;
                EXPECT_EQ(reply.status, 422);
                EXPECT_NE(reply.body.find("no cell"), std::string::npos) << reply.body;
                continue;
            }
            if (command.status != 0) {
                EXPECT_EQ(reply.status, 422);
                EXPECT_EQ(fetch(server.base + "/extract/" + file + "?" + r.query, {"If-None-Match: *"}).status, 422)
                    << "a failure is no 304";
                const std::string prefix = "pdsi extract: error: ";
                EXPECT_EQ(command.err.rfind(prefix, 0), 0u) << command.err;
                EXPECT_EQ(reply.body, command.err.substr(prefix.size()));
                continue;
            }
            EXPECT_EQ(reply.status, 200) << reply.body;
            if (std::string(file).ends_with(".nc")) {
                const fs::path mine = *dir_ / "served" / r.name / file;
                fs::create_directories(mine.parent_path());
                testsupport::write_file(mine, reply.body);
                EXPECT_EQ(ncdump(mine), ncdump(out / file));
            } else {
                EXPECT_TRUE(reply.body == read_file(out / file)) << "differs from the command's " << file;
            }
        }
        return command.status;
    }

    static testsupport::TempDir* dir_;
    static Running* sound_;
};

testsupport::TempDir* ServerTest::dir_ = nullptr;
Running* ServerTest::sound_ = nullptr;

TEST_F(ServerTest, EveryFileEqualsTheCommands) {
    const Request rows[] = {
        {"one cell", "years=1990:1990&lat=36.25:36.25&lon=-98.75:-98.75&max_missing=0.5",
         {"--years", "1990:1990", "--lat=36.25:36.25", "--lon=-98.75:-98.75", "--max-missing", "0.5"}},
        {"coastline box", "years=1950:1960&lat=-60:-35&lon=10:40&max_missing=0.5",
         {"--years", "1950:1960", "--lat=-60:-35", "--lon=10:40", "--max-missing", "0.5"}},
        {"whole grid one year", "years=2000:2000&max_missing=0.5", {"--years", "2000:2000", "--max-missing", "0.5"}},
        {"bounds between mid-points", "years=1901:1910&lat=30:40&lon=-100:-90&max_missing=0",
         {"--years", "1901:1910", "--lat=30:40", "--lon=-100:-90", "--max-missing", "0"}},
        {"fraction 1.01", "years=1850:1852&lat=-20:0&lon=0:20&max_missing=1.01",
         {"--years", "1850:1852", "--lat=-20:0", "--lon=0:20", "--max-missing", "1.01"}},
        {"filled", "years=1981:2010&lat=31.25:41.25&lon=-98.75:-88.75&max_missing=.5&fill=1981:2010",
         {"--years", "1981:2010", "--lat=31.25:41.25", "--lon=-98.75:-88.75", "--max-missing", ".5", "--fill",
          "1981:2010"}},
        {"a lone cell stops the filling", "years=1990:1995&lat=36.25:36.25&lon=-96.25:-96.25&max_missing=0.5&fill=1990:1995",
         {"--years", "1990:1995", "--lat=36.25:36.25", "--lon=-96.25:-96.25", "--max-missing", "0.5", "--fill",
          "1990:1995"}},
        {"calibration not at the end", "years=1901:2000&lat=40:50&lon=0:10&max_missing=0.5&fill=1951:1970",
         {"--years", "1901:2000", "--lat=40:50", "--lon=0:10", "--max-missing", "0.5", "--fill", "1951:1970"}},
    };
    for (const Request& r : rows) expect_same_as_command(*sound_, *dir_ / "sound.txt", r);
}

TEST_F(ServerTest, DamagedGridsGiveTheCommandsOutcome) {
    // Cut short: 36 months. Broken: the same with a field of February
    // 1850 turned to letters.
    std::string text = read_file(*dir_ / "short.txt");
    size_t at = 0;
    for (int32_t line = 1; line < 1 + 56 + 1 + 30; ++line) at = text.find('\n', at) + 1;
    text.replace(at + 7 * 99 + 2, 3, "x.y");
    testsupport::write_file(*dir_ / "broken.txt", text);
    std::vector<int> statuses;
    for (const char* name : {"short.txt", "broken.txt"}) {
        SCOPED_TRACE(name);
        const Running server(*dir_ / name, *dir_ / "tmp", config());
        const Request rows[] = {
            {"inside the file", "years=1850:1852&lat=-58.75:-56.25&lon=-178.75:-176.25&max_missing=1.01",
             {"--years", "1850:1852", "--lat=-58.75:-56.25", "--lon=-178.75:-176.25", "--max-missing", "1.01"}},
            {"past its end", "years=1850:1860&lat=0:10&lon=0:10&max_missing=0.5",
             {"--years", "1850:1860", "--lat=0:10", "--lon=0:10", "--max-missing", "0.5"}},
            {"the whole grid", "years=1850:1851&max_missing=0.5&fill=1850:1851",
             {"--years", "1850:1851", "--max-missing", "0.5", "--fill", "1850:1851"}},
        };
        for (const Request& r : rows) statuses.push_back(expect_same_as_command(server, *dir_ / name, r));
    }
    EXPECT_EQ(statuses, (std::vector<int>{0, 1, 0, 0, 1, 1})) << "the rows meet the damage as meant";
}

TEST_F(ServerTest, BadRequestsNameWhatIsWrong) {
    struct Row {
        const char* name;
        const char* target;
        long status;
        const char* words;
    };
    const std::string q = "/extract/MonthlyPDSI.tsf?";
    const Row rows[] = {
        {"years missing", "max_missing=0.5", 400, "years: required"},
        {"fraction missing", "years=1900:1901", 400, "max_missing: required"},
        {"years twice", "years=1900:1901&years=1900:1901&max_missing=0.5", 400, "years: given more than once"},
        {"unknown parameter", "years=1900:1901&max_missing=0.5&colour=red", 400, "unknown parameter \"colour\""},
        {"empty", "years=1900:1901&max_missing=0.5&lat=", 400, "lat: empty"},
        {"not a number", "years=1900:1901&max_missing=0.5&lat=a:b", 400, "lat: \"a\" is not a number"},
        {"NaN", "years=1900:1901&max_missing=nan", 400, "max_missing: \"nan\" is not a finite"},
        {"1e39", "years=1900:1901&max_missing=1e39", 400, "max_missing: \"1e39\" is not a finite"},
        {"negative fraction", "years=1900:1901&max_missing=-1", 400, "max_missing: the fraction must not be negative"},
        {"year out of range", "years=1849:1901&max_missing=0.5", 400, "years: year 1849 is outside 1850-2010"},
        {"no colon", "years=1900:1901&max_missing=0.5&lon=10", 400, "lon: \"10\" is not LOW:HIGH"},
        {"inverted after the clamps", "years=1900:1901&max_missing=0.5&lat=80:77", 400,
         "lat: the south bound is above the north bound"},
        {"only the bound that moved is named", "years=1900:1901&max_missing=0.5&lat=-90:-89", 400,
         "lat: the south bound is above the north bound after moving the south bound onto the grid's southernmost "
         "mid-point (-58.75 > -89.00)"},
        {"a longitude counted to 360", "years=1900:1901&max_missing=0.5&lon=261.25:270", 400,
         "lon: the west bound is beyond 180: longitudes run from -180 to 180; for 261.25 write -98.75"},
        {"calibration outside the span", "years=1900:1901&max_missing=0.5&fill=1890:1901", 400,
         "fill: the calibration period 1890:1901 lies outside the span 1900:1901"},
        {"NUL in a value", "years=1900:1901%00&max_missing=0.5", 400, "years: "},
        {"dashes", "--years=1850:2010&max_missing=0.5", 400, "unknown parameter \"--years\""},
        {"plus is a space", "years=1900:1901&max_missing=0.5&lat=+10:20", 400, "lat: \" 10\" is not a number"},
        {"a space in a name", "years=1900:1901&max_missing=0.5&my+colour=red", 400, "unknown parameter \"my colour\""},
        {"bytes beyond ASCII in a name", "years=1900:1901&max_missing=0.5&caf%C3%A9~=1", 400, "unknown parameter \"caf??~\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Reply reply = fetch(sound_->base + q + row.target);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_NE(reply.body.find(row.words), std::string::npos) << reply.body;
        EXPECT_EQ(reply.body.find('\n'), reply.body.size() - 1) << "one line";
        EXPECT_EQ(reply.header("content-type"), "text/plain; charset=utf-8");
    }
    const Row others[] = {
        {"stage file without fill", "/extract/MonthlyPDSI_QC.tsf?years=1900:1901&max_missing=0.5", 400, "fill: "},
        {"unknown file", "/extract/passwd?years=1900:1901&max_missing=0.5", 404, "not found"},
        {"NUL in the file name", "/extract/MonthlyPDSI.tsf%00.txt?years=1900:1901&max_missing=0.5", 400, "NUL"},
        {"escapes at the hex digits' limits", "/extract/%39%6a%4A%2f%2F", 404, "not found: 9jJ//"},
        {"dot dot", "/extract/../../etc/passwd", 404, "not found"},
        {"other path", "/etc/passwd", 404, "not found"},
    };
    for (const Row& row : others) {
        SCOPED_TRACE(row.name);
        const Reply reply = fetch(sound_->base + row.target);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_NE(reply.body.find(row.words), std::string::npos) << reply.body;
    }
    for (const std::string& target : {q + "years=1900:1901&max_missing=0.5", std::string("/extract/MonthlyPDSI.tsf?years=1900:1901"),
                                     std::string("/extract?years=1900:1901"), std::string("/health"), std::string("/metrics"),
                                     std::string("/wms?SERVICE=WMS"),
                                     std::string("/dap/pdsi.das"), std::string("/zarr/pdsi/.zgroup"), std::string("/")}) {
        const Reply post = fetch(sound_->base + target, {}, "POST");
        EXPECT_EQ(post.status, 405) << target;
        EXPECT_EQ(post.header("allow"), "GET, HEAD") << target;
    }
    EXPECT_EQ(fetch(sound_->base + "/metrics").header("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    // The server answers normally after all of that.
    EXPECT_EQ(fetch(sound_->base + "/health").body, "ok\n");
}

TEST_F(ServerTest, CachingHeadAndGzip) {
    const std::string url = sound_->base + "/extract/MonthlyPDSI.tsf?years=1901:1950&lat=0:20&lon=0:20&max_missing=0.5";
    const Reply plain = fetch(url);
    ASSERT_EQ(plain.status, 200);
    const std::string etag = plain.header("etag");
    EXPECT_EQ(etag.front(), '"');
    EXPECT_EQ(plain.header("cache-control"), "public, max-age=86400");
    EXPECT_EQ(plain.header("access-control-allow-origin"), "*");
    EXPECT_EQ(plain.header("content-disposition"), "attachment; filename=\"MonthlyPDSI.tsf\"");
    EXPECT_FALSE(plain.header("last-modified").empty());
    const Reply cached = fetch(url);
    EXPECT_EQ(cached.body, plain.body);
    for (const char* name : {"content-type", "content-disposition", "etag", "cache-control", "last-modified"})
        EXPECT_EQ(cached.header(name), plain.header(name)) << name << " once cached";

    struct Row {
        const char* name;
        std::vector<std::string> headers;
        std::string method;
        long status;
    };
    const Row rows[] = {
        {"tag matches", {"If-None-Match: " + etag}, "GET", 304},
        {"tag in a list", {"If-None-Match: \"x\", " + etag}, "GET", 304},
        {"weak form matches", {"If-None-Match: W/" + etag}, "GET", 304},
        {"star", {"If-None-Match: *"}, "GET", 304},
        {"other tag", {"If-None-Match: \"0000\""}, "GET", 200},
        {"HEAD", {}, "HEAD", 200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Reply reply = fetch(url, row.headers, row.method);
        EXPECT_EQ(reply.status, row.status);
        if (row.status == 304 || row.method == "HEAD") {
            EXPECT_TRUE(reply.body.empty());
        }
        if (row.method == "HEAD") {
            EXPECT_EQ(reply.header("content-length"), std::to_string(plain.body.size()));
        }
        if (row.status == 304) {
            EXPECT_EQ(reply.header("etag"), etag);
        }
    }
    // One not made before is made, then answered 304 all the same.
    const Reply fresh = fetch(sound_->base + "/extract/MonthlyPDSI.tsf?years=1902:1950&lat=0:20&lon=0:20&max_missing=0.5",
                              {"If-None-Match: *"});
    EXPECT_EQ(fresh.status, 304);
    EXPECT_TRUE(fresh.body.empty());
    const Reply zipped = fetch(url, {"Accept-Encoding: gzip, deflate"});
    EXPECT_EQ(zipped.header("content-encoding"), "gzip");
    EXPECT_EQ(zipped.header("vary"), "Accept-Encoding");
    EXPECT_EQ(zipped.header("etag"), etag.substr(0, etag.size() - 1) + "-gzip\"");
    EXPECT_EQ(serve_test::gunzip(zipped.body), plain.body);
    const std::pair<const char*, const char*> encodings[] = {
        {"gzip;q=0", ""}, {"gzip;Q=0", ""}, {"gzip;q=0.5", "gzip"}, {"deflate", ""}, {"x-gzip", "gzip"}, {"*", "gzip"},
    };
    for (const auto& [accepted, used] : encodings)
        EXPECT_EQ(fetch(url, {std::string("Accept-Encoding: ") + accepted}).header("content-encoding"), used) << accepted;
}

TEST_F(ServerTest, AFullQueueAnswers503) {
    const Running server(*dir_ / "short.txt", *dir_ / "tmp", config(0));
    const std::string done = "?years=1850:1851&lat=0:10&lon=0:10&max_missing=0.5&fill=1850:1851";
    ASSERT_EQ(fetch(server.base + "/extract/MonthlyPDSI_QC.tsf" + done).status, 200);
    // The only worker's place, held (once the job above has let go of it).
    bool held = false;
    for (int k = 0; k < 500 && !(held = server.server->jobs().try_reserve()); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(held);
    // The files the job made on the way answer their own requests.
    EXPECT_EQ(fetch(server.base + "/extract/MonthlyPDSI.tsf" + done).status, 200);
    const Reply reply = fetch(server.base + "/extract/MonthlyPDSI_QC.tsf?years=1850:1852&lat=0:10&lon=0:10&max_missing=0.5&fill=1850:1851");
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.header("retry-after"), "5");
    EXPECT_NE(server.app->metrics.render(0).find("\npdsi_http_busy_refusals_total 1\n"), std::string::npos);
    EXPECT_EQ(server.server->answers().used(), 0u) << "the refused job's room given back";
    EXPECT_EQ(fetch(server.base + "/health").status, 200);
    // Past a million values (600 cells here) an extraction is a job too.
    const Running sound(*dir_ / "sound.txt", *dir_ / "tmp", config(0));
    ASSERT_TRUE(sound.server->jobs().try_reserve());
    for (const auto& [years, status] : {std::pair{"1850:1987", 200}, std::pair{"1850:1988", 503}})
        EXPECT_EQ(fetch(sound.base + "/extract?lat=-30:42&lon=0:47&max_missing=0.5&years=" + years).status, status)
            << years;
}

TEST_F(ServerTest, AJobThatWaitedPastItsTimeAsksToComeBack) {
    serve::ServerConfig c = config();
    c.timeout_seconds = 1;
    const Running server(*dir_ / "short.txt", *dir_ / "tmp", c);
    // The only worker, held for longer than the request may wait.
    std::promise<void> started;
    ASSERT_TRUE(server.server->jobs().try_reserve());
    server.server->jobs().push([&started] {
        started.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    });
    started.get_future().wait();
    const Reply reply =
        fetch(server.base + "/extract/MonthlyPDSI_QC.tsf?years=1850:1851&lat=0:10&lon=0:10&max_missing=0.5&fill=1850:1851");
    EXPECT_EQ(reply.status, 503) << reply.body;
    EXPECT_NE(reply.body.find("waited longer than 1 s"), std::string::npos) << reply.body;
    EXPECT_EQ(reply.header("retry-after"), "5");
}

// The time a request may take counts from its first line: headers sent
// slowly use it up as the wait in the queue does.
TEST_F(ServerTest, TheTimeCountsFromTheRequestsFirstLine) {
    serve::ServerConfig c = config();
    c.timeout_seconds = 2;
    const Running server(*dir_ / "short.txt", *dir_ / "tmp", c);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(server.server->jobs().try_reserve());
    server.server->jobs().push([released] { released.wait(); });  // the only worker, held
    const int fd = connect_to(server.base);
    ASSERT_GE(fd, 0);
    auto say = [fd](const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); };
    say("GET /extract/MonthlyPDSI_QC.tsf?years=1850:1851&lat=0:10&lon=0:10&max_missing=0.5&fill=1850:1851 HTTP/1.1\r\n");
    for (int k = 0; k < 5; ++k) {  // 1.5 s of headers
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        say("X-Slow: " + std::to_string(k) + "\r\n");
    }
    say("Host: x\r\n\r\n");
    for (int k = 0; k < 200 && server.app->metrics.jobs_queued.load() == 0; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // 2.5 s in all; 1 s since the last header
    release.set_value();
    const std::string answer = receive(fd, 10);
    ::close(fd);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 503");
    EXPECT_NE(answer.find("waited longer than 2 s"), std::string::npos) << answer;
}

// A client that leaves while its job waits: the job is dropped when its
// turn comes, and counted with status 0.
TEST_F(ServerTest, AQueuedJobOfAClientGoneIsDropped) {
    const Running server(*dir_ / "short.txt", *dir_ / "tmp", config(4));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(server.server->jobs().try_reserve());
    server.server->jobs().push([released] { released.wait(); });  // the only worker, held
    {
        const int fd = connect_to(server.base);
        ASSERT_GE(fd, 0);
        const std::string request =
            "GET /extract/MonthlyPDSI_QC.tsf?years=1850:1852&lat=0:20&lon=0:20&max_missing=0.5&fill=1850:1852"
            " HTTP/1.1\r\nHost: x\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        for (int k = 0; k < 200 && server.app->metrics.jobs_queued.load() == 0; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(fd);
    }
    release.set_value();
    const std::string gone = "pdsi_http_requests_total{route=\"/extract/{file}\",code=\"0\"} 1";
    std::string metrics;
    for (int k = 0; k < 200 && metrics.find(gone) == std::string::npos; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        metrics = fetch(server.base + "/metrics").body;
    }
    EXPECT_NE(metrics.find(gone), std::string::npos) << metrics;
}

// Made once, an answer and the files made with it are served from the cache,
// plain and compressed; compressing a large one is a job of its own.
TEST_F(ServerTest, AnAnswerMadeOnceIsServedFromTheCache) {
    serve::App& app = *sound_->app;
    struct Step {
        const char* file;
        const char* box;  // lat and lon
        bool gzip;
        bool made;  // a job makes it, else it is answered at once
        bool long_job;
    };
    const Step steps[] = {
        {"MonthlyPDSI.tsf", "0:25", false, true, false}, {"MonthlyPDSI.tsf", "0:25", false, false, false},
        {"MonthlyPDSI.xy", "0:25", false, false, false}, {"MonthlyPDSI.tsf", "0:25", true, true, true},
        {"MonthlyPDSI.tsf", "0:25", true, false, false}, {"MonthlyPDSI.xy", "0:25", true, false, false},
        {"MonthlyPDSI.xy", "0:25", true, false, false},  {"MonthlyPDSI.tsf", "30:55", true, true, false},
        {"MonthlyPDSI.tsf", "30:55", true, false, false}, {"MonthlyPDSI.tsf", "30:55", false, false, false},
        {"", "0:25", false, true, false},                {"", "0:25", false, false, false},
    };
    std::map<std::string, std::string> bodies;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.file) + " " + step.box + (step.gzip ? " gzip" : ""));
        serve::HttpRequest request;
        request.method = "GET";
        request.path = *step.file ? std::string("/extract/") + step.file : "/extract";
        request.args = {{"years", "1850:2010"}, {"lat", step.box}, {"lon", step.box}, {"max_missing", "1"}};
        if (step.gzip) request.accept_encoding = "gzip";
        const serve::Routed routed = app.route(request);
        EXPECT_EQ(static_cast<bool>(routed.work), step.made);
        EXPECT_EQ(routed.response.has_value(), !step.made);
        EXPECT_EQ(routed.long_job, step.long_job);
        const serve::Response response = step.made ? app.run(routed, app.budget(routed.long_job)) : *routed.response;
        ASSERT_EQ(response.status, 200);
        const std::string body = step.gzip ? serve_test::gunzip(*response.body) : *response.body;
        if (std::string(step.file) == "MonthlyPDSI.tsf") { ASSERT_GT(body.size(), size_t{1} << 20); }
        // What making it holds: 121 cells of 1932 months, 32 bytes a value.
        if (step.made) { EXPECT_EQ(routed.memory, step.long_job ? body.size() : size_t{121} * 1932 * 32); }
        std::string& first = bodies[std::string(step.file) + step.box];
        if (first.empty()) first = body;
        EXPECT_TRUE(body == first) << "the same bytes, made or kept, plain or compressed";
    }
}

// The metrics count a refusal under the route it was meant for.
TEST_F(ServerTest, RefusalsKeepTheirRoute) {
    struct Row {
        const char* path;
        const char* route;
        int status;
    };
    for (const Row& row : {Row{"/extract", "/extract", 400}, Row{"/extract/", "/extract", 400},
                           Row{"/extract/MonthlyPDSI.tsf", "/extract/{file}", 400}, Row{"/extract/other", "other", 404},
                           Row{"/dap/other", "/dap", 404}, Row{"/wms", "/wms", 400}, Row{"/zarr/other", "/zarr", 404}}) {
        serve::HttpRequest request;
        request.method = "GET";
        request.path = row.path;
        request.args = {{"years", "x"}};
        const serve::Routed routed = sound_->app->route(request);
        EXPECT_EQ(routed.route, row.route) << row.path;
        ASSERT_TRUE(routed.response) << row.path;
        EXPECT_EQ(routed.response->status, row.status) << row.path;
    }
}

// The map service's route alone: what each request's answer is, where it
// is made, that it is made once, and a damaged grid's refusal.
TEST_F(ServerTest, TheMapServiceRoute) {
    auto wms = [](serve::App& app, const std::string& query, const std::string& host, const std::string& encoding) {
        serve::HttpRequest request;
        request.method = "GET";
        request.path = "/wms";
        request.host = host;
        request.accept_encoding = encoding;
        for (size_t at = 0; at < query.size();) {
            const size_t amp = std::min(query.find('&', at), query.size());
            const std::string pair = query.substr(at, amp - at);
            request.args.emplace_back(pair.substr(0, pair.find('=')), pair.substr(pair.find('=') + 1));
            at = amp + 1;
        }
        return app.route(request);
    };
    const std::string caps = "SERVICE=WMS&REQUEST=GetCapabilities&VERSION=";
    const std::string info =
        "SERVICE=WMS&REQUEST=GetFeatureInfo&VERSION=1.3.0&LAYERS=pdsi&QUERY_LAYERS=pdsi&STYLES=&CRS=CRS:84&"
        "BBOX=-180,-60,180,77.5&WIDTH=144&HEIGHT=55&I=70&J=20&TIME=1990-06&INFO_FORMAT=";
    const std::string map = "SERVICE=WMS&REQUEST=GetMap&VERSION=1.3.0&LAYERS=pdsi&STYLES=&CRS=CRS:84&"
                            "BBOX=-180,-60,180,77.5&FORMAT=image/png&TIME=1990-06&";
    struct Row {
        const char* name;
        std::string query;
        const char* host;
        const char* type;
        bool asks_gzip;
        bool zipped;
        bool long_job;
    };
    const Row rows[] = {
        {"capabilities 1.3.0", caps + "1.3.0", "h1:8080", "text/xml; charset=utf-8", false, false, false},
        {"the same for another host", caps + "1.3.0", "h2:9090", "text/xml; charset=utf-8", false, false, false},
        {"capabilities 1.1.1", caps + "1.1.1", "h1:8080", "application/vnd.ogc.wms_xml; charset=utf-8", true, true, false},
        {"information as text", info + "text/plain", "h1:8080", "text/plain; charset=utf-8", true, true, false},
        {"information as JSON", info + "application/json", "h1:8080", "application/json", false, false, false},
        {"a map at the limit", map + "WIDTH=2048&HEIGHT=2048", "h1:8080", "image/png", true, false, false},
        {"a map past it", map + "WIDTH=2049&HEIGHT=2048", "h1:8080", "image/png", false, false, true},
    };
    serve::App app(*sound_->grid, *dir_ / "tmp", config());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string encoding = row.asks_gzip ? "gzip" : "";
        const serve::Routed routed = wms(app, row.query, row.host, encoding);
        ASSERT_TRUE(routed.work && !routed.response);
        EXPECT_EQ(routed.long_job, row.long_job);
        const serve::Response made = app.run(routed, app.budget(routed.long_job));
        ASSERT_EQ(made.status, 200) << *made.body;
        EXPECT_EQ(*made.header("Content-Type"), row.type);
        EXPECT_EQ(made.header("Content-Encoding") != nullptr, row.zipped);
        const std::string body = row.zipped ? serve_test::gunzip(*made.body) : *made.body;
        if (row.query.starts_with(caps)) {
            EXPECT_NE(body.find(std::string("http://") + row.host + "/wms"), std::string::npos);
        }
        const serve::Routed again = wms(app, row.query, row.host, encoding);
        EXPECT_TRUE(again.response && !again.work) << "made once, then held";
    }
    tools::write_grid_file((*dir_ / "cut.txt").string(), 36, cli_test::grid_value);
    const auto cut = serve::LoadedGrid::load((*dir_ / "cut.txt").string(), 1);
    serve::App damaged(*cut, *dir_ / "tmp", config());
    const serve::Routed refused = wms(damaged, map + "WIDTH=64&HEIGHT=64", "h1:8080", "");
    ASSERT_TRUE(refused.response);
    EXPECT_EQ(refused.response->status, 422);
}

// A read of a damaged grid's copy, for the OPeNDAP field and the Zarr
// chunks, stops at the server's stop and past the request's time.
TEST_F(ServerTest, AReadOfADamagedGridStops) {
    tools::write_grid_file((*dir_ / "cut-read.txt").string(), 36, cli_test::grid_value);
    const auto cut = serve::LoadedGrid::load((*dir_ / "cut-read.txt").string(), 1);
    struct Row {
        bool stopping;
        int status;
        const char* message;
    };
    for (const Row& row : {Row{true, 503, "the server is stopping; try again"},
                           Row{false, 504, "the request took longer than 7 s and was stopped"}}) {
        std::atomic<bool> stopping{row.stopping};
        serve::Budget budget;
        budget.deadline = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        budget.timeout_seconds = 7;
        budget.cancelled = &stopping;
        const serve::GridValues values(*cut, budget);
        dap::Slab slab;
        slab.stop = {11, 3, 3};
        std::vector<float> out(slab.size());
        try {
            values.read(slab, out.data());
            ADD_FAILURE() << "read past its time";
        } catch (const dap::Failure& failure) {
            EXPECT_EQ(failure.status, row.status);
            EXPECT_EQ(failure.message, row.message);
        }
    }
}

// A job's failure keeps its status and words; an internal one keeps its
// detail for the log.
TEST_F(ServerTest, WorkFailuresAnswerWithTheirStatus) {
    struct Row {
        int thrown;
        int status;
        const char* body;
    };
    for (const Row& row : {Row{400, 400, "why\n"}, Row{422, 422, "why\n"}, Row{500, 500, "internal error\n"},
                           Row{502, 500, "internal error\n"}, Row{503, 503, "why\n"}, Row{504, 504, "why\n"},
                           Row{507, 507, "why\n"}}) {
        SCOPED_TRACE(row.thrown);
        serve::Routed routed;
        routed.work = [&](const serve::Budget&) -> serve::Response { throw serve::HttpError{row.thrown, "why"}; };
        testing::internal::CaptureStderr();
        const serve::Response answer = sound_->app->run(routed, sound_->app->budget(false));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(*answer.body, row.body);
        EXPECT_EQ(log, row.status == 500 ? "pdsi serve: internal error: why\n" : "");
    }
}

// Work under way ends at the server's stop with a 503, past the
// request's time with a 504, made at once or by a job.
TEST_F(ServerTest, WorkAtTheStopOrPastItsTimeEnds) {
    struct Row {
        bool stopping;
        int32_t timeout;
        int status;
        const char* body;
    };
    for (const Row& row : {Row{true, 120, 503, "the server is stopping; try again\n"},
                           Row{false, 0, 504, "the request took longer than 0 s and was stopped\n"}}) {
        for (const bool long_job : {false, true}) {
            SCOPED_TRACE(std::to_string(row.status) + (long_job ? " job" : " at once"));
            serve::ServerConfig c = config();
            c.timeout_seconds = row.timeout;
            serve::App app(*sound_->grid, *dir_ / "tmp", c);
            app.cancelled = row.stopping;
            serve::HttpRequest request;
            request.method = "GET";
            request.path = "/extract/MonthlyPDSI.tsf";
            request.args = {{"years", "1850:1900"}, {"max_missing", "1"}};
            const serve::Routed routed = app.route(request);
            ASSERT_TRUE(routed.work);
            const serve::Response answer = app.run(routed, app.budget(long_job));
            EXPECT_EQ(answer.status, row.status);
            EXPECT_EQ(*answer.body, row.body);
        }
    }
}

// A stop waits its time for work in flight, then turns away what is still
// queued; meanwhile /health says it is draining, and at its end the
// connections left open are closed.
TEST_F(ServerTest, TheStopWaitsThenTurnsQueuedWorkAway) {
    const struct {
        int32_t wait_seconds;
        int release_ms;  // the queued job's worker freed after
        long status;
    } rows[] = {{1, 1500, 503}, {3, 500, 200}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wait_seconds);
        const Running server(*dir_ / "short.txt", *dir_ / "tmp", config(4));
        const int idle = connect_to(server.base);  // open before the stop
        ASSERT_GE(idle, 0);
        auto health = [idle] {
            const std::string request = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
            ::send(idle, request.data(), request.size(), MSG_NOSIGNAL);
            return receive(idle, 3);
        };
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        ASSERT_TRUE(server.server->jobs().try_reserve());
        server.server->jobs().push([released] { released.wait(); });  // the only worker, held
        auto reply = std::async(std::launch::async, [&server] {
            return fetch(server.base +
                         "/extract/MonthlyPDSI_QC.tsf?years=1850:1851&lat=0:10&lon=0:10&max_missing=0.5&fill=1850:1851");
        });
        const auto& m = server.app->metrics;
        for (int k = 0; k < 500 && !(m.jobs_running.load() == 1 && m.jobs_queued.load() == 1); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        auto drained = std::async(std::launch::async, [&server, &row] { return server.server->drain(row.wait_seconds); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::string during = health();
        EXPECT_EQ(during.substr(0, 12), "HTTP/1.1 503") << during;
        EXPECT_TRUE(during.ends_with("draining\n")) << during;
        std::this_thread::sleep_for(std::chrono::milliseconds(row.release_ms - 200));
        release.set_value();
        const Reply answer = reply.get();
        EXPECT_EQ(answer.status, row.status);
        if (row.status == 503) {
            EXPECT_EQ(answer.body, "the server is stopping; try again\n");
        }
        EXPECT_TRUE(drained.get());
        EXPECT_EQ(health(), "") << "a connection left open outlived the stop";
        ::close(idle);
        EXPECT_TRUE(server.server->drain(1)) << "a second stop has nothing to wait for";
    }
}

TEST_F(ServerTest, ADrainedServerLetsGoOfItsPort) {
    const Running server(*dir_ / "short.txt", *dir_ / "tmp", config());
    const std::string port = server.base.substr(server.base.rfind(':') + 1);
    EXPECT_TRUE(server.server->drain(1));
    const serve::Listener again = serve::listen_on("127.0.0.1:" + port);  // as a restart would
    EXPECT_EQ(std::to_string(again.port), port);
    ::close(again.fd);
}

TEST_F(ServerTest, WorkPastItsDeadlineStopsAndLeavesNoFiles) {
    const fs::path temp = dir_->path() / "deadline";
    fs::create_directories(temp);
    const serve::Producer producer(*sound_->grid, temp);
    const serve::Fields filled{{"years", "1901:2000"}, {"lat", "0:20"}, {"max_missing", "0.5"}, {"fill", "1951:2000"}};
    const serve::Fields plain{{"years", "1901:2000"}, {"lat", "0:20"}, {"max_missing", "0.5"}};
    std::atomic<bool> stopping{false};
    struct Row {
        const char* name;
        const serve::Fields* args;
        serve::FileKind kind;
        std::chrono::seconds late;
        bool stop;
        int status;
    };
    for (const Row& row : {Row{"past the deadline", &filled, serve::FileKind::qc, std::chrono::seconds(1), false, 504},
                           Row{"the server stopping", &filled, serve::FileKind::qc, std::chrono::seconds(-60), true, 503},
                           Row{"an area past the deadline", &plain, serve::FileKind::area_csv, std::chrono::seconds(1),
                               false, 504},
                           Row{"a copy past the deadline", &plain, serve::FileKind::netcdf, std::chrono::seconds(1),
                               false, 504}}) {
        SCOPED_TRACE(row.name);
        stopping = row.stop;
        serve::Budget budget;
        budget.deadline = std::chrono::steady_clock::now() - row.late;
        budget.cancelled = &stopping;
        try {
            producer.make(serve::parse_extract_query(*row.args), row.kind, budget);
            ADD_FAILURE() << "no error";
        } catch (const serve::HttpError& error) {
            EXPECT_EQ(error.status, row.status) << error.message;
        }
        EXPECT_TRUE(fs::is_empty(temp));
    }
}

TEST_F(ServerTest, SummaryHealthAndMetrics) {
    const Reply summary = fetch(sound_->base + "/extract?years=1901:2000&lat=30:40&lon=-100:-90&max_missing=0.5&fill=1951:1970");
    ASSERT_EQ(summary.status, 200) << summary.body;
    EXPECT_EQ(summary.header("content-type"), "application/json");
    for (const char* words : {"\"cells_in_box\": 25", "\"columns\": 5", "\"rows\": 5", "\"south\": 31.25", "\"used\": [1981, 2000]",
                              "/extract/MonthlyPDSI_QC.out?years=1901:2000&lat=30:40&lon=-100:-90&max_missing=0.5&fill=1951:1970",
                              "/extract/MonthlyPDSI.tif?years=1901:2000&lat=30:40&lon=-100:-90&max_missing=0.5&fill=1951:1970"})
        EXPECT_NE(summary.body.find(words), std::string::npos) << words << "\n" << summary.body;
    // Every kept cell is filled.
    const auto number_after = [&summary](const std::string& key) {
        const size_t at = summary.body.find(key);
        return at == std::string::npos ? -1 : std::atoi(summary.body.c_str() + at + key.size());
    };
    EXPECT_GT(number_after("\"kept\": "), 0);
    EXPECT_EQ(number_after("\"filled\": "), number_after("\"kept\": ")) << summary.body;
    // Without gap filling, whole.
    const std::string query = "years=1901:1902&lat=30:35&lon=-100:-95&max_missing=0.5";
    const Reply plain = fetch(sound_->base + "/extract?" + query);
    EXPECT_EQ(plain.body, std::string(R"({
  "years": [1901, 1902],
  "bounds": {"south": 30.00, "north": 35.00, "west": -100.00, "east": -95.00},
  "box": {"south": 31.25, "north": 36.25, "west": -98.75, "east": -93.75, "columns": 3, "rows": 3, "first_column": 33, "first_row": 37},
  "max_missing": 0.5,
  "calibration": null,
  "cells_in_box": 9,
  "kept": 6,
  "filled": null,
  "files": [
    {"name": "MonthlyPDSI.tsf", "url": "/extract/MonthlyPDSI.tsf?)" + query + R"(", "bytes": 1642},
    {"name": "MonthlyPDSI.xy", "url": "/extract/MonthlyPDSI.xy?)" + query + R"(", "bytes": 180},
    {"name": "MonthlyPDSI.csv", "url": "/extract/MonthlyPDSI.csv?)" + query + R"(", "bytes": null},
    {"name": "MonthlyPDSI.nc", "url": "/extract/MonthlyPDSI.nc?)" + query + R"(", "bytes": null},
    {"name": "MonthlyPDSI.tif", "url": "/extract/MonthlyPDSI.tif?)" + query + R"(", "bytes": null},
    {"name": "MonthlyPDSI_report.html", "url": "/extract/MonthlyPDSI_report.html?)" + query + R"(", "bytes": null},
    {"name": "MonthlyPDSI_area.csv", "url": "/extract/MonthlyPDSI_area.csv?)" + query + R"(", "bytes": null},
    {"name": "MonthlyPDSI_area.nc", "url": "/extract/MonthlyPDSI_area.nc?)" + query + R"(", "bytes": null}
  ]
}
)"));
    // A request is counted once its answer has gone: wait for that.
    Reply metrics;
    for (int k = 0; k < 200; ++k) {
        metrics = fetch(sound_->base + "/metrics");
        if (metrics.body.find("route=\"/extract\",code=\"200\"") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const char* words : {"# TYPE pdsi_http_requests_total counter", "pdsi_http_requests_total{route=\"/extract\",code=\"200\"}",
                              "pdsi_http_request_duration_seconds_bucket{le=\"+Inf\"}", "pdsi_grid_load_seconds"})
        EXPECT_NE(metrics.body.find(words), std::string::npos) << words;
    const std::string file_bytes = "\npdsi_grid_file_bytes " + std::to_string(fs::file_size(*dir_ / "sound.txt")) + "\n";
    EXPECT_NE(metrics.body.find(file_bytes), std::string::npos) << file_bytes;
    const size_t load = metrics.body.find("\npdsi_grid_load_seconds ");
    ASSERT_NE(load, std::string::npos);
    EXPECT_GT(std::strtod(metrics.body.c_str() + load + 25, nullptr), 0.0);
}

}  // namespace
