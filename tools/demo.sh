#!/usr/bin/env bash
# Sets up what is missing and builds the program (the demonstration run arrives with the program).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
velkaro_install_deps
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
