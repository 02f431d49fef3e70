// The stores' keys without a server: which exist, the block of pdsi a chunk
// covers, and an edge chunk padded with the fill value. What the metadata
// declares, the clients check (tests/zarr/clients.py).
#include <blosc.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "zarr/store.h"

namespace {

std::vector<float> decoded(const std::string& chunk) {
    size_t bytes = 0, compressed = 0, block = 0;
    blosc_cbuffer_sizes(chunk.data(), &bytes, &compressed, &block);
    std::vector<float> out(bytes / sizeof(float));
    EXPECT_EQ(blosc_decompress_ctx(chunk.data(), out.data(), bytes, 1), static_cast<int>(bytes));
    return out;
}

TEST(ZarrStore, KeysThatExistAndTheBlocksTheyCover) {
    struct Row {
        const char* name;
        const char* store;
        const char* key;
        bool exists;
        std::array<int32_t, 3> start, count;  // of pdsi's chunks
    };
    const Row rows[] = {
        {"the group", "pdsi", ".zgroup", true, {}, {}},
        {"consolidated", "pdsi-series", ".zmetadata", true, {}, {}},
        {"an array's metadata", "pdsi", "crs/.zattrs", true, {}, {}},
        {"a coordinate's chunk", "pdsi", "time_bnds/0.0", true, {}, {}},
        {"the scalar's chunk", "pdsi", "crs/0", true, {}, {}},
        {"the first year", "pdsi", "pdsi/0.0.0", true, {0, 0, 0}, {12, 55, 144}},
        {"the last year", "pdsi", "pdsi/160.0.0", true, {1920, 0, 0}, {12, 55, 144}},
        {"a block of series", "pdsi-series", "pdsi/0.2.3", true, {0, 16, 48}, {1932, 8, 16}},
        {"the northern edge", "pdsi-series", "pdsi/0.6.8", true, {0, 48, 128}, {1932, 7, 16}},
        {"a year past the end", "pdsi", "pdsi/161.0.0", false, {}, {}},
        {"a row of chunks past the end", "pdsi-series", "pdsi/0.7.0", false, {}, {}},
        {"two indices", "pdsi", "pdsi/0.0", false, {}, {}},
        {"four indices", "pdsi", "pdsi/0.0.0.0", false, {}, {}},
        {"a leading zero", "pdsi", "pdsi/00.0.0", false, {}, {}},
        {"a sign", "pdsi", "pdsi/+1.0.0", false, {}, {}},
        {"a huge index", "pdsi", "pdsi/99999999999999999999.0.0", false, {}, {}},
        {"an empty index", "pdsi", "pdsi/.0.0", false, {}, {}},
        {"a trailing dot", "pdsi", "pdsi/0.0.0.", false, {}, {}},
        {"a coordinate's second chunk", "pdsi", "lat/1", false, {}, {}},
        {"a slash for a dot", "pdsi", "pdsi/0/0/0", false, {}, {}},
        {"the parent", "pdsi", "../pdsi/0.0.0", false, {}, {}},
        {"the store itself", "pdsi", "", false, {}, {}},
        {"a variable it lacks", "pdsi", "pdsi_filled/.zarray", false, {}, {}},
        {"metadata of an index", "pdsi", "pdsi/0.0.0/.zarray", false, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const zarr::Store* store = zarr::Store::named(row.store);
        ASSERT_NE(store, nullptr);
        const auto entry = store->find(row.key);
        ASSERT_EQ(entry.has_value(), row.exists);
        if (!entry || entry->bytes) continue;
        EXPECT_EQ(entry->field.start, row.start);
        EXPECT_EQ(entry->field.count, row.count);
    }
    EXPECT_EQ(zarr::Store::named("pdsi-maps"), nullptr);
}

TEST(ZarrStore, AnEdgeChunkIsFullSizeAndPaddedWithTheFill) {
    const zarr::Store& store = *zarr::Store::named("pdsi-series");
    const zarr::Block field = store.find("pdsi/0.6.8")->field;
    const auto value = [&field](size_t t, size_t j, size_t i) {
        return static_cast<float>(t % 100) + static_cast<float>(field.start[1] + j) * 0.01f + static_cast<float>(i);
    };
    std::vector<zarr::Block> asked;
    const std::vector<float> chunk = decoded(store.field_chunk(field, [&](const zarr::Block& block, float* out) {
        asked.push_back(block);
        const auto nj = static_cast<size_t>(block.count[1]), ni = static_cast<size_t>(block.count[2]);
        for (size_t t = 0; t < static_cast<size_t>(block.count[0]); ++t)
            for (size_t j = 0; j < nj; ++j)
                for (size_t i = 0; i < ni; ++i) out[(t * nj + j) * ni + i] = value(t, j, i);
    }));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].count, field.count) << "only the cells within the grid are read";
    ASSERT_EQ(chunk.size(), 1932u * 8 * 16);
    size_t wrong = 0;
    for (size_t t = 0; t < 1932; ++t)
        for (size_t j = 0; j < 8; ++j)
            for (size_t i = 0; i < 16; ++i)
                wrong += chunk[(t * 8 + j) * 16 + i] != (j < 7 ? value(t, j, i) : -99.9f);
    EXPECT_EQ(wrong, 0u);
}

}  // namespace
