// The grid writer's file, to the column, and read back by the text layer.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <tuple>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/program.h"
#include "textio/layout.h"
#include "textio/record_read.h"
#include "tools/grid_writer.h"

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Placed {
    const char* name;
    int32_t i, j, m;
    float value;
    const char* field;  // the 7 characters the file must hold
};

TEST(GridWriter, FieldsLandInTheirColumns) {
    const Placed rows[] = {
        {"missing", 1, 1, 1, -99.9f, "-99.90 "},
        {"same value again", 2, 1, 1, -99.9f, "-99.90 "},
        {"gross outlier", 3, 1, 1, 10.0f, " 10.00 "},
        {"negative outlier", 4, 1, 1, -10.0f, "-10.00 "},
        {"zero", 5, 1, 1, 0.0f, "  0.00 "},
        {"below one", 6, 1, 1, -0.5f, " -0.50 "},
        {"widest positive", 7, 1, 1, 999.99f, "999.99 "},
        {"overflow", 8, 1, 1, 1000.0f, "****** "},
        {"last column", 144, 1, 1, 3.25f, "  3.25 "},
        {"top row", 1, 55, 1, -6.02f, " -6.02 "},
        {"second month", 72, 30, 2, 5.67f, "  5.67 "},
        {"last cell", 144, 55, 2, -1.01f, " -1.01 "},
    };
    std::map<std::tuple<int32_t, int32_t, int32_t>, float> chosen;
    for (const Placed& r : rows) chosen[{r.i, r.j, r.m}] = r.value;
    auto value = [&](int32_t i, int32_t j, int32_t m) {
        auto it = chosen.find({i, j, m});
        return it == chosen.end() ? 1.25f : it->second;
    };

    testsupport::TempDir dir;
    const auto path = dir / "grid.txt";
    tools::write_grid_file(path.string(), 2, value);
    const std::vector<std::string> lines = split_lines(testsupport::read_file(path));

    ASSERT_EQ(lines.size(), 1u + 2u * 56u);
    EXPECT_NE(lines[1].find("1850"), std::string::npos);
    EXPECT_NE(lines[1].find("January"), std::string::npos);
    EXPECT_NE(lines[57].find("February"), std::string::npos);
    for (int32_t m = 1; m <= 2; ++m)
        for (int32_t j = 1; j <= 55; ++j) ASSERT_EQ(lines[static_cast<size_t>((m - 1) * 56 + 1 + j)].size(), 1008u);

    for (const Placed& r : rows) {
        const std::string& line = lines[static_cast<size_t>((r.m - 1) * 56 + 1 + r.j)];
        EXPECT_EQ(line.substr(static_cast<size_t>(7 * (r.i - 1)), 7), r.field) << r.name;
    }
    // An untouched neighbour of a chosen cell keeps its own text.
    EXPECT_EQ(lines[2].substr(7 * 8, 7), "  1.25 ");
}

TEST(GridWriter, RowsReadBackByTheRowLayout) {
    auto value = [](int32_t i, int32_t j, int32_t m) {
        if ((i + j + m) % 17 == 0) return -99.9f;
        return static_cast<float>((i * 37 + j * 11 + m * 5) % 1999 - 999) / 100.0f;
    };
    testsupport::TempDir dir;
    const auto path = dir / "grid.txt";
    tools::write_grid_file(path.string(), 3, value);
    const std::vector<std::string> lines = split_lines(testsupport::read_file(path));
    ASSERT_EQ(lines.size(), 1u + 3u * 56u);

    const textio::Layout whole("( 144(f6.2,1x))");
    const textio::Layout tail("(  1001x,   1(f6.2,1x))");
    std::vector<float> got(144);
    std::vector<textio::InTarget> targets;
    for (float& v : got) targets.emplace_back(v);
    for (int32_t m = 1; m <= 3; ++m) {
        for (int32_t j = 1; j <= 55; ++j) {
            const std::string& line = lines[static_cast<size_t>((m - 1) * 56 + 1 + j)];
            ASSERT_EQ(textio::read_record(line, whole, targets), textio::ReadStatus::ok);
            for (int32_t i = 1; i <= 144; ++i) ASSERT_EQ(got[static_cast<size_t>(i - 1)], value(i, j, m)) << i;
            float last = 0.0f;
            ASSERT_EQ(textio::read_record(line, tail, {last}), textio::ReadStatus::ok);
            ASSERT_EQ(last, value(144, j, m));
        }
    }
}

TEST(GridWriter, UnwritablePathIsAnError) {
    testsupport::TempDir dir;
    const auto path = dir / "no-such-folder" / "grid.txt";
    EXPECT_ANY_THROW(tools::write_grid_file(path.string(), 1, [](int32_t, int32_t, int32_t) { return 0.0f; }));
}

}  // namespace
