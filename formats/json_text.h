#pragma once
// A JSON string of our own texts (names, URLs, attributes): quotes,
// backslashes and control bytes escaped, everything else as it is.
#include <cstdio>
#include <string>
#include <string_view>

namespace formats {

inline std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace formats
