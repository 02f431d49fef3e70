#pragma once
// The run's file names as the dialogue shows them: fixed-width fields of
// the name followed by blanks. Files are opened by the name alone.
#include <string>
#include <string_view>

namespace extract {

inline constexpr std::string_view kInputName = "pdsisc1850-2010.txt";
inline constexpr std::string_view kTsfName = "MonthlyPDSI.tsf";
inline constexpr std::string_view kXyName = "MonthlyPDSI.xy";

inline std::string padded(std::string_view name, size_t width) {
    std::string field(name);
    field.resize(width, ' ');
    return field;
}

inline std::string infl() { return padded(kInputName, 50); }
inline std::string outfl() { return padded(kTsfName, 40); }

}  // namespace extract
