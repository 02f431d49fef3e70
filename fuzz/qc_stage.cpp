// The whole QC stage on arbitrary extraction files, span 1999 to 2001. The
// input is split by lines "%%": the coordinate file, the data file and,
// if given, the console answers (else a calibration period of 2000-2001).
// Before the stage runs, the neighbourhood index must list for every cell
// what the plain search lists. The stage runs with one thread and with
// three: the console and every file it writes must agree.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "qc/findgridpoints.h"
#include "qc/input_files.h"
#include "qc/neighbour_index.h"
#include "qc/orvqc5.h"
#include "qc/stage_data.h"
#include "textio/console.h"
#include "textio/errors.h"

namespace {

constexpr int32_t kFirst = 1999, kLast = 2001;

void put_file(const char* name, const std::string& text) {
    std::FILE* f = std::fopen(name, "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::perror(name);
        std::abort();
    }
}

// Cuts the next part off `rest`, up to a line "%%"; the last part is the rest.
std::string take_part(std::string& rest) {
    const size_t at = rest.find("\n%%\n");
    std::string part = rest.substr(0, at == std::string::npos ? rest.size() : at + 1);
    rest = at == std::string::npos ? std::string() : rest.substr(at + 4);
    return part;
}

const char* const kOutputs[] = {"MonthlyPDSI_col.tsf", "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf",
                                 "MonthlyPDSI_QC.out"};

std::string read_file(const char* name) {
    std::string text;
    if (std::FILE* f = std::fopen(name, "rb")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

void compare_searches(const std::string& xy) {
    std::vector<float> lats, lons;
    textio::StringSource in(xy, "MonthlyPDSI.xy");
    qc::read_coordinates(in, lats, lons);
    qc::StageData data(kFirst, kLast);
    data.set_cells(lats, lons);
    const qc::NeighbourIndex index(data.coord.data(), data.ngrid, data.ngrid);
    int32_t a[qc::kListCapacity], b[qc::kListCapacity];
    for (int32_t c = 1; c <= data.ngrid; ++c) {
        for (const float dist : {2.5f, 5.0f}) {
            int32_t na = -1, nb = -1;
            index.find(c, na, a, data.iyrs.data(), qc::kListCapacity, dist);
            qc::findgridpoints(data.coord.data(), data.ngrid, c, nb, b, data.iyrs.data(), data.ngrid,
                               qc::kListCapacity, dist);
            if (na != nb || std::memcmp(a, b, sizeof a) != 0) {
                std::fprintf(stderr, "index and search differ for cell %d at %.1f\n", c, dist);
                std::abort();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string rest(reinterpret_cast<const char*>(data), size);
    const std::string xy = take_part(rest);
    const std::string tsf = take_part(rest);
    const std::string answers = rest.empty() ? "\n2000\n2001\n\n" : rest;
    compare_searches(xy);

    put_file("MonthlyPDSI.xy", xy);
    put_file("MonthlyPDSI.tsf", tsf);
    std::string seen[2];
    for (int32_t run = 0; run < 2; ++run) {
        for (const char* name : kOutputs) std::remove(name);
        textio::StringSource keyboard(answers, "console");
        textio::StringSink display;
        textio::Console console(keyboard, display);
        try {
            qc::orvqc5(console, kFirst, kLast, 1 + 2 * run);
        } catch (const textio::IoError& error) {
            // The text layer's input error: a bad year record or the answers ran out.
            display.buffer() += error.what();
        }
        seen[run] = display.text();
        for (const char* name : kOutputs) seen[run] += std::string("\n%%\n") + read_file(name);
    }
    if (seen[0] != seen[1]) {
        std::fprintf(stderr, "one thread and three disagree\n");
        std::abort();
    }
    return 0;
}
