#pragma once
// The questions of the extraction dialogue and the small pieces they share.
#include <cstdint>

#include "extract/request.h"
#include "textio/console.h"

namespace extract {

// The year span: iyr1 in 1850..2010, iyr2 in iyr1..2010.
void ask_years(textio::Console& console, Request& request);
// The four bounds, clamped to the outermost mid-points and confirmed.
void ask_box(textio::Console& console, Request& request);
// The accepted fraction of missing months; any readable value passes.
void ask_pctmiss(textio::Console& console, Request& request);

// A true/false answer by the free-form rules. An answer that gives no
// value (a leading slash or comma) counts as false.
bool read_true_false(textio::Console& console);
// A wait: a line of a blank and `text`, then one line read and ignored.
void wait(textio::Console& console, const char* text);
// "Hit return to CONTINUE" between empty lines, then one character read.
void continue_wait(textio::Console& console);

}  // namespace extract
