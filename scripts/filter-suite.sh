#!/usr/bin/env bash
# Checks penamo-filter's promises: its options and exit codes, its messages, and, with every
# filter over every file of the shared bitmap suite, that each run ends with exit 0 and a
# bitmap file written, or exit 1 with a message and no file; never a signal, never a hang.
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

# expect NAME EXIT-CODE EXPECTED-STDERR-OR-STDOUT -- ARGS...: one run of the command.
expect() {
  local name=$1 code=$2 text=$3
  shift 4
  local out rc
  out=$("$filter" "$@" 2>&1)
  rc=$?
  if [ $rc -ne "$code" ] || [[ "$out" != *"$text"* ]]; then
    failures=$((failures + 1))
    echo "FAIL $name: exit $rc, output: $out" >&2
  fi
}
printf 'BM' >"$work/short.bmp"
: >"$work/empty.bmp"
expect version 0 "penamo-filter 0.8Alpha" -- --version
expect help 0 "使い方: penamo-filter [--strength N] [--levels N] [--grey] [--light linear|encoded] [--format bmp|png] [--strip] [--verbose] FILTER INPUT OUTPUT" -- --help
expect no-operands 2 "使い方" --
expect two-operands 2 "使い方" -- none a
expect unknown-filter 2 "不明なフィルタです: blur" -- blur a b
expect unknown-option 2 "不明なオプションです: --fast" -- --fast none a b
expect strength-too-high 2 "--strength" -- --strength 101 diffusion16 a b
expect strength-not-a-number 2 "--strength" -- --strength=ten diffusion16 a b
expect strength-missing 2 "--strength" -- diffusion16 a b --strength
expect missing-input 1 "ファイル $work/missing.bmp は開けません." -- none "$work/missing.bmp" "$work/o.bmp"
expect short-input 1 "ストリームからの読み込みエラー." -- pattern4 "$work/short.bmp" "$work/o.bmp"
expect verbose-reason 1 "EReadError: file-header-truncated" -- --verbose none "$work/short.bmp" "$work/o.bmp"
expect verbose-own-reason 1 "Exception: empty-picture" -- --verbose none "$work/empty.bmp" "$work/o.bmp"
expect empty-input 1 "画像が空です." -- diffusion32 "$work/empty.bmp" "$work/o.bmp"
expect no-folder 1 "ファイル $work/none/o.bmp を作成できません." -- none "$suite/g/rgb24.bmp" "$work/none/o.bmp"
[ -e "$work/o.bmp" ] && { failures=$((failures + 1)); echo "FAIL: a failed run wrote a file" >&2; }
# A file another program holds for writing (an exclusive lock) is refused at once.
cp "$suite/g/rgb24.bmp" "$work/held.bmp"
exec {held}<>"$work/held.bmp"
flock -x "$held"
expect held-for-writing 1 "ファイル $work/held.bmp は開けません." -- none "$work/held.bmp" "$work/o.bmp"
exec {held}>&-
[ -e "$work/o.bmp" ] && { failures=$((failures + 1)); echo "FAIL: a failed run wrote a file" >&2; }
expect released 0 "" -- none "$work/held.bmp" "$work/o.bmp"
rm -f "$work/o.bmp"
expect strength-zero 0 "" -- --strength 0 diffusion16 "$suite/g/pal8.bmp" "$work/o.bmp"
expect operand-after-double-dash 0 "" -- none -- "$suite/g/pal8.bmp" "$work/o.bmp"
rm -f "$work/o.bmp"
# A file saved over itself (here through a link) gives what saving it elsewhere gives.
cp "$suite/g/rgb24.bmp" "$work/self.bmp"
ln -s self.bmp "$work/link.bmp"
expect over-itself 0 "" -- diffusion16 "$work/self.bmp" "$work/link.bmp"
expect elsewhere 0 "" -- diffusion16 "$suite/g/rgb24.bmp" "$work/o.bmp"
if ! cmp -s "$work/self.bmp" "$work/o.bmp" || [ ! -L "$work/link.bmp" ]; then
  failures=$((failures + 1))
  echo "FAIL over-itself: the file saved over itself differs, or the link was replaced" >&2
fi
rm -f "$work/o.bmp" "$work/self.bmp" "$work/link.bmp"
for file in "$suite"/{g,q,b,x}/*.bmp; do
  [ -e "$file" ] || continue
  for name in none pattern4 pattern16 diffusion64 diffusion32 diffusion16 diffusion ordered; do
    out="$work/out.bmp"
    rm -f "$out"
    timeout 60 "$filter" --verbose "$name" "$file" "$out" >/dev/null 2>"$work/err"
    rc=$?
    runs=$((runs + 1))
    problem=
    if [ $rc -eq 0 ]; then
      written=$((written + 1))
      [ "$(head -c 2 "$out" 2>/dev/null)" = BM ] || problem="exit 0 without a bitmap file"
    elif [ $rc -eq 1 ]; then
      refused=$((refused + 1))
      [ -s "$work/err" ] || problem="exit 1 without a message"
      # The last line is the verbose one: the error's class and the reason for the refusal.
      tail -n 1 "$work/err" >>"$work/reasons"
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
      sed 's/^/    /' "$work/err" >&2
    fi
    # Left over temporary files would show a save that did not clean up after itself.
    if [ -n "$(find "$work" -name '.penamo-*' -print -quit)" ]; then
      failures=$((failures + 1))
      echo "FAIL $name ${file#"$suite"/}: a temporary file was left behind" >&2
      find "$work" -name '.penamo-*' -delete
    fi
    # What the batch form must write for this file (kept for the ordered dither).
    if [ "$name" = ordered ] && [ $rc -eq 0 ]; then
      mkdir -p "$work/single/$(basename "$(dirname "$file")")"
      mv "$out" "$work/single/$(basename "$(dirname "$file")")/$(basename "$file")"
    fi
  done
done
# The batch form over each folder of the suite writes, file for file, what the single form
# wrote, and exits 1 exactly when some file was refused.
for folder in "$suite"/{g,q,b,x}; do
  [ -d "$folder" ] || continue
  sub=$(basename "$folder")
  mkdir -p "$work/batch/$sub" "$work/single/$sub"
  timeout 300 "$filter" --format bmp ordered "$folder"/*.bmp -o "$work/batch/$sub" >/dev/null 2>"$work/err"
  rc=$?
  singles=$(ls "$work/single/$sub" | wc -l)
  inputs=$(ls "$folder"/*.bmp | wc -l)
  expected_rc=$([ "$singles" -eq "$inputs" ] && echo 0 || echo 1)
  if [ $rc -ne "$expected_rc" ] || ! diff -r "$work/single/$sub" "$work/batch/$sub" >/dev/null; then
    failures=$((failures + 1))
    echo "FAIL batch $sub: exit $rc (expected $expected_rc), or its files differ from the single form's" >&2
  fi
done
echo "$runs runs: $written written, $refused refused, $failures failures"
if [ -s "$work/reasons" ]; then
  echo "refusals by reason:"
  sort "$work/reasons" | uniq -c
fi
[ $failures -eq 0 ]
