// Throughput of the layout engine on the records the data server writes and
// reads most: year records of the extraction file and 144-field grid rows.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "textio/editors.h"
#include "textio/layout.h"
#include "textio/record_read.h"
#include "textio/sink.h"

namespace {

// Discards what it is given, so the sink's own formatting is what is timed.
class NullSink : public textio::Sink {
public:
    NullSink() : Sink("null") {}
    size_t bytes = 0;
protected:
    void emit(std::string_view b) override { bytes += b.size(); }
};

void BM_WriteYearRecord(benchmark::State& state) {
    const textio::Layout year("(1x,i4,12(1x,f6.2))");
    NullSink sink;
    std::vector<textio::OutValue> values;
    values.emplace_back(int32_t{1850});
    for (int32_t k = 0; k < 12; ++k) values.emplace_back(static_cast<float>(k) * 1.37f - 7.5f);
    for (auto _ : state) {
        sink.write(year, values);
    }
    sink.flush();
    benchmark::DoNotOptimize(sink.bytes);
    state.SetItemsProcessed(state.iterations() * 13);
}
BENCHMARK(BM_WriteYearRecord);

std::string grid_row() {
    std::string row;
    for (int32_t i = 0; i < 144; ++i) {
        float v = (i % 5 == 0) ? -99.9f : static_cast<float>(i % 17) * 0.73f - 5.0f;
        textio::edit_real(row, v, 6, 2);
        row += ' ';
    }
    return row;
}

void BM_ReadGridRow(benchmark::State& state) {
    std::string rowfmt = "(    (f6.2,1x))";
    textio::write_into(std::span<char>(rowfmt.data() + 1, 4), textio::Layout("(i4)"), {144});
    const textio::Layout layout(rowfmt);
    const std::string row = grid_row();
    std::vector<float> values(144);
    std::vector<textio::InTarget> targets(values.begin(), values.end());
    for (auto _ : state) {
        benchmark::DoNotOptimize(textio::read_record(row, layout, targets));
    }
    benchmark::DoNotOptimize(values.data());
    state.SetItemsProcessed(state.iterations() * 144);
}
BENCHMARK(BM_ReadGridRow);

void BM_ParseReal(benchmark::State& state) {
    const char* fields[] = {"-99.90", "  1.23", "-9990 ", " 12.50", "  0.00", " -3.07"};
    size_t k = 0;
    float v = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(textio::parse_real(fields[k], 2, v));
        benchmark::DoNotOptimize(v);
        k = (k + 1) % 6;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseReal);

void BM_EditReal(benchmark::State& state) {
    std::string out;
    float v = -7.5f;
    for (auto _ : state) {
        out.clear();
        textio::edit_real(out, v, 6, 2);
        benchmark::DoNotOptimize(out.data());
        v += 0.37f;
        if (v > 90.0f) v = -90.0f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EditReal);

}  // namespace

BENCHMARK_MAIN();
