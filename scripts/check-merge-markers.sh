#!/usr/bin/env bash
# A merge's conflict markers never land: lists every line of the sources and documents that
# starts with one, and fails when there is one.
#
#   scripts/check-merge-markers.sh [source folder]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
found=$(find . \( -path ./.git -o -path './build*' -o -path ./fuzz/corpus \) -prune -o -type f \
  \( -name '*.h' -o -name '*.cpp' -o -name '*.inl' -o -name '*.py' -o -name '*.sh' \
     -o -name '*.md' -o -name '*.scd' -o -name '*.txt' -o -name '*.cmake' -o -name '*.in' \
     -o -name '*.desktop' -o -name '*.xml' -o -name '*.ui' \) -print |
  sort | xargs grep -n -E '^(<{7}|>{7})( |$)|^={7}$')
if [ -n "$found" ]; then
  echo "Conflict markers left by a merge:" >&2
  echo "$found" >&2
  exit 1
fi
echo "No conflict markers."
