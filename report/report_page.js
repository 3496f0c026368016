
"use strict";
(function () {
  // Every text from the results files goes in through textContent, never as markup.
  var data = JSON.parse(document.getElementById("fleet-data").textContent);
  var S = data.summary;
  var OUTCOMES = ["failed", "killedOrRunning", "stopped", "refused", "running", "dryRun", "succeeded"];
  var OUTCOME_LABELS = {
    failed: "Failed", killedOrRunning: "Killed or still running", stopped: "Stopped",
    refused: "Refused", running: "Running", dryRun: "Dry run", succeeded: "Succeeded",
    neverReported: "Never reported", unreadable: "Unreadable", stale: "Stale"
  };
  var PRODUCT_LABELS = ["Removed", "Not found", "Failed", "Ignored", "Not attempted"];
  var PRODUCT_COLORS = ["#2e7d32", "#8bc34a", "#c62828", "#f2b400", "#9aa5b1"];
  var PAGE_ROWS = 100;
  var SVG = "http://www.w3.org/2000/svg";

  function el(tag, text, cls) {
    var e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }
  function svg(tag, attrs) {
    var e = document.createElementNS(SVG, tag);
    for (var k in attrs) e.setAttribute(k, attrs[k]);
    return e;
  }
  function pad(n) { return n < 10 ? "0" + n : "" + n; }
  function time(seconds) {
    if (seconds === null || seconds === undefined) return "";
    var d = new Date(seconds * 1000);
    return d.getUTCFullYear() + "-" + pad(d.getUTCMonth() + 1) + "-" + pad(d.getUTCDate()) + " " +
      pad(d.getUTCHours()) + ":" + pad(d.getUTCMinutes());
  }
  function productName(p) {
    var name = p[1] + " " + p[2];
    return p[3] ? name + " (" + p[3] + ")" : name;
  }
  function launchWord(i) { return i < data.launches.length ? data.launches[i] : ""; }

  // Headline.
  document.getElementById("span").textContent =
    (S.firstStart ? "Runs from " + S.firstStart + " to " + S.lastEnd + "; " : "No runs; ") +
    "report made " + S.generated + (data.staleAfterDays !== null ?
      "; runs that ended more than " + data.staleAfterDays + " days ago are stale" : "");
  var headline = document.getElementById("headline");
  ["succeeded", "failed", "refused", "stopped", "killedOrRunning", "running", "dryRun",
   "neverReported", "unreadable", "stale"].forEach(function (key) {
    var card = el("div", null, "card " + key);
    card.id = "count-" + key;
    card.appendChild(el("span", S[key], "n"));
    card.appendChild(el("span", OUTCOME_LABELS[key]));
    headline.appendChild(card);
  });
  var reasons = Object.keys(S.refusedBy);
  if (reasons.length) {
    document.getElementById("refusals").textContent = "Refused by reason: " +
      reasons.map(function (r) { return r + " " + S.refusedBy[r]; }).join(", ");
  }

  // Products, drawn as one stacked bar each.
  var legend = document.getElementById("legend");
  PRODUCT_LABELS.forEach(function (label, i) {
    var s = el("span", label);
    s.style.setProperty("--c", PRODUCT_COLORS[i]);
    legend.appendChild(s);
  });
  var productBody = document.querySelector("#products tbody");
  data.products.forEach(function (p) {
    var tr = el("tr");
    tr.appendChild(el("td", productName(p)));
    var counts = p.slice(4, 9), total = counts.reduce(function (a, b) { return a + b; }, 0);
    var bar = svg("svg", { width: 240, height: 14, role: "img" });
    var x = 0;
    counts.forEach(function (n, i) {
      if (!n) return;
      var w = 240 * n / total;
      var r = svg("rect", { x: x, y: 0, width: w, height: 14, fill: PRODUCT_COLORS[i] });
      var t = svg("title", {});
      t.textContent = PRODUCT_LABELS[i] + ": " + n;
      r.appendChild(t);
      bar.appendChild(r);
      x += w;
    });
    var cell = el("td");
    cell.appendChild(bar);
    tr.appendChild(cell);
    counts.forEach(function (n) { tr.appendChild(el("td", n, "num")); });
    tr.appendChild(el("td", p[9].map(function (c) { return c[0] + " \u00d7" + c[1]; }).join(", ")));
    tr.appendChild(el("td", p[10].map(function (c) { return c[0] + " \u00d7" + c[1]; }).join(", ")));
    productBody.appendChild(tr);
  });

  // Machines: filtered and sorted as index lists, one page of rows in the document at a time.
  var M = data.machines, n = M.length;
  var hostLower = new Array(n), failedCount = new Int32Array(n);
  for (var i = 0; i < n; ++i) {
    hostLower[i] = M[i][0].toLowerCase();
    var f = M[i][10], c = 0;
    for (var k = 1; k < f.length; k += 4) if (f[k] === 2) ++c;
    failedCount[i] = c;
  }
  function reason(m) {
    if (m[1] === 1) return "no final results file";
    if (m[1] === 4) return "still within its time";
    return m[2] || m[3];
  }
  var SORT_KEYS = {
    host: function (i) { return hostLower[i]; },
    outcome: function (i) { return M[i][1]; },
    reason: function (i) { return reason(M[i]); },
    exit: function (i) { return M[i][6]; },
    failed: function (i) { return failedCount[i]; },
    start: function (i) { return M[i][4] === null ? -Infinity : M[i][4]; },
    end: function (i) { return M[i][5] === null ? -Infinity : M[i][5]; }
  };
  var state = { host: "", outcome: "", product: "", refusal: "", sort: "", desc: false, page: 0 };
  var view = [], opened = {};

  function addOptions(select, values) {
    values.forEach(function (v) {
      var o = el("option", v[1]);
      o.value = v[0];
      select.appendChild(o);
    });
  }
  addOptions(document.getElementById("filter-outcome"), OUTCOMES.map(function (o) {
    return [o, OUTCOME_LABELS[o] + " (" + S[o] + ")"];
  }));
  addOptions(document.getElementById("filter-product"), data.products.map(function (p, i) {
    return ["" + i, productName(p)];
  }));
  addOptions(document.getElementById("filter-refusal"), reasons.map(function (r) {
    return [r, r + " (" + S.refusedBy[r] + ")"];
  }));

  function matches(i) {
    var m = M[i];
    if (state.outcome !== "" && OUTCOMES[m[1]] !== state.outcome) return false;
    if (state.refusal !== "" && m[2] !== state.refusal) return false;
    if (state.host !== "" && hostLower[i].indexOf(state.host) < 0) return false;
    if (state.product !== "") {
      var want = +state.product, f = m[10];
      for (var k = 0; k < f.length; k += 4) if (f[k] === want) return true;
      return false;
    }
    return true;
  }
  function refilter() {
    view = [];
    for (var i = 0; i < n; ++i) if (matches(i)) view.push(i);
    if (state.sort) {
      var key = SORT_KEYS[state.sort], dir = state.desc ? -1 : 1;
      var keys = new Array(n);
      view.forEach(function (i) { keys[i] = key(i); });
      view.sort(function (a, b) {
        return keys[a] < keys[b] ? -dir : keys[a] > keys[b] ? dir : a - b;
      });
    }
    state.page = 0;
    render();
  }

  var body = document.querySelector("#machines tbody");
  function detail(m) {
    var td = el("td");
    td.colSpan = 7;
    var t = el("table", null, "grid");
    var head = el("tr");
    ["Product", "Outcome", "Exit code", "Launch result"].forEach(function (h) { head.appendChild(el("th", h)); });
    t.appendChild(head);
    var f = m[10];
    for (var k = 0; k < f.length; k += 4) {
      var tr = el("tr"), word = data.outcomes[f[k + 1]];
      tr.appendChild(el("td", productName(data.products[f[k]])));
      tr.appendChild(el("td", word, "p-" + word));
      tr.appendChild(el("td", f[k + 2] === null ? "" : f[k + 2], "num"));
      tr.appendChild(el("td", launchWord(f[k + 3])));
      t.appendChild(tr);
    }
    td.appendChild(t);
    var file = el("p", "Results file: ");
    file.appendChild(el("span", m[7], "path"));
    td.appendChild(file);
    m[9].forEach(function (older) {
      var p = el("p", "Earlier run, not counted: ");
      p.appendChild(el("span", older, "path"));
      td.appendChild(p);
    });
    var tr2 = el("tr", null, "detail");
    tr2.appendChild(td);
    return tr2;
  }
  function render() {
    var pages = Math.max(1, Math.ceil(view.length / PAGE_ROWS));
    if (state.page >= pages) state.page = pages - 1;
    var first = state.page * PAGE_ROWS, last = Math.min(view.length, first + PAGE_ROWS);
    var rows = document.createDocumentFragment();
    for (var r = first; r < last; ++r) {
      var i = view[r], m = M[i], word = OUTCOMES[m[1]];
      var tr = el("tr", null, "machine");
      tr.dataset.index = i;
      var host = el("td", m[0]);
      if (m[8]) host.appendChild(el("span", "stale", "flag"));
      if (m[9].length) host.appendChild(el("span", m[9].length + " earlier", "flag"));
      tr.appendChild(host);
      tr.appendChild(el("td", OUTCOME_LABELS[word], "outcome o-" + word));
      tr.appendChild(el("td", reason(m)));
      tr.appendChild(el("td", m[6], "num"));
      tr.appendChild(el("td", failedCount[i] || "", "num"));
      tr.appendChild(el("td", time(m[4])));
      tr.appendChild(el("td", time(m[5])));
      rows.appendChild(tr);
      if (opened[i]) rows.appendChild(detail(m));
    }
    body.textContent = "";
    body.appendChild(rows);
    document.getElementById("match-count").textContent =
      view.length + " of " + n + " machines";
    document.getElementById("page-info").textContent = view.length ?
      "rows " + (first + 1) + "\u2013" + last + " of " + view.length : "no rows";
    document.getElementById("page-prev").disabled = state.page === 0;
    document.getElementById("page-next").disabled = state.page >= pages - 1;
  }

  body.addEventListener("click", function (e) {
    var tr = e.target.closest("tr.machine");
    if (!tr) return;
    var i = +tr.dataset.index;
    opened[i] = !opened[i];
    render();
  });
  document.getElementById("filter-host").addEventListener("input", function (e) {
    state.host = e.target.value.trim().toLowerCase();
    refilter();
  });
  ["outcome", "product", "refusal"].forEach(function (name) {
    document.getElementById("filter-" + name).addEventListener("change", function (e) {
      state[name] = e.target.value;
      refilter();
    });
  });
  document.querySelectorAll("#machines th[data-sort]").forEach(function (th) {
    function sort() {
      var key = th.dataset.sort;
      state.desc = state.sort === key ? !state.desc : false;
      state.sort = key;
      document.querySelectorAll("#machines th[data-sort]").forEach(function (h) {
        h.classList.remove("sorted-asc", "sorted-desc");
      });
      th.classList.add(state.desc ? "sorted-desc" : "sorted-asc");
      refilter();
    }
    th.addEventListener("click", sort);
    th.addEventListener("keydown", function (e) { if (e.key === "Enter") sort(); });
  });
  document.getElementById("page-prev").addEventListener("click", function () { --state.page; render(); });
  document.getElementById("page-next").addEventListener("click", function () { ++state.page; render(); });

  // Never reported and unreadable: long lists are cut, with the count of the rest.
  var LIST_LIMIT = 2000;
  var never = document.getElementById("never");
  data.neverReported.slice(0, LIST_LIMIT).forEach(function (h) { never.appendChild(el("li", h)); });
  if (data.neverReported.length > LIST_LIMIT)
    never.appendChild(el("li", "and " + (data.neverReported.length - LIST_LIMIT) + " more"));
  if (!data.neverReported.length) never.appendChild(el("li", "none"));
  var unreadable = document.querySelector("#unreadable tbody");
  data.unreadable.slice(0, LIST_LIMIT).forEach(function (u) {
    var tr = el("tr");
    tr.appendChild(el("td", u[0], "path"));
    tr.appendChild(el("td", u[1]));
    tr.appendChild(el("td", u[2]));
    unreadable.appendChild(tr);
  });
  if (data.unreadable.length > LIST_LIMIT) {
    var more = el("tr");
    more.appendChild(el("td", "and " + (data.unreadable.length - LIST_LIMIT) + " more"));
    unreadable.appendChild(more);
  }

  refilter();
  document.body.dataset.ready = "1";
})();
