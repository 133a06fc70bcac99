#!/usr/bin/env bash
# Runs a Windows program of the build under Wine (CMake's cross-compiling emulator).
#
#   wine-run.sh <program.exe> [arguments...]
#       runs the program in the Wine prefix named after it, <build>/wine/<program>,
#       copied from one template prefix (made with wineboot once) when missing;
#   wine-run.sh --reset <prefixes folder> <win32|win64>
#       removes the per-program prefixes so a test run starts from fresh ones, and
#       makes the template when missing.
#
# A 32-bit program runs in a 32-bit prefix, a 64-bit one in a 64-bit prefix.
# VT_WINE_PREFIXES overrides the prefixes folder.
set -euo pipefail

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

loader_for() {  # wine for win32 prefixes, wine64 for win64 ones
    if [ "$1" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}

make_template() {
    local base=$1 arch=$2
    mkdir -p "$base"
    (
        flock 9
        if [ ! -f "$base/template/.ready" ]; then
            rm -rf "$base/template"
            WINEARCH=$arch WINEPREFIX="$base/template" "$(loader_for "$arch")" wineboot -i >/dev/null 2>&1
            WINEPREFIX="$base/template" wineserver -w
            echo "$arch" > "$base/template/.ready"
        fi
    ) 9>"$base/.lock"
}

if [ "${1:-}" = "--reset" ]; then
    base=${VT_WINE_PREFIXES:-$2}
    arch=${3:-win32}
    if [ -f "$base/template/.ready" ] && [ "$(cat "$base/template/.ready")" != "$arch" ]; then
        rm -rf "$base/template"
    fi
    make_template "$base" "$arch"
    (
        flock 9
        for p in "$base"/*/; do
            p=${p%/}
            [ "$(basename "$p")" = template ] && continue
            WINEPREFIX="$p" wineserver -k 2>/dev/null || true
            rm -rf "$p"
        done
    ) 9>"$base/.lock"
    exit 0
fi

exe=$1
shift
# The machine field of the PE header: 8664 for x86_64, 014c for i386.
pe=$(od -An -t u4 -j 60 -N 4 "$exe" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$exe" | tr -d ' ')
arch=win32
[ "$machine" = 8664 ] && arch=win64
base=${VT_WINE_PREFIXES:-$(cd "$(dirname "$exe")/.." && pwd)/wine}
prefix=$base/$(basename "$exe" .exe)
if [ ! -f "$prefix/.ready" ]; then
    make_template "$base" "$arch"
    (
        flock 9
        if [ ! -f "$prefix/.ready" ]; then
            rm -rf "$prefix"
            cp -a "$base/template" "$prefix"
        fi
    ) 9>"$base/.lock"
fi
export WINEPREFIX=$prefix WINEARCH=$arch
# ctest runs each test as a program of its own: a server kept for a minute after the
# last one ends spares the next test the prefix's start-up (seconds instead of a fraction).
wineserver -p60 </dev/null >/dev/null 2>&1 || true
# The server and the prefix's own processes (services, devices, desktop) outlive the
# program. They must not hold the caller's output open, or the caller (ctest) waits for
# them: the program writes to files of its own, which are passed on as they grow and
# once more when it ends.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
err=$out.err
trap 'rm -f "$out" "$err"' EXIT
: >"$err"   # before the readers start: the program's own redirection may come later
"$(loader_for "$arch")" "$exe" "$@" </dev/null >"$out" 2>"$err" &
pid=$!
tail -n +1 -s 0.1 --pid="$pid" -f "$out" &
tail -n +1 -s 0.1 --pid="$pid" -f "$err" >&2 &
rc=0
wait "$pid" || rc=$?
wait
exit "$rc"
