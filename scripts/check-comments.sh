#!/usr/bin/env bash
# Comments speak as this system's own developer: what the code does and guarantees, never where
# it came from. Lists every line of the sources that points at another tool or its makers, and
# fails when there is one.
#
#   scripts/check-comments.sh [source folder]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
pattern='original (tool|program|code|application|implementation|version)|(ported|translated|converted) from|port of|delphi|borland|\bvcl\b|c\+\+ ?builder|object ?pascal|win32 api'
found=$(find . \( -path ./.git -o -path './build*' -o -path ./fuzz/corpus \) -prune -o -type f \
  \( -name '*.h' -o -name '*.cpp' -o -name '*.inl' -o -name '*.py' -o -name '*.sh' \
     -o -name 'CMakeLists.txt' -o -name '*.cmake' -o -name '*.ui' \) -print |
  grep -v '^./scripts/check-comments.sh$' | sort | xargs grep -n -i -E "$pattern")
if [ -n "$found" ]; then
  echo "Comments that point outside this system:" >&2
  echo "$found" >&2
  exit 1
fi
echo "No comment points outside this system."
