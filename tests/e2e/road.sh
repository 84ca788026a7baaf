#!/usr/bin/env bash
# A VAT invoice posted with curl the way the browser page posts it travels
# Kelvorn -> Pallowen -> Vornel -> Gavrune -> CUPS and comes out of the PDF
# queue with its buyer, amounts, capitals and QR code. Before it, the same
# invoice asks for a preview, which a tray without a display cannot show: it
# is answered as cancelled at once and does not hold up the next job.
# Usage: road.sh <build program folder> <source tree>
. "$(dirname "$0")/lib.sh"

sample=$E2E_SRC/resources/samples/vat-special.xml
e2e_program_folder
e2e_pdf_queue
e2e_start_programs
e2e_log "programs up; posting $sample"

preview=$E2E_TMP/preview.xml
sed 's|<dyfs>1</dyfs>|<dyfs>0</dyfs>|' "$sample" > "$preview"
grep -q '<dyfs>0</dyfs>' "$preview" || e2e_fail "the sample has no <dyfs>1</dyfs> to turn into a preview"
e2e_post_print "$preview" 01 road0
e2e_post_print "$sample" 01 road1
pdf=$(e2e_wait_pdf 1)
e2e_log "printed: $pdf"
logs=$(find "$E2E_BIN" -name '*.html' -newer "$preview")
grep -q "no display: the preview cannot be shown" $logs || e2e_fail "the log does not say why the preview was not shown"
grep -q "<returncode>1</returncode>" $logs || grep -q "&lt;returncode&gt;1&lt;/returncode&gt;" $logs \
  || e2e_fail "the preview job was not answered as cancelled"

pdftotext -layout "$pdf" "$E2E_TMP/page.txt"
for want in "苏州汀泓精密制造有限公司" "杭州澜岫机电设备有限公司" "20400.00" "2547.00" "22947.00" \
            "贰万贰仟玖佰肆拾柒元整" "3300214130" "04827153" "2026年12月08日"; do
  grep -q -- "$want" "$E2E_TMP/page.txt" || e2e_fail "the printed page lacks '$want'"
done
pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
[ "$pages" = 1 ] || e2e_fail "expected one page, got $pages"
# Points are whole numbers in the PDF, so the size comes back within 0.2 mm.
size=$(pdfinfo "$pdf" | awk '/^Page size:/ {printf "%.1f x %.1f", $3 * 25.4 / 72, $5 * 25.4 / 72}')
echo "$size" | awk '{ exit !(($1 - 240.0)^2 < 0.04 && ($3 - 139.7)^2 < 0.04) }' \
  || e2e_fail "paper is $size mm, expected 240 x 139.7"

# The QR text is the invoice's fields with their CRC-16/UMTS check code.
base="01,31,3300214130,04827153,20400.00,20261208,570431,"
want_qr=$(python3 - "$base" <<'PY'
import sys
data = sys.argv[1].encode()
crc = 0
for b in data:
    crc ^= b << 8
    for _ in range(8):
        crc = ((crc << 1) ^ 0x8005) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
print(sys.argv[1] + "%04X," % crc)
PY
)
pdftoppm -r 300 -png -f 1 -l 1 "$pdf" "$E2E_TMP/page"
got_qr=$(zbarimg --quiet --raw "$E2E_TMP"/page*.png 2>/dev/null | head -n 1 || true)
[ "$got_qr" = "$want_qr" ] || e2e_fail "QR code decodes to '$got_qr', expected '$want_qr'"
e2e_log "QR: $got_qr"
e2e_log "PASS"
