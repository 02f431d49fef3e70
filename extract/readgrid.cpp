#include "extract/readgrid.h"

#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <vector>

#include "extract/grid_axes.h"
#include "extract/month_shape.h"
#include "extract/row_reader.h"
#include "numeric/turn_over.h"
#include "parallel/pipeline.h"
#include "textio/block_scanner.h"
#include "textio/errors.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace extract {

namespace {

constexpr int32_t kBlock = 1 + kRows;  // month header and its data rows
// Months per batch. Rows come month by month but a cell's series runs
// along the months: a batch is parsed as it comes and then turned over,
// so that the store is written a cache line at a time instead of one value
// per cell.
constexpr int32_t kStaged = static_cast<int32_t>(GridStore::kLine);

// One cache line of the store, written past the caches: the store is far
// larger than they are, and a line written whole need not be read first.
void put_line(float* dst, const float* src) {
#if defined(__SSE__)
    for (size_t k = 0; k < GridStore::kLine; k += 4) _mm_stream_ps(dst + k, _mm_loadu_ps(src + k));
#else
    std::memcpy(dst, src, GridStore::kLine * sizeof(float));
#endif
}

// Copies a batch of `count` months, staged as read (month, then row, then
// column), into the store, where each cell's months follow one another.
// A whole batch fills one line of each cell: four cells of a row at a time,
// four months of each turned into four months of one cell in registers.
void put_batch(const float* staged, size_t nrows, size_t ncols, size_t count, GridStore& store, int32_t first) {
    auto month = [&](size_t q, size_t r) { return staged + (q * nrows + r) * ncols; };
    auto cell = [&](size_t c, size_t r) {
        return store.series(static_cast<int32_t>(c * nrows + r + 1)) + (first - 1);
    };
    const size_t month_step = nrows * ncols;
    for (size_t r = 0; r < nrows; ++r) {
        size_t c = 0;
        if (count == kStaged) {
            for (; c + 4 <= ncols; c += 4) {
                float* const line[4] = {cell(c, r), cell(c + 1, r), cell(c + 2, r), cell(c + 3, r)};
                for (size_t q = 0; q < kStaged; q += 4) {
                    float* const dst[4] = {line[0] + q, line[1] + q, line[2] + q, line[3] + q};
                    numeric::turn_over4<true>(month(q, r) + c, month_step, dst);
                }
            }
        }
        for (; c < ncols; ++c) {
            float line[kStaged];
            for (size_t q = 0; q < count; ++q) line[q] = month(q, r)[c];
            if (count == kStaged) put_line(cell(c, r), line);
            else std::memcpy(cell(c, r), line, count * sizeof(float));
        }
    }
}

void end_lines() {
#if defined(__SSE__)
    _mm_sfence();  // the streamed lines are seen before the batch's commit
#endif
}

struct BoxRow {
    size_t offset, size;  // in the batch's bytes
    int32_t nrec;         // records before it
    int32_t row;          // 0 = the box's southernmost
    int32_t month;        // 0 = the batch's first
};

// Some months of the file, read by the calling thread, parsed by any.
struct Batch {
    textio::Block bytes;
    std::string copied;  // the box rows alone, when they are copied out
    std::vector<BoxRow> rows;
    int32_t first = 1;  // its first month of the span
    int32_t count = 0;  // months it completes
    std::exception_ptr end;  // the file ended after its rows
    std::optional<GridReadFailure> failure;  // its first box row that cannot be read
    std::vector<float> staged;  // kStaged months of every cell, as read
    std::string scratch;
    // Read ahead at a computed offset by the thread that parses it:
    int64_t offset = -1;     // where it was looked for, -1 when read in turn
    int32_t nrec0 = 0;       // records before it
    bool misshapen = false;  // the bytes there were not the months expected
};

// A batch read ahead turned out not to lie where the shape put it; reading
// goes on from there in turn, its record counted as `nrec`.
struct Misshapen {
    int64_t offset;
    int32_t first, nrec;
};

// Parses `rows` of `bytes` into the batch's staging; false, with the
// failure noted, at the first that cannot be read.
bool parse_rows(Batch& batch, std::string_view bytes, const std::vector<BoxRow>& rows, const RowReader& reader,
                const Box& box) {
    const size_t ncols = static_cast<size_t>(box.ncols());
    const size_t nrows = static_cast<size_t>(box.nrows());
    batch.staged.resize(kStaged * ncols * nrows);
    for (const BoxRow& r : rows) {
        const std::string_view row = textio::clean_record(bytes.substr(r.offset, r.size), batch.scratch);
        float* to = &batch.staged[(static_cast<size_t>(r.month) * nrows + static_cast<size_t>(r.row)) * ncols];
        if (!reader.read(row, to)) {
            batch.failure = GridReadFailure{r.nrec, box, reader.fault(row)};
            return false;
        }
    }
    return true;
}

void store_batch(Batch& batch, const Box& box, GridStore& store) {
    put_batch(batch.staged.data(), static_cast<size_t>(box.nrows()), static_cast<size_t>(box.ncols()),
              static_cast<size_t>(batch.count), store, batch.first);
    end_lines();
}

void parse(Batch& batch, const RowReader& reader, const Box& box, GridStore& store, bool copied) {
    const std::string_view bytes = copied ? std::string_view(batch.copied) : batch.bytes.view();
    if (!parse_rows(batch, bytes, batch.rows, reader, box) || batch.end) return;
    store_batch(batch, box, store);
}

// Reads and parses the batch's months one by one from its offset on, each
// checked to lie where the shape puts it; a month is small enough for the
// kernel's copy of it and the parse to find it in cache.
void read_ahead(Batch& batch, const textio::BlockScanner& in, const MonthShape& shape, const RowReader& reader,
                const Box& box, GridStore& store) {
    const int32_t first = (batch.first - 1) % 12;  // the span starts in January
    int64_t at = batch.offset;
    for (int32_t q = 0; q < batch.count; ++q) {
        const int32_t of_year = (first + q) % 12;
        const size_t header = shape.header[static_cast<size_t>(of_year)];
        const size_t size = shape.bytes(of_year, 1);
        if (batch.bytes.capacity < size) {
            batch.bytes.data = std::make_unique_for_overwrite<char[]>(size);
            batch.bytes.capacity = size;
        }
        batch.bytes.size = in.read_at(batch.bytes.data.get(), size, at);
        at += static_cast<int64_t>(size);
        if (!has_shape(batch.bytes.view(), shape, of_year, 1)) {
            batch.misshapen = true;
            return;
        }
        batch.rows.clear();
        for (int32_t j = box.jlat1; j <= box.jlat2; ++j)
            batch.rows.push_back({header + static_cast<size_t>(j - 1) * shape.row, shape.row - 1,
                                  batch.nrec0 + q * kBlock + j, j - box.jlat1, q});
        if (!parse_rows(batch, batch.bytes.view(), batch.rows, reader, box)) return;
    }
    store_batch(batch, box, store);
}

}  // namespace

GridStore readgrid(const std::string& path, int32_t iyr1, int32_t iyr2, const Box& box, textio::Progress* progress,
                   int32_t threads) {
    const std::string unit = std::filesystem::path(path).filename().string();
    textio::BlockScanner in(path);
    if (!in.ok()) throw textio::IoError("Cannot open file", "open", unit);

    int32_t nrec = 0;
    auto skip = [&] {
        if (!in.next()) throw GridEnded(unit, nrec);
        ++nrec;
    };
    skip();  // file header
    // The months before the span: their line feeds are counted, in parallel.
    const int64_t before = static_cast<int64_t>(12) * (iyr1 - kFirstYear) * kBlock;
    const int64_t skipped = in.skip(before, threads);
    nrec += static_cast<int32_t>(skipped);
    if (skipped < before) throw GridEnded(unit, nrec);
    textio::Block dropped;
    in.cut(dropped);

    const int32_t nmon = 12 * (iyr2 - iyr1 + 1);
    GridStore store(box, nmon, GridStore::Unfilled{});
    const RowReader reader(box.ilon1, box.ilon2);
    // A narrow box copies its rows, as far as its last column, out of the
    // read buffer, which then stays small and in cache; a wide one hands
    // whole blocks of the file over.
    const size_t row_part = static_cast<size_t>(7 * box.ilon2);
    const bool copy_rows = static_cast<size_t>(box.nrows()) * row_part * 4 < static_cast<size_t>(kRows) * 7 * kColumns;
    if (copy_rows) in.stream();

    const size_t window = parallel::Pipeline::window_for(threads);
    parallel::Slots<Batch> batches(window);
    // A wide box on several threads: once the first batch shows the file's
    // months to have one shape, the others are read ahead where that shape
    // puts them, each by the thread that parses it.
    bool may_read_ahead = threads > 1 && !copy_rows;
    std::optional<MonthShape> shape;
    int64_t ahead = 0;  // the file offset of the next batch read ahead
    int32_t m = 1;
    for (;;) {
        try {
            parallel::Pipeline pipeline(threads, window);
            auto commit = [progress, nmon](Batch& batch) {
                if (batch.misshapen) throw Misshapen{batch.offset, batch.first, batch.nrec0};
                if (batch.failure) throw *batch.failure;
                if (batch.end) std::rethrow_exception(batch.end);
                if (progress)
                    for (int32_t k = 0; k < batch.count; ++k) progress->advance(batch.first + k, nmon);
            };
            while (m <= nmon) {
                Batch& batch = batches.next();
                batch.rows.clear();
                batch.copied.clear();
                batch.first = m;
                batch.count = 0;
                batch.end = nullptr;
                batch.failure.reset();
                batch.offset = -1;
                batch.nrec0 = nrec;
                batch.misshapen = false;
                if (shape) {
                    batch.count = std::min(kStaged, nmon - m + 1);
                    batch.offset = ahead;
                    ahead += static_cast<int64_t>(shape->bytes((m - 1) % 12, batch.count));
                    m += batch.count;
                    nrec += batch.count * kBlock;
                    pipeline.submit(
                        [&batch, &in, &reader, &box, &store, s = *shape] { read_ahead(batch, in, s, reader, box, store); },
                        [&batch, &commit] { commit(batch); });
                    continue;
                }
                try {
                    for (; m <= nmon && batch.count < kStaged; ++m, ++batch.count) {
                        skip();  // month header
                        for (int32_t j = 1; j < box.jlat1; ++j) skip();
                        for (int32_t j = box.jlat1; j <= box.jlat2; ++j) {
                            const auto row = in.next();
                            if (!row) throw GridReadFailure{nrec, box, "the file ends before it"};
                            if (copy_rows) {
                                // Cleaned first: a tab moves the columns. Nothing past the last column is read.
                                const std::string_view text = textio::clean_record(in.view(*row), batch.scratch);
                                const size_t at = batch.copied.size();
                                batch.copied.append(text.substr(0, row_part));
                                batch.rows.push_back({at, batch.copied.size() - at, nrec, j - box.jlat1, batch.count});
                            } else {
                                batch.rows.push_back({row->offset, row->size, nrec, j - box.jlat1, batch.count});
                            }
                            ++nrec;
                        }
                        for (int32_t j = box.jlat2 + 1; j <= kRows; ++j) skip();
                    }
                } catch (...) {
                    batch.end = std::current_exception();
                }
                if (!copy_rows) in.cut(batch.bytes);
                if (may_read_ahead && !batch.end && batch.count == kStaged) {
                    shape = shape_of(batch.bytes.view(), batch.count);
                    ahead = in.tell();
                    if (ahead < 0) shape.reset();
                    may_read_ahead = false;
                }
                pipeline.submit([&batch, &reader, &box, &store, copy_rows] { parse(batch, reader, box, store, copy_rows); },
                                [&batch, &commit] { commit(batch); });
                if (batch.end) break;
            }
            pipeline.finish();
            return store;
        } catch (const Misshapen& miss) {
            // Every batch behind it is dropped, the threads are done with
            // the store, and the file is read in turn from the miss on.
            shape.reset();
            m = miss.first;
            nrec = miss.nrec;
            in.seek(miss.offset);  // failing, it reads as the end of the file
        }
    }
}

}  // namespace extract
