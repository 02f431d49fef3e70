#include "serve/http_types.h"

#include <strings.h>

#include <cstdio>

namespace serve {

const std::string* Response::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return &value;
    return nullptr;
}

void Response::set(std::string name, std::string value) {
    for (auto& [key, old] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            old = std::move(value);
            return;
        }
    headers.emplace_back(std::move(name), std::move(value));
}

Response plain(int status, const std::string& line) {
    Response response;
    response.status = status;
    // The line may quote what a client sent: no control bytes go back.
    std::string text;
    for (unsigned char c : line) text += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
    response.body = std::make_shared<const std::string>(text + "\n");
    response.set("Content-Type", "text/plain; charset=utf-8");
    response.set("Cache-Control", "no-store");
    return response;
}

Response from_error(const HttpError& error) { return plain(error.status, error.message); }

uint64_t fnv1a(std::string_view text, uint64_t h) {
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string http_date(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return text;
}

bool none_match_hits(std::string_view header, std::string_view etag) {
    auto opaque = [](std::string_view tag) {
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
        if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
        return tag;
    };
    while (!header.empty()) {
        const size_t comma = header.find(',');
        const std::string_view tag = opaque(header.substr(0, comma));
        if (tag == "*" || (!tag.empty() && tag == opaque(etag))) return true;
        if (comma == std::string_view::npos) break;
        header.remove_prefix(comma + 1);
    }
    return false;
}

Response conditional(const std::string& if_none_match, Response response) {
    const std::string* etag = response.header("ETag");
    if (response.status < 200 || response.status > 299 || !etag || !none_match_hits(if_none_match, *etag))
        return response;
    Response unchanged;
    unchanged.status = 304;
    for (const char* name : {"ETag", "Cache-Control", "Vary", "Last-Modified"})
        if (const std::string* value = response.header(name)) unchanged.set(name, *value);
    return unchanged;
}

}  // namespace serve
