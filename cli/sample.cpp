// `pdsi sample`: the sample grid, so that a fresh install has something to
// serve before the real data set is in place.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/subcommands.h"
#include "textio/errors.h"
#include "tools/sample_grid.h"

namespace cli {

void add_sample(CLI::App& root, SampleOptions& o) {
    CLI::App* sub = root.add_subcommand(
        "sample", "Write the sample grid file: synthetic, in the real one's layout, the same every time");
    sub->add_option("--out", o.out, "The file to write; replaced if present")->capture_default_str()->type_name("FILE");
    sub->add_flag("-q,--quiet", o.quiet, "Print nothing on success");
}

int run_sample(const SampleOptions& o, const Invocation&) {
    namespace fs = std::filesystem;
    // Under another name until complete: a file cut short by an interrupted
    // run would otherwise pass for the sample.
    const fs::path part = o.out.string() + ".part";
    std::error_code ec;
    try {
        tools::write_sample_grid(part.string(), tools::kSampleSeed, tools::kMonths);
        fs::rename(part, o.out);
        if (!o.quiet) std::cout << "  " << o.out.string() << "  " << fs::file_size(o.out, ec) << " bytes\n";
        return kOk;
    } catch (const textio::IoError& error) {
        std::cerr << "pdsi sample: error: " << error.what() << "\n";
    } catch (const fs::filesystem_error& error) {
        std::cerr << "pdsi sample: error: " << o.out.string() << ": " << error.code().message() << "\n";
    }
    fs::remove(part, ec);
    return kFailed;
}

}  // namespace cli
