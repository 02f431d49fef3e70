#pragma once
// The request's path as the client wrote it, decoded by the server itself.
#include <string>

namespace serve {

// Percent-decodes `raw` into `out`; false when it holds an encoded NUL
// (the library's own decoded copy stops there, so "a.tsf%00.txt" would
// pass for "a.tsf"). A '%' not followed by two hex digits stays as it is.
bool decode_path(const std::string& raw, std::string& out);

}  // namespace serve
