// The progress line on a terminal: one redraw per percent, nothing for an
// empty count, and the line cleared at the end.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cli/progress.h"

namespace cli {
namespace {

TEST(TerminalProgress, OneRedrawPerPercent) {
    struct Row { const char* name; std::vector<std::pair<int32_t, int32_t>> steps; std::string shown; };
    const Row rows[] = {
        {"an empty count", {{0, 0}}, ""},
        {"months within one percent", {{1, 1000}, {9, 1000}, {10, 1000}},
         "\rn 1 of 1000 (0%)\033[K\rn 10 of 1000 (1%)\033[K\r\033[K"},
    };
    for (const Row& row : rows) {
        testing::internal::CaptureStderr();
        {
            TerminalProgress progress("n", true);
            for (const auto& [done, total] : row.steps) progress.advance(done, total);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.shown) << row.name;
    }
}

}  // namespace
}  // namespace cli
