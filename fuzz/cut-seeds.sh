#!/usr/bin/env bash
# Writes every file of the source folders cut at many lengths into one folder, as seeds for the
# targets that compare two reads of one file: a cut file is where the reads most easily part
# (one meets the end in a chunk's data, the other in its checksum).
#
#   fuzz/cut-seeds.sh OUT SOURCE...
#
# Each file gives some 64 lengths spread over it, every length of its first 64 bytes and of its
# last 32 (headers, the last chunk, the end marker), each cut once.
set -euo pipefail
out=${1:?folder}
shift
mkdir -p "$out"
for source in "$@"; do
  for file in "$source"/*; do
    [ -f "$file" ] || continue
    size=$(stat -c %s "$file")
    [ "$size" -gt 1 ] || continue
    step=$(((size + 63) / 64))
    name=$(basename "$file")
    {
      seq 1 "$step" $((size - 1))
      seq 1 $((size - 1 < 64 ? size - 1 : 64))
      seq $((size > 32 ? size - 32 : 1)) $((size - 1))
    } | sort -nu | while read -r length; do
      head -c "$length" "$file" >"$out/$name.cut$length"
    done
  done
done
echo "cut-seeds: $(find "$out" -type f | wc -l) files in $out"
