#!/usr/bin/env bash
# Line and branch coverage of Velkaro's own code (app, config, engine, sysutil, support,
# logging, base) by the native test suite, measured with gcov and reported by gcovr.
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
