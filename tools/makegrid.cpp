// makegrid [--seed N] [--out FILE]: writes the sample data set, the full
// 1850-2010 grid file, deterministically from the seed. Prints only errors.
// (--months N writes only the first N month blocks; for quick tests.)
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "textio/errors.h"
#include "tools/sample_grid.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: makegrid [--seed N] [--out FILE]\n");
    return 2;
}

template <typename T>
bool parse_number(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t seed = tools::kSampleSeed;
    int32_t months = tools::kMonths;
    std::string out = "pdsisc1850-2010.txt";
    for (int k = 1; k < argc; ++k) {
        const std::string_view arg = argv[k];
        if (k + 1 >= argc) return usage();
        const std::string_view next = argv[++k];
        if (arg == "--seed") {
            if (!parse_number(next, seed)) return usage();
        } else if (arg == "--out") {
            if (next.empty()) return usage();
            out = std::string(next);
        } else if (arg == "--months") {
            if (!parse_number(next, months) || months < 1 || months > tools::kMonths) return usage();
        } else {
            return usage();
        }
    }
    try {
        tools::write_sample_grid(out, seed, months);
    } catch (const textio::IoError& error) {
        std::fprintf(stderr, "makegrid: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "makegrid: %s\n", error.what());
        return 1;
    }
    return 0;
}
