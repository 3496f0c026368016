"use strict";
(function () {
  // Every text from the results files goes in through textContent, never as markup.
  var data = JSON.parse(document.getElementById("fleet-data").textContent);
  var S = data.summary;
  var OUTCOMES = ["failed", "killedOrRunning", "stopped", "refused", "running", "dryRun", "succeeded"];
  var OUTCOME_LABELS = {
    failed: "Failed", killedOrRunning: "Killed or still running", stopped: "Stopped",
    refused: "Refused", running: "Running", dryRun: "Dry run", succeeded: "Succeeded",
    neverReported: "Never reported", unreadable: "Unreadable", stale: "Stale",
    identityMismatch: "Identity mismatch"
  };
  var PRODUCT_LABELS = ["Removed", "Not found", "Failed", "Ignored", "Not attempted"];
  var PRODUCT_COLORS = ["#2e7d32", "#8bc34a", "#c62828", "#f2b400", "#9aa5b1"];
  var PRODUCT_FAILED = 2;
  // A product's launch results that say more than its exit code.
  var LAUNCH_MARKS = { timedOut: "timed out", stopped: "ended on the second stop request" };
  var PAGE_ROWS = 100, PRODUCT_ROWS = 50, LIST_LIMIT = 2000, STRIDE = 5;
  var SVG = "http://www.w3.org/2000/svg";
  // Positions in a machine's row (see machineData in report_output.cpp). The row's tail, from
  // VERSION on, ends early where the rest holds defaults: read it with "|| default".
  var HOST = 0, OUTCOME = 1, REFUSAL = 2, STOP = 3, START = 4, END = 5, EXIT = 6, PATH = 7,
    STALE = 8, OLDER = 9, PRODUCTS = 10, VERSION = 11, CONFIG = 12, LOG = 13, MACHINE_ID = 14,
    TIMEOUT = 15, FILE_HOST = 16, MISMATCH = 17, RENAMED = 18, NOTHING_DONE = 19;
  function version(m) { return m[VERSION] || 0; }
  function config(m) { return m[CONFIG] || 0; }
  function renamed(m) { return m[RENAMED] || []; }

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
  function span(seconds) {
    if (seconds === null || seconds === undefined || seconds < 0) return "";
    var h = Math.floor(seconds / 3600), m = Math.floor(seconds % 3600 / 60), s = seconds % 60;
    return (h ? h + " h " : "") + (h || m ? m + " min " : "") + s + " s";
  }
  function productName(p) {
    var name = p[1] + " " + p[2];
    return p[3] ? name + " (" + p[3] + ")" : name;
  }
  function launchWord(i) { return i < data.launches.length ? data.launches[i] : ""; }
  function versionText(i) { return data.versions[i] || "none given"; }
  function configText(i) { return data.configs[i] ? data.configs[i].slice(0, 12) : "none given"; }
  function byId(id) { return document.getElementById(id); }
  function fillList(list, items) {
    list.textContent = "";
    items.slice(0, LIST_LIMIT).forEach(function (h) { list.appendChild(el("li", h)); });
    if (items.length > LIST_LIMIT) list.appendChild(el("li", "and " + (items.length - LIST_LIMIT) + " more"));
    if (!items.length) list.appendChild(el("li", "none"));
  }

  // One pass over the machines for everything the headline and the filters count.
  var M = data.machines, n = M.length;
  var hostLower = new Array(n), failedCount = new Int32Array(n);
  var versionCount = new Int32Array(data.versions.length), configCount = new Int32Array(data.configs.length);
  var mismatches = 0;
  for (var i = 0; i < n; ++i) {
    var m = M[i], f = m[PRODUCTS], c = 0;
    hostLower[i] = m[HOST].toLowerCase();
    for (var k = 1; k < f.length; k += STRIDE) if (f[k] === PRODUCT_FAILED) ++c;
    failedCount[i] = c;
    ++versionCount[version(m)];
    ++configCount[config(m)];
    if (m[MISMATCH]) ++mismatches;
  }
  S.identityMismatch = mismatches;
  var notListed = {};
  data.notInInventory.forEach(function (h) { notListed[h.toLowerCase()] = true; });

  // Headline.
  byId("span").textContent =
    (S.firstStart ? "Runs from " + S.firstStart + " to " + S.lastEnd + "; " : "No runs; ") +
    "report made " + S.generated + (data.staleAfterDays !== null ?
      "; runs that ended more than " + data.staleAfterDays + " days ago are stale" : "");
  var headline = byId("headline");
  ["succeeded", "failed", "refused", "stopped", "killedOrRunning", "running", "dryRun",
   "neverReported", "unreadable", "stale", "identityMismatch"].forEach(function (key) {
    var card = el("div", null, "card " + key);
    card.id = "count-" + key;
    card.appendChild(el("span", S[key], "n"));
    card.appendChild(el("span", OUTCOME_LABELS[key]));
    headline.appendChild(card);
  });
  var reasons = Object.keys(S.refusedBy);
  if (reasons.length) {
    byId("refusals").textContent = "Refused by reason: " +
      reasons.map(function (r) { return r + " " + S.refusedBy[r]; }).join(", ");
  }
  // More than one program version or configuration in one campaign is worth a look.
  function used(counts, text) {
    var out = [];
    for (var j = 0; j < counts.length; ++j) if (counts[j]) out.push(text(j) + " on " + counts[j]);
    return out;
  }
  var versionsUsed = used(versionCount, versionText), configsUsed = used(configCount, configText);
  var mixed = [];
  if (versionsUsed.length > 1)
    mixed.push(versionsUsed.length + " program versions ran: " + versionsUsed.slice(0, 5).join(", "));
  if (configsUsed.length > 1)
    mixed.push(configsUsed.length + " configurations ran: " + configsUsed.slice(0, 5).join(", "));
  if (mixed.length) {
    byId("mixed").textContent = mixed.join(". ") + ".";
    byId("mixed").hidden = false;
  }

  // Products: one page of rows at a time, each drawn as a stacked bar; every number links to
  // its machines.
  var legend = byId("legend");
  PRODUCT_LABELS.forEach(function (label, j) {
    var s = el("span", label);
    s.style.setProperty("--c", PRODUCT_COLORS[j]);
    legend.appendChild(s);
  });
  var P = data.products, productLower = null, productView = [], productPage = 0;
  var productBody = byId("products").tBodies[0];
  function pick(text, filter) {
    var a = el("a", text, "pick");
    a.href = "#h-machines";
    for (var key in filter) a.dataset[key] = filter[key];
    return a;
  }
  function tallyCell(list, product, key) {
    var td = el("td");
    list.forEach(function (t, j) {
      if (j) td.appendChild(document.createTextNode(", "));
      var filter = { product: product, outcome: "failed" };
      filter[key] = t[0];
      td.appendChild(pick(t[0] + " \u00d7" + t[1], filter));
    });
    return td;
  }
  function productRow(index) {
    var p = P[index], tr = el("tr");
    tr.appendChild(el("td", productName(p)));
    var counts = p.slice(4, 9), total = counts.reduce(function (a, b) { return a + b; }, 0);
    var bar = svg("svg", { width: 240, height: 14, role: "img" });
    var x = 0;
    counts.forEach(function (count, j) {
      if (!count) return;
      var w = 240 * count / total;
      var r = svg("rect", { x: x, y: 0, width: w, height: 14, fill: PRODUCT_COLORS[j] });
      var t = svg("title", {});
      t.textContent = PRODUCT_LABELS[j] + ": " + count;
      r.appendChild(t);
      bar.appendChild(r);
      x += w;
    });
    var cell = el("td");
    cell.appendChild(bar);
    tr.appendChild(cell);
    counts.forEach(function (count, j) {
      var td = el("td", null, "num");
      if (count) td.appendChild(pick(count, { product: index, outcome: data.outcomes[j] }));
      else td.textContent = "0";
      tr.appendChild(td);
    });
    tr.appendChild(tallyCell(p[9], index, "exit"));
    tr.appendChild(tallyCell(p[10], index, "launch"));
    return tr;
  }
  function refilterProducts(text) {
    productView = [];
    if (text && !productLower) productLower = P.map(function (p) { return productName(p).toLowerCase(); });
    for (var j = 0; j < P.length; ++j) if (!text || productLower[j].indexOf(text) >= 0) productView.push(j);
    productPage = 0;
    renderProducts();
    productOptions();
  }
  function renderProducts() {
    var pages = Math.max(1, Math.ceil(productView.length / PRODUCT_ROWS));
    if (productPage >= pages) productPage = pages - 1;
    var first = productPage * PRODUCT_ROWS, last = Math.min(productView.length, first + PRODUCT_ROWS);
    var rows = document.createDocumentFragment();
    for (var r = first; r < last; ++r) rows.appendChild(productRow(productView[r]));
    productBody.textContent = "";
    productBody.appendChild(rows);
    byId("product-count").textContent = productView.length + " of " + P.length + " products";
    byId("products-info").textContent = productView.length ?
      "rows " + (first + 1) + "\u2013" + last + " of " + productView.length : "no rows";
    byId("products-prev").disabled = productPage === 0;
    byId("products-next").disabled = productPage >= pages - 1;
  }
  byId("product-search").addEventListener("input", function (e) {
    refilterProducts(e.target.value.trim().toLowerCase());
  });
  byId("products-prev").addEventListener("click", function () { --productPage; renderProducts(); });
  byId("products-next").addEventListener("click", function () { ++productPage; renderProducts(); });

  // Why a machine is where it is, in its row: what failed and how, refusal, stop, identity.
  function why(m) {
    var out = [];
    if (m[OUTCOME] === 1) out.push("no final results file");
    if (m[OUTCOME] === 4) out.push("still within its time");
    if (m[REFUSAL]) out.push(m[REFUSAL]);
    if (m[STOP]) out.push(m[STOP]);
    var f = m[PRODUCTS], shown = 0, failed = 0;
    for (var k = 0; k < f.length; k += STRIDE) {
      if (f[k + 1] !== PRODUCT_FAILED) continue;
      if (++failed > 3) continue;
      var p = P[f[k]], word = launchWord(f[k + 3]), marks = [];
      if (f[k + 2] !== null) marks.push("exit " + f[k + 2]);
      if (LAUNCH_MARKS[word]) marks.push(LAUNCH_MARKS[word]);
      else if (word && word !== "ok") marks.push(word);
      out.push(p[1] + " " + p[2] + (marks.length ? ": " + marks.join(", ") : ""));
      ++shown;
    }
    if (failed > shown) out.push((failed - shown) + " more failed");
    if (m[MISMATCH]) out.push(m[FILE_HOST] ? "identity mismatch: the file says " + m[FILE_HOST] :
      "identity mismatch");
    if (m[NOTHING_DONE]) out.push("nothing done: no family setup program installed");
    return out;
  }

  // Machines: filtered and sorted as index lists, one page of rows in the document at a time.
  var SORT_KEYS = {
    host: function (j) { return hostLower[j]; },
    outcome: function (j) { return M[j][OUTCOME]; },
    reason: function (j) { return why(M[j]).join("; "); },
    exit: function (j) { return M[j][EXIT]; },
    failed: function (j) { return failedCount[j]; },
    version: function (j) { return data.versions[version(M[j])]; },
    config: function (j) { return data.configs[config(M[j])]; },
    start: function (j) { return M[j][START] === null ? -Infinity : M[j][START]; },
    end: function (j) { return M[j][END] === null ? -Infinity : M[j][END]; }
  };
  // With a product chosen, the outcome is that product's outcome on the machine; exit and
  // launch narrow it to one answer of its setup program.
  var state = { host: "", outcome: "", product: "", refusal: "", version: "", config: "",
                exit: null, launch: null, sort: "", desc: false, page: 0 };
  var view = [], opened = {};

  function addOptions(select, values) {
    var options = document.createDocumentFragment();
    values.forEach(function (v) {
      var o = el("option", v[1]);
      o.value = v[0];
      options.appendChild(o);
    });
    select.appendChild(options);
  }
  function outcomeOptions() {
    var select = byId("filter-outcome"), values;
    if (state.product === "") {
      values = OUTCOMES.map(function (o) { return [o, OUTCOME_LABELS[o] + " (" + S[o] + ")"]; });
    } else {
      var p = P[+state.product];
      values = data.outcomes.map(function (o, j) { return [o, PRODUCT_LABELS[j] + " (" + p[4 + j] + ")"]; });
    }
    select.textContent = "";
    addOptions(select, [["", "all"]].concat(values));
    if (!values.some(function (v) { return v[0] === state.outcome; })) state.outcome = "";
    select.value = state.outcome;
  }
  outcomeOptions();
  // The product filter lists the products the product search above matches, so that a fleet
  // of many thousand products keeps a short list (a select of 30,000 takes seconds to draw).
  var PRODUCT_OPTIONS = 500;
  function productOptions() {
    var select = byId("filter-product"), shown = productView.slice(0, PRODUCT_OPTIONS);
    if (state.product !== "" && shown.indexOf(+state.product) < 0) shown.push(+state.product);
    select.textContent = "";
    addOptions(select, [["", "all"]].concat(shown.map(function (j) { return ["" + j, productName(P[j])]; })));
    if (productView.length > PRODUCT_OPTIONS) {
      var more = el("option", "and " + (productView.length - PRODUCT_OPTIONS) + " more: narrow with the product search above");
      more.disabled = true;
      select.appendChild(more);
    }
    select.value = state.product;
  }
  addOptions(byId("filter-refusal"), reasons.map(function (r) {
    return [r, r + " (" + S.refusedBy[r] + ")"];
  }));
  addOptions(byId("filter-version"), data.versions.map(function (v, j) {
    return ["" + j, versionText(j) + " (" + versionCount[j] + ")"];
  }));
  addOptions(byId("filter-config"), data.configs.map(function (v, j) {
    return ["" + j, configText(j) + " (" + configCount[j] + ")"];
  }));

  function productMatches(f) {
    var want = +state.product;
    for (var k = 0; k < f.length; k += STRIDE) {
      if (f[k] !== want) continue;
      if (state.outcome !== "" && data.outcomes[f[k + 1]] !== state.outcome) continue;
      if (state.exit !== null && String(f[k + 2]) !== state.exit) continue;
      if (state.launch !== null && (launchWord(f[k + 3]) || "none") !== state.launch) continue;
      return true;
    }
    return false;
  }
  function matches(j) {
    var m = M[j];
    if (state.product === "" && state.outcome !== "" && OUTCOMES[m[OUTCOME]] !== state.outcome) return false;
    if (state.refusal !== "" && m[REFUSAL] !== state.refusal) return false;
    if (state.version !== "" && version(m) !== +state.version) return false;
    if (state.config !== "" && config(m) !== +state.config) return false;
    if (state.host !== "" && hostLower[j].indexOf(state.host) < 0) return false;
    return state.product === "" || productMatches(m[PRODUCTS]);
  }
  function refilter() {
    view = [];
    for (var j = 0; j < n; ++j) if (matches(j)) view.push(j);
    if (state.sort) {
      var key = SORT_KEYS[state.sort], dir = state.desc ? -1 : 1;
      var keys = new Array(n);
      view.forEach(function (j) { keys[j] = key(j); });
      view.sort(function (a, b) {
        return keys[a] < keys[b] ? -dir : keys[a] > keys[b] ? dir : a - b;
      });
    }
    var extra = [];
    if (state.exit !== null) extra.push("exit code " + state.exit);
    if (state.launch !== null) extra.push("launch result " + state.launch);
    byId("filter-extra").hidden = !extra.length;
    byId("filter-extra-text").textContent = extra.join(", ");
    state.page = 0;
    render();
  }

  var body = byId("machines").tBodies[0];
  function fact(parent, label, value, cls) {
    var p = el("p", label + ": ");
    p.appendChild(el("span", value, cls));
    parent.appendChild(p);
  }
  function detail(m) {
    var td = el("td");
    td.colSpan = 9;
    var t = el("table", null, "grid");
    var head = el("tr");
    ["Product", "Outcome", "Exit code", "Launch result", "Leftover processes"].forEach(function (h) {
      head.appendChild(el("th", h));
    });
    t.appendChild(head);
    var f = m[PRODUCTS];
    for (var k = 0; k < f.length; k += STRIDE) {
      var tr = el("tr"), word = data.outcomes[f[k + 1]];
      tr.appendChild(el("td", productName(P[f[k]])));
      tr.appendChild(el("td", word, "p-" + word));
      tr.appendChild(el("td", f[k + 2] === null ? "" : f[k + 2], "num"));
      tr.appendChild(el("td", launchWord(f[k + 3])));
      tr.appendChild(el("td", f[k + 4] || "", "num"));
      t.appendChild(tr);
    }
    td.appendChild(t);
    fact(td, "Results file", data.folder + m[PATH], "path");
    if (m[LOG]) fact(td, "Log file", m[LOG], "path");
    var took = m[START] !== null && m[END] !== null ? span(m[END] - m[START]) : "";
    fact(td, "Duration", took || "unknown");
    fact(td, "Setup time limit", m[TIMEOUT] === null || m[TIMEOUT] === undefined ? "none" : span(m[TIMEOUT]));
    fact(td, "Program version", versionText(version(m)));
    fact(td, "Configuration (SHA-256)", data.configs[config(m)] || "none given", "path");
    if (m[MACHINE_ID]) fact(td, "Machine id", m[MACHINE_ID], "path");
    if (m[FILE_HOST]) fact(td, "The file's host name", m[FILE_HOST]);
    renamed(m).forEach(function (older) { fact(td, "Renamed from", older); });
    m[OLDER].forEach(function (older) { fact(td, "Earlier run, not counted", older, "path"); });
    var tr2 = el("tr", null, "detail");
    tr2.appendChild(td);
    return tr2;
  }
  function whyCell(m) {
    var td = el("td", null, "why");
    why(m).forEach(function (text, j) {
      if (j) td.appendChild(document.createTextNode("; "));
      td.appendChild(el("span", text, text.indexOf("identity mismatch") === 0 ? "flag bad" : null));
    });
    return td;
  }
  function render() {
    var pages = Math.max(1, Math.ceil(view.length / PAGE_ROWS));
    if (state.page >= pages) state.page = pages - 1;
    var first = state.page * PAGE_ROWS, last = Math.min(view.length, first + PAGE_ROWS);
    var rows = document.createDocumentFragment();
    for (var r = first; r < last; ++r) {
      var j = view[r], m = M[j], word = OUTCOMES[m[OUTCOME]];
      var tr = el("tr", null, "machine");
      tr.dataset.index = j;
      var host = el("td", m[HOST]);
      if (m[STALE]) host.appendChild(el("span", "stale", "flag"));
      if (m[OLDER].length) host.appendChild(el("span", m[OLDER].length + " earlier", "flag"));
      if (renamed(m).length) host.appendChild(el("span", "renamed from " + renamed(m).join(", "), "flag"));
      if (notListed[hostLower[j]]) host.appendChild(el("span", "not in the inventory", "flag"));
      tr.appendChild(host);
      tr.appendChild(el("td", OUTCOME_LABELS[word], "outcome o-" + word));
      tr.appendChild(whyCell(m));
      tr.appendChild(el("td", m[EXIT], "num"));
      tr.appendChild(el("td", failedCount[j] || "", "num"));
      tr.appendChild(el("td", versionText(version(m))));
      var sha = el("td", configText(config(m)), "path");
      sha.title = data.configs[config(m)];
      tr.appendChild(sha);
      tr.appendChild(el("td", time(m[START])));
      tr.appendChild(el("td", time(m[END])));
      rows.appendChild(tr);
      if (opened[j]) rows.appendChild(detail(m));
    }
    body.textContent = "";
    body.appendChild(rows);
    byId("match-count").textContent = view.length + " of " + n + " machines";
    byId("page-info").textContent = view.length ?
      "rows " + (first + 1) + "\u2013" + last + " of " + view.length : "no rows";
    byId("page-prev").disabled = state.page === 0;
    byId("page-next").disabled = state.page >= pages - 1;
  }

  body.addEventListener("click", function (e) {
    var tr = e.target.closest("tr.machine");
    if (!tr) return;
    var j = +tr.dataset.index;
    opened[j] = !opened[j];
    render();
  });
  byId("filter-host").addEventListener("input", function (e) {
    state.host = e.target.value.trim().toLowerCase();
    refilter();
  });
  ["outcome", "product", "refusal", "version", "config"].forEach(function (name) {
    byId("filter-" + name).addEventListener("change", function (e) {
      state[name] = e.target.value;
      if (name === "product") {
        state.exit = state.launch = null;
        outcomeOptions();
      }
      refilter();
    });
  });
  byId("filter-extra-clear").addEventListener("click", function () {
    state.exit = state.launch = null;
    refilter();
  });
  // A number of the products table: exactly its machines, whatever the filters said before.
  productBody.addEventListener("click", function (e) {
    var a = e.target.closest("a.pick");
    if (!a) return;
    state.host = state.refusal = state.version = state.config = "";
    ["host", "refusal", "version", "config"].forEach(function (name) { byId("filter-" + name).value = ""; });
    state.product = a.dataset.product;
    productOptions();
    state.outcome = a.dataset.outcome;
    outcomeOptions();
    state.exit = a.dataset.exit !== undefined ? a.dataset.exit : null;
    state.launch = a.dataset.launch !== undefined ? a.dataset.launch : null;
    refilter();
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
  byId("page-prev").addEventListener("click", function () { --state.page; render(); });
  byId("page-next").addEventListener("click", function () { ++state.page; render(); });

  // What to run again, ready to copy.
  var rerun = byId("rerun");
  rerun.textContent = data.rerun.join("\n");
  byId("rerun-n").textContent = "(" + data.rerun.length + ")";
  byId("rerun-copy").disabled = !data.rerun.length;
  byId("rerun-copy").addEventListener("click", function () {
    rerun.focus();
    rerun.select();
    var copied = false;
    try { copied = document.execCommand("copy"); } catch (e) { copied = false; }
    byId("rerun-status").textContent = copied ? "copied " + data.rerun.length + " hosts" :
      "selected: press Ctrl+C to copy";
  });

  // Waves: how the fleet moved since the previous report.
  if (data.changes) {
    ["newlyFailed", "newlyFixed", "stillFailing", "newlyReported"].forEach(function (key) {
      fillList(byId("changes-" + key), data.changes[key]);
      byId("changes-" + key + "-n").textContent = "(" + data.changes[key].length + ")";
    });
    byId("changes").hidden = false;
  }

  // The lists beside the machines: long ones are cut, with the count of the rest.
  fillList(byId("never"), data.neverReported);
  fillList(byId("not-in-inventory"), data.notInInventory);
  fillList(byId("others"), data.others);
  var unreadable = byId("unreadable").tBodies[0];
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
  var unreadableBy = Object.keys(S.unreadableBy);
  if (unreadableBy.length) {
    byId("unreadable-by").textContent = "By reason: " +
      unreadableBy.map(function (r) { return r + " " + S.unreadableBy[r]; }).join(", ");
  }

  refilterProducts("");
  refilter();
  document.body.dataset.ready = "1";
})();
