// MonthlyPDSI.nc: the run on the smallest rectangle of the grid that holds
// its cells; months and cells the files lack are the fill value.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "formats/cf_attributes.h"
#include "formats/nc_file.h"
#include "formats/netcdf_library.h"
#include "formats/run_grid.h"
#include "formats/series.h"
#include "formats/temp_output.h"
#include "formats/writers.h"
#include "maps/crs.h"

namespace formats {

namespace {

using runfiles::RunData;

// One cell's whole series and one month's map both cost a few chunks of
// 64 KiB: 64 months by 16 by 16 cells, deflate level 2 after shuffle.
constexpr size_t kChunkMonths = 64, kChunkCells = 16;
constexpr int kDeflate = 1;


// A run that kept no cell has dimensions of length 0, which netCDF knows
// only as unlimited ones; the classic model allows one, so that file is of
// the netCDF-4 model. Every other file is of the classic model.
class Writer {
public:
    Writer(const RunData& data, const Provenance& made, const std::string& path, const std::string& shown)
        : data_(data), box_(data), file_(path, shown, box_.nlat > 0) {
        define(made);
        write();
        file_.close();
    }

private:
    int def_field(const char* name, const char* long_name) {
        const int var = file_.def_var(name, NC_FLOAT, {time_dim_, lat_dim_, lon_dim_});
        file_.check(netcdf().def_var_fill(file_.id(), var, NC_FILL, &kFill), "nc_def_var_fill", name);
        if (data_.nmon() > 0 && box_.nlat > 0) {
            const size_t chunks[3] = {std::min<size_t>(kChunkMonths, data_.nmon()), std::min(kChunkCells, box_.nlat),
                                      std::min(kChunkCells, box_.nlon)};
            file_.check(netcdf().def_var_chunking(file_.id(), var, NC_CHUNKED, chunks), "nc_def_var_chunking", name);
            file_.check(netcdf().def_var_deflate(file_.id(), var, 1, 1, kDeflate), "nc_def_var_deflate", name);
        }
        file_.put_text(var, "long_name", long_name);
        put_all(var, cf::kField);
        file_.put_text(var, "grid_mapping", "crs");
        return var;
    }

    template <size_t N>
    void put_all(int var, const cf::Attribute (&attributes)[N]) {
        for (const cf::Attribute& a : attributes) file_.put_text(var, a.name, a.text);
    }

    template <size_t N>
    void def_axis(const char* name, int dim, const cf::Attribute (&attributes)[N], int& var, int& bnds) {
        var = file_.def_var(name, NC_FLOAT, {dim});
        put_all(var, attributes);
        bnds = file_.def_var((std::string(name) + "_bnds").c_str(), NC_FLOAT, {dim, nv_dim_});
    }

    void define(const Provenance& made) {
        time_dim_ = file_.def_dim("time", static_cast<size_t>(data_.nmon()));
        lat_dim_ = file_.def_dim("lat", box_.nlat);
        lon_dim_ = file_.def_dim("lon", box_.nlon);
        nv_dim_ = file_.def_dim("nv", 2);

        time_ = def_time_axis(file_, time_dim_, nv_dim_);
        def_axis("lat", lat_dim_, cf::kLat, lat_var_, lat_bnds_);
        def_axis("lon", lon_dim_, cf::kLon, lon_var_, lon_bnds_);

        // GDAL's netCDF driver takes the coordinate system from crs_wkt.
        const int crs = file_.def_var("crs", NC_INT, {});
        file_.put_text(crs, "grid_mapping_name", std::string(maps::kGridMappingName));
        file_.put_double(crs, "semi_major_axis", maps::kSemiMajorAxis);
        file_.put_double(crs, "inverse_flattening", maps::kInverseFlattening);
        file_.put_double(crs, "longitude_of_prime_meridian", maps::kPrimeMeridian);
        file_.put_text(crs, "crs_wkt", std::string(maps::kCrsWkt));

        pdsi_ = def_field("pdsi", cf::kPdsiLongName);
        if (data_.filled()) {
            estimate_ = def_field("pdsi_estimate", "Palmer Drought Severity Index estimated from the neighbourhood");
            file_.put_text(estimate_, "comment",
                           "principal-component regression on the cell's 2.5-degree neighbourhood over the "
                           "calibration years");
            if (data_.calibration) {
                file_.put_int(estimate_, "calibration_first_year", data_.calibration->first);
                file_.put_int(estimate_, "calibration_last_year", data_.calibration->second);
            }
            filled_ = def_field("pdsi_filled", "Palmer Drought Severity Index, gaps filled");
            file_.put_text(filled_, "comment",
                           "pdsi where it has a value, pdsi_estimate where the month is missing");
        }

        file_.put_text(NC_GLOBAL, "Conventions", cf::kConventions);
        file_.put_text(NC_GLOBAL, "title", cf::kTitle);
        file_.put_text(NC_GLOBAL, "source", made.source);
        file_.put_text(NC_GLOBAL, "history", history_line(made.command_line));
        std::string references;
        for (const auto& line : data_.citation) references += (references.empty() ? "" : "\n") + line;
        file_.put_text(NC_GLOBAL, "references", references);
        if (data_.nmon() > 0) file_.put_text(NC_GLOBAL, "span", std::to_string(data_.iyr1) + ":" + std::to_string(data_.iyr2));
        if (box_.nlat > 0)
            file_.put_text(NC_GLOBAL, "box",
                           box_text(box_.lat(0), box_.lat(box_.nlat - 1), box_.lon(0), box_.lon(box_.nlon - 1)));
        if (made.max_missing) file_.put_float(NC_GLOBAL, "max_missing_fraction", *made.max_missing);
        file_.enddef();
    }

    void put(int var, const std::vector<float>& v, const char* name) {
        file_.check(netcdf().put_var_float(file_.id(), var, v.data()), "nc_put_var_float", name);
    }

    void write_axes() {
        put_time_axis(file_, time_, data_.iyr1, data_.nmon());
        std::vector<float> lat, lat_bnds, lon, lon_bnds;
        for (size_t j = 0; j < box_.nlat; ++j) {
            lat.push_back(box_.lat(j));
            lat_bnds.insert(lat_bnds.end(), {box_.lat(j) - kHalf, box_.lat(j) + kHalf});
        }
        for (size_t i = 0; i < box_.nlon; ++i) {
            lon.push_back(box_.lon(i));
            lon_bnds.insert(lon_bnds.end(), {box_.lon(i) - kHalf, box_.lon(i) + kHalf});
        }
        put(lat_var_, lat, "lat");
        put(lat_bnds_, lat_bnds, "lat_bnds");
        put(lon_var_, lon, "lon");
        put(lon_bnds_, lon_bnds, "lon_bnds");
    }

    // One block of chunk rows at a time: months k0..k0+n of the whole map.
    void write_field(int var, Series which, const char* name) {
        const size_t map = box_.nlat * box_.nlon;
        std::vector<size_t> where(data_.cells.size());
        for (size_t c = 0; c < where.size(); ++c) where[c] = box_.offset(data_.cells[c]);
        std::vector<float> block;
        for (size_t k0 = 0; k0 < static_cast<size_t>(data_.nmon()); k0 += kChunkMonths) {
            const size_t n = std::min<size_t>(kChunkMonths, data_.nmon() - k0);
            fill_months(data_, which, where, map, k0, n, block);
            const size_t start[3] = {k0, 0, 0}, count[3] = {n, box_.nlat, box_.nlon};
            file_.check(netcdf().put_vara_float(file_.id(), var, start, count, block.data()), "nc_put_vara_float", name);
        }
    }

    void write() {
        write_axes();
        if (box_.nlat == 0) return;
        write_field(pdsi_, Series::observed, "pdsi");
        if (data_.filled()) {
            write_field(estimate_, Series::estimate, "pdsi_estimate");
            write_field(filled_, Series::filled, "pdsi_filled");
        }
    }

    const RunData& data_;
    Rectangle box_;
    NcFile file_;
    int time_dim_ = -1, lat_dim_ = -1, lon_dim_ = -1, nv_dim_ = -1;
    TimeAxis time_;
    int lat_var_ = -1, lat_bnds_ = -1, lon_var_ = -1, lon_bnds_ = -1;
    int pdsi_ = -1, estimate_ = -1, filled_ = -1;
};

}  // namespace

void write_netcdf(const RunData& data, const Provenance& made, const std::filesystem::path& out) {
    TempOutput temp(out);
    { Writer writer(data, made, temp.temp().string(), out.string()); }
    temp.commit();
}

}  // namespace formats
