#pragma once
// The inverse of the server's gzip, for checking its compressed answers.
#include <zlib.h>

#include <string>

namespace serve_test {

inline std::string gunzip(const std::string& bytes) {
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    std::string out;
    char buffer[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    // Bytes after the stream are no gzip a strict client takes.
    return rc == Z_STREAM_END && z.avail_in == 0 ? out : "(not gzip)";
}

}  // namespace serve_test
