#!/usr/bin/env bash
# No built program or module looks for a shared library in the folder it is started from: every
# run path entry is absolute or starts at $ORIGIN (an empty entry is the working folder to the
# loader), and penamo-filter, started in a folder holding unusable copies of the libraries it
# needs, runs as anywhere else.
# Usage: no-library-from-working-folder.sh PENAMO-FILTER [ELF-FILE...]
set -uo pipefail
program=$(realpath "$1")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

failures=0
for file in "$@"; do
  if ! dynamic=$(readelf -d "$file"); then
    failures=$((failures + 1))
    continue
  fi
  paths=$(sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\2/p' <<<"$dynamic")
  # Each entry on a line of its own; a trailing or doubled colon leaves an empty line.
  while IFS= read -r entry; do
    case $entry in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *)
        echo "$file: run path '$paths' has the entry '$entry', which names the working folder"
        failures=$((failures + 1))
        ;;
    esac
  done < <([ -z "$paths" ] || printf '%s\n' "$paths" | tr ':' '\n')
done

# An empty file under each name the loader looks for: loading one fails with "file too short".
for name in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p') libm.so.6; do
  : >"$folder/$name"
done
if ! output=$(cd "$folder" && "$program" --help 2>&1 >/dev/null); then
  echo "penamo-filter started in a folder of decoy libraries failed: $output"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "every run path is absolute or from \$ORIGIN; no library came from the working folder"
exit $((failures > 0))
