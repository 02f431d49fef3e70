#include "qc/listing.h"

#include <vector>

namespace qc {

void write_listing(textio::Sink& report, int32_t c, const std::string& hdr, const int32_t* gpt,
                   const float* glat, const float* glon, int32_t nfound) {
    static const textio::Layout rule("(/1x,72('='))");
    static const textio::Layout cell("(/1x,'Grid point: ',i4,a80)");
    static const textio::Layout title("(/1x,'Grid point numbers used in Queens Case analysis:')");
    static const textio::Layout numbers("(1x,'gpt',20i8)");
    static const textio::Layout lats("(1x,'lat ',20f8.2)");
    static const textio::Layout lons("(1x,'lon ',20f8.2)");

    report.write(rule, {});
    report.write(cell, {c, hdr});
    report.write(rule, {});
    report.write(title, {});
    std::vector<textio::OutValue> row;
    row.reserve(nfound);
    for (int32_t j = 0; j < nfound; ++j) row.emplace_back(gpt[j]);
    report.write(numbers, row);
    row.clear();
    for (int32_t j = 0; j < nfound; ++j) row.emplace_back(glat[j]);
    report.write(lats, row);
    row.clear();
    for (int32_t j = 0; j < nfound; ++j) row.emplace_back(glon[j]);
    report.write(lons, row);
}

}  // namespace qc
