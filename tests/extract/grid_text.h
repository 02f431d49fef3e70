#pragma once
// Small grid files for the reader's tests: only the rows jlo..jhi hold
// their 144 fields; every other row is an empty line, which the reader
// skips unread, so even 1932 month blocks stay small.
#include <cstdint>
#include <functional>
#include <string>

#include "textio/editors.h"

namespace extract_test {

inline std::string grid_text(int32_t nmonths, int32_t jlo, int32_t jhi,
                             const std::function<float(int32_t i, int32_t j, int32_t m)>& value) {
    std::string text = "grid file header\n";
    for (int32_t m = 1; m <= nmonths; ++m) {
        text += "month " + std::to_string(m) + "\n";
        for (int32_t j = 1; j <= 55; ++j) {
            if (j >= jlo && j <= jhi) {
                for (int32_t i = 1; i <= 144; ++i) {
                    textio::edit_real(text, value(i, j, m), 6, 2);
                    text += ' ';
                }
            }
            text += '\n';
        }
    }
    return text;
}

// A value that names its cell and month, exact at two decimals.
inline float code(int32_t i, int32_t j, int32_t m) {
    return static_cast<float>((i * 7 + j * 3) % 50 * 1000 + m % 1000) / 100.0f;
}

}  // namespace extract_test
