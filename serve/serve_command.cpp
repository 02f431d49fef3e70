#include "serve/serve_command.h"

#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/numbers.h"
#include "parallel/pipeline.h"
#include "serve/app.h"
#include "serve/http_server.h"
#include "serve/loaded_grid.h"

namespace serve {

namespace {

namespace fs = std::filesystem;

int refused(const std::string& message) {
    std::cerr << "pdsi serve: error: " << message << "\n";
    return cli::kUsage;
}

// A whole number in [low, high] for a CLI11 check.
CLI::Validator whole(int32_t low, int32_t high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            char* end = nullptr;
            errno = 0;
            const long value = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
                return "\"" + text + "\" is not a whole number from " + std::to_string(low) + " to " +
                       std::to_string(high);
            return "";
        },
        "");
}

// The jobs' hand-over files live here, one folder a job; gone at exit.
class TempRoot {
public:
    TempRoot() {
        const char* env = std::getenv("TMPDIR");
        const fs::path base = env && *env ? env : "/tmp";
        remove_left_behind(base);
        std::string pattern = (base / ("pdsi-serve-" + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), pattern);
        path_ = pattern;
    }
    ~TempRoot() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    // A server killed without its stop leaves its folder; the folder names
    // its process, so one whose process is gone is removed. A live one, or
    // another user's, is left alone.
    static void remove_left_behind(const fs::path& base) {
        std::error_code ec;
        for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind("pdsi-serve-", 0) != 0) continue;
            char* after = nullptr;
            const long pid = std::strtol(name.c_str() + 11, &after, 10);
            if (pid <= 0 || *after != '-' || !it->is_directory(ec)) continue;
            if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::error_code ignored;
                fs::remove_all(it->path(), ignored);
            }
        }
    }

    fs::path path_;
};

}  // namespace

ServerConfig server_config(const ServeOptions& o, int32_t cores) {
    ServerConfig config;
    config.threads = o.threads > 0 ? o.threads : cores;
    config.jobs = o.jobs > 0 ? o.jobs : cores;
    config.queue = o.queue >= 0 ? o.queue : 4 * config.jobs;
    config.timeout_seconds = o.timeout;
    config.cache_bytes = static_cast<size_t>(o.cache_mb) << 20;
    config.dap_max_mb = o.dap_max_mb;
    config.job_threads = cores;
    config.max_connections = o.max_connections;
    config.max_per_client = o.max_per_client;
    config.answer_bytes = static_cast<size_t>(o.answer_mb) << 20;
    return config;
}

cli::Extension serve_extension(ServeOptions& o) {
    cli::Extension extension;
    extension.add = [&o](CLI::App& root) {
        CLI::App* sub = root.add_subcommand("serve", "Serve extractions over HTTP, the grid held in memory");
        sub->footer(
            "Example:\n"
            "  pdsi serve --grid pdsisc1850-2010.txt --listen 127.0.0.1:8080\n"
            "  curl 'http://127.0.0.1:8080/extract/MonthlyPDSI.tsf?years=1901:2010&lat=31.25:41.25&lon=-98.75:-88.75&max_missing=0.5'\n"
            "Stops on SIGTERM, SIGINT, SIGQUIT, SIGUSR1 or SIGUSR2 after the requests in flight;\n"
            "SIGHUP is logged and changes nothing. Exit status: 0 after a stop,\n"
            "2 when the grid cannot be loaded or the address cannot be listened on.");
        sub->add_option("--grid", o.grid, "The grid file")->capture_default_str()->type_name("FILE");
        sub->add_option("--listen", o.listen, "Address and port; port 0 picks a free one")
            ->capture_default_str()
            ->type_name("HOST:PORT");
        sub->add_option("--threads", o.threads, "Connection threads (default: one per hardware thread)")
            ->type_name("N")
            ->check(whole(1, 1024));
        sub->add_option("--jobs", o.jobs, "Long requests worked on at once (default: one per hardware thread)")
            ->type_name("N")
            ->check(whole(1, 1024));
        sub->add_option("--queue", o.queue, "Long requests that may wait (default: four per job); more get 503")
            ->type_name("N")
            ->check(whole(0, 100000));
        sub->add_option("--timeout", o.timeout, "Seconds a request may take, and an idle connection stay")
            ->capture_default_str()
            ->type_name("SECONDS")
            ->check(whole(1, 86400));
        sub->add_option("--cache", o.cache_mb, "Megabytes of recent answers kept; 0 keeps none")
            ->capture_default_str()
            ->type_name("MB")
            ->check(whole(0, 1 << 20));
        sub->add_option("--max-connections", o.max_connections, "Connections held at once; more are closed")
            ->capture_default_str()
            ->type_name("N")
            ->check(whole(1, 100000));
        sub->add_option("--max-per-client", o.max_per_client,
                        "Connections from one address at once (behind a balancer, raise it)")
            ->capture_default_str()
            ->type_name("N")
            ->check(whole(1, 100000));
        sub->add_option("--dap-max-mb", o.dap_max_mb, "Megabytes of the largest OPeNDAP answer; larger get 413")
            ->capture_default_str()
            ->type_name("MB")
            ->check(whole(1, 1 << 20));
        sub->add_option("--answer-memory", o.answer_mb,
                        "Megabytes of answers held for clients still reading them; past it, 503")
            ->capture_default_str()
            ->type_name("MB")
            ->check(whole(1, 1 << 20));
        sub->add_flag("-q,--quiet", o.quiet, "No log lines");
        return sub;
    };
    extension.run = [&o] { return run_serve(o); };
    return extension;
}

int run_serve(const ServeOptions& o) {
    // Every thread started from here on inherits the mask, so the signals
    // come only to sigwait below.
    // A signal that would end the process at once instead stops it after
    // the requests in flight; SIGHUP (a reload elsewhere) changes nothing.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    for (const int number : {SIGTERM, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGHUP})
        sigaddset(&stop_signals, number);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    // A file limit reached in the temporary folder is a failed write, not
    // the end of the server.
    ::signal(SIGXFSZ, SIG_IGN);

    // Answers of a few megabytes are made and freed on every request; fresh
    // pages cost a fault each on a virtual machine, more than the making.
    // Keep such blocks in the heap for the next request instead of
    // mapping and unmapping them every time.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most it takes: the global series file fits
    mallopt(M_TRIM_THRESHOLD, 64 << 20);

    const int32_t cores = parallel::hardware_threads();
    std::error_code ec;
    // Said in one line, for the journal of a service started before the grid
    // was put in place.
    if (!fs::exists(o.grid, ec))
        return refused("--grid: no grid file at " + o.grid +
                       ": put the data set's grid file there, or write the sample one with: pdsi sample --out " +
                       o.grid);
    if (fs::is_directory(o.grid, ec)) return refused("--grid: File is actually a directory: " + o.grid);

    Listener listener;
    try {
        listener = listen_on(o.listen);
    } catch (const HttpError& error) {
        return refused(error.message);
    }
    std::unique_ptr<LoadedGrid> grid;
    try {
        grid = LoadedGrid::load(o.grid, cores);
    } catch (const LoadError& error) {
        return refused("--grid: " + error.message);
    }
    if (!grid->sound() && !o.quiet)
        std::cerr << "pdsi serve: " << o.grid
                  << " is damaged: requests that meet the damage get the extraction's message (422)\n";

    const ServerConfig config = server_config(o, cores);

    try {
        TempRoot temp;
        App app(*grid, temp.path(), config);
        HttpServer server(app, listener, o.quiet);
        std::printf("pdsi serve: listening on http://%s/\n", listener.shown.c_str());
        std::fflush(stdout);
        int signal_number = 0;
        while (sigwait(&stop_signals, &signal_number) == 0 && signal_number == SIGHUP)
            if (!o.quiet) std::cerr << "pdsi serve: SIGHUP: nothing to reload; serving on\n";
        if (!o.quiet) std::cerr << "pdsi serve: stopping after the requests in flight\n";
        if (!server.drain(config.timeout_seconds)) {
            std::cerr << "pdsi serve: a job did not stop in time; its client gets no answer\n";
            std::error_code ignored;
            fs::remove_all(temp.path(), ignored);
            std::_Exit(cli::kOk);
        }
    } catch (const HttpError& error) {
        return refused(error.message);
    } catch (const std::exception& error) {
        return refused(error.what());
    }
    return cli::kOk;
}

}  // namespace serve
