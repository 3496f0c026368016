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
expected="DEPLOYING.txt
README.md
SHA256SUMS
Velkaro.exe
VelkaroConfig.xml
VelkaroConfig.xsd
VelkaroReport.exe
VelkaroResult.schema.json
deploy/ansible/velkaro_linux.yml
deploy/ansible/velkaro_windows.yml
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
i686-w64-mingw32-objdump -f "$dir/VelkaroReport.exe" | grep -q 'pei-i386' ||
    fail "VelkaroReport.exe is not the i686 program"
osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/VelkaroReport.exe" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; fail "signature of VelkaroReport.exe"; }
grep -q '^\*\*Ansible\.\*\*' "$dir/DEPLOYING.txt" || fail "DEPLOYING.txt lacks the Ansible part"
for p in velkaro_windows.yml velkaro_linux.yml; do
    cmp -s "deploy/ansible/$p" "$dir/deploy/ansible/$p" || fail "deploy/ansible/$p differs in the archive"
done

# The shipped i686 program is the binary that tools/test.sh ran its suite on: that binary is
# unchanged since (its recorded checksum), and the archive's program is it stripped and signed.
# With its signature removed it equals the binary stripped here, but for the PE checksum that
# signing rewrites, the alignment padding after it and the header's time, which must be the
# tested binary's link time.
tested=build/win32/Velkaro.exe.tested.sha256
if [ -f "$tested" ]; then
    sha256sum --quiet -c "$tested" || fail "build/win32/bin/Velkaro.exe changed after its tests ran"
    i686-w64-mingw32-strip --strip-all -o "$work/stripped.exe" build/win32/bin/Velkaro.exe
    osslsigncode remove-signature -in "$dir/Velkaro.exe" -out "$work/unsigned.exe" >/dev/null
    python3 - "$work/unsigned.exe" "$work/stripped.exe" build/win32/bin/Velkaro.exe <<'EOF_COMPARE' ||
import struct, sys
shipped, stripped, tested = (bytearray(open(p, "rb").read()) for p in sys.argv[1:])
def header(image):
    return struct.unpack_from("<I", image, 0x3C)[0]
def link_time(image):
    return image[header(image) + 8:header(image) + 12]
same_time = link_time(shipped) == link_time(tested)
for image in (shipped, stripped):
    pe = header(image)
    image[pe + 8:pe + 12] = image[pe + 88:pe + 92] = bytes(4)
same = shipped[:len(stripped)] == stripped and not shipped[len(stripped):].strip(b"\0")
sys.exit(0 if same and same_time else 1)
EOF_COMPARE
        fail "Velkaro.exe in the archive is not the tested i686 program"
    echo "release: Velkaro.exe is the i686 program the suite tested ($(cut -c1-16 "$tested")...)"
else
    echo "release: the i686 program was not tested on this machine (no $tested)"
fi
# The deployment guide's Windows Ansible command, run as printed in the unpacked release (where it
# says to run it), with a syntax check added: there is no Windows host here to run it against.
command=$(awk '/^    ansible-playbook / && /velkaro_windows.yml/ { on = 1 }
    on { sub(/^    /, ""); print; if (!/\\$/) exit }' docs/deploying.md)
[ -n "$command" ] || fail "no ansible-playbook command for velkaro_windows.yml in docs/deploying.md"
printf 'windows:\n  hosts:\n    windows-host:\n' >"$dir/inventory"
cp tools/demo/VelkaroConfig.xml "$dir/RemoveSuite.xml"
(cd "$dir" && ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" \
    bash -c "$command --syntax-check") >"$work/ansible.txt" 2>&1 ||
    { cat "$work/ansible.txt" >&2; fail "the guide's Windows Ansible command fails in the release"; }
echo "release: $name.zip signed, checksums and version $version verified in both programs"
