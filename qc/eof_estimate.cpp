#include "qc/eof_estimate.h"

#include <algorithm>

#include "numeric/htdql.h"
#include "numeric/stats.h"
#include "qc/year_record.h"

namespace qc {
namespace {

using numeric::ColumnMatrix;
using textio::Layout;
using textio::OutValue;

constexpr float missing = -99.9f;

void write_cell_numbers(textio::Sink& report, const int32_t* gpt, int32_t nfound,
                        std::vector<OutValue>& values) {
    static const Layout numbers("(1x,'gpt',i7,20i8)");
    values.clear();
    for (int32_t j = 0; j < nfound; ++j) values.emplace_back(gpt[j]);
    report.write(numbers, values);
}

void write_reals(textio::Sink& report, const Layout& row, const float* v, int32_t n,
                 std::vector<OutValue>& values) {
    values.clear();
    for (int32_t j = 0; j < n; ++j) values.emplace_back(v[j]);
    report.write(row, values);
}

// One record per cell: its number, then its row of m (the correlations, or
// its loadings on each EOF).
void write_matrix(textio::Sink& report, ColumnMatrix<float> m, const int32_t* gpt, int32_t nfound) {
    std::vector<float> row(static_cast<size_t>(nfound));
    for (int32_t i = 1; i <= nfound; ++i) {
        for (int32_t j = 1; j <= nfound; ++j) row[static_cast<size_t>(j - 1)] = m(i, j);
        write_cell_row(report, gpt[i - 1], row.data(), nfound);
    }
}

// Scores of EOF p over the calibration months, from the standardised block.
// Built cell by cell, each month's sum taking the cells in order; four
// months at a time, loaded before stored, so the compiler may use vector
// operations that round each lane as alone.
void calibration_scores(const EofWork& work, int32_t p, int32_t nfound, int32_t ncal) {
    float* score = work.score;
    std::fill(score, score + ncal, 0.0f);
    for (int32_t j = 1; j <= nfound; ++j) {
        const float* x = work.xcal.column(j);
        const float loading = work.cor(j, p);
        int32_t i = 0;
        for (; i + 4 <= ncal; i += 4) {
            const float x0 = x[i], x1 = x[i + 1], x2 = x[i + 2], x3 = x[i + 3];
            const float s0 = score[i], s1 = score[i + 1], s2 = score[i + 2], s3 = score[i + 3];
            score[i] = s0 + x0 * loading;
            score[i + 1] = s1 + x1 * loading;
            score[i + 2] = s2 + x2 * loading;
            score[i + 3] = s3 + x3 * loading;
        }
        for (; i < ncal; ++i) score[i] += x[i] * loading;
    }
}

// Cell j's part of every month's scores: its valid months standardised in
// place, a column that was constant over the calibration months standing
// at its mean, 0; missing months drop out.
template <bool use2, bool use3>
void add_cell_scores(const EofWork& work, float* x, int32_t nmon, int32_t j) {
    const float sig = work.sig[j - 1];
    const float mean = work.xmn[j - 1];
    const float l1 = work.cor(j, 1);
    const float l2 = use2 ? work.cor(j, 2) : 0.0f;
    const float l3 = use3 ? work.cor(j, 3) : 0.0f;
    float* pc1 = work.pc1;
    float* pc2 = work.pc2;
    float* pc3 = work.pc3;
    auto month = [&](int32_t k) {
        float v = x[k];
        if (v == missing) return;
        v = sig != 0.0f ? (v - mean) / sig : 0.0f;
        x[k] = v;
        pc1[k] += v * l1;
        if (use2) pc2[k] += v * l2;
        if (use3) pc3[k] += v * l3;
    };
    int32_t k = 0;
    // Four valid months at a time, everything loaded before anything is
    // stored, so that the compiler may use vector operations; each lane
    // rounds as it would alone.
    for (; sig != 0.0f && k + 4 <= nmon; k += 4) {
        const float x0 = x[k], x1 = x[k + 1], x2 = x[k + 2], x3 = x[k + 3];
        if (!((x0 != missing) & (x1 != missing) & (x2 != missing) & (x3 != missing))) {
            for (int32_t q = 0; q < 4; ++q) month(k + q);
            continue;
        }
        const float a0 = pc1[k], a1 = pc1[k + 1], a2 = pc1[k + 2], a3 = pc1[k + 3];
        float b0 = 0, b1 = 0, b2 = 0, b3 = 0, c0 = 0, c1 = 0, c2 = 0, c3 = 0;
        if (use2) b0 = pc2[k], b1 = pc2[k + 1], b2 = pc2[k + 2], b3 = pc2[k + 3];
        if (use3) c0 = pc3[k], c1 = pc3[k + 1], c2 = pc3[k + 2], c3 = pc3[k + 3];
        const float v0 = (x0 - mean) / sig, v1 = (x1 - mean) / sig;
        const float v2 = (x2 - mean) / sig, v3 = (x3 - mean) / sig;
        x[k] = v0, x[k + 1] = v1, x[k + 2] = v2, x[k + 3] = v3;
        pc1[k] = a0 + v0 * l1, pc1[k + 1] = a1 + v1 * l1;
        pc1[k + 2] = a2 + v2 * l1, pc1[k + 3] = a3 + v3 * l1;
        if (use2) {
            pc2[k] = b0 + v0 * l2, pc2[k + 1] = b1 + v1 * l2;
            pc2[k + 2] = b2 + v2 * l2, pc2[k + 3] = b3 + v3 * l2;
        }
        if (use3) {
            pc3[k] = c0 + v0 * l3, pc3[k + 1] = c1 + v1 * l3;
            pc3[k + 2] = c2 + v2 * l3, pc3[k + 3] = c3 + v3 * l3;
        }
    }
    for (; k < nmon; ++k) month(k);
}

struct Fit {
    float r = 0.0f, a = 0.0f, b = 0.0f;
};

// Judges the second or third component; it enters only on a clearly
// positive correlation with the centre.
bool judge_component(textio::Sink& report, const Layout& used, const Layout& not_used,
                     const EofWork& work, int32_t p, int32_t nfound, int32_t ncal,
                     const float* ycal) {
    calibration_scores(work, p, nfound, ncal);
    Fit fit;
    numeric::pearsn(work.score, ycal, ncal, fit.r, fit.a, fit.b);
    const bool use = enters(fit.r);
    report.write(use ? used : not_used, {fit.r, fit.b, fit.a});
    return use;
}

}  // namespace

bool worth_judging(float eigenvalue) { return eigenvalue > 1.0f; }

bool enters(float correlation) { return correlation > 0.1f; }

void fill_calibration_column(float* series, int32_t npre, int32_t ncal, float calmean, float* block) {
    float* cal = series + npre;
    for (int32_t i = 0; i < ncal; ++i) {
        if (cal[i] == missing) cal[i] = calmean;
        block[i] = cal[i];
    }
}

bool infill_centre(float* cal, int32_t ncal) {
    float sum = 0.0f;
    int32_t count = 0;
    for (int32_t i = 0; i < ncal; ++i) {
        if (cal[i] != missing) {
            sum += cal[i];
            ++count;
        }
    }
    if (count == 0) return false;
    const float ctrmean = sum / static_cast<float>(count);
    for (int32_t i = 0; i < ncal; ++i) {
        if (cal[i] == missing) cal[i] = ctrmean;
    }
    return true;
}

bool estimate_from_eofs(ColumnMatrix<float> nbr, const float* ctr, const int32_t* gpt,
                        int32_t nfound, int32_t nmon, int32_t ncal, int32_t npre,
                        const EofWork& work, float* est, textio::Sink& report,
                        textio::Sink& console) {
    static const Layout means_heading("(/1x,'Calibration period means and standard deviations:')");
    static const Layout xmn_row("(1x,'xmn',10f8.3)");
    static const Layout sig_row("(1x,'sig',10f8.3)");
    static const Layout cor_heading("(/1x,'Calibration period correlation matrix for EOF analysis:')");
    static const Layout evl_heading("(/1x,'Eigenvalues and percent variance accounted for:')");
    static const Layout evl_row("(1x,'evl',10f8.3)");
    static const Layout pct_row("(1x,'pct',10f8.3)");
    static const Layout eof_heading("(/1x,'EOF loadings:')");
    static const Layout pc_heading("(/1x,'Correlations, slopes, and intercepts for PCs with EV>1.0:')");
    static const Layout pc1_used("(1x,'PC1:',3f8.3,3x,'PC used in PDSI estimates')");
    static const Layout pc2_used("(1x,'PC2:',3f8.3,3x,'PC used in PDSI estimates')");
    static const Layout pc2_not_used("(1x,'PC2:',3f8.3,3x,'PC NOT used in PDSI estimates')");
    static const Layout pc3_used("(1x,'PC3:',3f8.3,3x,'PC used in PDSI estimates')");
    static const Layout pc3_not_used("(1x,'PC3:',3f8.3,3x,'PC NOT used in PDSI estimates')");
    static const Layout sum_heading(
        "(/1x,'Correlations, slopes, and intercepts for cumulative variance account for:')");
    static const Layout sum_row("(1x,'Sum:',3f8.3,3x,'All PCs used in PDSI estimates')");

    std::vector<OutValue>& values = work.values;
    const float* ycal = ctr + npre;

    // B, C, D: standardise the block and report what the EOFs are built on.
    numeric::cross(work.xcal, ncal, nfound, work.xmn, work.sig, work.cor, 2);
    report.write(means_heading, {});
    write_cell_numbers(report, gpt, nfound, values);
    write_reals(report, xmn_row, work.xmn, nfound, values);
    write_reals(report, sig_row, work.sig, nfound, values);
    report.write(cor_heading, {});
    write_cell_numbers(report, gpt, nfound, values);
    write_matrix(report, work.cor, gpt, nfound);

    // E: the solver reports its own failure on the console.
    numeric::htdql(nfound, work.evl, work.offdiag, work.cor, console, work.maxiter);
    if (nfound == 0) return false;

    // F, G.
    report.write(evl_heading, {});
    write_cell_numbers(report, gpt, nfound, values);
    write_reals(report, evl_row, work.evl, nfound, values);
    values.clear();
    for (int32_t p = 0; p < nfound; ++p) {
        values.emplace_back(work.evl[p] / static_cast<float>(nfound));
    }
    report.write(pct_row, values);
    report.write(eof_heading, {});
    write_cell_numbers(report, gpt, nfound, values);
    write_matrix(report, work.cor, gpt, nfound);

    // H: the first component always enters; the next two only on their merits.
    calibration_scores(work, 1, nfound, ncal);
    Fit fit;
    numeric::pearsn(work.score, ycal, ncal, fit.r, fit.a, fit.b);
    report.write(pc_heading, {});
    report.write(pc1_used, {fit.r, fit.b, fit.a});
    bool use2 = false;
    bool use3 = false;
    if (worth_judging(work.evl[1])) {
        use2 = judge_component(report, pc2_used, pc2_not_used, work, 2, nfound, ncal, ycal);
    }
    if (nfound >= 3 && worth_judging(work.evl[2])) {
        use3 = judge_component(report, pc3_used, pc3_not_used, work, 3, nfound, ncal, ycal);
    }

    // I: scores of every month, built cell by cell; each month's sums still
    // take the cells in order.
    std::fill(work.pc1, work.pc1 + nmon, 0.0f);
    if (use2) std::fill(work.pc2, work.pc2 + nmon, 0.0f);
    if (use3) std::fill(work.pc3, work.pc3 + nmon, 0.0f);
    for (int32_t j = 1; j <= nfound; ++j) {
        float* column = nbr.column(j);
        if (use2 && use3) add_cell_scores<true, true>(work, column, nmon, j);
        else if (use2) add_cell_scores<true, false>(work, column, nmon, j);
        else if (use3) add_cell_scores<false, true>(work, column, nmon, j);
        else add_cell_scores<false, false>(work, column, nmon, j);
    }

    // J: one fitted line, intercept included, per component used.
    Fit f1, f2, f3;
    numeric::pearsn(work.pc1 + npre, ycal, ncal, f1.r, f1.a, f1.b);
    if (use2) numeric::pearsn(work.pc2 + npre, ycal, ncal, f2.r, f2.a, f2.b);
    if (use3) numeric::pearsn(work.pc3 + npre, ycal, ncal, f3.r, f3.a, f3.b);
    for (int32_t k = 0; k < nmon; ++k) {
        float e = 0.0f;
        e += f1.a + f1.b * work.pc1[k];
        if (use2) e += f2.a + f2.b * work.pc2[k];
        if (use3) e += f3.a + f3.b * work.pc3[k];
        est[k] = e;
    }

    // K: the combined fit is reported only.
    Fit total;
    numeric::pearsn(est + npre, ycal, ncal, total.r, total.a, total.b);
    report.write(sum_heading, {});
    report.write(sum_row, {total.r, total.b, total.a});
    return true;
}

}  // namespace qc
