#include "extract/writecells.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "extract/names.h"
#include "parallel/pipeline.h"
#include "textio/editors.h"
#include "textio/plain_fields.h"

namespace extract {

void YearRecordWriter::append(std::string& out, int32_t year, const float* months) {
    char record[kRecordSize];
    if (year >= 1000 && year <= 9999) {
        record[0] = ' ';
        uint32_t y = static_cast<uint32_t>(year);
        for (int32_t k = 4; k >= 1; --k, y /= 10) record[k] = static_cast<char>('0' + y % 10);
    } else {
        std::string text(" ");
        textio::edit_int(text, year, 4);
        text.copy(record, 5);
    }
    char* const fields = record + 5;
    if (!known_ || std::memcmp(months, last_, sizeof last_) != 0) {
        char* p = fields;
        for (int32_t k = 0; k < 12; ++k, p += 7) {
            p[0] = ' ';
            // Runs of one value copy the text of the one before.
            if (k > 0 && std::bit_cast<uint32_t>(months[k]) == std::bit_cast<uint32_t>(months[k - 1])) {
                std::memcpy(p + 1, p - 6, 6);
            } else if (!textio::edit_plain_real<6, 2>(p + 1, months[k])) {
                std::string field;
                textio::edit_real(field, months[k], 6, 2);
                field.copy(p + 1, 6);
            }
        }
        std::memcpy(last_, months, sizeof last_);
        std::memcpy(text_, fields, sizeof text_);
        known_ = true;
    } else {
        std::memcpy(fields, text_, sizeof text_);
    }
    record[sizeof record - 1] = '\n';
    out.append(record, sizeof record);
}

const textio::Layout& citation_layout() {
    static const textio::Layout citation(
        "(1x,'Orv-Kelmaston-Ruel Global/Land PDSI, version 2010: monthly Palmer Drought'"
        "/1x,'Severity Index on a 2.5 by 2.5 degree land grid, January 1850 to December'"
        "/1x,'2010, with self-calibrated values. See the data set''s documentation.')");
    return citation;
}

std::string citation_text() {
    textio::StringSink sink;
    sink.write(citation_layout(), {});
    std::string text;
    for (char c : sink.text()) {
        if (c == '\n') c = ' ';
        if (c != ' ' || (!text.empty() && text.back() != ' ')) text += c;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

void writecells(textio::Console& console, const GridView& store, const std::vector<int32_t>& keep,
                const GridAxes& axes, int32_t iyr1, textio::Sink& tsf, textio::Sink& xy, int32_t threads) {
    static const textio::Layout title("(1x,'  Orv-Kelmaston-Ruel ',i4/1x,'Global PDSI cell mid-points'/1x,'  Xlon.   Ylat')");
    static const textio::Layout echo("(10x,f8.2,f8.2,'  Orv Kelmaston Ruel Global PDSI values')");
    static const textio::Layout header("(1x,f8.2,f8.2,'  Orv Kelmaston Ruel Global PDSI values')");
    static const textio::Layout midpoint("(1x,f8.2,f8.2)");

    tsf.write(citation_layout(), {});
    xy.write(title, {kLastYear});

    const Box& box = store.box();
    const int32_t nyrs = store.nmon() / 12;
    std::vector<int32_t> kept;
    for (int32_t n = 1; n <= box.nbox(); ++n)
        if (keep[static_cast<size_t>(n - 1)] != 0) kept.push_back(n);

    // A batch of cells: their records, made on any thread.
    struct Batch {
        size_t first = 0, count = 0;  // in kept
        textio::RecordingSink text;   // per cell: its header, then its years
        YearRecordWriter years;
    };
    constexpr size_t kCells = 32;
    const size_t window = parallel::Pipeline::window_for(threads);
    parallel::Slots<Batch> batches(window);
    auto format = [&](Batch& batch) {
        batch.text.clear();
        for (size_t k = batch.first; k < batch.first + batch.count; ++k) {
            const int32_t n = kept[k];
            batch.text.write(header, {axes.ylat(box.row(n)), axes.xlon(box.column(n))});
            const float* series = store.series(n);
            for (int32_t y = 1; y <= nyrs; ++y) batch.years.write(batch.text, iyr1 + y - 1, series + 12 * (y - 1));
        }
    };
    // In the order and with the flushes of one record at a time.
    auto commit = [&](Batch& batch) {
        const size_t per_cell = 1 + static_cast<size_t>(nyrs);
        for (size_t k = 0; k < batch.count; ++k) {
            const int32_t n = kept[batch.first + k];
            const float lon = axes.xlon(box.column(n));
            const float lat = axes.ylat(box.row(n));
            console.write(echo, {lat, lon});
            batch.text.replay(tsf, k * per_cell, k * per_cell + 1);
            xy.write(midpoint, {lon, lat});
            batch.text.replay(tsf, k * per_cell + 1, (k + 1) * per_cell);
        }
    };
    {
        parallel::Pipeline pipeline(threads, window);
        for (size_t first = 0; first < kept.size(); first += kCells) {
            Batch& batch = batches.next();
            batch.first = first;
            batch.count = std::min(kCells, kept.size() - first);
            pipeline.submit([&format, &batch] { format(batch); }, [&commit, &batch] { commit(batch); });
        }
        pipeline.finish();
    }
    tsf.flush();
    xy.flush();
}

void writecells(textio::Console& console, const GridView& store, const std::vector<int32_t>& keep,
                const GridAxes& axes, int32_t iyr1, const std::filesystem::path& dir, int32_t threads) {
    textio::FileSink tsf((dir / std::string(kTsfName)).string());
    textio::FileSink xy((dir / std::string(kXyName)).string());
    writecells(console, store, keep, axes, iyr1, tsf, xy, threads);
    tsf.close();
    xy.close();
}

}  // namespace extract
