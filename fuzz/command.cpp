// The command line, in process, on arbitrary argument vectors against a
// small generated grid: words are the input's lines.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/app.h"
#include "fuzz/support.h"
#include "tools/grid_writer.h"

namespace {

float grid_value(int32_t i, int32_t j, int32_t m) {
    if ((7 * i + 3 * j) % 11 == 0) return -99.9f;
    if ((i + j + m) % 13 == 0) return -99.9f;
    return std::round(300.0f * std::sin(0.3f * i + 0.2f * j + 0.5f * m)) / 100.0f;
}

std::ostringstream dropped;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enter_scratch_dir();
    tools::write_grid_file("pdsisc1850-2010.txt", 24, grid_value);
    std::cout.rdbuf(dropped.rdbuf());
    std::cerr.rdbuf(dropped.rdbuf());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t k = 0; k < size; ++k) {
        const char c = static_cast<char>(data[k]);
        if (c == '\n') args.emplace_back();
        else args.back() += c;
    }
    // The run writes where it is told: only into the scratch folder.
    for (const std::string& arg : args)
        if (arg.find('/') != std::string::npos || arg.find("..") != std::string::npos) return 0;
    cli::run_command(args);
    dropped.str("");
    return 0;
}
