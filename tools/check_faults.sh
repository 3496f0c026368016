#!/usr/bin/env bash
# Faults at every system call: runs the native Velkaro (build/native/bin) under strace, failing
# one system call at each position of a run in turn, and every write from a position on (a full
# disk), and checks that each run ends on its own, tells the truth in its exit code, its results
# file and its console. What each run must hold is in tools/fault_check.py's header.
#
#   bash tools/check_faults.sh                   every case (under two minutes on two cores)
#   bash tools/check_faults.sh --case=write:12:EIO    one case, its folder kept
#   bash tools/check_faults.sh --most=N --jobs=N  at most N positions per call and error (300);
#                                                 N runs side by side (two per processor)
#
# Runs as root, as Velkaro does. Each run gets a /run/velkaro of its own in a private mount
# namespace, so the check runs beside other instances and runs side by side; where namespaces
# are not allowed, the runs take the machine's folder one after another.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${VELKARO_FAULTS_BIN:-build/native/bin}
for program in Velkaro standin_setup; do
    [ -x "$bin/$program" ] || { echo "fault check: $bin/$program is not built" >&2; exit 1; }
done
command -v strace >/dev/null || { echo "fault check: strace is not installed" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "fault check: run it as root, as Velkaro runs" >&2; exit 1; }
# Some containers forbid tracing: like a kernel without 32-bit programs, that is said in one
# line and does not decide the test command.
if ! probe=$(strace -o /dev/null true 2>&1); then
    echo "strace cannot trace on this machine (${probe%%$'\n'*}): the fault check is skipped."
    exit 0
fi
# The mount point alone, made as Velkaro makes it: a folder only root may enter, so the runs
# outside the namespaces (the suites that follow) still find the lock folder they accept.
[ -d /run/velkaro ] || mkdir -m 0700 /run/velkaro
exec /usr/bin/python3 tools/fault_check.py "$bin" "$@"
