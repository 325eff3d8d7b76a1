#!/usr/bin/env bash
# Every top-level folder of the repository opens with a README.md that says what the folder may
# use (a "May use" line) and where a reader starts (a "Start" line), so that the map a newcomer
# reads is never missing a room. Lists each folder that falls short, and fails when one does.
#
#   scripts/check-readmes.sh [source folder]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
short=()
for dir in */; do
  dir=${dir%/}
  case $dir in build*) continue ;; esac
  readme=$dir/README.md
  if [ ! -f "$readme" ]; then
    short+=("$dir: no README.md")
    continue
  fi
  grep -q '^May use' "$readme" || short+=("$dir: README.md has no \"May use\" line")
  grep -q '^Start' "$readme" || short+=("$dir: README.md has no \"Start\" line")
done
if [ ${#short[@]} -gt 0 ]; then
  printf 'Folders whose map falls short:\n' >&2
  printf '  %s\n' "${short[@]}" >&2
  exit 1
fi
echo "Every top-level folder opens with its map."
