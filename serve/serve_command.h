#pragma once
// `pdsi serve`: its options and its run, added to the command from above.
#include <cstdint>
#include <string>

#include "cli/app.h"
#include "serve/app.h"

namespace serve {

struct ServeOptions {
    std::string grid = "pdsisc1850-2010.txt";
    std::string listen = "127.0.0.1:8080";
    int32_t threads = 0;  // 0: from the cores
    int32_t jobs = 0;
    int32_t queue = -1;
    int32_t timeout = 60;
    int32_t cache_mb = 128;
    int32_t dap_max_mb = 256;
    int32_t max_connections = 1000;
    int32_t max_per_client = 100;
    int32_t answer_mb = 512;
    bool quiet = false;
};

// The server's settings from the options: threads and jobs from the
// cores unless given, the queue four per job unless given (0 is none).
ServerConfig server_config(const ServeOptions& options, int32_t cores);

// The subcommand for cli::run_command, bound to `options`.
cli::Extension serve_extension(ServeOptions& options);

// Loads, listens, serves until a signal to stop (SIGTERM, SIGINT and the
// like; SIGHUP only logs); returns the exit status.
int run_serve(const ServeOptions& options);

}  // namespace serve
