#!/usr/bin/env bash
# penamo-filter --help and its manual page name the same options and the same filters.
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
[ $status -eq 0 ] && echo "help and manual page agree: $(options <<<"$help" | wc -l) options, $(wc -w <<<"$help_filters") filters"
exit $status
