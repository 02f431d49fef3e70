#include "maps/render.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <new>
#include <stdexcept>

#include "maps/palette.h"

namespace maps {

namespace {

// Palette entries: 0 where no land is (transparent or the background, and
// first so that the transparency chunk is one byte), 1..11 the classes, 12
// a land cell without a value; the legend adds its ink.
constexpr uint8_t kEntryNoLand = 0;
constexpr uint8_t kEntryNoValue = kClasses + 1;
constexpr uint8_t kEntryInk = kClasses + 2;

// An image of four bits a pixel.
struct Image {
    int32_t width, height;
    std::vector<png_color> palette;
    bool transparent_first = false;
    std::vector<uint8_t> pixels;  // height rows of (width + 1) / 2 bytes
};

struct Output {
    std::string bytes;
    bool failed = false;
};

void append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Output*>(png_get_io_ptr(png));
    try {
        out->bytes.append(reinterpret_cast<const char*>(data), size);
    } catch (const std::bad_alloc&) {
        out->failed = true;
        png_error(png, "out of memory");
    }
}

void flush(png_structp) {}

// libpng leaves by longjmp on an error: nothing here needs a destructor
// between the setjmp and the end.
bool encode(const Image& image, png_bytep* rows, Output& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, append, flush);
    // Level 1 and no row filters: a palette image of large flat areas
    // compresses almost as well, several times faster.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 4,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_PLTE(png, info, image.palette.data(), static_cast<int>(image.palette.size()));
    png_byte clear = 0;
    if (image.transparent_first) png_set_tRNS(png, info, &clear, 1, nullptr);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

std::string to_png(Image& image) {
    const size_t stride = static_cast<size_t>(image.width + 1) / 2;
    std::vector<png_bytep> rows(static_cast<size_t>(image.height));
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = image.pixels.data() + y * stride;
    Output out;
    out.bytes.reserve(stride * rows.size() / 4 + 1024);
    if (!encode(image, rows.data(), out)) {
        if (out.failed) throw std::bad_alloc();
        throw std::runtime_error("the PNG could not be written");
    }
    return std::move(out.bytes);
}

png_color rgb(uint32_t c) {
    return png_color{static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8), static_cast<png_byte>(c)};
}

std::vector<png_color> palette(uint32_t background) {
    std::vector<png_color> p{rgb(background)};
    for (const PdsiClass& c : kPalette) p.push_back({c.r, c.g, c.b});
    p.push_back({kNoValue.r, kNoValue.g, kNoValue.b});
    return p;
}

void put(std::vector<uint8_t>& pixels, size_t stride, int32_t x, int32_t y, uint8_t entry) {
    uint8_t& byte = pixels[static_cast<size_t>(y) * stride + static_cast<size_t>(x) / 2];
    byte = x % 2 ? static_cast<uint8_t>((byte & 0xf0) | entry) : static_cast<uint8_t>((byte & 0x0f) | entry << 4);
}

}  // namespace

std::vector<uint8_t> month_entries(const GridSource& grid, int32_t month) {
    std::vector<uint8_t> entries(static_cast<size_t>(extract::kColumns) * extract::kRows, kEntryNoLand);
    for (int32_t i = 0; i < extract::kColumns; ++i)
        for (int32_t j = 0; j < extract::kRows; ++j) {
            if (!grid.land(grid.data, i, j)) continue;
            const float x = grid.value(grid.data, i, j, month);
            entries[static_cast<size_t>(i) * extract::kRows + static_cast<size_t>(j)] =
                x == extract::kMissing ? kEntryNoValue : static_cast<uint8_t>(1 + pdsi_class(x));
        }
    return entries;
}

std::string map_png(const std::vector<uint8_t>& entries, const MapRequest& request) {
    const MapFrame& f = request.frame;
    Image image{f.width, f.height, palette(request.background), request.transparent, {}};
    const size_t stride = static_cast<size_t>(f.width + 1) / 2;
    image.pixels.assign(stride * static_cast<size_t>(f.height), 0);
    // A pixel is its column's cell and its row's: one division per column
    // and per row, then a lookup per pixel.
    std::vector<int32_t> columns(static_cast<size_t>(f.width));
    for (int32_t x = 0; x < f.width; ++x) columns[static_cast<size_t>(x)] = f.column_at(x);
    for (int32_t y = 0; y < f.height; ++y) {
        const int32_t row = f.row_at(y);
        if (row < 0) continue;
        uint8_t* out = image.pixels.data() + static_cast<size_t>(y) * stride;
        if (y > 0 && row == f.row_at(y - 1)) {  // the row above shows the same cells
            std::copy_n(out - stride, stride, out);
            continue;
        }
        for (int32_t x = 0; x < f.width; ++x) {
            const int32_t column = columns[static_cast<size_t>(x)];
            if (column < 0) continue;
            const uint8_t e = entries[static_cast<size_t>(column) * extract::kRows + static_cast<size_t>(row)];
            out[x / 2] |= x % 2 ? e : static_cast<uint8_t>(e << 4);
        }
    }
    return to_png(image);
}

// The legend: a swatch and a label a line, the classes from the driest,
// then the land without a value.
namespace {

constexpr int32_t kLine = 16, kSwatch = 24, kMargin = 4, kGlyph = 6;

// 5 by 9 glyphs, a row a byte (bit 4 leftmost), baseline on row 6: the
// letters the labels use.
struct Glyph {
    char c;
    uint8_t rows[9];
};
constexpr Glyph kFont[] = {
    {'a', {0, 0, 0x0e, 0x01, 0x0f, 0x11, 0x0f, 0, 0}},       {'c', {0, 0, 0x0e, 0x10, 0x10, 0x11, 0x0e, 0, 0}},
    {'d', {1, 1, 0x0d, 0x13, 0x11, 0x13, 0x0d, 0, 0}},       {'e', {0, 0, 0x0e, 0x11, 0x1f, 0x10, 0x0e, 0, 0}},
    {'g', {0, 0, 0x0f, 0x11, 0x11, 0x13, 0x0d, 1, 0x0e}},    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11, 0, 0}},
    {'i', {0x04, 0, 0x0c, 0x04, 0x04, 0x04, 0x0e, 0, 0}},    {'l', {0x0c, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e, 0, 0}},
    {'m', {0, 0, 0x1a, 0x15, 0x15, 0x15, 0x15, 0, 0}},       {'n', {0, 0, 0x16, 0x19, 0x11, 0x11, 0x11, 0, 0}},
    {'o', {0, 0, 0x0e, 0x11, 0x11, 0x11, 0x0e, 0, 0}},       {'p', {0, 0, 0x16, 0x19, 0x11, 0x19, 0x16, 0x10, 0x10}},
    {'r', {0, 0, 0x16, 0x19, 0x10, 0x10, 0x10, 0, 0}},       {'s', {0, 0, 0x0f, 0x10, 0x0e, 0x01, 0x1e, 0, 0}},
    {'t', {0x08, 0x08, 0x1c, 0x08, 0x08, 0x09, 0x06, 0, 0}}, {'u', {0, 0, 0x11, 0x11, 0x11, 0x13, 0x0d, 0, 0}},
    {'v', {0, 0, 0x11, 0x11, 0x11, 0x0a, 0x04, 0, 0}},       {'w', {0, 0, 0x11, 0x11, 0x15, 0x15, 0x0a, 0, 0}},
    {'x', {0, 0, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0, 0}},       {'y', {0, 0, 0x11, 0x11, 0x11, 0x13, 0x0d, 1, 0x0e}},
};

const Glyph* glyph(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;  // a blank
}

}  // namespace

LegendSize legend_size() {
    size_t longest = kNoValue.label.size();
    for (const PdsiClass& c : kPalette) longest = std::max(longest, c.label.size());
    return {kMargin + kSwatch + kMargin + static_cast<int32_t>(longest) * kGlyph + kMargin,
            kMargin + (kClasses + 1) * kLine + kMargin};
}

std::string legend_png() {
    const LegendSize size = legend_size();
    Image image{size.width, size.height, palette(0xffffff), true, {}};
    image.palette.push_back({0x20, 0x20, 0x20});
    const size_t stride = static_cast<size_t>(size.width + 1) / 2;
    image.pixels.assign(stride * static_cast<size_t>(size.height), 0);
    for (int32_t line = 0; line <= kClasses; ++line) {
        const bool no_value = line == kClasses;
        const uint8_t entry = no_value ? kEntryNoValue : static_cast<uint8_t>(1 + line);
        const std::string_view label = no_value ? kNoValue.label : kPalette[static_cast<size_t>(line)].label;
        const int32_t top = kMargin + line * kLine;
        for (int32_t y = top + 1; y < top + kLine - 1; ++y)
            for (int32_t x = kMargin; x < kMargin + kSwatch; ++x) {
                const bool edge = y == top + 1 || y == top + kLine - 2 || x == kMargin || x == kMargin + kSwatch - 1;
                put(image.pixels, stride, x, y, edge ? kEntryInk : entry);
            }
        for (size_t k = 0; k < label.size(); ++k) {
            const Glyph* g = glyph(label[k]);
            if (!g) continue;
            const int32_t left = 2 * kMargin + kSwatch + static_cast<int32_t>(k) * kGlyph;
            for (int32_t r = 0; r < 9; ++r)
                for (int32_t b = 0; b < 5; ++b)
                    if (g->rows[r] >> (4 - b) & 1) put(image.pixels, stride, left + b, top + 2 + r, kEntryInk);
        }
    }
    return to_png(image);
}

}  // namespace maps
