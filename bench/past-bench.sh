#!/usr/bin/env bash
# The project against its own past: builds penamo-filter at an earlier commit beside the working
# tree and times both on the same saves, so that a change that makes a save slower is seen before
# it lands. Every filter (and none) into a bitmap and into a PNG, from a SIZE × SIZE gradient
# bitmap, the same picture as an 8-bit PNG and a 16-bit PNG; in interleaved rounds (each round
# times every save with both builds, in a random order), dirty data flushed (sync) before each
# timed command. Reports each save's median and range for both builds, now / past, whether the
# two outputs are byte for byte the same, and where the working tree's save spent its time (the
# stage times PENAMO_STAGE_TIMES makes penamo-filter print; a past build that cannot print them
# shows none). A filter the past build does not know is timed for the working tree alone.
#
#   bench/past-bench.sh [--busy] [--rounds N] [COMMIT]
#
# COMMIT: default the last commit on main before this branch's work: where HEAD left main, or on
# main itself HEAD's first parent (HEAD when the working tree has changes not committed).
# --busy: after the rounds at rest, all of them once more while a spinning process holds a core.
# --rounds N: rounds a pass (default 9).
#
# Environment: BUILD (the working tree's Release build folder, default build/bench-release),
# PAST_BUILDS (where past builds are kept, default build/past; REBUILD=1 builds again), SIZE
# (default 4096), FILTERS (default every filter and none), INPUTS (default "bmp png deep"),
# OUTPUTS (default "bmp png"), WORK (scratch folder, default a new one, removed at the end),
# MAIN (the main branch's name, default main).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=9
BUSY=0
PAST=
while [ $# -gt 0 ]; do
  case $1 in
    --busy) BUSY=1 ;;
    --rounds) ROUNDS=${2:?--rounds needs a count}; shift ;;
    --rounds=*) ROUNDS=${1#--rounds=} ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "past-bench.sh: unknown option $1" >&2; exit 2 ;;
    *) PAST=$1 ;;
  esac
  shift
done
case $ROUNDS in '' | *[!0-9]* | 0) echo "past-bench.sh: rounds must be a count" >&2; exit 2 ;; esac

SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
PAST_BUILDS=${PAST_BUILDS:-build/past}
FILTERS=${FILTERS:-none pattern4 pattern16 diffusion64 diffusion32 diffusion16 diffusion ordered}
INPUTS=${INPUTS:-bmp png deep}
OUTPUTS=${OUTPUTS:-bmp png}
MAIN=${MAIN:-main}
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# ---- Which past ----
if [ -z "$PAST" ]; then
  PAST=$(git merge-base HEAD "$MAIN")
  if [ "$PAST" = "$(git rev-parse HEAD)" ] && git diff --quiet HEAD -- . 2>/dev/null; then
    PAST=$(git rev-parse HEAD^1)
  fi
fi
PAST_HASH=$(git rev-parse --verify --quiet "$PAST^{commit}") || {
  echo "past-bench.sh: no commit $PAST" >&2
  exit 2
}
PAST_DIR=$PAST_BUILDS/${PAST_HASH:0:12}
# Run where it was built: from f94f0a0 on, penamo-filter finds libpenamo beside it in its build
# tree ($ORIGIN/../lib), so a copy of the program alone could not start.
PAST_TOOL=$PAST_DIR/build/app/penamo-filter

# ---- Both builds: Release, the command line only ----
configure() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
    -DPENAMO_BENCH="$3" "${LAUNCHER[@]}" >/dev/null
}
if [ ! -x "$PAST_TOOL" ] || [ "${REBUILD:-0}" = 1 ]; then
  echo "building $(git log -1 --format='%h %s' "$PAST_HASH" | cut -c1-90) in $PAST_DIR ..."
  # The past's sources in a worktree of their own for the build's time, at a fixed place so
  # that ccache finds the objects of an earlier build of the same commit.
  mkdir -p "$PAST_DIR"
  if [ -e "$PAST_DIR/src" ]; then git worktree remove --force "$PAST_DIR/src" 2>/dev/null || true; fi
  rm -rf "$PAST_DIR/src"
  git worktree prune
  git worktree add --detach "$PAST_DIR/src" "$PAST_HASH" >/dev/null 2>&1
  remove_past_src() { git worktree remove --force "$PAST_DIR/src" 2>/dev/null || true; }
  trap remove_past_src EXIT
  configure "$PAST_DIR/src" "$PAST_DIR/build" OFF
  nice cmake --build "$PAST_DIR/build" -j2 --target penamo-filter >/dev/null
  remove_past_src
  trap - EXIT
fi
echo "building the working tree in $BUILD ..."
[ -f "$BUILD/build.ninja" ] || configure . "$BUILD" ON
nice cmake --build "$BUILD" -j2 --target penamo-filter penamo_save_bench penamo_deep_save_bench \
  >/dev/null
NOW_TOOL=$BUILD/app/penamo-filter

# ---- The pictures ----
OWN_WORK=
if [ -z "${WORK:-}" ]; then
  WORK=$(mktemp -d)
  OWN_WORK=$WORK
fi
mkdir -p "$WORK/past" "$WORK/now"
BUSY_PID=
stop_busy() {
  if [ -n "$BUSY_PID" ]; then kill "$BUSY_PID" 2>/dev/null || true; wait "$BUSY_PID" 2>/dev/null || true; fi
  BUSY_PID=
}
trap 'stop_busy; [ -z "$OWN_WORK" ] || rm -rf "$OWN_WORK"' EXIT
[ -f "$WORK/in-bmp.bmp" ] ||
  "$BUILD/bench/penamo_save_bench" --make-gradient "$SIZE" "$SIZE" "$WORK/in-bmp.bmp"
[ -f "$WORK/in-png.png" ] || "$NOW_TOOL" none "$WORK/in-bmp.bmp" "$WORK/in-png.png"
[ -f "$WORK/in-deep.png" ] ||
  "$BUILD/bench/formats/penamo_deep_save_bench" --make "$SIZE" "$WORK/in-deep.png" \
    "$WORK/eight-unused.png" >/dev/null
input_file() {
  case $1 in
    bmp) echo "$WORK/in-bmp.bmp" ;;
    png) echo "$WORK/in-png.png" ;;
    deep) echo "$WORK/in-deep.png" ;;
    *) echo "past-bench.sh: unknown input $1 (bmp, png or deep)" >&2; exit 2 ;;
  esac
}

# Every save: FILTER:INPUT:OUTPUT.
SAVES=()
for input in $INPUTS; do
  for output in $OUTPUTS; do
    for filter in $FILTERS; do SAVES+=("$filter:$input:$output"); done
  done
done

# One save by one build (past or now); its standard error (the stage times) kept beside.
save() {
  local build=$1 key=$2 tool filter input output
  IFS=: read -r filter input output <<<"$key"
  tool=$([ "$build" = past ] && echo "$PAST_TOOL" || echo "$NOW_TOOL")
  PENAMO_STAGE_TIMES=1 "$tool" "$filter" "$(input_file "$input")" \
    "$WORK/$build/$filter-$input.$output" 2>"$WORK/$build/last.err"
}

# A first save of each by each build: warms the caches, finds what the past build refuses
# (a filter it does not know) and compares the outputs byte for byte.
declare -A PAST_KNOWS
DIFFERENT=()
REFUSED=()
echo "first saves, outputs compared ..."
for key in "${SAVES[@]}"; do
  IFS=: read -r filter input output <<<"$key"
  save now "$key" || { echo "the working tree failed on $key:"; cat "$WORK/now/last.err"; exit 1; }
  if save past "$key"; then
    PAST_KNOWS[$key]=1
    cmp -s "$WORK/past/$filter-$input.$output" "$WORK/now/$filter-$input.$output" ||
      DIFFERENT+=("$key")
  else
    PAST_KNOWS[$key]=0
    REFUSED+=("$key: $(head -n 1 "$WORK/past/last.err")")
  fi
done
# A past build that ran no save at all did not start (or was built wrong): nothing would be
# compared, and the verdict below would say no save got slower.
if [ ${#REFUSED[@]} = ${#SAVES[@]} ]; then
  echo "past-bench.sh: the past build ran none of the saves; the first said:" >&2
  echo "  ${REFUSED[0]}" >&2
  exit 1
fi
for refusal in "${REFUSED[@]}"; do echo "  the past build refused $refusal"; done

median() { sort -n "$1" | awk '{v[NR] = $1} END {printf "%d\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f-%.0f", lo / 1000, hi / 1000}'; }
# The median of each stage over a build's stage lines of one save, in ms.
stage_medians() {
  [ -s "$1" ] || { echo "-"; return; }
  local field out=""
  for field in read filter "writer wait" writer commit; do
    out+="$(grep -o "$field [0-9.]* ms" "$1" | grep -o '[0-9.]*' | sort -n |
      awk -v name="${field/writer wait/wait}" '{v[NR] = $1} END {if (NR) printf "%s %.0f ", name, (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}')"
  done
  # The parts' line of the last round (sleeps and alone vary little and say what happened).
  echo "${out% }; $(tail -1 "$1" | sed 's/.*; //')"
}

pass() {
  local label=$1 round key build start end
  for key in "${SAVES[@]}"; do rm -f "$WORK"/{past,now}/"${key//:/-}".{us,stages}; done
  echo
  echo "== $label: ${SIZE} x ${SIZE}, $ROUNDS interleaved rounds, now = working tree" \
    "($(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . || echo ' + changes')), past =" \
    "$(git log -1 --format='%h (%cs)' "$PAST_HASH"); $(nproc) cores; load before:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  for ((round = 1; round <= ROUNDS; round++)); do
    for key in "${SAVES[@]}"; do
      local builds=now
      [ "${PAST_KNOWS[$key]}" = 1 ] && builds=$(printf 'past\nnow\n' | shuf | xargs)
      for build in $builds; do
        sync
        start=$(date +%s%N)
        save "$build" "$key"
        end=$(date +%s%N)
        echo $(((end - start) / 1000)) >>"$WORK/$build/${key//:/-}.us"
        grep -h '^penamo stages:' "$WORK/$build/last.err" >>"$WORK/$build/${key//:/-}.stages" || true
      done
    done
    echo "  round $round of $ROUNDS done (load $(cut -d' ' -f1 /proc/loadavg))"
  done
  printf '%-24s %16s %16s %8s  %s\n' "save (filter:in:out)" "past ms (range)" "now ms (range)" \
    "now/past" "now's stages (medians, ms)"
  local past now ratio
  SLOWER=()
  for key in "${SAVES[@]}"; do
    local file=${key//:/-}
    now=$(median "$WORK/now/$file.us")
    if [ "${PAST_KNOWS[$key]}" = 1 ]; then
      past=$(median "$WORK/past/$file.us")
      ratio=$(printf '%.3f' "$(echo "$now / $past" | bc -l)")
      [ "$(echo "$ratio > 1.03" | bc)" = 0 ] || SLOWER+=("$key")
      past=$(printf '%.0f (%s)' "$(echo "$past / 1000" | bc -l)" "$(range "$WORK/past/$file.us")")
    else
      past="not known" ratio="-"
    fi
    printf '%-24s %16s %16s %8s  %s\n' "$key" "$past" \
      "$(printf '%.0f (%s)' "$(echo "$now / 1000" | bc -l)" "$(range "$WORK/now/$file.us")")" \
      "$ratio" "$(stage_medians "$WORK/now/$file.stages")"
    if [ -s "$WORK/past/$file.stages" ]; then
      printf '%-24s %16s %16s %8s  %s\n' "" "" "" "past:" "$(stage_medians "$WORK/past/$file.stages")"
    fi
  done
  if [ ${#SLOWER[@]} -gt 0 ]; then
    echo "SLOWER than the past by more than 3 % (median): ${SLOWER[*]}"
  else
    echo "no save slower than the past by more than 3 % (median)"
  fi
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

pass "at rest"
if [ "$BUSY" = 1 ]; then
  # One core held by a process of its own from the first round to the last.
  sh -c 'while :; do :; done' &
  BUSY_PID=$!
  pass "one core busy"
  stop_busy
fi

echo
if [ ${#DIFFERENT[@]} -eq 0 ]; then
  echo "outputs: every save both builds know is byte for byte the same"
else
  echo "outputs: ${#DIFFERENT[@]} saves DIFFER between the builds: ${DIFFERENT[*]}"
fi
