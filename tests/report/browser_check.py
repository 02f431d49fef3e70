"""The report page in headless Chromium: a table of checks over one page of a
small filled run, and a page whose data file holds a script tag.

browser_check.py RUN_DIR HOSTILE_PAGE SCREENSHOT   runs the checks
browser_check.py --time PAGE                       prints seconds to the map
Exit status 0 all passed, 1 a check failed, 77 no browser here (skipped)."""
import json
import os
import sys
import tempfile
import time

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
SKIP = 77

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("SKIPPED: python3-selenium is not installed")
    sys.exit(SKIP)
if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
    print("SKIPPED: no chromium or chromedriver in /usr/bin")
    sys.exit(SKIP)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=1100,900"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def read_series(path, header_lines, year_width):
    """Per cell the monthly values of a .tsf file; None where missing."""
    cells, current = [], None
    with open(path) as f:
        lines = f.read().splitlines()[header_lines:]
    for line in lines:
        if "." not in line[:9]:  # a year record; a header has its latitude there
            fields = [line[year_width + 7 * m: year_width + 7 * m + 7] for m in range(12)]
            current.extend(None if float(v) == -99.9 else float(v) for v in fields)
        else:
            current = []
            cells.append(current)
    return cells


def file_url(path):
    return "file://" + os.path.abspath(path)


def checks(driver, run_dir, hostile, screenshot):
    observed = read_series(os.path.join(run_dir, "MonthlyPDSI.tsf"), 3, 5)
    estimate = read_series(os.path.join(run_dir, "MonthlyPDSI_QC.tsf"), 0, 5)
    driver.get(file_url(os.path.join(run_dir, "MonthlyPDSI_report.html")))
    errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    cell = 5  # one with gaps in the small run
    months = len(observed[cell - 1])
    driver.find_element(By.ID, "cell-%d" % cell).click()
    graph = "window.pdsiReport.graph()"
    rows = driver.execute_script("return %s.numRows();" % graph)
    picks = [0, 13, months // 2, months - 1]
    shown = driver.execute_script(
        "const g = %s; return arguments[0].map(k => [g.getValue(k, 1), g.getValue(k, 2)]);" % graph, picks)
    expected = [[observed[cell - 1][k], estimate[cell - 1][k]] for k in picks]
    gap = next((k for k, v in enumerate(observed[cell - 1]) if v is None), None)
    gap_shown = None if gap is None else driver.execute_script("return %s.getValue(arguments[0], 1);" % graph, gap)
    shapes = len(driver.find_elements(By.CSS_SELECTOR, "svg.map rect.cell"))
    driver.find_element(By.CSS_SELECTOR, "#cells th[data-key='r']").click()
    order = driver.execute_script(
        "return [...document.querySelectorAll('#cells tbody tr')].map(tr => tr.cells[6].textContent);")
    fits = [float(v) for v in order if v not in ("", "\u2013")]
    driver.find_element(By.CSS_SELECTOR, "#cells tbody tr:nth-child(3)").click()
    picked = driver.execute_script("return window.pdsiReport.selected();")
    picked_r = driver.execute_script("return document.querySelector('#cells tbody tr:nth-child(3)').cells[6].textContent;")
    driver.execute_script("window.scrollTo(0, 0);")
    driver.save_screenshot(screenshot)
    late_errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]

    driver.get(file_url(hostile))
    try:
        driver.switch_to.alert
        dialog = True
    except NoAlertPresentException:
        dialog = False
    header = driver.find_element(By.TAG_NAME, "header").text
    return [
        ("page loads without console errors", errors + late_errors == [], errors + late_errors),
        ("one map shape per cell", shapes == len(observed), (shapes, len(observed))),
        ("clicked cell has one point a month", rows == months, (rows, months)),
        ("observed and estimate match the text files", shown == expected, (shown, expected)),
        ("a missing month is a gap", gap is not None and gap_shown is None, (gap, gap_shown)),
        ("the table sorts by correlation", len(fits) > 1 and fits == sorted(fits), fits[:5]),
        ("a table row selects its cell", picked is not None and picked_r in order[2:3], picked),
        ("a script in the data file raises no dialog", not dialog, dialog),
        ("the script tag shows as text", "<script>alert(1)</script>" in header, header[:200]),
    ]


def time_to_map(driver, page):
    """Seconds from the start of the navigation to the first frame painted
    with the map in it, and to the end of the load (the page ready)."""
    driver.get("about:blank")  # the browser's own start is not the page's
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": """
        new MutationObserver((m, o) => {
          if (document.querySelector("svg.map") && document.getElementById("cell-panel")) {
            o.disconnect();
            requestAnimationFrame(() => { window.mapShown = performance.now(); });
          }
        }).observe(document, {childList: true, subtree: true});"""})
    driver.get(file_url(page))
    return driver.execute_script(
        "return [window.mapShown / 1000, performance.getEntriesByType('navigation')[0].loadEventEnd / 1000];")


def main():
    with tempfile.TemporaryDirectory() as profile:
        driver = browser(profile)
        try:
            if sys.argv[1] == "--time":
                print("%.2f s to the map, %.2f s to the page ready: %s" % (*time_to_map(driver, sys.argv[2]), sys.argv[2]))
                return 0
            results = checks(driver, *sys.argv[1:4])
        finally:
            driver.quit()
    failed = 0
    for name, ok, detail in results:
        print("%-48s %s" % (name, "ok" if ok else "FAILED: " + json.dumps(detail, default=str)[:300]))
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
