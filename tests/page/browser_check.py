"""The server's home page in headless Chromium: a table of checks over one
`pdsi serve` started on a grid file.

browser_check.py PDSI GRID LAND SHOT_DIR
  LAND: the grid's land cells (cells with any data), as its maker knows them.
  Writes page-1280.png and page-390.png into SHOT_DIR.
browser_check.py --probe   only whether the checks can run here
Exit status 0 all passed, 1 a check failed, 77 no browser here (skipped)."""
import json
import os
import statistics
import struct
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
SKIP = 77
UPDATE_SECONDS = 2.0  # typing to counts, as a person would bear it

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("SKIPPED: python3-selenium is not installed")
    sys.exit(SKIP)
if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
    print("SKIPPED: no chromium or chromedriver in /usr/bin")
    sys.exit(SKIP)

FIELDS = ["first_year", "last_year", "north", "south", "west", "east", "max_missing", "fill_first", "fill_last"]
PAGE_STATE = ("view=", "month=", "cell=", "colour=")
CELLS = 144 * 55
# Palmer's classes, written out here as the check's own table: the upper bound a value may
# reach (drought classes take theirs, wet ones stop short), and the colour.
CLASSES = [(-4, True, "#543005"), (-3, True, "#8c510a"), (-2, True, "#bf812d"), (-1, True, "#dfc27d"),
           (-0.5, True, "#f6e8c3"), (0.5, False, "#f5f5f5"), (1, False, "#c7eae5"), (2, False, "#80cdc1"),
           (3, False, "#35978f"), (4, False, "#01665e"), (float("inf"), False, "#003c30")]
NO_VALUE_COLOUR = "#bdbdbd"
LABELS = ["extreme drought", "severe drought", "moderate drought", "mild drought", "incipient dry spell",
          "near normal", "incipient wet spell", "slightly wet", "moderately wet", "very wet", "extremely wet"]
CANDIDATE_MONTHS = ["1934-07", "1950-01", "1980-07", "2000-01", "1910-04", "1965-10"]
MONTH_NAMES = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
               "October", "November", "December"]


def expected_class(hundredths):
    x = hundredths / 100
    for k, (bound, inclusive, _) in enumerate(CLASSES):
        if x < bound or (inclusive and x == bound):
            return k
    return len(CLASSES) - 1


def month_data(base, month):
    """The month route's hundredths (None: no value) and class codes."""
    status, body = get(base + "/page/month?month=" + month)
    if status != 200 or len(body) != 5 * CELLS:
        raise RuntimeError("/page/month?month=%s: %s, %d bytes" % (month, status, len(body)))
    values = struct.unpack("<%di" % CELLS, body[:4 * CELLS])
    return [None if v == -2 ** 31 else v for v in values], list(body[4 * CELLS:])


def api_query(query):
    return "&".join(p for p in query.split("&") if not p.startswith(PAGE_STATE))


def rgb(colour):
    return "rgb(%d, %d, %d)" % tuple(int(colour[k:k + 2], 16) for k in (1, 3, 5))


def xlon(i):
    return -178.75 + 2.5 * (i - 1)


def ylat(j):
    return -58.75 + 2.5 * (j - 1)


def start_server(pdsi, grid, log):
    """The server and its address; its log lines go to the file `log`."""
    server = subprocess.Popen([pdsi, "serve", "--grid", grid, "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    # The grid loads before the line; a sanitized build takes its time.
    ready, _, _ = select.select([server.stdout], [], [], 180)
    line = server.stdout.readline() if ready else ""
    found = re.search(r"listening on (http://\S+?)/?$", line.strip())
    if not found:
        server.kill()
        server.wait()
        raise RuntimeError("pdsi serve did not start: %r" % line)
    return server, found.group(1)


def stop_server(server):
    server.send_signal(signal.SIGTERM)
    try:
        server.wait(timeout=60)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()
    return server.returncode


def get(url):
    try:
        with urllib.request.urlopen(url, timeout=120) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=1280,800"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def viewport(driver, width, height, mobile):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})


def wait_for(what, seconds=30.0, step=0.05):
    end = time.monotonic() + seconds
    while True:
        value = what()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


class Page:
    def __init__(self, driver, base):
        self.d, self.base = driver, base

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def field(self, name):
        return self.d.find_element(By.NAME, name)

    def values(self):
        return {name: self.field(name).get_attribute("value") for name in FIELDS}

    def type(self, changes):
        for name, text in changes.items():
            box = self.field(name)
            box.send_keys(Keys.CONTROL, "a")
            box.send_keys(Keys.DELETE)
            if text:
                box.send_keys(text)

    def counts(self):
        return self.d.find_element(By.ID, "cell-counts").text

    def settled(self):
        """The summary on show once no request is out."""
        return self.js("return document.getElementById('counts').getAttribute('aria-busy') === 'false' && "
                       "document.getElementById('cell-counts').textContent !== '' ? "
                       "document.getElementById('cell-counts').textContent : null;")

    def query(self):
        return self.js("return location.search.slice(1);")

    def summary(self, query):
        status, body = get(self.base + "/extract?" + api_query(query))
        return json.loads(body) if status == 200 else None

    def severe(self):
        return [e["message"] for e in self.d.get_log("browser") if e["level"] == "SEVERE"]

    def month(self):
        return self.js("return document.getElementById('map').dataset.month || null;")

    def probe(self):
        return self.d.find_element(By.ID, "probe").text

    def fills(self):
        return self.js("return [...document.querySelectorAll('#map rect.cell')].map(r => getComputedStyle(r).fill);")

    def draws(self):
        return self.js("return performance.getEntriesByName('map-draw').map(e => [e.startTime, e.duration]);")

    def client_point(self, i, j):
        """Where the middle of cell (i, j) is, from the map element's centre."""
        return self.js("""
            const svg = document.getElementById('map');
            const p = svg.createSVGPoint(); p.x = arguments[0] - 0.5; p.y = 56 - arguments[1] + 0.5;
            const q = p.matrixTransform(svg.getScreenCTM());
            const r = svg.getBoundingClientRect();
            return [q.x - (r.left + r.width / 2), q.y - (r.top + r.height / 2)];""", i, j)


def counts_numbers(text):
    found = re.match(r"(\d+) cells? in the box, (\d+) kept", text or "")
    return (int(found.group(1)), int(found.group(2))) if found else None


def land_box(base):
    """A box of 9 by 6 land cells, as many of them with data from 1850 as
    from after 1935, so that the screen removes some."""
    first = json.loads(get(base + "/page/cells?years=1901:2010")[1])["first"]
    best, box = None, None
    for i in range(1, 137):
        for j in range(1, 51):
            years = [first[(a - 1) * 55 + b - 1] for a in range(i, i + 9) for b in range(j, j + 6)]
            score = (0 not in years, min(years.count(1850), sum(y > 1935 for y in years)))
            if best is None or score > best:
                best, box = score, (i, i + 8, j, j + 5)
    return box


def place(i, j):
    lat, lon = ylat(j), xlon(i)
    return "%.2f\u00b0%s %.2f\u00b0%s" % (abs(lat), "S" if lat < 0 else "N", abs(lon), "W" if lon < 0 else "E")


def month_with_every_class(base, first):
    """A month whose land cells show every class and a missing value, and
    for each code one such cell; the best month found if none has all."""
    best = None
    for month in CANDIDATE_MONTHS:
        values, codes = month_data(base, month)
        found = {}
        for n in range(CELLS):
            if first[n] != 0 and codes[n] not in found:
                found[codes[n]] = n
        if best is None or len(found) > len(best[1]):
            best = (month, found, values, codes)
        if len(found) == 12:
            break
    return best


def values_checks(page, land_first, area_missing, check, figures):
    """The values view: first paint, the URL's month and cell, the probe,
    the arrow keys, the colours, the draw's time, a refused month."""
    d = page.d
    draws = page.draws()
    check("the values view is the default, its draw measured", page.month() == "2010-12" and draws,
          (page.month(), draws[:2]))
    figures["first paint, ms after navigation"] = round(draws[0][0] + draws[0][1], 1) if draws else None
    own = page.js("""return performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))
        .filter(e => !/[/]page[/](cells|month|series)|[/]extract/.test(e.name))
        .reduce((sum, e) => sum + e.decodedBodySize, 0);""")
    figures["page's own bytes"] = own
    check("the page's own bytes are at most 300 KB", own <= 300 * 1024, own)

    month, cell_of, values, codes = month_with_every_class(page.base, land_first)
    # The pinned cell: a land cell with a value, nearest 98.75W 36.25N.
    n = min((k for k in cell_of.values() if codes[k] != 11),
            key=lambda k: abs(k // 55 + 1 - 33) + abs(k % 55 + 1 - 39))
    i, j = n // 55 + 1, n % 55 + 1
    d.get(page.base + "/?month=%s&cell=%s,%s" % (month, xlon(i), ylat(j)))
    year, mm = int(month[:4]), int(month[5:])
    head = "%s, %s %d: " % (place(i, j), MONTH_NAMES[mm - 1], year)
    shown = wait_for(lambda: page.probe() if page.month() == month and page.probe().startswith(head) and
                     not page.probe().endswith("\u2026") else None, 30)
    status, csv = get(page.base + "/extract/MonthlyPDSI.csv?years=%d:%d&lat=%s:%s&lon=%s:%s&max_missing=0.99" %
                      (year, year, ylat(j), ylat(j), xlon(i), xlon(i)))
    row = [r.split(",") for r in csv.decode().splitlines()[1:] if r.split(",")[3:4] == [str(mm)]]
    grid_value = row[0][4] if status == 200 and row else None
    want = head + "%s (%s)" % (grid_value, LABELS[expected_class(round(float(grid_value) * 100))]) \
        if grid_value else None
    check("the URL's month and cell restore the probe line", shown == want and
          d.find_element(By.ID, "month").get_attribute("value") == month, (shown, want))
    rows = wait_for(lambda: page.js("return document.getElementById('series').dataset.rows || null;"), 30)
    check("the pinned cell's series is charted", rows == str(12 * 161), rows)

    page.js("document.getElementById('map').focus();")
    ActionChains(d).send_keys(Keys.ARROW_RIGHT).perform()
    after = wait_for(lambda: page.month() if page.month() != month else None, 10)
    ActionChains(d).send_keys(Keys.ARROW_LEFT, Keys.ARROW_LEFT).perform()
    before = wait_for(lambda: page.month() if page.month() not in (month, after) else None, 10)
    nxt, prev = (year + mm // 12, mm % 12 + 1), (year - (mm == 1), (mm - 2) % 12 + 1)
    check("the arrow keys step the month", (after, before) == ("%d-%02d" % nxt, "%d-%02d" % prev) and
          "month=" + before in page.query(), (after, before, page.query()))
    ActionChains(d).send_keys(Keys.ARROW_RIGHT).perform()
    wait_for(lambda: page.month() == month, 10)

    # One cell per class and a missing one: the drawn colour is the table's,
    # the class the value's by the table's bounds.
    colours = [c for _, _, c in CLASSES] + [NO_VALUE_COLOUR]
    wrong = []
    for code in range(12):
        if code not in cell_of:
            wrong.append((code, "no cell of this class in the months tried"))
            continue
        k = cell_of[code]
        oracle = 11 if values[k] is None else expected_class(values[k])
        drawn = page.js("""const r = [...document.querySelectorAll('#map rect.cell')].find(
            r => r.getAttribute('x') == arguments[0] && r.getAttribute('y') == arguments[1]);
            return r ? getComputedStyle(r).fill : null;""", k // 55, 55 - k % 55)
        if oracle != code or drawn != rgb(colours[code]):
            wrong.append((code, values[k], oracle, drawn, colours[code]))
    check("every class is drawn in the table's colour", not wrong, wrong)

    # 50 months, one arrow key each: every draw measured.
    page.js("performance.clearMeasures('map-draw');")
    shown = page.month()
    for _ in range(50):
        ActionChains(d).send_keys(Keys.ARROW_RIGHT).perform()
        shown = wait_for(lambda: page.month() if page.month() != shown else None, 10, 0.005) or shown
    durations = [e[1] for e in page.draws()]
    figures["map-draw median over 50 months, ms"] = round(statistics.median(durations), 2) if durations else None
    figures["map-draw max, ms"] = round(max(durations), 2) if durations else None
    check("50 months step, each draw measured as map-draw", len(durations) == 50, len(durations))

    # Play runs the months on and a key stops it.
    shown = page.month()
    d.find_element(By.ID, "play").click()
    ran = wait_for(lambda: page.month() if page.month() > shown else None, 10)
    ActionChains(d).send_keys(Keys.ESCAPE).perform()
    stopped = page.month()
    time.sleep(0.4)
    check("play runs the months and a key stops it", ran and page.month() == stopped and
          d.find_element(By.ID, "play").text == "Play", (shown, ran, stopped, page.month()))

    # A refused year: the server's line, the map untouched.
    fills, shown = page.fills(), page.month()
    api = get(page.base + "/page/month?month=1849-07")[1].decode().strip()
    box = d.find_element(By.ID, "month")
    box.send_keys(Keys.CONTROL, "a")
    box.send_keys(Keys.DELETE)
    box.send_keys("1849-07", Keys.ENTER)
    said = wait_for(lambda: d.find_element(By.ID, "month-error").text == api, 10)
    check("a refused year is said and leaves the map as it was",
          said and page.month() == shown and page.fills() == fills, (d.find_element(By.ID, "month-error").text, api))
    page.js("document.getElementById('map').focus();")
    wait_for(page.settled)


def checks(page, grid, land, shots, results, figures):
    d = page.d

    def check(name, ok, detail=None):
        results.append((name, bool(ok), detail, time.monotonic()))

    # Until the regional files are served, the area chart has nothing to draw.
    area_missing = get(page.base + "/extract/MonthlyPDSI_area.csv?years=1901:1901&max_missing=0.5")[0] == 404
    expected_errors = lambda messages: [m for m in messages if not (area_missing and "MonthlyPDSI_area.csv" in m)]

    viewport(d, 1280, 800, False)
    d.get(page.base + "/")
    drawn = wait_for(lambda: page.js("return document.getElementById('map').dataset.ready;"))
    first_counts = wait_for(page.settled)
    cells = len(d.find_elements(By.CSS_SELECTOR, "#map rect.cell"))
    check("the map draws every land cell", drawn and cells == land, (cells, land))
    check("the first summary shows", counts_numbers(first_counts), first_counts)
    check("the page loads without console errors", expected_errors(page.severe()) == [], page.severe())
    land_first = json.loads(get(page.base + "/page/cells?years=1901:2010")[1])["first"]
    values_checks(page, land_first, area_missing, check, figures)
    line = d.find_element(By.ID, "grid-line").text
    markup = page.js("return document.querySelectorAll('header b').length;")
    # Named without its folder, as every message of the server names it.
    check("the grid's name shows as text", os.path.basename(grid) in line and markup == 0, (line, markup))

    # Typed: the counts follow within the time, and equal the server's.
    i1, i2, j1, j2 = land_box(page.base)
    typed = {"west": str(xlon(i1)), "east": str(xlon(i2)), "south": str(ylat(j1) - 1), "north": str(ylat(j2)),
             "max_missing": "0.2"}
    before = page.counts()
    page.type(typed)
    start = time.monotonic()
    changed = wait_for(lambda: page.settled() if page.query().find("max_missing=0.2") >= 0 else None, 10, 0.02)
    took = time.monotonic() - start
    summary = page.summary(page.query())
    shown = counts_numbers(changed)
    expected = (summary["cells_in_box"], summary["kept"]) if summary else None
    check("typing updates the counts within %.0f s" % UPDATE_SECONDS, changed and took <= UPDATE_SECONDS,
          (round(took, 2), before, changed))
    check("the counts equal the JSON summary's",
          shown is not None and shown == expected and shown[0] == (i2 - i1 + 1) * (j2 - j1 + 1), (shown, expected))
    kept_marks = wait_for(lambda: len(d.find_elements(By.CSS_SELECTOR, "#map circle.kept")) or None, 5)
    check("the map marks the kept cells", kept_marks == expected[1], (kept_marks, expected))
    box = page.js("return document.querySelector('#map .box').dataset.cells;")
    check("the box is drawn as the cells it takes", box == "%d:%d,%d:%d" % (i1, i2, j1, j2), box)
    if area_missing:
        results.append(("the area chart (SKIPPED: no /extract/MonthlyPDSI_area.csv here)", True, None,
                        time.monotonic()))
    else:
        href = wait_for(lambda: page.js("const a = document.getElementById('area-link'); "
                                        "return !a.hidden && a.getAttribute('href').includes('max_missing=0.2') "
                                        "? a.getAttribute('href') : null;"), 60)
        rows = page.js("return document.getElementById('area').dataset.rows || null;")
        status = get(page.base + href)[0] if href else None
        check("the area chart draws for a typed box, its link answers 200",
              href and rows == str(12 * 110) and status == 200, (href, rows, status))

    # Dragged: the form gets the mid-points of the cells under the drag.
    a, b = (i1 + 1, j2), (i2, j1 + 1)
    start_at, end_at = page.client_point(*a), page.client_point(*b)
    svg = d.find_element(By.ID, "map")
    ActionChains(d).move_to_element_with_offset(svg, *start_at).click_and_hold() \
        .move_to_element_with_offset(svg, *end_at).release().perform()
    want = {"west": xlon(a[0]), "east": xlon(b[0]), "south": ylat(b[1]), "north": ylat(a[1])}
    got = {k: float(page.field(k).get_attribute("value") or "nan") for k in want}
    check("dragging a box fills the form", got == want, (got, want))
    dragged = wait_for(lambda: page.settled() if "lon=%s" % want["west"] in page.query() else None, 10)
    size = (b[0] - a[0] + 1) * (a[1] - b[1] + 1)
    check("a dragged box is asked for", counts_numbers(dragged) and counts_numbers(dragged)[0] == size,
          (dragged, size))

    # The gap filling: the years used, each file, each link.
    page.type({"fill_first": "1951", "fill_last": "2000"})
    filled = wait_for(lambda: page.settled() if "fill=1951:2000" in page.query() else None, 60)
    summary = page.summary(page.query())
    calibration = d.find_element(By.ID, "calibration").text
    check("the calibration years used are named", filled and "1961" in calibration and "2010" in calibration,
          calibration)
    links = page.js("return [...document.querySelectorAll('#files a')].map(a => a.getAttribute('href'));")
    wanted = [f["url"] for f in summary["files"]] if summary else []
    check("a link to every file", links == wanted and len(links) == 12, (links, wanted))
    statuses = [get(page.base + link)[0] for link in links]
    check("every file link answers 200", statuses == [200] * len(links), statuses)
    sizes = page.js("return [...document.querySelectorAll('#files .size')].map(s => s.textContent);")
    check("each file made has its size", summary and all(
        ("bytes" in s or "iB" in s) == (f["bytes"] is not None) for s, f in zip(sizes, summary["files"])), sizes)

    # Refused: the API's own line beside the field, nothing else changes.
    shown_before, url_before = page.counts(), page.query()
    api = get(page.base + "/extract?years=1849:2010&max_missing=0.5")[1].decode().strip()
    page.type({"first_year": "1849"})
    # A slow machine may ask once while the field is empty: wait for the
    # answer to what was typed.
    error_text = lambda: d.find_element(By.CSS_SELECTOR, "fieldset[data-param='years'] .error").text
    error = wait_for(lambda: error_text() if error_text() == api else None, 10) or error_text()
    check("a bad year shows the API's message", error == api, (error, api))
    check("a refused request changes nothing else", page.counts() == shown_before and page.query() == url_before,
          (page.counts(), page.query()))
    page.type({"first_year": "1901"})
    wait_for(lambda: d.find_element(By.CSS_SELECTOR, "fieldset[data-param='years'] .error").text == "", 10)

    # A full queue: the page says when to try again.
    page.js("""window.realFetch = window.fetch;
               window.fetch = (url, o) => String(url).startsWith('/extract')
                 ? Promise.resolve(new Response('busy', {status: 503, headers: {'Retry-After': '7'}}))
                 : window.realFetch(url, o);""")
    page.type({"max_missing": "0.25"})
    busy = wait_for(lambda: d.find_element(By.ID, "status").text, 10)
    check("a 503 says to try again in N seconds", "try again in 7 seconds" in busy, busy)
    # The report button's busy state, the page usable meanwhile.
    page.js("""window.fetch = (url, o) => String(url).includes('report.html')
                 ? new Promise(() => {}) : window.realFetch(url, o);""")
    page.type({"max_missing": "0.3"})
    d.find_element(By.ID, "report").click()
    report_busy = d.find_element(By.ID, "report").get_attribute("aria-busy")
    usable = wait_for(lambda: page.settled() if "max_missing=0.3" in page.query() else None, 60)
    check("the report button shows it is busy", report_busy == "true", report_busy)
    check("the page stays usable meanwhile", usable, usable)
    page.js("window.fetch = window.realFetch;")

    # Keyboard: every control is reached with Tab.
    page.js("document.activeElement.blur(); window.scrollTo(0, 0);")
    links = page.js("return [...document.querySelectorAll('#files a')].map(a => a.getAttribute('href'));")
    reached = set()
    for _ in range(60):
        ActionChains(d).send_keys(Keys.TAB).perform()
        reached.add(page.js("const e = document.activeElement; return e.name || e.id || e.getAttribute('href');"))
    needed = set(FIELDS) | {"colour", "report", "month", "month-slider", "play", "map"} | set(links)
    check("every control is reached with Tab", needed <= reached, sorted(needed - reached))

    # Reload with the URL: the same form, box and counts.
    state_url = d.current_url
    saved_values, saved_counts = page.values(), page.settled()
    d.get(page.base + "/")
    wait_for(page.settled)
    d.get(state_url)
    restored = wait_for(page.settled, 60)
    check("reload with the URL's query restores the state",
          page.values() == saved_values and restored == saved_counts and saved_values["max_missing"] == "0.3",
          (page.values(), saved_values, restored, saved_counts))

    page.js("window.scrollTo(0, 0);")
    d.save_screenshot(os.path.join(shots, "page-1280.png"))

    # The report, in the same tab, and back again.
    d.find_element(By.ID, "report").click()
    opened = wait_for(lambda: "MonthlyPDSI_report.html" in d.current_url, 60)
    drawn = False
    if opened and wait_for(lambda: d.find_elements(By.CSS_SELECTOR, "svg.map rect.cell"), 20):
        d.find_elements(By.CSS_SELECTOR, "svg.map rect.cell")[0].click()
        drawn = wait_for(lambda: page.js("const g = window.pdsiReport && window.pdsiReport.graph(); "
                                         "return g ? g.numRows() : 0;"), 10)
    check("the report button opens a page that draws its chart", opened and drawn,
          (d.current_url, drawn, d.find_element(By.TAG_NAME, "body").text[:300]))
    d.back()
    back = wait_for(lambda: page.settled() if "/extract" not in d.current_url else None, 60)
    check("back returns to the same state", page.values() == saved_values and back == saved_counts,
          (page.values(), back))

    # A phone: the map fits the width, the form comes after it.
    viewport(d, 390, 844, True)
    d.get(state_url)
    wait_for(page.settled, 60)
    wait_for(lambda: page.js("return document.getElementById('map').dataset.ready;"))
    layout = page.js("""
        const map = document.getElementById('map').getBoundingClientRect();
        const form = document.getElementById('form-panel').getBoundingClientRect();
        return {width: innerWidth, scroll: document.documentElement.scrollWidth,
                mapRight: map.right, mapBottom: map.bottom, formTop: form.top};""")
    check("on a phone the map fits and the form stacks",
          layout["scroll"] <= layout["width"] and layout["mapRight"] <= layout["width"]
          and layout["formTop"] >= layout["mapBottom"], layout)
    page.js("window.scrollTo(0, 0);")
    d.save_screenshot(os.path.join(shots, "page-390.png"))
    late = [m for m in expected_errors(page.severe()) if "status of 400" not in m]
    check("no console errors but the refused request's", late == [], late)
    return results


def main():
    if sys.argv[1] == "--probe":
        return 0
    pdsi, grid, land, shots = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    started = time.monotonic()
    results = []
    figures = {}
    with tempfile.TemporaryDirectory() as scratch:
        log = open(os.path.join(scratch, "server.log"), "w+")
        server, base = start_server(pdsi, grid, log)
        print("the server answers after %.1f s" % (time.monotonic() - started))
        try:
            driver = browser(os.path.join(scratch, "profile"))
            try:
                results = checks(Page(driver, base), grid, land, shots, results, figures)
            except Exception as error:  # the table so far, and where it stopped
                results.append(("the checks ran to the end", False, repr(error), time.monotonic()))
            finally:
                driver.quit()
        finally:
            code = stop_server(server)
        log.seek(0)
        lines = log.read().splitlines()
    results.append(("the server stops cleanly", code == 0, lines[-5:], time.monotonic()))
    failed = 0
    for name, ok, detail, when in results:
        print("%5.1f s  %-52s %s" % (when - started, name,
                                     "ok" if ok else "FAILED: " + json.dumps(detail, default=str)[:600]))
        failed += not ok
    for name, value in figures.items():
        print("figure: %s: %s" % (name, value))
    if failed:
        print("The server's last lines:\n" + "\n".join(lines[-40:]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
