// The server's head checks, router and query parser, in process, on
// arbitrary requests as the HTTP library hands them over: the first line is
// the method (and a version after a blank), the second the target as sent,
// the rest raw header lines, a line starting with a blank folded into the
// one before. Cheap answers are made too, against a small generated grid.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/support.h"
#include "serve/app.h"
#include "serve/loaded_grid.h"
#include "serve/request_checks.h"
#include "serve/uri.h"
#include "tools/grid_writer.h"

namespace {

float grid_value(int32_t i, int32_t j, int32_t m) {
    if ((7 * i + 3 * j) % 11 == 0) return -99.9f;
    return std::round(300.0f * std::sin(0.3f * i + 0.2f * j + 0.5f * m)) / 100.0f;
}

std::unique_ptr<serve::LoadedGrid> grid;
std::unique_ptr<serve::App> app;

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// As the library decodes an argument: '+' a blank, %XX a byte, NULs kept.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '+') {
            out += ' ';
        } else if (text[k] == '%' && k + 2 < text.size() && hex(text[k + 1]) >= 0 && hex(text[k + 2]) >= 0) {
            out += static_cast<char>(hex(text[k + 1]) * 16 + hex(text[k + 2]));
            k += 2;
        } else {
            out += text[k];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enter_scratch_dir();
    tools::write_grid_file("grid.txt", 24, grid_value);
    grid = serve::LoadedGrid::load("grid.txt", 1);
    serve::ServerConfig config;
    config.cache_bytes = 1 << 20;
    app = std::make_unique<serve::App>(*grid, fuzz::scratch_dir(), config);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t k = 0; k < size; ++k) {
        if (data[k] == '\n') lines.emplace_back();
        else lines.back() += static_cast<char>(data[k]);
    }
    serve::RequestHead head;
    const size_t blank = lines[0].find(' ');
    head.method = lines[0].substr(0, blank);
    head.version = blank == std::string::npos ? "HTTP/1.1" : lines[0].substr(blank + 1);
    for (size_t k = 2; k < lines.size(); ++k) {
        if ((lines[k].starts_with(" ") || lines[k].starts_with("\t")) && !head.headers.empty()) {
            head.headers.back().second += " " + lines[k].substr(1);
            continue;
        }
        const size_t colon = lines[k].find(':');
        if (colon == std::string::npos) continue;
        std::string value = lines[k].substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
        head.headers.emplace_back(lines[k].substr(0, colon), value);
    }
    if (const auto refusal = serve::check_head(head)) {
        if (refusal->status != 400 && refusal->status != 501) __builtin_trap();
        return 0;
    }
    serve::HttpRequest request;
    request.method = head.method;
    const std::string target = serve::origin_form(lines.size() > 1 ? lines[1] : "/");
    const size_t mark = target.find('?');
    if (mark != std::string::npos && serve::count_arguments(target.substr(mark + 1)) > serve::kMaxArguments) return 0;
    if (!serve::decode_path(target.substr(0, mark), request.path)) return 0;
    if (mark != std::string::npos) {
        request.raw_query = target.substr(mark + 1);
        size_t at = 0;
        while (at <= request.raw_query.size()) {
            size_t end = request.raw_query.find('&', at);
            if (end == std::string::npos) end = request.raw_query.size();
            const std::string pair = request.raw_query.substr(at, end - at);
            const size_t eq = pair.find('=');
            if (!pair.empty())
                request.args.emplace_back(unescape(pair.substr(0, eq)),
                                          eq == std::string::npos ? "" : unescape(pair.substr(eq + 1)));
            at = end + 1;
        }
    }
    for (const auto& [name, value] : head.headers) {
        if (name == "If-None-Match") request.if_none_match = value;
        if (name == "Accept-Encoding") request.accept_encoding = value;
        if (name == "Host") request.host = value;
    }
    serve::Routed routed = app->route(request);
    if (!routed.response && routed.work && !routed.long_job) routed.response = app->run(routed, app->budget(false));
    if (routed.response) routed.response = serve::conditional(request.if_none_match, std::move(*routed.response));
    if (routed.response && routed.response->status >= 500 && routed.response->status != 503 &&
        routed.response->status != 504)
        __builtin_trap();  // nothing a client sends may fail the server
    return 0;
}
