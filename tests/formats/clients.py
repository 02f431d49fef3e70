"""Reads a run's NetCDF and CSV copies with the tools people use and checks
them against the run's text files, parsed here by their fixed columns.
    clients.py xarray DIR | csv DIR | cdotab DIR TABLE
Prints one summary line; a mismatch is a message on stderr and status 1."""
import csv
import os
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


def check_xarray(d):
    import xarray as xr
    obs, est, span = text_run(d)
    ds = xr.open_dataset(os.path.join(d, "MonthlyPDSI.nc"))  # CF decoding on
    times = ds["time"].values
    want = [np.datetime64(f"{y}-{m:02d}") for y in span for m in range(1, 13)]
    if len(times) != len(want):
        fail(f"{len(times)} times, the text has {len(want)} months")
    for t, w in zip(times, want):
        start, end = w.astype("datetime64[D]"), (w + 1).astype("datetime64[D]")
        if not (start < t < end):
            fail(f"time {t} is not inside the month {w}")
    absent = 0
    pairs = [("pdsi", obs)] + ([("pdsi_estimate", est)] if est else [])
    for name, cells in pairs:
        v = ds[name].values
        if v.dtype != np.float32:
            fail(f"{name} decodes as {v.dtype}")
        for j, lat in enumerate(ds["lat"].values):
            for i, lon in enumerate(ds["lon"].values):
                series = cells.get((float(lat), float(lon)))
                if series is None:
                    absent += name == "pdsi"
                    if not np.all(np.isnan(v[:, j, i])):
                        fail(f"{name} at ({lat}, {lon}) has values but the cell is not in the files")
                    continue
                for k, (y, m) in enumerate((y, m) for y in span for m in range(1, 13)):
                    text = f32(series[(y, m)])
                    got = v[k, j, i]
                    if (text is None) != bool(np.isnan(got)) or (text is not None and got != text):
                        fail(f"{name} at ({lat}, {lon}) {y}-{m}: {got}, the text says {series[(y, m)]}")
    if est:
        o, e, f = ds["pdsi"].values, ds["pdsi_estimate"].values, ds["pdsi_filled"].values
        want = np.where(np.isnan(o), e, o)
        if not np.array_equal(f, want, equal_nan=True):
            fail("pdsi_filled is not pdsi where present, else pdsi_estimate")
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


if __name__ == "__main__":
    mode, d = sys.argv[1], sys.argv[2]
    {"xarray": lambda: check_xarray(d), "csv": lambda: check_csv(d),
     "cdotab": lambda: check_cdotab(d, sys.argv[3])}[mode]()
