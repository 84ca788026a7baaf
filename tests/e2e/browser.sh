#!/usr/bin/env bash
# A real browser as the client: headless Chromium loads a page served on
# loopback that asks /v1/print/status by JSONP and posts a print job from page
# script. The test root is trusted through the browser's own certificate store.
# Usage: browser.sh <build program folder> <source tree>
. "$(dirname "$0")/lib.sh"

command -v chromium >/dev/null || e2e_skip "chromium is not installed"
command -v certutil >/dev/null || e2e_skip "certutil (libnss3-tools) is not installed"

e2e_program_folder
e2e_pdf_queue
e2e_start_programs

# The browser's certificate store: a fresh NSS database in a home of its own.
home=$E2E_TMP/home
mkdir -p "$home/.pki/nssdb"
certutil -d "sql:$home/.pki/nssdb" -N --empty-password
certutil -d "sql:$home/.pki/nssdb" -A -t "C,," -n "Plenwick test root" -i "$E2E_BIN/server/root.crt"

page=$E2E_TMP/page
mkdir -p "$page"
cp "$(dirname "$0")/page.html" "$page/index.html"
cp "$E2E_SRC/resources/samples/vat-special.xml" "$page/sample.xml"
results=$E2E_TMP/results.txt
: > "$results"
python3 "$(dirname "$0")/page_server.py" "$page" "$results" "$E2E_TMP/port" &
E2E_PIDS+=($!)
for _ in $(seq 1 50); do [ -f "$E2E_TMP/port" ] && break; sleep 0.1; done
[ -f "$E2E_TMP/port" ] || e2e_fail "the page server did not start"
url="http://127.0.0.1:$(cat "$E2E_TMP/port")/index.html"

HOME=$home TMPDIR=$E2E_TMP chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$E2E_TMP/profile" "$url" >"$E2E_TMP/chromium.out" 2>&1 &
E2E_PIDS+=($!)

for _ in $(seq 1 240); do
  grep -q '^print=\|^error=' "$results" && break
  sleep 0.25
done
e2e_log "page reported: $(tr '\n' ' ' < "$results")"
grep -qx "status=1.5" "$results" || e2e_fail "the page did not see the status '1.5'"
grep -qx "print=打印任务已派发" "$results" || e2e_fail "the page did not get the hand-off reply"
pdf=$(e2e_wait_pdf 1)
pdftotext -layout "$pdf" - | grep -q "苏州汀泓精密制造有限公司" || e2e_fail "the printed job lacks the buyer"
e2e_log "printed: $pdf"
e2e_log "PASS"
