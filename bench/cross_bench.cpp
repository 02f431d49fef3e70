// The correlation kernel of the gap filling, on the block one cell's
// analysis hands it: 30 years of months, 9 and 20 neighbours.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "numeric/stats.h"

namespace {

void BM_Cross(benchmark::State& state) {
    const int32_t n = 360, m = static_cast<int32_t>(state.range(0));
    constexpr int32_t ldx = 1700, ldc = 20;
    std::vector<float> block(static_cast<size_t>(ldx) * ldc), x(block.size()), c(static_cast<size_t>(ldc) * ldc);
    std::vector<float> xmn(ldc), sig(ldc);
    uint32_t seed = 12345;
    for (float& v : block) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<int32_t>(seed >> 20) - 2048) / 256.0f;
    }
    for (auto _ : state) {
        x = block;
        numeric::cross(numeric::ColumnMatrix<float>(x.data(), ldx), n, m, xmn.data(), sig.data(),
                       numeric::ColumnMatrix<float>(c.data(), ldc), 2);
        benchmark::DoNotOptimize(c.data());
    }
}
BENCHMARK(BM_Cross)->Arg(9)->Arg(20);

}  // namespace

BENCHMARK_MAIN();
