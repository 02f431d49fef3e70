#include "extract/writecells.h"

#include "extract/names.h"
#include "textio/editors.h"

namespace extract {

void YearRecordWriter::write(textio::Sink& sink, int32_t year, const float* months) {
    std::string& out = sink.buffer();
    out.push_back(' ');
    textio::edit_int(out, year, 4);
    char fields[12 * 7];
    for (int32_t k = 0; k < 12; ++k) {
        fields[7 * k] = ' ';
        cache_.edit(fields + 7 * k + 1, months[k]);
    }
    out.append(fields, sizeof fields);
    out.push_back('\n');
    sink.flush_if_full();
}

void writecells(textio::Console& console, const GridStore& store, const std::vector<int32_t>& keep,
                const GridAxes& axes, int32_t iyr1, const std::filesystem::path& dir) {
    static const textio::Layout citation(
        "(1x,'Orv-Kelmaston-Ruel Global/Land PDSI, version 2010: monthly Palmer Drought'"
        "/1x,'Severity Index on a 2.5 by 2.5 degree land grid, January 1850 to December'"
        "/1x,'2010, with self-calibrated values. See the data set''s documentation.')");
    static const textio::Layout title("(1x,'  Orv-Kelmaston-Ruel ',i4/1x,'Global PDSI cell mid-points'/1x,'  Xlon.   Ylat')");
    static const textio::Layout echo("(10x,f8.2,f8.2,'  Orv Kelmaston Ruel Global PDSI values')");
    static const textio::Layout header("(1x,f8.2,f8.2,'  Orv Kelmaston Ruel Global PDSI values')");
    static const textio::Layout midpoint("(1x,f8.2,f8.2)");

    textio::FileSink tsf((dir / std::string(kTsfName)).string());
    textio::FileSink xy((dir / std::string(kXyName)).string());
    tsf.write(citation, {});
    xy.write(title, {kLastYear});

    YearRecordWriter years;
    const Box& box = store.box();
    const int32_t nyrs = store.nmon() / 12;
    for (int32_t n = 1; n <= box.nbox(); ++n) {
        if (keep[static_cast<size_t>(n - 1)] == 0) continue;
        const float lon = axes.xlon(box.column(n));
        const float lat = axes.ylat(box.row(n));
        console.write(echo, {lat, lon});
        tsf.write(header, {lat, lon});
        xy.write(midpoint, {lon, lat});
        const float* series = store.series(n);
        for (int32_t y = 1; y <= nyrs; ++y) years.write(tsf, iyr1 + y - 1, series + 12 * (y - 1));
    }
    tsf.close();
    xy.close();
}

}  // namespace extract
