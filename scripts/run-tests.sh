#!/usr/bin/env bash
# Builds the native, Win32 and sanitizer builds and runs every test suite:
# unit and in-process tests, end-to-end tests natively and under Wine, the
# sanitizer run, the fuzz corpus replay and a bounded fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${UNTWX_BUILD_ROOT:-$root/build}
fuzz_seconds=${UNTWX_FUZZ_SECONDS:-120}

if [ "$(id -u)" = 0 ]; then
  bash scripts/install-deps.sh
fi

echo "== Win32 build"
cmake -S . -B "$out/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DUNTWX_WERROR=ON -DBUILD_TESTING=OFF
cmake --build "$out/win32" --target untwx

echo "== Native build"
cmake -S . -B "$out/native" -G Ninja -DUNTWX_WERROR=ON -DUNTWX_WIN32_EXE="$out/win32/UNTWX.exe"
cmake --build "$out/native"

echo "== Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
CC=clang CXX=clang++ cmake -S . -B "$out/asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUNTWX_WERROR=ON -DUNTWX_SANITIZE=ON -DUNTWX_FUZZ=ON
cmake --build "$out/asan"

# Wine creates its prefix on first start; do it once before the parallel tests.
export WINEDEBUG=-all
timeout 300 wineboot -i >/dev/null 2>&1 || true

echo "== Tests: native build, end-to-end natively and under Wine"
ctest --test-dir "$out/native" -j8 --output-on-failure

echo "== Tests: sanitizer build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$out/asan" -j4 --output-on-failure -E '^wine\.'

if [ "$fuzz_seconds" -gt 0 ] && [ -x fuzz/run-fuzzer.sh ]; then
  echo "== Fuzzing for $fuzz_seconds s"
  UNTWX_FUZZ_BUILD="$out/asan" bash fuzz/run-fuzzer.sh "$fuzz_seconds"
fi
echo "== All tests passed"
