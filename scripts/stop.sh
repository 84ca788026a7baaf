#!/usr/bin/env bash
# Stops the Kelvorn and Pallowen of this checkout's program folder (build/bin):
# the tray first, so its watchdog does not start the service again.
set -uo pipefail
cd "$(dirname "$0")/.."
quiet=0
[ "${1:-}" = "--quiet" ] && quiet=1
bin=$(readlink -f build/bin)

pids_of() {
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$bin/$1" ] && echo "${p#/proc/}"
  done
}

for prog in Pallowen Kelvorn; do
  pids=$(pids_of "$prog")
  [ -n "$pids" ] || continue
  kill $pids 2>/dev/null
  for _ in $(seq 1 50); do
    [ -z "$(pids_of "$prog")" ] && break
    sleep 0.1
  done
  left=$(pids_of "$prog")
  [ -n "$left" ] && kill -9 $left 2>/dev/null
  [ "$quiet" = 1 ] || echo "stopped $prog ($pids)"
done
rm -f build/run/*.pid
exit 0
