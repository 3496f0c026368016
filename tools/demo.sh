#!/usr/bin/env bash
# The demonstration: installs what is missing, builds the native preset, lays out a machine of
# its own under build/demo/ (temporary folder, program-files roots with stand-in setup programs
# at the VELT and QX places, the sample configuration), runs Velkaro on it and shows the
# console, the exit code, the log and what each setup program was given.
#
# Velkaro refuses to run without administrator rights, which on Linux means root: started by
# another user, the script runs again through sudo (see velkaro_as_root in tools/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
source tools/deps.sh
velkaro_as_root "$repo/tools/demo.sh" "$@"
velkaro_install_deps

section() { printf '\n\033[1m==== %s ====\033[0m\n' "$*"; }

# VELKARO_DEMO_BUILD names another build folder (developers keep theirs apart from the preset's).
build=${VELKARO_DEMO_BUILD:-$repo/build/native}
section "Building ($build)"
if [ -n "${VELKARO_DEMO_BUILD:-}" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
else
    cmake --preset native >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target Velkaro standin_setup
bin="$build/bin"

# Everything the run creates stays in this folder.
mkdir -p build/demo
demo=$(mktemp -d "$repo/build/demo/run-$(date +%Y%m%d-%H%M%S)-XXXX")
temp="$demo/Temp"
common="$demo/Common Files"
programs="$demo/Program Files"
journal="$demo/setup-journal.txt"
mkdir -p "$temp" "$common" "$programs"

# The stand-in answers by the product named in its parameter file: VELT 0 removed, 33 not
# installed; QX 0 or 130 removed, 135 not installed; anything else is a failure. A product that
# no rule names gets 97, which no family reads as success.
place_setup() {  # folder rules
    mkdir -p "$1"
    cp "$bin/standin_setup" "$1/Setup.exe"
    printf 'STANDIN_JOURNAL=%s\nSTANDIN_RULES=%s\n' "$journal" "$2" \
        >"$1/Setup.exe.cfg"
}
place_setup "$common/Quenda/ZOKA/Plimm/DrexCore" \
    '<SapCode>DRXA</SapCode>=0;<SapCode>KLIN</SapCode>=33;<SapCode>MOVA</SapCode>=7'
place_setup "$programs/Quenda/Quenda Loomwork/QXCore" \
    '<SapCode>QXPR</SapCode>=130;<SapCode>QXTY</SapCode>=135;<SapCode>QXLM</SapCode>=1'
cp tools/demo/VelkaroConfig.xml "$demo/VelkaroConfig.xml"

section "The demonstration machine"
echo "folder:              $demo"
echo "temporary folder:    TMPDIR=$temp"
echo "common files:        CommonProgramFiles=$common"
echo "program files:       ProgramFiles=$programs"
echo "VELT setup program:  $common/Quenda/ZOKA/Plimm/DrexCore/Setup.exe"
echo "QX setup program:    $programs/Quenda/Quenda Loomwork/QXCore/Setup.exe (the fallback place)"
echo "configuration:       $demo/VelkaroConfig.xml (a copy of tools/demo/VelkaroConfig.xml)"

section "Running: Velkaro --uninstallConfigPath=$demo/VelkaroConfig.xml --resultFile=$demo/results.json"
set +e
TMPDIR="$temp" CommonProgramFiles="$common" ProgramFiles="$programs" \
    "$bin/Velkaro" "--uninstallConfigPath=$demo/VelkaroConfig.xml" \
    "--resultFile=$demo/results.json" 2>&1 | tee "$demo/console.txt"
code=${PIPESTATUS[0]}
set -e

section "Exit code"
echo "$code  (0 success, 1 refused or stopped before removing, 2 at least one removal failed)"

section "The log: $temp/Velkaro.log (UTF-16LE, shown as UTF-8)"
if [ -f "$temp/Velkaro.log" ]; then
    iconv -f UTF-16LE -t UTF-8 "$temp/Velkaro.log" | sed '1s/^\xEF\xBB\xBF//' | tr -d '\r' |
        tee "$demo/Velkaro.log.txt"
fi

section "The results file: $demo/results.json (what an endpoint manager's script reads)"
cat "$demo/results.json" 2>/dev/null || echo "(none written)"

decode() { printf '%b' "$(sed 's/\\/\\\\/g; s/%\([0-9A-F][0-9A-F]\)/\\x\1/g' <<<"$1")"; }

section "What the setup programs were given"
if [ -f "$journal" ]; then
    while IFS= read -r line; do
        key=${line%%=*}
        value=${line#*=}
        case $key in
            program) printf '\nsetup program: %s\n' "$(decode "$value")" ;;
            arg) printf '  argument:    %s\n' "$(decode "$value")" ;;
            param_hex)
                printf '  parameter file:\n'
                printf '%b' "$(sed 's/../\\x&/g' <<<"$value")" | sed 's/^/    /'
                echo ;;
            action) printf '  answered:    %s\n' "$value" ;;
        esac
    done <"$journal"
else
    echo "(no setup program was started)"
fi

section "Left in the temporary folder"
ls -A "$temp"
echo
echo "The run folder with the parameter files is gone; the logs stay. Everything of this"
echo "demonstration is in $demo"
