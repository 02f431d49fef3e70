#pragma once
// The stage's welcome screen, closed by a wait for Return.
#include "textio/console.h"

namespace qc {

void show_welcome(textio::Console& console);

}  // namespace qc
