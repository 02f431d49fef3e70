#pragma once
// The run driver: banner, file check, the extraction dialogue, the
// extraction itself, the optional gap filling and the closing lines.
#include "textio/console.h"

namespace extract {

// Runs once; returns when the run ends normally after its closing wait.
// Other ends of the run leave by textio::RunEnd or textio::IoError.
void run_driver(textio::Console& console);

}  // namespace extract
