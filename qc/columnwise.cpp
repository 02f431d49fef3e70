#include "qc/columnwise.h"

#include <string>
#include <vector>

#include "qc/year_record.h"

namespace qc {

namespace {

// A month record is "(f8.3,1000f7.2)" over the time value and the cells:
// when the layout's fields run out the record ends and the layout starts
// again, so every line takes 1001 values, its first as F8.3.
constexpr int32_t kPerLine = 1001;
constexpr int32_t kFirstWidth = 8;
constexpr int32_t kFieldWidth = 7;

size_t record_length(int32_t nvalues) {
    const size_t lines = static_cast<size_t>((nvalues + kPerLine - 1) / kPerLine);
    return lines * (kFirstWidth + 1) + (static_cast<size_t>(nvalues) - lines) * kFieldWidth;
}

}  // namespace

float month_time(int32_t iyr1, int32_t k) {
    return static_cast<float>(iyr1) + (static_cast<float>(k) - 1.0f) / 12.0f;
}

void write_columnwise(textio::Sink& out, const float* values, int32_t nmon, int32_t ngrid,
                      int32_t iyr1) {
    static const textio::Layout heading("('Months  ',1000i7)");
    std::vector<textio::OutValue> numbers;
    numbers.reserve(static_cast<size_t>(ngrid));
    for (int32_t c = 1; c <= ngrid; ++c) numbers.emplace_back(c);
    out.write(heading, numbers);
    const size_t length = record_length(ngrid + 1);
    for (int32_t k = 1; k <= nmon; ++k) {
        std::string& buffer = out.buffer();
        const size_t start = buffer.size();
        buffer.resize(start + length);
        char* p = buffer.data() + start;
        put_real<kFirstWidth, 3>(p, month_time(iyr1, k));
        p += kFirstWidth;
        for (int32_t i = 1; i <= ngrid; ++i) {
            const float value = values[static_cast<size_t>(i - 1) * nmon + (k - 1)];
            if (i % kPerLine != 0) {
                put_real<kFieldWidth, 2>(p, value);
                p += kFieldWidth;
            } else {
                *p++ = '\n';
                put_real<kFirstWidth, 3>(p, value);
                p += kFirstWidth;
            }
        }
        *p = '\n';
        out.flush_if_full();
    }
}

}  // namespace qc
