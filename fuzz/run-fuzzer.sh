#!/usr/bin/env bash
# Fuzzes for SECONDS, split evenly between the four targets: the decode
# target and the threads target on scratch copies of the seed archives, the
# round-trip and the stage targets on their own seeds. Builds the fuzzers
# first if needed. Exits 1 on any finding.
#   fuzz/run-fuzzer.sh SECONDS
# UNTWX_FUZZ_BUILD: build folder (default: build/fuzz in the source tree, the
# fuzz preset); UNTWX_BUILD_JOBS: parallel build jobs (default 2).
set -euo pipefail
if [ $# -ne 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 4 ]; then
  echo "usage: $0 SECONDS  (at least 4)" >&2
  exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UNTWX_FUZZ_BUILD:-$root/build/fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset fuzz -B "$build")
fi
cmake --build "$build" --target untwx_fuzzer untwx_threads_fuzzer untwx_roundtrip_fuzzer untwx_stage_fuzzer \
  --parallel "${UNTWX_BUILD_JOBS:-2}"

# The corpora grow in the build folder; the seeds in the repository stay small.
work=$build/fuzz-work
mkdir -p "$work/findings"
seed() {  # seed CORPUS SOURCE...: copies the seed files and folders into the corpus
  local corpus=$work/$1
  shift
  mkdir -p "$corpus"
  for source in "$@"; do
    if [ -e "$source" ]; then
      find "$source" -type f -exec cp {} "$corpus/" \;
    fi
  done
}
seed corpus "$root/fuzz/corpus" "$root/tests/data/sample.twx" "$root/tests/data/regressions"
seed threads-corpus "$root/fuzz/corpus" "$root/tests/data/sample.twx" "$root/tests/data/regressions"
seed roundtrip-corpus "$root/fuzz/roundtrip-corpus" "$root/tests/data/roundtrip-regressions"
seed stage-corpus "$root/fuzz/stage-corpus" "$root/tests/data/stage-regressions"

# The decode targets keep their stages from input to input; the threads
# target starts a worker thread per run with two threads. A small quarantine
# reuses freed memory instead of touching new pages each time (use after free
# within a run and the next few runs is still caught).
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
share=$((seconds / 4))
status=0
run() {  # run FUZZER CORPUS FINDINGS-PREFIX MAX-LEN SECONDS
  "$build/fuzz/$1" "$work/$2" -max_total_time="$5" -max_len="$4" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/findings/$3-" || status=$?
}
run untwx_fuzzer corpus decode 65536 "$share"
[ "$status" -eq 0 ] && run untwx_threads_fuzzer threads-corpus threads 65536 "$share"
[ "$status" -eq 0 ] && run untwx_roundtrip_fuzzer roundtrip-corpus roundtrip 4096 "$share"
[ "$status" -eq 0 ] && run untwx_stage_fuzzer stage-corpus stage 4096 "$((seconds - 3 * share))"
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a broken promise (exit $status); reproducer in $work/findings/" >&2
  ls -l "$work/findings/" >&2 || true
  exit 1
fi
echo "fuzzing for $seconds s found nothing"
