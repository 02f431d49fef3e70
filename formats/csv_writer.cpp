// MonthlyPDSI.csv: one row per cell and month, cells in file order. No
// field needs quoting: every one is a number or empty.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "formats/series.h"
#include "formats/temp_output.h"
#include "formats/writers.h"
#include "textio/editors.h"
#include "textio/plain_fields.h"

namespace formats {

namespace {

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The value as the text files show it, two decimals; a missing month is
// an empty field.
void put_value(std::string& row, float v) {
    row += ',';
    if (v == runfiles::kMissing) return;
    char field[10];
    std::string slow;
    const char* text = field;
    size_t width = sizeof field;
    if (!textio::edit_plain_real<10, 2>(field, v)) {
        textio::edit_real(slow, v, 12, 2);
        text = slow.data();
        width = slow.size();
    }
    size_t first = 0;
    while (first < width && text[first] == ' ') ++first;
    row.append(text + first, width - first);
}

}  // namespace

void write_csv(const runfiles::RunData& data, const std::filesystem::path& out) {
    TempOutput temp(out);
    std::unique_ptr<std::FILE, CloseFile> file(std::fopen(temp.temp().c_str(), "wb"));
    if (!file) throw FormatError(out.string() + ": cannot be created: " + std::strerror(errno));
    const auto fail = [&](const char* what) {
        throw FormatError(out.string() + ": " + what + ": " + std::strerror(errno));
    };
    std::string rows = data.filled() ? "lat,lon,year,month,pdsi,pdsi_estimate,pdsi_filled\r\n"
                                     : "lat,lon,year,month,pdsi\r\n";
    char place[64];
    for (int32_t c = 0; c < data.ncells(); ++c) {
        const auto& cell = data.cells[c];
        const float* observed = data.series(c);
        std::snprintf(place, sizeof place, "%.2f,%.2f,", cell.lat, cell.lon);
        const std::string prefix = place;
        for (int32_t k = 0; k < data.nmon(); ++k) {
            rows += prefix;
            rows += std::to_string(data.iyr1 + k / 12);
            rows += ',';
            rows += std::to_string(k % 12 + 1);
            put_value(rows, observed[k]);
            if (data.filled()) {
                put_value(rows, value_of(data, Series::estimate, c, k));
                put_value(rows, value_of(data, Series::filled, c, k));
            }
            rows += "\r\n";
        }
        if (rows.size() >= (1u << 20) || c + 1 == data.ncells()) {
            if (std::fwrite(rows.data(), 1, rows.size(), file.get()) != rows.size()) fail("write failed");
            rows.clear();
        }
    }
    if (!rows.empty() && std::fwrite(rows.data(), 1, rows.size(), file.get()) != rows.size()) fail("write failed");
    std::FILE* f = file.release();
    if (std::fflush(f) != 0 || std::ferror(f)) {
        std::fclose(f);
        fail("write failed");
    }
    if (std::fclose(f) != 0) fail("close failed");
    temp.commit();
}

}  // namespace formats
