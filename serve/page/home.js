// The home page: the map and the form choose a box, the server's summary of
// the request says what it gives, and the page's URL holds the state.
(function () {
  "use strict";
  const NS = "http://www.w3.org/2000/svg";
  const COLUMNS = 144, ROWS = 55;
  const TOP = 80;  // the map's north edge; a unit is a cell, 2.5 degrees
  const DEBOUNCE_MS = 350;
  const FIELDS = ["first_year", "last_year", "north", "south", "west", "east", "max_missing", "fill_first", "fill_last"];
  const DEFAULTS = { first_year: "1901", last_year: "2010", north: "41.25", south: "31.25", west: "-98.75",
                     east: "-88.75", max_missing: "0.5", fill_first: "", fill_last: "" };
  const BINS = {
    first: { title: "The grid's land cells by their first year with data", classes: [
      [1850, "1850"], [1875, "1851\u20131875"], [1900, "1876\u20131900"], [1925, "1901\u20131925"],
      [1950, "1926\u20131950"], [1975, "1951\u20131975"], [Infinity, "1976 or later"]] },
    missing: { title: "The grid's land cells by their missing months in the span", classes: [
      [0, "none"], [0.05, "up to 5 %"], [0.25, "5\u201325 %"], [0.5, "25\u201350 %"], [0.75, "50\u201375 %"],
      [0.999999, "75 % or more"], [Infinity, "no value in the span"]] },
  };

  const info = JSON.parse(document.getElementById("grid-info").textContent);
  const form = document.getElementById("request");
  const svg = document.getElementById("map");
  const reportButton = document.getElementById("report");
  const $ = (id) => document.getElementById(id);

  const xlon = (i) => -178.75 + 2.5 * (i - 1);
  const ylat = (j) => -58.75 + 2.5 * (j - 1);
  const cellY = (j) => ROWS + 1 - j;  // the top of row j in map units

  let cells = null;       // the map data: {years, months, first[], missing[]}
  let colour = "first";
  let asked = null;       // the query last sent for a summary
  let shown = null;       // the query of the summary on show
  let pending = null;     // its AbortController
  let timer = null;
  let retry = null;
  let drag = null;

  function el(name, attrs, parent) {
    const node = document.createElementNS(NS, name);
    for (const k in attrs) node.setAttribute(k, attrs[k]);
    if (parent) parent.appendChild(node);
    return node;
  }

  // ---- the form and the query -------------------------------------------

  function values() {
    const v = {};
    for (const name of FIELDS) v[name] = form.elements[name].value.trim();
    return v;
  }

  function setValues(v) {
    for (const name of FIELDS) form.elements[name].value = v[name];
  }

  // The API's own parameters; an empty side of the box is the grid's edge,
  // as a missing bound is.
  function query(v) {
    const enc = encodeURIComponent;
    const span = (a, b) => enc(a) + ":" + enc(b);
    const parts = ["years=" + span(v.first_year, v.last_year)];
    if (v.south !== "" || v.north !== "") parts.push("lat=" + span(v.south || "-90", v.north || "90"));
    if (v.west !== "" || v.east !== "") parts.push("lon=" + span(v.west || "-180", v.east || "180"));
    parts.push("max_missing=" + enc(v.max_missing));
    if (v.fill_first !== "" || v.fill_last !== "") parts.push("fill=" + span(v.fill_first, v.fill_last));
    return parts.join("&");
  }

  function fromUrl() {
    const p = new URLSearchParams(location.search);
    colour = p.get("colour") === "missing" ? "missing" : "first";
    if (!p.has("years")) return Object.assign({}, DEFAULTS);
    const split = (text) => {
      const at = text.indexOf(":");
      return at < 0 ? [text, ""] : [text.slice(0, at), text.slice(at + 1)];
    };
    const v = {};
    [v.first_year, v.last_year] = split(p.get("years"));
    [v.south, v.north] = p.has("lat") ? split(p.get("lat")) : ["", ""];
    [v.west, v.east] = p.has("lon") ? split(p.get("lon")) : ["", ""];
    v.max_missing = p.get("max_missing") || "";
    [v.fill_first, v.fill_last] = p.has("fill") ? split(p.get("fill")) : ["", ""];
    return v;
  }

  function keepInUrl(q) {
    history.replaceState(null, "", "?" + q + (colour === "missing" ? "&colour=missing" : ""));
  }

  // ---- the summary -------------------------------------------------------

  function schedule() {
    clearTimeout(timer);
    timer = setTimeout(update, DEBOUNCE_MS);
  }

  function setBusy(on, filling) {
    const counts = $("counts");
    counts.classList.toggle("busy", on);
    counts.setAttribute("aria-busy", on ? "true" : "false");
    if (on) $("status").textContent = filling ? "Filling the gaps\u2026 a large box takes a few seconds." : "Counting\u2026";
  }

  async function update() {
    clearTimeout(timer);
    clearTimeout(retry);
    const v = values();
    const q = query(v);
    if (q === asked) return;
    asked = q;
    if (pending) pending.abort();
    const ctl = new AbortController();
    pending = ctl;
    setBusy(true, v.fill_first !== "" || v.fill_last !== "");
    let answer, body;
    try {
      answer = await fetch("/extract?" + q, { signal: ctl.signal });
      body = answer.status === 200 ? await answer.json() : (await answer.text()).trim();
    } catch (e) {
      if (ctl.signal.aborted) return;
      pending = null;
      asked = null;
      setBusy(false);
      $("status").textContent = "The server did not answer: " + e.message;
      return;
    }
    if (pending !== ctl) return;
    pending = null;
    setBusy(false);
    if (answer.status === 200) accept(q, body);
    else refuse(q, answer, body);
  }

  function clearErrors() {
    for (const p of form.querySelectorAll(".error")) p.textContent = "";
    for (const input of form.querySelectorAll("input[aria-invalid]")) input.removeAttribute("aria-invalid");
  }

  // The API names the parameter first: its message goes beside those fields.
  function refuse(q, answer, text) {
    clearErrors();
    $("status").textContent = "";
    if (answer.status === 400) {
      const param = text.slice(0, Math.max(0, text.indexOf(":")));
      const target = form.querySelector(".error[data-for='" + CSS.escape(param) + "']") ||
        [...form.querySelectorAll("fieldset[data-param]")]
          .find((f) => f.dataset.param.split(" ").includes(param))?.querySelector(".error");
      if (target) {
        target.textContent = text;
        for (const input of target.closest("fieldset").querySelectorAll("input[type=text]"))
          input.setAttribute("aria-invalid", "true");
      } else {
        $("status").textContent = text;
      }
    } else if (answer.status === 503) {
      const seconds = parseInt(answer.headers.get("Retry-After") || "5", 10) || 5;
      $("status").textContent = "The server is busy: try again in " + seconds + " seconds. " +
        "This page asks again by itself then.";
      retry = setTimeout(() => { if (asked === q) { asked = null; update(); } }, seconds * 1000);
    } else {
      $("status").textContent = "The server could not answer (" + answer.status + "): " + text;
    }
  }

  function size(bytes) {
    if (typeof bytes !== "number") return "made when asked for";
    if (bytes < 1024) return bytes + " bytes";
    if (bytes < 1024 * 1024) return (bytes / 1024).toFixed(1) + " KiB";
    return (bytes / 1024 / 1024).toFixed(1) + " MiB";
  }

  function plural(n, one, many) { return n + " " + (n === 1 ? one : many); }

  function accept(q, s) {
    clearErrors();
    shown = q;
    keepInUrl(q);
    $("status").textContent = "";
    $("cell-counts").textContent = plural(s.cells_in_box, "cell", "cells") + " in the box, " + s.kept + " kept" +
      (s.filled === null || s.filled === undefined ? "." : ", " + s.filled + " gap-filled.");
    const cal = $("calibration");
    cal.textContent = "";
    if (s.calibration && (s.calibration.used[0] !== s.calibration.asked[0] ||
                          s.calibration.used[1] !== s.calibration.asked[1])) {
      cal.textContent = "Calibration years used: " + s.calibration.used[0] + "\u2013" + s.calibration.used[1] +
        " (typed " + s.calibration.asked[0] + "\u2013" + s.calibration.asked[1] +
        "): the period keeps its length and ends with the span.";
    }
    const list = $("files");
    list.textContent = "";
    let xy = null;
    for (const f of s.files) {
      if (typeof f.url !== "string" || !f.url.startsWith("/extract/")) continue;
      const li = document.createElement("li");
      const a = document.createElement("a");
      a.href = f.url;
      a.textContent = f.name;
      const span = document.createElement("span");
      span.className = "size";
      span.textContent = size(f.bytes);
      li.append(a, " ", span);
      list.appendChild(li);
      if (f.name === "MonthlyPDSI.xy") xy = f.url;
    }
    $("api-url").textContent = location.origin + "/extract?" + q;
    $("api-line").hidden = false;
    const b = s.box;
    drawBox(b.first_column, b.first_column + b.columns - 1, b.first_row, b.first_row + b.rows - 1, true);
    markKept(q, xy, b);
    if (!cells || cells.years[0] !== s.years[0] || cells.years[1] !== s.years[1]) loadCells(s.years);
  }

  // ---- the map -----------------------------------------------------------

  const layers = {};

  function drawFrame() {
    el("rect", { x: 0, y: 0, width: COLUMNS, height: ROWS + 1, class: "ocean" }, svg);
    layers.cells = el("g", { class: "cells" }, svg);
    const grid = el("g", { class: "graticule", "aria-hidden": "true" }, svg);
    for (let lon = -180; lon <= 180; lon += 60) {
      const x = (lon + 180) / 2.5;
      el("line", { x1: x, y1: 0, x2: x, y2: ROWS + 1 }, grid);
      const t = el("text", { x: x, y: ROWS + 4, "text-anchor": "middle" }, grid);
      t.textContent = Math.abs(lon) % 180 === 0 ? (lon === 0 ? "0\u00B0" : "180\u00B0")
        : Math.abs(lon) + (lon < 0 ? "\u00B0W" : "\u00B0E");
    }
    for (let lat = -60; lat <= 60; lat += 30) {
      const y = (TOP - lat) / 2.5;
      el("line", { x1: 0, y1: y, x2: COLUMNS, y2: y }, grid);
      const t = el("text", { x: -1, y: y + 0.9, "text-anchor": "end" }, grid);
      t.textContent = lat === 0 ? "0\u00B0" : Math.abs(lat) + (lat < 0 ? "\u00B0S" : "\u00B0N");
    }
    layers.marks = el("g", { class: "marks" }, svg);
    layers.box = el("rect", { class: "box", visibility: "hidden" }, svg);
    layers.drag = el("rect", { class: "drag", visibility: "hidden" }, svg);
  }

  function binOf(n) {
    const classes = BINS[colour].classes;
    const value = colour === "first" ? cells.first[n] : cells.missing[n] / cells.months;
    let k = 0;
    while (k < classes.length - 1 && value > classes[k][0]) k++;
    return k;
  }

  function drawCells() {
    layers.cells.textContent = "";
    if (!cells) return;
    const prefix = colour === "first" ? "f" : "m";
    for (let n = 0; n < cells.first.length; n++) {
      if (cells.first[n] === 0) continue;  // no value in the grid: ocean
      const i = Math.floor(n / ROWS) + 1, j = (n % ROWS) + 1;
      el("rect", { x: i - 1, y: cellY(j), width: 1, height: 1, class: "cell " + prefix + binOf(n) }, layers.cells);
    }
    $("map-title").textContent = BINS[colour].title +
      (colour === "missing" ? ", " + cells.years[0] + "\u2013" + cells.years[1] : "");
    drawLegend();
  }

  function drawLegend() {
    const legend = $("legend");
    legend.textContent = "";
    BINS[colour].classes.forEach(([, label], k) => {
      const li = document.createElement("li");
      const swatch = document.createElement("span");
      swatch.className = "swatch " + (colour === "first" ? "f" : "m") + k;
      li.append(swatch, label);
      legend.appendChild(li);
    });
  }

  function mapNote(text) {
    const note = $("map-note");
    note.textContent = text;
    note.hidden = !text;
  }

  async function loadCells(years) {
    if (!info.sound) return;
    const wanted = years[0] + ":" + years[1];
    loadCells.wanted = wanted;
    try {
      const answer = await fetch("/page/cells?years=" + wanted);
      if (!answer.ok) throw new Error((await answer.text()).trim() || String(answer.status));
      const data = await answer.json();
      if (loadCells.wanted !== wanted) return;
      cells = data;
      mapNote("");
      drawCells();
      svg.dataset.ready = "true";
    } catch (e) {
      mapNote("The map's data could not be loaded: " + e.message);
    }
  }

  function drawBox(i1, i2, j1, j2, confirmed) {
    const box = layers.box;
    if (!(i1 <= i2 && j1 <= j2)) { box.setAttribute("visibility", "hidden"); return; }
    box.setAttribute("x", i1 - 1);
    box.setAttribute("y", cellY(j2));
    box.setAttribute("width", i2 - i1 + 1);
    box.setAttribute("height", j2 - j1 + 1);
    box.setAttribute("visibility", "visible");
    box.classList.toggle("preview", !confirmed);
    box.dataset.cells = i1 + ":" + i2 + "," + j1 + ":" + j2;
    if (!confirmed) layers.marks.textContent = "";
  }

  // The box rule, as the server applies it: each bound ends its range at
  // the first mid-point that reaches it, beyond the edges the outermost.
  function firstReaching(mid, count, bound) {
    let k = 1;
    while (k < count && !(Math.fround(mid(k)) >= bound)) k++;
    return k;
  }

  function previewBox() {
    const v = values();
    const num = (text, edge) => (text === "" ? edge : Math.fround(Number(text)));
    const w = num(v.west, -180), e = num(v.east, 180), s = num(v.south, -90), n = num(v.north, 90);
    if ([w, e, s, n].some((x) => !Number.isFinite(x))) return;
    drawBox(firstReaching(xlon, COLUMNS, w), firstReaching(xlon, COLUMNS, e),
            firstReaching(ylat, ROWS, s), firstReaching(ylat, ROWS, n), false);
  }

  // The kept cells are those of the run's mid-point file; the box's other
  // land cells were removed.
  async function markKept(q, url, b) {
    layers.marks.textContent = "";
    if (!url) return;
    let text;
    try {
      const answer = await fetch(url);
      if (!answer.ok) return;
      text = await answer.text();
    } catch (e) {
      return;
    }
    if (shown !== q) return;
    const kept = new Set();
    for (const line of text.split("\n").slice(3)) {
      const parts = line.trim().split(/\s+/);
      if (parts.length !== 2) continue;
      const i = Math.round((Number(parts[0]) + 178.75) / 2.5) + 1;
      const j = Math.round((Number(parts[1]) + 58.75) / 2.5) + 1;
      kept.add((i - 1) * ROWS + (j - 1));
    }
    for (let i = b.first_column; i < b.first_column + b.columns; i++) {
      for (let j = b.first_row; j < b.first_row + b.rows; j++) {
        const n = (i - 1) * ROWS + (j - 1);
        if (kept.has(n)) el("circle", { cx: i - 0.5, cy: cellY(j) + 0.5, r: 0.28, class: "kept" }, layers.marks);
        else if (cells && cells.first[n] > 0)
          el("rect", { x: i - 1, y: cellY(j), width: 1, height: 1, class: "removed" }, layers.marks);
      }
    }
  }

  function cellAt(event) {
    const point = svg.createSVGPoint();
    point.x = event.clientX;
    point.y = event.clientY;
    const p = point.matrixTransform(svg.getScreenCTM().inverse());
    const clamp = (x, lo, hi) => Math.min(hi, Math.max(lo, x));
    return { i: clamp(Math.floor(p.x) + 1, 1, COLUMNS), j: clamp(ROWS + 1 - Math.floor(p.y), 1, ROWS),
             inside: p.x >= 0 && p.x < COLUMNS && p.y >= 0 && p.y < ROWS + 1 };
  }

  // A dragged rectangle becomes the mid-points of the cells it touches, so
  // the box takes exactly those.
  function dragToForm() {
    const i1 = Math.min(drag.i0, drag.i1), i2 = Math.max(drag.i0, drag.i1);
    const j1 = Math.min(drag.j0, drag.j1), j2 = Math.max(drag.j0, drag.j1);
    const d = layers.drag;
    d.setAttribute("x", i1 - 1);
    d.setAttribute("y", cellY(j2));
    d.setAttribute("width", i2 - i1 + 1);
    d.setAttribute("height", j2 - j1 + 1);
    d.setAttribute("visibility", "visible");
    form.elements.west.value = String(xlon(i1));
    form.elements.east.value = String(xlon(i2));
    form.elements.south.value = String(ylat(j1));
    form.elements.north.value = String(ylat(j2));
  }

  function readout(event) {
    const c = cellAt(event);
    const out = $("readout");
    if (!c.inside) { out.textContent = ""; return; }
    const lat = ylat(c.j), lon = xlon(c.i);
    let text = Math.abs(lat).toFixed(2) + (lat < 0 ? "\u00B0S " : "\u00B0N ") +
      Math.abs(lon).toFixed(2) + (lon < 0 ? "\u00B0W" : "\u00B0E");
    if (cells) {
      const n = (c.i - 1) * ROWS + (c.j - 1);
      text += cells.first[n] === 0 ? ": no data" : ": data from " + cells.first[n] + ", " +
        (100 * cells.missing[n] / cells.months).toFixed(0) + " % of months missing in " +
        cells.years[0] + "\u2013" + cells.years[1];
    }
    out.textContent = text;
  }

  svg.addEventListener("pointerdown", (e) => {
    if (e.button !== 0) return;
    const c = cellAt(e);
    drag = { i0: c.i, j0: c.j, i1: c.i, j1: c.j, id: e.pointerId };
    svg.setPointerCapture(e.pointerId);
    dragToForm();
    e.preventDefault();
  });
  svg.addEventListener("pointermove", (e) => {
    readout(e);
    if (!drag || e.pointerId !== drag.id) return;
    const c = cellAt(e);
    if (c.i === drag.i1 && c.j === drag.j1) return;
    drag.i1 = c.i;
    drag.j1 = c.j;
    dragToForm();
  });
  function endDrag(e, keep) {
    if (!drag || e.pointerId !== drag.id) return;
    drag = null;
    layers.drag.setAttribute("visibility", "hidden");
    if (keep) {
      previewBox();
      update();
    }
  }
  svg.addEventListener("pointerup", (e) => endDrag(e, true));
  svg.addEventListener("pointercancel", (e) => endDrag(e, false));
  svg.addEventListener("pointerleave", () => { $("readout").textContent = ""; });

  // ---- the report --------------------------------------------------------

  function reportBusy(on) {
    reportButton.classList.toggle("busy", on);
    reportButton.setAttribute("aria-busy", on ? "true" : "false");
    reportButton.textContent = on ? "Making the report\u2026" : "Open the report page";
  }

  // Fetched first, so a refusal or a full queue is said here rather than
  // on a page of its own; the browser then opens it from its cache.
  reportButton.addEventListener("click", async () => {
    if (reportButton.classList.contains("busy")) return;
    const q = query(values());
    const url = "/extract/MonthlyPDSI_report.html?" + q;
    const status = $("report-status");
    status.textContent = "";
    reportBusy(true);
    try {
      const answer = await fetch(url);
      if (answer.ok) {
        await answer.blob();
        keepInUrl(q);
        location.assign(url);
        return;
      }
      const text = (await answer.text()).trim();
      status.textContent = answer.status === 503
        ? "The server is busy: try again in " + (parseInt(answer.headers.get("Retry-After") || "5", 10) || 5) +
          " seconds."
        : text;
    } catch (e) {
      status.textContent = "The server did not answer: " + e.message;
    }
    reportBusy(false);
  });
  // Back from the report, the page may come from the browser's memory.
  window.addEventListener("pageshow", () => reportBusy(false));

  // ---- start -------------------------------------------------------------

  document.getElementById("grid-line").textContent = "Grid file " + info.name + ", " +
    (info.sound ? info.land + " land cells." : "damaged.");
  drawFrame();
  setValues(fromUrl());
  document.querySelector("#colour-by input[value='" + colour + "']").checked = true;
  drawLegend();
  if (!info.sound) mapNote("The map is unavailable: the grid file is damaged. The form still works " +
                           "for boxes the damage does not touch.");
  form.addEventListener("input", () => { previewBox(); schedule(); });
  form.addEventListener("submit", (e) => { e.preventDefault(); update(); });
  for (const radio of document.querySelectorAll("#colour-by input")) {
    radio.addEventListener("change", () => {
      colour = radio.value;
      if (cells) drawCells(); else drawLegend();
      if (shown) keepInUrl(shown);
    });
  }
  previewBox();
  const first = Number(form.elements.first_year.value), last = Number(form.elements.last_year.value);
  const valid = (y) => Number.isInteger(y) && y >= info.first_year && y <= info.last_year;
  loadCells(valid(first) && valid(last) && first <= last ? [first, last] : [info.first_year, info.last_year]);
  update();
})();
