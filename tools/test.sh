#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), then builds and tests every configuration:
#   native, native under ASan+UBSan, Windows x86_64 under Wine, and the i686 shipping build;
#   then runs every fuzzing harness for a short time.
# Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
velkaro_install_deps

jobs=$(nproc)
step() { printf '\n==== %s ====\n' "$*"; }
# GoogleTest's own count of the cases that ran, from the log CTest keeps.
cases() { grep -h -E '^\[  (PASSED|SKIPPED|FAILED) +\] [0-9]+ tests?' "build/$1/Testing/Temporary/LastTest.log" || true; }

step "native: build and test"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native
cases native

step "native under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan
cases asan

step "Windows x86_64 under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"
velkaro_wine_prefix build/win64/wineprefix
ctest --preset win64
cases win64

step "Windows i686 (shipping build, not run)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

# Each libFuzzer harness replays its corpus and fuzzes briefly: a harness that stops building
# or a crash that comes back fails the run. tools/fuzz.sh alone runs them for longer.
fuzz_seconds=${VELKARO_FUZZ_SECONDS:-20}
step "fuzzing: each harness for $fuzz_seconds s"
bash tools/fuzz.sh "$fuzz_seconds"

step "all configurations passed"
