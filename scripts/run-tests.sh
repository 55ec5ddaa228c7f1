#!/usr/bin/env bash
# Runs every test suite in two tiers (presets in CMakePresets.json).
# Fast tier: the native build of the unit tests and the unit and in-process
# tests, stopping at the first failure. Then the rest: UNTWX.exe and the rest
# of the native build, the end-to-end tests natively and under Wine and the
# corpus replays, every native suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the suites that run two threads under
# ThreadSanitizer, and a bounded run of the four fuzz targets.
# UNTWX_BUILD_ROOT: where the build folders go (default: build/ in the source
# tree); UNTWX_FUZZ_SECONDS: fuzzing time, split between the four targets
# (default 120; 0 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${UNTWX_BUILD_ROOT:-$root/build}
fuzz_seconds=${UNTWX_FUZZ_SECONDS:-120}
# One test a processor: some tests time pauses and would be late on a machine
# running more tests than it has processors.
jobs=$(nproc)

if [ "$(id -u)" = 0 ]; then
  bash scripts/install-deps.sh
fi

tier() {
  echo "== $1 ($(date -u +%T), ${SECONDS}s)"
}

# The test presets of CMakePresets.json, for any build folder: ctest --preset
# takes the preset's folder in the source tree over --test-dir once that
# folder exists, so the options are given here.
run_tests() {
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "$@"
}

tier "Fast tier: native build of the unit tests"
cmake --preset native -B "$out/native" -DUNTWX_WIN32_EXE="$out/win32/UNTWX.exe"
cmake --build "$out/native" --target untwx_unit_tests untwx_in_process_tests untwx_posix_tests

tier "Fast tier: unit and in-process tests"
run_tests "$out/native" -L '^unit$' --stop-on-failure

tier "Win32 build"
cmake --preset win32 -B "$out/win32"
cmake --build "$out/win32" --target untwx

tier "Native build: the program, the end-to-end tests and the replay drivers"
cmake --build "$out/native"

tier "Packages: the .deb with the binary and the man page, the Win32 zip"
groff -man -ww -z "$out/native/untwx.1" 2>&1 | tee "$out/man-warnings.txt"
test ! -s "$out/man-warnings.txt"
(cd "$out/native" && cpack -G DEB >/dev/null)
deb_files=$(dpkg -c "$out"/native/untwx_*.deb)
grep -q './usr/share/man/man1/untwx.1$' <<<"$deb_files" && grep -q './usr/bin/untwx$' <<<"$deb_files"
(cd "$out/win32" && cpack -G ZIP >/dev/null)
zip_files=$(cmake -E tar tf "$out"/win32/untwx-*-Windows.zip)
grep -q 'bin/UNTWX.exe$' <<<"$zip_files"

# Wine creates its prefix on first start; do it once before the parallel tests.
export WINEDEBUG=-all
timeout 300 wineboot -i >/dev/null 2>&1 || true

tier "Tests: end-to-end natively and under Wine, corpus replays"
run_tests "$out/native" -LE '^unit$'

tier "Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset asan -B "$out/asan"
cmake --build "$out/asan"

tier "Tests: sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_tests "$out/asan" -LE '^wine$'

tier "ThreadSanitizer build of the suites that run two threads"
cmake --preset tsan -B "$out/tsan"
cmake --build "$out/tsan" --target untwx_in_process_tests untwx_e2e_tests untwx_fuzz_replay untwx_threads_replay untwx_roundtrip_replay untwx_stage_replay

tier "Tests: ThreadSanitizer build"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_tests "$out/tsan" -L '^(threads|fuzz)$' -E '^DamagedArchiveTokenStream\.'

if [ "$fuzz_seconds" -gt 0 ]; then
  tier "Fuzzing for $fuzz_seconds s"
  UNTWX_FUZZ_BUILD="$out/asan" bash fuzz/run-fuzzer.sh "$fuzz_seconds"
fi
tier "All tests passed"
