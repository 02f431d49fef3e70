// What the server holds against clients that hold it: slow senders and
// readers, too many connections, hostile requests, a full temporary folder
// and a grid file taken away.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
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

// A connection written and read by hand.
class Socket {
public:
    // `buffer`: the receive buffer, small for a reader that takes little.
    explicit Socket(int port, int buffer = 0) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Socket() { ::close(fd_); }
    bool connected() const { return connected_; }
    // What has arrived, up to `max` bytes, without waiting.
    std::string read_some(size_t max) {
        std::string text(max, '\0');
        const ssize_t n = ::recv(fd_, text.data(), max, MSG_DONTWAIT);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return text;
    }
    void send(const std::string& bytes) { (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // What arrives until the server closes, or `seconds` pass.
    std::string read_until_closed(double seconds, bool& closed) {
        std::string text;
        closed = false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed = true;
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

private:
    int fd_;
    bool connected_ = false;
};

struct Server {
    std::unique_ptr<serve::LoadedGrid> grid;
    std::unique_ptr<serve::App> app;
    std::unique_ptr<serve::HttpServer> http;
    int port = 0;
    std::string base;
    Server(const fs::path& grid_path, const fs::path& temp, serve::ServerConfig config) {
        grid = serve::LoadedGrid::load(grid_path.string(), 1);
        app = std::make_unique<serve::App>(*grid, temp, config);
        const serve::Listener listener = serve::listen_on("127.0.0.1:0");
        http = std::make_unique<serve::HttpServer>(*app, listener, true);
        port = listener.port;
        base = "http://127.0.0.1:" + std::to_string(port);
    }
    ~Server() { http->drain(1); }
};

// Resident memory tells little under a sanitizer (shadow memory, freed
// blocks held back): there only the counts are checked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

// The process's resident bytes.
size_t resident() {
    long pages = 0, total = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &total, &pages) != 2) pages = 0;
        std::fclose(f);
    }
    return static_cast<size_t>(pages) * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

// A counter of the server's metrics page.
double metric(const serve::App& app, const std::string& counter) {
    const std::string page = app.metrics.render(0);
    const std::string name = "\n" + counter + " ";
    const size_t at = page.find(name);
    return at == std::string::npos ? -1 : std::stod(page.substr(at + name.size()));
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) out += text;
    return out;
}

// The in-flight gauge back to `want`, given a moment for the library.
int64_t settled_in_flight(const serve::App& app, int64_t want = 0) {
    for (int k = 0; k < 100 && app.metrics.in_flight.load() != want; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return app.metrics.in_flight.load();
}

serve::ServerConfig small(int32_t timeout, int32_t connections, int32_t per_client) {
    serve::ServerConfig c;
    c.threads = 2;
    c.jobs = 1;
    c.queue = 2;
    c.timeout_seconds = timeout;
    c.max_connections = connections;
    c.max_per_client = per_client;
    return c;
}

class LimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        tools::write_grid_file((dir_ / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
        fs::create_directories(dir_ / "tmp");
    }
    testsupport::TempDir dir_;
    const std::string health_ = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
};

TEST_F(LimitsTest, SlowSendersHoldNoThreadAndIdleOnesAreClosed) {
    const Server server(dir_ / "grid.txt", dir_ / "tmp", small(2, 1000, 1000));
    std::vector<std::unique_ptr<Socket>> slow;
    for (int k = 0; k < 200; ++k) slow.push_back(std::make_unique<Socket>(server.port));
    for (size_t at = 0; at < 5; ++at)
        for (auto& s : slow) s->send(health_.substr(at, 1));
    // Two connection threads, two hundred unfinished requests: a normal one
    // is answered all the same.
    EXPECT_EQ(fetch(server.base + "/health").status, 200);
    bool closed = false;
    slow.front()->read_until_closed(6.0, closed);
    EXPECT_TRUE(closed) << "an idle connection outlived the timeout";
}

TEST_F(LimitsTest, ASlowReaderIsDroppedAtTheTimeout) {
    tools::write_grid_file((dir_ / "whole.txt").string(), tools::kMonths, cli_test::grid_value);
    const Server server(dir_ / "whole.txt", dir_ / "tmp", small(1, 1000, 1000));
    Socket reader(server.port, 4096);
    // Nine columns of the whole span: 7 MB, more than the sockets hold, and
    // made on the connection's thread, so no deadline cuts it short.
    reader.send("GET /extract/MonthlyPDSI.tsf?years=1850:2010&lon=0:20&max_missing=1.01 HTTP/1.1\r\nHost: x\r\n\r\n");
    bool closed = false;
    std::this_thread::sleep_for(std::chrono::seconds(4));  // reads nothing for longer than the timeout
    const std::string got = reader.read_until_closed(5.0, closed);
    EXPECT_TRUE(closed);
    const size_t length_at = got.find("Content-Length: ");
    ASSERT_NE(length_at, std::string::npos) << got.substr(0, 300);
    const size_t length = std::stoul(got.substr(length_at + 16));
    EXPECT_GT(length, 6u << 20);
    EXPECT_LT(got.size() - got.find("\r\n\r\n") - 4, length) << "the whole answer waited for a stalled reader";
    EXPECT_EQ(fetch(server.base + "/health").status, 200);
}

TEST_F(LimitsTest, ConnectionLimitsHoldOffTheOneTooMany) {
    // Past the limit for one address the connection is closed; past the
    // limit in all it waits, unserved, until a place frees.
    struct Row {
        const char* name;
        int32_t total, per_client;
        bool closed;
    };
    for (const Row& row : {Row{"per client address", 100, 3, true}, Row{"in all", 3, 100, false}}) {
        SCOPED_TRACE(row.name);
        const Server server(dir_ / "grid.txt", dir_ / "tmp", small(10, row.total, row.per_client));
        std::vector<std::unique_ptr<Socket>> held;
        for (int k = 0; k < 3; ++k) {
            held.push_back(std::make_unique<Socket>(server.port));
            held.back()->send("GET /he");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Socket extra(server.port);
        extra.send(health_);
        bool closed = false;
        EXPECT_EQ(extra.read_until_closed(1.5, closed), "");
        EXPECT_EQ(closed, row.closed);
        held.clear();
        if (!row.closed) {
            EXPECT_EQ(extra.read_until_closed(3.0, closed).substr(0, 12), "HTTP/1.1 200");
        }
        // The freed places are seen a moment later.
        long status = 0;
        for (int k = 0; k < 40 && status != 200; ++k) {
            status = fetch(server.base + "/health").status;
            if (status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(status, 200);
    }
}

TEST_F(LimitsTest, HostileRequestsGetTheir4xxAndTheNextIsServed) {
    const Server server(dir_ / "grid.txt", dir_ / "tmp", small(10, 1000, 1000));
    const std::string ok = "years=1850:1851&max_missing=0.5";
    std::string commas(1 << 20, ',');
    std::string repeated;
    for (int k = 0; k < 10000; ++k) repeated += "years=1850:1851&";
    struct Row {
        const char* name;
        std::string target;
        const char* status;
    };
    const Row rows[] = {
        {"NUL in a name", "/extract/Monthly%00PDSI.tsf?" + ok, "400"},
        {"NUL in a value", "/extract/MonthlyPDSI.tsf?years=1850%00:1851&max_missing=0.5", "400"},
        {"dot dot", "/extract/../extract/MonthlyPDSI.tsf?" + ok, "404"},
        {"absolute path", "/etc/passwd", "404"},
        {"absolute form", "http://elsewhere/extract/MonthlyPDSI.tsf?" + ok, "200"},
        {"double encoded", "/extract/MonthlyPDSI%252Etsf?" + ok, "404"},
        {"CRLF in a value", "/extract/MonthlyPDSI.tsf?years=1850%0D%0A:1851&max_missing=0.5", "400"},
        {"a megabyte of commas", "/extract/MonthlyPDSI.tsf?" + commas, "414"},
        {"a parameter ten thousand times", "/extract/MonthlyPDSI.tsf?" + repeated, "414"},
        {"Unicode digits", "/extract/MonthlyPDSI.tsf?years=1850:1851&max_missing=%EF%BC%91", "400"},
        {"dashes", "/extract/MonthlyPDSI.tsf?--years=1850:1851&max_missing=0.5", "400"},
        {"a bare key", "/extract/MonthlyPDSI.tsf?years&max_missing=0.5", "400"},
        {"negative zero is a bound", "/extract/MonthlyPDSI.xy?years=1850:1851&lat=-0:10&max_missing=0.5", "200"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string answer =
            serve_test::raw_exchange(server.port, "GET " + row.target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(answer.substr(0, 12), std::string("HTTP/1.1 ") + row.status) << answer.substr(0, 200);
        EXPECT_EQ(fetch(server.base + "/health").status, 200);
    }
    // Whole requests: an over-long header, and bodies where none belongs.
    const std::string with_body = " /health HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello";
    const Row whole[] = {
        {"long header", "GET /health HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(100000, 'a') + "\r\n\r\n", "431"},
        {"GET with a body", "GET" + with_body, "400"},
        {"HEAD with a body", "HEAD" + with_body, "400"},
        {"POST with a body", "POST" + with_body, "405"},
    };
    for (const Row& row : whole) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(serve_test::raw_exchange(server.port, row.target).substr(0, 12), std::string("HTTP/1.1 ") + row.status);
    }
}

TEST_F(LimitsTest, AFullTemporaryFolderRefusesOnlyTheGapFilling) {
    const Server server(dir_ / "grid.txt", dir_ / "tmp", small(10, 1000, 1000));
    const std::string query = "years=1850:1852&lat=30:40&lon=-100:-90&max_missing=0.5";
    // Files of this process may not grow past a few bytes: the job's
    // first write fails as on a full disk.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = old;
    tiny.rlim_cur = 100;
    // The log into a pipe meanwhile: no file could take it. Never blocking:
    // a log past the pipe's 64 kB is cut, not a hung server.
    int log[2];
    ASSERT_EQ(::pipe2(log, O_NONBLOCK), 0);
    const int saved = ::dup(2);
    ::dup2(log[1], 2);
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const serve_test::Reply filled = fetch(server.base + "/extract/MonthlyPDSI_QC.tsf?" + query + "&fill=1850:1852");
    const serve_test::Reply plain = fetch(server.base + "/extract/MonthlyPDSI.tsf?" + query);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(log[1]);
    std::string logged;
    char block[4096];
    for (ssize_t n; (n = ::read(log[0], block, sizeof block)) > 0;) logged.append(block, static_cast<size_t>(n));
    ::close(log[0]);
    EXPECT_NE(logged.find("pdsi serve: the temporary folder failed a job: "), std::string::npos) << logged;
    EXPECT_EQ(filled.status, 507);
    EXPECT_NE(filled.body.find("no room"), std::string::npos) << filled.body;
    EXPECT_EQ(plain.status, 200);
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "the failed job left files";
}

TEST_F(LimitsTest, TheGridFileTakenAwayChangesNothing) {
    tools::write_grid_file((dir_ / "whole.txt").string(), tools::kMonths, cli_test::grid_value);
    const Server server(dir_ / "whole.txt", dir_ / "tmp", small(10, 1000, 1000));
    const std::string url = server.base + "/extract/MonthlyPDSI.tsf?years=2000:2010&lat=30:40&lon=-100:-90&max_missing=0.5";
    const std::string before = fetch(url).body;
    fs::resize_file(dir_ / "whole.txt", 1000);
    fs::remove(dir_ / "whole.txt");
    EXPECT_EQ(fetch(server.base + "/health").status, 200);
    EXPECT_EQ(fetch(url, {"Cache-Control: no-cache"}).body, before);
    EXPECT_EQ(fetch(server.base + "/extract/MonthlyPDSI_QC.tsf?years=2000:2010&lat=30:40&lon=-100:-90&max_missing=0.5&fill=2000:2010").status, 200);
}

// What two readers of a request could take two ways is refused, and the
// connection closed behind the answer, before anything past the head is
// read; what is plain HTTP is answered and the connection kept.
TEST_F(LimitsTest, StrictHeadsAreRefusedAtOnce) {
    const Server server(dir_ / "grid.txt", dir_ / "tmp", small(10, 1000, 1000));
    const std::string get = "GET /health HTTP/1.1\r\nHost: x\r\n";
    const std::string post = "POST /health HTTP/1.1\r\nHost: x\r\n";
    struct Row {
        const char* name;
        std::string request;
        const char* status;
        bool closed;
    };
    const Row rows[] = {
        {"two different lengths", get + "Content-Length: 0\r\nContent-Length: 5\r\n\r\nhello", "400", true},
        {"a blank before the colon", get + "Transfer-Encoding : chunked\r\n\r\n0\r\n\r\n", "400", true},
        {"a chunked body on a GET", get + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "400", true},
        {"a length and a coding", post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", "400", true},
        {"a coding before chunked", post + "Transfer-Encoding: gzip, chunked\r\n\r\n", "501", true},
        {"an unknown coding", post + "Transfer-Encoding: xchunked\r\n\r\n", "501", true},
        {"no Host", "GET /health HTTP/1.1\r\n\r\n", "400", true},
        {"two Hosts", get + "Host: y\r\n\r\n", "400", true},
        {"a NUL in a value", get + "X-A: a" + std::string(1, '\0') + "b\r\n\r\n", "400", true},
        {"a control byte in a value", get + "X-A: a\x01" "b\r\n\r\n", "400", true},
        {"10 GB declared on a GET", get + "Content-Length: 10000000000\r\n\r\n" + std::string(100000, 'x'), "400", true},
        {"10 GB declared on a POST", post + "Content-Length: 10000000000\r\n\r\nxx", "405", true},
        {"a thousand arguments", "GET /health?" + repeated("a=1&", 1000) + " HTTP/1.1\r\nHost: x\r\n\r\n", "414", true},
        {"a kilobyte of &", "GET /extract/MonthlyPDSI.tsf?" + std::string(1024, '&') + " HTTP/1.1\r\nHost: x\r\n\r\n",
         "414", true},
        {"absolute form", "GET http://x/health HTTP/1.1\r\nHost: x\r\n\r\n", "200", false},
        {"OPTIONS *", "OPTIONS * HTTP/1.1\r\nHost: x\r\n\r\n", "200", false},
        {"a folded line", get + "X-A: a\r\n b\r\n\r\n", "200", false},
        {"an empty length", get + "Content-Length: 0\r\n\r\n", "200", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Socket socket(server.port);
        socket.send(row.request);
        bool closed = false;
        const std::string answer = socket.read_until_closed(row.closed ? 3.0 : 0.5, closed);
        EXPECT_EQ(answer.substr(0, 12), std::string("HTTP/1.1 ") + row.status) << answer.substr(0, 200);
        EXPECT_EQ(closed, row.closed);
        if (std::string(row.name) == "OPTIONS *" || std::string(row.status) == "405") {
            EXPECT_NE(answer.find("Allow: GET, HEAD, OPTIONS"), std::string::npos);
        }
    }
    EXPECT_EQ(settled_in_flight(*server.app), 0);
}

// Each such request used to stay in flight, its record held, until the
// timeout, and the stop waited for it.
TEST_F(LimitsTest, ThousandsOfLongQueriesLeaveNothingBehind) {
    const Server server(dir_ / "grid.txt", dir_ / "tmp", small(10, 1000, 1000));
    const std::string request = "GET /health?" + repeated("a=1&", 1000) + " HTTP/1.1\r\nHost: x\r\n\r\n";
    auto round = [&](int times) {
        for (int k = 0; k < times; ++k)
            ASSERT_EQ(serve_test::raw_exchange(server.port, request).substr(0, 12), "HTTP/1.1 414");
    };
    round(200);  // the library's pools and threads at their size
    const size_t before = resident();
    round(2000);
    EXPECT_EQ(settled_in_flight(*server.app), 0);
    if (kMemoryMeasured) { EXPECT_LT(resident(), before + (4u << 20)) << "2000 records of 4 kB each would be 8 MB"; }
}

TEST_F(LimitsTest, SlowReadersHoldABlockNotTheAnswer) {
    tools::write_grid_file((dir_ / "whole.txt").string(), tools::kMonths, cli_test::grid_value);
    serve::ServerConfig config = small(2, 1000, 1000);
    config.answer_bytes = 8u << 20;
    config.cache_bytes = 64u << 20;
    const Server server(dir_ / "whole.txt", dir_ / "tmp", config);
    const size_t before = resident();
    // Forty readers of the whole field (61 MB each) that take a few bytes.
    std::vector<std::unique_ptr<Socket>> readers;
    for (int k = 0; k < 40; ++k) {
        readers.push_back(std::make_unique<Socket>(server.port, 4096));
        readers.back()->send("GET /dap/pdsi.dods?pdsi.pdsi HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    for (auto& r : readers) {
        std::string head;
        for (int k = 0; k < 500 && head.empty(); ++k) {
            head = r->read_some(12);
            if (head.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(head, "HTTP/1.1 200");
    }
    EXPECT_EQ(fetch(server.base + "/health").status, 200);
    if (kMemoryMeasured) { EXPECT_LT(resident(), before + (100u << 20)) << "the field whole for each would be 2.4 GB"; }

    // Answers made whole count against the answer memory (8 MB here):
    // one of 7 MB held for a stalled reader leaves no room for another.
    const std::string box = "/extract/MonthlyPDSI.tsf?years=1850:2010&max_missing=1.01&lon=";
    Socket stalled(server.port, 4096);
    stalled.send("GET " + box + "0:20 HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string head;
    for (int k = 0; k < 200 && head.empty(); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        head = stalled.read_some(12);
    }
    EXPECT_EQ(head, "HTTP/1.1 200");
    const double busy = metric(*server.app, "pdsi_http_busy_refusals_total");
    const serve_test::Reply refused = fetch(server.base + box + "20:40");
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(metric(*server.app, "pdsi_http_busy_refusals_total"), busy + 1);
    EXPECT_EQ(refused.header("retry-after"), "5");
    // A reader that takes less than a block in a timeout is dropped, and
    // what it held is free again.
    bool closed = false;
    for (int k = 0; k < 80 && !closed; ++k) {
        stalled.read_some(100);
        stalled.read_until_closed(0.1, closed);
    }
    EXPECT_TRUE(closed) << "a trickling reader outlived the floor";
    long status = 0;
    for (int k = 0; k < 50 && status != 200; ++k) {
        status = fetch(server.base + box + "20:40").status;
        if (status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(status, 200);
    // Both answers cached now: one held for a stalled reader still leaves
    // no room to send the other, and the refusal is counted.
    {
        Socket again(server.port, 4096);
        again.send("GET " + box + "0:20 HTTP/1.1\r\nHost: x\r\n\r\n");
        head.clear();
        for (int k = 0; k < 200 && head.empty(); ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            head = again.read_some(12);
        }
        EXPECT_EQ(head, "HTTP/1.1 200");
        const double busy_before = metric(*server.app, "pdsi_http_busy_refusals_total");
        EXPECT_EQ(fetch(server.base + box + "20:40").status, 503);
        EXPECT_EQ(metric(*server.app, "pdsi_http_busy_refusals_total"), busy_before + 1);
    }
    readers.clear();
    EXPECT_EQ(settled_in_flight(*server.app), 0);

    // A reader gone half-way counts what went out, not nothing.
    const double before_cut = metric(*server.app, "pdsi_http_sent_bytes_total");
    {
        Socket cut(server.port);
        cut.send("GET /dap/pdsi.dods?pdsi.pdsi HTTP/1.1\r\nHost: x\r\n\r\n");
        size_t got = 0;
        for (int k = 0; k < 5000 && got < (3u << 20); ++k) {
            const size_t n = cut.read_some(65536).size();
            if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            got += n;
        }
        EXPECT_GE(got, 3u << 20);
    }
    EXPECT_EQ(settled_in_flight(*server.app), 0);
    const double counted = metric(*server.app, "pdsi_http_sent_bytes_total") - before_cut;
    EXPECT_GE(counted, 2 << 20);
    EXPECT_LT(counted, 61e6);
}

}  // namespace
