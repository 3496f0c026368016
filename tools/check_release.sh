#!/usr/bin/env bash
# The release as CI checks it:
#   - tools/release.sh here with a throwaway self-signed certificate: the archive's contents, the
#     signatures and the version resource and manifest read back from the shipped programs, and
#     that the i686 program is the binary the test command tested;
#   - both SHA256SUMS: their signatures verify, a changed file fails its checksum and a changed
#     list fails its signature;
#   - the Debian package: clean under lintian, installed with apt-get, both programs run from
#     their installed paths, then purged with nothing left behind;
#   - a fresh clone under /tmp: tools/release.sh as printed builds everything it ships and leaves
#     nothing in the source tree, and the native suite passes there.
# Expects the win32 and win64 presets to be configured (tools/test.sh builds them first).
# VELKARO_RELEASE_NO_CLONE=1 leaves out the fresh clone.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
work=$(mktemp -d)
installed_here=""
cleanup() {
    [ -z "$installed_here" ] || apt-get purge -y -qq velkaro >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "release check: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Velkaro throwaway test signer" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
bash tools/release.sh --cert "$work/cert.pem" --key "$work/key.pem" --out "$work/out" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
name="Velkaro-$version"
deb_name="velkaro_${version}_$(dpkg --print-architecture).deb"
deb="$work/out/$deb_name"
[ "$(cd "$work/out" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)" = "SHA256SUMS
SHA256SUMS.sig
$name.zip
$deb_name" ] || fail "unexpected release folder: $(cd "$work/out" && find . -printf '%P ')"
unzip -q "$work/out/$name.zip" -d "$work/unpacked"
dir="$work/unpacked/$name"
expected="CHANGELOG.md
DEPLOYING.txt
README.md
SHA256SUMS
SHA256SUMS.sig
Velkaro.exe
VelkaroConfig.xml
VelkaroConfig.xsd
VelkaroReport.exe
VelkaroResult.schema.json
deploy/ansible/velkaro_linux.yml
deploy/ansible/velkaro_windows.yml
docs/administrator-guide.md
docs/deploying.md
docs/developer-guide.md
docs/fleet-report.md
docs/fleet-report.png
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
grep -q 'pei-i386' <(i686-w64-mingw32-objdump -f "$dir/Velkaro.exe") || fail "Velkaro.exe is not the i686 program"
grep -q 'pei-i386' <(i686-w64-mingw32-objdump -f "$dir/VelkaroReport.exe") ||
    fail "VelkaroReport.exe is not the i686 program"
osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/VelkaroReport.exe" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; fail "signature of VelkaroReport.exe"; }
grep -q '^\*\*Ansible\.\*\*' "$dir/DEPLOYING.txt" || fail "DEPLOYING.txt lacks the Ansible part"
for want in 'openssl cms -verify' 'Get-FileHash' 'SHA256SUMS.sig'; do
    grep -qF "$want" "$dir/DEPLOYING.txt" || fail "DEPLOYING.txt does not show how to check SHA256SUMS ($want)"
done
cmp -s CHANGELOG.md "$dir/CHANGELOG.md" || fail "CHANGELOG.md differs in the archive"
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
# The deployment guide's Windows Ansible command, run as printed in the unpacked release (where
# the guide says to run it), with a syntax check added: there is no Windows host here.
command=$(awk '/^    ansible-playbook / && /velkaro_windows.yml/ { on = 1 }
    on { sub(/^    /, ""); print; if (!/\\$/) exit }' docs/deploying.md)
[ -n "$command" ] || fail "no ansible-playbook command for velkaro_windows.yml in docs/deploying.md"
printf 'windows:\n  hosts:\n    windows-host:\n' >"$dir/inventory"
cp tools/demo/VelkaroConfig.xml "$dir/RemoveSuite.xml"
(cd "$dir" && ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" \
    bash -c "$command --syntax-check") >"$work/ansible.txt" 2>&1 ||
    { cat "$work/ansible.txt" >&2; fail "the guide's Windows Ansible command fails in the release"; }
rm "$dir/inventory" "$dir/RemoveSuite.xml"
echo "release: $name.zip signed, checksums and version $version verified in both programs"

# --- Checksums and their signatures ---
# folder: the list's signature verifies with the throwaway certificate, and was made by it.
verify_sums() {
    openssl cms -verify -binary -inform DER -in "$1/SHA256SUMS.sig" -content "$1/SHA256SUMS" \
        -CAfile "$work/cert.pem" -purpose any -signer "$work/signer.pem" -out /dev/null 2>"$work/cms.txt"
}
# The package's files, as it installs them.
dpkg-deb -x "$deb" "$work/deb"
package_files=$(cd "$work/deb" && find . -type f -printf '/%P\n' | LC_ALL=C sort)
archive_files=$(cd "$work/unpacked" && find "$name" -type f | LC_ALL=C sort)
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$work/out/SHA256SUMS" | LC_ALL=C sort)
[ "$listed" = "$(printf '%s\n' "$deb_name" "$name.zip" "$archive_files" "$package_files" |
    LC_ALL=C sort)" ] || fail "SHA256SUMS does not list exactly the downloads and their files"
for folder in "$work/out" "$dir"; do
    verify_sums "$folder" || { cat "$work/cms.txt" >&2; fail "the signature of $folder/SHA256SUMS"; }
    cmp -s "$work/signer.pem" <(openssl x509 -in "$work/cert.pem") ||
        fail "$folder/SHA256SUMS is not signed with the programs' certificate"
done
# The unpacked archive beside the downloads, and the package's files where the list expects
# them (its own folder stands in for / until the package is installed below).
mv "$work/unpacked/$name" "$work/out/"
dir="$work/out/$name"
(cd "$work/out" && sed "s|  /|  $work/deb/|" SHA256SUMS | sha256sum --quiet --strict -c -) ||
    fail "the files do not match SHA256SUMS"
cp -r "$work/out" "$work/tampered"
printf 'x' >>"$work/tampered/$name/VelkaroConfig.xml"
! (cd "$work/tampered" && sha256sum --quiet -c --ignore-missing SHA256SUMS) >"$work/sums.txt" 2>&1 ||
    fail "a changed file passes SHA256SUMS"
grep -q "^$name/VelkaroConfig.xml: FAILED$" "$work/sums.txt" || fail "sha256sum: $(cat "$work/sums.txt")"
sed -i "1s/^./$(head -c1 "$work/out/SHA256SUMS" | tr 0-9a-f 1-9a-f0)/" "$work/tampered/SHA256SUMS"
! verify_sums "$work/tampered" || fail "a changed SHA256SUMS still verifies"
echo "release: both SHA256SUMS verified with the signer's certificate; a changed file and a changed list are refused"

# --- The Debian package ---
lintian --fail-on error,warning --display-info --pedantic "$deb" \
    >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt" >&2; fail "lintian: $deb_name"; }
! grep -q '^[EWIP]: ' "$work/lintian.txt" || { cat "$work/lintian.txt" >&2; fail "lintian notes $deb_name"; }
if dpkg-query -W -f='${Status}' velkaro 2>/dev/null | grep -q 'install ok installed'; then
    fail "velkaro is already installed here: the check installs and removes a copy of its own"
fi
# The folders the package brings that are not here yet must go again with it.
new_dirs=$(cd "$work/deb" && find . -mindepth 1 -type d -printf '/%P\n' |
    while read -r d; do [ -e "$d" ] || echo "$d"; done)
installed_here=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.txt" 2>&1 ||
    { cat "$work/apt.txt" >&2; fail "apt-get install $deb_name"; }
(cd "$work/out" && sha256sum --quiet --strict -c SHA256SUMS) ||
    fail "the installed files do not match SHA256SUMS"
[ "$(command -v Velkaro)" = /usr/sbin/Velkaro ] && [ "$(command -v VelkaroReport)" = /usr/bin/VelkaroReport ] ||
    fail "the programs are not on the PATH where the package puts them"
# Velkaro logs even its usage into the temporary folder: one of the check's own.
mkdir -m 0700 "$work/run" "$work/run/tmp" "$work/fleet" "$work/fleet/this-host"
grep -q 'uninstallConfigPath' <(TMPDIR="$work/run/tmp" /usr/sbin/Velkaro --help) ||
    fail "Velkaro --help from /usr/sbin"
grep -q -- '--out=' <(/usr/bin/VelkaroReport --help) || fail "VelkaroReport --help from /usr/bin"
# A tiny fleet: the installed program's dry run of the installed sample configuration, and the
# installed report over its results file (exit code 2: a dry run is not a success).
(cd "$work/run" && TMPDIR="$work/run/tmp" /usr/sbin/Velkaro --dryRun \
    --uninstallConfigPath=/usr/share/velkaro/VelkaroConfig.xml \
    --resultFile="$work/fleet/this-host/result.json" >"$work/run/console.txt" 2>&1) ||
    { cat "$work/run/console.txt" >&2; fail "the installed Velkaro's dry run of the sample configuration"; }
status=0
/usr/bin/VelkaroReport --out="$work/report.html" --summary="$work/summary.json" "$work/fleet" \
    >"$work/report.txt" 2>&1 || status=$?
[ "$status" -eq 2 ] && [ -s "$work/report.html" ] ||
    { cat "$work/report.txt" >&2; fail "the installed VelkaroReport (exit code $status)"; }
python3 - "$work/summary.json" <<'EOF_SUMMARY' || fail "the installed report's summary: $(cat "$work/summary.json")"
import json, sys
summary = json.load(open(sys.argv[1]))
sys.exit(0 if summary["machines"] == 1 and summary["dryRun"] == 1 else 1)
EOF_SUMMARY
for page in 8/Velkaro 1/VelkaroReport; do
    grep -q '^\.SH' <(zcat "/usr/share/man/man${page%%/*}/${page#*/}.${page%%/*}.gz") ||
        fail "no manual page ${page#*/}(${page%%/*})"
done
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velkaro >"$work/apt.txt" 2>&1 ||
    { cat "$work/apt.txt" >&2; fail "apt-get purge velkaro"; }
installed_here=""
! dpkg-query -W -f='${Status}' velkaro 2>/dev/null | grep -q ' installed$\| config-files$' ||
    fail "velkaro is still installed"
left=$(for f in $package_files $new_dirs; do [ ! -e "$f" ] || echo "$f"; done)
[ -z "$left" ] || fail "left behind after purge: $left"
echo "release: $deb_name lintian-clean, installed, both programs run from /usr/sbin and /usr/bin, purged without a trace"

# --- A fresh clone under /tmp ---
[ -z "${VELKARO_RELEASE_NO_CLONE:-}" ] || exit 0
started=$SECONDS
# Others must reach the clone: some tests run its programs as an ordinary user.
clone=$(mktemp -d /tmp/velkaro-clone-XXXXXX)
chmod 0755 "$clone"
trap 'cleanup; rm -rf "$clone"' EXIT
git clone -q --no-hardlinks "$repo" "$clone/velkaro"
# Objects compiled here before serve the clone too: paths below each tree's top count alike.
if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$clone/velkaro" CCACHE_NOHASHDIR=1
fi
(cd "$clone/velkaro" && bash tools/release.sh --cert "$work/cert.pem" --key "$work/key.pem") \
    >"$work/clone-release.txt" 2>&1 ||
    { cat "$work/clone-release.txt" >&2; fail "tools/release.sh in a fresh clone"; }
fresh="$clone/velkaro/build/release"
[ "$(cd "$fresh" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)" = \
    "$(cd "$work/out" && find . -mindepth 1 -maxdepth 1 ! -name "$name" -printf '%P\n' | LC_ALL=C sort)" ] ||
    fail "the fresh clone's release holds other files: $(ls "$fresh")"
[ "$(unzip -Z1 "$fresh/$name.zip" | LC_ALL=C sort)" = "$(unzip -Z1 "$work/out/$name.zip" | LC_ALL=C sort)" ] ||
    fail "the fresh clone's archive holds other files"
[ "$(dpkg-deb -c "$fresh/$deb_name" | awk '{ print $6 }')" = "$(dpkg-deb -c "$deb" | awk '{ print $6 }')" ] ||
    fail "the fresh clone's package holds other files"
stray=$(git -C "$clone/velkaro" status --porcelain --ignored | grep -v '^!! build/$' || true)
[ -z "$stray" ] || fail "the release left files in the source tree: $stray"
echo "release: a fresh clone builds the whole release as printed ($((SECONDS - started)) s)"

# The native suite from a clone under /tmp, where a test that mounts its own /tmp must still
# find the program it runs.
started=$SECONDS
(cd "$clone/velkaro" && cmake --preset native >/dev/null && cmake --build --preset native -j "$(nproc)" >/dev/null &&
    ctest --preset native) >"$work/clone-ctest.txt" 2>&1 ||
    { tail -n 60 "$work/clone-ctest.txt" >&2; fail "the native suite in a clone under /tmp"; }
grep -E '^\[  (PASSED|SKIPPED|FAILED) +\] [0-9]+ test' "$clone/velkaro/build/native/Testing/Temporary/LastTest.log" |
    sed 's/^/release: clone under \/tmp: /' || true
echo "release: the native suite passed in $clone ($((SECONDS - started)) s)"
