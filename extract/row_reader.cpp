#include "extract/row_reader.h"

#include <cstring>
#include <span>
#include <vector>

#include "textio/editors.h"
#include "textio/plain_fields.h"
#include "textio/record_read.h"
#include "textio/sink.h"

namespace extract {

std::string make_rowfmt(int32_t ilon1, int32_t ilon2) {
    static const textio::Layout count4("(i4)");
    static const textio::Layout skip6("(i6)");
    static const textio::Layout count3("(i3)");
    const int32_t n = ilon2 - ilon1 + 1;
    std::string rowfmt(40, ' ');
    if (ilon1 == 1) {
        const std::string_view shape = "(    (f6.2,1x))";
        rowfmt.replace(0, shape.size(), shape);
        textio::write_into(std::span<char>(rowfmt.data() + 1, 4), count4, {n});
    } else {
        const std::string_view shape = "(      x,    (f6.2,1x))";
        rowfmt.replace(0, shape.size(), shape);
        textio::write_into(std::span<char>(rowfmt.data() + 1, 6), skip6, {7 * (ilon1 - 1)});
        textio::write_into(std::span<char>(rowfmt.data() + 10, 3), count3, {n});
    }
    return rowfmt;
}

RowReader::RowReader(int32_t ilon1, int32_t ilon2)
    : ilon1_(ilon1), ilon2_(ilon2), n_(ilon2 - ilon1 + 1), rowfmt_(make_rowfmt(ilon1, ilon2)), layout_(rowfmt_) {}

bool RowReader::read(std::string_view row, float* out) const {
    if (!long_enough(row)) return false;
    const char* field = row.data() + 7 * (ilon1_ - 1);
    // A field like the one before it (the long runs of missing months over
    // the oceans) has its value.
    uint64_t last_text = ~uint64_t{0};  // no 6 characters give this
    float last_value = 0.0f;
    for (int32_t k = 0; k < n_; ++k, field += 7) {
        // Two loads, not six bytes into a wider word: that stalls on the
        // store forwarding.
        uint32_t head = 0;
        uint16_t tail = 0;
        std::memcpy(&head, field, 4);
        std::memcpy(&tail, field + 4, 2);
        const uint64_t text = head | uint64_t{tail} << 32;
        if (text != last_text) {
            if (!textio::parse_plain_real<6, 2>(field, last_value)) return read_from(row, out, k);
            last_text = text;
        }
        out[k] = last_value;
    }
    return true;
}

// Fields k on, after one that is not plain. Plain fields hold no comma and
// a comma in a separator is skipped unread, so the values before k stand.
bool RowReader::read_from(std::string_view row, float* out, int32_t k) const {
    const size_t first = static_cast<size_t>(7 * (ilon1_ - 1));
    const size_t last = static_cast<size_t>(7 * ilon2_ - 1);
    // A comma ends a field early and shifts every later field: only the
    // layout walker knows where they fall then.
    if (std::memchr(row.data() + first, ',', last - first) != nullptr) return read_by_layout(row, out);
    for (; k < n_; ++k) {
        const std::string_view field = row.substr(first + 7 * static_cast<size_t>(k), 6);
        if (!textio::parse_plain_real<6, 2>(field.data(), out[k]) && !textio::parse_real(field, 2, out[k]))
            return false;
    }
    return true;
}

std::string RowReader::fault(std::string_view row) const {
    const size_t first = static_cast<size_t>(7 * (ilon1_ - 1));
    const size_t last = static_cast<size_t>(7 * ilon2_ - 1);
    if (!long_enough(row))
        return "the row is cut short: " + std::to_string(row.size()) + " characters, the box needs " +
               std::to_string(last);
    if (std::memchr(row.data() + first, ',', last - first) != nullptr)
        return "a comma in the box's columns leaves a field that is not a number";
    for (int32_t k = 0; k < n_; ++k) {
        const std::string_view field = row.substr(first + 7 * static_cast<size_t>(k), 6);
        float ignored = 0.0f;
        if (!textio::parse_real(field, 2, ignored)) {
            std::string shown;
            for (char ch : field) shown += (ch >= ' ' && ch <= '~') ? ch : '?';
            return "grid column " + std::to_string(ilon1_ + k) + " (characters " + std::to_string(first + 7 * k + 1) +
                   "-" + std::to_string(first + 7 * k + 6) + ") holds \"" + shown + "\", not a number";
        }
    }
    return "the row does not read as numbers";
}

bool RowReader::read_by_layout(std::string_view row, float* out) const {
    if (!long_enough(row)) return false;
    std::vector<textio::InTarget> targets;
    targets.reserve(static_cast<size_t>(n_));
    for (int32_t k = 0; k < n_; ++k) targets.emplace_back(out[k]);
    return textio::read_record(row, layout_, targets) == textio::ReadStatus::ok;
}

}  // namespace extract
