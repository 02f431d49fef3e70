#include "extract/month_shape.h"

#include <cstring>

#include "extract/grid_axes.h"
#include "textio/count_feeds.h"

namespace extract {

namespace {

// The length of the line starting at `at`, its line feed included; 0 if none ends it.
size_t line_at(std::string_view bytes, size_t at) {
    if (at >= bytes.size()) return 0;
    const void* feed = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
    return feed ? static_cast<size_t>(static_cast<const char*>(feed) - bytes.data()) + 1 - at : 0;
}

}  // namespace

size_t MonthShape::bytes(int32_t first, int32_t count) const {
    size_t total = static_cast<size_t>(count) * static_cast<size_t>(kRows) * row;
    for (int32_t q = 0; q < count; ++q) total += header[static_cast<size_t>((first + q) % 12)];
    return total;
}

std::optional<MonthShape> shape_of(std::string_view bytes, int32_t months) {
    if (months < 12) return std::nullopt;
    MonthShape shape{};
    shape.row = line_at(bytes, line_at(bytes, 0));
    if (shape.row == 0) return std::nullopt;
    size_t at = 0;
    for (size_t q = 0; q < 12; ++q) {
        shape.header[q] = line_at(bytes, at);
        if (shape.header[q] == 0) return std::nullopt;
        at += shape.header[q] + static_cast<size_t>(kRows) * shape.row;
    }
    if (!has_shape(bytes, shape, 0, months)) return std::nullopt;
    return shape;
}

bool has_shape(std::string_view bytes, const MonthShape& shape, int32_t first, int32_t months) {
    if (months <= 0 || shape.row == 0 || bytes.size() != shape.bytes(first, months)) return false;
    // As many line feeds as lines, and one at the end of each: none elsewhere.
    if (textio::count_feeds(bytes.data(), bytes.size()) != static_cast<int64_t>(months) * (1 + kRows)) return false;
    size_t at = 0;
    for (int32_t q = 0; q < months; ++q) {
        const size_t header = shape.header[static_cast<size_t>((first + q) % 12)];
        if (header == 0 || bytes[at + header - 1] != '\n') return false;
        at += header;
        for (int32_t j = 0; j < kRows; ++j, at += shape.row)
            if (bytes[at + shape.row - 1] != '\n') return false;
    }
    return true;
}

}  // namespace extract
