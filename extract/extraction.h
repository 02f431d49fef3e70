#pragma once
// The extraction itself, after the questions: the box, one pass over the
// grid file, the screen and the two files. Both front ends run this.
#include <cstdint>
#include <filesystem>

#include "extract/box.h"
#include "extract/request.h"
#include "textio/console.h"
#include "textio/progress.h"

namespace extract {

struct ExtractionPaths {
    std::filesystem::path grid;  // the grid file
    std::filesystem::path dir;   // where the files go; empty: the working directory
    textio::Progress* progress = nullptr;  // months of the grid read
    int32_t threads = 1;                   // the output is the same for any count
};

struct Extraction {
    Box box;
    int32_t nbox = 0;   // cells in the box
    int32_t nkept = 0;  // cells written
};

// Prints the steps on the console as the dialogue shows them. A broken box
// row throws GridReadFailure before anything is written.
Extraction extract_cells(textio::Console& console, const Request& request, const ExtractionPaths& paths);

}  // namespace extract
