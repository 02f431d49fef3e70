#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace cli {

TerminalProgress::TerminalProgress(std::string what, bool enabled) : what_(std::move(what)), enabled_(enabled) {}

TerminalProgress::~TerminalProgress() {
    if (shown_) std::fputs("\r\033[K", stderr);
}

bool TerminalProgress::stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

void TerminalProgress::advance(int32_t done, int32_t total) {
    if (!enabled_ || total <= 0) return;
    const int32_t percent = static_cast<int32_t>(100LL * done / total);
    if (percent == last_percent_) return;  // a redraw per percent, not per month
    last_percent_ = percent;
    std::fprintf(stderr, "\r%s %d of %d (%d%%)\033[K", what_.c_str(), done, total, percent);
    std::fflush(stderr);
    shown_ = true;
}

}  // namespace cli
