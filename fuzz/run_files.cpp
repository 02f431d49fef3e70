// The reader of a run's text files, as `pdsi convert` uses it, on arbitrary
// text. Lines "%%" split the input: MonthlyPDSI.xy, then MonthlyPDSI.tsf,
// then, when there is a third part, MonthlyPDSI_QC.tsf. A file it takes
// must come back whole: the values and estimates shaped by the span and
// the cells, every cell on the grid.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "runfiles/run_data.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void put(const char* name, const std::string& text) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t cut; (cut = text.find("\n%%\n", at)) != std::string::npos; at = cut + 4)
        parts.push_back(text.substr(at, cut + 1 - at));
    parts.push_back(text.substr(at));
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool entered = (fuzz::enter_scratch_dir(), true);
    (void)entered;
    const auto parts = split(std::string(reinterpret_cast<const char*>(data), size));
    put("MonthlyPDSI.xy", parts[0]);
    put("MonthlyPDSI.tsf", parts.size() > 1 ? parts[1] : "");
    std::remove("MonthlyPDSI_QC.tsf");
    if (parts.size() > 2) put("MonthlyPDSI_QC.tsf", parts[2]);
    try {
        const runfiles::RunData run = runfiles::read_run(".");
        const size_t want = static_cast<size_t>(run.nmon()) * run.cells.size();
        if (run.cells.empty() ? run.nmon() != 0 : run.iyr1 < 1850 || run.iyr2 > 2010 || run.iyr2 < run.iyr1)
            fail("span outside the grid's");
        if (run.values.size() != want) fail("values not shaped by the span and the cells");
        if (run.filled() && run.estimates.size() != want) fail("estimates not shaped as the values");
        if (run.citation.size() != 3) fail("not three citation lines");
        for (const auto& cell : run.cells)
            if (cell.lat < -58.75f || cell.lat > 76.25f || cell.lon < -178.75f || cell.lon > 178.75f)
                fail("a cell off the grid");
    } catch (const runfiles::RunFileError&) {
        // One clear refusal.
    }
    return 0;
}
