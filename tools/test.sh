#!/usr/bin/env bash
# Installs what is missing (Debian 12), then builds and tests every configuration:
#   native, native under ASan+UBSan, Windows x86_64 under Wine, and the i686 shipping build;
#   then runs every fuzzing harness for a short time.
# Runs as root (through sudo when started by another user). Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
velkaro_as_root "$(pwd)/tools/test.sh" "$@"
velkaro_install_deps

jobs=$(nproc)
step() { printf '\n==== %s ====\n' "$*"; }
# GoogleTest's closing summary from the log CTest keeps: the counts, then every skipped and
# every failed test by name (a skipped test's reason is in the full log).
cases() {
    local log="build/$1/Testing/Temporary/LastTest.log"
    [ -f "$log" ] || return 0
    sed -n '/^\[==========\] [0-9]* tests\{0,1\} from .* ran\./,$p' "$log" |
        grep -E '^\[  (PASSED|SKIPPED|FAILED) +\] ' || true
}
# Builds and tests one preset; the summary is printed whether the tests pass or not.
build_and_test() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "$jobs"
    [ "$1" != win64 ] || velkaro_wine_prefix build/win64/wineprefix
    local status=0
    ctest --preset "$1" || status=$?
    cases "$1"
    return "$status"
}

step "configuration schema"
bash tools/check_schema.sh

step "native: build and test"
# The results files the end-to-end runs write are kept for the fleet report's schema check.
kept_results="$(pwd)/build/native/results-kept"
rm -rf "$kept_results" && mkdir -p "$kept_results"
VELKARO_KEEP_RESULTS="$kept_results" build_and_test native

step "Ansible: the Linux playbook against this machine"
bash tools/check_ansible.sh

step "native under AddressSanitizer and UndefinedBehaviorSanitizer"
build_and_test asan

step "Windows x86_64 under Wine"
build_and_test win64

step "fleet report: schema, browser checks, Wine, a 100,000-machine page"
VELKARO_KEEP_RESULTS="$kept_results" bash tools/check_report.sh

step "Windows i686 (shipping build, not run)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

step "Windows release: archive, signature, checksums, version resource"
bash tools/check_release.sh

# Each libFuzzer harness replays its corpus and fuzzes briefly: a harness that stops building
# or a crash that comes back fails the run. tools/fuzz.sh alone runs them for longer.
fuzz_seconds=${VELKARO_FUZZ_SECONDS:-20}
step "fuzzing: each harness for $fuzz_seconds s"
bash tools/fuzz.sh "$fuzz_seconds"

step "all configurations passed"
