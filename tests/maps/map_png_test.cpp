// Maps read back with libpng: each pixel in its cell's colour, odd widths
// whole, no land transparent or the background; the legend an image.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "maps/palette.h"
#include "maps/render.h"

namespace {

// Three columns and two rows at the grid's south-west corner; the rest
// of the grid is ocean.
struct Corner {
    float values[3][2];
    bool land[3][2];
};

float value_of(const void* data, int32_t column, int32_t row, int32_t) {
    return static_cast<const Corner*>(data)->values[column][row];
}

bool land_of(const void* data, int32_t column, int32_t row) {
    return column < 3 && row < 2 && static_cast<const Corner*>(data)->land[column][row];
}

std::vector<uint32_t> rgba(const std::string& png, int32_t& width, int32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return {};
    width = static_cast<int32_t>(image.width);
    height = static_cast<int32_t>(image.height);
    std::vector<uint32_t> out;
    for (size_t k = 0; k + 3 < bytes.size(); k += 4)
        out.push_back(uint32_t{bytes[k]} << 24 | uint32_t{bytes[k + 1]} << 16 | uint32_t{bytes[k + 2]} << 8 |
                      bytes[k + 3]);
    return out;
}

uint32_t opaque(const maps::PdsiClass& c) {
    return uint32_t{c.r} << 24 | uint32_t{c.g} << 16 | uint32_t{c.b} << 8 | 0xff;
}

TEST(MapPng, EachPixelShowsItsCellsClass) {
    // Bounds of classes as stored: -4 is extreme, -0.5 incipient dry, 0.5
    // incipient wet, 4 extremely wet.
    const Corner corner{{{-4.0f, 0.5f}, {-0.5f, -99.9f}, {4.0f, 1.0f}}, {{true, true}, {true, true}, {true, false}}};
    const maps::GridSource grid{&corner, value_of, land_of};
    const uint32_t extreme = opaque(maps::kPalette[0]), dry = opaque(maps::kPalette[4]),
                   wet = opaque(maps::kPalette[6]), very = opaque(maps::kPalette[10]), none = opaque(maps::kNoValue);
    struct Row {
        const char* name;
        bool transparent;
        uint32_t background;
        uint32_t ocean;
    } rows[] = {
        {"transparent", true, 0xffffff, 0xffffff00},
        {"on a background", false, 0x102030, 0x102030ff},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        maps::MapRequest request;
        // Pixels of 1.25 degrees from -181.25: the first off the grid, then
        // two a column.
        request.frame = {-181.25, -60, -172.5, -55, 7, 2};
        request.transparent = r.transparent;
        request.background = r.background;
        int32_t width = 0, height = 0;
        const std::vector<uint32_t> pixels = rgba(maps::map_png(maps::month_entries(grid, 0), request), width, height);
        ASSERT_EQ(width, 7);
        ASSERT_EQ(height, 2);
        const std::vector<uint32_t> expected = {
            r.ocean, wet,     wet,     none, none, r.ocean, r.ocean,  // the grid's second row; its third cell is sea
            r.ocean, extreme, extreme, dry,  dry,  very,    very,     // the first
        };
        EXPECT_EQ(pixels, expected);
    }
}

TEST(MapPng, LegendIsAnImageOfItsDeclaredSize) {
    int32_t width = 0, height = 0;
    const std::vector<uint32_t> pixels = rgba(maps::legend_png(), width, height);
    EXPECT_EQ(width, maps::legend_size().width);
    EXPECT_EQ(height, maps::legend_size().height);
    EXPECT_FALSE(pixels.empty());
}

}  // namespace
