#pragma once
// What the server's handlers take and give: no socket, no HTTP library.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace serve {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;       // "GET", "HEAD", ...
    std::string path;         // decoded, without the query
    std::string raw_query;    // as sent, after the '?'
    Fields args;              // decoded query arguments, in order, repeats kept
    std::string if_none_match;
    std::string accept_encoding;
    std::string host;         // the Host header, for URLs a document gives back
};

// A body made as the client reads it, from what is already in memory, so
// that a slow reader holds a block of it, not the whole answer.
class BodySource {
public:
    virtual ~BodySource() = default;
    virtual uint64_t size() const = 0;
    // Up to `max` bytes from `at` into `out`: how many, at least one while
    // any remain. Throws HttpError when the bytes cannot be had.
    virtual size_t read(uint64_t at, char* out, size_t max) = 0;
};

struct Response {
    int status = 200;
    Fields headers;
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    std::shared_ptr<BodySource> stream;  // when set, the body in place of `body`

    const std::string* header(const std::string& name) const;
    void set(std::string name, std::string value);
};

// A request the server refuses or cannot serve: one line naming what.
struct HttpError {
    int status;
    std::string message;
};

// A plain-text, one-line answer that no cache keeps.
Response plain(int status, const std::string& line);
Response from_error(const HttpError& error);

// A 64-bit FNV-1a hash: entity tags from what an answer depends on.
uint64_t fnv1a(std::string_view text, uint64_t h = 14695981039346656037ull);
// An HTTP date (RFC 9110), for Last-Modified.
std::string http_date(std::time_t t);
// If-None-Match (a list of tags, or *) holds `etag`, compared weakly.
bool none_match_hits(std::string_view header, std::string_view etag);
// 304 in place of `response` when it is a 2xx with an ETag that
// If-None-Match holds; otherwise `response` as it is.
Response conditional(const std::string& if_none_match, Response response);

}  // namespace serve
