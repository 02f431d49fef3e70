"""Reads both served Zarr stores with the clients people use and checks them
against `pdsi extract`'s text of the same cells, to the text's two decimals,
and against the NetCDF copy's coordinates and attributes.
    clients.py BASE NC DIR...   BASE is .../zarr; a DIR of the whole span
                                gives series, one of the whole grid maps
Prints one summary line per store and client; a mismatch is a message on
stderr and status 1."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "formats"))
from clients import fail, text_run  # noqa: E402

FIRST, MONTHS, LATS, LONS = 1850, 1932, 55, 144
# GDAL's key for the coordinate system, beside CF's grid_mapping.
ZARR_ONLY = {"grid_mapping", "_CRS"}


def shown(value):
    return "-99.90" if np.isnan(value) or value == np.float32(-99.9) else f"{value:.2f}"


def selections(dirs):
    """The text's cells, and what to read: whole series of some cells, maps
    of the first and last month of a whole grid's year."""
    cells, series, maps = {}, [], []
    for d in dirs:
        obs, _, span = text_run(d)
        for key, values in obs.items():
            cells.setdefault(key, {}).update(values)
        if len(span) == MONTHS // 12:
            series += list(obs)
        if len(obs) == LATS * LONS:
            maps += [(span[0], 1), (span[0], 12)]
    return cells, series, maps


def check_like_netcdf(where, ds, nc):
    if not np.issubdtype(ds["time"].dtype, np.datetime64):
        fail(f"{where}: time decodes as {ds['time'].dtype}")
    k = (int(str(nc["time"].values[0])[:4]) - FIRST) * 12
    if not np.array_equal(ds["time"].values[k:k + nc.sizes["time"]], nc["time"].values):
        fail(f"{where}: time differs from the NetCDF copy's")
    for name in ("lat", "lon", "lat_bnds", "lon_bnds", "time_bnds"):
        got = ds[name].sel({name[:3]: nc[name[:3]].values}) if name[:3] != "tim" else \
            ds[name].isel(time=slice(k, k + nc.sizes["time"]))
        if got.dtype != nc[name].dtype or not np.array_equal(got.values, nc[name].values):
            fail(f"{where}: {name} differs from the NetCDF copy's")
    for name in ("time", "lat", "lon", "pdsi", "crs"):
        if name not in nc:
            continue
        a, b = dict(nc[name].attrs), dict(ds[name].attrs)
        extra = set(b) - set(a) - (ZARR_ONLY if name == "pdsi" else set())
        if any(b.get(key) != value for key, value in a.items()) or extra:
            fail(f"{where}: {name} attributes {b}, the NetCDF copy has {a}")
        for key in ("units", "calendar", "_FillValue", "dtype"):
            if nc[name].encoding.get(key) != ds[name].encoding.get(key):
                fail(f"{where}: {name} {key} is {ds[name].encoding.get(key)}, "
                     f"the NetCDF copy has {nc[name].encoding.get(key)}")
    for key in ("Conventions", "title"):
        if ds.attrs.get(key) != nc.attrs.get(key):
            fail(f"{where}: global {key} differs")


def check_values(where, cells, series, maps, cell_series, month_map):
    lat0, lon0 = -58.75, -178.75
    index = lambda lat, lon: (round((lat - lat0) / 2.5), round((lon - lon0) / 2.5))  # noqa: E731
    for lat, lon in series:
        got = cell_series(*index(lat, lon))
        want = cells[(lat, lon)]
        for k, value in enumerate(got):
            if shown(value) != want[(FIRST + k // 12, k % 12 + 1)]:
                fail(f"{where}: ({lat}, {lon}) month {k} is {value}, the text says {want[(FIRST + k // 12, k % 12 + 1)]}")
    for year, month in maps:
        got = month_map((year - FIRST) * 12 + month - 1)
        for (lat, lon), want in cells.items():
            if (year, month) in want and shown(got[index(lat, lon)]) != want[(year, month)]:
                fail(f"{where}: ({lat}, {lon}) {year}-{month:02d} is {got[index(lat, lon)]}")
    print(f"{where}: {len(series)} series, {len(maps)} maps")


def main(base, nc_path, dirs):
    import fsspec
    import xarray as xr
    import zarr
    cells, series, maps = selections(dirs)
    nc = xr.open_dataset(nc_path)
    for store in ("pdsi", "pdsi-series"):
        mapper = fsspec.get_mapper(f"{base}/{store}")
        for how, chunks in (("xarray", "auto"), ("xarray chunks={}", {})):
            where = f"{store} {how}"
            ds = xr.open_zarr(mapper, consolidated=True, chunks=chunks)
            if ds["pdsi"].dtype != np.float32:
                fail(f"{where}: pdsi decodes as {ds['pdsi'].dtype}")
            check_like_netcdf(where, ds, nc)
            check_values(where, cells, series, maps, lambda j, i: ds["pdsi"].isel(lat=j, lon=i).values,
                         lambda k: ds["pdsi"].isel(time=k).values)
        group = zarr.open_consolidated(mapper, mode="r")
        pdsi = group["pdsi"]
        if pdsi.dtype != np.dtype("<f4") or pdsi.fill_value != np.float32(-99.9):
            fail(f"{store} zarr: pdsi is {pdsi.dtype} filled with {pdsi.fill_value}")
        check_values(f"{store} zarr", cells, series, maps, lambda j, i: pdsi[:, j, i], lambda k: pdsi[k])


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
