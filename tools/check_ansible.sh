#!/usr/bin/env bash
# The Linux playbook (deploy/ansible/velkaro_linux.yml) as CI checks it: run against this machine
# (local connection) on stand-in hosts, each with its own temporary folder, program-files roots
# with stand-in setup programs, and configuration. A manager must see success (into a results
# folder the play creates), a failed removal (exit 2, its log under a name only logPath gives), a
# refusal (exit 1, a misspelt root element, with Velkaro's reason), a run stopped by SIGTERM, a
# refusal of a results folder others can write (the reason from standard error, the folder left
# as it was), a hung setup program ended by --setupTimeout, a Velkaro ended by the play's own
# limit, a results file that another user owns (not fetched), time limits that contradict each
# other, and a host whose run never starts. Expects build/native/bin to hold Velkaro,
# VelkaroReport and standin_setup; runs as root (as tools/test.sh does), because the play makes
# root's folders and Velkaro runs only as root.
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

# Runs below need root: the play makes root's folders, and Velkaro refuses to run without root.
[ "$(id -u)" -eq 0 ] || fail "run as root (as tools/test.sh does): syntax and lint passed, the runs need root"

hosts=(success failure refused stopped exposed hung limits owner unstarted runlimit)
{
    echo "all:"
    echo "  vars: {ansible_connection: local, ansible_python_interpreter: /usr/bin/python3,"
    echo "         velkaro_report_program: '$bin/VelkaroReport', velkaro_fetch_dir: '$work/fetched'}"
    echo "  hosts:"
} >"$work/inventory.yml"
# The play starts every host's run before it waits for the first: each host's Velkaro runs in a
# mount namespace with its own /run/velkaro, and so its own single-instance lock, as on a machine
# of its own.
wrapper() {  # host, shell lines before Velkaro, while it runs, after it ended: the host's program
    cat >"$work/$1/velkaro-run.sh" <<WRAPPER
${2:-}
"$bin/Velkaro" "\$@" & pid=\$!
${3:-}
wait \$pid; code=\$?
${4:-}
exit \$code
WRAPPER
    cat >"$work/$1/velkaro.sh" <<WRAPPER
#!/bin/sh
# The mount point alone, made as Velkaro makes it: a folder only root may enter, so the runs
# outside the namespaces (the suites that follow) still find the lock folder they accept.
[ -d /run/velkaro ] || mkdir -m 0700 /run/velkaro
exec unshare -m --propagation private sh -c \
    'mount -t tmpfs -o mode=0700 none /run/velkaro && exec sh "\$0" "\$@"' "$work/$1/velkaro-run.sh" "\$@"
WRAPPER
    chmod 0755 "$work/$1/velkaro.sh"
    echo "$work/$1/velkaro.sh"
}
for host in "${hosts[@]}"; do
    h="$work/$host"
    setup="$h/common/Quenda/ZOKA/Plimm/DrexCore"
    mkdir -p "$h/temp" "$h/programs" "$setup"
    # The stand-in answers by the product in its parameter file: GONE removed, NONE not
    # installed, BAD failed, HANG never ends.
    cp "$bin/standin_setup" "$setup/Setup.exe"
    printf 'STANDIN_JOURNAL=%s\nSTANDIN_EXIT=1\nSTANDIN_RULES=%s\n' "$h/journal.txt" \
        '<SapCode>GONE</SapCode>=0;<SapCode>NONE</SapCode>=33;<SapCode>BAD</SapCode>=7;<SapCode>HANG</SapCode>=hang' \
        >"$setup/Setup.exe.cfg"
    case $host in
        success | stopped) config ZephUninstallXML "$(product GONE)$(product NONE)" ;;
        failure) config ZephUninstallXML "$(product GONE)$(product BAD)" ;;
        refused) config ZephUninstalXML "$(product GONE)" ;;
        hung | runlimit) config ZephUninstallXML "$(product HANG)" ;;
        *) config ZephUninstallXML "$(product GONE)" ;;
    esac >"$h/config.xml"
    result=$h/results.json
    settings="" before="" during="" after=""
    case $host in
        success)  # into a folder that does not exist yet; the options beyond the configuration
            # are one string on both playbooks, and come after the playbook's own
            result=$h/results/results.json
            settings="velkaro_extra_args: '--setupTimeout=2600'" ;;
        failure)  # the log goes where only the results file's logPath finds it
            mkdir -p "$h/othertemp"
            echo decoy >"$h/temp/Velkaro.log"
            before="TMPDIR='$h/othertemp'; export TMPDIR" ;;
        stopped)  # the setup program takes two seconds; Velkaro gets SIGTERM once it has started it
            echo "STANDIN_SLEEP_MS=2000" >>"$setup/Setup.exe.cfg"
            during="while [ ! -s '$h/journal.txt' ] && kill -0 \$pid 2>/dev/null; do sleep 0.05; done
kill -TERM \$pid 2>/dev/null" ;;
        exposed)  # a folder anyone can write, which the play must leave as it is
            mkdir -p "$h/shared" && chmod 0777 "$h/shared"
            result=$h/shared/results.json ;;
        hung) settings="velkaro_setup_timeout: 2" ;;
        limits) settings=$'velkaro_setup_timeout: 60\n      velkaro_run_timeout: 30' ;;
        owner)  # another user's file where the results file should be
            after="chown nobody '$result'" ;;
        runlimit) settings=$'velkaro_setup_timeout: 0\n      velkaro_run_timeout: 3' ;;
    esac
    # A run that never starts (its configuration cannot be copied, or its limits are refused)
    # must leave no outcome: neither the previous run's results file on the host nor the copy
    # fetched then.
    if [ "$host" = unstarted ] || [ "$host" = limits ]; then
        echo '{"exitCode": 0}' >"$result"
        mkdir -p "$work/fetched/$host-host"
        echo '{"exitCode": 0}' >"$work/fetched/$host-host/results.json"
    fi
    [ "$host" != unstarted ] || rm "$h/config.xml"
    program=$(wrapper "$host" "$before" "$during" "$after")
    cat >>"$work/inventory.yml" <<HOST
    $host-host:
      velkaro_config: '$h/config.xml'
      velkaro_program: '$program'
      velkaro_dir: '$h/install'
      velkaro_result_file: '$result'
      velkaro_env: {TMPDIR: '$h/temp', CommonProgramFiles: '$h/common', ProgramFiles: '$h/programs'}
      $settings
HOST
done

set +e
playbook ansible-playbook -i "$work/inventory.yml" deploy/ansible/velkaro_linux.yml \
    >"$work/ansible.txt" 2>&1
code=$?
set -e
show() { cat "$work/ansible.txt" >&2; fail "$*"; }
said() {  # host: what the play printed about it (each result, a block of several lines included)
    awk -v h="[$1-host]" '/^(ok|fatal|failed|changed): / && index($0, h) { on = 1 }
        on { print } on && /^}|}$/ { on = 0 }' "$work/ansible.txt"
}

# host|recap failed count|the fetched results file (state/exitCode/refusal/setupTimeout/products
# ended at the limit; -: none fetched)|what the failure message says...
expect=("success|0|finished/0/None/2600/0|Velkaro exit code 0: success"
    "failure|1|finished/2/None/2700/0|Velkaro exit code 2: at least one removal failed"
    "refused|1|finished/1/configUnloadable/2700/0|Velkaro exit code 1: refused, nothing removed|Not an uninstall configuration: the root element (ZephUninstalXML)"
    "stopped|1|finished/2/None/2700/0|Velkaro exit code 2: stopped (SIGTERM)|Stop requested (SIGTERM)"
    "exposed|1|-|Velkaro exit code 1: refused, nothing removed|The results file $work/exposed/shared/results.json cannot be written"
    "hung|1|finished/2/None/2/1|Velkaro exit code 2: at least one removal failed"
    "limits|1|-|velkaro_run_timeout (30 s) must be above velkaro_setup_timeout (60 s)"
    "owner|1|-|Velkaro exit code 0: success|The results file $work/owner/results.json belongs to nobody, not root"
    "unstarted|1|-|config.xml"
    "runlimit|1|running/None/None/None/0|Velkaro did not end within 3 seconds (velkaro_run_timeout)")
[ "$code" -eq 2 ] || show "ansible-playbook ended with $code, not 2 (some hosts failed)"
for e in "${expect[@]}"; do
    IFS='|' read -r -a row <<<"$e"
    host=${row[0]} failed=${row[1]} results=${row[2]}
    grep -Eq "^$host-host +: ok=[0-9]+ +changed=[0-9]+ +unreachable=0 +failed=$failed " "$work/ansible.txt" ||
        show "$host: recap is not failed=$failed"
    for message in "${row[@]:3}"; do
        grep -qF -- "$message" <(said "$host") || show "$host: no '$message'"
    done
    fetched="$work/fetched/$host-host/results.json"
    if [ "$results" = - ]; then
        [ ! -e "$fetched" ] || show "$host: a results file was fetched"
        continue
    fi
    [ -s "$work/fetched/$host-host/Velkaro.log" ] || show "$host: its log was not fetched"
    got=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
print("%s/%s/%s/%s/%s" % (d["state"], d.get("exitCode"), d["refusal"], d["setupTimeout"],
      sum(1 for p in d["products"] if p["timedOut"])))' "$fetched" 2>&1) ||
        show "$host: its results file was not fetched or is not JSON ($got)"
    [ "$got" = "$results" ] || show "$host: results file says $got, not $results"
done
[ ! -e "$work/refused/journal.txt" ] || show "the refused host started a setup program"
for host in unstarted limits; do
    [ ! -e "$work/$host/results.json" ] || show "$host-host: the previous results file is still there"
done
[ "$(stat -c %a:%U:%G "$work/success/results")" = 700:root:root ] ||
    show "success-host: the results folder the play made is $(stat -c %a:%U:%G "$work/success/results")"
[ "$(stat -c %a "$work/exposed/shared")" = 777 ] || show "exposed-host: the play changed an existing folder"
iconv -f UTF-16 -t UTF-8 "$work/fetched/failure-host/Velkaro.log" 2>/dev/null | grep -c "Launching the Velkaro" >/dev/null ||
    show "failure-host: the log fetched is not the one its results file names"
# The play's limit ended Velkaro, and with it the setup program it had started.
velkaro_pid=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["processId"])' \
    "$work/fetched/runlimit-host/results.json")
setup_pid=$(sed -n 's/^pid=//p' "$work/runlimit/journal.txt")
for pid in "$velkaro_pid" "$setup_pid"; do
    [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null || show "runlimit-host: process $pid still runs"
done
# The fleet report the play writes over the fetched results files. A machine is named by the
# folder its file was fetched into, so each host that reported is a machine of its own; all of
# them are this one machine under other names, so every one is an identity mismatch. The hosts
# whose results file was not fetched are never reported.
summary="$work/fetched-report/summary.json"
[ -s "$work/fetched-report/report.html" ] || show "the play wrote no fleet report"
got=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
print("%(machines)s/%(identityMismatch)s/%(neverReported)s/%(unreadable)s" % d)' "$summary")
[ "$got" = 6/6/4/0 ] ||
    show "fleet report: machines/identity mismatches/never/unreadable $got, not 6/6/4/0"
echo "ansible: every host's outcome, reason, results file and log as expected, and the fleet report"

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
message="exit code 0: success"
[ "$code" -eq 0 ] || { cat "$work/readme.txt" >&2; fail "the guide's command ended with $code, not 0"; }
grep -q "Velkaro $message" "$work/readme.txt" || { cat "$work/readme.txt" >&2; fail "the guide's command: no '$message'"; }
[ -s "$top/deploy/ansible/fetched/readme-host/Velkaro.log" ] ||
    fail "the guide's command: the log did not land in deploy/ansible/fetched/readme-host"
echo "ansible: the guide's Linux command works as printed; both playbooks pass syntax check and lint"

