#!/usr/bin/python3
"""Checks of the fleet report, called by tools/check_report.sh.

  report_check.py schema <schema> <file or folder>...   every results file against the schema
  report_check.py fleet <real results folder> <fleet folder> <inventory>
                                                         lays out a fleet around real results
  report_check.py browser <page> <summary> <fleet folder> <inventory> <screenshot>
                                                         what an administrator sees, in Chromium
  report_check.py big <folder> <count>                   generates a large realistic fleet
  report_check.py bigpage <page> <count>                 opens the large page, times it
"""
import calendar
import json
import os
import re
import sys
import tempfile
import time
from pathlib import Path

OUTCOME_LABELS = {"failed": "Failed", "killedOrRunning": "Killed or still running",
                  "stopped": "Stopped", "refused": "Refused", "running": "Running",
                  "dryRun": "Dry run", "succeeded": "Succeeded"}
HOSTILE = "<img src=x onerror=alert(1)>"


def fail(message):
    print("report check: " + message, file=sys.stderr)
    sys.exit(1)


def iso(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def utc(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ"))


# ---- schema ----

def readme_example(readme):
    text = Path(readme).read_text(encoding="utf-8")
    section = text[text.index("### The results file"):]
    return json.loads(section[section.index("```json") + 7:section.index("```", section.index("```json") + 7)])


def check_schema(schema_path, inputs):
    import jsonschema
    schema = json.loads(Path(schema_path).read_text(encoding="utf-8"))
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    files = []
    for item in inputs:
        p = Path(item)
        files += sorted(p.rglob("*.json")) if p.is_dir() else [p]
    docs = [(str(f), json.loads(f.read_bytes().decode("utf-8"))) for f in files]
    docs.append(("README example", readme_example(Path(schema_path).parent / "README.md")))
    refusals = set()
    for name, doc in docs:
        errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.path))
        if errors:
            fail("%s does not match the schema: %s at %s" % (name, errors[0].message, list(errors[0].path)))
        refusals.add(doc.get("refusal"))
    # A schema that accepted anything would pass the files above: it must refuse these.
    good = docs[-1][1]
    for broken in ({**good, "formatVersion": 2}, {**good, "refusal": "tired"},
                   {**good, "products": [{**good["products"][0], "outcome": "gone"}]},
                   {k: v for k, v in good.items() if k != "exitCode"}):
        if validator.is_valid(broken):
            fail("the schema accepts a broken results file: %s" % json.dumps(broken)[:200])
    print("schema: %d results files valid (refusals seen: %s)" %
          (len(docs), ", ".join(sorted(str(r) for r in refusals))))


# ---- a fleet around real results files ----

def classify(doc, now):
    if doc.get("state") == "running":
        limit = doc.get("setupTimeout")
        per = limit if limit is not None else 7200
        allowed = max(1, len(doc["products"])) * per + 900
        start = utc(doc["startTime"])
        return "killedOrRunning" if now - start > allowed else "running"
    if doc.get("stopRequest") or doc.get("refusal") == "interrupted":
        return "stopped"
    if doc.get("refusal"):
        return "refused"
    if doc.get("dryRun"):
        return "dryRun"
    failed = any(p["outcome"] == "failed" for p in doc["products"])
    return "succeeded" if doc["exitCode"] == 0 and not failed else "failed"


def lay_out_fleet(real, fleet, inventory):
    """Real results files, each under its scene's name, plus what only a fleet has."""
    fleet = Path(fleet)
    hosts = []
    for f in sorted(Path(real).glob("*/results.json")):
        doc = json.loads(f.read_text(encoding="utf-8"))
        doc["hostName"] = f.parent.name
        hosts.append(f.parent.name)
        (fleet / f.parent.name).mkdir(parents=True)
        (fleet / f.parent.name / "results.json").write_text(json.dumps(doc, indent=2), encoding="utf-8")
    ok = json.loads((Path(real) / "success" / "results.json").read_text(encoding="utf-8"))
    now = time.time()

    def extra(name, changes, host=None):
        doc = json.loads(json.dumps(ok))
        doc["hostName"] = host if host is not None else name
        doc.update(changes)
        (fleet / name).mkdir(parents=True, exist_ok=True)
        (fleet / name / "results.json").write_text(json.dumps(doc, indent=2), encoding="utf-8")

    extra("hostile", {}, HOSTILE)
    extra("killed", {"state": "running", "processId": 4711, "startTime": iso(now - 3 * 86400),
                     "endTime": None, "setupTimeout": 600})
    extra("old-pc", {"startTime": iso(now - 60 * 86400), "endTime": iso(now - 60 * 86400 + 90)})
    # An earlier, failed run of the host that later succeeded: only the latest counts.
    failed = json.loads((Path(real) / "failure" / "results.json").read_text(encoding="utf-8"))
    failed["startTime"], failed["endTime"] = iso(now - 20 * 86400), iso(now - 20 * 86400 + 60)
    failed["hostName"] = "SUCCESS"
    # The same host under another spelling of its folder: one host, its latest run.
    (fleet / "SUCCESS").mkdir()
    (fleet / "SUCCESS" / "earlier.json").write_text(json.dumps(failed), encoding="utf-8")
    (fleet / "broken").mkdir()
    (fleet / "broken" / "truncated.json").write_text(json.dumps(ok)[:80], encoding="utf-8")
    (fleet / "broken" / "notes.json").write_text("collected by hand", encoding="utf-8")
    (fleet / "broken" / "future.json").write_text(json.dumps({**ok, "formatVersion": 9}), encoding="utf-8")
    (fleet / "broken" / "Velkaro.log").write_text("not a results file", encoding="utf-8")
    Path(inventory).write_text("\n".join(hosts + ["hostile", "killed", "old-pc", "never-1", "never-2"]) + "\n",
                               encoding="utf-8")
    print("fleet: %d real results files, %d hosts in the inventory" % (len(hosts), len(hosts) + 5))


def host_key(name):
    """A host name as the report compares it: lower case, without its domain part."""
    name = name.lower()
    return name if re.fullmatch(r"[0-9.]+|.*:.*", name) else name.split(".")[0]


def expected_counts(fleet, inventory):
    """The headline as the inputs hold it, worked out here independently of the program. A
    machine is named by its folder directly under the fleet (or its file's name there); a file
    whose hostName names another host never counts as succeeded; hosts outside the inventory
    count nowhere."""
    now = time.time()
    latest = {}
    counts = {k: 0 for k in OUTCOME_LABELS}
    unreadable = 0
    places = set()
    for f in sorted(Path(fleet).rglob("*.json")):
        relative = f.relative_to(fleet)
        place = relative.parts[0] if len(relative.parts) > 1 else f.stem
        try:
            doc = json.loads(f.read_text(encoding="utf-8"))
        except Exception:
            doc = None
        if isinstance(doc, dict) and doc.get("program") != "Velkaro":
            continue  # another file, listed apart
        places.add(host_key(place))
        if doc is None or doc.get("formatVersion") != 1:
            unreadable += 1
            continue
        key = host_key(place)
        doc["_mismatch"] = bool(doc.get("hostName")) and host_key(doc["hostName"]) != key
        if key not in latest or doc["startTime"] > latest[key]["startTime"]:
            latest[key] = doc
    # Hosts outside the inventory are a list of their own, in no count.
    expected = {host_key(h) for h in Path(inventory).read_text(encoding="utf-8").split() if h}
    latest = {key: doc for key, doc in latest.items() if key in expected}
    for doc in latest.values():
        outcome = classify(doc, now)
        counts["failed" if outcome == "succeeded" and doc["_mismatch"] else outcome] += 1
    counts["neverReported"] = sum(1 for h in expected if h not in places)
    counts["unreadable"] = unreadable
    counts["stale"] = sum(1 for d in latest.values()
                          if now - utc(d["endTime"] or d["startTime"]) > 30 * 86400)
    return counts, latest


# ---- the browser ----

def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="velkaro-chromium-")
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--no-first-run", "--disable-default-apps", "--window-size=1280,1300",
                "--user-data-dir=" + profile):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(60)
    driver.set_page_load_timeout(120)
    return driver, profile


def open_page(driver, page):
    url = Path(page).resolve().as_uri()
    # What the browser did before the page (its start page) is not the page's.
    driver.get("about:blank")
    driver.get_log("performance")
    driver.get_log("browser")
    start = time.monotonic()
    driver.get(url)
    while driver.execute_script("return document.body.dataset.ready") != "1":
        if time.monotonic() - start > 120:
            fail("%s never finished rendering" % page)
        time.sleep(0.02)
    return url, time.monotonic() - start


def quiet_and_local(driver, url):
    """No request but the page itself, no message in the console."""
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            requested = message["params"]["request"]["url"]
            if requested != url:
                fail("the page requested %s" % requested)
    logs = driver.get_log("browser")
    if logs:
        fail("the browser console shows: %s" % logs)


def rows(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('#machines tbody tr.machine'))"
        ".map(function (r) { return Array.from(r.cells).map(function (c) { return c.textContent; }); });")


def set_filter(driver, name, value):
    from selenium.webdriver.support.ui import Select
    Select(driver.find_element("id", "filter-" + name)).select_by_value(value)


def check_browser(page, summary_path, fleet, inventory, screenshot):
    from selenium.common.exceptions import NoAlertPresentException
    expected, latest = expected_counts(fleet, inventory)
    summary = json.loads(Path(summary_path).read_text(encoding="utf-8"))
    driver, profile = browser()
    try:
        url, _ = open_page(driver, page)
        shown = {}
        for key in expected:
            shown[key] = int(driver.find_element("css selector", "#count-%s .n" % key).text)
            if shown[key] != expected[key] or summary[key] != expected[key]:
                fail("%s: the page shows %d, the summary %d, the inputs hold %d" %
                     (key, shown[key], summary[key], expected[key]))
        total = len(latest)
        count = driver.find_element("id", "match-count")
        if count.text != "%d of %d machines" % (total, total):
            fail("machine count: %r" % count.text)

        # The hostile host name is text; no element came out of it and no script ran.
        hosts = [r[0] for r in rows(driver)]
        if not any(h.startswith(HOSTILE) for h in hosts):
            fail("the hostile host name is not shown as text: %s" % hosts)
        if driver.execute_script("return document.querySelectorAll('main img').length") != 0:
            fail("a host name became an element")
        try:
            driver.switch_to.alert
            fail("a script from a host name ran")
        except NoAlertPresentException:
            pass

        # Filters: outcome, product, refusal, host name as typed.
        set_filter(driver, "outcome", "failed")
        got = rows(driver)
        if len(got) != expected["failed"] or any(r[1] != "Failed" for r in got):
            fail("outcome filter: %s" % got)
        set_filter(driver, "outcome", "")
        products = driver.execute_script(
            "return Array.from(document.querySelectorAll('#filter-product option'))"
            ".map(function (o) { return [o.value, o.textContent]; });")
        bad = [v for v, text in products if text.startswith("BAD ")]
        if not bad:
            fail("no product BAD to filter by: %s" % products)
        set_filter(driver, "product", bad[0])
        want = sorted(h for h, d in latest.items() if any(p["SapCode"] == "BAD" for p in d["products"]))
        got = sorted(r[0].lower() for r in rows(driver))
        if got != want:
            fail("product filter shows %s, not %s" % (got, want))
        set_filter(driver, "product", "")
        refused = sorted(summary["refusedBy"])
        if refused:
            set_filter(driver, "refusal", refused[0])
            got = rows(driver)
            if len(got) != summary["refusedBy"][refused[0]] or any(r[2] != refused[0] for r in got):
                fail("refusal filter: %s" % got)
            set_filter(driver, "refusal", "")
        box = driver.find_element("id", "filter-host")
        box.send_keys("FAIL")
        got = [r[0] for r in rows(driver)]
        if not got or any("fail" not in h.lower() for h in got):
            fail("host filter shows %s" % got)
        box.clear()
        box.send_keys(" ")  # clear() sends no input event
        box.clear()
        driver.execute_script("var b = document.getElementById('filter-host'); b.value = '';"
                              "b.dispatchEvent(new Event('input'));")

        # Sorting: by host up, then down; by start time.
        header = driver.find_element("css selector", "th[data-sort=host]")
        header.click()
        up = [r[0].lower() for r in rows(driver)]
        header.click()
        down = [r[0].lower() for r in rows(driver)]
        if up != sorted(up) or down != sorted(down, reverse=True) or len(up) != total:
            fail("sorting by host: %s / %s" % (up, down))
        driver.find_element("css selector", "th[data-sort=outcome]").click()

        # A machine's detail: its products and its results file.
        driver.find_element("css selector", "#machines tbody tr.machine").click()
        detail = driver.find_element("css selector", "#machines tr.detail").text
        if "Results file:" not in detail or "results.json" not in detail:
            fail("a machine's detail: %r" % detail)
        quiet_and_local(driver, url)
        driver.save_screenshot(screenshot)
        print("browser: headline %s as the inputs hold; filters, sorting, detail and a hostile "
              "host name checked; no request, no console message" %
              ", ".join("%s %d" % kv for kv in sorted(shown.items())))
    finally:
        driver.quit()
        import shutil
        shutil.rmtree(profile, ignore_errors=True)


# ---- a large fleet ----

def generate(folder, count):
    """count realistic results files: five products each, a mix of outcomes and refusals."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    now = int(time.time())
    names = [("VELT", "DRXA", "21.4.0"), ("VELT", "PLMX", "9.1"), ("QX", "QXPR", "12.0.3"),
             ("VELT", "TRNA", "3.0"), ("QX", "QXED", "7.2")]

    def product(i, family, sap, version, outcome):
        code = {"removed": 0, "notFound": 33, "failed": (7 if i % 3 else -1073741819)}.get(outcome)
        return {"family": family, "SapCode": sap, "Version": version, "Platform": "win64",
                "BaseVersion": version if family == "QX" else "", "outcome": outcome,
                "exitCode": code, "launchResult": None if code is None else "ok",
                "timedOut": False, "seconds": 12.5 + i % 40}
    for i in range(count):
        kind = i % 50
        refusal = {7: "notAdministrator", 19: "configUnloadable", 31: "anotherInstance"}.get(kind)
        outcomes = ["removed", "notFound", "removed", "ignored", "removed"]
        if kind in (3, 11, 23):
            outcomes[i % 5] = "failed"
        if refusal:
            outcomes = ["notAttempted"] * 5
        start = now - 86400 - (i % 1000) * 60
        doc = {"formatVersion": 1, "program": "Velkaro", "programVersion": "2.2.0.8",
               "startTime": iso(start), "endTime": iso(start + 300),
               "hostName": "PC-%06d" % i, "configPath": "C:\\Deploy\\RemoveSuite.xml",
               "exitCode": 1 if refusal else 2 if "failed" in outcomes else 0,
               "refusal": refusal, "stopRequest": None, "setupProgramsLocated": not refusal,
               "setupPrograms": {"VELT": "C:\\Program Files\\Common Files\\Quenda\\ZOKA\\Plimm\\DrexCore\\Setup.exe",
                                 "QX": None},
               "products": [product(i, *n, o) for n, o in zip(names, outcomes)]}
        (folder / ("PC-%06d.json" % i)).write_text(json.dumps(doc, indent=2), encoding="utf-8")


def check_big_page(page, count):
    driver, profile = browser()
    try:
        url, opened = open_page(driver, page)
        total = driver.find_element("id", "match-count").text
        if total != "%d of %d machines" % (count, count):
            fail("the large page shows %r" % total)
        # Typing into the filter: the time from the input event to the rows drawn.
        filtered = driver.execute_script(
            "var b = document.getElementById('filter-host'), t = performance.now();"
            "b.value = 'pc-0999'; b.dispatchEvent(new Event('input'));"
            "return performance.now() - t;") / 1000
        got = driver.find_element("id", "match-count").text
        if got != "100 of %d machines" % count and count >= 100000:
            fail("filtering the large page shows %r" % got)
        # Sorting every machine, then the outcome filter over all of them.
        sorted_s = driver.execute_script(
            "var b = document.getElementById('filter-host'); b.value = '';"
            "b.dispatchEvent(new Event('input'));"
            "var t = performance.now(); document.querySelector('th[data-sort=end]').click();"
            "return performance.now() - t;") / 1000
        outcome_s = driver.execute_script(
            "var s = document.getElementById('filter-outcome'), t = performance.now();"
            "s.value = 'failed'; s.dispatchEvent(new Event('change'));"
            "return performance.now() - t;") / 1000
        failed = driver.find_element("id", "match-count").text
        if not failed.endswith(" of %d machines" % count) or failed.startswith("0 "):
            fail("the outcome filter on the large page shows %r" % failed)
        quiet_and_local(driver, url)
        size = Path(page).stat().st_size / 1e6
        print("large page: %d machines, %.1f MB; opened in %.2f s, host filter %.3f s, "
              "sorting all %.3f s, outcome filter %.3f s (%s)" %
              (count, size, opened, filtered, sorted_s, outcome_s, failed))
        if opened > 10 or max(filtered, sorted_s, outcome_s) > 2:
            fail("the large page is too slow")
    finally:
        driver.quit()
        import shutil
        shutil.rmtree(profile, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        fail(__doc__)
    command, args = sys.argv[1], sys.argv[2:]
    if command == "schema":
        check_schema(args[0], args[1:])
    elif command == "fleet":
        lay_out_fleet(*args)
    elif command == "browser":
        check_browser(*args)
    elif command == "big":
        generate(args[0], int(args[1]))
    elif command == "bigpage":
        check_big_page(args[0], int(args[1]))
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()
