#!/usr/bin/env bash
# Runs penamo-filter with every filter over every file of the shared bitmap suite and checks
# that each run ends as the command promises: exit 0 with a 24-bit bitmap file written, or
# exit 1 with a message and no file; never a signal, never a hang.
#
#   scripts/filter-suite.sh [path/to/penamo-filter] [path/to/bmpsuite]
set -uo pipefail
cd "$(dirname "$0")/.."
filter=${1:-build/test/app/penamo-filter}
suite=${2:-../shared/bmpsuite}
[ -x "$filter" ] || { echo "no penamo-filter at $filter (build first, or pass its path)" >&2; exit 2; }
[ -d "$suite" ] || { echo "no bitmap suite at $suite" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=0 written=0 refused=0 failures=0
for file in "$suite"/{g,q,b,x}/*.bmp; do
  [ -e "$file" ] || continue
  for name in none pattern4 pattern16 diffusion64 diffusion32 diffusion16; do
    out="$work/out.bmp"
    rm -f "$out"
    timeout 60 "$filter" "$name" "$file" "$out" >/dev/null 2>"$work/err"
    rc=$?
    runs=$((runs + 1))
    problem=
    if [ $rc -eq 0 ]; then
      written=$((written + 1))
      [ "$(head -c 2 "$out" 2>/dev/null)" = BM ] || problem="exit 0 without a bitmap file"
    elif [ $rc -eq 1 ]; then
      refused=$((refused + 1))
      [ -s "$work/err" ] || problem="exit 1 without a message"
      [ -e "$out" ] && problem="exit 1 but a file was written"
    elif [ $rc -eq 124 ]; then
      problem="still running after 60 seconds"
    elif [ $rc -gt 128 ]; then
      problem="ended by signal $((rc - 128))"
    else
      problem="exit code $rc"
    fi
    if [ -n "$problem" ]; then
      failures=$((failures + 1))
      echo "FAIL $name ${file#"$suite"/}: $problem" >&2
    fi
    # Left over temporary files would show a save that did not clean up after itself.
    if [ -n "$(find "$work" -name '.penamo-*' -print -quit)" ]; then
      failures=$((failures + 1))
      echo "FAIL $name ${file#"$suite"/}: a temporary file was left behind" >&2
      find "$work" -name '.penamo-*' -delete
    fi
  done
done
echo "$runs runs: $written written, $refused refused, $failures failures"
[ $failures -eq 0 ]
