# Shared steps of the end-to-end tests: a temporary program folder made from
# the build's, its certificates, the PDF queue, and the two programs started
# and stopped by pid.  Sourced by the test scripts; $1 of the caller is the
# build's program folder, $2 the source tree.
set -euo pipefail

E2E_BUILD_BIN=$(readlink -f "$1")
E2E_SRC=$(readlink -f "$2")
E2E_TMP=$(mktemp -d /tmp/plenwick-e2e.XXXXXX)
E2E_BIN=$E2E_TMP/bin
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

# Sets E2E_OUT to the folder where the PDF queue writes.
e2e_pdf_queue() {
  E2E_OUT=$(PLENWICK_CUPS_QUEUE=$E2E_QUEUE bash "$E2E_SRC/scripts/cups-pdf-queue.sh" 2>"$E2E_TMP/cups.err" | tail -n 1) \
    || e2e_skip "cupsd with a cups-pdf queue is not available here: $(cat "$E2E_TMP/cups.err")"
  bash "$E2E_SRC/scripts/set-printer.sh" "$E2E_BIN/PrintConfig.ini" "$E2E_QUEUE" 004_qd 007_qd
}

e2e_curl() { curl -sS --max-time 60 --cacert "$E2E_BIN/server/root.crt" "$@"; }

e2e_start_programs() {
  (cd "$E2E_TMP" && setsid "$E2E_BIN/Kelvorn" -APP_MODE </dev/null >"$E2E_TMP/kelvorn.out" 2>&1) &
  E2E_PIDS+=($!)
  (cd "$E2E_TMP" && QT_QPA_PLATFORM=offscreen setsid "$E2E_BIN/Pallowen" </dev/null >"$E2E_TMP/pallowen.out" 2>&1) &
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

# e2e_wait_pdf <marker file> <count>: prints the newest PDF written after the marker.
e2e_wait_pdf() {
  local n=0
  for _ in $(seq 1 240); do
    n=$(find "$E2E_OUT" -maxdepth 1 -name '*.pdf' -newer "$1" 2>/dev/null | wc -l)
    if [ "$n" -ge "$2" ]; then
      # cups-pdf writes the file in place: wait until its size stops changing.
      local f s1 s2
      f=$(ls -t $(find "$E2E_OUT" -maxdepth 1 -name '*.pdf' -newer "$1") | head -n 1)
      s1=$(stat -c %s "$f"); sleep 0.5; s2=$(stat -c %s "$f")
      [ "$s1" = "$s2" ] && [ "$s1" -gt 0 ] && { echo "$f"; return 0; }
    fi
    sleep 0.25
  done
  e2e_fail "no PDF appeared in $E2E_OUT"
}

# e2e_job_text <marker file>: the text of the newest job the CUPS queue took
# after the marker. cups-pdf re-renders a document through PostScript, which
# keeps the drawing but not the text's character codes, so the text is read
# from the document as the queue received it (CUPS keeps it as its job file).
e2e_job_text() {
  local job
  job=$(ls -t $(find /var/spool/cups -maxdepth 1 -name 'd*-001' -newer "$1" 2>/dev/null) 2>/dev/null | head -n 1)
  [ -n "$job" ] || e2e_fail "CUPS kept no job file of the print job"
  pdftotext -layout "$job" -
}
