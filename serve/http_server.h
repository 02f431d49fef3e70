#pragma once
// The App on a socket, through libmicrohttpd: a pool of threads for the
// connections, long requests suspended while a job worker makes them.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "serve/answer_memory.h"
#include "serve/app.h"
#include "serve/job_queue.h"

struct MHD_Daemon;

namespace serve {

// A socket bound to HOST:PORT and listening; `shown` is the address as the
// listening line gives it. Throws HttpError{0, why} when it cannot be made.
struct Listener {
    int fd = -1;
    bool ipv6 = false;
    std::string shown;  // "127.0.0.1:8080", "[::1]:8080"
    uint16_t port = 0;
};
Listener listen_on(const std::string& host_port);

class HttpServer {
public:
    // Starts serving on `listener` (the server owns its socket from now).
    HttpServer(App& app, Listener listener, bool quiet);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Stops taking connections, lets the requests in flight finish (at
    // most `wait_seconds`, then stops their work), then stops. False when
    // a job would not stop: the process must then end without unwinding.
    bool drain(int32_t wait_seconds);

    // For the library's callbacks.
    struct State;
    struct Connection;
    App& app() { return app_; }
    JobQueue& jobs() { return jobs_; }
    AnswerMemory& answers() { return answers_; }
    bool quiet() const { return quiet_; }
    void opened(Connection* connection);
    void closed(Connection* connection);
    void begin(Connection* connection, State* state);
    // The request's end, whichever of the library's calls comes first.
    void finish(Connection* connection, bool completed);

private:
    // Closes the sockets of clients that read less than a block in a
    // timeout while an answer waits for them.
    void sweep();

    App& app_;
    JobQueue jobs_;
    AnswerMemory answers_;
    bool quiet_;
    int listen_fd_ = -1;
    MHD_Daemon* daemon_ = nullptr;
    std::mutex connections_mutex_;
    std::unordered_set<Connection*> connections_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread sweeper_;
};

}  // namespace serve
