#include "cli/numbers.h"

#include <charconv>
#include <cmath>

#include "extract/grid_axes.h"
#include "textio/editors.h"

namespace cli {

namespace {

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Splits at the one colon; a negative bound keeps its sign.
bool split_span(std::string_view text, std::string_view& low, std::string_view& high) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) return false;
    low = text.substr(0, colon);
    high = text.substr(colon + 1);
    return true;
}

}  // namespace

std::string parse_year(std::string_view text, int32_t& year) {
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return quoted(text) + " is not a year";
    if (value < extract::kFirstYear || value > extract::kLastYear)
        return "year " + std::to_string(value) + " is outside 1850-2010";
    year = value;
    return "";
}

std::string parse_threads(std::string_view text, int32_t& count) {
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 1024)
        return quoted(text) + " is not a thread count (1 to 1024)";
    count = value;
    return "";
}

std::string parse_real(std::string_view text, float& value) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    float parsed = 0.0f;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (digits.empty() || end != digits.data() + digits.size() || (ec != std::errc() && ec != std::errc::result_out_of_range))
        return quoted(text) + " is not a number";
    if (ec == std::errc::result_out_of_range || !std::isfinite(parsed))
        return quoted(text) + " is not a finite single-precision number";
    // Without an exponent the dialogue's own field editor gives the value,
    // so both programs hold the same float for the same digits.
    if (digits.find_first_of("eE") == std::string_view::npos && textio::parse_real(digits, 0, value)) return "";
    value = parsed;
    return "";
}

std::string parse_year_span(std::string_view text, YearSpan& span) {
    std::string_view first, last;
    if (!split_span(text, first, last)) return quoted(text) + " is not FIRST:LAST";
    YearSpan parsed;
    if (auto error = parse_year(first, parsed.first); !error.empty()) return error;
    if (auto error = parse_year(last, parsed.last); !error.empty()) return error;
    if (parsed.last < parsed.first)
        return "the last year " + std::to_string(parsed.last) + " is before the first " + std::to_string(parsed.first);
    span = parsed;
    return "";
}

std::string parse_real_span(std::string_view text, RealSpan& span) {
    std::string_view low, high;
    if (!split_span(text, low, high)) return quoted(text) + " is not LOW:HIGH";
    RealSpan parsed;
    if (auto error = parse_real(low, parsed.low); !error.empty()) return error;
    if (auto error = parse_real(high, parsed.high); !error.empty()) return error;
    span = parsed;
    return "";
}

}  // namespace cli
