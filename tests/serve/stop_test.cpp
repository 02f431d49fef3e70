// The real `pdsi serve`: its settings and start-up refusals, its log, and a
// stop by SIGTERM with a request in flight.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "serve/serve_command.h"
#include "tests/cli/grid.h"
#include "tests/serve/http_client.h"
#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;

// `pdsi serve` started with its standard output on a pipe and TMPDIR set;
// its standard error to `err` when one is named; with no standard input
// when `no_input`.
struct Process {
    pid_t pid = -1;
    int out = -1;

    Process(const std::vector<std::string>& args, const fs::path& tmpdir, const fs::path& err = {},
            bool no_input = false) {
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(pipe_fds[1], 1);
            ::close(pipe_fds[0]);
            if (!err.empty() && !std::freopen(err.c_str(), "w", stderr)) ::_exit(127);
            if (no_input) ::close(0);
            ::setenv("TMPDIR", tmpdir.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(PDSI_PATH)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(PDSI_PATH, argv.data());
            ::_exit(127);
        }
        ::close(pipe_fds[1]);
        out = pipe_fds[0];
    }
    ~Process() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) ::close(out);
    }
    // Standard output until it ends or holds a line.
    std::string first_line() {
        std::string text;
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n') text += c;
        return text;
    }
    int wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// The port of a "listening on http://HOST:PORT/" line.
int port_of(const std::string& line) {
    return std::stoi(line.substr(line.rfind(':') + 1));
}

bool holds_pdsi_folder(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("pdsi-serve-", 0) == 0) return true;
    return false;
}

TEST(ServeCommand, RefusesWhatItCannotServe) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
    Process holder({"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0", "--quiet"}, dir.path());
    const std::string line = holder.first_line();
    const std::string port = std::to_string(port_of(line));
    // A file that is there and cannot be opened: a socket.
    const int unix_socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    const std::string socket_path = (dir / "grid.sock").string();
    ASSERT_LT(socket_path.size(), sizeof at.sun_path);
    std::memcpy(at.sun_path, socket_path.c_str(), socket_path.size() + 1);
    ASSERT_EQ(::bind(unix_socket, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0) << std::strerror(errno);
    struct Row {
        const char* name;
        std::vector<std::string> args;
        const char* words;
    };
    const Row rows[] = {
        {"no grid", {"serve", "--grid", "absent.txt", "--listen", "127.0.0.1:0"},
         "pdsi serve: error: --grid: no grid file at absent.txt: put the data set's grid file there, or write the "
         "sample one with: pdsi sample --out absent.txt\n"},
        {"a folder", {"serve", "--grid", ".", "--listen", "127.0.0.1:0"},
         "pdsi serve: error: --grid: File is actually a directory: .\n"},
        {"a socket", {"serve", "--grid", "grid.sock", "--listen", "127.0.0.1:0"},
         "pdsi serve: error: --grid: Error: Cannot open file (open, grid.sock)\n"},
        {"port in use", {"serve", "--grid", "grid.txt", "--listen", "127.0.0.1:" + port}, "Address already in use"},
        {"address not here", {"serve", "--grid", "grid.txt", "--listen", "192.0.2.1:0"}, "cannot listen on 192.0.2.1:0"},
        {"no port", {"serve", "--grid", "grid.txt", "--listen", "localhost"}, "is not HOST:PORT"},
        {"bad thread count", {"serve", "--grid", "grid.txt", "--threads", "0"}, "--threads"},
        {"numbers at their limits taken",
         {"serve", "--grid", "absent.txt", "--queue", "0", "--threads", "1024", "--timeout", "86400"},
         "--grid: no grid file at absent.txt"},
        {"below a limit", {"serve", "--grid", "grid.txt", "--queue", "-1"},
         "--queue: \"-1\" is not a whole number from 0 to 100000"},
        {"above a limit", {"serve", "--grid", "grid.txt", "--timeout", "86401"},
         "--timeout: \"86401\" is not a whole number from 1 to 86400"},
        {"not whole", {"serve", "--grid", "grid.txt", "--cache", "1.5"}, "--cache: \"1.5\" is not a whole number"},
        {"no answer memory", {"serve", "--grid", "grid.txt", "--answer-memory", "0"},
         "--answer-memory: \"0\" is not a whole number from 1 to 1048576"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const testsupport::RunResult run = testsupport::run_pdsi(dir.path(), row.args, 0);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(row.words), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    ::close(unix_socket);
    // No folder for the jobs' files: TMPDIR names a file.
    testsupport::write_file(dir / "file", "");
    Process server({"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0", "--quiet"}, dir / "file",
                   dir / "err.txt");
    EXPECT_EQ(server.first_line(), "");
    EXPECT_EQ(server.wait(), 2);
    const std::string err = testsupport::read_file(dir / "err.txt");
    EXPECT_EQ(err.rfind("pdsi serve: error: " + (dir / "file").string() + "/pdsi-serve-", 0), 0u) << err;
    EXPECT_TRUE(err.ends_with(": Not a directory\n")) << err;
}

TEST(ServeCommand, SettingsFromTheOptionsAndTheCores) {
    struct Row {
        int32_t threads, jobs, queue;      // as given; 0 and -1 are the defaults
        int32_t want_threads, want_jobs, want_queue;
    };
    const Row rows[] = {
        {0, 0, -1, 6, 6, 24},  // from the cores
        {1, 2, 0, 1, 2, 0},    // given, no queue at all
        {3, 0, -1, 3, 6, 24},
        {0, 1, 5, 6, 1, 5},
    };
    for (const Row& row : rows) {
        serve::ServeOptions options;
        options.threads = row.threads;
        options.jobs = row.jobs;
        options.queue = row.queue;
        const serve::ServerConfig config = serve::server_config(options, 6);
        EXPECT_EQ(config.threads, row.want_threads) << row.threads;
        EXPECT_EQ(config.jobs, row.want_jobs) << row.jobs;
        EXPECT_EQ(config.queue, row.want_queue) << row.queue;
        EXPECT_EQ(config.job_threads, 6);
        EXPECT_EQ(config.answer_bytes, size_t{512} << 20);
    }
    // The rest pass through, the sizes in MiB.
    serve::ServeOptions options;
    options.timeout = 17;
    options.cache_mb = 3;
    options.dap_max_mb = 5;
    options.max_connections = 7;
    options.max_per_client = 9;
    options.answer_mb = 11;
    const serve::ServerConfig config = serve::server_config(options, 6);
    EXPECT_EQ(config.timeout_seconds, 17);
    EXPECT_EQ(config.cache_bytes, size_t{3} << 20);
    EXPECT_EQ(config.dap_max_mb, 5);
    EXPECT_EQ(config.max_connections, 7);
    EXPECT_EQ(config.max_per_client, 9);
    EXPECT_EQ(config.answer_bytes, size_t{11} << 20);
}

// Started by a supervisor that closed standard input, the first file or
// socket opened is number 0.
TEST(ServeCommand, ServesWithStandardInputClosed) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
    Process server({"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0", "--quiet"}, dir.path(),
                   dir / "err.txt", true);
    const std::string line = server.first_line();
    ASSERT_NE(line, "") << testsupport::read_file(dir / "err.txt");
    EXPECT_EQ(serve_test::raw_exchange(port_of(line), "GET /health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                  .substr(0, 12),
              "HTTP/1.1 200");
    ::kill(server.pid, SIGTERM);
    EXPECT_EQ(server.wait(), 0);
}

TEST(ServeCommand, SigtermLetsTheRequestInFlightFinish) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
    Process server({"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0", "--quiet"}, dir.path());
    const std::string line = server.first_line();
    ASSERT_EQ(line.rfind("pdsi serve: listening on http://127.0.0.1:", 0), 0u) << line;
    const std::string base = line.substr(std::string("pdsi serve: listening on ").size(),
                                         line.size() - std::string("pdsi serve: listening on ").size() - 1);
    ASSERT_TRUE(holds_pdsi_folder(dir.path()));
    auto answer = std::async(std::launch::async, [&] {
        return serve_test::fetch(base + "/extract/MonthlyPDSI_QC.tsf?years=1850:1852&lat=-20:40&lon=-40:60&max_missing=0.5&fill=1850:1852");
    });
    // Stop once the job runs (or has already finished).
    for (int k = 0; k < 500; ++k) {
        const std::string metrics = serve_test::fetch(base + "/metrics").body;
        if (metrics.find("pdsi_jobs_running 1") != std::string::npos ||
            answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(server.pid, SIGTERM);
    const serve_test::Reply reply = answer.get();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("retry-after"), "");  // only a 503 asks to come back
    EXPECT_GT(reply.body.size(), 1000u);
    EXPECT_EQ(server.wait(), 0);
    EXPECT_FALSE(holds_pdsi_folder(dir.path()));
}

// SIGHUP changes nothing; SIGUSR1 (and the like) stops as SIGTERM does:
// the request in flight is answered, the folder removed, status 0.
TEST(ServeCommand, OtherSignalsLetTheRequestInFlightFinish) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
    Process server({"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0"}, dir.path(),
                   dir / "err.txt");
    const std::string base = "http://127.0.0.1:" + std::to_string(port_of(server.first_line()));
    for (const int signal_number : {SIGHUP, SIGUSR1}) {
        SCOPED_TRACE(signal_number);
        const std::string job = "/extract/MonthlyPDSI_QC.tsf?years=1850:1852&lon=-40:60&max_missing=0.5&fill=1850:1852"
                                "&lat=-20:" + std::to_string(signal_number);
        auto answer = std::async(std::launch::async, [&] { return serve_test::fetch(base + job); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(server.pid, signal_number);
        EXPECT_EQ(answer.get().status, 200);
    }
    EXPECT_EQ(server.wait(), 0);
    EXPECT_FALSE(holds_pdsi_folder(dir.path()));
    const std::string log = testsupport::read_file(dir / "err.txt");
    EXPECT_NE(log.find("pdsi serve: SIGHUP: nothing to reload; serving on\n"), std::string::npos) << log;
}

// During the drain the listening socket is closed: a new connection is
// refused at once, not held in the backlog and reset at the end.
TEST(ServeCommand, ANewConnectionDuringTheDrainIsRefused) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), tools::kMonths, cli_test::grid_value);
    Process server({"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0", "--quiet",
                    "--timeout", "3"},
                   dir.path());
    const int port = port_of(server.first_line());
    // A reader that takes nothing of the 61 MB field keeps the drain going.
    const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /dap/pdsi.dods?pdsi.pdsi HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(stalled, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(server.pid, SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int late = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool connected = ::connect(late, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    EXPECT_FALSE(connected) << "the drain took a new connection";
    EXPECT_EQ(::waitpid(server.pid, nullptr, WNOHANG), 0) << "the drain was over already";
    ::close(late);
    EXPECT_EQ(server.wait(), 0);
    ::close(stalled);
}

TEST(ServeCommand, ARestartClearsWhatAKilledRunLeft) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
    const std::vector<std::string> args{"serve", "--grid", (dir / "grid.txt").string(), "--listen", "127.0.0.1:0",
                                        "--quiet"};
    auto folders = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind("pdsi-serve-", 0) == 0) names.push_back(entry.path().filename());
        return names;
    };
    std::vector<std::string> killed;
    {
        Process first(args, dir.path());
        ASSERT_NE(first.first_line(), "");
        killed = folders();
        ::kill(first.pid, SIGKILL);
        EXPECT_EQ(first.wait(), -1);
    }
    ASSERT_EQ(killed.size(), 1u);
    EXPECT_EQ(folders(), killed) << "the killed run's folder stays until a restart";
    Process second(args, dir.path());
    ASSERT_NE(second.first_line(), "");
    const std::vector<std::string> now = folders();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now.front(), killed.front());
    ::kill(second.pid, SIGTERM);
    EXPECT_EQ(second.wait(), 0);
    EXPECT_TRUE(folders().empty());
}

// One line a request, its bytes that are no plain text escaped, so a
// request cannot forge or break lines; the library's own messages one
// line each too.
TEST(ServeCommand, AccessLogKeepsEachRequestOnOneSafeLine) {
    const testsupport::TempDir dir;
    tools::write_grid_file((dir / "grid.txt").string(), cli_test::kGridMonths, cli_test::grid_value);
    struct Row {
        std::string host;
        std::string request;
        const char* logged;  // "": quiet, nothing logged at all
    };
    const std::string end = " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const Row rows[] = {
        {"127.0.0.1", "GET /a\x1f" "b~\x7f\x80\\\"c" + end, " 127.0.0.1 GET /a\\x1fb~\\x7f\\x80\\x5c\\x22c 404 10 "},
        {"127.0.0.1", "G\x01T /health" + end, " 127.0.0.1 G\\x01T /health 405 "},
        {"127.0.0.1", "HEAD /health" + end, " 127.0.0.1 HEAD /health 200 0 "},
        {"127.0.0.1", "GET /" + std::string(70000, 'a') + end, "pdsi serve: Error processing request"},
        {"127.0.0.1", "GET /" + std::string(70000, 'a') + end, ""},
        // Headers never ended: closed at the timeout, logged all the same.
        {"127.0.0.1", "GET /health HTTP/1.1\r\nHost: x\r\n", " 127.0.0.1 - /health 0 0 "},
        {"::1", "GET /health" + end, " ::1 GET /health 200 3 "},
        {"127.0.0.1", "GET /health HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 10.0.0.1, 203.0.113.7\r\n"
                      "Connection: close\r\n\r\n",
         " 203.0.113.7 GET /health 200 3 "},
        {"127.0.0.1", "GET /health HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: forged line\r\nConnection: close\r\n\r\n",
         " 127.0.0.1 GET /health 200 3 "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.logged);
        const fs::path err = dir / "err.txt";
        const bool v6 = row.host == "::1";
        const bool quiet = !*row.logged;
        std::vector<std::string> args{"serve", "--grid", (dir / "grid.txt").string(), "--listen",
                                      v6 ? "[::1]:0" : row.host + ":0", "--timeout", "1"};
        if (quiet) args.push_back("--quiet");
        Process server(args, dir.path(), err);
        const std::string line = server.first_line();
        if (line.empty() && v6) continue;  // no IPv6 here
        ASSERT_NE(line, "");
        serve_test::raw_exchange(port_of(line), row.request, row.host);
        ::kill(server.pid, SIGTERM);
        EXPECT_EQ(server.wait(), 0);
        const std::string log = testsupport::read_file(err);
        if (quiet) {
            EXPECT_EQ(log, "");
            continue;
        }
        const size_t at = log.find(row.logged);
        ASSERT_NE(at, std::string::npos) << log;
        if (row.logged[0] == ' ') {  // an access line, stamped with today's UTC date
            const size_t begin = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
            auto day = [](std::time_t at) {
                std::tm utc{};
                gmtime_r(&at, &utc);
                char text[16];
                std::strftime(text, sizeof text, "%Y-%m-%dT", &utc);
                return std::string(text);
            };
            const std::time_t now = std::time(nullptr);  // or a minute ago, across midnight
            const std::string stamp = log.substr(begin, 11);
            EXPECT_TRUE(stamp == day(now) || stamp == day(now - 60)) << log;
        }
        EXPECT_EQ(log.find("\n\n"), std::string::npos) << log;
        EXPECT_EQ(log.find('\r'), std::string::npos) << log;
        EXPECT_TRUE(log.ends_with("pdsi serve: stopping after the requests in flight\n")) << log;
    }
}

}  // namespace
