# Shared steps of the end-to-end tests: a temporary program folder made from
# the build's, its certificates, a CUPS server of the test's own with the PDF
# queue (tests/support/private-cupsd.sh: nothing reaches the machine's CUPS),
# and the two programs started and stopped by pid.  Sourced by the test
# scripts; $1 of the caller is the build's program folder, $2 the source tree.
set -euo pipefail

E2E_BUILD_BIN=$(readlink -f "$1")
E2E_SRC=$(readlink -f "$2")
E2E_TMP=$(mktemp -d /tmp/plenwick-e2e.XXXXXX)
# Searchable, so that the CUPS filters (user lp when run as root) reach the spool.
chmod 0711 "$E2E_TMP"
E2E_BIN=$E2E_TMP/bin
E2E_CUPS=$E2E_TMP/cups
E2E_CUPS_SCRIPT=$E2E_SRC/tests/support/private-cupsd.sh
E2E_PIDS=()
E2E_QUEUE=${PLENWICK_CUPS_QUEUE:-PlenwickPDF}

e2e_log() { echo "e2e: $*"; }
e2e_fail() {
  echo "e2e: FAIL: $*" >&2
  for f in "$E2E_BIN"/_Log/*/*.log "$E2E_TMP"/*.out; do
    [ -f "$f" ] || continue
    echo "---- $f (last lines)" >&2
    tail -n 25 "$f" >&2
  done
  exit 1
}
e2e_skip() { echo "e2e: SKIP: $*"; exit 77; }

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  sleep 0.3
  for pid in "${E2E_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  bash "$E2E_CUPS_SCRIPT" stop "$E2E_CUPS" 2>/dev/null || true
  # Programs started by the tray's watchdog run from our folder too.
  for p in /proc/[0-9]*; do
    case "$(readlink "$p/exe" 2>/dev/null)" in
      "$E2E_BIN"/*) kill -9 "${p#/proc/}" 2>/dev/null || true ;;
    esac
  done
  [ "${E2E_KEEP:-0}" = 1 ] || rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

e2e_program_folder() {
  mkdir -p "$E2E_BIN"
  cp -a "$E2E_BUILD_BIN"/. "$E2E_BIN"/
  rm -rf "$E2E_BIN/_Log" "$E2E_BIN/Log" "$E2E_BIN/server" "$E2E_BIN/PrintConfig.ini"
  bash "$E2E_SRC/scripts/make-certs.sh" "$E2E_BIN/server" >/dev/null
}

# Starts the test's own CUPS server with the PDF queue and points the
# programs started after it there; the settings file names the queue.
e2e_pdf_queue() {
  local rc=0
  bash "$E2E_CUPS_SCRIPT" start "$E2E_CUPS" $$ >"$E2E_TMP/cups.out" 2>&1 || rc=$?
  [ "$rc" = 77 ] && e2e_skip "cupsd is not installed"
  [ "$rc" = 0 ] || e2e_fail "no CUPS server of our own: $(cat "$E2E_TMP/cups.out")"
  bash "$E2E_CUPS_SCRIPT" queue "$E2E_CUPS" "$E2E_QUEUE" >>"$E2E_TMP/cups.out" 2>&1 \
    || e2e_fail "the PDF queue cannot be made: $(cat "$E2E_TMP/cups.out")"
  # HOME too: libcups reads ~/.cups/lpoptions and ~/.cups/client.conf
  # whatever CUPS_SERVERROOT says.
  export CUPS_SERVER=$E2E_CUPS/cups.sock CUPS_SERVERROOT=$E2E_CUPS/conf HOME=$E2E_CUPS/home
  unset LPDEST PRINTER
  bash "$E2E_SRC/scripts/set-printer.sh" "$E2E_BIN/PrintConfig.ini" "$E2E_QUEUE" 004_qd 007_qd
}

e2e_curl() { curl -sS --max-time 60 --cacert "$E2E_BIN/server/root.crt" "$@"; }

e2e_start_programs() {
  (cd "$E2E_TMP" && setsid "$E2E_BIN/Kelvorn" -APP_MODE </dev/null >"$E2E_TMP/kelvorn.out" 2>&1) &
  E2E_PIDS+=($!)
  # A tray without a display, whatever the caller's session has.
  (cd "$E2E_TMP" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
     setsid "$E2E_BIN/Pallowen" </dev/null >"$E2E_TMP/pallowen.out" 2>&1) &
  E2E_PIDS+=($!)
  local status=""
  for _ in $(seq 1 100); do
    status=$(e2e_curl "https://127.0.0.1:18086/v1/print/status?callback=cb" 2>/dev/null || true)
    [ "$status" = "cb('1.5')" ] && break
    sleep 0.2
  done
  [ "$status" = "cb('1.5')" ] || e2e_fail "Kelvorn and Pallowen did not come up (status '$status')"
}

# e2e_post_print <request.xml> <kind> <messageID>: posts the job the way the
# browser page does and waits for the tray's hand-off answer.
e2e_post_print() {
  local body reply=""
  body=$(mktemp "$E2E_TMP/body.XXXXXX")
  printf 'messageID=%s&dylx=0&type=%s&XMLKey=' "$3" "$2" > "$body"
  cat "$1" >> "$body"
  for _ in $(seq 1 20); do
    reply=$(e2e_curl --data-binary "@$body" -H "Content-Type: application/x-www-form-urlencoded" \
            "https://127.0.0.1:18086/v1/print/printer?messageID=$3" || true)
    [ "$reply" = "打印任务已派发" ] && return 0
    sleep 1
  done
  e2e_fail "print job $3 was not handed over (reply '$reply')"
}

# e2e_wait_pdf <count>: waits until the queue has completed <count> jobs in
# all and prints the PDF of the last one (the queue writes each job into the
# same file, exactly as the program sent it).
e2e_wait_pdf() {
  bash "$E2E_CUPS_SCRIPT" wait "$E2E_CUPS" "$1" 120 >&2 || e2e_fail "the PDF queue completed no job $1"
  local f=$E2E_CUPS/out/$E2E_QUEUE.pdf
  [ -s "$f" ] || e2e_fail "the PDF queue wrote no file"
  echo "$f"
}
