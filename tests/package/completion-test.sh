#!/usr/bin/env bash
# The bash completion of penamo-filter offers what the program accepts, at the right places.
# Usage: completion-test.sh PENAMO-FILTER COMPLETION-FILE
set -uo pipefail
program=$1 completion=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir -p "$folder/bin" "$folder/with space"
ln -s "$(realpath "$program")" "$folder/bin/penamo-filter"
touch "$folder/with space/sky one.bmp" "$folder/with space/sky two.png"
PATH="$folder/bin:$PATH"
# shellcheck source=/dev/null
source "$completion"

failures=0
# expect "WORDS..." "EXPECTED COMPLETIONS": the last word is the one being completed.
expect() {
  local -a words
  read -r -a words <<<"$1"
  [[ $1 == *' ' ]] && words+=("")
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMPREPLY=()
  _penamo_filter
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//')
  local want
  want=$(tr ' ' '\n' <<<"$2" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$got" != "$want" ]; then
    echo "completing '$1': expected [$want], got [$got]"
    failures=$((failures + 1))
  fi
}
expect_files() {
  COMP_WORDS=(penamo-filter "${@:1:$#-1}")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _penamo_filter
  local got
  got=$(printf '%s|' "${COMPREPLY[@]}")
  if [ "$got" != "${!#}" ]; then
    echo "completing '${COMP_WORDS[*]}': expected [${!#}], got [$got]"
    failures=$((failures + 1))
  fi
}

# Every filter and option the help names, and nothing else.
filters=$(sed -n '/^FILTER:/,/^$/{s/^  \([a-z0-9]\{1,\}\) .*/\1/p}' <<<"$("$program" --help)")
options=$("$program" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
[ -n "$filters" ] && [ -n "$options" ] || { echo "the help names no filters or options"; exit 1; }
expect "penamo-filter " "$(echo $filters)"
expect "penamo-filter --" "$(echo $options)"
expect "penamo-filter diff" "diffusion diffusion64 diffusion32 diffusion16"
# Option values, in both spellings.
expect "penamo-filter --strength " "0 25 50 75 100"
expect "penamo-filter --strength = 1" "100"
expect "penamo-filter --format " "bmp png"
expect "penamo-filter --format = p" "png"
# --format offers exactly the kinds the help's usage names as written (the library's table).
written=$("$program" --help | grep -o -- '\[--format [a-z0-9|]*\]' | head -n 1 | sed 's/^\[--format //; s/\]$//' | tr '|' ' ')
[ -n "$written" ] || { echo "the help names no kinds --format writes"; exit 1; }
expect "penamo-filter --format " "$written"
expect "penamo-filter --levels " "2 4 16 64 256"
expect "penamo-filter --levels = 1" "16"
expect "penamo-filter --light " "linear encoded"
expect "penamo-filter --light = e" "encoded"
# An option and its value do not count as the filter; after "--" nothing is an option.
expect "penamo-filter --strength 50 pat" "pattern4 pattern16"
expect "penamo-filter --strength = 50 no" "none"
expect "penamo-filter --levels 4 --grey ord" "ordered"
expect "penamo-filter --light encoded --grey ord" "ordered"
expect "penamo-filter --light = linear diff" "diffusion diffusion64 diffusion32 diffusion16"
expect "penamo-filter -- --str" ""
# INPUT and OUTPUT are file names, spaces and all; nothing comes after OUTPUT.
expect_files none "$folder/with space/sky t" "$folder/with space/sky two.png|"
expect_files --strength 10 diffusion16 "$folder/with space/sky o" "$folder/with space/sky one.bmp|"
expect_files --levels=4 --grey ordered "$folder/with space/sky o" "$folder/with space/sky one.bmp|"
expect_files --light linear diffusion "$folder/with space/sky o" "$folder/with space/sky one.bmp|"
expect_files none "$folder/with space/sky one.bmp" "$folder/with space/sky one.bmp" "" "|"
# The batch form: -o takes a folder, and with it any number of INPUTs follow.
expect_files -o "$folder/with" "$folder/with space|"
expect_files none -o "$folder/with space" "$folder/with space/sky one.bmp" "$folder/with space/sky one.bmp" "$folder/with space/sky t" "$folder/with space/sky two.png|"
expect "penamo-filter -o out pat" "pattern4 pattern16"

if [ $failures -ne 0 ]; then
  echo "$failures completion checks failed"
  exit 1
fi
echo "bash completion: every check passed"
