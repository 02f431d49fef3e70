#include "serve/uri.h"

namespace serve {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool decode_path(const std::string& raw, std::string& out) {
    out.clear();
    for (size_t k = 0; k < raw.size(); ++k) {
        if (raw[k] == '%' && k + 2 < raw.size() && hex_digit(raw[k + 1]) >= 0 && hex_digit(raw[k + 2]) >= 0) {
            const char c = static_cast<char>(hex_digit(raw[k + 1]) * 16 + hex_digit(raw[k + 2]));
            if (c == '\0') return false;
            out += c;
            k += 2;
        } else {
            out += raw[k];
        }
    }
    return true;
}

}  // namespace serve
