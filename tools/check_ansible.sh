#!/usr/bin/env bash
# The Linux playbook (deploy/ansible/velkaro_linux.yml) as CI checks it: run against this machine
# (local connection) on five stand-in hosts, each with its own temporary folder, program-files
# roots with stand-in setup programs, and configuration. A manager must see success on the first,
# a failed removal (exit 2) on the second, a refusal (exit 1, a misspelt root element) on the
# third and a run stopped by SIGTERM on the fourth, with each host's log and results file fetched;
# a fifth host's run never starts. Expects build/native/bin to hold Velkaro and standin_setup.
# KEEP=1 keeps the work folder (inventory, fetched logs, ansible.txt) for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
bin="$repo/build/native/bin"
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] && echo "kept: $work" || rm -rf "$work"' EXIT
fail() { echo "ansible check: $*" >&2; exit 1; }
playbook() {  # ansible-playbook's words...: with a home and temporary folder inside the work folder
    ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1 \
        ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0 "$@"
}

# Both playbooks as written: syntax (Debian's ansible package carries the ansible.windows
# collection that the Windows one needs), then lint.
for p in deploy/ansible/velkaro_linux.yml deploy/ansible/velkaro_windows.yml; do
    playbook ansible-playbook --syntax-check "$p" >"$work/syntax.txt" 2>&1 ||
        { cat "$work/syntax.txt" >&2; fail "syntax check of $p"; }
done
HOME="$work/lint-home" ANSIBLE_HOME="$work/ansible-home" ansible-lint --nocolor -q \
    deploy/ansible/velkaro_linux.yml deploy/ansible/velkaro_windows.yml >"$work/lint.txt" 2>&1 ||
    { cat "$work/lint.txt" >&2; fail "ansible-lint"; }

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

hosts=(success failure refused stopped unstarted)
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
        stopped) config ZephUninstallXML "$(product GONE)$(product NONE)" ;;
        unstarted) config ZephUninstallXML "$(product GONE)" ;;
    esac >"$h/config.xml"
    # A run that never starts (its configuration cannot be copied) must leave no outcome: neither
    # the previous run's results file on the host nor the copy fetched then.
    if [ "$host" = unstarted ]; then
        echo '{"exitCode": 0}' >"$h/results.json"
        mkdir -p "$work/fetched/$host-host"
        echo '{"exitCode": 0}' >"$work/fetched/$host-host/results.json"
        rm "$h/config.xml"
    fi
    # The options beyond the configuration are one string on both playbooks.
    extra=""
    [ "$host" != success ] || extra="velkaro_extra_args: '--setupTimeout=2700'"
    program=$bin/Velkaro
    if [ "$host" = stopped ]; then
        # The setup program takes two seconds; Velkaro gets SIGTERM as soon as it has started it.
        echo "STANDIN_SLEEP_MS=2000" >>"$setup/Setup.exe.cfg"
        program=$h/velkaro-stopped.sh
        cat >"$program" <<WRAPPER
#!/bin/sh
"$bin/Velkaro" "\$@" & pid=\$!
while [ ! -s "$h/journal.txt" ] && kill -0 \$pid 2>/dev/null; do sleep 0.05; done
kill -TERM \$pid 2>/dev/null
wait \$pid
WRAPPER
    fi
    cat >>"$work/inventory.yml" <<HOST
    $host-host:
      velkaro_config: '$h/config.xml'
      velkaro_program: '$program'
      velkaro_dir: '$h/install'
      velkaro_result_file: '$h/results.json'
      velkaro_env: {TMPDIR: '$h/temp', CommonProgramFiles: '$h/common', ProgramFiles: '$h/programs'}
      $extra
HOST
done

# One host at a time: the hosts share this machine, and Velkaro runs once per machine.
set +e
playbook ansible-playbook -f 1 -i "$work/inventory.yml" deploy/ansible/velkaro_linux.yml \
    >"$work/ansible.txt" 2>&1
code=$?
set -e
show() { cat "$work/ansible.txt" >&2; fail "$*"; }

# host:recap failed count:message:the fetched results file's exitCode and refusal
if [ "$(id -u)" -eq 0 ]; then
    expect=(success-host:0:"exit code 0: success":0/None
        failure-host:1:"exit code 2: at least one removal failed":2/None
        refused-host:1:"exit code 1: refused, nothing removed":1/configUnloadable
        stopped-host:1:"exit code 2: stopped (SIGTERM)":2/None)
else
    # Velkaro refuses every run without root: all three hosts report the refusal.
    echo "ansible check: not root, so every host is expected to be refused (exit 1)"
    expect=(success-host:1:"exit code 1: refused":1/notAdministrator
        failure-host:1:"exit code 1: refused":1/notAdministrator
        refused-host:1:"exit code 1: refused":1/notAdministrator
        stopped-host:1:"exit code 1: refused":1/notAdministrator)
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
grep -Eq "^unstarted-host +: .* failed=1 " "$work/ansible.txt" || show "unstarted-host: recap is not failed=1"
[ ! -e "$work/unstarted/results.json" ] || show "unstarted-host: the previous results file is still there"
[ ! -e "$work/fetched/unstarted-host/results.json" ] ||
    show "unstarted-host: the results file fetched last time is still there"
iconv -f UTF-16 -t UTF-8 "$work/fetched/success-host/Velkaro.log" | grep -q -- "--setupTimeout=2700" ||
    show "success-host: velkaro_extra_args did not reach the program's command line"
# The fleet report the play writes over the fetched results files. The hosts are this one
# machine under several names, so the report shows one machine with its earlier runs, and the host
# whose run never started as never reported.
summary="$work/fetched-report/summary.json"
[ -s "$work/fetched-report/report.html" ] || show "the play wrote no fleet report"
got=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
print("%(machines)s/%(olderRuns)s/%(neverReported)s/%(unreadable)s" % d)' "$summary")
[ "$got" = 1/3/1/0 ] || show "fleet report: machines/earlier runs/never/unreadable $got, not 1/3/1/0"
echo "ansible: success, failure (exit 2), refusal (exit 1) and stop reported as expected, with their results files and the fleet report"

# The deployment guide's Linux command exactly as printed, from a folder laid out as the repository (the
# program where the native build puts it, the playbooks, an inventory and RemoveSuite.xml beside).
readme_command() {  # playbook file name: the guide's command that runs it, continuation lines kept
    awk -v playbook="$1" '/^    ansible-playbook / && index($0, playbook) { on = 1 }
        on { sub(/^    /, ""); print; if (!/\\$/) exit }' docs/deploying.md
}
command=$(readme_command velkaro_linux.yml)
[ -n "$command" ] || fail "no ansible-playbook command for velkaro_linux.yml in docs/deploying.md"
top="$work/readme"
h="$work/readme-host"
setup="$h/common/Quenda/ZOKA/Plimm/DrexCore"
mkdir -p "$top/build/native/bin" "$top/deploy/ansible" "$h/temp" "$h/programs" "$setup"
cp "$bin/Velkaro" "$top/build/native/bin/"
cp deploy/ansible/*.yml "$top/deploy/ansible/"
cp "$bin/standin_setup" "$setup/Setup.exe"
printf 'STANDIN_JOURNAL=%s\nSTANDIN_EXIT=0\n' "$h/journal.txt" >"$setup/Setup.exe.cfg"
config ZephUninstallXML "$(product GONE)" >"$top/RemoveSuite.xml"
cat >"$top/inventory" <<INVENTORY
all:
  hosts:
    readme-host:
      ansible_connection: local
      ansible_python_interpreter: /usr/bin/python3
      velkaro_dir: '$h/install'
      velkaro_env: {TMPDIR: '$h/temp', CommonProgramFiles: '$h/common', ProgramFiles: '$h/programs'}
INVENTORY
set +e
(cd "$top" && playbook bash -c "$command") >"$work/readme.txt" 2>&1
code=$?
set -e
want=0 message="exit code 0: success"
[ "$(id -u)" -eq 0 ] || want=2 message="exit code 1: refused"
[ "$code" -eq "$want" ] || { cat "$work/readme.txt" >&2; fail "the guide's command ended with $code, not $want"; }
grep -q "Velkaro $message" "$work/readme.txt" || { cat "$work/readme.txt" >&2; fail "the guide's command: no '$message'"; }
[ -s "$top/deploy/ansible/fetched/readme-host/Velkaro.log" ] ||
    fail "the guide's command: the log did not land in deploy/ansible/fetched/readme-host"
echo "ansible: the guide's Linux command works as printed; both playbooks pass syntax check and lint"

