#pragma once
// Progress on standard error, only when it is a terminal: one line that
// rewrites itself, cleared when the step ends.
#include <cstdint>
#include <string>

#include "textio/progress.h"

namespace cli {

class TerminalProgress : public textio::Progress {
public:
    // `what` names the count, e.g. "reading the grid: month".
    TerminalProgress(std::string what, bool enabled);
    ~TerminalProgress() override;
    void advance(int32_t done, int32_t total) override;
    // True when standard error is a terminal.
    static bool stderr_is_terminal();

private:
    std::string what_;
    bool enabled_;
    bool shown_ = false;
    int32_t last_percent_ = -1;
};

}  // namespace cli
