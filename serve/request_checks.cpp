#include "serve/request_checks.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace serve {

namespace {

bool is_token_char(unsigned char c) {
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool is_named(const std::string& name, const char* wanted) { return strcasecmp(name.c_str(), wanted) == 0; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<HttpError> check_head(const RequestHead& head) {
    const std::string* length = nullptr;
    int hosts = 0, codings = 0;
    bool chunked = true;
    for (const auto& [name, value] : head.headers) {
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return is_token_char(c); }))
            return HttpError{400, "a malformed header name"};
        for (unsigned char c : value)
            if ((c < 0x20 && c != '\t') || c == 0x7f) return HttpError{400, "a control byte in the header " + name};
        if (is_named(name, "Host")) ++hosts;
        if (is_named(name, "Content-Length")) {
            const std::string_view digits = trimmed(value);
            if (digits.empty() || digits.size() > 18 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return HttpError{400, "Content-Length: not a length"};
            if (length && trimmed(*length) != digits) return HttpError{400, "Content-Length: two different lengths"};
            length = &value;
        }
        if (is_named(name, "Transfer-Encoding")) {
            ++codings;
            chunked = chunked && strcasecmp(std::string(trimmed(value)).c_str(), "chunked") == 0;
        }
    }
    if (codings > 0 && length) return HttpError{400, "both Content-Length and Transfer-Encoding"};
    if (codings > 1 || !chunked) return HttpError{501, "Transfer-Encoding: only chunked alone is understood"};
    if (head.version == "HTTP/1.1" ? hosts != 1 : hosts > 1)
        return HttpError{400, hosts == 0 ? "Host: missing" : "Host: given more than once"};
    const bool body = codings > 0 || (length && trimmed(*length).find_first_not_of('0') != std::string_view::npos);
    if (body && (head.method == "GET" || head.method == "HEAD"))
        return HttpError{400, "a " + head.method + " request takes no body"};
    return std::nullopt;
}

size_t count_arguments(std::string_view query) {
    return query.empty() ? 0 : 1 + static_cast<size_t>(std::count(query.begin(), query.end(), '&'));
}

std::string origin_form(std::string_view target) {
    const size_t scheme = target.find("://");
    if (scheme == std::string_view::npos || target.substr(0, 1) == "/") return std::string(target);
    const std::string name(target.substr(0, scheme));
    if (!is_named(name, "http") && !is_named(name, "https")) return std::string(target);
    const std::string_view rest = target.substr(scheme + 3);
    const size_t path = rest.find_first_of("/?");
    if (path == std::string_view::npos) return "/";
    if (rest[path] == '?') return "/" + std::string(rest.substr(path));
    return std::string(rest.substr(path));
}

}  // namespace serve
