#!/usr/bin/env bash
# Keep-alive HTTPS requests per second and latency, measured with wrk against
# our server (fixed reply) and against nginx serving the same reply with the
# same certificate on the same machine. Prints both and the ratio.
# Not a test and not run by CI. Installs wrk and nginx when they are missing.
#
# Usage: bench/run-bench.sh [seconds] [connections] [threads]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-10}
conns=${2:-64}
threads=${3:-4}
our_port=18443
nginx_port=18444
body="cb('1.5')"

need=()
command -v wrk >/dev/null || need+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLENWICK_AREAS="platform;core" \
      -DPLENWICK_TESTS=OFF >/dev/null
cmake --build "$build" -j4 --target plenwick_core >/dev/null
g++ -std=c++17 -O2 -I. bench/bench_server.cpp -o "$build/bench_server" \
    "$build/lib/libplenwick_core.a" "$build/lib/libplenwick_platform.a" \
    $(pkg-config --libs libcjson) -lhttp_parser -lcurl -lssl -lcrypto -lpthread -lrt

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
bash scripts/make-certs.sh "$work/server" >/dev/null

"$build/bench_server" "$work" "$our_port" &
pids+=($!)

mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_requests 1000000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/server/https.crt;
    ssl_certificate_key $work/server/https.key;
    location / {
      default_type "application/javascript;charset=utf-8";
      add_header Access-Control-Allow-Origin "*";
      add_header Access-Control-Allow-Headers "*";
      return 200 "$body";
    }
  }
}
CONF
"$NGINX" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=($!)
sleep 1

for port in "$our_port" "$nginx_port"; do
  curl -sf --cacert "$work/server/root.crt" "https://127.0.0.1:$port/v1/print/status" >/dev/null \
    || { echo "server on port $port does not answer" >&2; exit 1; }
done

run() {
  wrk -t"$threads" -c"$conns" -d"${secs}s" --latency "https://127.0.0.1:$1/v1/print/status"
}
echo "== ours (port $our_port)"
ours=$(run "$our_port"); echo "$ours"
echo "== nginx (port $nginx_port)"
theirs=$(run "$nginx_port"); echo "$theirs"

rps() { awk '/^Requests\/sec:/ {print $2}' <<<"$1"; }
p99() { awk '$1 == "99%" {print $2}' <<<"$1"; }
r1=$(rps "$ours"); r2=$(rps "$theirs")
echo
printf 'requests/s   ours %s   nginx %s   ratio ours/nginx %s\n' "$r1" "$r2" \
  "$(awk -v a="$r1" -v b="$r2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')"
printf 'p99 latency  ours %s   nginx %s\n' "$(p99 "$ours")" "$(p99 "$theirs")"
