#include "serve/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <thread>

#include "serve/request_checks.h"
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
    Connection* connection = nullptr;
    Clock::time_point start = Clock::now();
    std::string route = "other";
    int status = 0;
    std::atomic<uint64_t> bytes{0};  // the body as queued
    bool started = false;   // the handler has seen the headers
    bool too_many = false;  // arguments, left unparsed
    bool gone = false;      // the client left while its job waited
    std::string if_none_match;
    std::atomic<bool> in_blocks{false};  // the body goes through read_body
    std::atomic<size_t> block{0};        // in blocks of this size
    // What read_body has handed on, shared with it: the library may keep
    // the body a moment past the request's end.
    std::shared_ptr<std::atomic<uint64_t>> sent = std::make_shared<std::atomic<uint64_t>>(0);
    std::optional<Response> ready;                // made by a job worker
};

struct HttpServer::Connection {
    MHD_socket fd = MHD_INVALID_SOCKET;
    State* request = nullptr;  // until its end
    // The sweeper's window: whose answer, since when, what had been sent.
    const State* window_of = nullptr;
    Clock::time_point window = Clock::now();
    uint64_t window_sent = 0;
};

namespace {

// A body sent in pieces goes in blocks: the library sends one per turn of
// its loop, which other connections' work on the same thread slows, so a
// block is no smaller than needed to keep a large answer moving. One made
// as it is read (the OPeNDAP field) holds its block; one already in memory
// only passes through it. A reader that takes less than a block in
// --timeout seconds is dropped.
constexpr size_t kStreamBlock = 256 * 1024;
constexpr size_t kCopyBlock = 1024 * 1024;
// Bodies larger than this count against the answer memory.
constexpr size_t kHeldBytes = 64 * 1024;
// A body made whole up to this size goes whole: the library hands it to
// the socket at once, which on the loopback takes it all, and it reaches a
// balancer in front even if this process dies the next moment. Larger
// ones go in blocks, so a reader too slow can be found.
constexpr size_t kWholeBytes = 4u << 20;

bool is_loopback(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    return address->sa_family == AF_INET6 &&
           IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
}

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

// Behind the balancer on this machine the peer is the balancer: the log
// names the client it forwarded for, when that is an address.
std::string forwarded_client(MHD_Connection* connection, const std::string& peer) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const char* forwarded = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For");
    if (!info || !info->client_addr || !forwarded || !is_loopback(info->client_addr)) return peer;
    std::string last = forwarded;
    last = last.substr(last.rfind(',') == std::string::npos ? 0 : last.rfind(',') + 1);
    while (!last.empty() && last.front() == ' ') last.erase(0, 1);
    while (!last.empty() && last.back() == ' ') last.pop_back();
    unsigned char address[16];
    if (inet_pton(AF_INET, last.c_str(), address) != 1 && inet_pton(AF_INET6, last.c_str(), address) != 1) return peer;
    return last;
}

HttpServer::Connection* connection_of(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<HttpServer::Connection*>(info->socket_context) : nullptr;
}

void on_connection(void* cls, MHD_Connection* connection, void** socket_context, MHD_ConnectionNotificationCode code) {
    auto* server = static_cast<HttpServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* record = new (std::nothrow) HttpServer::Connection;
        if (record) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info) record->fd = info->connect_fd;
            server->opened(record);
        }
        *socket_context = record;
        return;
    }
    auto* record = static_cast<HttpServer::Connection*>(*socket_context);
    *socket_context = nullptr;
    if (!record) return;
    // A request the library gave up on without telling: it ends here.
    server->finish(record, false);
    server->closed(record);
    delete record;
}

void* on_uri(void* cls, const char* uri, MHD_Connection* connection) {
    auto* server = static_cast<HttpServer*>(cls);
    HttpServer::Connection* record = connection_of(connection);
    if (record) server->finish(record, false);  // one before it that never ended
    auto* state = new (std::nothrow) HttpServer::State;
    ++server->app().metrics.in_flight;
    if (!state) return nullptr;
    state->uri = uri ? uri : "";
    state->client = client_of(connection);
    state->connection = record;
    if (record) server->begin(record, state);
    // Every argument takes a record from the connection's memory, and past
    // it the library answers nothing: too many are refused unparsed, the
    // library left an empty query (its buffer, which it parses next).
    const size_t mark = state->uri.find('?');
    if (mark != std::string::npos && count_arguments(std::string_view(state->uri).substr(mark + 1)) > kMaxArguments) {
        state->too_many = true;
        const_cast<char*>(uri)[mark + 1] = '\0';
    }
    return state;
}

void on_completed(void* cls, MHD_Connection* connection, void** req_cls, MHD_RequestTerminationCode code) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<HttpServer::State*>(*req_cls);
    *req_cls = nullptr;
    if (!state) {
        --server->app().metrics.in_flight;
        return;
    }
    // Not dereferenced before it is known to be live: a request is ended
    // once, and only its connection's record says whether it was.
    HttpServer::Connection* record = connection_of(connection);
    const bool completed = code == MHD_REQUEST_TERMINATED_COMPLETED_OK;
    if (record && record->request == state) {
        server->finish(record, completed);
    } else if (!record) {  // no connection record: out of memory at its start
        HttpServer::Connection alone;
        alone.request = state;
        server->finish(&alone, completed);
    }
}

MHD_Result collect_field(void* cls, MHD_ValueKind, const char* key, size_t key_size, const char* value,
                         size_t value_size) {
    auto* args = static_cast<Fields*>(cls);
    args->emplace_back(std::string(key ? key : "", key ? key_size : 0),
                       std::string(value ? value : "", value ? value_size : 0));
    return MHD_YES;
}

// A body on its way: what it is made from, and what it holds of the
// server's answer memory until the library lets it go.
struct Sending {
    std::shared_ptr<const std::string> body;
    std::shared_ptr<BodySource> stream;
    AnswerMemory* memory = nullptr;
    std::shared_ptr<std::atomic<uint64_t>> sent;
    ~Sending() {
        if (memory) memory->release(body.get());
    }
};

ssize_t read_body(void* cls, uint64_t at, char* out, size_t max) {
    auto* sending = static_cast<Sending*>(cls);
    // The library asks for the next piece once the last is on its way.
    sending->sent->store(at);
    try {
        if (sending->stream) return static_cast<ssize_t>(sending->stream->read(at, out, max));
        const size_t n = std::min<uint64_t>(max, sending->body->size() - at);
        std::memcpy(out, sending->body->data() + at, n);
        return static_cast<ssize_t>(n);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pdsi serve: an answer stopped half-way: %s\n", error.what());
    } catch (const HttpError& error) {
        std::fprintf(stderr, "pdsi serve: an answer stopped half-way: %s\n", error.message.c_str());
    }
    return MHD_CONTENT_READER_END_WITH_ERROR;
}

void free_sending(void* cls) { delete static_cast<Sending*>(cls); }

// Room taken in the answer memory for an answer being made.
struct Reserved {
    AnswerMemory& memory;
    size_t bytes;
    Reserved(AnswerMemory& m, size_t b) : memory(m), bytes(b) {}
    ~Reserved() { memory.unreserve(bytes); }
    Reserved(const Reserved&) = delete;
    Reserved& operator=(const Reserved&) = delete;
};

Response busy(const std::string& why) {
    Response response = plain(503, "busy: " + why + "; try again in 5 seconds");
    response.set("Retry-After", "5");
    return response;
}

MHD_Result send(HttpServer& server, MHD_Connection* connection, HttpServer::State& state, Response response,
                bool close = false) {
    response = conditional(state.if_none_match, std::move(response));
    const bool head = state.method == "HEAD";
    auto sending = std::make_unique<Sending>();
    sending->sent = state.sent;
    uint64_t size = 0;
    if (response.stream) {
        size = response.stream->size();
        sending->stream = std::move(response.stream);
    } else {
        size = response.body->size();
        // A body held for a reader counts against the answer memory; a
        // HEAD sends none.
        if (size > kHeldBytes && !head) {
            if (!server.answers().hold(response.body.get())) {
                server.app().metrics.refused_busy();
                return send(server, connection, state, busy("the answers in flight hold all the memory set for them"),
                            close);
            }
            sending->memory = &server.answers();
        }
        sending->body = std::move(response.body);
    }
    MHD_Response* r = nullptr;
    const bool sending_in_blocks = sending->stream || size > kWholeBytes;
    if (sending_in_blocks) {
        const size_t block = sending->stream ? kStreamBlock : kCopyBlock;
        state.block = block;
        r = MHD_create_response_from_callback(size, block, read_body, sending.get(), free_sending);
    } else {
        r = MHD_create_response_from_buffer_with_free_callback_cls(
            size, const_cast<char*>(sending->body->data()), free_sending, sending.get());
    }
    if (!r) return MHD_NO;
    sending.release();
    for (const auto& [name, value] : response.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
    MHD_add_response_header(r, "Access-Control-Allow-Origin", "*");
    if (close) MHD_add_response_header(r, "Connection", "close");
    state.status = response.status;
    state.bytes = head || response.status == 304 ? 0 : size;
    state.in_blocks = sending_in_blocks && !head;
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), r);
    MHD_destroy_response(r);
    return queued;
}

// The library ends a header value at a NUL and drops the rest of its
// line: seen in the request's buffer, where the value's terminator must be
// followed by the rest of the line's end or by the next header.
struct CutValues {
    const char* previous_end = nullptr;
    bool cut = false;
};

MHD_Result find_cut_value(void* cls, MHD_ValueKind, const char* key, size_t, const char* value, size_t value_size) {
    auto* seen = static_cast<CutValues*>(cls);
    auto ends_line = [](char c) { return c == '\0' || c == '\r' || c == '\n'; };
    if (seen->previous_end && !ends_line(seen->previous_end[1]) && seen->previous_end + 1 != key) seen->cut = true;
    seen->previous_end = nullptr;
    if (value && value_size > 0) {
        if (value[value_size] != '\0') seen->cut = true;
        seen->previous_end = value + value_size;
    }
    return MHD_YES;
}

bool holds_cut_value(MHD_Connection* connection) {
    CutValues seen;
    MHD_get_connection_values_n(connection, MHD_HEADER_KIND, find_cut_value, &seen);
    const auto ends_line = [](char c) { return c == '\0' || c == '\r' || c == '\n'; };
    return seen.cut || (seen.previous_end && !ends_line(seen.previous_end[1]));
}

// The client has closed its end: its answer would go nowhere.
bool client_left(const HttpServer::Connection* record) {
    if (!record || record->fd == MHD_INVALID_SOCKET) return false;
    pollfd p{record->fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

MHD_Result on_request(void* cls, MHD_Connection* connection, const char*, const char* method, const char* version,
                      const char*, size_t* upload_size, void** req_cls) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<HttpServer::State*>(*req_cls);
    if (!state) return MHD_NO;  // out of memory: close
    try {
        App& app = server->app();
        if (!state->started) {
            state->started = true;
            state->method = method ? method : "";
            if (state->too_many)
                return send(*server, connection, *state,
                            plain(414, "too many arguments: at most " + std::to_string(kMaxArguments)), true);
            RequestHead head{state->method, version ? version : "", {}};
            MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect_field, &head.headers);
            // What would be read past a refused head is not read: the
            // connection closes behind the answer.
            std::optional<HttpError> refusal = check_head(head);
            if (!refusal && holds_cut_value(connection)) refusal = HttpError{400, "a control byte in a header"};
            if (refusal) return send(*server, connection, *state, from_error(*refusal), true);
            state->client = forwarded_client(connection, state->client);
            // Any other body is not ours to read: no route takes one.
            if (MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Transfer-Encoding") ||
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length")) {
                const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
                if (!length || std::strtoull(length, nullptr, 10) > 0) {
                    Response refused = plain(405, "method not allowed: GET or HEAD, with no body");
                    refused.set("Allow", "GET, HEAD, OPTIONS");
                    return send(*server, connection, *state, std::move(refused), true);
                }
            }
            return MHD_YES;
        }
        if (*upload_size > 0) {  // cannot happen after the checks above
            *upload_size = 0;
            return MHD_YES;
        }
        if (state->gone) return MHD_NO;
        if (state->ready) {
            Response response = std::move(*state->ready);
            state->ready.reset();
            return send(*server, connection, *state, std::move(response));
        }
        if (state->uri == "*") {
            const bool options = state->method == "OPTIONS";
            Response allowed = plain(options ? 200 : 400, options ? "GET, HEAD, OPTIONS" : "*: for OPTIONS only");
            allowed.set("Allow", "GET, HEAD, OPTIONS");
            return send(*server, connection, *state, std::move(allowed));
        }
        HttpRequest request;
        request.method = state->method;
        const std::string target = origin_form(state->uri);
        const size_t mark = target.find('?');
        const std::string raw_path = target.substr(0, mark);
        if (mark != std::string::npos) request.raw_query = target.substr(mark + 1);
        if (!decode_path(raw_path, request.path))
            return send(*server, connection, *state, plain(400, "path: holds a NUL"));
        MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, collect_field, &request.args);
        if (const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match"))
            request.if_none_match = state->if_none_match = v;
        if (const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Accept-Encoding"))
            request.accept_encoding = v;
        if (const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host")) request.host = v;

        Routed routed = app.route(request);
        state->route = routed.route;
        if (routed.response) return send(*server, connection, *state, std::move(*routed.response));
        // Work makes an answer to be held: room for it first, given back
        // once it is made (what it holds then is the body's).
        AnswerMemory& memory = server->answers();
        if (!memory.reserve(routed.memory)) {
            app.metrics.refused_busy();
            return send(*server, connection, *state, busy("the answers in flight hold all the memory set for them"));
        }
        if (!routed.long_job) {
            std::optional<Response> made;
            {
                const Reserved reserved{memory, routed.memory};
                made = app.run(routed, app.budget(false));
            }
            return send(*server, connection, *state, std::move(*made));
        }
        if (!server->jobs().try_reserve()) {
            memory.unreserve(routed.memory);
            app.metrics.refused_busy();
            return send(*server, connection, *state, busy("every worker is taken and the queue is full"));
        }
        Budget budget = app.budget(true);
        budget.deadline = state->start + std::chrono::seconds(app.config().timeout_seconds);
        // Suspended first, so that the worker's resume cannot come before it.
        MHD_suspend_connection(connection);
        server->jobs().push([&app, &memory, state, connection, routed = std::move(routed), budget] {
            std::optional<Reserved> reserved(std::in_place, memory, routed.memory);
            try {
                if (client_left(state->connection))
                    state->gone = true;
                else if (app.cancelled)
                    state->ready = plain(503, "the server is stopping; try again");
                else if (budget.over())
                    state->ready = plain(503, "busy: the request waited longer than " +
                                                  std::to_string(budget.timeout_seconds) + " s; try again");
                else
                    state->ready = app.run(routed, budget);
                if (state->ready && state->ready->status == 503) state->ready->set("Retry-After", "5");
            } catch (const std::bad_alloc&) {
                state->ready = plain(503, "busy: not enough memory for this request now; try again");
            } catch (const std::exception& error) {
                std::fprintf(stderr, "pdsi serve: internal error: %s\n", error.what());
                state->ready = plain(500, "internal error");
            }
            reserved.reset();
            MHD_resume_connection(connection);
        });
        return MHD_YES;
    } catch (const std::bad_alloc&) {
        return send(*server, connection, *state, plain(503, "busy: not enough memory for this request now; try again"));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pdsi serve: internal error: %s\n", error.what());
        return send(*server, connection, *state, plain(500, "internal error"));
    }
}

}  // namespace

void HttpServer::opened(Connection* connection) {
    std::lock_guard lock(connections_mutex_);
    connections_.insert(connection);
}

void HttpServer::begin(Connection* connection, State* state) {
    std::lock_guard lock(connections_mutex_);
    connection->request = state;
}

void HttpServer::closed(Connection* connection) {
    std::lock_guard lock(connections_mutex_);
    connections_.erase(connection);
}

void HttpServer::finish(Connection* connection, bool completed) {
    State* state = nullptr;
    {
        std::lock_guard lock(connections_mutex_);
        std::swap(state, connection->request);
    }
    if (!state) return;
    --app_.metrics.in_flight;
    const double seconds = std::chrono::duration<double>(Clock::now() - state->start).count();
    // What reached the client: all of it, or what went before the block
    // the library last asked for.
    const uint64_t bytes = completed ? state->bytes.load() : std::min(state->bytes.load(), state->sent->load());
    // Status 0: the library answered by itself (an over-long request) or
    // the client left before an answer.
    app_.metrics.finished(state->route, state->status, bytes, seconds);
    if (!quiet_) {
        char when[32];
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        gmtime_r(&now, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
        char tail[96];
        std::snprintf(tail, sizeof tail, " %d %llu %.1f", state->status, static_cast<unsigned long long>(bytes),
                      seconds * 1000.0);
        const std::string method = state->method.empty() ? "-" : escaped_for_log(state->method);
        const std::string line = std::string(when) + " " + state->client + " " + method + " " +
                                 escaped_for_log(state->uri) + tail + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
    delete state;
}

void HttpServer::sweep() {
    const auto window = std::chrono::seconds(app_.config().timeout_seconds);
    std::unique_lock lock(connections_mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::seconds(1));
        const auto now = Clock::now();
        for (Connection* c : connections_) {
            const State* state = c->request;
            if (!state || !state->in_blocks) {
                c->window_of = nullptr;
                continue;
            }
            const uint64_t sent = state->sent->load();
            if (c->window_of != state) {
                c->window_of = state;
                c->window = now;
                c->window_sent = sent;
                continue;
            }
            if (now - c->window < window) continue;
            // Closed under the library: its next write fails and it ends
            // the request as for any client that left.
            if (sent - c->window_sent < state->block && sent < state->bytes) ::shutdown(c->fd, SHUT_RDWR);
            c->window = now;
            c->window_sent = sent;
        }
    }
}

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
    : app_(app),
      jobs_(app.config().jobs, app.config().queue, app.metrics, kLongNiceness),
      answers_(app.config().answer_bytes),
      quiet_(quiet),
      listen_fd_(listener.fd) {
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
        MHD_OPTION_NOTIFY_CONNECTION, on_connection, this,                              //
        MHD_OPTION_STRICT_FOR_CLIENT, 1,                                                //
        MHD_OPTION_END);
    if (!daemon_) {
        ::close(listen_fd_);
        throw HttpError{0, "the HTTP library could not start on " + listener.shown};
    }
    sweeper_ = std::thread([this] { sweep(); });
}

bool HttpServer::drain(int32_t wait_seconds) {
    if (!daemon_) return true;
    app_.draining = true;
    // Shut at once, so that a new connection is refused, not left in the
    // backlog to be reset at the end; closed only once the library has
    // stopped, since its threads may still name it meanwhile.
    const MHD_socket fd = MHD_quiesce_daemon(daemon_);
    if (fd != MHD_INVALID_SOCKET) ::shutdown(fd, SHUT_RDWR);
    // A job's worker ends a moment after its answer is sent: waited for
    // too, or the stop would take it for one that cannot be stopped.
    auto jobs = [this] { return app_.metrics.jobs_running.load() + app_.metrics.jobs_queued.load() > 0; };
    auto busy = [this, &jobs] { return app_.metrics.in_flight.load() > 0 || jobs(); };
    auto wait = [&busy](Clock::duration limit) {
        const auto until = Clock::now() + limit;
        while (busy() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    wait(std::chrono::seconds(wait_seconds));
    // Past the wait: work still going is stopped at its next step and
    // answered 503; queued work is answered at once.
    app_.cancelled = true;
    wait(std::chrono::seconds(5));
    // A job still inside a step that cannot be stopped holds a suspended
    // connection, and the library must not be stopped under it.
    if (jobs()) return false;
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
    {
        std::lock_guard lock(connections_mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (sweeper_.joinable()) sweeper_.join();
}

}  // namespace serve
