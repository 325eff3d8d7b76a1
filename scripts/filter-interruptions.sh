#!/usr/bin/env bash
# Checks how penamo-filter's save ends when something outside ends it: a file-size limit gives
# the write error and a line naming the file and the cause, SIGINT, SIGTERM and SIGHUP end it
# by the same signal (exit status 128 + the signal) with nothing left beside the output and an
# existing output as it was.
#
#   scripts/filter-interruptions.sh [path/to/penamo-filter]
set -uo pipefail
filter=${1:-build/dev/app/penamo-filter}
[ -x "$filter" ] || { echo "no penamo-filter at $filter (build first, or pass its path)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  failures=$((failures + 1))
  echo "FAIL $*" >&2
}

# A 24-bit bitmap of width × height (width a multiple of 4, so rows need no padding), all black.
make_bitmap() {
  local path=$1 width=$2 height=$3
  local bytes=$((width * height * 3))
  le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
  {
    printf 'BM'; le32 $((54 + bytes)); le32 0; le32 54
    le32 40; le32 "$width"; le32 "$height"; printf '\x01\x00\x18\x00'; le32 0; le32 "$bytes"
    le32 0; le32 0; le32 0; le32 0
    head -c "$bytes" /dev/zero
  } >"$path"
}

only_output_left() {
  local name=$1
  local left
  left=$(ls -A "$work/out")
  [ "$left" = "picture.bmp" ] || fail "$name: the output folder holds: $left"
  cmp -s "$work/out/picture.bmp" "$work/earlier.bmp" || fail "$name: the earlier output changed"
}

# Runs the command in the background and sends it the signal once it holds a file open in the
# folder (the save's temporary file): caught is "yes" when it did, rc the command's exit status.
interrupt_saving() {
  local signal=$1 folder=$2
  shift 2
  caught=
  "$@" 2>/dev/null &
  local pid=$!
  while kill -0 $pid 2>/dev/null; do
    if ls -l "/proc/$pid/fd" 2>/dev/null | grep -q -e "$folder/#" -e "$folder/\.penamo-"; then
      kill -s "$signal" $pid
      caught=yes
      break
    fi
  done
  wait $pid 2>/dev/null
  rc=$?
}

make_bitmap "$work/small.bmp" 8 8
make_bitmap "$work/large.bmp" 2000 2000
mkdir "$work/out"
cp "$work/small.bmp" "$work/earlier.bmp"
cp "$work/small.bmp" "$work/out/picture.bmp"

# Under a file-size limit the write fails, with its message and its cause.
out=$(ulimit -f 1024; "$filter" none "$work/large.bmp" "$work/out/picture.bmp" 2>&1)
rc=$?
[ $rc -eq 1 ] || fail "file-size limit: exit $rc, output: $out"
expected="ストリームへの書き込みエラー.
ファイル $work/out/picture.bmp: ファイルが大きすぎます (ファイル サイズの上限を超えました)"
[ "$out" = "$expected" ] || fail "file-size limit: the message was: $out"
out=$(ulimit -f 1024; "$filter" --verbose none "$work/large.bmp" "$work/out/picture.bmp" 2>&1)
[[ "$out" == *"EWriteError: file-space-not-reserved" ]] || fail "file-size limit --verbose: $out"
only_output_left "file-size limit"

# A folder that cannot be written in names its cause too (root may write anywhere).
if [ "$(id -u)" -ne 0 ]; then
  mkdir "$work/locked" && chmod 555 "$work/locked"
  out=$("$filter" none "$work/small.bmp" "$work/locked/o.bmp" 2>&1)
  [[ "$out" == *"ファイル $work/locked/o.bmp: アクセス権がありません" ]] ||
    fail "read-only folder: the message was: $out"
fi

# A signal while the save is under way: caught once the output file is open.
# A background job of a script starts with SIGINT ignored, which penamo-filter keeps; env gives
# it the signals' default handling, as a command typed at a terminal has.
for signal in INT TERM HUP; do
  cp "$work/earlier.bmp" "$work/out/picture.bmp"
  caught=
  for attempt in 1 2 3; do
    interrupt_saving "$signal" "$work/out" env --default-signal=INT,TERM,HUP "$filter" diffusion16 \
      "$work/large.bmp" "$work/out/picture.bmp"
    if [ -n "$caught" ]; then
      expected=$((128 + $(kill -l "$signal")))
      [ $rc -eq $expected ] || fail "SIG$signal: exit $rc, not $expected"
      break
    fi
    cp "$work/earlier.bmp" "$work/out/picture.bmp"  # the save was done before it was caught
  done
  [ -n "$caught" ] || fail "SIG$signal: three saves ended before they could be interrupted"
  only_output_left "SIG$signal"
done

# SIGINT during a batch ends it at once by the signal: the pictures already saved are whole, the
# one under way leaves nothing, and no temporary file stays in the folder.
mkdir "$work/batch"
for i in 1 2 3 4 5 6; do ln -s large.bmp "$work/large$i.bmp"; done
caught=
for attempt in 1 2 3; do
  rm -f "$work/batch/"*
  interrupt_saving INT "$work/batch" env --default-signal=INT "$filter" --format bmp diffusion16 \
    "$work"/large[1-6].bmp -o "$work/batch"
  if [ -n "$caught" ]; then
    [ $rc -eq 130 ] || fail "batch SIGINT: exit $rc, not 130"
    break
  fi
done
[ -n "$caught" ] || fail "batch SIGINT: three batches ended before they could be interrupted"
whole=$(stat -c %s "$work/large.bmp")
for file in "$work/batch"/* "$work/batch"/.[!.]*; do
  [ -e "$file" ] || continue
  case $(basename "$file") in
    large[1-6].bmp) [ "$(stat -c %s "$file")" -eq "$whole" ] || fail "batch SIGINT: $file is not whole" ;;
    *) fail "batch SIGINT: $(basename "$file") was left in the folder" ;;
  esac
done

echo "interruptions: $failures failures"
[ $failures -eq 0 ]
