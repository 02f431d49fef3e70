// The grid reader on arbitrary bytes as the grid file, for small boxes and
// spans: the row layout with and without the skip, rows at both edges of
// the grid, and a span that skips a year first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "extract/box.h"
#include "extract/readgrid.h"
#include "extract/screen.h"
#include "fuzz/support.h"
#include "textio/errors.h"

namespace {

struct Case {
    int32_t iyr1, iyr2;
    extract::Box box;
};

constexpr Case kCases[] = {
    {1850, 1850, {1, 2, 1, 2}},
    {1850, 1850, {3, 4, 2, 3}},
    {1851, 1851, {2, 2, 55, 55}},
};

std::string grid_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    grid_path = fuzz::scratch_dir() + "/pdsisc1850-2010.txt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(grid_path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::perror(grid_path.c_str());
        std::abort();
    }
    for (const Case& c : kCases) {
        try {
            const extract::GridStore store = extract::readgrid(grid_path, c.iyr1, c.iyr2, c.box);
            extract::screencells(store, 0.5f);
        } catch (const extract::GridReadFailure&) {
            // A broken box row: the driver reports it.
        } catch (const textio::IoError&) {
            // The file ended outside the box's rows.
        }
    }
    return 0;
}
