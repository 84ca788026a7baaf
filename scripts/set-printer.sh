#!/usr/bin/env bash
# Keeps <queue> as the printer of the given layout keys in a PrintConfig.ini,
# leaving every other key and group of the file as it is.
# Usage: set-printer.sh <PrintConfig.ini> <queue> <key>...
set -euo pipefail
ini=$1; queue=$2; shift 2
touch "$ini"
for key in "$@"; do
  if grep -q "^\[$key\]" "$ini"; then
    awk -v g="[$key]" -v q="$queue" '
      /^\[/ { if (ing && !done) { print "printername=" q; done = 1 } ing = ($0 == g) }
      ing && /^printername=/ { if (!done) print "printername=" q; done = 1; next }
      { print }
      END { if (ing && !done) print "printername=" q }' "$ini" > "$ini.new"
    mv "$ini.new" "$ini"
  else
    printf '\n[%s]\nprintername=%s\n' "$key" "$queue" >> "$ini"
  fi
done
