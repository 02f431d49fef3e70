// The home page: the map shows a month's values and pins a cell for its
// series; the map and the form choose a box, the server's summary of the
// request says what it gives, and the page's URL holds the state.
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
  // Palmer's classes as the server's table has them, the no-value entry last.
  const CLASSES = info.classes;
  const NO_VALUE = CLASSES.length - 1;
  const MONTHS = 12 * (info.last_year - info.first_year + 1);
  const MONTH_NAMES = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
                       "October", "November", "December"];
  const PLAY_MS = 100;
  const KEPT_MONTHS = 240;  // month maps held in memory
  const FILLED_CELLS = 1000;  // the largest run whose CSV copy is read for one cell's filled series
  const form = document.getElementById("request");
  const svg = document.getElementById("map");
  const reportButton = document.getElementById("report");
  const $ = (id) => document.getElementById(id);

  const xlon = (i) => -178.75 + 2.5 * (i - 1);
  const ylat = (j) => -58.75 + 2.5 * (j - 1);
  const cellY = (j) => ROWS + 1 - j;  // the top of row j in map units

  let cells = null;       // the map data: {years, months, first[], missing[]}
  let colour = "values";
  let month = MONTHS - 1; // from 0, January of the first year
  let current = null;     // that month's values: {h: hundredths, c: class codes}
  let pinned = null;      // {i, j}
  let hovered = null;
  let rects = [];         // the land cells' drawn squares: [n, rect]
  let painted = null;     // the class each square has now
  let asked = null;       // the query last sent for a summary
  let shown = null;       // the query of the summary on show
  let summary = null;     // and the summary
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

  // The page's own state in the URL, after the API's query.
  function viewFromUrl() {
    const p = new URLSearchParams(location.search);
    const view = p.get("view") || p.get("colour");
    colour = view === "first" || view === "missing" ? view : "values";
    const m = monthIndex(p.get("month") || "");
    if (m !== null) month = m;
    const c = /^(-?[\d.]+),(-?[\d.]+)$/.exec(p.get("cell") || "");
    if (c) {
      const i = Math.floor((Number(c[1]) + 180) / 2.5) + 1, j = Math.floor((Number(c[2]) + 60) / 2.5) + 1;
      if (i >= 1 && i <= COLUMNS && j >= 1 && j <= ROWS) pinned = { i: i, j: j };
    }
  }

  function fromUrl() {
    const p = new URLSearchParams(location.search);
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

  // Before any summary the API's part stays as the address has it.
  function keepInUrl(q) {
    const own = /^(view|month|cell|colour)=/;
    const api = q || location.search.slice(1).split("&").filter((part) => part && !own.test(part)).join("&");
    const parts = [];
    if (api) parts.push(api);
    parts.push("view=" + colour, "month=" + monthText(month));
    if (pinned) parts.push("cell=" + xlon(pinned.i) + "," + ylat(pinned.j));
    history.replaceState(null, "", "?" + parts.join("&"));
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
    summary = s;
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
    drawArea(q);
    drawSeries();
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
    layers.pin = el("rect", { class: "pin", width: 1, height: 1, visibility: "hidden" }, svg);
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
    rects = [];
    painted = null;
    if (!cells) return;
    const values = colour === "values";
    const prefix = colour === "first" ? "f" : "m";
    for (let n = 0; n < cells.first.length; n++) {
      if (cells.first[n] === 0) continue;  // no value in the grid: ocean
      const i = Math.floor(n / ROWS) + 1, j = (n % ROWS) + 1;
      const rect = el("rect", { x: i - 1, y: cellY(j), width: 1, height: 1,
                                class: values ? "cell" : "cell " + prefix + binOf(n) }, layers.cells);
      rects.push([n, rect]);
    }
    if (values) {
      painted = new Int8Array(cells.first.length).fill(-1);
      paintMonth();
    }
    drawTitle();
    drawLegend();
  }

  function drawTitle() {
    $("map-title").textContent = colour === "values" ? "PDSI, " + monthLabel(month) : BINS[colour].title +
      (colour === "missing" && cells ? ", " + cells.years[0] + "\u2013" + cells.years[1] : "");
  }

  // Only the squares whose class changed are touched: a month is a few
  // hundred attribute writes, not a new drawing.
  function paintMonth() {
    if (colour !== "values" || !painted || !current) return;
    const start = performance.now();
    const codes = current.c;
    for (let k = 0; k < rects.length; k++) {
      const n = rects[k][0], code = codes[n];
      if (painted[n] !== code) {
        rects[k][1].setAttribute("fill", CLASSES[code].colour);
        painted[n] = code;
      }
    }
    performance.measure("map-draw", { start: start, end: performance.now() });
    svg.dataset.month = monthText(month);
  }

  function drawLegend() {
    const legend = $("legend");
    legend.textContent = "";
    const entries = colour === "values" ? CLASSES.map((c) => c.label) : BINS[colour].classes.map(([, label]) => label);
    entries.forEach((label, k) => {
      const li = document.createElement("li");
      const swatch = document.createElement("span");
      if (colour === "values") {
        swatch.className = "swatch";
        swatch.style.background = CLASSES[k].colour;
      } else {
        swatch.className = "swatch " + (colour === "first" ? "f" : "m") + k;
      }
      li.append(swatch, label);
      legend.appendChild(li);
    });
  }

  // ---- the month -----------------------------------------------------------

  function monthText(k) {
    const m = (k % 12) + 1;
    return (info.first_year + Math.floor(k / 12)) + "-" + (m < 10 ? "0" : "") + m;
  }

  function monthLabel(k) { return MONTH_NAMES[k % 12] + " " + (info.first_year + Math.floor(k / 12)); }

  // The month's index for "YYYY-MM" in the grid's span; null otherwise.
  function monthIndex(text) {
    const found = /^(\d{4})-(\d{2})$/.exec(text);
    if (!found) return null;
    const k = 12 * (Number(found[1]) - info.first_year) + Number(found[2]) - 1;
    return Number(found[2]) >= 1 && Number(found[2]) <= 12 && k >= 0 && k < MONTHS ? k : null;
  }

  const monthCache = new Map();

  // A month's map from the server: every cell's hundredths (int32) then
  // its class code (a byte), in the grid's cell order. Typed arrays read
  // the platform's order, little-endian in every browser there is.
  async function fetchMonth(text) {
    if (monthCache.has(text)) return monthCache.get(text);
    const answer = await fetch("/page/month?month=" + encodeURIComponent(text));
    if (!answer.ok) {
      const error = new Error((await answer.text()).trim() || String(answer.status));
      error.refused = answer.status === 400;
      throw error;
    }
    const bytes = await answer.arrayBuffer();
    const cellsCount = COLUMNS * ROWS;
    const data = { h: new Int32Array(bytes, 0, cellsCount), c: new Uint8Array(bytes, 4 * cellsCount, cellsCount) };
    monthCache.set(text, data);
    if (monthCache.size > KEPT_MONTHS) monthCache.delete(monthCache.keys().next().value);
    return data;
  }

  // Shows month k once its data is here; a later call wins.
  async function showMonth(k) {
    const seq = showMonth.seq = (showMonth.seq || 0) + 1;
    let data;
    try {
      data = await fetchMonth(monthText(k));
    } catch (e) {
      if (seq === showMonth.seq) monthError("The month's data could not be loaded: " + e.message);
      return false;
    }
    if (seq !== showMonth.seq) return false;
    month = k;
    current = data;
    monthError("");
    monthControls();
    paintMonth();
    if (colour === "values") drawTitle();
    probe();
    keepInUrl(shown);
    return true;
  }

  function monthControls() {
    $("month").value = monthText(month);
    $("month-slider").value = String(month);
    $("month-slider").setAttribute("aria-valuetext", monthLabel(month));
  }

  function monthError(text) {
    $("month-error").textContent = text;
    if (text) $("month").setAttribute("aria-invalid", "true");
    else $("month").removeAttribute("aria-invalid");
  }

  // A typed month goes to the server as typed: its refusal is said beside
  // the field, and the map stays as it was.
  async function typedMonth() {
    const text = $("month").value.trim();
    if (text === monthText(month) && current) return;
    stopPlay();
    try {
      await fetchMonth(text);
    } catch (e) {
      monthError(e.message);
      return;
    }
    const k = monthIndex(text);
    if (k !== null) showMonth(k);
  }

  function step(by) {
    const k = Math.min(MONTHS - 1, Math.max(0, month + by));
    if (k !== month) showMonth(k);
  }

  let player = null;

  function stopPlay() {
    if (!player) return;
    clearInterval(player);
    player = null;
    showMonth.seq = (showMonth.seq || 0) + 1;  // a month on its way stays away
    $("play").textContent = "Play";
    $("play").setAttribute("aria-pressed", "false");
  }

  function play() {
    if (player) { stopPlay(); return; }
    if (month >= MONTHS - 1) showMonth(0);
    $("play").textContent = "Stop";
    $("play").setAttribute("aria-pressed", "true");
    let busy = false;
    player = setInterval(async () => {
      if (busy) return;  // the last month's data is still on its way
      if (month >= MONTHS - 1) { stopPlay(); return; }
      busy = true;
      await showMonth(month + 1);
      busy = false;
      if (month + 2 < MONTHS) fetchMonth(monthText(month + 2)).catch(() => {});
    }, PLAY_MS);
  }

  // ---- the probe and the pinned cell ---------------------------------------

  function place(i, j) {
    const lat = ylat(j), lon = xlon(i);
    return Math.abs(lat).toFixed(2) + (lat < 0 ? "\u00B0S " : "\u00B0N ") +
      Math.abs(lon).toFixed(2) + (lon < 0 ? "\u00B0W" : "\u00B0E");
  }

  // Two decimals from the hundredths, as the files print them.
  function hundredthsText(h) {
    const a = Math.abs(h), r = a % 100;
    return (h < 0 ? "-" : "") + Math.floor(a / 100) + "." + (r < 10 ? "0" : "") + r;
  }

  function probeLine(c) {
    const n = (c.i - 1) * ROWS + (c.j - 1);
    const head = place(c.i, c.j) + ", " + monthLabel(month) + ": ";
    if (cells && cells.first[n] === 0) return head + "no data in the grid";
    if (!current) return head + "\u2026";
    const code = current.c[n];
    return code === NO_VALUE ? head + "no value" : head + hundredthsText(current.h[n]) + " (" + CLASSES[code].label + ")";
  }

  function probe() {
    const c = hovered || pinned;
    $("probe").textContent = c ? probeLine(c) : "";
  }

  function pin(c) {
    pinned = c;
    const mark = layers.pin;
    mark.setAttribute("x", c.i - 1);
    mark.setAttribute("y", cellY(c.j));
    mark.setAttribute("visibility", "visible");
    probe();
    keepInUrl(shown);
    drawSeries();
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
    hovered = c.inside ? { i: c.i, j: c.j } : null;
    probe();
    if (!c.inside) { out.textContent = ""; return; }
    let text = place(c.i, c.j);
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
    drag = { i0: c.i, j0: c.j, i1: c.i, j1: c.j, id: e.pointerId, moved: false, inside: c.inside };
    svg.setPointerCapture(e.pointerId);
    e.preventDefault();
    svg.focus({ preventScroll: true });
  });
  svg.addEventListener("pointermove", (e) => {
    readout(e);
    if (!drag || e.pointerId !== drag.id) return;
    const c = cellAt(e);
    if (c.i === drag.i1 && c.j === drag.j1) return;
    drag.i1 = c.i;
    drag.j1 = c.j;
    drag.moved = true;
    dragToForm();
  });
  // A press and release on one cell pins it; across cells it is a box.
  function endDrag(e, keep) {
    if (!drag || e.pointerId !== drag.id) return;
    const ended = drag;
    drag = null;
    layers.drag.setAttribute("visibility", "hidden");
    if (!keep) return;
    if (ended.moved) {
      previewBox();
      update();
    } else if (ended.inside) {
      pin({ i: ended.i0, j: ended.j0 });
    }
  }
  svg.addEventListener("pointerup", (e) => endDrag(e, true));
  svg.addEventListener("pointercancel", (e) => endDrag(e, false));
  svg.addEventListener("pointerleave", () => {
    $("readout").textContent = "";
    hovered = null;
    probe();
  });
  svg.addEventListener("keydown", (e) => {
    if (e.key !== "ArrowLeft" && e.key !== "ArrowRight") return;
    e.preventDefault();
    stopPlay();
    step(e.key === "ArrowLeft" ? -1 : 1);
  });
  // Any key stops the play, but those that press its button, which does.
  document.addEventListener("keydown", (e) => {
    if (!(e.target === $("play") && (e.key === "Enter" || e.key === " "))) stopPlay();
  });
  $("play").addEventListener("click", play);
  $("month").addEventListener("change", typedMonth);
  $("month").addEventListener("keydown", (e) => { if (e.key === "Enter") typedMonth(); });
  $("month-slider").addEventListener("input", () => { stopPlay(); showMonth(Number($("month-slider").value)); });

  // ---- the charts ----------------------------------------------------------

  const graphs = {};

  // The chart library's legend writes style attributes, which the page's
  // policy refuses: it is left out, and the values under the pointer go to
  // a line of text.
  function chart(id, rows, options, note) {
    if (Dygraph.PLUGINS.includes(Dygraph.Plugins.Legend))
      Dygraph.PLUGINS = Dygraph.PLUGINS.filter((p) => p !== Dygraph.Plugins.Legend);
    if (graphs[id]) { graphs[id].destroy(); delete graphs[id]; }
    const box = $(id);
    box.textContent = "";
    // Sized before the library reads the size.
    box.classList.toggle("drawn", rows.length > 0);
    if (!rows.length) return;
    const base = {
      labelsUTC: true, legend: "never", ylabel: "PDSI", axisLabelWidth: 44,
      highlightCallback: (e, x, points) => {
        const when = new Date(x);
        note.textContent = MONTH_NAMES[when.getUTCMonth()] + " " + when.getUTCFullYear() + ": " +
          points.filter((p) => p.yval !== null && !Number.isNaN(p.yval))
            .map((p) => p.name + " " + p.yval.toFixed(2)).join(", ");
      },
    };
    graphs[id] = new Dygraph(box, rows, Object.assign(base, options));
    box.dataset.rows = String(rows.length);
  }

  // The request's years, shaded behind a chart.
  function shadeSpan(v) {
    const first = Number(v.first_year), last = Number(v.last_year);
    if (!Number.isInteger(first) || !Number.isInteger(last)) return undefined;
    const from = Date.UTC(first, 0, 1), to = Date.UTC(last + 1, 0, 1);
    return (ctx, area, g) => {
      const x0 = g.toDomXCoord(from), x1 = g.toDomXCoord(to);
      ctx.fillStyle = "rgba(190, 150, 60, 0.18)";
      ctx.fillRect(x0, area.y, x1 - x0, area.h);
    };
  }

  // The filled series of the pinned cell, when the request fills gaps and
  // its box holds the cell: the request's own CSV copy, not a new
  // computation. A map from the month's time to the value.
  async function filledSeries(c, q) {
    const p = new URLSearchParams(q), b = summary && summary.box;
    if (!p.has("fill") || !b || summary.kept > FILLED_CELLS || c.i < b.first_column ||
        c.i >= b.first_column + b.columns || c.j < b.first_row || c.j >= b.first_row + b.rows) return null;
    const answer = await fetch("/extract/MonthlyPDSI.csv?" + q);
    if (!answer.ok) return null;
    const lines = (await answer.text()).split(/\r?\n/);
    const head = lines[0].split(",");
    const at = { lat: head.indexOf("lat"), lon: head.indexOf("lon"), year: head.indexOf("year"),
                 month: head.indexOf("month"), filled: head.indexOf("pdsi_filled") };
    if (Object.values(at).some((k) => k < 0)) return null;
    const lat = ylat(c.j).toFixed(2), lon = xlon(c.i).toFixed(2);
    const out = new Map();
    for (let k = 1; k < lines.length; k++) {
      const f = lines[k].split(",");
      if (f[at.lat] !== lat || f[at.lon] !== lon || f[at.filled] === "" || f[at.filled] === undefined) continue;
      out.set(Date.UTC(Number(f[at.year]), Number(f[at.month]) - 1, 1), Number(f[at.filled]));
    }
    return out.size ? out : null;
  }

  async function drawSeries() {
    const c = pinned;
    if (!c) return;
    const q = shown;
    const note = $("series-note");
    note.textContent = "Loading the series of " + place(c.i, c.j) + "\u2026";
    let data, filled = null;
    try {
      const answer = await fetch("/page/series?cell=" + xlon(c.i) + "," + ylat(c.j));
      if (!answer.ok) throw new Error((await answer.text()).trim() || String(answer.status));
      data = await answer.json();
      if (q) filled = await filledSeries(c, q).catch(() => null);
    } catch (e) {
      if (pinned === c) note.textContent = "The series could not be loaded: " + e.message;
      return;
    }
    if (pinned !== c || shown !== q) return;
    const rows = data.values.map((h, k) => {
      const t = Date.UTC(data.first_year, k, 1);
      // The filled series first, so the observed one is drawn over it.
      const row = [new Date(t)];
      if (filled) row.push(filled.has(t) ? filled.get(t) : null);
      row.push(h === null ? null : h / 100);
      return row;
    });
    const heading = place(c.i, c.j) + (data.values.every((h) => h === null) ? ": no value in the grid" : "");
    note.textContent = heading + (filled ? "; the filled series is the request's gap filling." :
      (q && new URLSearchParams(q).has("fill") ? "; a filled series is drawn for a cell the request keeps, in a run " +
        "of at most " + FILLED_CELLS + " cells." : ""));
    chart("series", rows, {
      labels: filled ? ["Month", "Filled", "Observed"] : ["Month", "Observed"],
      colors: filled ? ["#6baed6", "#333"] : ["#333"], strokeWidth: 1,
      underlayCallback: shadeSpan(values()),
    }, note);
  }

  // MonthlyPDSI_area.csv of the request: the area-weighted mean and the
  // share of the area in moderate drought or worse, month by month.
  async function drawArea(q) {
    const url = "/extract/MonthlyPDSI_area.csv?" + q;
    const note = $("area-note"), link = $("area-link");
    note.textContent = "Loading the box's drought area\u2026";
    let text, answer;
    try {
      answer = await fetch(url);
      text = await answer.text();
    } catch (e) {
      if (shown === q) note.textContent = "The server did not answer: " + e.message;
      return;
    }
    if (shown !== q) return;
    if (!answer.ok) {
      note.textContent = "The drought area could not be made: " + text.trim();
      link.hidden = true;
      chart("area", [], {}, note);
      return;
    }
    const lines = text.split(/\r?\n/).filter((line) => line !== "");
    const head = lines[0].split(",");
    const col = (name) => head.indexOf(name);
    const drought = ["extreme_drought", "severe_drought", "moderate_drought"].map(col);
    const rows = [];
    for (let k = 1; k < lines.length; k++) {
      const f = lines[k].split(",");
      const t = new Date(Date.UTC(Number(f[col("year")]), Number(f[col("month")]) - 1, 1));
      const empty = f[col("mean")] === "";
      rows.push([t, empty ? null : Number(f[col("mean")]),
                 empty ? null : drought.reduce((sum, d) => sum + Number(f[d]), 0)]);
    }
    note.textContent = "Area-weighted mean PDSI and the share of the box's land area in moderate drought " +
      "or worse (right axis, %).";
    link.href = url;
    link.hidden = false;
    chart("area", rows, {
      labels: ["Month", "Mean PDSI", "Area in drought %"], colors: ["#333", "#bf812d"], strokeWidth: 1,
      series: { "Area in drought %": { axis: "y2" } }, y2label: "% in drought",
      axes: { y2: { valueRange: [0, 100], independentTicks: true } },
    }, note);
  }

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
  viewFromUrl();
  setValues(fromUrl());
  document.querySelector("#colour-by input[value='" + colour + "']").checked = true;
  monthControls();
  drawTitle();
  drawLegend();
  if (pinned) pin(pinned);
  if (info.sound) showMonth(month);
  if (!info.sound) mapNote("The map is unavailable: the grid file is damaged. The form still works " +
                           "for boxes the damage does not touch.");
  form.addEventListener("input", () => { previewBox(); schedule(); });
  form.addEventListener("submit", (e) => { e.preventDefault(); update(); });
  for (const radio of document.querySelectorAll("#colour-by input")) {
    radio.addEventListener("change", () => {
      colour = radio.value;
      if (cells) drawCells(); else { drawTitle(); drawLegend(); }
      keepInUrl(shown);
    });
  }
  previewBox();
  const first = Number(form.elements.first_year.value), last = Number(form.elements.last_year.value);
  const valid = (y) => Number.isInteger(y) && y >= info.first_year && y <= info.last_year;
  loadCells(valid(first) && valid(last) && first <= last ? [first, last] : [info.first_year, info.last_year]);
  update();
})();
