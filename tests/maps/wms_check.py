"""The map service through real clients: OWSLib and GDAL against one
`pdsi serve`, and a table of bad requests.

wms_check.py PDSI GRID MONTH CELL...
  MONTH: YYYY-MM, the month the cells are checked in.
  CELL: LON,LAT,RRGGBBAA, a cell's mid-point and the colour its pixel must
  have (alpha 00: nothing drawn there).
Exit status 0 all passed, 1 a check failed."""
import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request
from xml.etree import ElementTree

failures = []


def check(name, ok, detail=""):
    print("%-4s %s%s" % ("ok" if ok else "FAIL", name, "" if ok else ": " + str(detail)[:400]))
    if not ok:
        failures.append(name)


def start_server(pdsi, grid):
    server = subprocess.Popen([pdsi, "serve", "--grid", grid, "--listen", "127.0.0.1:0", "--quiet"],
                              stdout=subprocess.PIPE, text=True)
    ready, _, _ = select.select([server.stdout], [], [], 180)
    line = server.stdout.readline() if ready else ""
    found = re.search(r"listening on (http://\S+?)/?$", line.strip())
    if not found:
        server.kill()
        server.wait()
        raise RuntimeError("pdsi serve did not start: %r" % line)
    return server, found.group(1)


def get(url, headers=None, whole=False):
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=120) as answer:
            reply = answer.status, answer.headers, answer.read()
    except urllib.error.HTTPError as error:
        reply = error.code, error.headers, error.read()
    return reply if whole else (reply[0], reply[1].get("Content-Type", ""), reply[2])


def run(args):
    done = subprocess.run(args, capture_output=True, text=True, timeout=300)
    return done.returncode, done.stdout + done.stderr


def owslib_checks(wms_url, month, cells):
    from owslib.wms import WebMapService
    wms = WebMapService(wms_url, version="1.3.0")
    layer = wms.contents.get("pdsi")
    check("owslib: one layer pdsi", list(wms.contents) == ["pdsi"] and layer is not None, list(wms.contents))
    if layer is None:
        return
    check("owslib: CRS EPSG:4326 and CRS:84", {"EPSG:4326", "CRS:84"} <= set(layer.crsOptions), layer.crsOptions)
    check("owslib: geographic box", tuple(layer.boundingBoxWGS84) == (-180.0, -60.0, 180.0, 77.5),
          layer.boundingBoxWGS84)
    time = layer.dimensions.get("time", {})
    check("owslib: time dimension", time.get("default") == "2010-12" and time.get("values") == ["1850-01/2010-12/P1M"],
          time)
    style = layer.styles.get("palmer", {})
    check("owslib: style palmer with a legend", "GetLegendGraphic" in style.get("legend", ""), layer.styles)
    status, kind, legend = get(style.get("legend", wms_url))
    check("legend: a PNG", status == 200 and kind == "image/png" and legend[:8] == b"\x89PNG\r\n\x1a\n", (status, kind))
    image = wms.getmap(layers=["pdsi"], styles=[""], srs="EPSG:4326", bbox=(-60, -180, 77.5, 180), size=(1024, 512),
                       format="image/png", transparent=True, time=month)
    body = image.read()
    check("owslib: getmap gives a PNG", body[:8] == b"\x89PNG\r\n\x1a\n", body[:200])
    lon, lat, colour = next(c for c in cells if c[2].endswith("ff"))
    # The pixel over the cell's mid-point on a 144 by 55 map of the grid.
    i, j = int((lon + 180) / 2.5), int((77.5 - lat) / 2.5)
    answer = wms.getfeatureinfo(layers=["pdsi"], styles=[""], srs="CRS:84", bbox=(-180, -60, 180, 77.5),
                                size=(144, 55), format="image/png", query_layers=["pdsi"], info_format="application/json",
                                xy=(i, j), time=month)
    info = json.loads(answer.read())
    cell = info.get("cell") or {}
    check("owslib: getfeatureinfo names the cell and its colour",
          (cell.get("lon"), cell.get("lat"), info.get("month")) == (lon, lat, month) and
          info.get("colour") == "#" + colour[:6].lower(), info)
    old = WebMapService(wms_url, version="1.1.1")
    check("owslib 1.1.1: the layer and EPSG:4326", "EPSG:4326" in old.contents["pdsi"].crsOptions,
          old.contents["pdsi"].crsOptions)


def gdal_checks(wms_url, month, cells, scratch):
    url = ("WMS:" + wms_url + "?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=EPSG:4326"
           "&BBOX=-60,-180,77.5,180&WIDTH=1440&HEIGHT=550&FORMAT=image/png&TRANSPARENT=TRUE&TIME=" + month)
    status, out = run(["gdalinfo", url])
    check("gdalinfo opens the WMS", status == 0 and "Driver: WMS" in out and "EPSG\",4326" in out, out)
    tif = os.path.join(scratch, "map.tif")
    # Four pixels a cell: each mid-point is a pixel's corner, so ask at a
    # quarter cell inside it.
    status, out = run(["gdal_translate", "-q", "-outsize", "576", "220", url, tif])
    check("gdal_translate of a GetMap", status == 0, out)
    if status != 0:
        return
    points = "".join("%r %r\n" % (lon + 0.3125, lat + 0.3125) for lon, lat, _ in cells)
    done = subprocess.run(["gdallocationinfo", "-valonly", "-geoloc", tif], input=points, capture_output=True,
                          text=True, timeout=60)
    values = done.stdout.split()
    for n, (lon, lat, colour) in enumerate(cells):
        got = values[4 * n:4 * n + 4]
        rgba = "".join("%02x" % int(v) for v in got) if len(got) == 4 else "?"
        # Where nothing is drawn only the transparency counts.
        same = rgba == colour.lower() or (colour.endswith("00") and rgba.endswith("00"))
        check("gdal: colour at %g,%g is #%s" % (lon, lat, colour), same, rgba)


BAD = [
    # name, query after SERVICE=WMS&VERSION=1.3.0&, exception code
    ("unknown layer", "REQUEST=GetMap&LAYERS=rain&STYLES=&CRS=CRS:84&BBOX=-180,-60,180,77.5&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/png", "LayerNotDefined"),
    ("unknown CRS", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=EPSG:3857&BBOX=0,0,1,1&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/png", "InvalidCRS"),
    ("unknown format", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/gif", "InvalidFormat"),
    ("unknown style", "REQUEST=GetMap&LAYERS=pdsi&STYLES=rainbow&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/png", "StyleNotDefined"),
    ("time outside the grid", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/png&TIME=2011-01", "InvalidDimensionValue"),
    ("malformed bbox", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=0,0,1&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/png", "InvalidParameterValue"),
    ("inverted bbox", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=10,0,0,1&WIDTH=10&HEIGHT=10"
     "&FORMAT=image/png", "InvalidParameterValue"),
    ("width 0", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=0&HEIGHT=10"
     "&FORMAT=image/png", "InvalidParameterValue"),
    ("width over the limit", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=4097&HEIGHT=10"
     "&FORMAT=image/png", "InvalidParameterValue"),
    ("point outside the map", "REQUEST=GetFeatureInfo&LAYERS=pdsi&QUERY_LAYERS=pdsi&STYLES=&CRS=CRS:84"
     "&BBOX=-180,-60,180,77.5&WIDTH=144&HEIGHT=55&I=144&J=0&INFO_FORMAT=text/plain", "InvalidPoint"),
    ("bytes beyond ASCII", "REQUEST=GetMap&LAYERS=%FF%FE%E2%82%01&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=10"
     "&HEIGHT=10&FORMAT=image/png", "LayerNotDefined"),
    ("a NUL", "REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=10&HEIGHT=10&FORMAT=image/png"
     "&TIME=1990-06%00", "InvalidParameterValue"),
    ("no layers", "REQUEST=GetMap&STYLES=&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=10&HEIGHT=10&FORMAT=image/png",
     "MissingParameterValue"),
]


def bad_request_checks(wms_url):
    for name, query, code in BAD:
        status, kind, body = get(wms_url + "?SERVICE=WMS&VERSION=1.3.0&" + query)
        try:
            found = ElementTree.fromstring(body).find("{http://www.opengis.net/ogc}ServiceException")
        except ElementTree.ParseError as error:
            found = error
        check("refused: %s (%s)" % (name, code),
              status == 400 and kind.startswith("text/xml") and getattr(found, "attrib", {}).get("code") == code,
              (status, kind, body[:300]))


def caching_checks(wms_url):
    capabilities = wms_url + "?SERVICE=WMS&REQUEST=GetCapabilities"
    status, headers, body = get(capabilities, {"Accept-Encoding": "gzip"}, whole=True)
    tag = headers.get("ETag", "")
    check("capabilities: gzip, a strong tag, a day's caching",
          status == 200 and headers.get("Content-Encoding") == "gzip" and body[:2] == b"\x1f\x8b" and
          tag.startswith('"') and headers.get("Vary") == "Accept-Encoding" and
          headers.get("Cache-Control") == "public, max-age=86400", dict(headers))
    status, headers, _ = get(capabilities, {"Accept-Encoding": "gzip", "If-None-Match": tag}, whole=True)
    check("capabilities: its tag back gives 304", status == 304 and headers.get("ETag") == tag, status)
    status, headers, body = get(capabilities, whole=True)
    check("capabilities: plain under another tag", status == 200 and body.startswith(b"<?xml") and
          headers.get("ETag") not in ("", tag), dict(headers))
    status, headers, body = get(wms_url + "?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=pdsi&STYLES="
                                "&CRS=CRS:84&BBOX=-180,-60,180,77.5&WIDTH=144&HEIGHT=55&FORMAT=image/png",
                                {"Accept-Encoding": "gzip"}, whole=True)
    check("map: PNG as it is, tagged", status == 200 and headers.get("Content-Encoding") is None and
          headers.get("ETag", "").startswith('"'), dict(headers))
    status, headers, _ = get(wms_url + "?REQUEST=GetMap", whole=True)
    check("refusal: not kept", status == 400 and headers.get("Cache-Control") == "no-store", dict(headers))


def main():
    pdsi, grid, month = sys.argv[1:4]
    cells = []
    for arg in sys.argv[4:]:
        lon, lat, colour = arg.split(",")
        cells.append((float(lon), float(lat), colour))
    server, base = start_server(pdsi, grid)
    try:
        wms_url = base + "/wms"
        with tempfile.TemporaryDirectory() as scratch:
            owslib_checks(wms_url, month, cells)
            gdal_checks(wms_url, month, cells, scratch)
        bad_request_checks(wms_url)
        caching_checks(wms_url)
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=60)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
