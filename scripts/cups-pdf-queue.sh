#!/usr/bin/env bash
# Makes sure a CUPS server runs and has the PDF-writing queue "PlenwickPDF".
# Safe to run again. Prints the folder where cups-pdf writes this user's
# files as the last line of its output.
# When this script starts cupsd it says so on stderr:
#   cups-pdf-queue: started cupsd pid <pid>
# so that a caller can stop exactly that process afterwards.
# Exit status: 0 ready, 1 cupsd cannot run, 2 the queue cannot be made.
set -euo pipefail

QUEUE="${PLENWICK_CUPS_QUEUE:-PlenwickPDF}"
CONF=/etc/cups/cups-pdf.conf

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo -n"

server_up() {
  lpstat -r 2>/dev/null | grep -q "is running"
}

if ! server_up; then
  if ! command -v cupsd >/dev/null 2>&1 && [ ! -x /usr/sbin/cupsd ]; then
    echo "cups-pdf-queue: cupsd is not installed" >&2
    exit 1
  fi
  CUPSD=$(command -v cupsd || echo /usr/sbin/cupsd)
  # Foreground mode in its own session: the pid we report is cupsd itself.
  $SUDO setsid "$CUPSD" -f </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 50); do
    server_up && break
    sleep 0.1
  done
  if ! server_up; then
    kill "$pid" 2>/dev/null || true
    echo "cups-pdf-queue: cupsd did not start" >&2
    exit 1
  fi
  echo "cups-pdf-queue: started cupsd pid $pid" >&2
fi

if ! lpstat -p "$QUEUE" >/dev/null 2>&1; then
  ppd=""
  for f in /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd /usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd; do
    [ -f "$f" ] && { ppd="$f"; break; }
  done
  if [ -z "$ppd" ]; then
    echo "cups-pdf-queue: no cups-pdf PPD found" >&2
    exit 2
  fi
  if ! $SUDO lpadmin -p "$QUEUE" -E -v cups-pdf:/ -P "$ppd" -D "Plenwick test printer"; then
    echo "cups-pdf-queue: lpadmin failed for $QUEUE" >&2
    exit 2
  fi
fi
# A queue left disabled or rejecting by an earlier run is made usable again.
$SUDO cupsenable "$QUEUE" >/dev/null 2>&1 || true
$SUDO cupsaccept "$QUEUE" >/dev/null 2>&1 || true

out='${HOME}/PDF'
if [ -r "$CONF" ]; then
  line=$(awk '$1 == "Out" { $1 = ""; sub(/^ +/, ""); print; exit }' "$CONF")
  [ -n "$line" ] && out="$line"
fi
home=$(getent passwd "$(id -un)" | cut -d: -f6)
out="${out//\$\{HOME\}/$home}"
out="${out//\$\{USER\}/$(id -un)}"
echo "$out"
