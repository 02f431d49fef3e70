#include "qc/eof_estimate.h"

#include "numeric/htdql.h"
#include "numeric/stats.h"

namespace qc {
namespace {

using numeric::ColumnMatrix;
using textio::Layout;
using textio::OutValue;

constexpr float missing = -99.9f;
constexpr float eigen_limit = 1.0f;
constexpr float correlation_limit = 0.1f;

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
void write_matrix(textio::Sink& report, ColumnMatrix<float> m, const int32_t* gpt,
                  int32_t nfound, std::vector<OutValue>& values) {
    static const Layout row("(1x,i3,20f8.3)");
    for (int32_t i = 1; i <= nfound; ++i) {
        values.clear();
        values.emplace_back(gpt[i - 1]);
        for (int32_t j = 1; j <= nfound; ++j) values.emplace_back(m(i, j));
        report.write(row, values);
    }
}

// Scores of EOF p over the calibration months, from the standardised block.
void calibration_scores(const EofWork& work, int32_t p, int32_t nfound, int32_t ncal) {
    for (int32_t i = 1; i <= ncal; ++i) {
        float s = 0.0f;
        for (int32_t j = 1; j <= nfound; ++j) s += work.xcal(i, j) * work.cor(j, p);
        work.score[i - 1] = s;
    }
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
    const bool use = fit.r > correlation_limit;
    report.write(use ? used : not_used, {fit.r, fit.b, fit.a});
    return use;
}

}  // namespace

void assemble_calibration_column(float* series, int32_t npre, int32_t ncal, float* block) {
    float* cal = series + npre;
    float sum = 0.0f;
    int32_t count = 0;
    for (int32_t i = 0; i < ncal; ++i) {
        if (cal[i] != missing) {
            sum += cal[i];
            ++count;
        }
    }
    const float calmean = count > 0 ? sum / static_cast<float>(count) : missing;
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
    write_matrix(report, work.cor, gpt, nfound, values);

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
    write_matrix(report, work.cor, gpt, nfound, values);

    // H: the first component always enters; the next two only on their merits.
    calibration_scores(work, 1, nfound, ncal);
    Fit fit;
    numeric::pearsn(work.score, ycal, ncal, fit.r, fit.a, fit.b);
    report.write(pc_heading, {});
    report.write(pc1_used, {fit.r, fit.b, fit.a});
    bool use2 = false;
    bool use3 = false;
    if (work.evl[1] > eigen_limit) {
        use2 = judge_component(report, pc2_used, pc2_not_used, work, 2, nfound, ncal, ycal);
    }
    if (nfound >= 3 && work.evl[2] > eigen_limit) {
        use3 = judge_component(report, pc3_used, pc3_not_used, work, 3, nfound, ncal, ycal);
    }

    // I: scores of every month; missing cells drop out, and a column that
    // was constant over the calibration months stands at its mean, 0.
    for (int32_t k = 1; k <= nmon; ++k) {
        float s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
        for (int32_t j = 1; j <= nfound; ++j) {
            float& v = nbr(k, j);
            if (v == missing) continue;
            const float sig = work.sig[j - 1];
            v = sig != 0.0f ? (v - work.xmn[j - 1]) / sig : 0.0f;
            s1 += v * work.cor(j, 1);
            if (use2) s2 += v * work.cor(j, 2);
            if (use3) s3 += v * work.cor(j, 3);
        }
        work.pc1[k - 1] = s1;
        if (use2) work.pc2[k - 1] = s2;
        if (use3) work.pc3[k - 1] = s3;
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
