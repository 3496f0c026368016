#!/usr/bin/env bash
# Installs what is missing (Debian 12), then builds and tests every configuration:
#   native (then under strace, failing each of its system calls in turn), native under
#   ASan+UBSan, Windows x86_64 under Wine, and the i686 shipping build under 32-bit Wine (where
#   the kernel runs 32-bit programs); builds and checks the release and the Debian package, and
#   builds and tests again from a fresh clone under /tmp;
#   then runs every fuzzing harness for a short time.
# Runs as root (through sudo when started by another user). Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
velkaro_as_root "$(pwd)/tools/test.sh" "$@"
velkaro_install_deps

jobs=$(nproc)
# Every build goes through ccache, with paths taken below the tree's top and not by the build
# folder, so that the release check's fresh clone compiles little of its own.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1
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
    case $1 in win64 | win32) velkaro_wine_prefix "build/$1/wineprefix" ;; esac
    local status=0
    ctest --preset "$1" || status=$?
    cases "$1"
    return "$status"
}

step "configuration schema"
bash tools/check_schema.sh

step "documentation: the results file's fields, both programs' options, the links"
python3 tools/check_docs.py

step "native: build and test"
# The results files the end-to-end runs write are kept for the fleet report's schema check.
kept_results="$(pwd)/build/native/results-kept"
rm -rf "$kept_results" && mkdir -p "$kept_results"
VELKARO_KEEP_RESULTS="$kept_results" build_and_test native

step "native: a failure at every system call (strace)"
bash tools/check_faults.sh

step "Ansible: the Linux playbook against this machine"
bash tools/check_ansible.sh

step "native under AddressSanitizer and UndefinedBehaviorSanitizer"
build_and_test asan

step "Windows x86_64 under Wine"
build_and_test win64

step "fleet report: schema, browser checks, Wine, a 100,000-machine page"
VELKARO_KEEP_RESULTS="$kept_results" bash tools/check_report.sh

# The shipping i686 program runs its suite under 32-bit Wine in a 64-bit prefix (as 64-bit
# Windows runs it). The release check proves that the archive ships the binary tested here.
step "Windows i686 (the shipping build) under 32-bit Wine"
tested=build/win32/Velkaro.exe.tested.sha256
rm -f "$tested"
skip_i686=""
if ! velkaro_runs_32bit; then
    skip_i686="This kernel does not run 32-bit programs"
elif ! velkaro_install_wine32; then
    skip_i686="32-bit Wine could not be installed on this machine"
fi
if [ -z "$skip_i686" ]; then
    started=$SECONDS
    build_and_test win32
    sha256sum build/win32/bin/Velkaro.exe >"$tested"
    echo "i686 build and tests: $((SECONDS - started)) s"
else
    echo "$skip_i686: the i686 tests are skipped, the program is only built."
    cmake --preset win32 >/dev/null
    cmake --build --preset win32 -j "$jobs"
fi

step "release: archive, Debian package, signed checksums; the release and the native suite from a clone under /tmp"
bash tools/check_release.sh

# Each libFuzzer harness replays its corpus and fuzzes briefly: a harness that stops building
# or a crash that comes back fails the run. tools/fuzz.sh alone runs them for longer.
fuzz_seconds=${VELKARO_FUZZ_SECONDS:-20}
step "fuzzing: each harness for $fuzz_seconds s"
bash tools/fuzz.sh "$fuzz_seconds"

step "all configurations passed"
