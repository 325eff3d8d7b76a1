#!/usr/bin/env bash
# A refused allocation becomes the program's own EOutOfMemory in one place, WithMemory
# (image/Machine.h), so that it reaches the user in the same words wherever it happens. Only the
# edges where errors leave the program catch std::bad_alloc themselves: the window's event guard,
# the command line's report and the C library's interface. Lists every other catch, and fails
# when there is one.
#
#   scripts/check-memory-rule.sh [source folder]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
allowed='^(image/Machine\.h|toolkit/Application\.cpp|app/penamo-filter\.cpp|capi/[^/]*):'
found=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.inl' \
  'catch *\( *(const )?std::bad_alloc' image reduce formats toolkit ui app capi python gegl \
  2>/dev/null | grep -vE "$allowed")
if [ -n "$found" ]; then
  printf 'std::bad_alloc caught outside WithMemory and the edges:\n%s\n' "$found" >&2
  exit 1
fi
echo "Every refused allocation goes through WithMemory or an edge."
