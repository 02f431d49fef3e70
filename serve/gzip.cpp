#include "serve/gzip.h"

#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>

namespace serve {

std::string gzip(std::string_view bytes, bool fast) {
    z_stream z{};
    // Large answers are compressed at the fastest level: the time saved
    // on the wire is lost again at the deflater otherwise.
    const int level = fast || bytes.size() > (4u << 20) ? 1 : 6;
    if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("gzip: the deflater did not finish");
    return out;
}

bool accepts_gzip(std::string_view header) {
    // A weight on gzip itself decides; "*" speaks only for codings not named.
    std::optional<bool> named, any;
    size_t at = 0;
    while (at <= header.size()) {
        size_t end = header.find(',', at);
        if (end == std::string_view::npos) end = header.size();
        std::string_view item = header.substr(at, end - at);
        at = end + 1;
        auto trim = [](std::string_view s) {
            while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
            while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
            return s;
        };
        std::string_view coding = item, params;
        if (const size_t semi = item.find(';'); semi != std::string_view::npos) {
            coding = item.substr(0, semi);
            params = item.substr(semi + 1);
        }
        coding = trim(coding);
        std::string lower;
        for (char c : coding) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const bool gzip = lower == "gzip" || lower == "x-gzip";
        if (!gzip && lower != "*") continue;
        bool accepted = true;
        params = trim(params);
        if (params.size() >= 2 && (params[0] == 'q' || params[0] == 'Q') && params[1] == '=') {
            const std::string q(params.substr(2));
            char* stop = nullptr;
            const double value = std::strtod(q.c_str(), &stop);
            accepted = stop == q.c_str() || value > 0.0;
        }
        if (gzip)
            named = named.value_or(false) || accepted;
        else
            any = accepted;
    }
    return named.value_or(any.value_or(false));
}

}  // namespace serve
