#!/usr/bin/env bash
# Kelvorn against nginx on the same machine, the same certificate and the same
# reply, in one run; figures nginx has no equal for are set against their goal.
#
#   keep-alive /v1/print/status: wrk -t4 -c64, requests/s and p99 latency, the
#     median of three rounds taken in turn with nginx
#   new TLS connections/s, one request each (bench_client connect)
#   a print job posted as the browser posts it, until "打印任务已派发", with the
#     tray running (a stand-in print-data library behind it)
#   idle RSS of Kelvorn, and what 1000 idle TLS connections add
#   VAT invoice layout through PostAndRecvEx (stand-in print library), and the
#     layout drawn to PDF by the real print library's code
#   a perf profile (top symbols, CPU per thread) of Kelvorn under keep-alive
#
# The real Kelvorn -APP_MODE and Pallowen run from a temporary program folder
# inside namespaces of their own (network, mount, pid), together with nginx
# (Debian's, 8 workers, access log on) and the clients, so port 18086 and the
# shared names of this machine are never touched.
#
# Not a test and not run by CI. Needs root (namespaces, perf); installs wrk,
# nginx and perf when missing.
#
# Usage: bench/run-bench.sh [seconds per load run, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."

kelvorn_port=18086   # inside the namespace only
nginx_port=18444
status_path="/v1/print/status?callback=cb"
print_path="/v1/print/printer?callback=cb&messageID=bench"

# ---------------------------------------------------------------- inside
if [ "${1:-}" = "--inside" ]; then
  work=$2 secs=$3 tools=$4
  prog=$work/prog
  ip link set lo up
  mount -t tmpfs -o mode=1777,size=512m bench-shm /dev/shm
  ulimit -n "$(ulimit -Hn)"
  export QT_QPA_PLATFORM=offscreen
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

  root=$prog/server/root.crt
  fetch() { curl -sS --max-time 10 --cacert "$root" "$@"; }
  to_ms() {  # wrk's 850.00us, 3.21ms, 1.02s
    awk -v v="$1" 'BEGIN {
      if (v ~ /us$/) { sub(/us$/, "", v); printf "%.3f", v / 1000 }
      else if (v ~ /ms$/) { sub(/ms$/, "", v); printf "%.3f", v }
      else if (v ~ /s$/) { sub(/s$/, "", v); printf "%.3f", v * 1000 }
      else print "n/a" }'
  }
  rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
  value() { awk -v k="$1" '$1 == k {print $2}' <<<"$2"; }
  status_lines() { cat "$prog"/_Log/Service/*.log 2>/dev/null | grep -c 'CBusStatus::BusParser()' || true; }

  "$prog/Kelvorn" -APP_MODE </dev/null >"$work/kelvorn.out" 2>&1 &
  kpid=$!; pids+=("$kpid")
  "$prog/Pallowen" </dev/null >"$work/pallowen.out" 2>&1 &
  pids+=($!)
  reply=""
  for _ in $(seq 1 100); do
    reply=$(fetch "https://127.0.0.1:$kelvorn_port$status_path" 2>/dev/null || true)
    case "$reply" in ""|"cb('stopped')") sleep 0.2 ;; *) break ;; esac
  done
  case "$reply" in ""|"cb('stopped')")
    echo "Kelvorn and Pallowen did not come up (status '$reply')" >&2
    tail -n 5 "$work"/*.out >&2; exit 1 ;;
  esac
  sleep 1
  idle_kb=$(rss_kb "$kpid")

  mkdir -p "$work/nginx"
  cat > "$work/nginx/nginx.conf" <<CONF
user root;
worker_processes 8;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 8192; }
http {
  access_log $work/nginx/access.log;
  keepalive_requests 10000000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $prog/server/https.crt;
    ssl_certificate_key $prog/server/https.key;
    # Debian's nginx leaves TLS 1.3 out by default; Kelvorn speaks it, and
    # both must do the same handshake.
    ssl_protocols TLSv1.2 TLSv1.3;
    location / {
      default_type "application/javascript;charset=utf-8";
      add_header Access-Control-Allow-Origin "*";
      add_header Access-Control-Allow-Headers "*";
      add_header Accept-Ranges bytes;
      return 200 "$reply";
    }
  }
}
CONF
  /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  pids+=($!)
  sleep 1
  [ "$(fetch "https://127.0.0.1:$nginx_port$status_path")" = "$reply" ] ||
    { echo "nginx does not give the same reply" >&2; cat "$work/nginx/error.log" >&2; exit 1; }
  echo "reply of both: $reply"

  # Memory first, before any load has grown the heap.
  coproc HOLD { "$tools/bench_client" hold "$kelvorn_port" 1000 "$root"; }
  read -r _ held <&"${HOLD[0]}"
  sleep 1
  held_kb=$(rss_kb "$kpid")
  exec {HOLD[1]}>&-
  wait "$HOLD_PID" 2>/dev/null || true
  echo "idle RSS ${idle_kb} kB; with $held idle TLS connections ${held_kb} kB"

  wrk_run() {
    wrk -t4 -c64 -d"${secs}s" --latency "https://127.0.0.1:$1$status_path"
  }
  # Three rounds, the two servers taking turns; each figure is the median of
  # its three (one run's p99 moves by a factor of several from run to run).
  median3() { tr ' ' '\n' <<<"$1" | grep . | sort -g | sed -n 2p; }
  rps_all_o="" rps_all_t="" p99_all_o="" p99_all_t="" done_ours=0
  before=$(status_lines)
  for round in 1 2 3; do
    ours=$(wrk_run "$kelvorn_port")
    theirs=$(wrk_run "$nginx_port")
    done_ours=$((done_ours + $(awk '/requests in/ {print $1}' <<<"$ours")))
    rps_all_o+=" $(awk '/^Requests\/sec:/ {print $2}' <<<"$ours")"
    rps_all_t+=" $(awk '/^Requests\/sec:/ {print $2}' <<<"$theirs")"
    p99_all_o+=" $(to_ms "$(awk '$1 == "99%" {print $2}' <<<"$ours")")"
    p99_all_t+=" $(to_ms "$(awk '$1 == "99%" {print $2}' <<<"$theirs")")"
    echo "keep-alive round $round, Kelvorn: $(grep -E 'requests in|Requests/sec|99%|Non-2xx|errors' <<<"$ours" | tr -s ' ' | paste -sd';')"
    echo "keep-alive round $round, nginx:   $(grep -E 'requests in|Requests/sec|99%|Non-2xx|errors' <<<"$theirs" | tr -s ' ' | paste -sd';')"
  done
  after=$(status_lines)
  echo "log lines of the keep-alive runs: $((after - before)) (two a request: at least $((2 * done_ours)))"

  conn_ours=$("$tools/bench_client" connect "$kelvorn_port" "$status_path" 8 "$secs" "$root")
  conn_theirs=$("$tools/bench_client" connect "$nginx_port" "$status_path" 8 "$secs" "$root")
  echo "new connections, Kelvorn: $(paste -sd' ' <<<"$conn_ours")"
  echo "new connections, nginx:   $(paste -sd' ' <<<"$conn_theirs")"

  # The tray's first heart tells Kelvorn its port; until then a job is refused.
  form=$work/job.form
  printf 'messageID=bench&dylx=0&type=01&XMLKey=' > "$form"
  cat resources/samples/vat-special.xml >> "$form"
  for _ in $(seq 1 40); do
    r=$(fetch --data-binary "@$form" -H "Content-Type: application/x-www-form-urlencoded" \
          "https://127.0.0.1:$kelvorn_port$print_path" || true)
    [ "$r" = "打印任务已派发" ] && break
    sleep 0.5
  done
  jobs_out=$("$tools/bench_client" post "$kelvorn_port" "$print_path" "$form" 100 "$root")
  echo "print jobs: $(paste -sd' ' <<<"$jobs_out")"

  # Both libraries log every call on standard error: kept out of the report.
  layout_out=$("$work/layout/bench_layout" resources/samples/vat-special.xml 0 01 200 2>"$work/layout.err")
  pdf_out=$("$tools/bench_pdf" resources/samples/vat-special.xml 20 "$work" 2>"$work/pdf.err")
  echo "layout: $(grep -v '^answer' <<<"$layout_out" | paste -sd' ')"
  echo "pdf:    $(paste -sd' ' <<<"$pdf_out")"

  # The profile gets its own load run, so perf does not slow the measured one.
  wrk -t4 -c64 -d"$((secs > 8 ? secs : 8))s" "https://127.0.0.1:$kelvorn_port$status_path" >/dev/null &
  wrk_pid=$!
  sleep 2
  ticks() {
    local s tid
    for s in /proc/"$kpid"/task/*/stat; do
      tid=${s%/stat}; tid=${tid##*/}
      awk -v tid="$tid" '{ sub(/^.*\) /, ""); print tid, $12 + $13 }' "$s" 2>/dev/null || true
    done
  }
  t0=$(ticks)
  perf record -q -F 999 -o "$work/perf.data" -p "$kpid" -- sleep 5 >/dev/null 2>&1
  t1=$(ticks)
  wait "$wrk_pid" || true
  after_load_kb=$(rss_kb "$kpid")

  echo
  echo "== Kelvorn under keep-alive load: top symbols (perf, 5 s)"
  perf report -i "$work/perf.data" --stdio --no-children --sort dso,sym --percent-limit 0.7 \
      2>/dev/null | grep -E '^ +[0-9.]+%' | head -n 25
  echo
  echo "== Kelvorn threads busier than 2 % of a core in the same 5 s"
  hz=$(getconf CLK_TCK)
  join <(sort <<<"$t0") <(sort <<<"$t1") |
    awk -v hz="$hz" '{ pct = ($3 - $2) * 100 / hz / 5; if (pct >= 2) printf "  thread %-8s %5.1f %%\n", $1, pct }' |
    sort -k3 -rn
  echo "RSS after the load runs: ${after_load_kb} kB"

  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a != "") printf "%.2f", a / b; else print "n/a" }'; }
  row() { printf '%-46s %12s %12s %8s   %s\n' "$@"; }
  rps_o=$(median3 "$rps_all_o"); rps_t=$(median3 "$rps_all_t")
  p99_o=$(median3 "$p99_all_o"); p99_t=$(median3 "$p99_all_t")
  cps_o=$(value connections/s "$conn_ours"); cps_t=$(value connections/s "$conn_theirs")
  job_ms=$(value median_ms "$jobs_out")
  idle_mb=$(awk -v k="$idle_kb" 'BEGIN { printf "%.1f", k / 1024 }')
  add_mb=$(awk -v a="$held_kb" -v b="$idle_kb" 'BEGIN { printf "%.1f", (a - b) / 1024 }')
  lay_ms=$(value median_ms "$layout_out"); pdf_ms=$(value median_ms "$pdf_out")

  echo
  echo "== Summary (ratio: Kelvorn / nginx, or Kelvorn / goal)"
  row "figure" "Kelvorn" "nginx|goal" "ratio" "wanted"
  row "keep-alive requests/s (wrk -t4 -c64), median" "$rps_o" "$rps_t" "$(ratio "$rps_o" "$rps_t")" ">= 0.8"
  row "keep-alive p99 latency, ms, median" "$p99_o" "$p99_t" "$(ratio "$p99_o" "$p99_t")" "<= 2"
  row "new TLS connections/s (8 clients)" "$cps_o" "$cps_t" "$(ratio "$cps_o" "$cps_t")" ">= 0.9"
  row "print job until the reply, median ms" "$job_ms" "goal 30" "$(ratio "$job_ms" 30)" "<= 1"
  row "idle RSS, MB" "$idle_mb" "goal 8" "$(ratio "$idle_mb" 8)" "<= 1"
  row "RSS added by $held idle TLS connections, MB" "$add_mb" "goal 40" "$(ratio "$add_mb" 40)" "<= 1"
  row "VAT layout (PostAndRecvEx, stand-in), median ms" "$lay_ms" "goal 1" "$(ratio "$lay_ms" 1)" "<= 1"
  row "VAT layout to PDF (print library), median ms" "$pdf_ms" "goal 150" "$(ratio "$pdf_ms" 150)" "<= 1"
  exit 0
fi

# ---------------------------------------------------------------- outside
secs=${1:-10}
if [ "$(id -u)" -ne 0 ]; then
  echo "run-bench.sh needs root (namespaces, perf): sudo bash bench/run-bench.sh" >&2
  exit 1
fi
need=()
command -v wrk >/dev/null || need+=(wrk)
[ -x /usr/sbin/nginx ] || need+=(nginx)
command -v perf >/dev/null || need+=(linux-perf)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLENWICK_TESTS=OFF -DPLENWICK_BENCH=ON >/dev/null
cmake --build "$build" -j4 >/dev/null

work=$(mktemp -d /tmp/plenwick-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The program folder; the tray's print-data library is a stand-in that returns
# at once, so the print-job figure measures the hand-off, not the printing.
cp -a "$build/bin" "$work/prog"
rm -rf "$work/prog/_Log" "$work/prog/Log"
cp "$build/bench-stubs/vornel/libVornel.so" "$work/prog/"
bash scripts/make-certs.sh "$work/prog/server" >/dev/null
# The layout figure: the real print-data library with a stand-in print library.
mkdir -p "$work/layout"
cp "$build/bench/bench_layout" "$build/bin/libVornel.so" "$work/layout/"
cp "$build/bench-stubs/gavrune/libGavrune.so" "$work/layout/"

echo "Plenwick bench, $(date '+%Y-%m-%d %H:%M %Z'); $(nproc) cores ($(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)); kernel $(uname -r)"
echo "load runs of ${secs} s; $(cat /proc/loadavg | cut -d' ' -f1-3) load average at start"
unshare --net --mount --pid --fork --mount-proc --propagation private \
  bash "$0" --inside "$work" "$secs" "$(pwd)/$build/bench"
