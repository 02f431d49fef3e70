#pragma once
// The quality-control and gap-filling stage, run on the two extraction
// files of the current directory.
#include <cstdint>

#include "textio/console.h"

namespace qc {

// Returns to the caller on success and on every failure the stage handles.
void orvqc5(textio::Console& console, int32_t iyr1, int32_t iyr2);

}  // namespace qc
