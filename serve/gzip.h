#pragma once
// gzip bodies with zlib, and whether a client takes them.
#include <string>
#include <string_view>

namespace serve {

std::string gzip(std::string_view bytes);
// Accept-Encoding names gzip (or *) without q=0.
bool accepts_gzip(std::string_view accept_encoding);

}  // namespace serve
