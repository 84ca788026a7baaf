#!/usr/bin/env bash
# The whole road with the sample invoices, for a new user on a fresh machine:
# installs what is missing, builds the program folder (build/bin), makes its
# certificates, makes sure CUPS runs with a PDF-writing queue ("PlenwickPDF"),
# starts the print service Kelvorn (-APP_MODE) and the tray
# Pallowen, posts each sample invoice to https://127.0.0.1:18086/v1/print/printer
# as the browser page does, and says where each printed PDF is.
#
#   bash scripts/run.sh          leaves Kelvorn and Pallowen running
#   bash scripts/run.sh --stop   stops them again at the end
#   bash scripts/stop.sh         stops what an earlier run left running
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
stop_after=0
[ "${1:-}" = "--stop" ] && stop_after=1

# The sample invoices, one row each: request file, print type (dylx), kind
# (type) and the layout key it prints under (kept on the PDF queue).
samples=(
  "resources/samples/vat-special.xml    0 01 004_qd"
  "resources/samples/vat-ordinary.xml   0 02 007_qd"
  "resources/samples/sales-list.xml     1 xhqd xhqd_qd"
  "resources/samples/motor-vehicle.xml  0 03 005_qd"
  "resources/samples/used-car.xml       0 04 006_qd"
  "resources/samples/page-images.xml    2 image image_qd"
)
sample_keys=()
for row in "${samples[@]}"; do
  read -r _ _ _ key <<<"$row"
  [[ " ${sample_keys[*]} " == *" $key "* ]] || sample_keys+=("$key")
done

started=0
step() { echo "== $*"; }
fail() {
  echo "run: FAILED: $1" >&2
  echo "run: what to do: $2" >&2
  # Programs this run started are not left behind half-working.
  [ "$started" = 1 ] && bash scripts/stop.sh --quiet
  exit 1
}

step "installing what is missing"
bash scripts/install-deps.sh || fail "package installation" "run 'sudo bash scripts/install-deps.sh' and look at apt's message"

step "building"
# A first build leaves the tests out (quicker); once scripts/test.sh has
# turned them on, the cache keeps them, so neither command undoes the other.
tests_flag=()
[ -f build/CMakeCache.txt ] || tests_flag=(-DPLENWICK_TESTS=OFF)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${tests_flag[@]}" >/dev/null \
  || fail "cmake configuration" "run 'cmake -S . -B build' to see the error"
cmake --build build -j"$(nproc)" >build/build.log 2>&1 \
  || { tail -30 build/build.log >&2; fail "the build (log: build/build.log)" "fix the error above and run again"; }
bin=$top/build/bin

step "certificates"
if [ ! -f "$bin/server/https.crt" ]; then
  bash scripts/make-certs.sh "$bin/server" || fail "making certificates" "check that openssl works"
fi

step "printer"
# The samples go to the PDF-writing queue, so the run shows where each page
# went; cupsd is started and the queue made when they are missing.
queue=${PLENWICK_CUPS_QUEUE:-PlenwickPDF}
out=$(PLENWICK_CUPS_QUEUE=$queue bash scripts/cups-pdf-queue.sh | tail -n 1) \
  || fail "no CUPS printer" "install cups and printer-driver-cups-pdf (scripts/install-deps.sh) and make sure cupsd can start"
echo "printing on queue '$queue'${out:+ (PDF files go to $out)}"
# The samples print without a question (display mode 1, and the page images'
# timed print, which takes the kept printer when there is no display) on the
# printer kept for their layouts.
bash scripts/set-printer.sh "$bin/PrintConfig.ini" "$queue" "${sample_keys[@]}"

step "starting Kelvorn and Pallowen"
bash scripts/stop.sh --quiet || true
mkdir -p build/run
setsid "$bin/Kelvorn" -APP_MODE </dev/null >build/run/kelvorn.out 2>&1 &
echo $! > build/run/kelvorn.pid
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "(no display: the tray runs without its icon)"
fi
setsid "$bin/Pallowen" </dev/null >build/run/pallowen.out 2>&1 &
echo $! > build/run/pallowen.pid
started=1

curl_local() { curl -sS --max-time 60 --cacert "$bin/server/root.crt" "$@"; }
status=""
for _ in $(seq 1 100); do
  status=$(curl_local "https://127.0.0.1:18086/v1/print/status?callback=cb" 2>/dev/null || true)
  [ "$status" = "cb('1.5')" ] && break
  for prog in kelvorn pallowen; do
    kill -0 "$(cat build/run/$prog.pid)" 2>/dev/null && continue
    if grep -q "已经在运行" build/run/pallowen.out; then
      fail "another Pallowen already runs on this machine: $(pgrep -a -x Pallowen | tr '\n' ' ')" \
        "stop it (bash scripts/stop.sh in its checkout, or kill its pid) and run again"
    fi
    [ "$prog" = kelvorn ] && [ -n "$status" ] && continue   # another Kelvorn serves: the tray's watchdog copes
    fail "$prog ended at start: $(tail -n 3 build/run/$prog.out | tr '\n' ' ')" \
      "look at build/run/$prog.out and the logs in build/bin/_Log/"
  done
  sleep 0.2
done
[ "$status" = "cb('1.5')" ] || fail "Kelvorn or Pallowen did not come up (status: '${status}')" \
  "look at build/run/*.out and the logs in build/bin/_Log/"
echo "status: $status"

step "printing the sample invoices"
marker=$(mktemp)
n=0
for row in "${samples[@]}"; do
  read -r file dylx kind _ <<<"$row"
  n=$((n + 1))
  body=$(mktemp)
  printf 'messageID=sample%d&dylx=%s&type=%s&XMLKey=' "$n" "$dylx" "$kind" > "$body"
  cat "$file" >> "$body"
  reply=""
  # The tray tells Kelvorn its port with its first heart; until then a job
  # cannot be handed over and nothing is created, so asking again is safe.
  for _ in $(seq 1 20); do
    reply=$(curl_local --data-binary "@$body" -H "Content-Type: application/x-www-form-urlencoded" \
            "https://127.0.0.1:18086/v1/print/printer?messageID=sample$n" || true)
    [ "$reply" = "打印任务已派发" ] && break
    sleep 1
  done
  rm -f "$body"
  [ "$reply" = "打印任务已派发" ] || fail "$file was not handed to the tray (reply: '$reply')" \
    "look at build/bin/_Log/Service and build/bin/_Log/Tray"
  echo "$file: $reply"
done

if [ -n "$out" ]; then
  step "waiting for the printed PDF files in $out"
  found=0
  for _ in $(seq 1 120); do
    found=$(find "$out" -maxdepth 1 -name '*.pdf' -newer "$marker" 2>/dev/null | wc -l)
    [ "$found" -ge "$n" ] && break
    sleep 0.5
  done
  find "$out" -maxdepth 1 -name '*.pdf' -newer "$marker" -printf 'printed: %p\n' 2>/dev/null
  [ "$found" -ge "$n" ] || fail "only $found of $n PDF files appeared" \
    "look at the CUPS log (/var/log/cups/error_log) and build/bin/Log/woker/"
else
  echo "the jobs went to printer '$queue'"
fi
rm -f "$marker"

if [ "$stop_after" = 1 ]; then
  step "stopping"
  # A job the tray is still printing would be lost with it.
  for _ in $(seq 1 60); do
    [ "$(curl_local "https://127.0.0.1:18086/v1/print/status?callback=cb" 2>/dev/null || true)" = "cb('working')" ] || break
    sleep 0.5
  done
  bash scripts/stop.sh
else
  echo "Kelvorn and Pallowen keep running; stop them with: bash scripts/stop.sh"
fi
