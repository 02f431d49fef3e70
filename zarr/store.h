#pragma once
// The grid as two Zarr stores (format 2, consolidated metadata): "pdsi",
// laid out for maps (a year of months of the whole grid a chunk), and
// "pdsi-series", laid out for series (every month of a block of cells a
// chunk). A store is its keys and their bytes; no HTTP here: the server
// maps a path to a key and sends what it holds.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zarr {

inline constexpr int32_t kTimes = 1932, kLats = 55, kLons = 144;

// A block of pdsi[time][lat][lon], indices from 0.
struct Block {
    std::array<int32_t, 3> start{}, count{};
    size_t size() const {
        return static_cast<size_t>(count[0]) * static_cast<size_t>(count[1]) * static_cast<size_t>(count[2]);
    }
};

// What a key holds: its bytes, when they need no grid (the metadata, the
// coordinates), or else the block of pdsi a chunk covers within the
// array's bounds.
struct Entry {
    std::shared_ptr<const std::string> bytes;
    Block field;
    bool json = false;
};

// pdsi's values of a block, time slowest and lon fastest, the missing
// marker as it is. Throws whatever stops it.
using Reader = std::function<void(const Block&, float* out)>;

class Store {
public:
    // "pdsi" or "pdsi-series"; none for any other name.
    static const Store* named(std::string_view name);

    const std::string& name() const { return name_; }
    const std::array<int32_t, 3>& chunks() const { return chunks_; }
    // None for a key that cannot exist in the store.
    std::optional<Entry> find(std::string_view key) const;
    // The chunk whose in-range part is `field`, padded to its full size
    // with the fill value, compressed as the metadata says.
    std::string field_chunk(const Block& field, const Reader& read) const;

private:
    struct Keys;
    Store(std::string name, std::array<int32_t, 3> chunks);

    std::string name_;
    std::array<int32_t, 3> chunks_;
    std::shared_ptr<const Keys> keys_;
};

}  // namespace zarr
