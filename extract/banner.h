#pragma once
// The opening screens: the banner and the check for the grid file.
#include "textio/console.h"

namespace extract {

void show_banner(textio::Console& console);
// Says whether the grid file is there; when it is not, warns, waits and
// ends the run (RunEnd).
void check_input_file(textio::Console& console);

}  // namespace extract
