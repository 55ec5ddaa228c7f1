#!/usr/bin/env bash
# Fuzzes the archive reader for SECONDS on a scratch copy of the seed corpus,
# building the fuzzer first if needed. Exits 1 on any finding.
#   fuzz/run-fuzzer.sh SECONDS
# UNTWX_FUZZ_BUILD: build folder (default: build/fuzz in the source tree);
# UNTWX_BUILD_JOBS: parallel build jobs (default 2).
set -euo pipefail
if [ $# -ne 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UNTWX_FUZZ_BUILD:-$root/build/fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DUNTWX_FUZZ=ON -DUNTWX_SANITIZE=ON
fi
cmake --build "$build" --target untwx_fuzzer --parallel "${UNTWX_BUILD_JOBS:-2}"

# The corpus grows in the build folder; the seeds in the repository stay small.
work=$build/fuzz-work
mkdir -p "$work/corpus" "$work/findings"
cp "$root"/fuzz/corpus/* "$root"/tests/data/sample.twx "$work/corpus/"
if [ -d "$root/tests/data/regressions" ]; then
  find "$root/tests/data/regressions" -type f -exec cp {} "$work/corpus/" \;
fi

status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  "$build/fuzz/untwx_fuzzer" "$work/corpus" -max_total_time="$seconds" -max_len=65536 \
  -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$work/findings/" || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a broken promise (exit $status); reproducer in $work/findings/" >&2
  ls -l "$work/findings/" >&2 || true
  exit 1
fi
echo "fuzzing for $seconds s found nothing"
