// The report page: the map and the table select a cell, the chart shows it.
(function () {
  "use strict";
  const data = JSON.parse(document.getElementById("run-data").textContent);
  const ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  const DIGIT = {};
  for (let i = 0; i < ALPHABET.length; i++) DIGIT[ALPHABET[i]] = i;
  const OFFSET = 131072;  // three digits of 64 carry hundredths from -1310.71 up; 0 is no value

  function decode(text) {
    const out = new Array(text.length / 3);
    for (let i = 0, k = 0; i < text.length; i += 3, k++) {
      const code = DIGIT[text[i]] * 4096 + DIGIT[text[i + 1]] * 64 + DIGIT[text[i + 2]];
      out[k] = code === 0 ? null : (code - OFFSET) / 100;
    }
    return out;
  }

  const cells = data.cells;
  const byNumber = new Map(cells.map((c) => [c.n, c]));
  const chartBox = document.getElementById("chart");
  let graph = null;
  let selected = null;

  function fixed(v, d) { return v === null || v === undefined ? "\u2013" : v.toFixed(d); }
  function place(c) {
    return Math.abs(c.lat).toFixed(2) + (c.lat < 0 ? "\u00B0S " : "\u00B0N ") +
           Math.abs(c.lon).toFixed(2) + (c.lon < 0 ? "\u00B0W" : "\u00B0E");
  }

  function showFigures(c) {
    const rows = [
      ["Cell", String(c.n)], ["Mid-point", place(c)],
      ["Missing months", (100 * c.miss).toFixed(1) + " %"],
      ["Outliers removed", c.out === null ? "\u2013" : String(c.out)],
    ];
    if (data.filled) {
      rows.push(["Components used", c.pcs && c.pcs.length ? c.pcs.map((p) => "PC" + p).join(", ") : "\u2013"]);
      rows.push(["Correlation (calibration)", fixed(c.r, 3)]);
      rows.push(["Slope, intercept", fixed(c.b, 3) + ", " + fixed(c.a, 3)]);
      if (c.note) rows.push(["Note", c.note]);
    }
    const dl = document.getElementById("cell-figures");
    dl.textContent = "";
    for (const [k, v] of rows) {
      const dt = document.createElement("dt"); dt.textContent = k;
      const dd = document.createElement("dd"); dd.textContent = v;
      dl.append(dt, dd);
    }
  }

  function draw(c) {
    if (graph) { graph.destroy(); graph = null; }
    chartBox.textContent = "";
    if (!c.obs && !c.est) { chartBox.textContent = "This cell has no value in the span."; return; }
    const obs = c.obs ? decode(c.obs) : new Array(data.nmon).fill(null);
    const est = c.est ? decode(c.est) : null;
    const rows = new Array(data.nmon);
    for (let k = 0; k < data.nmon; k++) {
      const t = new Date(Date.UTC(data.iyr1, k, 1));
      const v = obs[k];
      const gross = v !== null && Math.abs(v) >= 10 ? v : null;
      rows[k] = est ? [t, v, est[k], gross] : [t, v, gross];
    }
    const labels = est ? ["Month", "Observed", "Estimate", "Outlier"] : ["Month", "Observed", "Outlier"];
    const series = {
      Observed: { strokeWidth: 1.2, drawGapEdgePoints: true, connectSeparatedPoints: false },
      Outlier: { strokeWidth: 0, drawPoints: true, pointSize: 4, color: "#d7191c" },
    };
    if (est) series.Estimate = { strokeWidth: 1, color: "#2c7bb6" };
    const cal = data.cal;
    graph = new Dygraph(chartBox, rows, {
      labels: labels, series: series, labelsUTC: true, showRangeSelector: true,
      valueRange: [-15, 15], colors: est ? ["#444", "#2c7bb6", "#d7191c"] : ["#444", "#d7191c"],
      ylabel: "PDSI", legend: "always", labelsSeparateLines: false,
      underlayCallback: cal ? function (ctx, area, g) {
        const x0 = g.toDomXCoord(cal[0]), x1 = g.toDomXCoord(cal[1]);
        ctx.fillStyle = "rgba(190,150,60,0.25)";
        ctx.fillRect(x0, area.y, x1 - x0, area.h);
      } : undefined,
    });
  }

  function select(n) {
    const c = byNumber.get(n);
    if (!c) return;
    if (selected !== null) {
      const old = document.getElementById("cell-" + selected);
      if (old) old.classList.remove("selected");
      const oldRow = document.getElementById("row-" + selected);
      if (oldRow) oldRow.classList.remove("selected");
    }
    selected = n;
    const rect = document.getElementById("cell-" + n);
    if (rect) {
      rect.classList.add("selected");
      rect.parentNode.appendChild(rect);  // drawn last, its outline stays whole
    }
    const row = document.getElementById("row-" + n);
    if (row) row.classList.add("selected");
    document.getElementById("cell-title").textContent = "Cell " + n + ", " + place(c);
    showFigures(c);
    draw(c);
  }

  document.querySelector("svg.map").addEventListener("click", (e) => {
    const n = e.target.getAttribute && e.target.getAttribute("data-n");
    if (n) select(Number(n));
  });

  // The table.
  const tbody = document.querySelector("#cells tbody");
  const rowOf = new Map();
  for (const c of cells) {
    const tr = document.createElement("tr");
    tr.id = "row-" + c.n;
    const texts = [String(c.n), c.lat.toFixed(2), c.lon.toFixed(2), c.miss.toFixed(3),
                   c.out === null ? "" : String(c.out), c.pcs ? c.pcs.join(" ") : "", fixed(c.r, 3)];
    for (const t of texts) { const td = document.createElement("td"); td.textContent = t; tr.append(td); }
    tr.addEventListener("click", () => select(c.n));
    tbody.append(tr);
    rowOf.set(c.n, tr);
  }
  const sortKey = { n: (c) => c.n, lat: (c) => c.lat, lon: (c) => c.lon, miss: (c) => c.miss, out: (c) => c.out,
                    pcs: (c) => (c.pcs ? c.pcs.length : null), r: (c) => c.r };
  for (const th of document.querySelectorAll("#cells th")) {
    th.addEventListener("click", () => {
      const key = sortKey[th.dataset.key];
      const down = th.classList.contains("asc");
      for (const other of document.querySelectorAll("#cells th")) other.classList.remove("asc", "desc");
      th.classList.add(down ? "desc" : "asc");
      const order = cells.slice().sort((a, b) => {
        const x = key(a), y = key(b);
        if (x === null || x === undefined) return (y === null || y === undefined) ? a.n - b.n : 1;
        if (y === null || y === undefined) return -1;
        return (down ? y - x : x - y) || a.n - b.n;
      });
      for (const c of order) tbody.append(rowOf.get(c.n));
    });
  }

  window.pdsiReport = { select: select, graph: () => graph, selected: () => selected };
  const first = cells.find((c) => c.obs || c.est) || cells[0];
  if (first) select(first.n);
})();
