#!/usr/bin/env bash
# Builds the release: the Windows archive (the shipping i686 program, the x86_64 one and the i686
# fleet report, stripped, signed when a certificate and key are given, with the sample
# configuration, both schemas, the README and the guides, docs/deploying.md as DEPLOYING.txt,
# the changelog, the Ansible playbooks and signed SHA-256 checksums) and the Debian package of the
# native programs (tools/deb.sh), from a fresh clone as from one the test command has built.
#
#   bash tools/release.sh [--cert <cert.pem> --key <key.pem> [--pass <file>]] [--out <folder>]
#                         [--timestamp <url>]
#
# In <folder> (default: build/release): Velkaro-<version>.zip, velkaro_<version>_<arch>.deb and
# SHA256SUMS, which lists both and every file in them (the archive's as it unpacks, the package's
# as it installs). Signing uses osslsigncode for the programs (SHA-256 Authenticode; a timestamp
# server is contacted only when --timestamp names one) and the same certificate and key for each
# SHA256SUMS, as a detached CMS signature beside it (SHA256SUMS.sig, DER), which
#   openssl cms -verify -binary -inform DER -in SHA256SUMS.sig -content SHA256SUMS \
#       -CAfile <the signer's CA or certificate> -purpose any -out /dev/null
# checks.
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

# Only the programs are built: the presets' test programs are not part of a release. After
# tools/test.sh nothing is rebuilt, so the archive ships the i686 program that its suite tested.
build() {  # preset target...
    local preset=$1
    shift
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target "$@"
}
build win32 Velkaro VelkaroReport
build win64 Velkaro
build native Velkaro VelkaroReport
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
cp tools/demo/VelkaroConfig.xml VelkaroConfig.xsd VelkaroResult.schema.json README.md \
    CHANGELOG.md "$dir/"
mkdir -p "$dir/deploy/ansible" "$dir/docs"
cp deploy/ansible/velkaro_windows.yml deploy/ansible/velkaro_linux.yml "$dir/deploy/ansible/"
# Every guide the README links to, so its links hold in the unpacked archive too.
cp docs/*.md docs/fleet-report.png "$dir/docs/"
# The deployment guide as text with Windows line ends, for administrators without a Markdown
# viewer.
sed 's/$/\r/' docs/deploying.md >"$dir/DEPLOYING.txt"

# A detached CMS signature of a checksum list, with the key and certificates that sign the
# programs, so that whoever trusts the programs' signer can trust the list. The certificates
# after the signer's in its file (a chain) go into the signature too, as osslsigncode puts them.
chain="$stage/chain.pem"
[ -z "$cert" ] || awk '/-----BEGIN CERTIFICATE-----/ { n++ } n > 1' "$cert" >"$chain"
sign_sums() {  # folder
    [ -n "$cert" ] || return 0
    local args=(cms -sign -binary -md sha256 -in "$1/SHA256SUMS" -signer "$cert" -inkey "$key"
        -outform DER -out "$1/SHA256SUMS.sig")
    [ ! -s "$chain" ] || args+=(-certfile "$chain")
    [ -z "$pass" ] || args+=(-passin "file:$pass")
    openssl "${args[@]}"
}
(cd "$dir" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort |
    xargs -d '\n' sha256sum >SHA256SUMS)
sign_sums "$dir"
rm -f "$out/$name.zip" "$out/SHA256SUMS" "$out/SHA256SUMS.sig"
(cd "$stage" && TZ=UTC zip -q -X -r "$out/$name.zip" "$name")

# The package of the native programs, for Linux machines and Ansible controllers.
deb=$(bash tools/deb.sh build/native "$out")
mkdir "$stage/deb"
dpkg-deb -x "$deb" "$stage/deb"

# One list for everything released: the two downloads, the archive's files as it unpacks beside
# them and the package's files where it installs them (sha256sum -c --ignore-missing checks
# whichever of them are there).
{
    (cd "$out" && sha256sum "$name.zip" "$(basename "$deb")")
    (cd "$stage" && find "$name" -type f | LC_ALL=C sort | xargs -d '\n' sha256sum)
    (cd "$stage/deb" && find . -type f | LC_ALL=C sort | xargs -d '\n' sha256sum) |
        sed 's|  \./|  /|'
} >"$out/SHA256SUMS"
sign_sums "$out"

echo "$out/$name.zip"
echo "$deb"
if [ -n "$cert" ]; then echo "signed with $cert"; else echo "not signed (no --cert/--key)"; fi
