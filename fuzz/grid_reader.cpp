// The grid reader on arbitrary bytes as the grid file, for small boxes and
// spans: the row layout with and without the skip, rows at both edges of
// the grid, and a span that skips a year first. Each is read with one
// thread and with three: the values, or the failure and its record, must
// agree.
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
        std::string outcome[2];
        for (int32_t run = 0; run < 2; ++run) {
            try {
                const extract::GridStore store = extract::readgrid(grid_path, c.iyr1, c.iyr2, c.box, nullptr, 1 + 2 * run);
                const auto keep = extract::screencells(store, 0.5f, 1 + 2 * run);
                const size_t bytes = static_cast<size_t>(store.nmon()) * sizeof(float);
                for (int32_t n = 1; n <= c.box.nbox(); ++n)
                    outcome[run].append(reinterpret_cast<const char*>(store.series(n)), bytes);
                for (int32_t k : keep) outcome[run] += static_cast<char>('0' + k);
            } catch (const extract::GridReadFailure& failure) {
                // A broken box row: the driver reports it.
                outcome[run] = "failure at " + std::to_string(failure.nrec) + ": " + failure.fault;
            } catch (const extract::GridEnded& ended) {
                outcome[run] = "ended at " + std::to_string(ended.nrec);
            } catch (const textio::IoError& error) {
                // The file ended outside the box's rows.
                outcome[run] = error.what();
            }
        }
        if (outcome[0] != outcome[1]) {
            std::fprintf(stderr, "one thread and three disagree\n");
            std::abort();
        }
    }
    return 0;
}
