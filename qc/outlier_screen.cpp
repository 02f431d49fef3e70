#include "qc/outlier_screen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "numeric/stats.h"

namespace qc {
namespace {

constexpr float missing = -99.9f;
constexpr float outlier_limit = 10.0f;
constexpr float level_limit = 1.0f;

// Brings the valid values of x[0..n) from level `mean` to level `target`;
// missing months stay missing.
void shift_valid(float* x, int32_t n, float mean, float target) {
    for (int32_t k = 0; k < n; ++k) {
        if (x[k] != missing) x[k] = x[k] - mean + target;
    }
}

bool is_gross(float v) { return (v != missing) & (std::fabs(v) >= outlier_limit); }

// is_gross of any of x[0..8), one vector comparison for four.
bool any_gross(const float* x) {
#if defined(__SSE2__)
    const __m128 miss = _mm_set1_ps(missing), limit = _mm_set1_ps(outlier_limit);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    auto gross = [&](__m128 v) {
        return _mm_and_ps(_mm_cmpneq_ps(v, miss), _mm_cmpge_ps(_mm_and_ps(v, magnitude), limit));
    };
    return _mm_movemask_ps(_mm_or_ps(gross(_mm_loadu_ps(x)), gross(_mm_loadu_ps(x + 4)))) != 0;
#else
    bool any = false;
    for (int32_t q = 0; q < 8; ++q) any |= is_gross(x[q]);
    return any;
#endif
}

}  // namespace

int32_t screen_gross(float* x, int32_t n, float* outval) {
    int32_t nout = 0;
    auto screen = [&](int32_t k) {
        if (is_gross(x[k])) {
            if (outval) outval[nout] = x[k];
            x[k] = missing;
            ++nout;
        }
    };
    // Outliers are rare: eight months at a time pass one test, free of
    // branches, when none of them is one.
    constexpr int32_t kLanes = 8;
    int32_t k = 0;
    for (; k + kLanes <= n; k += kLanes) {
        if (!any_gross(x + k)) continue;
        for (int32_t q = 0; q < kLanes; ++q) screen(k + q);
    }
    for (; k < n; ++k) screen(k);
    return nout;
}

void screen_around(float* x, int32_t n, float centre) {
    for (int32_t k = 0; k < n; ++k) {
        if (x[k] != missing && std::fabs(x[k] - centre) >= outlier_limit) x[k] = missing;
    }
}

float valid_mean(const float* x, int32_t n) {
    float sum = 0.0f;
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) {
        if (x[k] != missing) {
            sum += x[k];
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<float>(count) : missing;
}

void valid_means(const float* x, int32_t ld, int32_t count, int32_t n, float* means) {
    // Four columns side by side: each sum is still one chain in month
    // order, but four chains keep the adder busy.
    int32_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const float* a = x + static_cast<ptrdiff_t>(j) * ld;
        const float* b = a + ld;
        const float* c = b + ld;
        const float* d = c + ld;
        float sa = 0.0f, sb = 0.0f, sc = 0.0f, sd = 0.0f;
        int32_t na = 0, nb = 0, nc = 0, nd = 0;
        int32_t k = 0;
#if defined(__SSE2__)
        // Four months of the four columns turned into four months of one
        // vector: lane q sums column q in month order. A missing month adds
        // +0, which leaves every sum as it is (none is ever -0).
        const __m128 miss = _mm_set1_ps(missing);
        __m128 sums = _mm_setzero_ps();
        __m128i counts = _mm_setzero_si128();
        for (; k + 4 <= n; k += 4) {
            __m128 m0 = _mm_loadu_ps(a + k), m1 = _mm_loadu_ps(b + k), m2 = _mm_loadu_ps(c + k),
                   m3 = _mm_loadu_ps(d + k);
            _MM_TRANSPOSE4_PS(m0, m1, m2, m3);
            for (const __m128 month : {m0, m1, m2, m3}) {
                const __m128 valid = _mm_cmpneq_ps(month, miss);
                sums = _mm_add_ps(sums, _mm_and_ps(month, valid));
                counts = _mm_sub_epi32(counts, _mm_castps_si128(valid));
            }
        }
        alignas(16) float s4[4];
        alignas(16) int32_t n4[4];
        _mm_store_ps(s4, sums);
        _mm_store_si128(reinterpret_cast<__m128i*>(n4), counts);
        sa = s4[0], sb = s4[1], sc = s4[2], sd = s4[3];
        na = n4[0], nb = n4[1], nc = n4[2], nd = n4[3];
#endif
        for (; k < n; ++k) {
            if (a[k] != missing) sa += a[k], ++na;
            if (b[k] != missing) sb += b[k], ++nb;
            if (c[k] != missing) sc += c[k], ++nc;
            if (d[k] != missing) sd += d[k], ++nd;
        }
        means[j] = na > 0 ? sa / static_cast<float>(na) : missing;
        means[j + 1] = nb > 0 ? sb / static_cast<float>(nb) : missing;
        means[j + 2] = nc > 0 ? sc / static_cast<float>(nc) : missing;
        means[j + 3] = nd > 0 ? sd / static_cast<float>(nd) : missing;
    }
    for (; j < count; ++j) means[j] = valid_mean(x + static_cast<ptrdiff_t>(j) * ld, n);
}

void OutlierListing::list(int32_t gpt, const float* outval, int32_t nout) {
    static const textio::Layout record("(1x,'gpt',i5,1x,10f7.2/(10x,10f7.2))");
    if (nout <= 0) return;
    if (++listed_ == 1) report_.write(heading_, {});
    values_.clear();
    values_.emplace_back(gpt);
    for (int32_t i = 0; i < nout; ++i) values_.emplace_back(outval[i]);
    report_.write(record, values_);
}

void screen_precalibration(numeric::ColumnMatrix<float> nbr, float* ctr, const int32_t* gpt,
                           int32_t nfound, int32_t npre, const PrecalibrationWork& work,
                           OutlierListing& listing) {
    // Column means before anything of this period is screened or moved.
    valid_means(nbr.column(1), nbr.ld(), nfound, npre, work.premean);

    // The centre copy is screened against its own median, not against zero,
    // so a series sitting at a high level keeps its values.
    int32_t nvalid = 0;
    for (int32_t k = 0; k < npre; ++k) {
        if (ctr[k] != missing) work.valid[nvalid++] = ctr[k];
    }
    if (nvalid > 0) {
        float ctrmed = 0.0f;
        if (nvalid >= 2) numeric::median(work.valid, nvalid, ctrmed);
        screen_around(ctr, npre, ctrmed);
    }
    float ctrpre = valid_mean(ctr, npre);

    // Columns without pre-calibration data vote with their -99.9, which
    // keeps sparse neighbourhoods from being adjusted at all.
    for (int32_t j = 0; j < nfound; ++j) work.medcopy[j] = work.premean[j];
    float premed = 0.0f;
    numeric::median(work.medcopy, nfound, premed);
    const bool level_reference = std::fabs(premed) < level_limit;

    listing.reset();
    for (int32_t j = 1; j <= nfound; ++j) {
        float* column = nbr.column(j);
        float& premean = work.premean[j - 1];
        if (std::fabs(premean) >= level_limit && level_reference) {
            shift_valid(column, npre, premean, premed);
            premean = valid_mean(column, npre);
        }
        const int32_t nout = screen_gross(column, npre, work.outval);
        listing.list(gpt[j - 1], work.outval, nout);
    }

    // For the centre the screen came first; the adjustment follows.
    if (std::fabs(ctrpre) >= level_limit && level_reference) {
        shift_valid(ctr, npre, ctrpre, premed);
    }
}

}  // namespace qc
