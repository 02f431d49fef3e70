// The same runs of both programs on 1, 2 and 7 threads, and as the
// programs are (one per hardware thread): the same console, error stream,
// exit status and files, byte for byte, failures included.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;

// The command's grid with the cell at (36.25, -96.25) kept but its every
// neighbour two steps around made ocean: the filling stops there, after
// the cells before it have been analysed.
float lone_value(int32_t i, int32_t j, int32_t m) {
    const int32_t di = i - 34, dj = j - 39;
    if ((di || dj) && di >= -2 && di <= 2 && dj >= -2 && dj <= 2) return -99.9f;
    return cli_test::grid_value(i, j, m);
}

struct Row {
    const char* name;
    const char* grid;                // in the work folder
    std::vector<std::string> args;   // of `pdsi extract`, after the grid and the output folder
    std::string answers;             // the dialogue's, from the banner on
    const char* full;                // an output file made a link to /dev/full, or ""
    const char* made;                // an output file the run leaves; "": no extraction file
    int pdsi_status, server_status;
};

struct Outcome {
    int status;
    std::string out, err;
    std::map<std::string, std::string> files;  // relative path: contents, or where a link points
};

Outcome outcome(const testsupport::RunResult& run, const fs::path& dir) {
    Outcome o{run.status, run.out, run.err, {}};
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir).string();
        if (entry.is_symlink()) o.files[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file()) o.files[name] = read_file(entry.path());
    }
    return o;
}

// Dialogue answers: years, box TOP, BOTTOM, LEFT, RIGHT, pctmiss, then the
// filling's calibration years or none, and the closing waits.
std::string answers(const std::string& years, const std::string& box, const std::string& fill) {
    return "\n\n" + years + box + "T\n0.5\n" + (fill.empty() ? "F\n" : "T\n\n" + fill + "\n") + "\n\n";
}

TEST(ThreadCounts, EveryCountGivesTheSameRun) {
    testsupport::TempDir work;
    cli_test::write_grid(work / "grid.txt");
    tools::write_grid_file((work / "lone.txt").string(), cli_test::kGridMonths, lone_value);
    // Letters in row 39 of February 1850 and in row 20 of March 1850: only
    // the first, in the file's order, may be reported.
    std::string text = read_file(work / "grid.txt");
    auto spoil = [&](int32_t month, int32_t row) {
        size_t at = 0;
        for (int32_t k = 1; k < 56 * (month - 1) + 2 + row; ++k) at = text.find('\n', at) + 1;
        text.replace(at + 7 * 32, 6, " x.yz ");
    };
    spoil(2, 39);
    spoil(3, 20);
    testsupport::write_file(work / "letters.txt", text);

    const std::string whole = "90.\n-90.\n-180.\n180.\n";
    const std::string coast = "40.\n20.\n-100.\n-80.\n";
    const std::string around_lone = "46.25\n26.25\n-106.25\n-86.25\n";
    const Row rows[] = {
        {"every cell", "grid.txt", {"--years", "1850:1852", "--max-missing", "0.5"},
         answers("1850\n1852\n", whole, ""), "", "MonthlyPDSI.tsf", 0, 0},
        {"filled", "grid.txt", {"--years", "1850:1852", "--lat=20:40", "--lon=-100:-80", "--max-missing", "0.5",
                                "--fill", "1851:1852"},
         answers("1850\n1852\n", coast, "1851\n1852\n"), "", "MonthlyPDSI_QC_col.tsf", 0, 0},
        {"broken rows", "letters.txt", {"--years", "1850:1851", "--max-missing", "0.5"},
         answers("1850\n1851\n", whole, ""), "", "", 1, 0},
        {"lone cell", "lone.txt", {"--years", "1850:1852", "--lat=26.25:46.25", "--lon=-106.25:-86.25",
                                   "--max-missing", "0.5", "--fill", "1850:1852"},
         answers("1850\n1852\n", around_lone, "1850\n1852\n"), "", "MonthlyPDSI_QC.out", 1, 0},
        {"full disk, extraction", "grid.txt", {"--years", "1850:1852", "--max-missing", "0.5"},
         answers("1850\n1852\n", whole, ""), "MonthlyPDSI.tsf", "MonthlyPDSI.xy", 1, 255},
        {"full disk, QC file", "grid.txt", {"--years", "1850:1852", "--lat=20:40", "--lon=-100:-80",
                                            "--max-missing", "0.5", "--fill", "1851:1852"},
         answers("1850\n1852\n", coast, "1851\n1852\n"), "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC.out", 1,
         255},
    };
    const int32_t kCounts[] = {1, 2, 7, 0};  // 0: the programs' own count
    for (const Row& r : rows) {
        for (const bool server : {false, true}) {
            std::vector<Outcome> runs;
            for (const int32_t threads : kCounts) {
                testsupport::TempDir dir;
                const fs::path out = server ? dir.path() : dir / "run";
                fs::create_directories(out);
                if (*r.full) fs::create_symlink("/dev/full", out / r.full);
                testsupport::RunResult run;
                if (server) {
                    fs::create_symlink(work / r.grid, dir / "pdsisc1850-2010.txt");
                    run = testsupport::run_program(dir.path(), r.answers, threads);
                } else {
                    std::vector<std::string> args{"extract", "--grid", (work / r.grid).string(), "--out", "run"};
                    args.insert(args.end(), r.args.begin(), r.args.end());
                    run = testsupport::run_pdsi(dir.path(), args, threads);
                }
                runs.push_back(outcome(run, dir.path()));
            }
            const std::string what = std::string(r.name) + (server ? " (pdsiserver)" : " (pdsi)");
            // The row ends as it is meant to, not at some earlier refusal.
            EXPECT_EQ(runs[0].status, server ? r.server_status : r.pdsi_status) << what << "\n" << runs[0].err;
            const std::string folder = server ? "" : "run/";
            EXPECT_EQ(runs[0].files.count(folder + (*r.made ? r.made : "MonthlyPDSI.tsf")), *r.made ? 1u : 0u) << what;
            for (size_t k = 1; k < runs.size(); ++k) {
                const std::string with = what + " on " + std::to_string(kCounts[k]) + " threads";
                EXPECT_EQ(runs[k].status, runs[0].status) << with;
                EXPECT_EQ(runs[k].out, runs[0].out) << with;
                EXPECT_EQ(runs[k].err, runs[0].err) << with;
                EXPECT_EQ(runs[k].files.size(), runs[0].files.size()) << with;
                for (const auto& [name, bytes] : runs[0].files) {
                    const auto same = runs[k].files.find(name);
                    ASSERT_NE(same, runs[k].files.end()) << with << ": no " << name;
                    EXPECT_TRUE(same->second == bytes) << with << ": " << name << " differs";
                }
            }
        }
    }
}

}  // namespace
