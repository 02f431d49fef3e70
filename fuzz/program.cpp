// The whole program, in process, on arbitrary console input against a
// small generated grid (1850 and 1851 only, so later years end the file),
// with both stages writing their files into a scratch directory.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "extract/driver.h"
#include "fuzz/support.h"
#include "textio/console.h"
#include "tools/grid_writer.h"

namespace {

// Land with gaps and an outlier now and then; every eleventh cell ocean.
float grid_value(int32_t i, int32_t j, int32_t m) {
    if ((7 * i + 3 * j) % 11 == 0) return -99.9f;
    if ((i + j + m) % 17 == 0) return -99.9f;
    if ((i * j + m) % 97 == 0) return 12.5f;
    return std::round(400.0f * std::sin(0.3f * i + 0.2f * j + 0.5f * m)) / 100.0f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enter_scratch_dir();
    tools::write_grid_file("pdsisc1850-2010.txt", 24, grid_value);
    return 0;
}

// As the entry point does, with the answers from the input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    textio::StringSource keyboard(std::string(reinterpret_cast<const char*>(data), size), "console");
    // PDSI_FUZZ_SHOW=1 shows the dialogue, to see where a seed leads.
    static const bool show = std::getenv("PDSI_FUZZ_SHOW") != nullptr;
    fuzz::DiscardSink discard;
    textio::StreamSink shown(stdout, "console");
    textio::Sink& display = show ? static_cast<textio::Sink&>(shown) : discard;
    textio::Console console(keyboard, display);
    extract::run_program(console, nullptr);
    return 0;
}
