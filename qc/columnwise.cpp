#include "qc/columnwise.h"

#include <algorithm>
#include <string>
#include <vector>

#include "numeric/turn_over.h"
#include "parallel/pipeline.h"
#include "qc/year_record.h"

namespace qc {

namespace {

// A month record is "(f8.3,1000f7.2)" over the time value and the cells:
// when the layout's fields run out the record ends and the layout starts
// again, so every line takes 1001 values, its first as F8.3.
constexpr int32_t kPerLine = 1001;
constexpr int32_t kFirstWidth = 8;
constexpr int32_t kFieldWidth = 7;
// Months gathered per pass over the cells: a cache line of each column
// instead of one value from each of thousands of pages per record, and
// tasks small enough to keep both sides of the pipeline busy.
constexpr int32_t kTile = 16;

size_t record_length(int32_t nvalues) {
    const size_t lines = static_cast<size_t>((nvalues + kPerLine - 1) / kPerLine);
    return lines * (kFirstWidth + 1) + (static_cast<size_t>(nvalues) - lines) * kFieldWidth;
}

void write_month(textio::Sink& out, float time, const float* row, int32_t ngrid, size_t length) {
    std::string& buffer = out.buffer();
    const size_t start = buffer.size();
    buffer.resize(start + length);
    char* p = buffer.data() + start;
    put_real<kFirstWidth, 3>(p, time);
    p += kFirstWidth;
    int32_t line_end = kPerLine - 1;  // the first cell of the next line
    for (int32_t i = 0;;) {
        for (const int32_t end = std::min(ngrid, line_end); i < end; ++i, p += kFieldWidth) {
            put_real<kFieldWidth, 2>(p, row[i]);
        }
        if (i == ngrid) break;
        *p++ = '\n';
        put_real<kFirstWidth, 3>(p, row[i]);
        p += kFirstWidth;
        line_end = ++i + kPerLine - 1;
    }
    *p = '\n';
    out.flush_if_full();
}

// tile[q * ngrid + i] = cells[i * nmon + first + q] for months q < nk, four
// cells by four months at a time. No cells may come as null.
void gather_months(const float* cells, size_t nmon, size_t ngrid, size_t first, size_t nk, float* tile) {
    size_t i = 0;
    for (; i + 4 <= ngrid; i += 4) {
        const float* c0 = cells + i * nmon + first;
        size_t q = 0;
        for (; q + 4 <= nk; q += 4) {
            float* const dst[4] = {tile + q * ngrid + i, tile + (q + 1) * ngrid + i, tile + (q + 2) * ngrid + i,
                                   tile + (q + 3) * ngrid + i};
            numeric::turn_over4(c0 + q, nmon, dst);
        }
        for (; q < nk; ++q)
            for (size_t k = 0; k < 4; ++k) tile[q * ngrid + i + k] = c0[k * nmon + q];
    }
    for (; i < ngrid; ++i)
        for (size_t q = 0; q < nk; ++q) tile[q * ngrid + i] = cells[i * nmon + first + q];
}

}  // namespace

float month_time(int32_t iyr1, int32_t k) {
    return static_cast<float>(iyr1) + (static_cast<float>(k) - 1.0f) / 12.0f;
}

void write_columnwise(textio::Sink& out, const float* values, int32_t nmon, int32_t ngrid,
                      int32_t iyr1, int32_t threads) {
    static const textio::Layout heading("('Months  ',1000i7)");
    std::vector<textio::OutValue> numbers;
    numbers.reserve(static_cast<size_t>(ngrid));
    for (int32_t c = 1; c <= ngrid; ++c) numbers.emplace_back(c);
    out.write(heading, numbers);
    const size_t length = record_length(ngrid + 1);

    struct Block {
        int32_t k0 = 1, nk = 0;
        std::vector<float> tile;
        textio::RecordingSink text;
    };
    auto format = [&](Block& block, textio::Sink& to) {
        block.tile.resize(static_cast<size_t>(kTile) * static_cast<size_t>(ngrid));
        gather_months(values, static_cast<size_t>(nmon), static_cast<size_t>(ngrid), static_cast<size_t>(block.k0 - 1),
                      static_cast<size_t>(block.nk), block.tile.data());
        for (int32_t q = 0; q < block.nk; ++q) {
            write_month(to, month_time(iyr1, block.k0 + q), block.tile.data() + static_cast<size_t>(q) * ngrid,
                        ngrid, length);
        }
    };
    if (threads <= 1) {
        Block block;
        for (block.k0 = 1; block.k0 <= nmon; block.k0 += kTile) {
            block.nk = std::min(kTile, nmon - block.k0 + 1);
            format(block, out);
        }
        return;
    }
    const size_t window = parallel::Pipeline::window_for(threads);
    parallel::Slots<Block> blocks(window);
    parallel::Pipeline pipeline(threads, window);
    for (int32_t k0 = 1; k0 <= nmon; k0 += kTile) {
        Block& block = blocks.next();
        block.k0 = k0;
        block.nk = std::min(kTile, nmon - k0 + 1);
        pipeline.submit(
            [&format, &block] {
                block.text.clear();
                format(block, block.text);
            },
            [&out, &block] { block.text.replay(out, 0, block.text.mark()); });
    }
    pipeline.finish();
}

}  // namespace qc
