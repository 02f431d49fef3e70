"""Reads the served dataset with the clients people use and checks what they
get against `pdsi extract`'s text of the same cells, to the text's two
decimals.
    clients.py xarray URL EXPR DIR...   xarray's ds.pdsi + EXPR (netCDF4 engine)
    clients.py cdotab TABLE DIR...      CDO's outputtab,date,lon,lat,value
Prints one summary line; a mismatch is a message on stderr and status 1."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "formats"))
from clients import fail, text_run  # noqa: E402


def cells_of(dirs):
    cells = {}
    for d in dirs:
        obs, _, _ = text_run(d)
        cells.update(obs)
    return cells


def shown(value):
    return "-99.90" if np.isnan(value) else f"{value:.2f}"


def check_xarray(url, expr, dirs):
    import xarray as xr
    cells = cells_of(dirs)
    ds = xr.open_dataset(url, engine="netcdf4")
    if not np.issubdtype(ds["time"].dtype, np.datetime64):
        fail(f"time decodes as {ds['time'].dtype}")
    sub = eval("ds.pdsi" + expr)  # the test's own table
    if sub.dtype != np.float32:
        fail(f"pdsi decodes as {sub.dtype}")
    times = np.atleast_1d(sub["time"].values)
    lats, lons = np.atleast_1d(sub["lat"].values), np.atleast_1d(sub["lon"].values)
    got = sub.values.reshape(len(times), len(lats), len(lons))
    for a, t in enumerate(times):
        year = int(t.astype("datetime64[Y]").astype(int)) + 1970
        month = int(t.astype("datetime64[M]").astype(int)) % 12 + 1
        for b, lat in enumerate(lats):
            for c, lon in enumerate(lons):
                want = cells[(float(lat), float(lon))][(year, month)]
                if shown(got[a, b, c]) != want:
                    fail(f"{expr}: ({lat}, {lon}) {year}-{month:02d} is {got[a, b, c]}, the text says {want}")
    print(f"{expr}: {got.size} values, {int(np.isnan(got).sum())} missing")


def check_cdotab(table, dirs):
    cells = cells_of(dirs)
    n = 0
    with open(table) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            date, lon, lat, value = line.split()
            want = cells[(float(lat), float(lon))][(int(date[:4]), int(date[5:7]))]
            if f"{float(value):.2f}" != want:
                fail(f"cdo has {value} at ({lat}, {lon}) {date}, the text says {want}")
            n += 1
    if n == 0:
        fail("cdo gave no values")
    print(f"values {n}")


if __name__ == "__main__":
    if sys.argv[1] == "xarray":
        check_xarray(sys.argv[2], sys.argv[3], sys.argv[4:])
    else:
        check_cdotab(sys.argv[2], sys.argv[3:])
