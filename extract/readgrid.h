#pragma once
// The grid reader: one forward pass over the grid file that keeps the
// span's months for the box.
#include <cstdint>
#include <string>

#include "extract/box.h"
#include "extract/grid_store.h"
#include "textio/console.h"

namespace extract {

// Reads months January iyr1 to December iyr2 of the box's cells from the
// grid file at `path`. A box row that cannot be read is reported on the
// console and ends the run (RunEnd); the file ending anywhere else is an
// input error (IoError).
GridStore readgrid(textio::Console& console, const std::string& path, int32_t iyr1, int32_t iyr2, const Box& box);

}  // namespace extract
