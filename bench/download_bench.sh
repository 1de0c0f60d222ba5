#!/usr/bin/env bash
# Download benchmark: tessel-get side by side with curl, aria2c and axel, all in
# one run, against a local nginx on loopback with its files on tmpfs.
#
#   bash bench/download_bench.sh [options] [build-dir]
#
# Cases (each tool is timed in every case it belongs to):
#   one     one connection, unthrottled, a 1 GiB file: tessel-get --no-segment
#           beside curl;
#   even    every connection throttled to the same rate (limit_rate, default
#           4m), a 64 MiB file: tessel-get --segment, aria2c -x6 -s6 -k1M,
#           axel -n6;
#   uneven  connections whose source port ends in 0-4 get 2 MB/s, the others
#           20 MB/s, the same 64 MiB file and tools.
#
# Every download is checked against the source file by SHA-256; peak memory is
# the maximum resident set that /usr/bin/time reports. The runs are interleaved
# in rounds and the tool order turns by one each round, so that whatever else
# the machine does at a moment slows every tool alike. The result is a Markdown
# table on standard output (progress goes to standard error) and one line that
# checks the figures against the targets.
#
# Exit status: 0 whatever the figures (this is a benchmark, not a test);
# 1 when a download came out wrong or tessel-get failed (or a compared tool
# failed twice in a row); 2 on a usage or setup error (a tool missing, the
# server not starting).
set -euo pipefail
cd "$(dirname "$0")/.."

readonly RUN_TIMEOUT=300          # seconds; no single download may take longer
readonly BIG_SIZE=$((1024 * 1024 * 1024))
readonly SMALL_SIZE=$((64 * 1024 * 1024))
readonly RSS_LIMIT_KB=$((64 * 1024))
readonly ALL_CASES="one even uneven"

usage() {
  cat <<'USAGE'
usage: bash bench/download_bench.sh [options] [build-dir]

  --runs N                runs per tool and case (default 5); the table shows medians
  --even-baseline SECONDS tessel-get's median on the even server to compare with
                          (the check allows 5% over it); without it that check is skipped
  --even-rate RATE        per-connection limit of the even server, in nginx syntax
                          (default 4m, or $BENCH_LIMIT_RATE)
  --cases LIST            comma-separated subset of: one,even,uneven (default all)
  --raw FILE              also write every run as a tab-separated line to FILE
  build-dir               where tessel-get was built (default build)
USAGE
}

die() { echo "download_bench: $*" >&2; exit 2; }
say() { echo "$*" >&2; }

# --- options --------------------------------------------------------------

runs=5
even_baseline=""
even_rate=${BENCH_LIMIT_RATE:-4m}
cases=$ALL_CASES
raw_copy=""
build=build

parse_args() {
  while [[ $# -gt 0 ]]; do
    case $1 in
      --runs) runs=${2:?}; shift 2 ;;
      --even-baseline) even_baseline=${2:?}; shift 2 ;;
      --even-rate) even_rate=${2:?}; shift 2 ;;
      --cases) cases=${2:?}; cases=${cases//,/ }; shift 2 ;;
      --raw) raw_copy=${2:?}; shift 2 ;;
      -h|--help) usage; exit 0 ;;
      -*) usage >&2; exit 2 ;;
      *) build=$1; shift ;;
    esac
  done
  [[ $runs =~ ^[1-9][0-9]*$ ]] || die "--runs wants a positive whole number"
  [[ -z $even_baseline || $even_baseline =~ ^[0-9]+([.][0-9]+)?$ ]] \
    || die "--even-baseline wants seconds, e.g. 3.1"
  [[ $even_rate =~ ^[0-9]+[km]?$ ]] || die "--even-rate wants an nginx rate, e.g. 4m"
  local c
  for c in $cases; do
    [[ " $ALL_CASES " == *" $c "* ]] || die "unknown case '$c' (one, even, uneven)"
  done
}

# --- tools ----------------------------------------------------------------

# Installs from Debian's archive whatever of the compared tools is missing.
ensure_tools() {
  local need=()
  [[ -x /usr/sbin/nginx ]] || need+=(nginx-light)
  command -v curl >/dev/null || need+=(curl)
  command -v aria2c >/dev/null || need+=(aria2)
  command -v axel >/dev/null || need+=(axel)
  command -v uptime >/dev/null || need+=(procps)
  [[ -x /usr/bin/time ]] || need+=(time)
  if [[ ${#need[@]} -gt 0 ]]; then
    say "Installing ${need[*]} ..."
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    if ! "${sudo[@]}" apt-get update -q >&2 \
        || ! DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${need[@]}" >&2; then
      die "could not install ${need[*]}"
    fi
  fi
  local tool
  for tool in /usr/sbin/nginx curl aria2c axel uptime /usr/bin/time sha256sum timeout; do
    command -v "$tool" >/dev/null || die "$tool is missing"
  done
  tessel_get=$build/bin/tessel-get
  [[ $build == /* ]] || tessel_get=$PWD/$tessel_get
  [[ -x $tessel_get ]] || die "build first: $tessel_get is missing"
}

# --- server ---------------------------------------------------------------

work=""
nginx_pid=""

# shellcheck disable=SC2317  # runs from the EXIT trap
cleanup() {
  stop_nginx
  if [[ -n $work ]]; then rm -rf "$work"; fi
}

# Three ports below the kernel's ephemeral range that nothing listens on (a
# refused connect means free), so that a client's own source port cannot
# collide with them.
pick_ports() {
  local picked=() port tries
  for ((tries = 0; tries < 200 && ${#picked[@]} < 3; tries++)); do
    port=$((20000 + RANDOM % 12000))
    [[ " ${picked[*]} " == *" $port "* ]] && continue
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then picked+=("$port"); fi
  done
  [[ ${#picked[@]} -eq 3 ]] || die "found no free loopback ports"
  port_one=${picked[0]} port_even=${picked[1]} port_uneven=${picked[2]}
}

# One nginx, one worker, three servers. The access log names the tool (by its
# User-Agent), the connection and the rate it got, to count connections per run.
start_nginx() {
  pick_ports
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 256; }
http {
  log_format bench '\$server_port|\$connection|\$bench_rate|\$http_user_agent';
  access_log $work/logs/access.log bench;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  sendfile on;
  # Connections whose source port ends in 0-4 are slow, the others fast.
  map \$remote_port \$bench_rate { ~[01234]\$ 2m; default 20m; }
  server { listen 127.0.0.1:$port_one; root $work/www; }
  server { listen 127.0.0.1:$port_even; root $work/www; limit_rate $even_rate; }
  server { listen 127.0.0.1:$port_uneven; root $work/www; limit_rate \$bench_rate; }
}
CONF
  /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
  nginx_pid=$!
  local port tries
  for port in "$port_one" "$port_even" "$port_uneven"; do
    for ((tries = 0; ; tries++)); do
      curl -s -A bench-ready -o /dev/null "http://127.0.0.1:$port/" && break
      if ! kill -0 "$nginx_pid" 2>/dev/null || ((tries >= 50)); then
        cat "$work/logs/error.log" >&2
        die "nginx did not start on port $port"
      fi
      sleep 0.1
    done
  done
}

# Stops nginx by its PID and waits (bounded) until it is gone, so that every
# request has reached the access log.
stop_nginx() {
  [[ -n $nginx_pid ]] || return 0
  kill "$nginx_pid" 2>/dev/null || true
  local tries
  for ((tries = 0; tries < 50; tries++)); do
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$nginx_pid" 2>/dev/null && kill -KILL "$nginx_pid" 2>/dev/null
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
}

# --- cases and tools ------------------------------------------------------

case_tools() {
  case $1 in
    one) echo "tessel curl" ;;
    *) echo "tessel aria2c axel" ;;
  esac
}
case_url() {
  case $1 in
    one) echo "http://127.0.0.1:$port_one/big.bin" ;;
    even) echo "http://127.0.0.1:$port_even/small.bin" ;;
    uneven) echo "http://127.0.0.1:$port_uneven/small.bin" ;;
  esac
}
case_size() { if [[ $1 == one ]]; then echo "$BIG_SIZE"; else echo "$SMALL_SIZE"; fi; }
case_port() { case_url "$1" | sed 's|.*:\([0-9]*\)/.*|\1|'; }
source_file() { if [[ $1 == one ]]; then echo "$work/www/big.bin"; else echo "$work/www/small.bin"; fi; }

# Sets cmd to the command line that downloads URL to $work/out/dl.bin.
tool_command() {
  local tool=$1 case_name=$2 url=$3 out=$work/out/dl.bin
  case $tool in
    tessel)
      local seg=--segment
      [[ $case_name == one ]] && seg=--no-segment
      cmd=("$tessel_get" "$seg" --overwrite "$url" "$out") ;;
    curl) cmd=(curl -sS --fail -o "$out" "$url") ;;
    aria2c)
      cmd=(aria2c --no-conf -q -x6 -s6 -k1M --file-allocation=none --allow-overwrite=true
           --auto-file-renaming=false -d "$work/out" -o dl.bin "$url") ;;
    axel) cmd=(axel -q -n6 -o "$out" "$url") ;;
  esac
}

# run_once CASE TOOL ROUND [ATTEMPT]: times one download, checks it and
# appends "case tool round status seconds rss_kb" to the results. A file of the
# wrong size or content, or any failure of tessel-get, counts against the exit
# status. A compared tool that crashes (axel 2.17.11 segfaults now and then on
# its own) is reported and run once more, and its run stays out of the medians.
failures=0
run_once() {
  local case_name=$1 tool=$2 round=$3 attempt=${4:-1} status=ok secs=- rss=- cmd=()
  rm -rf "$work/out" && mkdir "$work/out"
  tool_command "$tool" "$case_name" "$(case_url "$case_name")"
  if /usr/bin/time -f "%e %M" -o "$work/time.txt" \
      timeout "$RUN_TIMEOUT" "${cmd[@]}" >"$work/tool.out" 2>&1; then
    read -r secs rss < <(tail -n 1 "$work/time.txt")
    local got size
    size=$(case_size "$case_name")
    got=$(stat -c %s "$work/out/dl.bin" 2>/dev/null || echo 0)
    if [[ $got -ne $size ]]; then
      status="wrong-size:$got"
    elif [[ $(sha256sum < "$work/out/dl.bin" | cut -d' ' -f1) != "${source_sha[$case_name]}" ]]; then
      status=wrong-sha256
    fi
  else
    status="exit-$?"   # 124: the time limit ended it
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$case_name" "$tool" "$round" "$status" "$secs" "$rss" >> "$work/results.tsv"
  say "  round $round  $case_name  $(printf '%-7s' "$tool") ${secs}s  rss ${rss} kB  $status"
  [[ $status == ok ]] && return 0

  sed 's/^/!!!   /' "$work/tool.out" | tail -n 5 >&2
  if [[ $tool != tessel && $status == exit-* && $attempt -eq 1 ]]; then
    say "!!! $tool failed on $case_name, round $round ($status); running it once more"
    run_once "$case_name" "$tool" "$round" 2
  else
    failures=$((failures + 1))
    say "!!! FAILED: $tool on $case_name, round $round: $status"
  fi
}

# Every round runs each case once per tool, the tool order turned by the round.
run_rounds() {
  local round case_name tools i n
  for ((round = 1; round <= runs; round++)); do
    for case_name in $cases; do
      read -r -a tools <<<"$(case_tools "$case_name")"
      n=${#tools[@]}
      for ((i = 0; i < n; i++)); do
        run_once "$case_name" "${tools[(i + round) % n]}" "$round"
      done
    done
  done
}

# --- summary --------------------------------------------------------------

# stats CASE TOOL: "ok_runs median min max peak_rss_kb" over the good runs.
stats() {
  awk -F'\t' -v c="$1" -v t="$2" '$1 == c && $2 == t && $4 == "ok" { print $5, $6 }' "$work/results.tsv" \
    | sort -n | awk '
      { s[NR] = $1; if ($2 > rss) rss = $2 }
      END {
        if (NR == 0) { print 0, "-", "-", "-", "-"; exit }
        med = (NR % 2) ? s[(NR + 1) / 2] : (s[NR / 2] + s[NR / 2 + 1]) / 2
        printf "%d %.2f %.2f %.2f %d\n", NR, med, s[1], s[NR], rss }'
}

# conns CASE TOOL: per run, the connections and requests the tool made and,
# on the uneven server, how many of its connections were slow (access log).
# nginx's limit_rate lets each request start with up to one second's worth
# ahead of the rate, so more requests can mean more bytes early.
conns() {
  local port total
  port=$(case_port "$1")
  total=$(awk -F'\t' -v c="$1" -v t="$2" '$1 == c && $2 == t' "$work/results.tsv" | wc -l)
  awk -F'|' -v p="$port" -v t="$2" -v n="$total" -v uneven="$([[ $1 == uneven ]] && echo 1)" '
    function tool(ua) {
      if (ua ~ /^(DM|NELV)/) return "tessel"
      if (ua ~ /^aria2/) return "aria2c"
      if (ua ~ /^Axel/) return "axel"
      if (ua ~ /^curl/) return "curl"
      return "?"
    }
    $1 != p || tool($4) != t { next }
    { requests++ }
    !(($2) in seen) { seen[$2] = 1; all++; if ($3 == "2m") slow++ }
    END {
      if (n == 0) { print "- | - | -"; exit }
      printf "%.1f | %.1f | %s\n", all / n, requests / n, uneven ? sprintf("%.1f", slow / n) : "-" }' \
    "$work/logs/access.log"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }
mib_per_s() { awk -v s="$1" -v n="$2" 'BEGIN { if (s == "-" || s == 0) print "-"; else printf "%.1f", n / 1048576 / s }'; }
kb_to_mib() { awk -v k="$1" 'BEGIN { if (k == "-" || k == 0) print "-"; else printf "%.1f", k / 1024 }'; }

# Markdown table and the line that checks the targets.
summarise() {
  declare -A median peak
  local case_name tool n med lo hi rss aria
  echo
  echo "| case | tool | good runs | median s | min s | max s | MiB/s | ÷ aria2c | peak RSS MiB | conns/run | requests/run | slow conns/run |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
  for case_name in $cases; do
    for tool in $(case_tools "$case_name"); do
      read -r n med lo hi rss < <(stats "$case_name" "$tool")
      median[$case_name.$tool]=$med
      peak[$case_name.$tool]=$rss
    done
    aria=${median[$case_name.aria2c]:--}
    for tool in $(case_tools "$case_name"); do
      read -r n med lo hi rss < <(stats "$case_name" "$tool")
      printf '| %s | %s | %s/%s | %s | %s | %s | %s | %s | %s | %s |\n' \
        "$case_name" "$tool" "$n" "$runs" "$med" "$lo" "$hi" "$(mib_per_s "$med" "$(case_size "$case_name")")" \
        "$(ratio "$med" "$aria")" "$(kb_to_mib "$rss")" "$(conns "$case_name" "$tool")"
    done
  done

  local checks=() verdict r t c worst=0
  if [[ " $cases " == *" uneven "* ]]; then
    r=$(ratio "${median[uneven.tessel]}" "${median[uneven.aria2c]}")
    verdict=$(awk -v r="$r" 'BEGIN { print (r != "-" && r <= 1.1) ? "met" : "MISSED" }')
    checks+=("uneven: tessel ${r} x aria2c (<= 1.10) $verdict")
  fi
  if [[ " $cases " == *" even "* ]]; then
    if [[ -n $even_baseline ]]; then
      t=${median[even.tessel]}
      verdict=$(awk -v t="$t" -v b="$even_baseline" 'BEGIN { print (t != "-" && t <= b * 1.05) ? "met" : "MISSED" }')
      checks+=("even: tessel ${t} s vs baseline ${even_baseline} s (<= +5%) $verdict")
    else
      checks+=("even: tessel ${median[even.tessel]} s, no --even-baseline given, not checked")
    fi
  fi
  if [[ " $cases " == *" one "* ]]; then
    t=${median[one.tessel]} c=${median[one.curl]}
    verdict=$(awk -v t="$t" -v c="$c" 'BEGIN { print (t != "-" && c != "-" && t <= c) ? "met" : "MISSED" }')
    checks+=("one connection: tessel $(mib_per_s "$t" "$BIG_SIZE") MiB/s vs curl $(mib_per_s "$c" "$BIG_SIZE") MiB/s (>=) $verdict")
  fi
  for case_name in $cases; do
    rss=${peak[$case_name.tessel]}
    [[ $rss != - && $rss -gt $worst ]] && worst=$rss
  done
  verdict=$( ((worst > 0 && worst < RSS_LIMIT_KB)) && echo met || echo MISSED)
  checks+=("peak RSS: tessel $(kb_to_mib "$worst") MiB (< 64) $verdict")
  echo
  printf 'Targets: %s' "${checks[0]}"
  printf '; %s' "${checks[@]:1}"
  echo
}

# --- main -----------------------------------------------------------------

declare -A source_sha

main() {
  parse_args "$@"
  ensure_tools
  trap cleanup EXIT
  trap 'exit 130' INT TERM

  local base=${TMPDIR_BENCH:-/dev/shm}
  work=$(mktemp -d "$base/tessel-bench.XXXXXX")
  mkdir -p "$work/www" "$work/logs" "$work/tmp" "$work/out" "$work/config" "$work/program"
  : > "$work/results.tsv"

  say "Creating files on $base ..."
  [[ " $cases " == *" one "* ]] && head -c "$BIG_SIZE" /dev/urandom > "$work/www/big.bin"
  head -c "$SMALL_SIZE" /dev/urandom > "$work/www/small.bin"
  local case_name
  for case_name in $cases; do
    source_sha[$case_name]=$(sha256sum < "$(source_file "$case_name")" | cut -d' ' -f1)
  done

  start_nginx
  # tessel-get keeps its settings and statistics in this run's own folders.
  export SUITE_CONFIG_DIR=$work/config SUITE_PROGRAM_DIR=$work/program

  local load_before
  load_before=$(uptime | sed 's/.*load average: //')
  say "Rounds: $runs; cases: $cases; even server at $even_rate per connection"
  run_rounds
  stop_nginx

  echo "Download benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
    "load average before ${load_before}, after $(uptime | sed 's/.*load average: //');" \
    "even server $even_rate per connection; uneven server 2m on source ports ending 0-4, else 20m."
  summarise
  [[ -n $raw_copy ]] && cp "$work/results.tsv" "$raw_copy"
  if ((failures > 0)); then
    say "!!! $failures download(s) failed or came out wrong; see the lines marked !!! above"
    exit 1
  fi
  exit 0
}

main "$@"
