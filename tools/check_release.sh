#!/usr/bin/env bash
# The release as CI checks it: tools/release.sh with a throwaway self-signed certificate, then
# the archive's contents, checksums and signatures, and the version resource and manifest read
# back from the shipped programs. Expects the win32 and win64 presets to be configured.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "release check: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Velkaro throwaway test signer" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
bash tools/release.sh --cert "$work/cert.pem" --key "$work/key.pem" --out "$work/out" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
name="Velkaro-$version"
(cd "$work/out" && sha256sum --quiet -c "$name.zip.sha256") || fail "archive checksum"
unzip -q "$work/out/$name.zip" -d "$work/unpacked"
dir="$work/unpacked/$name"
expected="README.md
SHA256SUMS
Velkaro.exe
VelkaroConfig.xml
VelkaroConfig.xsd
x64/Velkaro.exe"
[ "$(cd "$dir" && find . -type f -printf '%P\n' | LC_ALL=C sort)" = "$expected" ] ||
    fail "unexpected contents: $(cd "$dir" && find . -type f -printf '%P ')"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "file checksums"

for exe in Velkaro.exe x64/Velkaro.exe; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/$exe" >"$work/verify.txt" 2>&1 ||
        { cat "$work/verify.txt"; fail "signature of $exe"; }
    # A program changed after signing must fail the check.
    cp "$dir/$exe" "$work/tampered.exe"
    printf 'x' | dd of="$work/tampered.exe" bs=1 seek=200 conv=notrunc status=none
    ! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >/dev/null 2>&1 ||
        fail "a tampered $exe still verifies"

    x86_64-w64-mingw32-windres -J coff -O rc -i "$dir/$exe" >"$work/res.rc" 2>/dev/null ||
        fail "no resources in $exe"
    commas=${version//./, }
    for want in "FILEVERSION $commas" "PRODUCTVERSION $commas" \
        "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
        'VALUE "ProductName", "Velkaro"' 'VALUE "FileDescription", ' 'VALUE "LegalCopyright", ' \
        'requestedExecutionLevel level=""asInvoker""' \
        'supportedOS Id=""{35138b9a-5d96-4fbd-8e2d-a2440225f93a}""' \
        'supportedOS Id=""{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}""'; do
        grep -qF "$want" "$work/res.rc" || fail "$exe: no '$want' in its resources"
    done
done
i686-w64-mingw32-objdump -f "$dir/Velkaro.exe" | grep -q 'pei-i386' || fail "Velkaro.exe is not the i686 program"
echo "release: $name.zip signed, checksums and version $version verified in both programs"
