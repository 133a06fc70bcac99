#!/usr/bin/env bash
# The prerequisite handler end to end on an emulated Windows machine.
#
#   scripts/demo.sh [--windows] [--rate KBPS] [--patch NAME] [--prereq BINARY]
#
# Builds the release preset, creates a fresh machine root (agent settings pointing at
# a local store server, install language 0409, a Reader 10.1.0 registration whose
# cached AcroRead.msi has gone missing), starts the store server, installs a
# stand-in msiexec.exe, then runs `prereq -p <patch>` twice: the first run repairs
# the Reader source, the second finds it available. --rate sets the agent's
# download rate limit ("DataTransferRate_KBps"), which switches to the throttled
# ranged download. --prereq runs an already built program instead of building the
# release preset (the table-store shell `tamsel` is then taken from beside it). At
# the end, `tamsel` loads a small resource document into the table store and
# selects the resource identifier from it. The root is left in place for inspection.
# --windows runs the same demo with the Windows program prereq.exe under Wine instead:
# a fresh Wine prefix, Wine's own msiexec installing the package (the 32-bit build
# under WOW64, or the 64-bit build where the kernel cannot start 32-bit programs).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

rate=0
patch="READER-10.1.1"
prereq=""
windows=0
while [ $# -gt 0 ]; do
    case "$1" in
        --windows) windows=1; shift ;;
        --rate) rate="${2:?--rate needs a number of KB per second}"; shift 2 ;;
        --rate=*) rate="${1#--rate=}"; shift ;;
        --patch) patch="${2:?--patch needs a name}"; shift 2 ;;
        --prereq) prereq="${2:?--prereq needs a program}"; shift 2 ;;
        -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "demo: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
case "$rate" in ''|*[!0-9]*) echo "demo: --rate takes a whole number of KB per second" >&2; exit 2 ;; esac

if [ -t 1 ]; then
    section() { printf '\n\033[1m== %s ==\033[0m\n' "$*"; }
else
    section() { printf '\n== %s ==\n' "$*"; }
fi
indent() { sed 's/^/    /'; }

if [ "$windows" = 1 ]; then
    if [ -z "$prereq" ]; then
        section "Setup and Windows build"
        scripts/setup.sh
        # Wine's 32-bit loader starts only where the kernel runs 32-bit programs.
        if /usr/lib/wine/wine --version >/dev/null 2>&1; then
            preset=mingw-i686
            echo "demo: the 32-bit program (mingw-i686), as deployed, under WOW64 in a 64-bit prefix"
        else
            preset=mingw-x86_64
            echo "demo: this kernel cannot start 32-bit programs (Wine's 32-bit loader does not run here);"
            echo "demo: the 64-bit build of the same sources (mingw-x86_64) runs instead"
        fi
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset" --target prereq tamsel
        prereq="$repo/build/$preset/bin/prereq.exe"
    fi
    [ -f "$prereq" ] || { echo "demo: $prereq was not built" >&2; exit 1; }
    exec python3 "$repo/scripts/demo/windows_demo.py" --prereq "$prereq" --rate "$rate" --patch "$patch"
fi

if [ -z "$prereq" ]; then
    section "Setup and release build"
    scripts/setup.sh
    cmake --preset release >/dev/null
    cmake --build --preset release --target prereq tamsel
    prereq="$repo/build/release/bin/prereq"
fi
prereq=$(cd "$(dirname "$prereq")" && pwd)/$(basename "$prereq")
[ -x "$prereq" ] || { echo "demo: $prereq was not built" >&2; exit 1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-demo.XXXXXX")
export WINAPI_ROOT="$root"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

# ---- The store: the base package for en_US -------------------------------------------
store="$root/store-files"
mkdir -p "$store"
package="300297-AdbeRdr1010_en_US.msi"
work="$root/msi-build"
mkdir -p "$work"
head -c 1048576 /dev/urandom > "$work/payload.dat"
# The repair checks the package's ProductCode and ProductVersion before it registers
# or runs anything, so the store serves a real Installer database.
if ! (cd "$work" && wixl -D LanguageGroup=1033 -D ProductVersion=10.1.0 -o "$store/$package" \
        "$repo/scripts/demo/reader_base.wxs"); then
    echo "demo: wixl could not build the package (scripts/setup.sh installs it)" >&2
    exit 1
fi
made="an Installer database made with wixl (ProductCode {AC76BA86-7AD7-1033-7B44-AA1000000001}, ProductVersion 10.1.0)"

python3 "$repo/scripts/demo/store_server.py" --store "$store" --port-file "$root/store.port" \
    --log "$root/store-requests.log" &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$root/store.port" ] && break; sleep 0.05; done
[ -s "$root/store.port" ] || { echo "demo: the store server did not start" >&2; exit 1; }
port=$(cat "$root/store.port")
: > "$root/store-requests.log"

# ---- The machine -------------------------------------------------------------------------
installdir='C:\Program Files\Vantrel Agent'
setupdir='C:\ProgramData\Adobe\Setup\{AC76BA86-7AD7-1033-7B44-AA1000000001}'
reg() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }   # .reg text escapes backslashes
mkdir -p "$root/registry"
cat > "$root/registry/HKLM.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered]
"DAZeredInstallDir"="$(reg "$installdir")"
"DAZeredVersion"="7.2.0"
"MSPName"="Demo MSP"
"CustomerName"="Demo Customer"
"CustomerId"="DEMO1"
"VTProductCode"="RERI"
"EnableDistributionServer"="no"
"EnableDSRoute"="no"
"ProxyEnabled"="no"
"DataTransferRate_KBps"="$rate"
"DAZeredLogLevel"=dword:00000002
"VTEventEnabled"=dword:00000001

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered\\ServerInfo]
"VTServerName"="localhost"
"VTServerFlatName"="localhost"
"VTServerIPAddress"="127.0.0.1"
"VTServerSecIPAddress"="127.0.0.1"
"VTLastAccessName"="127.0.0.1"
"VTServerPort"="$port"
"VTServerProtocol"="http"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered\\SystemDetails]
"DAZeredResourceID"="demo-resource-1"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName]
"ComputerName"="DEMO-PC"

[HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network]
"AdapterCount"=dword:00000001

[HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network\\Adapter0]
"Name"="{4D36E972-E325-11CE-BFC1-08002BE10318}"
"Description"="Demo Ethernet Adapter"
"MacAddress"="00-15-5D-01-02-03"
"IPAddress"="192.168.56.10"
"SubnetMask"="255.255.255.0"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]
"Default"="0409"
"InstallLanguage"="0409"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{AC76BA86-7AD7-1033-7B44-AA1000000001}]
"DisplayVersion"="10.1.0"
"InstallSource"="$(reg "$setupdir")\\\\"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA73301B744AA0100000010\\SourceList]
"LastUsedSource"="n;1;$(reg "$setupdir")\\\\"
"PackageName"="AcroRead.msi"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA73301B744AA0100000010\\SourceList\\Net]
"1"="$(reg "$setupdir")\\\\"

EOF
# Reader's setup folder is there, but its cached package has gone missing.
mkdir -p "$root/drive_c/ProgramData/Adobe/Setup/{AC76BA86-7AD7-1033-7B44-AA1000000001}"
mkdir -p "$root/drive_c/Program Files/Vantrel Agent"
mkdir -p "$root/drive_c/Windows/system32"
install -m 0755 "$repo/scripts/demo/msiexec.sh" "$root/drive_c/Windows/system32/msiexec.exe"
: > "$root/msiexec-runs.log"

logfile="$root/drive_c/Program Files/Vantrel Agent/logs/rozedidavevazez.log"
cached="$root/drive_c/ProgramData/Adobe/Setup/{AC76BA86-7AD7-1033-7B44-AA1000000001}/AcroRead.msi"

# The Reader's Installer keys of the hive, as .reg text.
installer_keys() {
    awk '/^\[/ { show = ($0 ~ /68AB67CA7DA7/ || $0 ~ /\{AC76BA86-7AD7-/) } show && NF' "$root/registry/HKLM.reg" | indent
}
lines_from() { tail -n +"$(( $2 + 1 ))" "$1" 2>/dev/null || true; }
count_lines() { if [ -f "$1" ]; then wc -l < "$1"; else echo 0; fi; }

section "Machine"
echo "machine root:   $root"
echo "store server:   http://127.0.0.1:$port/store/ (pid $server_pid)"
echo "package:        \\store\\$package, $(stat -c %s "$store/$package") bytes, $made"
if [ "$rate" = 0 ] || [ "$rate" -gt 3072 ]; then
    echo "transfer rate:  no limit (plain download)$( [ "$rate" = 0 ] || echo "; the agent resets rates above 3072 to 0")"
else
    echo "transfer rate:  $rate KB/s (throttled download: HEAD, then ranges of $(( rate * 500 )) bytes)"
    echo "                note: the throttled download does not create the patches folder; it is created here"
    mkdir -p "$root/drive_c/Program Files/Vantrel Agent/patches"
fi
echo "agent folder:   $installdir"
echo "cached package: $setupdir\\AcroRead.msi ($( [ -f "$cached" ] && echo present || echo missing))"

section "Installer registration before"
installer_keys

run_prereq() {
    local n=$1 log_before req_before msi_before started ended rc
    log_before=$(count_lines "$logfile")
    req_before=$(count_lines "$root/store-requests.log")
    msi_before=$(count_lines "$root/msiexec-runs.log")
    section "Run $n: prereq -p $patch"
    started=$(date +%s%N)
    set +e
    (cd "$root/drive_c/Program Files/Vantrel Agent" &&
        "$prereq" -p "$patch" > "$root/run$n.stdout" 2> "$root/run$n.stderr")
    rc=$?
    set -e
    ended=$(date +%s%N)
    echo "exit code: $rc   (took $(( (ended - started) / 1000000 )) ms)"
    echo "standard output:"; indent < "$root/run$n.stdout"
    if [ -s "$root/run$n.stderr" ]; then echo "standard error:"; indent < "$root/run$n.stderr"; fi
    echo "log (new lines of rozedidavevazez.log, time stamps and thread ids left out):"
    lines_from "$logfile" "$log_before" | sed 's/^\[ [^]]* \] \[ [0-9]* \] //' | indent
    echo "requests to the store:"
    lines_from "$root/store-requests.log" "$req_before" | indent
    [ "$(count_lines "$root/store-requests.log")" -gt "$req_before" ] || echo "    (none)"
    echo "msiexec:"
    lines_from "$root/msiexec-runs.log" "$msi_before" | indent
    [ "$(count_lines "$root/msiexec-runs.log")" -gt "$msi_before" ] || echo "    (not run)"
    printf -v "rc$n" '%s' "$rc"
    printf -v "req$n" '%s' "$(( $(count_lines "$root/store-requests.log") - req_before ))"
    printf -v "msi$n" '%s' "$(( $(count_lines "$root/msiexec-runs.log") - msi_before ))"
}

run_prereq 1
section "Installer registration after run 1"
installer_keys
echo "cached package: $( [ -f "$cached" ] && echo present || echo missing)"
echo "downloaded:     $(ls "$root/drive_c/Program Files/Vantrel Agent/patches/" 2>/dev/null | tr '\n' ' ')"

run_prereq 2
section "Installer registration after run 2"
installer_keys

section "Table store: tamsel"
tamsel="$(dirname "$prereq")/tamsel"
store_root="$root/tamsel"
# The demo's table store: its data dictionary and one resource document.
cp -r "$repo/scripts/demo/tamsel" "$store_root"
if [ -x "$tamsel" ]; then
    echo "\$ tamsel --root $store_root --load $store_root/demo-pc.xml --select Agentparams \"PARAM_NAME='RESOURCE_ID'\" --tables"
    "$tamsel" --root "$store_root" --load "$store_root/demo-pc.xml" \
        --select Agentparams "PARAM_NAME='RESOURCE_ID'" --tables | indent
else
    echo "(tamsel was not built beside $prereq)"
fi

section "Summary"
echo "package check: $(grep -h 'CheckReaderPackage' "$logfile" | sed 's/^\[ [^]]* \] \[ [0-9]* \] //' | head -n 1)"
echo "run 1: exit code $rc1, $req1 store request(s), msiexec started $( [ "$msi1" -gt 0 ] && echo yes || echo no)"
echo "run 2: exit code $rc2, $req2 store request(s), msiexec started $( [ "$msi2" -gt 0 ] && echo yes || echo no)"
echo "machine root left for inspection: $root"
echo "  hive:    $root/registry/HKLM.reg"
echo "  log:     $logfile"
echo "  store:   $root/store-requests.log"
echo "  msiexec: $root/msiexec-runs.log"
