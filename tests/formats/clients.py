"""Reads a run's NetCDF and CSV copies with the tools people use and checks
them against the run's text files, parsed here by their fixed columns.
    clients.py xarray DIR... | csv DIR... | area DIR... | cdotab DIR TABLE | gdal DIR...
Prints one summary line per folder; a mismatch is a message on stderr and status 1."""
import csv
import os
import subprocess
import sys

import numpy as np


def text_run(d):
    """{(lat, lon): {(year, month): 'text'}} of MonthlyPDSI.tsf, and of the QC file if there."""
    def read(name, skip):
        cells, span = {}, set()
        path = os.path.join(d, name)
        if not os.path.exists(path):
            return None, span
        with open(path) as f:
            lines = f.read().split("\n")[skip:]
        key = None
        for line in lines:
            if not line.strip():
                continue
            year = line[:5].strip()
            if year.isdigit() and len(line) >= 89:
                for m in range(12):
                    cells[key][(int(year), m + 1)] = line[5 + 7 * m:12 + 7 * m].strip()
                span.add(int(year))
            else:
                key = (float(line[:9]), float(line[9:17]))
                cells[key] = {}
        return cells, span
    obs, span = read("MonthlyPDSI.tsf", 3)
    est, _ = read("MonthlyPDSI_QC.tsf", 0)
    return obs, est, sorted(span)


def fail(message):
    sys.stderr.write(message + "\n")
    sys.exit(1)


def f32(text):
    return None if text == "-99.90" else np.float32(float(text))


def expected(cells, lats, lons, span):
    """The text's values on the file's rectangle, NaN where missing or absent."""
    want = np.full((12 * len(span), len(lats), len(lons)), np.nan, dtype=np.float32)
    row = {float(v): j for j, v in enumerate(lats)}
    col = {float(v): i for i, v in enumerate(lons)}
    for (lat, lon), series in cells.items():
        j, i = row[lat], col[lon]
        for k, (y, m) in enumerate((y, m) for y in span for m in range(1, 13)):
            v = f32(series[(y, m)])
            if v is not None:
                want[k, j, i] = v
    return want


def check_xarray(d):
    import xarray as xr
    obs, est, span = text_run(d)
    ds = xr.open_dataset(os.path.join(d, "MonthlyPDSI.nc"))  # CF decoding on
    times = ds["time"].values
    months = [np.datetime64(f"{y}-{m:02d}") for y in span for m in range(1, 13)]
    if len(times) != len(months):
        fail(f"{d}: {len(times)} times, the text has {len(months)} months")
    for t, w in zip(times, months):
        if not (w.astype("datetime64[D]") < t < (w + 1).astype("datetime64[D]")):
            fail(f"{d}: time {t} is not inside the month {w}")
    lats, lons = ds["lat"].values, ds["lon"].values
    for axis, mids in (("lat", lats), ("lon", lons)):
        if not np.array_equal(ds[f"{axis}_bnds"].values, np.stack([mids - 1.25, mids + 1.25], axis=1)):
            fail(f"{d}: {axis}_bnds are not the cells' edges")
    for name, cells in [("pdsi", obs)] + ([("pdsi_estimate", est)] if est else []):
        got = ds[name].values
        if got.dtype != np.float32:
            fail(f"{d}: {name} decodes as {got.dtype}")
        want = expected(cells, lats, lons, span)
        if not np.array_equal(got, want, equal_nan=True):
            k, j, i = np.argwhere(~((got == want) | (np.isnan(got) & np.isnan(want))))[0]
            fail(f"{d}: {name} at ({lats[j]}, {lons[i]}) month {k}: {got[k, j, i]}, the text says {want[k, j, i]}")
    if est:
        o, e, f = ds["pdsi"].values, ds["pdsi_estimate"].values, ds["pdsi_filled"].values
        if not np.array_equal(f, np.where(np.isnan(o), e, o), equal_nan=True):
            fail(f"{d}: pdsi_filled is not pdsi where present, else pdsi_estimate")
    absent = len(lats) * len(lons) - len(obs)
    print(f"cells {len(obs)} months {len(times)} absent {absent}")


def check_csv(d):
    obs, est, span = text_run(d)
    with open(os.path.join(d, "MonthlyPDSI.csv"), newline="") as f:
        rows = list(csv.reader(f))
    header = ["lat", "lon", "year", "month", "pdsi"] + (["pdsi_estimate", "pdsi_filled"] if est else [])
    if rows[0] != header:
        fail(f"header {rows[0]}")
    want = []
    for (lat, lon), series in obs.items():
        for y in span:
            for m in range(1, 13):
                shown = lambda t: "" if t == "-99.90" else t
                row = [f"{lat:.2f}", f"{lon:.2f}", str(y), str(m), shown(series[(y, m)])]
                if est:
                    e = est[(lat, lon)][(y, m)]
                    row += [shown(e), shown(series[(y, m)]) or shown(e)]
                want.append(row)
    if rows[1:] != want:
        bad = next((a, b) for a, b in zip(rows[1:] + [None] * len(want), want) if a != b)
        fail(f"{len(rows) - 1} rows, {len(want)} expected; first difference {bad}")
    print(f"rows {len(rows) - 1}")


# The classes as Palmer drew them, for an oracle of our own.
CLASSES = [
    ("extreme_drought", lambda x: x <= -4), ("severe_drought", lambda x: (x > -4) & (x <= -3)),
    ("moderate_drought", lambda x: (x > -3) & (x <= -2)), ("mild_drought", lambda x: (x > -2) & (x <= -1)),
    ("incipient_dry", lambda x: (x > -1) & (x <= -0.5)), ("near_normal", lambda x: (x > -0.5) & (x < 0.5)),
    ("incipient_wet", lambda x: (x >= 0.5) & (x < 1)), ("slightly_wet", lambda x: (x >= 1) & (x < 2)),
    ("moderately_wet", lambda x: (x >= 2) & (x < 3)), ("very_wet", lambda x: (x >= 3) & (x < 4)),
    ("extremely_wet", lambda x: x >= 4),
]


def check_area(d):
    """The area files against xarray's weighted mean and shares of the NetCDF copy's series."""
    import xarray as xr
    with open(os.path.join(d, "MonthlyPDSI_area.csv"), newline="") as f:
        rows = list(csv.reader(f))
    if rows[0] != ["year", "month", "cells", "mean"] + [name for name, _ in CLASSES]:
        fail(f"{d}: area header {rows[0]}")
    ds = xr.open_dataset(os.path.join(d, "MonthlyPDSI.nc"))
    if ds.sizes["lat"] == 0:  # no cell kept: every month empty
        if any(r[2] != "0" or any(r[3:]) for r in rows[1:]):
            fail(f"{d}: a month of no cell has figures")
        print(f"area months {len(rows) - 1} empty")
        return
    x = ds["pdsi_filled"] if "pdsi_filled" in ds else ds["pdsi"]
    w = np.cos(np.deg2rad(ds["lat"].astype("float64"))).broadcast_like(x).where(x.notnull())
    total = w.sum(("lat", "lon"))
    cells = x.notnull().sum(("lat", "lon")).values
    mean = ((x * w).sum(("lat", "lon")) / total).values
    share = {name: (100 * w.where(test(x)).sum(("lat", "lon")) / total).values for name, test in CLASSES}
    times = ds["time"].values
    if len(rows) - 1 != len(times):
        fail(f"{d}: {len(rows) - 1} area rows, {len(times)} months")
    for k, r in enumerate(rows[1:]):
        when = np.datetime64(f"{int(r[0])}-{int(r[1]):02d}")
        if not (when.astype("datetime64[D]") < times[k] < (when + 1).astype("datetime64[D]")):
            fail(f"{d}: row {k + 1} is {r[0]}-{r[1]}, the copy's month {k} is {times[k]}")
        if int(r[2]) != cells[k]:
            fail(f"{d}: {r[0]}-{r[1]}: {r[2]} cells, xarray counts {cells[k]}")
        if cells[k] == 0:
            if any(r[3:]):
                fail(f"{d}: {r[0]}-{r[1]} has no value but figures {r[3:]}")
            continue
        if abs(float(r[3]) - mean[k]) > 0.0005 + 1e-9:
            fail(f"{d}: {r[0]}-{r[1]}: mean {r[3]}, xarray {mean[k]:.6f}")
        for (name, _), text in zip(CLASSES, r[4:]):
            if abs(float(text) - share[name][k]) > 0.005 + 1e-9:
                fail(f"{d}: {r[0]}-{r[1]}: {name} {text}, xarray {share[name][k]:.6f}")
    nc = os.path.join(d, "MonthlyPDSI_area.nc")
    if os.path.exists(nc):
        area = xr.open_dataset(nc)
        if not np.array_equal(area["time"].values, times) or not np.array_equal(area["cells"].values, cells):
            fail(f"{d}: MonthlyPDSI_area.nc's months or cells differ from the copy's")
        for name, want in [("mean", mean)] + list(share.items()):
            got = area[name].values
            if not np.allclose(got, np.where(cells > 0, want, np.nan), rtol=0, atol=1e-9, equal_nan=True):
                fail(f"{d}: MonthlyPDSI_area.nc {name} differs from xarray's")
    print(f"area months {len(rows) - 1} with values {int((cells > 0).sum())}")


def check_cdotab(d, table):
    obs, _, _ = text_run(d)
    n = 0
    with open(table) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            date, lon, lat, value = line.split()
            y, m = int(date[:4]), int(date[5:7])
            text = obs.get((float(lat), float(lon)), {}).get((y, m), "-99.90")
            if text == "-99.90":
                if float(value) != -99.9 and value.lower() != "nan":
                    fail(f"cdo has {value} at ({lat}, {lon}) {date}, a missing month")
            elif round(float(value) * 100) != round(float(text) * 100):
                fail(f"cdo has {value} at ({lat}, {lon}) {date}, the text says {text}")
            n += text != "-99.90"
    total = sum(t != "-99.90" for series in obs.values() for t in series.values())
    if n != total:
        fail(f"cdo gives {n} values, the text holds {total}")
    print(f"values {n}")


def check_gdal(d):
    """MonthlyPDSI.tif by gdallocationinfo at every cell of its rectangle, and
    gdalinfo's band names, against the text (filled where the run was)."""
    obs, est, span = text_run(d)
    tif = os.path.join(d, "MonthlyPDSI.tif")
    lats = sorted({lat for lat, _ in obs})
    lons = sorted({lon for _, lon in obs})
    lats = [lats[0] + 2.5 * j for j in range(round((lats[-1] - lats[0]) / 2.5) + 1)]
    lons = [lons[0] + 2.5 * i for i in range(round((lons[-1] - lons[0]) / 2.5) + 1)]
    points = [(lat, lon) for lat in lats for lon in lons]
    out = subprocess.run(["gdallocationinfo", "-valonly", "-geoloc", tif], check=True, capture_output=True, text=True,
                         input="".join(f"{lon} {lat}\n" for lat, lon in points)).stdout.split()
    months = [(y, m) for y in span for m in range(1, 13)]
    if len(out) != len(points) * len(months):
        fail(f"{d}: gdallocationinfo gave {len(out)} values for {len(points)} cells of {len(months)} months")
    for p, (lat, lon) in enumerate(points):
        for k, (y, m) in enumerate(months):
            want = obs.get((lat, lon), {}).get((y, m), "-99.90")
            if want == "-99.90" and est and (lat, lon) in est:
                want = est[(lat, lon)][(y, m)]
            got = out[p * len(months) + k]
            if round(float(got) * 100) != round(float(want) * 100):
                fail(f"{d}: ({lat}, {lon}) {y}-{m:02d} is {got} in the GeoTIFF, the text says {want}")
    info = subprocess.run(["gdalinfo", tif], check=True, capture_output=True, text=True).stdout
    names = [line.split("=")[1].strip() for line in info.splitlines() if line.strip().startswith("Description =")]
    if names != [f"{y}-{m:02d}" for y, m in months]:
        fail(f"{d}: the bands are named {names[:3]}..., not the months")
    print(f"cells {len(points)} months {len(months)}")


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "cdotab":
        check_cdotab(sys.argv[2], sys.argv[3])
    else:  # one process for every folder: the imports are most of the time
        for d in sys.argv[2:]:
            {"xarray": check_xarray, "csv": check_csv, "area": check_area, "gdal": check_gdal}[mode](d)
