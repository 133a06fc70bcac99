#!/usr/bin/env bash
# Builds the sanitizer preset and runs every test (the Linux suite), then builds the
# product for Windows and runs its whole job under Wine, then the Windows test programs
# (the unit suite) under Wine.
#
# The product is the 32-bit build (mingw-i686). Where the kernel cannot start 32-bit
# programs (no IA32 emulation), Wine can run only 64-bit Windows programs: the Windows
# job then runs from the 64-bit build (mingw-x86_64) instead, and the script says so.
# The unit suite runs from the 64-bit build on every machine; VT_WINDOWS_SUITE_ARCH=i686
# runs it from the 32-bit build instead (where Wine can start 32-bit programs).
set -euo pipefail
cd "$(dirname "$0")/.."

now() { date +%s; }
declare -a timings=()
phase() { timings+=("$(printf '%-28s %5ds' "$1" "$(( $(now) - $2 ))")"); }

t=$(now)
scripts/setup.sh
phase "set-up" "$t"

jobs=$(nproc 2>/dev/null || echo 2)

t=$(now)
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan -j "$jobs"
phase "Linux suite (build + run)" "$t"

# The Linux suite under ThreadSanitizer (tests/tsan.supp says what it suppresses and
# why): on request, as it doubles the Linux suite's time.
if [ "${VT_TSAN_SUITE:-0}" = 1 ]; then
    t=$(now)
    cmake --preset tsan
    cmake --build --preset tsan -j "$jobs"
    ctest --preset tsan -j "$jobs"
    phase "Linux suite under TSan" "$t"
fi

t=$(now)
cmake --preset mingw-i686
cmake --build --preset mingw-i686 -j "$jobs"
windows=mingw-i686
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "test.sh: this kernel cannot start 32-bit programs, so Wine runs 64-bit Windows programs only;"
    echo "test.sh: the job under Wine runs from the x86_64 build"
    windows=mingw-x86_64
    cmake --preset "$windows"
    cmake --build --preset "$windows" -j "$jobs"
fi
phase "Windows build" "$t"

t=$(now)
ctest --preset "$windows" -j "$jobs" -L wine_job
phase "whole job under Wine" "$t"

# The Windows test programs under Wine (tests not run there: tests/windows_skips.txt and
# the Linux-only list in tests/CMakeLists.txt); VT_WINDOWS_SUITE=0 leaves them out.
if [ "${VT_WINDOWS_SUITE:-1}" = 1 ]; then
    suite=mingw-${VT_WINDOWS_SUITE_ARCH:-x86_64}
    t=$(now)
    cmake --preset "$suite" -DVT_BUILD_WINDOWS_TESTS=ON
    cmake --build --preset "$suite" -j "$jobs"
    phase "Windows suite build" "$t"
    t=$(now)
    ctest --preset "$suite" -j "$jobs" -LE wine_job
    phase "Windows suite under Wine" "$t"
fi

echo "test.sh: all tests passed; Windows build: build/mingw-i686/bin/prereq.exe"
printf '  %s\n' "${timings[@]}"
