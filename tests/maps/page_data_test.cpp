// The page's month data: values as the files print them, the byte layout
// the script reads, and the class table it is given.
#include <gtest/gtest.h>

#include <string>

#include "extract/grid_store.h"
#include "maps/page_data.h"

namespace {

TEST(PageData, HundredthsAsTheFilesPrint) {
    struct Row {
        const char* name;
        float x;
        int32_t h;
    };
    const Row rows[] = {
        {"two decimals", -3.12f, -312},
        {"exact tie rounds away from zero", 0.125f, 13},
        {"negative tie too", -0.125f, -13},
        {"just below a tie, as stored", 2.675f, 267},
        {"zero", 0.0f, 0},
        {"a class bound", -4.0f, -400},
        {"the missing value", -99.9f, maps::kNoHundredths},
        {"beyond int32", 3.0e9f, maps::kNoHundredths},
    };
    for (const Row& row : rows) EXPECT_EQ(maps::hundredths(row.x), row.h) << row.name;
}

// Little-endian hundredths of every cell, then one class byte each.
TEST(PageData, MonthBytesLayout) {
    const extract::Box box{1, 1, 1, 3};
    extract::GridStore store(box, 2);
    const float month2[] = {-4.0f, -99.9f, 1.5f};
    for (int32_t n = 1; n <= 3; ++n) {
        store.series(n)[0] = 9.0f;
        store.series(n)[1] = month2[n - 1];
    }
    const std::string bytes = maps::month_bytes(store, 2);
    ASSERT_EQ(bytes.size(), 15u);
    auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    EXPECT_EQ(at(0) | at(1) << 8 | at(2) << 16 | static_cast<uint32_t>(at(3)) << 24,
              static_cast<uint32_t>(-400));
    EXPECT_EQ(at(4) | at(5) << 8 | at(6) << 16 | static_cast<uint32_t>(at(7)) << 24, 0x80000000u);
    EXPECT_EQ(at(8), 150);
    EXPECT_EQ(at(12), 0) << "extreme drought";
    EXPECT_EQ(at(13), maps::kNoValueClass);
    EXPECT_EQ(at(14), 7) << "slightly wet";
    EXPECT_EQ(maps::series_json(store, 2, 1850), "{\"first_year\": 1850, \"values\": [900,null]}\n");
}

TEST(PageData, PaletteForThePageEndsWithNoValue) {
    const std::string json = maps::palette_json();
    EXPECT_EQ(json.rfind("{\"label\": \"extreme drought\", \"colour\": \"#543005\"}", 1), 1u);
    EXPECT_NE(json.find("{\"label\": \"no value\", \"colour\": \"#bdbdbd\"}]"), std::string::npos);
}

}  // namespace
