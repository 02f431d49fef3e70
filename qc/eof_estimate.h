#pragma once
// The principal-component regression of a centre cell on its neighbourhood:
// the calibration block, the EOF analysis and the estimate of every month.
#include <cstdint>
#include <vector>

#include "numeric/matrix.h"
#include "textio/sink.h"
#include "textio/values.h"

namespace qc {

// Column j's part of the calibration block: copies the ncal calibration
// months of `series` (a column of nbr, months from 1) to `block`, infilling
// missing months with calmean, the column's calibration mean (valid_mean),
// in both; a column without valid calibration values has calmean -99.9 and
// so is left at -99.9 throughout.
void fill_calibration_column(float* series, int32_t npre, int32_t ncal, float calmean, float* block);

// Infills the missing months of the centre's calibration months cal[0..ncal)
// with their mean. Returns false, leaving them as they are, when there is no
// valid value to take a mean of.
bool infill_centre(float* cal, int32_t ncal);

// The second and third components are judged only when they explain more
// than one cell's share of the variance (an eigenvalue above 1), and enter
// only when their calibration scores correlate with the centre above 0.1.
bool worth_judging(float eigenvalue);
bool enters(float correlation);

// Working storage of the EOF analysis, owned by the caller and reused cell
// after cell: xcal nmon by 20 cells, cor 20 by 20, lists of 20 and of nmon.
struct EofWork {
    numeric::ColumnMatrix<float> xcal;
    numeric::ColumnMatrix<float> cor;
    float* xmn;
    float* sig;
    float* evl;
    float* offdiag;
    float* score;
    float* pc1;
    float* pc2;
    float* pc3;
    std::vector<textio::OutValue>& values;  // room for 1 + max(nmon, 20) values
    int32_t maxiter;                        // the eigen-solver's iteration limit
};

// Standardises the calibration block, reports its statistics and EOFs,
// chooses the components, and fills est[0..nmon). nbr is left standardised.
// Returns false when the eigen-solver fails; est is then untouched and the
// report holds the records written up to the solver's call.
bool estimate_from_eofs(numeric::ColumnMatrix<float> nbr, const float* ctr, const int32_t* gpt,
                        int32_t nfound, int32_t nmon, int32_t ncal, int32_t npre,
                        const EofWork& work, float* est, textio::Sink& report,
                        textio::Sink& console);

}  // namespace qc
