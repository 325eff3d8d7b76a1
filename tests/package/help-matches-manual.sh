#!/usr/bin/env bash
# penamo-filter --help and its manual page name the same options, the same filters and the same
# kinds of file.
# Usage: help-matches-manual.sh PENAMO-FILTER PAGE.scd
set -euo pipefail
program=$1 page=$2

help=$("$program" --help)
options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }
# The help lists the filters as indented lines after "FILTER:"; the page as "*name*" lines in
# its FILTERS section.
help_filters=$(sed -n '/^FILTER:/,/^$/{s/^  \([a-z0-9]\{1,\}\) .*/\1/p}' <<<"$help" | sort)
page_filters=$(sed -n '/^# FILTERS/,/^# /{s/^\*\([a-z0-9]\{1,\}\)\*$/\1/p}' "$page" | sort)

status=0
compare() {
  local what=$1 from_help=$2 from_page=$3
  if [ -z "$from_help" ]; then
    echo "no $what found in the help"
    status=1
  elif [ "$from_help" != "$from_page" ]; then
    echo "The $what of --help (<) and of $(basename "$page") (>) differ:"
    diff <(echo "$from_help") <(echo "$from_page") | grep '^[<>]' || true
    status=1
  fi
}
compare options "$(options <<<"$help")" "$(options <"$page")"
compare filters "$help_filters" "$page_filters"

# The kinds of file: every kind the help lists as read (the library's format table, in
# "画像ファイル INPUT (Bitmap, PNG, ...)") is named in the page's FORMATS section, and the kinds
# --format writes ("[--format bmp|png]") are the page's *--format* values.
help_kinds=$(sed -n 's/^画像ファイル INPUT (\(.*\))$/\1/p' <<<"$help" | sed 's/, /\n/g')
formats_section=$(sed -n '/^# FORMATS/,/^# /p' "$page" | tr '\n' ' ')
if [ -z "$help_kinds" ]; then
  echo "no kinds of file found in the help"
  status=1
fi
while IFS= read -r kind; do
  [ -z "$kind" ] && continue
  if ! grep -qiF -- "$kind" <<<"$formats_section"; then
    echo "the kind $kind of --help is missing from the FORMATS section of $(basename "$page")"
    status=1
  fi
done <<<"$help_kinds"
help_written=$(grep -o -- '\[--format [a-z0-9|]*\]' <<<"$help" | head -n 1 | sed 's/^\[--format //; s/\]$//' | tr '|' '\n' | sort)
page_written=$(grep -o -- '\*--format\* [*a-z0-9|]*' "$page" | head -n 1 | sed 's/^\*--format\* //' | tr -d '*' | tr '|' '\n' | sort)
compare "--format values" "$help_written" "$page_written"
[ $status -eq 0 ] && echo "help and manual page agree: $(options <<<"$help" | wc -l) options, $(wc -w <<<"$help_filters") filters, $(wc -l <<<"$help_kinds") kinds of file"
exit $status
