#pragma once
// The per-cell analysis: outlier screens and level adjustment of the
// neighbourhood, then the EOF principal-component regression estimate.
#include <cstdint>
#include <vector>

#include "numeric/matrix.h"
#include "textio/sink.h"
#include "textio/values.h"

namespace qc {

// Holds the working storage of the analysis, sized once for a run of nmon
// months and reused cell after cell.
class CellAnalysis {
public:
    // Neighbourhoods hold at most this many cells.
    static constexpr int32_t kMaxCells = 20;

    // maxiter is the eigen-solver's iteration limit (tests lower it to reach
    // the failure path with an ordinary neighbourhood).
    explicit CellAnalysis(int32_t nmon, int32_t maxiter = 30);

    // nbr      in/out  nmon by nfound working copies; column j is cell gpt[j-1]
    // ctr      in/out  nmon values: working copy of the centre's series
    // as_read  in      nmon values: the centre's series as read
    // gpt      in      nfound cell numbers, ascending, centre at its own place
    // est      out     nmon values: the cell's estimate
    // report           the report file; console gets the solver's failure line
    void run(numeric::ColumnMatrix<float> nbr, float* ctr, const float* as_read,
             const int32_t* gpt, int32_t nfound, int32_t nmon, int32_t ncal, int32_t npre,
             float* est, textio::Sink& report, textio::Sink& console);

private:
    int32_t nmon_;
    int32_t maxiter_;
    // Lists of one entry per neighbourhood cell.
    std::vector<float> xmn_, sig_, evl_, offdiag_, premean_, medcopy_, calmean_;
    // Lists of one entry per month.
    std::vector<float> outval_, valid_, score_, pc1_, pc2_, pc3_;
    std::vector<float> xcal_;  // nmon by kMaxCells
    std::vector<float> cor_;   // kMaxCells by kMaxCells
    std::vector<textio::OutValue> values_;  // report record values, capacity reserved
};

}  // namespace qc
