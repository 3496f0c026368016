#!/usr/bin/env bash
# Line and branch coverage of Velkaro's own code (app, config, engine, sysutil, support,
# logging, base) by the native test suite and the fault-injection check (at most 60 positions
# of each call), measured with gcov and reported by gcovr.
#
#   tools/coverage.sh            # build the `coverage` preset, run the tests, print the figures
#   VELKARO_COVERAGE_HTML=1 tools/coverage.sh   # also build/coverage/html/index.html
#
# Run it as root, as the test command is: some tests switch to another user.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
velkaro_install_deps

cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "$(nproc)"
# Counts from an earlier run would add up with this one.
find build/coverage -name '*.gcda' -delete
# A program run as another user cannot write its counters (it says so on standard error), so
# the test that checks that program's standard error is left out.
build/coverage/bin/velkaro_tests --gtest_brief=1 \
    --gtest_filter=-E2eRefusal.WithoutAdministratorRights ||
    echo "(some tests failed; coverage still reported)"

# The fault-injection check's runs count too (the error paths only a failing system call
# reaches). Each run keeps its counters in a folder of its own, merged in one by one: a run
# whose counters a failed write left unreadable is left out.
counters=$(mktemp -d /tmp/velkaro-counters-XXXXXX)
trap 'rm -rf "$counters"' EXIT
mkdir "$counters/all"
(cd build/coverage && find . -name '*.gcda' -exec cp --parents {} "$counters/all/" \;)
VELKARO_FAULTS_COUNTERS="$counters" VELKARO_FAULTS_BIN=build/coverage/bin \
    bash tools/check_faults.sh --most=60 >"$counters/faults.txt" 2>&1 ||
    { tail -5 "$counters/faults.txt"; echo "(the fault check failed; coverage still reported)"; }
merged=0 unreadable=0
for run in "$counters"/run-*; do
    if gcov-tool merge -o "$counters/next" "$counters/all" "$run$(pwd)/build/coverage" \
        >/dev/null 2>&1; then
        rm -rf "$counters/all" && mv "$counters/next" "$counters/all"
        merged=$((merged + 1))
    else
        rm -rf "$counters/next"
        unreadable=$((unreadable + 1))
    fi
done
(cd "$counters/all" && find . -name '*.gcda' -exec cp --parents {} "$OLDPWD/build/coverage/" \;)
echo "Fault-injection runs counted: $merged ($unreadable left out, their counters unreadable)"

filter='(app|config|engine|sysutil|support|logging|base)/'
args=(--root . --object-directory build/coverage --filter "$filter"
    --exclude-directories 'build/coverage/CMakeFiles/[0-9.]+'
    --exclude-unreachable-branches --exclude-throw-branches build/coverage)
gcovr "${args[@]}" --sort-percentage -o build/coverage/coverage.txt
if [ -n "${VELKARO_COVERAGE_HTML:-}" ]; then
    mkdir -p build/coverage/html
    gcovr "${args[@]}" --html-details build/coverage/html/index.html
fi
echo "Per-file figures: build/coverage/coverage.txt"
gcovr "${args[@]}" --print-summary -o /dev/null
