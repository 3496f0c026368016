#!/usr/bin/python3
"""Fails Velkaro's system calls one at a time, called by tools/check_faults.sh.

  fault_check.py <bin folder> [--case=CALL:POSITION[+]:ERRNO[:children]] [--most=N]
                 [--jobs=N]

A scene of its own for every run: a configuration with VELT and QX products, stand-in setup
programs that answer "removed" and "not installed" (one of them after a short wait, so that the
wait for a child is a real one), a run folder left by a killed run, a private temporary folder,
and --resultFile in a 0700 folder of root's where an older run's results file already stands.

A first run under strace counts each system call of the list below; then every position of
each call fails in turn (error=ERRNO:when=N), and every write from a position on fails with
ENOSPC (when=N+, a full disk). Only Velkaro is traced, not its setup programs: without -f,
strace neither follows the clone(CLONE_VM|CLONE_VFORK) child nor counts its calls, and a
failed clone is the parent's own. The child's few calls between clone and exec, on memory it
shares with Velkaro, have a series of their own (":children", with -f): each fails the first
time in every child, so that no setup program starts.
Positions the dynamic loader takes before the program's code runs (a library that cannot be
opened ends every program the same way) are left out.

What each run must hold:
  - it ends on its own within the time limit, and not by a signal, with no sanitizer report;
  - exit code 0 only when every product was handed to its setup program: the stand-in's
    journal has its parameter file, read whole, naming the product;
  - the results file, where there is one, is whole JSON, with no temporary file left beside
    it. State "finished": its exitCode is the process's. State "running" once the process has
    ended claims a run that is over to be under way: it passes only when the run could not
    write at all, that is on a full disk whose failed writes the trace shows on the results
    file. One failed call is a passing fault, which must not decide what the file says;
  - once a setup program was started, the file at the path is never the older run's (its
    processId and startTime), only this run's or none;
  - a product the results file calls removed or not found was given to its setup program;
  - a run folder left in the temporary folder still holds its owner file, so that the next
    run finds and removes it;
  - the exit line "Velkaro exiting with Return Code (N)", N the exit code, is the console's
    last line, unless the write of that very line was the one that failed.

--case runs one case and keeps its folder: the reproduction command a failure prints.
"""
import concurrent.futures
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import NamedTuple

COUNTERS = os.environ.get("VELKARO_FAULTS_COUNTERS")

# Each call with the errors it fails with: what the call returns when a disk, the kernel's
# limits or a signal get in the way. newfstatat is the call that tells what exists: a place
# that cannot be examined once passed a setup program over as not installed.
CALLS = [
    ("openat", ["EACCES", "EMFILE"]), ("open", ["EACCES"]), ("read", ["EIO"]),
    ("write", ["EIO"]), ("fsync", ["EIO"]), ("rename", ["EACCES"]), ("renameat", ["EACCES"]),
    ("renameat2", ["EACCES"]), ("mkdir", ["EACCES"]), ("mkdirat", ["EACCES"]),
    ("unlink", ["EACCES"]), ("unlinkat", ["EACCES"]), ("rmdir", ["EACCES"]),
    ("clone", ["EAGAIN"]), ("clone3", ["EAGAIN"]), ("pidfd_open", ["EMFILE"]),
    ("poll", ["EINTR"]), ("wait4", ["EINTR"]), ("fcntl", ["EINVAL"]),
    ("flock", ["EINTR", "ENOLCK"]), ("getdents64", ["EIO"]), ("close", ["EIO"]),
    ("getrandom", ["ENOSYS"]), ("newfstatat", ["EACCES"]),
]
FULL_DISK = ("write", "ENOSPC")
# The calls of the started child between clone and exec, on its own memory-sharing stack: each
# fails the first time in every child (-f counts per process), so that no setup program starts.
CHILD_CALLS = [("setpgid", "EPERM"), ("prctl", "EINVAL"), ("chdir", "EACCES"),
               ("close_range", "ENOSYS"), ("execve", "EACCES")]
LOADER_DONE = "set_tid_address"

PRODUCTS = [("VELT", "DRXA", "21.4.0", "win64", "0"), ("VELT", "KLIN", "7.1", "win32", "33"),
            ("QX", "QXPR", "12.0.3", "win64", "130"), ("QX", "QXTY", "3.2.1", "win64", "135")]
EXIT_LINE = re.compile(r"^Velkaro exiting with Return Code \((-?\d+)\)$")
RUN_FOLDER = re.compile(r"^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$")
RUN_TIMEOUT = 60
OLD_PROCESS_ID = 1
OLD_START = "2020-01-01T00:00:00Z"


def velt_product(sap, version, platform):
    return (f"<Product><SapCode>{sap}</SapCode><Version>{version}</Version>"
            f"<Platform>{platform}</Platform><DeploymentUninstall><Deployment><Payloads>"
            f"<Payload><SapCode>{sap}</SapCode><Version>{version}</Version></Payload>"
            f"</Payloads></Deployment></DeploymentUninstall></Product>")


def qx_product(sap, version, platform):
    base = ".".join(version.split(".")[:2])
    return (f"<Product><SapCode>{sap}</SapCode><Version>{version}</Version>"
            f"<Platform>{platform}</Platform><BaseVersion>{base}</BaseVersion></Product>")


def rules(family):
    return ";".join(f"<SapCode>{sap}</SapCode>={code}"
                    for fam, sap, _, _, code in PRODUCTS if fam == family)


class Scene:
    """The parts every run shares (programs, configuration) and the ones each run owns."""

    def __init__(self, root, bin_folder, private_lock):
        self.root = root
        self.velkaro = str(bin_folder / "Velkaro")
        self.private_lock = private_lock
        self.common = root / "common"
        self.programs = root / "programs"
        for folder, family, extra in (
                (self.common / "Quenda/ZOKA/Plimm/DrexCore", "VELT", ""),
                (self.programs / "Quenda/Quenda Loomwork/QXCore", "QX", "STANDIN_SLEEP_MS=40\n")):
            folder.mkdir(parents=True)
            shutil.copy(bin_folder / "standin_setup", folder / "Setup.exe")
            (folder / "Setup.exe.cfg").write_text(f"STANDIN_RULES={rules(family)}\n{extra}")
        velt = "".join(velt_product(*p[1:4]) for p in PRODUCTS if p[0] == "VELT")
        qx = "".join(qx_product(*p[1:4]) for p in PRODUCTS if p[0] == "QX")
        self.config = root / "VelkaroConfig.xml"
        self.config.write_text(
            '<?xml version="1.0" encoding="UTF-8"?>\n<ZephUninstallXML><UninstallInfo>'
            f"<VELT><Products>{velt}</Products></VELT><QX><Products>{qx}</Products></QX>"
            "</UninstallInfo></ZephUninstallXML>\n")

    def prepare(self, name):
        """A run's own folders: temporary folder with a killed run's folder, results folder
        with the older run's file, the journal the stand-ins append to."""
        run = self.root / name
        temp = run / "tmp"
        results = run / "results"
        for folder in (run, temp, results):
            folder.mkdir(mode=0o700)
        stale = temp / "{0B1E5C3A-77D2-4C1B-9A6E-5F0C2D3E4A10}"
        stale.mkdir(mode=0o700)
        # Process 1 runs, but it did not start at tick 1: the folder's owner is gone.
        (stale / "Velkaro.owner").write_text("Velkaro 1 1\n")
        (stale / "{6D2A9C41-0E3B-4F7A-8C15-2B9E4D6F1A03}").write_text("<Deployment/>\n")
        older = {"formatVersion": 1, "program": "Velkaro", "programVersion": "2.2.0.7",
                 "state": "finished", "startTime": OLD_START, "endTime": OLD_START,
                 "hostName": "older", "processId": OLD_PROCESS_ID, "exitCode": 0,
                 "refusal": None, "products": []}
        (results / "results.json").write_text(json.dumps(older, indent=2) + "\n")
        return run

    def command(self, run, strace_options):
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "TMPDIR": str(run / "tmp"),
               "CommonProgramFiles": str(self.common), "ProgramFiles": str(self.programs),
               "STANDIN_JOURNAL": str(run / "journal.txt")}
        # A coverage build's counters (tools/coverage.sh): each run's in a folder of its own,
        # since a failed write may leave them unreadable.
        if COUNTERS:
            env["GCOV_PREFIX"] = os.path.join(COUNTERS, run.name)
        velkaro = [self.velkaro, f"--uninstallConfigPath={self.config}",
                   f"--resultFile={run / 'results' / 'results.json'}", "--setupTimeout=60"]
        traced = ["strace", "-o", str(run / "trace.txt"), "-y", "-s", "120"] + strace_options
        traced += ["--"] + velkaro
        if self.private_lock:
            # The single-instance lock lives in /run/velkaro: each run gets one of its own, so
            # that runs side by side never meet as "another instance".
            traced = ["unshare", "-m", "--propagation", "private", "sh", "-c",
                      'mount -t tmpfs -o mode=0700 none /run/velkaro && exec "$@"', "sh"] + traced
        return env, traced


def execute(scene, run, strace_options):
    env, command = scene.command(run, strace_options)
    with open(run / "console.txt", "wb") as console:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=console,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            process.wait(timeout=RUN_TIMEOUT)
            return False
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, 9)
            process.wait()
            return True


class Case(NamedTuple):
    call: str
    position: int
    onward: bool  # every call from the position on fails
    error: str
    children: bool  # the started children's calls fail, not Velkaro's own


def ending(trace_lines):
    """Velkaro's end from strace's lines: ("exit", code) or ("signal", name). With -f each line
    starts with its process id, Velkaro's being the first line's."""
    first = re.match(r"^(\d+)\s", trace_lines[0]) if trace_lines else None
    for line in reversed(trace_lines):
        if first:
            prefixed = re.match(r"^(\d+)\s+(.*)$", line)
            if not prefixed or prefixed.group(1) != first.group(1):
                continue
            line = prefixed.group(2)
        match = re.match(r"^\+\+\+ exited with (\d+) \+\+\+$", line)
        if match:
            return "exit", int(match.group(1))
        match = re.match(r"^\+\+\+ killed by (\w+)", line)
        if match:
            return "signal", match.group(1)
    return None, None


def journal_products(path):
    """The SapCodes whose parameter file a stand-in read whole."""
    handed = set()
    if not path.exists():
        return handed
    record = {}
    for line in path.read_text(errors="replace").splitlines():
        key, _, value = line.partition("=")
        if key == "record" and value == "begin":
            record = {}
        elif key == "record" and value == "end":
            if record.get("param_status") == "ok" and "rule" in record:
                text = bytes.fromhex(record.get("param_hex", "")).decode("utf-8", "replace")
                for _, sap, _, _, _ in PRODUCTS:
                    if f"<SapCode>{sap}</SapCode>" in text:
                        handed.add(sap)
        else:
            record[key] = value
    return handed


def injected_calls(trace_lines):
    """The injected failures: (call, descriptor text, data) for each."""
    found = []
    for line in trace_lines:
        if "(INJECTED)" in line:
            match = re.match(r"^(?:\d+\s+)?(\w+)\((\d+<[^>]*>|[^,)]*)(?:, \"(.*?)\")?", line)
            if match:
                found.append((match.group(1), match.group(2), match.group(3) or ""))
    return found


def check(run, timed_out, onward=False, seen=None):
    """Every violation of the run, as texts; `seen` gathers the exit code and the results
    file's state for the closing tally."""
    seen = {} if seen is None else seen
    if timed_out:
        return [f"did not end within {RUN_TIMEOUT} s"]
    trace = (run / "trace.txt").read_text(errors="replace").splitlines()
    console = (run / "console.txt").read_bytes().decode("utf-8", "replace")
    problems = []
    kind, code = ending(trace)
    if kind is None:
        return ["strace left no end of the process (see trace.txt)"]
    if kind == "signal":
        return [f"ended by {code}"]
    seen["exit"] = code
    for word in ("AddressSanitizer", "UndefinedBehaviorSanitizer", "LeakSanitizer",
                 "runtime error:", "terminate called"):
        if word in console:
            problems.append(f"the console has a report: {word}")
    injected = injected_calls(trace)
    console_failed = [data for call, fd, data in injected
                      if call == "write" and re.match(r"^[12]<", fd)]

    handed = journal_products(run / "journal.txt")
    missing = [sap for _, sap, _, _, _ in PRODUCTS if sap not in handed]
    if code == 0 and missing:
        problems.append("exit code 0, but no setup program was given " + ", ".join(missing))

    results = run / "results" / "results.json"
    left = sorted(p.name for p in results.parent.iterdir() if p.name.endswith(".tmp"))
    if left:
        problems.append("temporary files left beside the results file: " + ", ".join(left))
    seen["results"] = "none"
    if results.exists():
        try:
            document = json.loads(results.read_text())
        except (ValueError, UnicodeDecodeError) as error:
            document = None
            problems.append(f"the results file is not whole JSON ({error})")
        if isinstance(document, dict):
            older = (document.get("processId") == OLD_PROCESS_ID and
                     document.get("startTime") == OLD_START)
            seen["results"] = "older run's" if older else str(document.get("state"))
            entries = [] if older else document.get("products") or []
            for entry in entries:
                if (isinstance(entry, dict) and entry.get("outcome") in ("removed", "notFound")
                        and entry.get("SapCode") not in handed):
                    problems.append(f"the results file says {entry.get('SapCode')} is "
                                    f"{entry.get('outcome')}, but no setup program was given it")
            if older:
                if handed:
                    problems.append("setup programs ran, but the older run's results file "
                                    "is still at the path")
            elif document.get("state") == "finished":
                if document.get("exitCode") != code:
                    problems.append(f"the results file says exitCode {document.get('exitCode')}"
                                    f", the process ended with {code}")
            elif document.get("state") == "running":
                full_disk = any("results.json" in fd for call, fd, _ in injected
                                if call == "write")
                if not (onward and full_disk):
                    problems.append("the results file still says \"running\" after the process "
                                    "ended" + ("" if onward else ", though only one call failed"))
            else:
                problems.append(f"the results file has the state {document.get('state')!r}")
    # A run folder that stays must say whose it is, or no later run ever removes it.
    for folder in (run / "tmp").iterdir():
        if RUN_FOLDER.match(folder.name) and not (folder / "Velkaro.owner").exists():
            problems.append(f"the run folder {folder.name} stays without its owner file")
    # A coverage build's complaints about its counters are not the program's.
    lines = [line for line in console.split("\n")
             if line != "" and not (COUNTERS and re.match(r"(libgcov )?profiling", line))]
    exit_line_lost = any(EXIT_LINE.match(data.replace("\\n", "")) for data in console_failed)
    if not exit_line_lost:
        last = lines[-1] if lines else ""
        match = EXIT_LINE.match(last)
        if not match:
            problems.append(f"the console's last line is not the exit line: {last!r}")
        elif int(match.group(1)) != code:
            problems.append(f"the exit line says {match.group(1)}, the exit code is {code}")
    return problems


def count_calls(scene):
    """Each listed call's count in a run without faults, and how many the loader made first."""
    run = scene.prepare("count")
    names = sorted({name for name, _ in CALLS} | {LOADER_DONE})
    timed_out = execute(scene, run, ["-e", "trace=" + ",".join(names)])
    problems = check(run, timed_out)
    kind, code = ending((run / "trace.txt").read_text().splitlines())
    if problems or code != 0:
        sys.exit("fault check: the run without faults fails (" + "; ".join(problems) +
                 f"; exit {code}), see {run}")
    counts, before_loader_done = {}, {}
    loader_done = False
    for line in (run / "trace.txt").read_text().splitlines():
        name = line.split("(", 1)[0]
        if name == LOADER_DONE:
            loader_done = True
        elif name in names:
            counts[name] = counts.get(name, 0) + 1
            if not loader_done:
                before_loader_done[name] = before_loader_done.get(name, 0) + 1
    return counts, before_loader_done


def spread(first, last, most):
    """Positions first..last, at most `most` of them spread evenly, both ends included."""
    span = last - first + 1
    if span <= most:
        return list(range(first, last + 1))
    return sorted({first + round(i * (span - 1) / (most - 1)) for i in range(most)})


def cases(counts, before, most):
    listed = []
    for name, errors in CALLS + [FULL_DISK]:
        total = counts.get(name, 0)
        first = before.get(name, 0) + 1
        if total < first:
            continue
        onward = (name, errors) == FULL_DISK
        for error in ([errors] if onward else errors):
            for position in spread(first, total, most):
                listed.append(Case(name, position, onward, error, False))
    listed += [Case(name, 1, False, error, True) for name, error in CHILD_CALLS]
    return listed


def case_text(case):
    return (f"{case.call}:{case.position}{'+' if case.onward else ''}:{case.error}"
            f"{':children' if case.children else ''}")


def parse_case(text):
    match = re.match(r"^(\w+):(\d+)(\+?):(\w+)(:children)?$", text)
    if not match:
        sys.exit(f"fault check: a case is CALL:POSITION[+]:ERRNO[:children], not {text!r}")
    return Case(match.group(1), int(match.group(2)), match.group(3) == "+", match.group(4),
                match.group(5) is not None)


def run_case(scene, index, case):
    run = scene.prepare(f"run-{index}")
    when = f"{case.position}{'+' if case.onward else ''}"
    # Following the children also traces the setup programs; the filter keeps their other
    # calls from stopping at all.
    follow = ["-f", "--seccomp-bpf"] if case.children else []
    timed_out = execute(scene, run, follow + [
        "-e", f"trace={case.call},write",
        "-e", f"inject={case.call}:error={case.error}:when={when}"])
    seen = {}
    return case, run, check(run, timed_out, case.onward, seen), seen


def tally(values):
    counted = {}
    for value in values:
        if value is not None:
            counted[value] = counted.get(value, 0) + 1
    return ", ".join(f"{key} {counted[key]}" for key in sorted(counted, key=str))


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    bin_folder = Path(args[0]).resolve()
    # Runs wait for their setup programs much of the time: two per processor keep it busy.
    only, most, jobs = None, 300, 2 * (os.cpu_count() or 1)
    for arg in args[1:]:
        if arg.startswith("--case="):
            only = parse_case(arg[len("--case="):])
        elif arg.startswith("--most="):
            most = max(2, int(arg[len("--most="):]))
        elif arg.startswith("--jobs="):
            jobs = max(1, int(arg[len("--jobs="):]))
        else:
            sys.exit(f"fault check: unknown argument {arg!r}")
    private_lock = subprocess.run(["unshare", "-m", "--propagation", "private", "true"],
                                  stderr=subprocess.DEVNULL).returncode == 0
    if not private_lock:
        # Without a namespace of its own every run takes the machine's single-instance lock.
        jobs = 1
    root = Path(tempfile.mkdtemp(prefix="velkaro-faults-"))
    scene = Scene(root, bin_folder, private_lock)

    if only is not None:
        case, run, problems, _ = run_case(scene, 0, only)
        print((run / "console.txt").read_text(errors="replace"), end="")
        print(f"\ncase {case_text(case)}: " + ("; ".join(problems) if problems else "holds"))
        print(f"kept: {run} (console.txt, trace.txt, journal.txt, results/, tmp/)")
        sys.exit(1 if problems else 0)

    started = time.monotonic()
    counts, before = count_calls(scene)
    listed = cases(counts, before, most)
    print("calls in a run without faults (after the loader's): " +
          ", ".join(f"{name} {counts[name] - before.get(name, 0)}" for name in sorted(counts)))
    failures, seen = [], []
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(run_case, scene, i, case) for i, case in enumerate(listed)]
        for future in concurrent.futures.as_completed(futures):
            case, run, problems, outcome = future.result()
            seen.append(outcome)
            if problems:
                failures.append((case, run, problems))
            else:
                shutil.rmtree(run, ignore_errors=True)
    seconds = time.monotonic() - started
    me = shlex.quote(os.path.relpath(Path(__file__).with_name("check_faults.sh")))
    for case, run, problems in sorted(failures):
        print(f"FAILED {case_text(case)}: " + "; ".join(problems))
        print(f"    reproduce: bash {me} --case={case_text(case)}    (kept: {run})")
    print("exit codes: " + tally(s.get("exit") for s in seen) +
          "; results file afterwards: " + tally(s.get("results") for s in seen))
    print(f"fault injection: {len(listed)} runs, {len(failures)} failed, {seconds:.0f} s "
          f"({jobs} at a time{', private lock folders' if private_lock else ''})")
    if not failures:
        shutil.rmtree(root, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
