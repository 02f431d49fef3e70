#pragma once
// The run driver: banner, file check, the extraction dialogue, the
// extraction itself, the optional gap filling and the closing lines.
#include <cstdint>
#include <cstdio>

#include "textio/console.h"

namespace extract {

// Runs once; returns when the run ends normally after its closing wait.
// Other ends of the run leave by textio::RunEnd or textio::IoError.
// `threads` shares out the work; what the run shows and writes is the same
// for any count.
void run_driver(textio::Console& console, int32_t threads = 1);

// The whole run: the driver, the error line on `errors` (none when null)
// after a failed read or write, and the end of the run. Returns the exit
// status.
int run_program(textio::Console& console, std::FILE* errors, int32_t threads = 1);

}  // namespace extract
