#pragma once
// The one error path of the program: an unguarded read or write that fails
// throws IoError; a place where the run ends of its own accord throws RunEnd.
// Both unwind to the entry point, which closes every file on the way.
#include <stdexcept>
#include <string>

namespace textio {

class IoError : public std::runtime_error {
public:
    // what() is the error-stream line: "Error: <text> (<operation>, <unit>)".
    IoError(const std::string& text, const std::string& operation, const std::string& unit)
        : std::runtime_error("Error: " + text + " (" + operation + ", " + unit + ")") {}
};

inline constexpr const char* kReadPastEnd = "Attempt to read past end of file";
inline constexpr const char* kIllegalChar = "Illegal character in numeric input";

struct RunEnd {
    int status;  // exit status of the run
};

// Ends the run with exit status 0 (a path the program chooses itself).
[[noreturn]] inline void end_run() { throw RunEnd{0}; }

}  // namespace textio
