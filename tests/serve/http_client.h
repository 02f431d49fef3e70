#pragma once
// A real HTTP client (libcurl) for the server's tests.
#include <map>
#include <string>
#include <vector>

namespace serve_test {

struct Reply {
    long status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string header(const std::string& name) const {
        const auto at = headers.find(name);
        return at == headers.end() ? "" : at->second;
    }
};

// `method` GET or HEAD or any other; `headers` as "Name: value" lines.
// Bodies arrive as sent: gzip is not undone.
Reply fetch(const std::string& url, const std::vector<std::string>& headers = {}, const std::string& method = "GET");

// A request written by hand on a socket, for what no client sends.
std::string raw_exchange(int port, const std::string& request, const std::string& host = "127.0.0.1");

}  // namespace serve_test
