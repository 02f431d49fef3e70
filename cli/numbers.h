#pragma once
// The command's numbers: plain decimal text, whole values only, each turned
// into the single-precision value the dialogue would hold.
#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

struct YearSpan {
    int32_t first = 0;
    int32_t last = 0;
};

struct RealSpan {
    float low = 0.0f;
    float high = 0.0f;
};

// Each returns "" on success or what is wrong with the text.
std::string parse_year(std::string_view text, int32_t& year);
std::string parse_real(std::string_view text, float& value);
// A whole number of threads, 1 to 1024.
std::string parse_threads(std::string_view text, int32_t& count);
// "FIRST:LAST": both years within the grid's span, LAST not before FIRST.
std::string parse_year_span(std::string_view text, YearSpan& span);
// "LOW:HIGH", two reals; their order is judged after the clamps.
std::string parse_real_span(std::string_view text, RealSpan& span);

}  // namespace cli
