#include "qc/year_batches.h"

namespace qc {

namespace {

constexpr size_t kBatchBytes = 1 << 18;

}  // namespace

YearBatches::YearBatches(int32_t threads, Parse parse)
    : parse_(std::move(parse)),
      window_(parallel::Pipeline::window_for(threads)),
      batches_(window_),
      filling_(&batches_.next()),
      pipeline_(std::make_unique<parallel::Pipeline>(threads, window_)) {}

void YearBatches::add(std::string_view record, float* months) {
    Batch& batch = *filling_;
    batch.bytes.append(record);
    batch.ends.push_back(batch.bytes.size());
    batch.targets.push_back(months);
    if (batch.bytes.size() >= kBatchBytes) submit();
}

void YearBatches::submit() {
    Batch& batch = *filling_;
    filling_ = &batches_.next();
    pipeline_->submit(
        [this, &batch] {
            size_t at = 0;
            for (size_t k = 0; k < batch.ends.size(); ++k) {
                parse_(std::string_view(batch.bytes).substr(at, batch.ends[k] - at), batch.targets[k]);
                at = batch.ends[k];
            }
        },
        [&batch] {
            batch.bytes.clear();
            batch.ends.clear();
            batch.targets.clear();
        });
}

void YearBatches::finish() {
    if (!filling_->ends.empty()) submit();
    pipeline_->finish();
}

}  // namespace qc
