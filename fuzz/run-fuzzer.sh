#!/usr/bin/env bash
# Fuzzes for SECONDS, split between the two targets: the decode target on a
# scratch copy of the seed archives, the round-trip target on its own seeds.
# Builds the fuzzers first if needed. Exits 1 on any finding.
#   fuzz/run-fuzzer.sh SECONDS
# UNTWX_FUZZ_BUILD: build folder (default: build/fuzz in the source tree, the
# fuzz preset); UNTWX_BUILD_JOBS: parallel build jobs (default 2).
set -euo pipefail
if [ $# -ne 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 2 ]; then
  echo "usage: $0 SECONDS  (at least 2)" >&2
  exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UNTWX_FUZZ_BUILD:-$root/build/fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset fuzz -B "$build")
fi
cmake --build "$build" --target untwx_fuzzer untwx_roundtrip_fuzzer --parallel "${UNTWX_BUILD_JOBS:-2}"

# The corpora grow in the build folder; the seeds in the repository stay small.
work=$build/fuzz-work
mkdir -p "$work/corpus" "$work/roundtrip-corpus" "$work/findings"
cp "$root"/fuzz/corpus/* "$root"/tests/data/sample.twx "$work/corpus/"
cp "$root"/fuzz/roundtrip-corpus/* "$work/roundtrip-corpus/"
for kind in regressions roundtrip-regressions; do
  target=$([ "$kind" = regressions ] && echo corpus || echo roundtrip-corpus)
  if [ -d "$root/tests/data/$kind" ]; then
    find "$root/tests/data/$kind" -type f -exec cp {} "$work/$target/" \;
  fi
done

# Every run allocates its stages afresh: a small quarantine reuses that memory
# instead of touching new pages each time (use after free within a run and
# the next few runs is still caught), which makes the runs several times faster.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
half=$((seconds / 2))
status=0
"$build/fuzz/untwx_fuzzer" "$work/corpus" -max_total_time="$half" -max_len=65536 \
  -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$work/findings/decode-" || status=$?
if [ "$status" -eq 0 ]; then
  "$build/fuzz/untwx_roundtrip_fuzzer" "$work/roundtrip-corpus" -max_total_time="$((seconds - half))" \
    -max_len=4096 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/findings/roundtrip-" || status=$?
fi
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a broken promise (exit $status); reproducer in $work/findings/" >&2
  ls -l "$work/findings/" >&2 || true
  exit 1
fi
echo "fuzzing for $seconds s found nothing"
