#!/bin/sh
# Stand-in for the Windows Installer (installed as C:\Windows\system32\msiexec.exe in
# an emulated machine root). It records how it was run and leaves behind what an
# install of the Reader base package leaves: the cached package AcroRead.msi in
# Reader's setup folder for the machine's install language.
#
# Records, appended to $WINAPI_ROOT/msiexec-runs.log: the command line exactly as
# given, the current directory (Windows form and host folder) and the outcome.
# MSIEXEC_EXIT_CODE (default 0) sets the exit code it reports, e.g. 3010; a list
# such as "1618 1618 0" gives the n-th run the n-th code (the last one repeats). A
# run that reports 1618 (another installation in progress) installs nothing.
runs="$WINAPI_ROOT/msiexec-runs.log"
count="$WINAPI_ROOT/msiexec-count"
run=$(( $(cat "$count" 2>/dev/null || echo 0) + 1 ))
echo "$run" > "$count"
set -- ${MSIEXEC_EXIT_CODE:-0} -- "$@"
code=$1
n=1
while [ "$1" != "--" ]; do
    [ "$n" -le "$run" ] && code=$1
    n=$(( n + 1 ))
    shift
done
shift
# printf, not echo: a shell's echo may expand the backslashes of Windows paths.
{
    printf 'command line: %s\n' "$WINAPI_COMMAND_LINE"
    printf 'directory:    %s\n' "$WINAPI_CURRENT_DIRECTORY"
    printf 'host folder:  %s\n' "$(pwd)"
} >> "$runs"

exit_code() {
    # Windows exit codes are 32-bit; the stand-in reads them from this file.
    [ -n "$WINAPI_EXIT_CODE_FILE" ] && echo "$1" > "$WINAPI_EXIT_CODE_FILE"
    printf 'result:       %s (%s)\n' "$1" "$2" >> "$runs"
    exit $(( $1 % 256 ))
}

package=""
quiet=""
while [ $# -gt 0 ]; do
    case "$1" in
        /i|/I|-i) package="$2"; shift 2 ;;
        /qn|/QN|-qn) quiet=yes; shift ;;
        *) shift ;;
    esac
done
[ -n "$package" ] || exit_code 1639 "invalid command line"
[ -n "$quiet" ] || exit_code 1639 "only silent installs are supported here"

# "C:\dir\file.msi" -> "$WINAPI_ROOT/drive_c/dir/file.msi"
drive=$(printf '%s' "$package" | cut -c1 | tr 'A-Z' 'a-z')
rest=$(printf '%s' "$package" | cut -c3- | tr '\\' '/')
host="$WINAPI_ROOT/drive_$drive$rest"
[ -f "$host" ] || exit_code 1619 "package cannot be opened: $host"
[ "$code" != 1618 ] || exit_code 1618 "another installation is in progress"

# The product's language group is the install language in decimal.
hive="$WINAPI_ROOT/registry/HKLM.reg"
lang=$(sed -n 's/^"InstallLanguage"="\([0-9A-Fa-f]*\)".*/\1/p' "$hive" 2>/dev/null | head -n 1)
[ -n "$lang" ] || lang=0409
group=$(printf '%d' "0x$lang")
setup="$WINAPI_ROOT/drive_c/ProgramData/Adobe/Setup/{AC76BA86-7AD7-$group-7B44-AA1000000001}"
mkdir -p "$setup" && cp "$host" "$setup/AcroRead.msi" || exit_code 1603 "cannot cache the package"
printf 'cached:       %s\n' "C:\\ProgramData\\Adobe\\Setup\\{AC76BA86-7AD7-$group-7B44-AA1000000001}\\AcroRead.msi" >> "$runs"
exit_code "$code" "installed"
