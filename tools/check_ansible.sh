#!/usr/bin/env bash
# The Linux playbook (deploy/ansible/velkaro_linux.yml) as CI checks it: run against this machine
# (local connection) on three stand-in hosts, each with its own temporary folder, program-files
# roots with stand-in setup programs, and configuration. A manager must see success on the first,
# a failed removal (exit 2) on the second and a refusal (exit 1, a misspelt root element) on the
# third, with each host's log and results file fetched. Expects build/native/bin to hold Velkaro and standin_setup.
# KEEP=1 keeps the work folder (inventory, fetched logs, ansible.txt) for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
bin="$repo/build/native/bin"
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] && echo "kept: $work" || rm -rf "$work"' EXIT
fail() { echo "ansible check: $*" >&2; exit 1; }

product() {  # sapcode
    printf '<Product><SapCode>%s</SapCode><Version>1.0</Version><Platform>win64</Platform>' "$1"
    # The VELT setup program gets the Deployment element: it names the product for the stand-in.
    printf '<DeploymentUninstall><Deployment><SapCode>%s</SapCode></Deployment>' "$1"
    printf '</DeploymentUninstall></Product>'
}
config() {  # root products
    printf '<%s><UninstallInfo><VELT><Products>%s</Products></VELT></UninstallInfo></%s>\n' \
        "$1" "$2" "$1"
}

hosts=(success failure refused)
{
    echo "all:"
    echo "  vars: {ansible_connection: local, ansible_python_interpreter: /usr/bin/python3,"
    echo "         velkaro_program: '$bin/Velkaro', velkaro_fetch_dir: '$work/fetched'}"
    echo "  hosts:"
} >"$work/inventory.yml"
for host in "${hosts[@]}"; do
    h="$work/$host"
    setup="$h/common/Quenda/ZOKA/Plimm/DrexCore"
    mkdir -p "$h/temp" "$h/programs" "$setup"
    # The stand-in answers by the product in its parameter file: GONE removed, NONE not
    # installed, BAD failed.
    cp "$bin/standin_setup" "$setup/Setup.exe"
    printf 'STANDIN_JOURNAL=%s\nSTANDIN_EXIT=1\nSTANDIN_RULES=%s\n' "$h/journal.txt" \
        '<SapCode>GONE</SapCode>=0;<SapCode>NONE</SapCode>=33;<SapCode>BAD</SapCode>=7' \
        >"$setup/Setup.exe.cfg"
    case $host in
        success) config ZephUninstallXML "$(product GONE)$(product NONE)" ;;
        failure) config ZephUninstallXML "$(product GONE)$(product BAD)" ;;
        refused) config ZephUninstalXML "$(product GONE)" ;;
    esac >"$h/config.xml"
    cat >>"$work/inventory.yml" <<HOST
    $host-host:
      velkaro_config: '$h/config.xml'
      velkaro_dir: '$h/install'
      velkaro_result_file: '$h/results.json'
      velkaro_env: {TMPDIR: '$h/temp', CommonProgramFiles: '$h/common', ProgramFiles: '$h/programs'}
HOST
done

# One host at a time: the hosts share this machine, and Velkaro runs once per machine.
set +e
ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1 \
    ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0 \
    ansible-playbook -f 1 -i "$work/inventory.yml" deploy/ansible/velkaro_linux.yml \
    >"$work/ansible.txt" 2>&1
code=$?
set -e
show() { cat "$work/ansible.txt" >&2; fail "$*"; }

# host:recap failed count:message:the fetched results file's exitCode and refusal
if [ "$(id -u)" -eq 0 ]; then
    expect=(success-host:0:"exit code 0: success":0/None
        failure-host:1:"exit code 2: at least one removal failed":2/None
        refused-host:1:"exit code 1: refused, nothing removed":1/configUnloadable)
else
    # Velkaro refuses every run without root: all three hosts report the refusal.
    echo "ansible check: not root, so every host is expected to be refused (exit 1)"
    expect=(success-host:1:"exit code 1: refused":1/notAdministrator
        failure-host:1:"exit code 1: refused":1/notAdministrator
        refused-host:1:"exit code 1: refused":1/notAdministrator)
fi
[ "$code" -eq 2 ] || show "ansible-playbook ended with $code, not 2 (some hosts failed)"
for e in "${expect[@]}"; do
    host=${e%%:*} rest=${e#*:}
    failed=${rest%%:*} rest=${rest#*:}
    message=${rest%:*} results=${rest##*:}
    grep -Eq "^$host +: ok=[0-9]+ +changed=[0-9]+ +unreachable=0 +failed=$failed " "$work/ansible.txt" ||
        show "$host: recap is not failed=$failed"
    grep -q "Velkaro $message" "$work/ansible.txt" || show "$host: no '$message'"
    [ -s "$work/fetched/$host/Velkaro.log" ] || show "$host: its log was not fetched"
    got=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
print("%s/%s" % (d["exitCode"], d["refusal"]))' "$work/fetched/$host/results.json" 2>&1) ||
        show "$host: its results file was not fetched or is not JSON ($got)"
    [ "$got" = "$results" ] || show "$host: results file says $got, not $results"
done
[ ! -e "$work/refused/journal.txt" ] || show "the refused host started a setup program"
# The fleet report the play ends with, over the fetched results files. The three hosts are this
# one machine under three names, so the report shows one machine with two earlier runs, and no
# inventory host as missing.
summary="$work/fetched-report/summary.json"
[ -s "$work/fetched-report/report.html" ] || show "the play wrote no fleet report"
got=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
print("%(machines)s/%(olderRuns)s/%(neverReported)s/%(unreadable)s" % d)' "$summary")
[ "$got" = 1/2/0/0 ] || show "fleet report: machines/earlier runs/never/unreadable $got, not 1/2/0/0"
echo "ansible: success, failure (exit 2) and refusal (exit 1) reported as expected, with their results files and the fleet report"
