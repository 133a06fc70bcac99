#!/usr/bin/env bash
# Builds the sanitizer preset and runs every test, then cross-builds the product for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan -j "$jobs"

cmake --preset mingw-i686
cmake --build --preset mingw-i686 -j "$jobs"
echo "test.sh: all tests passed; Windows build: build/mingw-i686/bin/prereq.exe"
