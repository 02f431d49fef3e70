// MonthlyPDSI_area.csv and MonthlyPDSI_area.nc.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/nc_file.h"
#include "formats/netcdf_library.h"
#include "formats/temp_output.h"
#include "indices/area.h"

namespace indices {

namespace {

using formats::FormatError;

constexpr double kFill = -99.9;  // the copies' missing marker, as a double

std::string span_text(const AreaSeries& s) { return std::to_string(s.iyr1) + ":" + std::to_string(s.iyr2); }

// The values of a class as stored, two decimals, from the class table.
std::string class_range(int32_t c) {
    int32_t low = 1 << 30, high = -(1 << 30);
    for (int32_t n = -500; n <= 500; ++n) {
        if (maps::pdsi_class(static_cast<float>(n * 1e-2)) != c) continue;
        low = std::min(low, n);
        high = std::max(high, n);
    }
    char text[64];
    if (low == -500)
        std::snprintf(text, sizeof text, "PDSI <= %.2f", high / 100.0);
    else if (high == 500)
        std::snprintf(text, sizeof text, "PDSI >= %.2f", low / 100.0);
    else
        std::snprintf(text, sizeof text, "PDSI from %.2f to %.2f", low / 100.0, high / 100.0);
    return text;
}

}  // namespace

std::string area_csv(const AreaSeries& series) {
    std::string text = "year,month,cells,mean";
    for (const maps::PdsiClass& c : maps::kPalette) text += "," + std::string(c.column);
    text += "\r\n";
    text.reserve(text.size() + series.months.size() * 100);
    char field[32];
    for (size_t k = 0; k < series.months.size(); ++k) {
        const AreaMonth& m = series.months[k];
        std::snprintf(field, sizeof field, "%d,%d,%d", series.iyr1 + static_cast<int32_t>(k / 12),
                      static_cast<int32_t>(k % 12) + 1, m.cells);
        text += field;
        if (m.cells == 0) {
            text.append(1 + maps::kClasses, ',');
        } else {
            std::snprintf(field, sizeof field, ",%.3f", m.mean);
            text += field;
            for (const double share : m.share) {
                std::snprintf(field, sizeof field, ",%.2f", share);
                text += field;
            }
        }
        text += "\r\n";
    }
    return text;
}

void write_area_csv(const AreaSeries& series, const std::filesystem::path& out) {
    const std::string text = area_csv(series);
    formats::TempOutput temp(out);
    std::FILE* file = std::fopen(temp.temp().c_str(), "wb");
    if (!file) throw FormatError(out.string() + ": cannot be created: " + std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    const int why = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throw FormatError(out.string() + ": write failed: " + std::strerror(written ? errno : why));
    temp.commit();
}

void write_area_netcdf(const AreaSeries& series, const formats::Provenance& made, const std::filesystem::path& out) {
    using formats::netcdf;
    formats::TempOutput temp(out);
    const size_t nmon = series.months.size();
    {
        // netCDF knows a dimension of length 0 only as an unlimited one,
        // which the classic model allows once.
        formats::NcFile file(temp.temp().string(), out.string(), nmon > 0);
        const int time_dim = file.def_dim("time", nmon);
        const int nv_dim = file.def_dim("nv", 2);
        const formats::TimeAxis time = formats::def_time_axis(file, time_dim, nv_dim);
        const int cells = file.def_var("cells", NC_INT, {time_dim});
        file.put_text(cells, "long_name", "kept cells with a value in the month");
        file.put_text(cells, "units", "1");
        const auto def_field = [&](const char* name, const std::string& long_name, const char* units) {
            const int var = file.def_var(name, NC_DOUBLE, {time_dim});
            file.check(netcdf().def_var_fill(file.id(), var, NC_FILL, &kFill), "nc_def_var_fill", name);
            file.put_text(var, "long_name", long_name);
            file.put_text(var, "units", units);
            file.put_text(var, "cell_methods", "time: mean area: mean where land");
            return var;
        };
        const int mean = def_field("mean", "Palmer Drought Severity Index, mean weighted by cell area", "1");
        int share[maps::kClasses];
        for (int32_t c = 0; c < maps::kClasses; ++c) {
            const std::string name(maps::kPalette[c].column);
            share[c] = def_field(name.c_str(),
                                 "share of the area in class \"" + std::string(maps::kPalette[c].label) + "\" (" +
                                     class_range(c) + ")",
                                 "percent");
        }
        file.put_text(NC_GLOBAL, "Conventions", "CF-1.8");
        file.put_text(NC_GLOBAL, "title", "Monthly Palmer Drought Severity Index over the area of a request");
        file.put_text(NC_GLOBAL, "source", made.source);
        file.put_text(NC_GLOBAL, "history", formats::history_line(made.command_line));
        file.put_text(NC_GLOBAL, "comment",
                      "each cell weighted by the cosine of its mid-point's latitude; values as stored, two decimals; "
                      "a month with no value has cells 0 and the fill value elsewhere");
        if (nmon > 0) file.put_text(NC_GLOBAL, "span", span_text(series));
        if (series.box) {
            const auto& b = *series.box;
            file.put_text(NC_GLOBAL, "box", formats::box_text(b[0], b[1], b[2], b[3]));
        }
        file.put_text(NC_GLOBAL, "filled",
                      series.filled ? "yes: pdsi_filled, the observed value where present, else the estimate"
                                    : "no: the observed values; missing months are left out");
        if (made.max_missing) file.put_float(NC_GLOBAL, "max_missing_fraction", *made.max_missing);
        file.enddef();

        formats::put_time_axis(file, time, series.iyr1, static_cast<int32_t>(nmon));
        if (nmon > 0) {
            std::vector<int> counts(nmon);
            std::vector<double> values(nmon);
            for (size_t k = 0; k < nmon; ++k) counts[k] = series.months[k].cells;
            file.check(netcdf().put_var_int(file.id(), cells, counts.data()), "nc_put_var_int", "cells");
            const auto put = [&](int var, const char* name, auto figure) {
                for (size_t k = 0; k < nmon; ++k)
                    values[k] = series.months[k].cells > 0 ? figure(series.months[k]) : kFill;
                file.check(netcdf().put_var_double(file.id(), var, values.data()), "nc_put_var_double", name);
            };
            put(mean, "mean", [](const AreaMonth& m) { return m.mean; });
            for (int32_t c = 0; c < maps::kClasses; ++c)
                put(share[c], maps::kPalette[c].column.data(), [c](const AreaMonth& m) { return m.share[c]; });
        }
        file.close();
    }
    temp.commit();
}

}  // namespace indices
