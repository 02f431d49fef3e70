#pragma once
// Year records read by one thread and parsed on several: the reader hands
// each record over with where its twelve values go, and the values land
// there, the first bad record's error thrown as if parsed in turn.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parallel/pipeline.h"

namespace qc {

class YearBatches {
public:
    // Parses one record into twelve values; throws on a bad one.
    using Parse = std::function<void(std::string_view record, float* months)>;
    YearBatches(int32_t threads, Parse parse);
    void add(std::string_view record, float* months);
    // Parses what is left; rethrows the first error in record order.
    void finish();

private:
    struct Batch {
        std::string bytes;
        std::vector<size_t> ends;
        std::vector<float*> targets;
    };
    void submit();

    Parse parse_;
    size_t window_;
    parallel::Slots<Batch> batches_;
    Batch* filling_;
    std::unique_ptr<parallel::Pipeline> pipeline_;
};

}  // namespace qc
