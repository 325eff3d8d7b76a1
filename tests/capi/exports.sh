#!/usr/bin/env bash
# libpenamo exports the C interface and nothing else: every symbol it defines for others starts
# with penamo_ (beside the version node PENAMO_0), and every function penamo.h declares is among
# them.
#
#   exports.sh LIBRARY HEADER
set -euo pipefail
library=$1 header=$2
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sed 's/@.*//' | sort -u)
others=$(grep -v -e '^penamo_' -e '^PENAMO_0$' <<<"$exported" || true)
if [ -n "$others" ]; then
  echo "exported beside the C interface:"
  echo "$others"
  exit 1
fi
declared=$(grep -o 'penamo_[a-z_]*(' "$header" | tr -d '(' | sort -u)
missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
if [ -n "$missing" ]; then
  echo "declared in penamo.h but not exported:"
  echo "$missing"
  exit 1
fi
echo "$(wc -l <<<"$declared") functions exported, nothing else"
