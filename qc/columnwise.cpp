#include "qc/columnwise.h"

#include <vector>

namespace qc {

float month_time(int32_t iyr1, int32_t k) {
    return static_cast<float>(iyr1) + (static_cast<float>(k) - 1.0f) / 12.0f;
}

void write_columnwise(textio::Sink& out, const float* values, int32_t nmon, int32_t ngrid,
                      int32_t iyr1) {
    static const textio::Layout heading("('Months  ',1000i7)");
    static const textio::Layout month("(f8.3,1000f7.2)");
    std::vector<textio::OutValue> record;
    record.reserve(static_cast<size_t>(ngrid) + 1);
    for (int32_t c = 1; c <= ngrid; ++c) record.emplace_back(c);
    out.write(heading, record);
    for (int32_t k = 1; k <= nmon; ++k) {
        record.clear();
        record.emplace_back(month_time(iyr1, k));
        for (int32_t c = 1; c <= ngrid; ++c) {
            record.emplace_back(values[static_cast<size_t>(c - 1) * nmon + (k - 1)]);
        }
        out.write(month, record);
        out.flush_if_full();
    }
}

}  // namespace qc
