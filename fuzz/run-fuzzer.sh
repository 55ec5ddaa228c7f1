#!/usr/bin/env bash
# Fuzzes for SECONDS, split evenly between the four targets, or all of it
# on the one TARGET named: the decode target and the threads target on
# scratch copies of the seed archives, the round-trip and the stage targets
# on their own seeds. Builds the fuzzers first if needed. Exits 1 on any
# finding.
#   fuzz/run-fuzzer.sh SECONDS [decode|threads|roundtrip|stage]
# UNTWX_FUZZ_BUILD: build folder (default: build/fuzz in the source tree, the
# fuzz preset); UNTWX_BUILD_JOBS: parallel build jobs (default 2).
set -euo pipefail
usage() {
  echo "usage: $0 SECONDS [decode|threads|roundtrip|stage]  (at least 4 seconds for all four)" >&2
  exit 2
}
[ $# -eq 1 ] || [ $# -eq 2 ] || usage
[[ $1 =~ ^[0-9]+$ ]] || usage
seconds=$1
only=${2:-}
case $only in
  "") [ "$seconds" -ge 4 ] || usage ;;
  decode | threads | roundtrip | stage) [ "$seconds" -ge 1 ] || usage ;;
  *) usage ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UNTWX_FUZZ_BUILD:-$root/build/fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset fuzz -B "$build")
fi
fuzzer_of() {  # the fuzzer of a target name
  case $1 in
    decode) echo untwx_fuzzer ;;
    *) echo "untwx_$1_fuzzer" ;;
  esac
}
if [ -n "$only" ]; then
  targets=$(fuzzer_of "$only")
else
  targets="untwx_fuzzer untwx_threads_fuzzer untwx_roundtrip_fuzzer untwx_stage_fuzzer"
fi
# shellcheck disable=SC2086  # one word per target
cmake --build "$build" --target $targets --parallel "${UNTWX_BUILD_JOBS:-2}"

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

# The decode targets keep their stages, and the threads target its reader's
# threads too, from input to input. A small quarantine
# reuses freed memory instead of touching new pages each time (use after free
# within a run and the next few runs is still caught).
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
share=$((seconds / 4))
status=0
run() {  # run TARGET CORPUS MAX-LEN SECONDS: the target on its corpus, findings named after it
  "$build/fuzz/$(fuzzer_of "$1")" "$work/$2" -max_total_time="$4" -max_len="$3" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/findings/$1-" || status=$?
}
case $only in
  decode) run decode corpus 65536 "$seconds" ;;
  threads) run threads threads-corpus 65536 "$seconds" ;;
  roundtrip) run roundtrip roundtrip-corpus 4096 "$seconds" ;;
  stage) run stage stage-corpus 4096 "$seconds" ;;
  *)
    run decode corpus 65536 "$share"
    [ "$status" -eq 0 ] && run threads threads-corpus 65536 "$share"
    [ "$status" -eq 0 ] && run roundtrip roundtrip-corpus 4096 "$share"
    [ "$status" -eq 0 ] && run stage stage-corpus 4096 "$((seconds - 3 * share))"
    ;;
esac
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a broken promise (exit $status); reproducer in $work/findings/" >&2
  ls -l "$work/findings/" >&2 || true
  exit 1
fi
echo "fuzzing${only:+ $only} for $seconds s found nothing"
