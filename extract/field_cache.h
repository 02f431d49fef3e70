#pragma once
// Memos of the two F6.2 editors for the hot paths. A grid holds a few
// thousand distinct values (and long runs of -99.90), so a small
// direct-mapped table of results of textio::parse_real and
// textio::edit_real answers almost every field; the editors are pure, so
// the text and the values stay exactly theirs.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "textio/editors.h"

namespace extract {

// parse_real(field, 2, v) for fields of exactly 6 characters.
class ParseCache {
public:
    ParseCache() : entries_(kSize) {}

    bool parse(std::string_view field, float& value) {
        uint64_t key = kUsed;
        std::memcpy(&key, field.data(), 6);
        Entry& e = entries_[slot(key)];
        if (e.key == key) {
            value = e.value;
            return true;
        }
        if (!textio::parse_real(field, 2, value)) return false;
        e.key = key;
        e.value = value;
        return true;
    }

private:
    static constexpr size_t kBits = 13;
    static constexpr size_t kSize = size_t{1} << kBits;
    static constexpr uint64_t kUsed = uint64_t{1} << 63;  // never set by the 6 bytes of a field
    static size_t slot(uint64_t key) { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kBits)); }
    struct Entry {
        uint64_t key = 0;
        float value = 0.0f;
    };
    std::vector<Entry> entries_;
};

// edit_real(out, v, 6, 2) into 6 characters at `dst`.
class EditCache {
public:
    EditCache() : entries_(kSize) {}

    void edit(char* dst, float value) {
        const uint64_t key = std::bit_cast<uint32_t>(value) | kUsed;
        Entry& e = entries_[slot(key)];
        if (e.key != key) {
            scratch_.clear();
            textio::edit_real(scratch_, value, 6, 2);
            std::memcpy(e.text.data(), scratch_.data(), 6);
            e.key = key;
        }
        std::memcpy(dst, e.text.data(), 6);
    }

private:
    static constexpr size_t kBits = 13;
    static constexpr size_t kSize = size_t{1} << kBits;
    static constexpr uint64_t kUsed = uint64_t{1} << 32;
    static size_t slot(uint64_t key) { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kBits)); }
    struct Entry {
        uint64_t key = 0;
        std::array<char, 6> text{};
    };
    std::vector<Entry> entries_;
    std::string scratch_;
};

}  // namespace extract
