#!/usr/bin/env bash
# The configuration schema as CI checks it: the sample configuration and the guide's example
# validate against VelkaroConfig.xsd, and each broken variant of the sample is refused.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "schema check: $*" >&2; exit 1; }
sample=tools/demo/VelkaroConfig.xml

# The first xml block under the administrator's guide's configuration heading.
awk '/^## The configuration document/ {f = 1} f && /^```xml/ {p = 1; next} p && /^```/ {exit} p' \
    docs/administrator-guide.md >"$work/guide.xml"
[ -s "$work/guide.xml" ] || fail "no xml example in docs/administrator-guide.md"
xmllint --noout --schema VelkaroConfig.xsd "$sample" "$work/guide.xml" 2>"$work/err" ||
    { cat "$work/err" >&2; fail "a shipped example does not validate"; }

refused=0
while IFS='|' read -r what expression; do
    sed "$expression" "$sample" >"$work/bad.xml"
    ! cmp -s "$sample" "$work/bad.xml" || fail "'$what' changes nothing in the sample"
    ! xmllint --noout --schema VelkaroConfig.xsd "$work/bad.xml" 2>/dev/null ||
        fail "the schema accepts: $what"
    refused=$((refused + 1))
done <<'CASES'
foreign root|s/ZephUninstallXML>/ZephUninstalXML>/g
misspelt family|s/<QX>/<Qx>/; s/<\/QX>/<\/Qx>/
unknown product element|0,/<Version>/s//<Versoin>x<\/Versoin><Version>/
empty value|0,/<SapCode>KLIN<\/SapCode>/s//<SapCode><\/SapCode>/
blank value|0,/<Platform>win64<\/Platform>/s//<Platform>  <\/Platform>/
missing BaseVersion|0,/<BaseVersion>12.0<\/BaseVersion>/s///
missing Deployment|0,/<Deployment>/s//<!-- /; 0,/<\/Deployment>/s//-->/
product listed twice|s/<SapCode>QXTY</<SapCode>QXPR</; s/<Version>3.2.1</<Version>12.0.3</
CASES
echo "schema: sample and guide example valid; $refused broken variants refused"
