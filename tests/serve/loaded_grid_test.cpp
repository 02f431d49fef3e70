// The grid as the server holds it: what it says of the file, sound or
// damaged, and why it cannot be had.
#include "serve/loaded_grid.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/cli/grid.h"
#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;

TEST(LoadedGrid, WhatItSaysOfTheFile) {
    const testsupport::TempDir dir;
    struct Row {
        const char* name;
        int32_t months;
        bool sound;
    };
    std::string identities;
    for (const Row& row : {Row{"whole.txt", tools::kMonths, true}, Row{"short.txt", 36, false}}) {
        SCOPED_TRACE(row.name);
        const fs::path path = dir / row.name;
        tools::write_grid_file(path.string(), row.months, cli_test::grid_value);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        const auto grid = serve::LoadedGrid::load(path.string(), 2);
        EXPECT_EQ(grid->sound(), row.sound);
        EXPECT_EQ(grid->name(), row.name);
        EXPECT_EQ(grid->file_bytes(), static_cast<uint64_t>(st.st_size));
        EXPECT_EQ(grid->modified(), st.st_mtim.tv_sec);
        EXPECT_FALSE(grid->identity().empty());
        EXPECT_EQ(identities.find(grid->identity()), std::string::npos) << "two files, one identity";
        identities += grid->identity() + " ";
    }
}

TEST(LoadedGrid, WhatCannotBeHad) {
    const testsupport::TempDir dir;
    fs::create_directories(dir / "folder");
    struct Row {
        std::string path;
        std::string message;
    };
    for (const Row& row : {Row{(dir / "folder").string(), (dir / "folder").string() + ": is a directory"},
                           Row{(dir / "none.txt").string(), (dir / "none.txt").string() + ": No such file or directory"}}) {
        try {
            serve::LoadedGrid::load(row.path, 1);
            ADD_FAILURE() << row.path;
        } catch (const serve::LoadError& error) {
            EXPECT_EQ(error.message, row.message);
        }
    }
}

}  // namespace
