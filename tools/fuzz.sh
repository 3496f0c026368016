#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset `fuzz`: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one on its seed corpus with its dictionary.
#
#   tools/fuzz.sh [seconds per harness, default 600] [harness ...]
#
# Harnesses: config_loader xml_query option_parser command_line format unicode (default: all).
# The inputs a run finds grow build/fuzz/corpus/<harness>; a crash leaves its input in
# build/fuzz/artifacts/ and fails the command. Copy such an input into fuzz/corpus/<harness>/
# once it is fixed, so every later run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
(($# > 0)) && shift
all=(config_loader xml_query option_parser command_line format unicode result_reader)
names=("$@")
((${#names[@]})) || names=("${all[@]}")

declare -A dictionary=([config_loader]=xml [xml_query]=xml [option_parser]=options
    [command_line]=command_line [format]=format [unicode]=unicode [result_reader]=result)

targets=()
for name in "${names[@]}"; do
    [ -n "${dictionary[$name]:-}" ] || { echo "unknown harness: $name" >&2; exit 2; }
    targets+=("fuzz_$name")
done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"

out=build/fuzz
mkdir -p "$out/artifacts"
status=0
for name in "${names[@]}"; do
    printf '\n---- fuzz_%s: %s s ----\n' "$name" "$seconds"
    mkdir -p "$out/corpus/$name"
    # A private temporary folder for what the code under test writes; removed afterwards.
    scratch=$(mktemp -d "$PWD/$out/tmp-$name-XXXXXX")
    if ! TMPDIR="$scratch" "$out/bin/fuzz_$name" -max_total_time="$seconds" -timeout=20 \
        -print_final_stats=1 -dict="fuzz/${dictionary[$name]}.dict" \
        -artifact_prefix="$out/artifacts/$name-" "$out/corpus/$name" "fuzz/corpus/$name" \
        2>"$out/$name.log"; then
        status=1
        tail -n 40 "$out/$name.log"
    fi
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$out/$name.log" ||
        true
    grep -E 'cov: [0-9]+' "$out/$name.log" | tail -n 1 || true
    rm -rf "$scratch"
done
exit $status
