#include "qc/analysis.h"

#include <algorithm>
#include <stdexcept>

#include "qc/eof_estimate.h"
#include "qc/outlier_screen.h"

namespace qc {

CellAnalysis::CellAnalysis(int32_t nmon, int32_t maxiter)
    : nmon_(nmon),
      maxiter_(maxiter),
      xmn_(kMaxCells),
      sig_(kMaxCells),
      evl_(kMaxCells),
      offdiag_(kMaxCells),
      premean_(kMaxCells),
      medcopy_(kMaxCells),
      calmean_(kMaxCells),
      outval_(nmon),
      valid_(nmon),
      score_(nmon),
      pc1_(nmon),
      pc2_(nmon),
      pc3_(nmon),
      xcal_(static_cast<size_t>(nmon) * kMaxCells),
      cor_(kMaxCells * kMaxCells) {
    // Every record holds at most a cell number and a month per value.
    values_.reserve(static_cast<size_t>(std::max(nmon, kMaxCells)) + 1);
}

void CellAnalysis::run(numeric::ColumnMatrix<float> nbr, float* ctr, const float* as_read,
                       const int32_t* gpt, int32_t nfound, int32_t nmon, int32_t ncal,
                       int32_t npre, float* est, textio::Sink& report, textio::Sink& console) {
    static const textio::Layout separator("(/1x,71('='))");
    static const textio::Layout calibration_heading(
        "(/1x,'EOF calibration period outliers found: |PDSI|>10 set to missing')");
    static const textio::Layout precalibration_heading(
        "(/1x,'Pre-calibration period outliers found: |PDSI|>10 set to missing')");
    static const textio::Layout no_calibration(
        "(1x,'No valid calibration values: series written as read')");
    static const textio::Layout solver_failed("(1x,'Eigen-solver failed: series written as read')");

    if (nmon > nmon_ || nfound < 2 || nfound > kMaxCells || ncal < 1 || npre != nmon - ncal) {
        throw std::invalid_argument("CellAnalysis::run: neighbourhood outside the sized storage");
    }

    report.write(separator, {});

    // Calibration screen and block, column by column.
    const numeric::ColumnMatrix<float> xcal(xcal_.data(), nmon_);
    OutlierListing calibration(calibration_heading, report, values_);
    for (int32_t j = 1; j <= nfound; ++j) {
        const int32_t nout = screen_gross(nbr.column(j) + npre, ncal, outval_.data());
        calibration.list(gpt[j - 1], outval_.data(), nout);
    }
    valid_means(nbr.column(1) + npre, nbr.ld(), nfound, ncal, calmean_.data());
    for (int32_t j = 1; j <= nfound; ++j) {
        fill_calibration_column(nbr.column(j), npre, ncal, calmean_[j - 1], xcal.column(j));
    }

    // The centre's own copy: screened silently, then infilled.
    screen_gross(ctr + npre, ncal, nullptr);
    if (!infill_centre(ctr + npre, ncal)) {
        report.write(no_calibration, {});
        std::copy(as_read, as_read + nmon, est);
        return;
    }

    OutlierListing precalibration(precalibration_heading, report, values_);
    screen_precalibration(nbr, ctr, gpt, nfound, npre,
                          {premean_.data(), medcopy_.data(), valid_.data(), outval_.data()},
                          precalibration);

    const EofWork work{xcal,         numeric::ColumnMatrix<float>(cor_.data(), kMaxCells),
                       xmn_.data(),  sig_.data(),
                       evl_.data(),  offdiag_.data(),
                       score_.data(), pc1_.data(),
                       pc2_.data(),  pc3_.data(),
                       values_,      maxiter_};
    if (!estimate_from_eofs(nbr, ctr, gpt, nfound, nmon, ncal, npre, work, est, report, console)) {
        report.write(solver_failed, {});
        std::copy(as_read, as_read + nmon, est);
    }
}

}  // namespace qc
