#include "serve/http_types.h"

#include <strings.h>

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

}  // namespace serve
