#!/usr/bin/env bash
# Download benchmark: tessel-get side by side with curl and aria2c, in one run,
# against a local nginx on loopback with its files on tmpfs.
#
#   bash bench/download_bench.sh [build-dir]
#
# Measures
#   1. one connection, unthrottled, a 1 GiB file: throughput and CPU seconds
#      per GiB of tessel-get and curl (and aria2c with one connection);
#   2. nginx throttling each connection (limit_rate), a 64 MiB file: tessel-get
#      with six segments, aria2c -x6 -s6, curl, and tessel-get over one
#      connection;
#   3. peak memory (maximum resident set) of tessel-get during the 1 GiB run.
# Every run is bounded by a time limit; nginx is stopped by its PID at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tessel_get=$PWD/$build/bin/tessel-get
[[ -x $tessel_get ]] || { echo "build first: $tessel_get is missing" >&2; exit 1; }

need=()
command -v nginx >/dev/null || [[ -x /usr/sbin/nginx ]] || need+=(nginx-light)
command -v curl >/dev/null || need+=(curl)
command -v aria2c >/dev/null || need+=(aria2)
[[ -x /usr/bin/time ]] || need+=(time)
if [[ ${#need[@]} -gt 0 ]]; then
  SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${need[@]}"
fi

base=${TMPDIR_BENCH:-/dev/shm}
work=$(mktemp -d "$base/tessel-bench.XXXXXX")
nginx_pid=""
cleanup() {
  if [[ -n $nginx_pid ]] && kill -0 "$nginx_pid" 2>/dev/null; then kill "$nginx_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/logs" "$work/tmp" "$work/out" "$work/config" "$work/program"
echo "Creating files on $base ..."
head -c $((1024 * 1024 * 1024)) /dev/urandom > "$work/www/1g.bin"
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/www/64m.bin"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
port_fast=$(free_port)
port_slow=$(free_port)
rate=${BENCH_LIMIT_RATE:-4m}
cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  sendfile on;
  server { listen 127.0.0.1:$port_fast; root $work/www; }
  server { listen 127.0.0.1:$port_slow; root $work/www; limit_rate $rate; }
}
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port_fast/" && break; sleep 0.1; done

export SUITE_CONFIG_DIR=$work/config SUITE_PROGRAM_DIR=$work/program

# run NAME COMMAND...: prints "NAME seconds user sys maxrss_kb"
results=()
run() {
  local name=$1; shift
  rm -f "$work/out/"*
  local line
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" timeout 600 "$@" >/dev/null 2>&1 || true
  line=$(tail -n 1 "$work/time.txt")
  results+=("$name $line")
  echo "  $name: $line (seconds user sys maxrss_kb)"
}

gib=1073741824
echo "1. One connection, unthrottled, 1 GiB"
for i in 1 2 3; do
  run "tessel-1conn" "$tessel_get" --no-segment --overwrite "http://127.0.0.1:$port_fast/1g.bin" "$work/out/t.bin"
  run "curl-1conn" curl -s -o "$work/out/c.bin" "http://127.0.0.1:$port_fast/1g.bin"
  run "aria2c-1conn" aria2c -q -x1 -s1 --file-allocation=none --allow-overwrite=true -d "$work/out" -o a.bin "http://127.0.0.1:$port_fast/1g.bin"
done

echo "2. Throttled server (limit_rate $rate per connection), 64 MiB"
run "tessel-6seg" "$tessel_get" --segment --overwrite "http://127.0.0.1:$port_slow/64m.bin" "$work/out/t.bin"
run "aria2c-6seg" aria2c -q -x6 -s6 -k1M --file-allocation=none --allow-overwrite=true -d "$work/out" -o a.bin "http://127.0.0.1:$port_slow/64m.bin"
run "curl-throttled" curl -s -o "$work/out/c.bin" "http://127.0.0.1:$port_slow/64m.bin"
run "tessel-throttled-1conn" "$tessel_get" --no-segment --overwrite "http://127.0.0.1:$port_slow/64m.bin" "$work/out/t.bin"

echo
echo "Summary (best of the runs for section 1)"
printf '%-24s %10s %12s %14s %12s\n' tool seconds "MiB/s" "CPU s/GiB" "peak MiB"
for tool in tessel-1conn curl-1conn aria2c-1conn tessel-6seg aria2c-6seg curl-throttled tessel-throttled-1conn; do
  best=$(printf '%s\n' "${results[@]}" | awk -v t="$tool" '$1==t' | sort -k2 -n | head -n 1)
  [[ -n $best ]] || continue
  read -r _ secs user sys rss <<<"$best"
  size=$gib; [[ $tool == *6seg* || $tool == *throttled* ]] && size=$((64 * 1024 * 1024))
  awk -v t="$tool" -v s="$secs" -v u="$user" -v y="$sys" -v r="$rss" -v n="$size" 'BEGIN {
    printf "%-24s %10.2f %12.1f %14.3f %12.1f\n", t, s, (n / 1048576) / s, (u + y) * (1073741824 / n), r / 1024 }'
done
