#!/usr/bin/env bash
# Builds the Windows release: the shipping i686 program (and the x86_64 one) and the i686 fleet
# report, stripped, signed when a certificate and key are given, in a zip with the sample
# configuration, both schemas, the README, the deployment guide's fleet section as DEPLOYING.txt,
# the Ansible playbooks and SHA-256 checksums.
#
#   bash tools/release.sh [--cert <cert.pem> --key <key.pem> [--pass <file>]] [--out <folder>]
#                         [--timestamp <url>]
#
# The archive is <folder>/Velkaro-<version>.zip (default folder: build/release), with its own
# checksum beside it in Velkaro-<version>.zip.sha256. Signing uses osslsigncode (SHA-256
# Authenticode); a timestamp server is contacted only when --timestamp names one.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

cert="" key="" pass="" out="$repo/build/release" timestamp=""
while (($#)); do
    case $1 in
        --cert) cert=$(realpath "$2"); shift 2 ;;
        --key) key=$(realpath "$2"); shift 2 ;;
        --pass) pass=$(realpath "$2"); shift 2 ;;
        --out) out=$(realpath -m "$2"); shift 2 ;;
        --timestamp) timestamp=$2; shift 2 ;;
        *) echo "release.sh: unknown argument: $1" >&2; exit 1 ;;
    esac
done
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
    echo "release.sh: --cert and --key go together" >&2
    exit 1
fi

source tools/deps.sh
velkaro_install_deps

# Only the program is built: the presets' test programs are not part of a release. After
# tools/test.sh nothing is rebuilt, so the archive ships the i686 program that its suite tested.
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target Velkaro
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
[ -n "$version" ] || { echo "release.sh: no project version in build/win32" >&2; exit 1; }

name="Velkaro-$version"
mkdir -p "$out"
stage=$(mktemp -d "$out/.stage-XXXXXX")
trap 'rm -rf "$stage"' EXIT
dir="$stage/$name"
mkdir -p "$dir/x64"

# The link time in a program's PE header (seconds since 1970).
pe_time() {
    python3 -c 'import struct, sys
image = open(sys.argv[1], "rb").read()
print(struct.unpack_from("<I", image, struct.unpack_from("<I", image, 0x3C)[0] + 8)[0])' "$1"
}

# strip program destination
ship() {
    # strip writes the current time into the header unless given one: the program keeps its link
    # time, so the release is the same bytes from the same build whenever it is made.
    SOURCE_DATE_EPOCH=$(pe_time "$2") "$1" --strip-all -o "$3" "$2"
    if [ -n "$cert" ]; then
        local args=(sign -certs "$cert" -key "$key" -h sha256 -n "Velkaro $version"
            -in "$3" -out "$3.signed")
        [ -z "$pass" ] || args+=(-readpass "$pass")
        [ -z "$timestamp" ] || args+=(-ts "$timestamp")
        osslsigncode "${args[@]}" >/dev/null
        mv "$3.signed" "$3"
    fi
}
ship i686-w64-mingw32-strip build/win32/bin/Velkaro.exe "$dir/Velkaro.exe"
ship x86_64-w64-mingw32-strip build/win64/bin/Velkaro.exe "$dir/x64/Velkaro.exe"
# The fleet report for a management machine reading a share, and the format it reads.
ship i686-w64-mingw32-strip build/win32/bin/VelkaroReport.exe "$dir/VelkaroReport.exe"
cp tools/demo/VelkaroConfig.xml VelkaroConfig.xsd VelkaroResult.schema.json README.md "$dir/"
mkdir -p "$dir/deploy/ansible"
cp deploy/ansible/velkaro_windows.yml deploy/ansible/velkaro_linux.yml "$dir/deploy/ansible/"
# The fleet section as text with Windows line ends, for administrators without a Markdown viewer.
sed -n '/^## Deploying to many machines$/,/^## /p' docs/deploying.md | sed '$d' | sed 's/$/\r/' \
    >"$dir/DEPLOYING.txt"
[ -s "$dir/DEPLOYING.txt" ] || { echo "release.sh: no fleet section in docs/deploying.md" >&2; exit 1; }

(cd "$dir" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort |
    xargs -d '\n' sha256sum >SHA256SUMS)
rm -f "$out/$name.zip"
(cd "$stage" && TZ=UTC zip -q -X -r "$out/$name.zip" "$name")
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256")

echo "$out/$name.zip"
if [ -n "$cert" ]; then echo "signed with $cert"; else echo "not signed (no --cert/--key)"; fi
