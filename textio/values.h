#pragma once
// The values a layout writes and the variables it reads into.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace textio {

// One value of an output list: an integer, a single-precision real or a text.
struct OutValue {
    std::variant<int32_t, float, std::string_view> v;
    OutValue(int32_t i) : v(i) {}
    OutValue(float f) : v(f) {}
    OutValue(std::string_view s) : v(s) {}
    OutValue(const char* s) : v(std::string_view(s)) {}
    OutValue(const std::string& s) : v(std::string_view(s)) {}
};

// One variable of an input list. A text variable's declared length is its
// current size(); reads keep that size and fill it with blanks as needed.
struct InTarget {
    std::variant<int32_t*, float*, bool*, std::string*> v;
    InTarget(int32_t& i) : v(&i) {}
    InTarget(float& f) : v(&f) {}
    InTarget(bool& b) : v(&b) {}
    InTarget(std::string& s) : v(&s) {}
};

// Result of a read: the three statuses the callers test.
enum class ReadStatus : int32_t { ok = 0, error = 1, end = 2 };

}  // namespace textio
