#include "serve/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <thread>

#include "serve/uri.h"

namespace serve {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kConnectionMemory = 64 * 1024;  // request line and headers; past it: 414 or 431
// Long jobs (large boxes, gap fillings) take a quarter of a connection
// thread's share of the cores when both want them.
constexpr int32_t kLongNiceness = 5;

std::string escaped_for_log(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7f || c == '\\' || c == '"') {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void log_library(void* server, const char* format, va_list ap) {
    if (static_cast<HttpServer*>(server)->quiet()) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, ap);
    std::fprintf(stderr, "pdsi serve: %s%s", text, text[0] && text[std::strlen(text) - 1] == '\n' ? "" : "\n");
}

}  // namespace

struct HttpServer::State {
    std::string uri;  // as sent, before any decoding
    std::string method;
    std::string client;
    Clock::time_point start = Clock::now();
    std::string route = "other";
    int status = 0;
    uint64_t bytes = 0;
    bool body = false;      // a GET came with a body
    bool started = false;   // the handler has seen the headers
    bool suspended = false;
    std::optional<Response> ready;  // made by a job worker
};

namespace {

std::string client_of(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return "-";
    char text[INET6_ADDRSTRLEN] = "-";
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

void* on_uri(void* cls, const char* uri, MHD_Connection* connection) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = new (std::nothrow) HttpServer::State;
    if (state) {
        state->uri = uri ? uri : "";
        state->client = client_of(connection);
    }
    ++server->app().metrics.in_flight;
    return state;
}

void on_completed(void* cls, MHD_Connection*, void** req_cls, MHD_RequestTerminationCode) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<HttpServer::State*>(*req_cls);
    *req_cls = nullptr;
    --server->app().metrics.in_flight;
    if (!state) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - state->start).count();
    // Status 0: the library answered by itself (an over-long request) or
    // the client left before an answer.
    server->app().metrics.finished(state->route, state->status, state->bytes, seconds);
    if (!server->quiet()) {
        char when[32];
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        gmtime_r(&now, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
        char tail[96];
        std::snprintf(tail, sizeof tail, " %d %llu %.1f", state->status,
                      static_cast<unsigned long long>(state->bytes), seconds * 1000.0);
        const std::string method = state->method.empty() ? "-" : escaped_for_log(state->method);
        const std::string line = std::string(when) + " " + state->client + " " + method +
                                 " " + escaped_for_log(state->uri) + tail + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
    delete state;
}

MHD_Result collect_argument(void* cls, MHD_ValueKind, const char* key, size_t key_size, const char* value,
                            size_t value_size) {
    auto* args = static_cast<Fields*>(cls);
    args->emplace_back(std::string(key ? key : "", key ? key_size : 0),
                       std::string(value ? value : "", value ? value_size : 0));
    return MHD_YES;
}

void free_body(void* cls) { delete static_cast<std::shared_ptr<const std::string>*>(cls); }

MHD_Result send(MHD_Connection* connection, HttpServer::State& state, Response response) {
    auto* holder = new std::shared_ptr<const std::string>(response.body);
    MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
        (*holder)->size(), const_cast<char*>((*holder)->data()), free_body, holder);
    if (!r) {
        delete holder;
        return MHD_NO;
    }
    for (const auto& [name, value] : response.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
    MHD_add_response_header(r, "Access-Control-Allow-Origin", "*");
    state.status = response.status;
    state.bytes = state.method == "HEAD" ? 0 : response.body->size();
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), r);
    MHD_destroy_response(r);
    return queued;
}

MHD_Result on_request(void* cls, MHD_Connection* connection, const char*, const char* method, const char*,
                      const char*, size_t* upload_size, void** req_cls) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<HttpServer::State*>(*req_cls);
    if (!state) return MHD_NO;  // out of memory: close
    try {
        if (!state->started) {
            state->started = true;
            state->method = method ? method : "";
            return MHD_YES;
        }
        if (*upload_size > 0) {  // a body: read and dropped, then refused
            state->body = true;
            *upload_size = 0;
            return MHD_YES;
        }
        if (state->ready) {
            Response response = std::move(*state->ready);
            state->ready.reset();
            return send(connection, *state, std::move(response));
        }
        App& app = server->app();
        HttpRequest request;
        request.method = state->method;
        const size_t mark = state->uri.find('?');
        const std::string raw_path = state->uri.substr(0, mark);
        if (mark != std::string::npos) request.raw_query = state->uri.substr(mark + 1);
        if (!decode_path(raw_path, request.path)) return send(connection, *state, plain(400, "path: holds a NUL"));
        if (state->body && (request.method == "GET" || request.method == "HEAD"))
            return send(connection, *state, plain(400, "a " + request.method + " request takes no body"));
        MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, collect_argument, &request.args);
        if (const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match"))
            request.if_none_match = v;
        if (const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Accept-Encoding"))
            request.accept_encoding = v;
        if (const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host")) request.host = v;

        Routed routed = app.route(request);
        state->route = routed.route;
        if (routed.response) return send(connection, *state, std::move(*routed.response));
        if (!routed.long_job) return send(connection, *state, app.run(routed, app.budget(false)));
        if (!server->jobs().try_reserve()) {
            app.metrics.refused_busy();
            Response busy = plain(503, "busy: every worker is taken and the queue is full; try again in 5 seconds");
            busy.set("Retry-After", "5");
            return send(connection, *state, std::move(busy));
        }
        Budget budget = app.budget(true);
        budget.deadline = state->start + std::chrono::seconds(app.config().timeout_seconds);
        // Suspended first, so that the worker's resume cannot come before it.
        MHD_suspend_connection(connection);
        server->jobs().push([&app, state, connection, routed = std::move(routed), budget] {
            try {
                if (app.cancelled)
                    state->ready = plain(503, "the server is stopping; try again");
                else if (budget.over())
                    state->ready = plain(503, "busy: the request waited longer than " +
                                                  std::to_string(budget.timeout_seconds) + " s; try again");
                else
                    state->ready = app.run(routed, budget);
                if (state->ready->status == 503) state->ready->set("Retry-After", "5");
            } catch (const std::bad_alloc&) {
                state->ready = plain(503, "busy: not enough memory for this request now; try again");
            } catch (const std::exception& error) {
                std::fprintf(stderr, "pdsi serve: internal error: %s\n", error.what());
                state->ready = plain(500, "internal error");
            }
            MHD_resume_connection(connection);
        });
        return MHD_YES;
    } catch (const std::bad_alloc&) {
        return send(connection, *state, plain(503, "busy: not enough memory for this request now; try again"));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pdsi serve: internal error: %s\n", error.what());
        return send(connection, *state, plain(500, "internal error"));
    }
}

}  // namespace

Listener listen_on(const std::string& host_port) {
    const size_t colon = host_port.rfind(':');
    if (colon == std::string::npos) throw HttpError{0, "--listen: \"" + host_port + "\" is not HOST:PORT"};
    std::string host = host_port.substr(0, colon);
    const std::string port = host_port.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || number < 0 || number > 65535)
        throw HttpError{0, "--listen: \"" + port + "\" is not a port (0 to 65535)"};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found); rc != 0)
        throw HttpError{0, "--listen: cannot resolve \"" + host + "\": " + gai_strerror(rc)};
    std::string why = "no address";
    Listener listener;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 256) != 0) {
            why = std::strerror(errno);
            ::close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        char text[INET6_ADDRSTRLEN] = "";
        if (bound.ss_family == AF_INET6) {
            const auto* six = reinterpret_cast<const sockaddr_in6*>(&bound);
            inet_ntop(AF_INET6, &six->sin6_addr, text, sizeof text);
            listener.port = ntohs(six->sin6_port);
            listener.ipv6 = true;
            listener.shown = std::string("[") + text + "]:" + std::to_string(listener.port);
        } else {
            const auto* four = reinterpret_cast<const sockaddr_in*>(&bound);
            inet_ntop(AF_INET, &four->sin_addr, text, sizeof text);
            listener.port = ntohs(four->sin_port);
            listener.shown = std::string(text) + ":" + std::to_string(listener.port);
        }
        listener.fd = fd;
        break;
    }
    freeaddrinfo(found);
    if (listener.fd < 0) throw HttpError{0, "--listen: cannot listen on " + host_port + ": " + why};
    return listener;
}

HttpServer::HttpServer(App& app, Listener listener, bool quiet)
    : app_(app), jobs_(app.config().jobs, app.config().queue, app.metrics, kLongNiceness), quiet_(quiet), listen_fd_(listener.fd) {
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (listener.ipv6) flags |= MHD_USE_IPv6;
    daemon_ = MHD_start_daemon(
        flags, 0, nullptr, nullptr, on_request, this,                                   //
        MHD_OPTION_EXTERNAL_LOGGER, log_library, this,                                  //
        MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listener.fd),                 //
        MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(app.config().threads),       //
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(app.config().max_connections),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(app.config().max_per_client),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(app.config().timeout_seconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,                          //
        MHD_OPTION_URI_LOG_CALLBACK, on_uri, this,                                      //
        MHD_OPTION_NOTIFY_COMPLETED, on_completed, this,                                //
        MHD_OPTION_END);
    if (!daemon_) {
        ::close(listen_fd_);
        throw HttpError{0, "the HTTP library could not start on " + listener.shown};
    }
}

bool HttpServer::drain(int32_t wait_seconds) {
    if (!daemon_) return true;
    app_.draining = true;
    const MHD_socket fd = MHD_quiesce_daemon(daemon_);
    auto wait = [this](Clock::duration limit) {
        const auto until = Clock::now() + limit;
        while (app_.metrics.in_flight.load() > 0 && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    wait(std::chrono::seconds(wait_seconds));
    // Past the wait: work still going is stopped at its next step and
    // answered 503; queued work is answered at once.
    app_.cancelled = true;
    wait(std::chrono::seconds(5));
    // A job still inside a step that cannot be stopped holds a suspended
    // connection, and the library must not be stopped under it.
    if (app_.metrics.jobs_running.load() + app_.metrics.jobs_queued.load() > 0) return false;
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    if (fd != MHD_INVALID_SOCKET) ::close(fd);
    listen_fd_ = -1;
    return true;
}

HttpServer::~HttpServer() {
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        if (listen_fd_ >= 0) ::close(listen_fd_);
    }
}

}  // namespace serve
