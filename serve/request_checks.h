#pragma once
// What a request's head must be before anything past it is read: a proxy
// in front and this server must agree where one request ends and the next
// begins, so whatever two readers could take two ways is refused.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "serve/http_types.h"

namespace serve {

// More arguments than any route takes: refused before they are parsed.
inline constexpr size_t kMaxArguments = 64;

struct RequestHead {
    std::string method;
    std::string version;  // "HTTP/1.1"
    Fields headers;       // as received, NULs and all
};

// The refusal of a head this server reads no further (400, or 501 for a
// transfer coding it does not know), or none.
std::optional<HttpError> check_head(const RequestHead& head);

// The arguments a query holds, as the library would split it.
size_t count_arguments(std::string_view query);

// "http://host/path?q" (absolute form) as "/path?q"; anything else as it is.
std::string origin_form(std::string_view target);

}  // namespace serve
