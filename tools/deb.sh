#!/usr/bin/env bash
# Builds the Debian package for Linux machines and Ansible controllers from a native build:
#
#   bash tools/deb.sh <native build folder> <out folder>
#
# writes <out folder>/velkaro_<version>_amd64.deb and prints its path. Velkaro goes to /usr/sbin
# (it refuses to run without root, so it is an administrator's command, manual section 8);
# VelkaroReport to /usr/bin (any user on a controller runs it, section 1). The schemas, the sample
# configuration and the playbooks go to /usr/share/velkaro/; the manual pages come from the
# guides in docs/, the Debian changelog from CHANGELOG.md. The package is clean under lintian
# (the release check runs it, with the informational and pedantic tags) with no tag overridden.
# Nothing is written into the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
out=$(realpath -m "$2")
maintainer="The Velkaro developers <velkaro@example.org>"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "deb.sh: no project version in $build" >&2; exit 1; }
arch=$(dpkg --print-architecture)
# The date of the commit built (or of the changelog's version): the package's files carry it, so
# the same commit gives the same package.
epoch=$(git log -1 --format=%ct 2>/dev/null || date -d "$(sed -n \
    "s/^## \[$version\] - //p" CHANGELOG.md)" +%s)
export SOURCE_DATE_EPOCH=$epoch

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
share="$root/usr/share/velkaro"
doc="$root/usr/share/doc/velkaro"
mkdir -p "$root/DEBIAN" "$root/usr/sbin" "$root/usr/bin" "$share/deploy/ansible" "$doc" \
    "$root/usr/share/man/man8" "$root/usr/share/man/man1"

# As dh_strip strips a program that ships without its debugging symbols.
strip_to() { strip --strip-unneeded --remove-section=.comment --remove-section=.note -o "$2" "$1"; }
strip_to "$build/bin/Velkaro" "$root/usr/sbin/Velkaro"
strip_to "$build/bin/VelkaroReport" "$root/usr/bin/VelkaroReport"
install -m 0644 tools/demo/VelkaroConfig.xml VelkaroConfig.xsd VelkaroResult.schema.json "$share/"
install -m 0644 deploy/ansible/velkaro_linux.yml deploy/ansible/velkaro_windows.yml \
    "$share/deploy/ansible/"

# guide name section description
manpage() {
    local page="$root/usr/share/man/man$3/$2.$3"
    python3 tools/release_text.py manpage "$1" "$2" "$4" >"$work/$2.md"
    lowdown -s -Tman -M "title=$2" -M "section=$3" -M "source=Velkaro $version" \
        -M "date=$(date -u -d "@$epoch" +%Y-%m-%d)" "$work/$2.md" >"$page"
    gzip -9n "$page"
}
manpage docs/administrator-guide.md Velkaro 8 "remove the suite's products through their setup programs"
manpage docs/fleet-report.md VelkaroReport 1 "write one page over the results files of many machines"

python3 tools/release_text.py debian-changelog CHANGELOG.md "$version" "$maintainer" \
    >"$doc/changelog"
gzip -9n "$doc/changelog"
cp tools/debian/copyright "$doc/copyright"

# The libraries' packages, as dpkg-shlibdeps finds them; it reads a debian/control of its own.
mkdir -p "$work/shlibs/debian"
printf 'Source: velkaro\n\nPackage: velkaro\nArchitecture: any\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$root/usr/sbin/Velkaro" \
    "$root/usr/bin/VelkaroReport" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

cat >"$root/DEBIAN/control" <<EOF_CONTROL
Package: velkaro
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Suggests: ansible
Section: admin
Priority: optional
Description: removes the suite's products through their own setup programs
 Velkaro reads a configuration document that names installed products of
 the suite, starts each product's family setup program to remove it, and
 ends with an exit code an endpoint manager can act on; a JSON results file
 and a log say what happened to each product.
 .
 VelkaroReport turns the results files collected from many machines into
 one page, CSV rows and a summary. The package also holds the configuration
 and results schemas, a sample configuration and the Ansible playbooks that
 deploy Velkaro and write the report (/usr/share/velkaro).
EOF_CONTROL
(cd "$root" && find usr -type f | LC_ALL=C sort | xargs -d '\n' md5sum >DEBIAN/md5sums)
find "$root" -type d -exec chmod 0755 {} +
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$epoch" {} +

mkdir -p "$out"
deb="$out/velkaro_${version}_$arch.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
