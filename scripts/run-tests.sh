#!/usr/bin/env bash
# Builds the win32, native, asan and tsan presets (CMakePresets.json) and runs
# every test suite: unit and in-process tests, end-to-end tests natively and
# under Wine, everything again under the sanitizers (ThreadSanitizer for the
# second decoding thread), the fuzz corpus replays and a bounded run of both
# fuzz targets.
# UNTWX_BUILD_ROOT: where the build folders go (default: build/ in the source
# tree); UNTWX_FUZZ_SECONDS: fuzzing time, split between the two targets
# (default 120; 0 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${UNTWX_BUILD_ROOT:-$root/build}
fuzz_seconds=${UNTWX_FUZZ_SECONDS:-120}

if [ "$(id -u)" = 0 ]; then
  bash scripts/install-deps.sh
fi

echo "== Win32 build"
cmake --preset win32 -B "$out/win32"
cmake --build "$out/win32" --target untwx

echo "== Native build"
cmake --preset native -B "$out/native" -DUNTWX_WIN32_EXE="$out/win32/UNTWX.exe"
cmake --build "$out/native"

echo "== Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset asan -B "$out/asan"
cmake --build "$out/asan"

echo "== Sanitizer build (ThreadSanitizer)"
cmake --preset tsan -B "$out/tsan"
cmake --build "$out/tsan"

# Wine creates its prefix on first start; do it once before the parallel tests.
export WINEDEBUG=-all
timeout 300 wineboot -i >/dev/null 2>&1 || true

echo "== Tests: native build, end-to-end natively and under Wine"
ctest --preset native --test-dir "$out/native"

echo "== Tests: sanitizer build"
ctest --preset asan --test-dir "$out/asan"

echo "== Tests: ThreadSanitizer build"
ctest --preset tsan --test-dir "$out/tsan"

if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== Fuzzing for $fuzz_seconds s"
  UNTWX_FUZZ_BUILD="$out/asan" bash fuzz/run-fuzzer.sh "$fuzz_seconds"
fi
echo "== All tests passed"
