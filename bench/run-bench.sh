#!/usr/bin/env bash
# Decompression benchmark: untwx -i / -e against bzip2 -d on the same bytes.
# Usage: bench/run-bench.sh [options] [RUNS]      (RUNS defaults to 5)
# See bench/README.md for what is measured and how to read the table.
set -euo pipefail

SCRIPT_DIR=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd -- "$SCRIPT_DIR/.." && pwd)

CORPUS_BYTES=50000000
PAUSE_S=0            # untwx pauses only when its output is a console, not here
CODES=(64 8)         # block-size codes: 2 MiB and 256 KiB blocks

RUNS=5
STAGES=1
STAGE_RUNS=3
BIG=0
BIG_RUNS=1
BUILD_DIR="$REPO/build-bench"
WORK_DIR=""
KEEP=0

usage() {
  cat <<EOF
usage: $(basename "$0") [options] [RUNS]
  RUNS              measured runs per command (default 5)
  --big             also check that untwx -i needs no more memory on a corpus ten times as big
  --big-runs N      runs of the big listing (default 1)
  --corpus-bytes N  size of each corpus (default 50000000; the big one is ten times that),
                    for a quick try of the script only
  --build-dir DIR   build folder (default: build-bench/ in the repository)
  --work-dir DIR    folder for corpora, archives and outputs (default: a new temporary folder)
  --keep            keep the work folder
  --codes LIST      block-size codes to measure, comma-separated (default 64,8)
  --no-stages       skip the per-stage split
EOF
}

die() { echo "run-bench: $*" >&2; exit 1; }
note() { echo "== $*" >&2; }
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }

while (($#)); do
  case $1 in
    --big) BIG=1 ;;
    --corpus-bytes) [[ ${2-} =~ ^[1-9][0-9]*$ ]] || die "--corpus-bytes needs a positive number"; CORPUS_BYTES=$2; shift ;;
    --big-runs) [[ ${2-} =~ ^[1-9][0-9]*$ ]] || die "--big-runs needs a positive number"; BIG_RUNS=$2; shift ;;
    --build-dir) [[ -n ${2-} ]] || die "--build-dir needs a folder"; BUILD_DIR=$(absolute "$2"); shift ;;
    --work-dir) [[ -n ${2-} ]] || die "--work-dir needs a folder"; WORK_DIR=$(absolute "$2"); shift ;;
    --keep) KEEP=1 ;;
    --codes) [[ ${2-} =~ ^[1-9][0-9]*(,[1-9][0-9]*)*$ ]] || die "--codes needs codes like 64,8"; IFS=, read -r -a CODES <<<"$2"; shift ;;
    --no-stages) STAGES=0 ;;
    -h|--help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [[ $1 =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number, not '$1'"; RUNS=$1 ;;
  esac
  shift
done

BIG_BYTES=$((CORPUS_BYTES * 10))
WITH_64=0
for code in "${CODES[@]}"; do ((code == 64)) && WITH_64=1; done

# --- 1. tools and build ------------------------------------------------------

missing=()
command -v bzip2 >/dev/null || missing+=(bzip2)
command -v lbzip2 >/dev/null || missing+=(lbzip2)
command -v xz >/dev/null || missing+=(xz-utils)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
command -v taskset >/dev/null || missing+=(util-linux)
# twxwrite sorts with libdivsufsort.
[[ -e /usr/include/divsufsort.h ]] || missing+=(libdivsufsort-dev)
# apt_install WHY PACKAGE...: installs them as root, or stops and names them.
apt_install() {
  local why=$1
  shift
  ((EUID == 0)) || die "$why: $* (run as root to install them)"
  note "installing $* ($why)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update >&2
  apt-get install -y --no-install-recommends "$@" >&2
}
((${#missing[@]} == 0)) || apt_install "missing packages" "${missing[@]}"

note "building untwx, twxwrite and measure (Release) in $BUILD_DIR"
cmake -S "$SCRIPT_DIR" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$BUILD_DIR" --target untwx twxwrite measure >&2
UNTWX="$BUILD_DIR/untwx/untwx"
TWXWRITE="$BUILD_DIR/untwx/tools/twxwrite"
MEASURE="$BUILD_DIR/measure"
for tool in "$UNTWX" "$TWXWRITE" "$MEASURE"; do
  [[ -x $tool ]] || die "build produced no $tool"
done
# The same program with the stage clocks, for the per-stage split.
UNTWX_STAGES="$BUILD_DIR/stages/untwx/untwx"
if ((STAGES)); then
  note "building untwx with UNTWX_STAGE_TIMES in $BUILD_DIR/stages"
  cmake -S "$SCRIPT_DIR" -B "$BUILD_DIR/stages" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUNTWX_STAGE_TIMES=ON >&2
  cmake --build "$BUILD_DIR/stages" --target untwx >&2
  [[ -x $UNTWX_STAGES ]] || die "build produced no $UNTWX_STAGES"
fi

# --- 2. corpora and archives -------------------------------------------------

if [[ -z $WORK_DIR ]]; then
  WORK_DIR=$(mktemp -d "${TMPDIR:-/tmp}/untwx-bench.XXXXXX")
else
  mkdir -p "$WORK_DIR"
fi
cleanup() { ((KEEP)) || rm -rf -- "$WORK_DIR"; }
trap cleanup EXIT
note "work folder $WORK_DIR"

# The fixed corpora: taken from CORPUS_DIR when it holds them, otherwise
# made by their recipe from the Debian packages that hold their sources.
CORPUS_DIR="$REPO/../shared/corpus"
declare -A CORPUS_SHA256=(
  [text]=4df88166ed235fc3906b19a47171f2a6ea356675920033c4c4542a2a365df7db
  [binaries]=47a43c5da69f94588f6dd26ddae0a49cea3a38cdf8ba35a760c26a65fea93383
)
declare -A CORPUS_PACKAGE=([text]=mingw-w64-common [binaries]=wine)
declare -A CORPUS_PARENT=([text]=/usr/share/mingw-w64 [binaries]=/usr/lib/x86_64-linux-gnu/wine)
declare -A CORPUS_FOLDER=([text]=include [binaries]=x86_64-windows)
declare -A CORPUS_ORIGIN

# recipe_tar NAME BYTES: the first BYTES bytes of the name-sorted tar of the corpus's folder.
recipe_tar() {
  { tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 --mode=a+r,u+w,go-w \
      -cf - -C "${CORPUS_PARENT[$1]}" "${CORPUS_FOLDER[$1]}" 2>/dev/null || true; } | head -c "$2"
}

# make_corpus NAME BYTES: NAME.tar in the work folder, BYTES long.
make_corpus() {
  local name=$1 bytes=$2 file="$WORK_DIR/$1.tar" got sum
  if ((bytes == 50000000)) && [[ -f $CORPUS_DIR/$name.tar.xz ]]; then
    note "corpus $name.tar: unpacking $CORPUS_DIR/$name.tar.xz"
    xz -dc -- "$CORPUS_DIR/$name.tar.xz" >"$file"
    CORPUS_ORIGIN[$name]="$(cd -- "$CORPUS_DIR" && pwd)/$name.tar.xz"
  else
    [[ -d ${CORPUS_PARENT[$name]}/${CORPUS_FOLDER[$name]} ]] ||
      apt_install "the source of corpus $name" "${CORPUS_PACKAGE[$name]}"
    note "corpus $name.tar: first $bytes bytes of the sorted tar of ${CORPUS_PARENT[$name]}/${CORPUS_FOLDER[$name]}"
    recipe_tar "$name" "$bytes" >"$file"
    CORPUS_ORIGIN[$name]="recipe, ${CORPUS_PACKAGE[$name]} $(dpkg-query -W -f '${Version}' "${CORPUS_PACKAGE[$name]}" 2>/dev/null || echo '?')"
  fi
  got=$(stat -c %s "$file")
  ((got == bytes)) || die "corpus $name: only $got bytes, $bytes needed"
  sum=$(sha256sum "$file" | cut -d' ' -f1)
  if ((bytes != 50000000)); then
    CORPUS_CHECK[$name]="not the fixed corpus ($bytes bytes)"
  elif [[ $sum == "${CORPUS_SHA256[$name]}" ]]; then
    CORPUS_CHECK[$name]="sha256 matches"
  else
    CORPUS_CHECK[$name]="sha256 DIFFERS: $sum, not ${CORPUS_SHA256[$name]}; the numbers are not comparable with other runs"
  fi
  note "corpus $name.tar: ${CORPUS_CHECK[$name]}"
}
declare -A CORPUS_CHECK

CORPORA=(text binaries)
make_corpus text "$CORPUS_BYTES"
make_corpus binaries "$CORPUS_BYTES"
if ((BIG)); then
  # Ten times binaries in a row: the same kind of data, binaries its first tenth.
  note "corpus big.tar: binaries.tar ten times"
  for ((i = 0; i < 10; i++)); do cat -- "$WORK_DIR/binaries.tar"; done | head -c "$BIG_BYTES" >"$WORK_DIR/big.tar"
fi

for c in "${CORPORA[@]}"; do
  for code in "${CODES[@]}"; do
    note "twxwrite -b $code $c-$code.twx"
    "$TWXWRITE" -b "$code" "$WORK_DIR/$c-$code.twx" "$WORK_DIR/$c.tar"
  done
  note "bzip2 -9 -k $c.tar"
  bzip2 -9 -k -f "$WORK_DIR/$c.tar"
done
if ((BIG)); then
  note "twxwrite -b 64 big-64.twx"
  "$TWXWRITE" -b 64 "$WORK_DIR/big-64.twx" "$WORK_DIR/big.tar"
fi

# --- 3. measurements ---------------------------------------------------------

# Results per key, space-separated, one value per run.
declare -A CPU WALL RSS

# run_measured KEY OUTPUT COMMAND...: one run, stdin from /dev/null.
run_measured() {
  local key=$1 output=$2 line user sys wall rss rc
  shift 2
  line=$("$MEASURE" -o "$output" -- "$@" </dev/null) || die "measure failed on: $*"
  read -r user sys wall rss rc <<<"$line"
  ((rc == 0)) || die "exit code $rc from: $*"
  CPU[$key]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }') "
  WALL[$key]+="$wall "
  RSS[$key]+="$rss "
}

# check_same FILE CORPUS WHAT: fail loudly unless FILE holds the corpus.
check_same() {
  cmp -s -- "$1" "$2" || die "$3: output differs from $(basename "$2")"
  note "checked: $3 gives back $(basename "$2") byte for byte"
}

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
FLOOR=$("$MEASURE" -o /dev/null -- true </dev/null | cut -d' ' -f4)
EXTRACT_DIR="$WORK_DIR/extracted"
BZ_OUT="$WORK_DIR/bzip2.out"

# All commands take turns within each run, so that a change of load on the
# machine touches every command alike and the ratios stay comparable.
for ((run = 1; run <= RUNS; run++)); do
  note "run $run of $RUNS"
  for c in "${CORPORA[@]}"; do
    corpus="$WORK_DIR/$c.tar"
    run_measured "$c/bz/null" /dev/null bzip2 -dc "$corpus.bz2"
    for t in 1 2; do
      run_measured "$c/lbz$t/null" /dev/null lbzip2 -dc -n "$t" "$corpus.bz2"
    done
    rm -f -- "$BZ_OUT"
    run_measured "$c/bz/file" "$BZ_OUT" bzip2 -dc "$corpus.bz2"
    ((run == 1)) && check_same "$BZ_OUT" "$corpus" "bzip2 -dc $c.tar.bz2"
    rm -f -- "$BZ_OUT"
    for code in "${CODES[@]}"; do
      archive="$WORK_DIR/$c-$code.twx"
      run_measured "$c/$code/i" /dev/null "$UNTWX" -i "$archive"
      rm -rf -- "$EXTRACT_DIR"
      mkdir -- "$EXTRACT_DIR"
      run_measured "$c/$code/e" /dev/null "$UNTWX" -e "$archive" "$EXTRACT_DIR"
      ((run == 1)) && check_same "$EXTRACT_DIR/$c.tar" "$corpus" "untwx -e $c-$code.twx"
      rm -rf -- "$EXTRACT_DIR"
    done
    # On one processor untwx decodes without its second thread.
    if ((WITH_64)); then
      archive="$WORK_DIR/$c-64.twx"
      run_measured "$c/64/i1" /dev/null taskset -c 0 "$UNTWX" -i "$archive"
      mkdir -- "$EXTRACT_DIR"
      run_measured "$c/64/e1" /dev/null taskset -c 0 "$UNTWX" -e "$archive" "$EXTRACT_DIR"
      rm -rf -- "$EXTRACT_DIR"
      run_measured "$c/64/i4" /dev/null env UNTWX_THREADS=4 "$UNTWX" -i "$archive"
    fi
  done
done
if ((BIG)); then
  for ((run = 1; run <= BIG_RUNS; run++)); do
    note "big listing, run $run of $BIG_RUNS"
    run_measured "big/64/i" /dev/null "$UNTWX" -i "$WORK_DIR/big-64.twx"
  done
fi
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

# --- 4. the table ------------------------------------------------------------

# stats VALUES...: median min max
stats() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}
# max_mib KIB...: the largest value in MiB
max_mib() { printf '%s\n' "$@" | sort -g | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
mb() { awk -v n="$(stat -c %s "$1")" 'BEGIN { printf "%.3f", n / 1e6 }'; }
median_cpu() { local s; s=$(stats ${CPU[$1]}); echo "${s%% *}"; }

FORMAT='%-9s %4s  %-27s %10s %9s %15s %10s %8s %9s %6s\n'
row() {  # row CORPUS CODE COMMAND KEY ARCHIVE WALL_OFFSET RATIO1 RATIO2
  local med min max wmed
  read -r med min max <<<"$(stats ${CPU[$4]})"
  wmed=$(stats ${WALL[$4]} | awk -v off="$6" '{ printf "%.2f", $1 - off }')
  # shellcheck disable=SC2059
  printf "$FORMAT" "$1" "$2" "$3" "$(mb "$5")" "$med" "$min-$max" "$wmed" "$(max_mib ${RSS[$4]})" "$7" "$8"
}

echo
echo "untwx decompression benchmark: $RUNS runs per command, $(nproc) CPUs ($(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo))"
echo "load average before/after: $LOAD_BEFORE / $LOAD_AFTER; peak RSS floor of measure itself: $(awk -v k="$FLOOR" 'BEGIN { printf "%.1f", k / 1024 }') MiB"
for c in "${CORPORA[@]}"; do
  echo "$c = ${CORPUS_ORIGIN[$c]}: ${CORPUS_CHECK[$c]}"
done
((BIG)) && echo "big = binaries ten times in a row"
echo "CPU = user+sys s; wall = median s (untwx makes no closing pause with its output in a file); RSS = peak over the runs;"
echo "x bzip2 = median CPU of untwx -i / bzip2 -dc >/dev/null, of untwx -e / bzip2 -dc >file; -e/-i = untwx -e / untwx -i"
echo
# shellcheck disable=SC2059
printf "$FORMAT" corpus code command "archive MB" "CPU med" "CPU min-max" "wall med" "RSS MiB" "x bzip2" "-e/-i"
for c in "${CORPORA[@]}"; do
  row "$c" - "bzip2 -dc >/dev/null" "$c/bz/null" "$WORK_DIR/$c.tar.bz2" 0 - -
  for t in 1 2; do
    row "$c" - "lbzip2 -dc -n $t >/dev/null" "$c/lbz$t/null" "$WORK_DIR/$c.tar.bz2" 0 \
      "$(ratio "$(median_cpu "$c/lbz$t/null")" "$(median_cpu "$c/bz/null")")" -
  done
  row "$c" - "bzip2 -dc >file" "$c/bz/file" "$WORK_DIR/$c.tar.bz2" 0 - -
  for code in "${CODES[@]}"; do
    i=$(median_cpu "$c/$code/i")
    e=$(median_cpu "$c/$code/e")
    row "$c" "$code" "untwx -i" "$c/$code/i" "$WORK_DIR/$c-$code.twx" "$PAUSE_S" \
      "$(ratio "$i" "$(median_cpu "$c/bz/null")")" -
    row "$c" "$code" "untwx -e" "$c/$code/e" "$WORK_DIR/$c-$code.twx" "$PAUSE_S" \
      "$(ratio "$e" "$(median_cpu "$c/bz/file")")" "$(ratio "$e" "$i")"
  done
done

# Two threads against one, code 64: wall medians without the pause.
median_wall() { local s; s=$(stats ${WALL[$1]}); awk -v w="${s%% *}" -v off="$2" 'BEGIN { printf "%.3f", w - off }'; }
THREADS='%-9s %-11s %8s %8s %8s %8s %8s %8s %8s %8s %7s\n'
if ((WITH_64)); then
echo
echo "two threads (the next block decoded ahead) against one (taskset -c 0), code 64, and lbzip2 -n 2 against -n 1:"
echo "medians in s; x bz = the figure over bzip2 -dc's (>/dev/null for -i and lbzip2, >file for -e), CPU for CPU, wall for wall"
# shellcheck disable=SC2059
printf "$THREADS" corpus command "wall 2T" "wall 1T" "2T x bz" "1T x bz" "CPU 2T" "CPU 1T" "2T x bz" "1T x bz" "-e/-i"
# threads_row CORPUS COMMAND KEY2 KEY1 BZKEY EI
threads_row() {
  local w2 w1 c2 c1 wb cb
  w2=$(median_wall "$3" "$PAUSE_S")
  w1=$(median_wall "$4" "$PAUSE_S")
  c2=$(median_cpu "$3")
  c1=$(median_cpu "$4")
  wb=$(median_wall "$5" 0)
  cb=$(median_cpu "$5")
  # shellcheck disable=SC2059
  printf "$THREADS" "$1" "$2" "$w2" "$w1" "$(ratio "$w2" "$wb")" "$(ratio "$w1" "$wb")" \
    "$c2" "$c1" "$(ratio "$c2" "$cb")" "$(ratio "$c1" "$cb")" "$6"
}
for c in "${CORPORA[@]}"; do
  for cmd in i e; do
    bz=$([[ $cmd == i ]] && echo null || echo file)
    ei=-
    [[ $cmd == e ]] && ei=$(ratio "$(median_wall "$c/64/e" "$PAUSE_S")" "$(median_wall "$c/64/i" "$PAUSE_S")")
    threads_row "$c" "untwx -$cmd" "$c/64/$cmd" "$c/64/${cmd}1" "$c/bz/$bz" "$ei"
  done
  threads_row "$c" "lbzip2 -dc" "$c/lbz2/null" "$c/lbz1/null" "$c/bz/null" -
done
echo
echo "four threads (UNTWX_THREADS=4) on $(nproc) CPUs, untwx -i, code 64: CPU over the one-thread run's, peak RSS"
for c in "${CORPORA[@]}"; do
  printf '%-9s wall %s s  CPU %s s  x 1T CPU %s  RSS %s MiB\n' "$c" "$(median_wall "$c/64/i4" "$PAUSE_S")" \
    "$(median_cpu "$c/64/i4")" "$(ratio "$(median_cpu "$c/64/i4")" "$(median_cpu "$c/64/i1")")" "$(max_mib ${RSS[$c/64/i4]})"
done
fi

if ((BIG)); then
  row "big" 64 "untwx -i" "big/64/i" "$WORK_DIR/big-64.twx" "$PAUSE_S" - -
  small=$(printf '%s\n' ${RSS[binaries/64/i]} | sort -g | tail -n 1)
  large=$(printf '%s\n' ${RSS[big/64/i]} | sort -g | tail -n 1)
  prefix="binaries is the first tenth of big"
  cmp -s -n "$CORPUS_BYTES" -- "$WORK_DIR/binaries.tar" "$WORK_DIR/big.tar" || prefix="binaries is NOT the start of big"
  # Constant means: within 2 MiB, as page-cache and allocator noise allow.
  verdict=$(awk -v s="$small" -v l="$large" 'BEGIN { d = l - s; print (d <= 2048 && d >= -2048) ? "constant" : "NOT constant" }')
  echo
  echo "memory: untwx -i, code 64, peak RSS $(max_mib "$small") MiB on binaries ($(mb "$WORK_DIR/binaries.tar") MB) vs $(max_mib "$large") MiB on big ($(mb "$WORK_DIR/big.tar") MB): $verdict ($prefix)"
fi

# --- 5. per-stage split ------------------------------------------------------

if ((STAGES)); then
  # Cycles from processor time at the nominal clock (no cycle counter in a VM).
  MHZ=$(awk -F': ' '/^cpu MHz/ { print $2; exit }' /proc/cpuinfo)
  echo
  echo "per-stage processor time of untwx -i (median of $STAGE_RUNS runs each, build with UNTWX_STAGE_TIMES, one thread;"
  echo "the clocks cost a little); cycles = time x ${MHZ:-?} MHz (cpu MHz of /proc/cpuinfo) / symbols or bytes of the stage"
  for c in "${CORPORA[@]}"; do
    for code in "${CODES[@]}"; do
      echo "$c, code $code:"
      for ((run = 1; run <= STAGE_RUNS; run++)); do
        "$UNTWX_STAGES" -i "$WORK_DIR/$c-$code.twx" </dev/null 2>&1 >/dev/null | sed -n 's/^stage //p'
      done | awk -v mhz="${MHZ:-0}" -v runs="$STAGE_RUNS" '
        { ms = ""; for (i = 1; i <= NF; i++) if ($(i + 1) == "ms") { ms = $i; break }
          name = $1; for (j = 2; j < i; j++) name = name " " $j
          if (!(name in seen)) { seen[name] = 1; order[++n] = name }
          times[name, ++count[name]] = ms; units[name] = $(i + 2); what[name] = $(i + 3) }
        END {
          for (k = 1; k <= n; k++) {
            name = order[k]; m = count[name]
            for (a = 1; a <= m; a++) v[a] = times[name, a]
            for (a = 1; a <= m; a++) for (b = a + 1; b <= m; b++) if (v[b] < v[a]) { t = v[a]; v[a] = v[b]; v[b] = t }
            med = m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
            if (units[name] > 0 && mhz > 0)
              printf "  %-58s %9.1f ms %12d %-7s %7.1f cycles per %s\n", name, med, units[name], what[name],
                med * mhz * 1000 / units[name], what[name] == "symbols" ? "symbol" : "byte"
            else
              printf "  %-58s %9.1f ms\n", name, med
          } }'
    done
  done
fi
