#pragma once
// Gross-outlier screens and the pre-calibration level adjustment of one
// neighbourhood. Series are plain month runs; -99.9 marks a missing month.
#include <cstdint>
#include <vector>

#include "numeric/matrix.h"
#include "textio/sink.h"
#include "textio/values.h"

namespace qc {

// Sets every valid value of x[0..n) whose magnitude is 10 or more to missing.
// The removed values go to outval in month order when it is given; returns
// how many were removed.
int32_t screen_gross(float* x, int32_t n, float* outval);

// Sets every valid value of x[0..n) lying 10 or more from `centre` to missing.
void screen_around(float* x, int32_t n, float centre);

// Mean of the valid values of x[0..n) (sum in month order, divided by the
// count as a real), or -99.9 when there is none.
float valid_mean(const float* x, int32_t n);
// valid_mean of the columns x + j * ld, j in [0, count), into means[j].
void valid_means(const float* x, int32_t ld, int32_t count, int32_t n, float* means);

// The outlier listings of one period: the heading before the first listed
// column of a cell, then one "gpt" record per column with outliers.
class OutlierListing {
public:
    // `values` is scratch with room for 1 + nmon values (reserved by the owner).
    OutlierListing(const textio::Layout& heading, textio::Sink& report,
                   std::vector<textio::OutValue>& values)
        : heading_(heading), report_(report), values_(values) {}

    void reset() { listed_ = 0; }
    void list(int32_t gpt, const float* outval, int32_t nout);

private:
    const textio::Layout& heading_;
    textio::Sink& report_;
    std::vector<textio::OutValue>& values_;
    int32_t listed_ = 0;
};

// Work lists for the pre-calibration step, owned by the caller: `premean`,
// `medcopy` with room for nfound values, `valid`, `outval` for npre.
struct PrecalibrationWork {
    float* premean;
    float* medcopy;
    float* valid;
    float* outval;
};

// The pre-calibration screens and level adjustments of the neighbourhood
// columns nbr(1..npre, 1..nfound) and of the centre copy ctr[0..npre), in
// place, against the one median of the columns' pre-calibration means.
void screen_precalibration(numeric::ColumnMatrix<float> nbr, float* ctr, const int32_t* gpt,
                           int32_t nfound, int32_t npre, const PrecalibrationWork& work,
                           OutlierListing& listing);

}  // namespace qc
