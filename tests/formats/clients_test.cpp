// The NetCDF, CSV and GeoTIFF copies read by the tools people use: ncdump,
// CDO, xarray with CF decoding, Python's csv module and GDAL, each against
// the text files; the area files against xarray's own weighting of the
// copy. A client that is not installed makes its test skip, but GDAL's,
// which CI installs, and whose absence fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/grid.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;

struct RunCase {
    const char* name;
    std::vector<std::string> args;  // of `pdsi extract`, after the grid and the output folder
    bool convert;                   // the copies by `pdsi convert` afterwards instead of --format
    int32_t nlat, nlon, nmon;       // the rectangle and the span the file must have
    bool screened;                  // the rectangle holds cells that are not in the files
    const char* box;                // its outermost mid-points, "" for none
};

const RunCase kRuns[] = {
    {"one cell", {"--years", "1850:1852", "--lat=31.25:31.25", "--lon=-98.75:-98.75", "--max-missing", "1.01"}, true,
     1, 1, 36, false, "lat=31.25:31.25 lon=-98.75:-98.75"},
    {"box with screened cells",
     {"--years", "1850:1852", "--lat=31.25:41.25", "--lon=-98.75:-88.75", "--max-missing", "0.5"}, false, 5, 5, 36,
     true, "lat=31.25:41.25 lon=-98.75:-88.75"},
    {"filled",
     {"--years", "1850:1852", "--lat=31.25:41.25", "--lon=-98.75:-88.75", "--max-missing", "0.5", "--fill",
      "1851:1852"},
     false, 5, 5, 36, true, "lat=31.25:41.25 lon=-98.75:-88.75"},
    {"whole grid one year", {"--years", "1850:1850", "--max-missing", "0.99"}, false, 45, 144, 12, true,
     "lat=-41.25:68.75 lon=-178.75:178.75"},
    {"no cell kept", {"--years", "1850:1852", "--lat=31.25:41.25", "--lon=-98.75:-88.75", "--max-missing", "0"},
     false, 0, 0, 0, false, ""},
};

using testsupport::Output;
using testsupport::shell;

bool have(const std::string& probe) { return shell(probe + " >/dev/null").status == 0; }

const std::string kPython = "/usr/bin/python3";
std::string script() { return testsupport::source_path("formats/clients.py").string(); }

class Clients : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        work_ = new testsupport::TempDir;
        const fs::path grid = *work_ / "grid's.txt";
        cli_test::write_grid(grid);
        for (const RunCase& run : kRuns) {
            const fs::path out = folder(run);
            std::vector<std::string> args{"extract", "--grid", grid.string(), "--out", out.string(), "-q"};
            args.insert(args.end(), run.args.begin(), run.args.end());
            // A run of no cell can have no GeoTIFF.
            if (!run.convert)
                args.insert(args.end(), {"--format", run.nlat ? "netcdf,csv,geotiff" : "netcdf,csv", "--area"});
            auto result = testsupport::run_pdsi(work_->path(), args);
            ASSERT_EQ(result.status, 0) << run.name << ": " << result.err;
            if (run.convert) {
                result = testsupport::run_pdsi(work_->path(), {"convert", out.string(), "--area"});
                ASSERT_EQ(result.status, 0) << run.name << ": " << result.err;
            }
        }
    }
    static void TearDownTestSuite() { delete work_; }
    static fs::path folder(const RunCase& run) {  // CDO takes no blank in a file name
        std::string name = run.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return *work_ / name;
    }
    static fs::path nc(const RunCase& run) { return folder(run) / "MonthlyPDSI.nc"; }
    static std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }
    static testsupport::TempDir* work_;
};
testsupport::TempDir* Clients::work_ = nullptr;

// netCDF has no fixed dimension of length 0: an empty run's are unlimited.
std::string dimension(const char* name, int32_t n) {
    return std::string(name) + (n == 0 ? " = UNLIMITED ; // (0 currently)" : " = " + std::to_string(n) + " ;");
}

TEST_F(Clients, NcdumpShowsTheDimensionsAndVariables) {
    if (!have("ncdump")) GTEST_SKIP() << "ncdump (netcdf-bin) is not installed";
    for (const RunCase& run : kRuns) {
        const Output out = shell("ncdump -h " + quoted(nc(run)));
        ASSERT_EQ(out.status, 0) << run.name << ": " << out.text;
        for (const std::string& line :
             {dimension("time", run.nmon), dimension("lat", run.nlat), dimension("lon", run.nlon),
              std::string("float pdsi(time, lat, lon) ;"),
              std::string(":Conventions = \"CF-1.8\" ;"), std::string("int crs ;"),
              std::string("pdsi:grid_mapping = \"crs\" ;"),
              // The history: plain words as they are, the grid's name quoted for the shell
              // (ncdump shows each quote as \').
              std::string(run.convert ? " pdsi convert /" : "s.txt\\' --out /")})
            EXPECT_NE(out.text.find(line), std::string::npos) << run.name << ": no " << line << "\n" << out.text;
        const std::string box = *run.box ? std::string(":box = \"") + run.box + " (mid-points" : ":box =";
        EXPECT_EQ(out.text.find(box) != std::string::npos, *run.box != '\0') << run.name << ": " << box << "\n" << out.text;
        const std::string span = run.nmon ? ":span = \"1850:" + std::to_string(1849 + run.nmon / 12) + "\"" : ":span =";
        EXPECT_EQ(out.text.find(span) != std::string::npos, run.nmon > 0) << run.name << ": " << span << "\n" << out.text;
        const bool filled = std::string(run.name) == "filled";
        EXPECT_EQ(out.text.find("float pdsi_filled(time, lat, lon)") != std::string::npos, filled) << run.name;
    }
}

TEST_F(Clients, CdoSeesALonLatGridAndTheMonths) {
    if (!have("cdo -s --version")) GTEST_SKIP() << "cdo is not installed";
    for (const RunCase& run : kRuns) {
        if (run.nlat == 0) continue;  // CDO takes no grid of no points
        const Output out = shell("cdo -s sinfon " + quoted(nc(run)));
        ASSERT_EQ(out.status, 0) << run.name << ": " << out.text;
        const std::string grid = "lonlat                   : points=" + std::to_string(run.nlat * run.nlon) + " (" +
                                 std::to_string(run.nlon) + "x" + std::to_string(run.nlat) + ")";
        EXPECT_NE(out.text.find(grid), std::string::npos) << run.name << "\n" << out.text;
        EXPECT_NE(out.text.find("time : " + std::to_string(run.nmon) + " steps"), std::string::npos)
            << run.name << "\n" << out.text;
        EXPECT_NE(out.text.find("Calendar = standard  Bounds = true"), std::string::npos) << run.name;
    }
}

TEST_F(Clients, CdoGivesBackTheTextValues) {
    if (!have("cdo -s --version")) GTEST_SKIP() << "cdo is not installed";
    if (!have(kPython + " -c ''")) GTEST_SKIP() << kPython << " is not installed";
    for (const RunCase& run : kRuns) {
        if (run.nlat == 0) continue;
        const fs::path table = folder(run) / "table.txt";
        const Output tab =
            shell("cdo -s outputtab,date,lon,lat,value -selname,pdsi " + quoted(nc(run)) + " > " + quoted(table));
        ASSERT_EQ(tab.status, 0) << run.name << ": " << tab.text;
        const Output out = shell(kPython + " " + script() + " cdotab " + quoted(folder(run)) + " " + quoted(table));
        EXPECT_EQ(out.status, 0) << run.name << ": " << out.text;
    }
}

// One Python process reads every folder; one summary line each.
std::vector<std::string> check_all(const std::string& mode, const std::vector<fs::path>& folders, Output& out) {
    std::string command = kPython + " " + script() + " " + mode;
    for (const fs::path& f : folders) command += " '" + f.string() + "'";
    out = shell(command);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = out.text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(out.text.substr(at, end - at));
    return lines;
}

TEST_F(Clients, XarrayDecodesTimesGapsAndValues) {
    if (!have(kPython + " -c 'import xarray, netCDF4'")) GTEST_SKIP() << "xarray or netCDF4 for " << kPython << " missing";
    std::vector<fs::path> folders;
    for (const RunCase& run : kRuns) folders.push_back(folder(run));
    Output out;
    const auto lines = check_all("xarray", folders, out);
    ASSERT_EQ(out.status, 0) << out.text;
    ASSERT_EQ(lines.size(), std::size(kRuns)) << out.text;
    for (size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(lines[k].find("absent 0") == std::string::npos, kRuns[k].screened) << kRuns[k].name << ": " << lines[k];
}

TEST_F(Clients, XarrayWeighsTheAreaAsTheAreaFiles) {
    if (!have(kPython + " -c 'import xarray, netCDF4'")) GTEST_SKIP() << "xarray or netCDF4 for " << kPython << " missing";
    std::vector<fs::path> folders;
    for (const RunCase& run : kRuns) folders.push_back(folder(run));
    Output out;
    const auto lines = check_all("area", folders, out);
    ASSERT_EQ(out.status, 0) << out.text;
    ASSERT_EQ(lines.size(), std::size(kRuns)) << out.text;
}

TEST_F(Clients, GdalReadsTheCoordinateSystemAndTheTextValues) {
    std::vector<fs::path> folders;
    for (const RunCase& run : kRuns) {
        if (run.nlat == 0) {
            EXPECT_FALSE(fs::exists(folder(run) / "MonthlyPDSI.tif")) << run.name;
            continue;
        }
        folders.push_back(folder(run));
        for (const std::string& file : {"'NETCDF:\"" + nc(run).string() + "\":pdsi'",
                                        quoted(folder(run) / "MonthlyPDSI.tif")}) {
            const Output out = shell("gdalsrsinfo -o epsg " + file);
            EXPECT_EQ(out.status, 0) << run.name << ": " << out.text;
            EXPECT_NE(out.text.find("EPSG:4326"), std::string::npos) << run.name << " " << file << ": " << out.text;
        }
    }
    Output out;
    const auto lines = check_all("gdal", folders, out);
    EXPECT_EQ(out.status, 0) << out.text;
    EXPECT_EQ(lines.size(), folders.size()) << out.text;
}

TEST_F(Clients, CsvModuleReadsTheTextValues) {
    if (!have(kPython + " -c 'import numpy'")) GTEST_SKIP() << "numpy for " << kPython << " missing";
    std::vector<fs::path> folders;
    for (const RunCase& run : kRuns) folders.push_back(folder(run));
    Output out;
    const auto lines = check_all("csv", folders, out);
    EXPECT_EQ(out.status, 0) << out.text;
    EXPECT_EQ(lines.size(), std::size(kRuns)) << out.text;
}

}  // namespace
