// The layout compiler on arbitrary layout text, as the grid reader's
// run-time layouts are compiled; a layout that compiles is then walked by
// a write and a read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "fuzz/support.h"
#include "textio/layout.h"
#include "textio/record_read.h"
#include "textio/sink.h"

namespace {

// Layouts are the program's own texts, with counts and widths in the
// hundreds; huge ones would only measure memory. Every number counts as a
// factor, however it is nested, which errs on the safe side.
bool modest(std::string_view text) {
    constexpr double kLimit = 1e7;
    double product = static_cast<double>(text.size()) + 1.0;
    for (size_t k = 0; k < text.size();) {
        if (text[k] < '0' || text[k] > '9') {
            ++k;
            continue;
        }
        double n = 0.0;
        for (; k < text.size() && ((text[k] >= '0' && text[k] <= '9') || text[k] == ' '); ++k) {
            if (text[k] != ' ') n = n * 10.0 + (text[k] - '0');
            if (n > kLimit) return false;
        }
        product *= n > 1.0 ? n : 1.0;
        if (product > kLimit) return false;
    }
    return true;
}

void check_groups(const textio::Layout& layout) {
    const auto& items = layout.items();
    const int32_t n = static_cast<int32_t>(items.size());
    for (int32_t k = 0; k < n; ++k) {
        const textio::LayoutItem& item = items[k];
        if (item.kind != textio::LayoutItem::GroupOpen && item.kind != textio::LayoutItem::GroupClose) continue;
        const int32_t p = item.partner;
        if (p < 0 || p >= n || items[p].partner != k) {
            std::fprintf(stderr, "group item %d has a broken partner %d\n", k, p);
            std::abort();
        }
    }
    if (layout.reversion_index() < 0 || layout.reversion_index() > n) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!modest(text)) return 0;
    try {
        const textio::Layout layout(text);
        check_groups(layout);

        textio::StringSink sink;
        sink.write(layout, {int32_t{1950}, -99.9f, "MonthlyPDSI.tsf", int32_t{-7}, 0.125f, 1e10f});
        sink.write(layout, {});
        sink.write_free({});

        int32_t i = 0;
        float x = 0.0f;
        bool b = false;
        std::string s(5, ' ');
        textio::StringSource in(" 1950 -99.90  12.5  t abc\n1,2,3\n\tx\r\n");
        textio::read(in, layout, {i, x, s, b, x, i});
        textio::read_record(" 2000   1.00   2.00", layout, {i, x, x, s});
    } catch (const std::invalid_argument&) {
        // Malformed layout text: the compiler's documented refusal.
    }
    return 0;
}
