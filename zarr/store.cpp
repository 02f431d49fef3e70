#include "zarr/store.h"

#include <blosc.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "extract/grid_axes.h"
#include "formats/cf_attributes.h"
#include "formats/json_text.h"
#include "formats/time_axis.h"
#include "maps/crs.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace zarr {

// Chunks hold the values' own bytes, which the dtypes declare little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// Blosc's LZ4 after a shuffle of the values' bytes: a series chunk decodes
// in a tenth of a millisecond, against 12 ms with zlib (docs/benchmarks.md).
constexpr int kLevel = 5;
constexpr const char* kCodec = "lz4";
constexpr float kFill = extract::kMissing;

using formats::json_string;

// The shortest text that reads back as the same double, with a point so
// that JSON readers keep it a real.
std::string json_real(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    std::string out(text, end);
    if (out.find_first_of(".e") == std::string::npos) out += ".0";
    return out;
}

std::string json_list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t k = 0; k < items.size(); ++k) out += (k ? ", " : "") + items[k];
    return out + "]";
}

std::string json_object(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (size_t k = 0; k < members.size(); ++k)
        out += (k ? ", " : "") + json_string(members[k].first) + ": " + members[k].second;
    return out + "}";
}

// With room for the header, Blosc always succeeds, storing the bytes as
// they are when they do not shrink.
std::string compressed(const void* data, size_t size, size_t value_size) {
    std::string out(size + BLOSC_MAX_OVERHEAD, '\0');
    const int n = blosc_compress_ctx(kLevel, BLOSC_SHUFFLE, value_size, size, data, out.data(), out.size(), kCodec,
                                     0, 1);
    if (n <= 0) throw std::bad_alloc();
    out.resize(static_cast<size_t>(n));
    return out;
}

template <class T>
std::shared_ptr<const std::string> chunk_of(const std::vector<T>& values) {
    return std::make_shared<const std::string>(compressed(values.data(), values.size() * sizeof(T), sizeof(T)));
}

using Members = std::vector<std::pair<std::string, std::string>>;

struct Array {
    std::string name;
    const char* dtype;
    std::vector<int32_t> shape, chunks;
    std::vector<std::string> dims;
    std::string fill;
    Members attributes;
    std::shared_ptr<const std::string> only_chunk;  // the coordinates: one chunk, made here

    std::string zarray() const {
        auto ints = [](const std::vector<int32_t>& v) {
            std::vector<std::string> items;
            for (int32_t n : v) items.push_back(std::to_string(n));
            return json_list(items);
        };
        return json_object({{"chunks", ints(chunks)},
                            {"compressor", json_object({{"id", json_string("blosc")},
                                                        {"cname", json_string(kCodec)},
                                                        {"clevel", std::to_string(kLevel)},
                                                        {"shuffle", std::to_string(BLOSC_SHUFFLE)},
                                                        {"blocksize", "0"}})},
                            {"dtype", json_string(dtype)},
                            {"fill_value", fill},
                            {"filters", "null"},
                            {"order", "\"C\""},
                            {"shape", ints(shape)},
                            {"zarr_format", "2"}});
    }
    std::string zattrs() const {
        std::vector<std::string> names;
        for (const std::string& d : dims) names.push_back(json_string(d));
        Members all{{"_ARRAY_DIMENSIONS", json_list(names)}};
        all.insert(all.end(), attributes.begin(), attributes.end());
        return json_object(all);
    }
};

template <size_t N>
Members cf_members(const formats::cf::Attribute (&attributes)[N]) {
    Members out;
    for (const auto& a : attributes) out.emplace_back(a.name, json_string(a.text));
    return out;
}

std::vector<Array> arrays_of(const std::array<int32_t, 3>& field_chunks) {
    std::vector<double> time, time_bnds;
    for (int32_t k = 0; k < kTimes; ++k) {
        const int32_t year = extract::kFirstYear + k / 12, month = k % 12 + 1;
        time.push_back(formats::mid_month(year, month));
        time_bnds.push_back(formats::days_since_1850(year, month));
        time_bnds.push_back(formats::days_since_1850(year, month + 1));
    }
    const extract::GridAxes grid;
    const float half = 1.25f;
    std::vector<float> lat, lat_bnds, lon, lon_bnds;
    for (int32_t j = 1; j <= kLats; ++j) {
        lat.push_back(grid.ylat(j));
        lat_bnds.insert(lat_bnds.end(), {grid.ylat(j) - half, grid.ylat(j) + half});
    }
    for (int32_t i = 1; i <= kLons; ++i) {
        lon.push_back(grid.xlon(i));
        lon_bnds.insert(lon_bnds.end(), {grid.xlon(i) - half, grid.xlon(i) + half});
    }
    namespace cf = formats::cf;
    Members crs{{"grid_mapping_name", json_string(maps::kGridMappingName)},
                {"semi_major_axis", json_real(maps::kSemiMajorAxis)},
                {"inverse_flattening", json_real(maps::kInverseFlattening)},
                {"longitude_of_prime_meridian", json_real(maps::kPrimeMeridian)},
                {"crs_wkt", json_string(maps::kCrsWkt)}};
    Members pdsi{{"long_name", json_string(cf::kPdsiLongName)}};
    for (const auto& member : cf_members(cf::kField)) pdsi.push_back(member);
    pdsi.emplace_back("grid_mapping", json_string("crs"));
    // GDAL's own key for the coordinate system, read before CF's.
    pdsi.emplace_back("_CRS", json_object({{"wkt", json_string(maps::kCrsWkt)}}));
    // The fill value written in full: as a double it is the float stored,
    // not -99.9, which a reader comparing doubles would never meet.
    const std::string fill = json_real(static_cast<double>(kFill));
    return {
        {"time", "<f8", {kTimes}, {kTimes}, {"time"}, "null", cf_members(cf::kTime), chunk_of(time)},
        {"time_bnds", "<f8", {kTimes, 2}, {kTimes, 2}, {"time", "nv"}, "null", {}, chunk_of(time_bnds)},
        {"lat", "<f4", {kLats}, {kLats}, {"lat"}, "null", cf_members(cf::kLat), chunk_of(lat)},
        {"lat_bnds", "<f4", {kLats, 2}, {kLats, 2}, {"lat", "nv"}, "null", {}, chunk_of(lat_bnds)},
        {"lon", "<f4", {kLons}, {kLons}, {"lon"}, "null", cf_members(cf::kLon), chunk_of(lon)},
        {"lon_bnds", "<f4", {kLons, 2}, {kLons, 2}, {"lon", "nv"}, "null", {}, chunk_of(lon_bnds)},
        {"crs", "<i4", {}, {}, {}, "null", crs, chunk_of(std::vector<int32_t>{0})},
        {"pdsi",
         "<f4",
         {kTimes, kLats, kLons},
         {field_chunks[0], field_chunks[1], field_chunks[2]},
         {"time", "lat", "lon"},
         fill,
         pdsi,
         nullptr},
    };
}

// "12" of a chunk key: digits, no sign or leading zero, below `count`.
std::optional<int32_t> chunk_index(std::string_view text, int32_t count) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    int32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n >= count) return std::nullopt;
    return n;
}

}  // namespace

struct Store::Keys {
    std::map<std::string, Entry, std::less<>> fixed;  // all but pdsi's chunks
};

Store::Store(std::string name, std::array<int32_t, 3> chunks) : name_(std::move(name)), chunks_(chunks) {
    auto keys = std::make_shared<Keys>();
    auto text = [](std::string body) {
        Entry entry;
        entry.bytes = std::make_shared<const std::string>(std::move(body) + "\n");
        entry.json = true;
        return entry;
    };
    const std::string group = json_object({{"zarr_format", "2"}});
    const std::string globals = json_object({{"Conventions", json_string(formats::cf::kConventions)},
                                             {"title", json_string(formats::cf::kTitle)},
                                             {"source", json_string("pdsi " PDSI_VERSION)}});
    Members consolidated{{".zgroup", group}, {".zattrs", globals}};
    keys->fixed[".zgroup"] = text(group);
    keys->fixed[".zattrs"] = text(globals);
    for (const Array& a : arrays_of(chunks_)) {
        const std::string zarray = a.zarray(), zattrs = a.zattrs();
        consolidated.emplace_back(a.name + "/.zarray", zarray);
        consolidated.emplace_back(a.name + "/.zattrs", zattrs);
        keys->fixed[a.name + "/.zarray"] = text(zarray);
        keys->fixed[a.name + "/.zattrs"] = text(zattrs);
        if (a.only_chunk) keys->fixed[a.name + (a.shape.size() < 2 ? "/0" : "/0.0")].bytes = a.only_chunk;
    }
    keys->fixed[".zmetadata"] =
        text(json_object({{"metadata", json_object(consolidated)}, {"zarr_consolidated_format", "1"}}));
    keys_ = std::move(keys);
}

const Store* Store::named(std::string_view name) {
    // A year of the whole grid, 380 kB; 8 by 16 cells' whole series, 989 kB.
    static const Store maps("pdsi", {12, kLats, kLons});
    static const Store series("pdsi-series", {kTimes, 8, 16});
    if (name == maps.name()) return &maps;
    if (name == series.name()) return &series;
    return nullptr;
}

std::optional<Entry> Store::find(std::string_view key) const {
    if (const auto at = keys_->fixed.find(key); at != keys_->fixed.end()) return at->second;
    if (key.substr(0, 5) != "pdsi/") return std::nullopt;
    key.remove_prefix(5);
    const std::array<int32_t, 3> shape{kTimes, kLats, kLons};
    Entry entry;
    for (size_t d = 0; d < 3; ++d) {
        const size_t dot = key.find('.');
        if ((dot == std::string_view::npos) != (d == 2)) return std::nullopt;
        const int32_t count = (shape[d] + chunks_[d] - 1) / chunks_[d];
        const auto index = chunk_index(key.substr(0, dot), count);
        if (!index) return std::nullopt;
        entry.field.start[d] = *index * chunks_[d];
        entry.field.count[d] = std::min(chunks_[d], shape[d] - entry.field.start[d]);
        if (d < 2) key.remove_prefix(dot + 1);
    }
    return entry;
}

std::string Store::field_chunk(const Block& field, const Reader& read) const {
    const auto nt = static_cast<size_t>(chunks_[0]), nj = static_cast<size_t>(chunks_[1]),
               ni = static_cast<size_t>(chunks_[2]);
    std::vector<float> chunk(nt * nj * ni, kFill);
    if (field.count == chunks_) {
        read(field, chunk.data());
    } else {
        std::vector<float> part(field.size());
        read(field, part.data());
        const auto ct = static_cast<size_t>(field.count[0]), cj = static_cast<size_t>(field.count[1]),
                   ci = static_cast<size_t>(field.count[2]);
        for (size_t t = 0; t < ct; ++t)
            for (size_t j = 0; j < cj; ++j)
                std::memcpy(&chunk[(t * nj + j) * ni], &part[(t * cj + j) * ci], ci * sizeof(float));
    }
    return compressed(chunk.data(), chunk.size() * sizeof(float), sizeof(float));
}

}  // namespace zarr
