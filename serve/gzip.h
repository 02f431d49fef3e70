#pragma once
// gzip bodies with zlib, and whether a client takes them.
#include <string>
#include <string_view>

namespace serve {

// `fast`: the fastest level whatever the size, for answers made anew on
// every request, where the deflater's time is the answer's time.
std::string gzip(std::string_view bytes, bool fast = false);
// Accept-Encoding takes gzip: named without q=0, or "*" without q=0 when
// gzip is not named.
bool accepts_gzip(std::string_view accept_encoding);

}  // namespace serve
