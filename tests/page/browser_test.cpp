// The home page in headless Chromium against a real `pdsi serve` on the
// sample grid; the checks are in browser_check.py, which prints its table.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/program.h"
#include "tools/sample_grid.h"

namespace {

namespace fs = std::filesystem;

int run(const std::string& arguments) {
    const std::string command =
        "/usr/bin/python3 " + testsupport::source_path("page/browser_check.py").string() + " " + arguments + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HomePage, WorksInHeadlessChromium) {
    if (run("--probe") == 77) GTEST_SKIP() << "no browser here";
    testsupport::TempDir work;
    // A name the page must show as text, not as markup.
    const fs::path grid = work / "sample <b>&amp;.txt";
    tools::write_sample_grid(grid.string(), 1, tools::kMonths);
    const tools::SampleGrid sample(1);
    int32_t land = 0;
    for (int32_t i = 1; i <= tools::kColumns; ++i)
        for (int32_t j = 1; j <= tools::kRows; ++j) land += sample.land(i, j);
    const int status = run(PDSI_PATH " '" + grid.string() + "' " + std::to_string(land) + " " +
                           fs::current_path().string());
    if (status == 77) GTEST_SKIP() << "no browser here";
    EXPECT_EQ(status, 0) << "see the table above";
}

}  // namespace
