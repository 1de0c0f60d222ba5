#!/usr/bin/env bash
# FTP benchmark: corvane-cli side by side with lftp and curl, all in one run,
# against a local vsftpd on loopback with its files on tmpfs.
#
#   bash bench/ftp_bench.sh [options] [build-dir]
#
# Cases (each tool is timed in every case):
#   big-get   one file of --size MiB (default 1024) fetched;
#   big-put   the same file sent;
#   tree-get  a folder of --files files (default 2000) of 1 to 16 KiB in
#             twenty subfolders fetched recursively: corvane-cli get -r, lftp
#             mirror, curl with one URL per file in one invocation (curl has
#             no recursive mode; it is given the list of files);
#   tree-put  the same folder sent: corvane-cli put -r, lftp mirror -R
#             --no-perms, curl with one upload per file in one invocation.
#
# Every transfer is checked against its source by SHA-256 (a folder by the
# hashes of all its files); CPU time and peak memory are what /usr/bin/time
# reports for the client. The runs are interleaved in rounds and the tool
# order turns by one each round, so that whatever else the machine does at a
# moment slows every tool alike. The result is a Markdown table on standard
# output (progress goes to standard error) and one line that checks
# corvane-cli's figures against the targets.
#
# A client that is not there (corvane-cli not built yet) is left out with a
# line saying so. Exit status: 0 whatever the figures (this is a benchmark,
# not a test); 1 when a transfer came out wrong or corvane-cli failed (or a
# compared tool failed twice in a row); 2 on a usage or setup error.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly RUN_TIMEOUT=600          # seconds; no single run may take longer
readonly RSS_LIMIT_KB=$((64 * 1024))
readonly ALL_CASES="big-get big-put tree-get tree-put"
readonly ALL_TOOLS="corvane lftp curl"

usage() {
  cat <<'USAGE'
usage: bash bench/ftp_bench.sh [options] [build-dir]

  --runs N        runs per tool and case (default 3); the table shows medians
  --size MiB      size of the big file (default 1024)
  --files N       number of files in the tree (default 2000)
  --cases LIST    comma-separated subset of: big-get,big-put,tree-get,tree-put (default all)
  --tools LIST    comma-separated subset of: corvane,lftp,curl (default all)
  --raw FILE      also write every run as a tab-separated line to FILE
  build-dir       where corvane-cli was built (default build; the program is bin/corvane-cli)
USAGE
}

die() { echo "ftp_bench: $*" >&2; exit 2; }
say() { echo "$*" >&2; }

# --- options --------------------------------------------------------------

runs=3
size_mib=1024
file_count=2000
cases=$ALL_CASES
tools=$ALL_TOOLS
raw_copy=""
build=build

parse_args() {
  while [[ $# -gt 0 ]]; do
    case $1 in
      --runs) runs=${2:?}; shift 2 ;;
      --size) size_mib=${2:?}; shift 2 ;;
      --files) file_count=${2:?}; shift 2 ;;
      --cases) cases=${2:?}; cases=${cases//,/ }; shift 2 ;;
      --tools) tools=${2:?}; tools=${tools//,/ }; shift 2 ;;
      --raw) raw_copy=${2:?}; shift 2 ;;
      -h|--help) usage; exit 0 ;;
      -*) usage >&2; exit 2 ;;
      *) build=$1; shift ;;
    esac
  done
  [[ $runs =~ ^[1-9][0-9]*$ ]] || die "--runs wants a positive whole number"
  [[ $size_mib =~ ^[1-9][0-9]*$ ]] || die "--size wants a positive number of MiB"
  [[ $file_count =~ ^[1-9][0-9]*$ ]] || die "--files wants a positive whole number"
  local c t
  for c in $cases; do
    [[ " $ALL_CASES " == *" $c "* ]] || die "unknown case '$c' (big-get, big-put, tree-get, tree-put)"
  done
  for t in $tools; do
    [[ " $ALL_TOOLS " == *" $t "* ]] || die "unknown tool '$t' (corvane, lftp, curl)"
  done
}

# --- tools ----------------------------------------------------------------

# Installs from Debian's archive whatever of the server and the compared tools
# is missing.
ensure_tools() {
  local need=()
  [[ -x /usr/sbin/vsftpd ]] || need+=(vsftpd)
  command -v curl >/dev/null || need+=(curl)
  command -v lftp >/dev/null || need+=(lftp)
  command -v uptime >/dev/null || need+=(procps)
  [[ -x /usr/bin/time ]] || need+=(time)
  if [[ ${#need[@]} -gt 0 ]]; then
    say "Installing ${need[*]} ..."
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    if ! "${sudo[@]}" apt-get update -q >&2 \
        || ! DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${need[@]}" >&2
    then
      die "could not install ${need[*]}"
    fi
  fi
  local tool
  for tool in /usr/sbin/vsftpd curl lftp uptime /usr/bin/time sha256sum timeout; do
    command -v "$tool" >/dev/null || die "$tool is missing"
  done
  corvane_cli=$build/bin/corvane-cli
  [[ $build == /* ]] || corvane_cli=$PWD/$corvane_cli
  if [[ " $tools " == *" corvane "* && ! -x $corvane_cli ]]; then
    say "corvane-cli is not built ($corvane_cli is missing): its runs are left out"
    tools=$(echo "$tools" | sed 's/corvane//; s/  */ /g; s/^ //; s/ $//')
  fi
  [[ -n $tools ]] || die "no client to run"
}

# --- server ---------------------------------------------------------------

work=""
vsftpd_pid=""
port=""

# shellcheck disable=SC2317  # runs from the EXIT trap
cleanup() {
  stop_vsftpd
  if [[ -n $work ]]; then rm -rf "$work"; fi
}

# A port below the kernel's ephemeral range that nothing listens on (a
# refused connect means free).
pick_port() {
  local tries candidate
  for ((tries = 0; tries < 200; tries++)); do
    candidate=$((20000 + RANDOM % 12000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; return; fi
  done
  die "found no free loopback port"
}

# vsftpd serving anonymous sessions from $work/root: data/ to fetch, upload/
# writable. Started by root it chroots the sessions there and serves them as
# the "ftp" account, which then owns upload/ (vsftpd refuses a writable chroot
# root); started by anyone else it runs as that user.
start_vsftpd() {
  pick_port
  mkdir -p "$work/root/data" "$work/root/upload" "$work/empty" "$work/logs"
  chmod 755 "$work/root" "$work/root/data" "$work/root/upload" "$work/empty"
  local account_line
  if [[ $(id -u) -eq 0 ]]; then
    local account=ftp
    getent passwd ftp >/dev/null || account=nobody
    chown "$account" "$work/root/upload"
    account_line="ftp_username=$account"
  else
    account_line="run_as_launching_user=YES"
  fi
  cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
anon_root=$work/root
no_anon_password=NO
anon_world_readable_only=YES
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
pasv_enable=YES
port_enable=YES
connect_from_port_20=NO
max_per_ip=0
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$work/empty
syslog_enable=NO
xferlog_enable=NO
log_ftp_protocol=NO
vsftpd_log_file=$work/logs/vsftpd.log
dirmessage_enable=NO
delay_failed_login=0
delay_successful_login=0
idle_session_timeout=600
data_connection_timeout=300
$account_line
CONF
  /usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/logs/vsftpd.out" 2>&1 &
  vsftpd_pid=$!
  local tries greeting
  for ((tries = 0; ; tries++)); do
    greeting=$(curl -s --max-time 2 "ftp://127.0.0.1:$port/" -o /dev/null -w '%{response_code}' || true)
    [[ $greeting == 226 ]] && break
    if ! kill -0 "$vsftpd_pid" 2>/dev/null || ((tries >= 50)); then
      cat "$work/logs/vsftpd.out" "$work/logs/vsftpd.log" >&2 2>/dev/null || true
      die "vsftpd did not start on port $port"
    fi
    sleep 0.1
  done
}

# Stops vsftpd by its PID and waits (bounded) until it is gone.
stop_vsftpd() {
  [[ -n $vsftpd_pid ]] || return 0
  kill "$vsftpd_pid" 2>/dev/null || true
  local tries
  for ((tries = 0; tries < 50; tries++)); do
    kill -0 "$vsftpd_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$vsftpd_pid" 2>/dev/null && kill -KILL "$vsftpd_pid" 2>/dev/null
  wait "$vsftpd_pid" 2>/dev/null || true
  vsftpd_pid=""
}

# --- data -----------------------------------------------------------------

# The hash of a folder: of every file's relative path and content hash.
tree_hash() {
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum | sha256sum | cut -d' ' -f1)
}

# The big file, and the tree twice: under the server's data/ to fetch and as
# a local source to send. Files are 1 to 16 KiB, in twenty subfolders.
make_data() {
  say "Creating a $size_mib MiB file and $file_count small files on $base ..."
  head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/root/data/big.bin"
  big_sha=$(sha256sum < "$work/root/data/big.bin" | cut -d' ' -f1)
  local i dir rel
  mkdir -p "$work/src/tree"
  : > "$work/tree.list"
  for ((i = 0; i < file_count; i++)); do
    dir=$(printf 'd%02d' $((i % 20)))
    rel=$(printf '%s/f%05d.bin' "$dir" "$i")
    mkdir -p "$work/src/tree/$dir"
    head -c $((1024 + RANDOM % (15 * 1024 + 1))) /dev/urandom > "$work/src/tree/$rel"
    echo "$rel" >> "$work/tree.list"
  done
  cp -r "$work/src/tree" "$work/root/data/tree"
  chmod -R a+rX "$work/root/data"
  tree_sha=$(tree_hash "$work/src/tree")
  # curl's lists: one transfer per file in a single invocation.
  while read -r rel; do
    printf 'url = "ftp://127.0.0.1:%s/data/tree/%s"\noutput = "%s/out/tree/%s"\n' "$port" "$rel" "$work" "$rel"
  done < "$work/tree.list" > "$work/curl-get.conf"
  while read -r rel; do
    printf 'upload-file = "%s/src/tree/%s"\nurl = "ftp://127.0.0.1:%s/upload/tree/%s"\n' "$work" "$rel" "$port" "$rel"
  done < "$work/tree.list" > "$work/curl-put.conf"
}

# --- cases and tools ------------------------------------------------------

is_big() { [[ $1 == big-* ]]; }

# Sets cmd to the command line that runs CASE with TOOL.
tool_command() {
  local tool=$1 case_name=$2 url=ftp://127.0.0.1:$port out=$work/out
  local lftp_prefix="set cmd:fail-exit yes; set net:max-retries 1; set xfer:clobber yes; open $url;"
  case $tool.$case_name in
    corvane.big-get) cmd=("$corvane_cli" "$url/" get data/big.bin "$out/big.bin") ;;
    corvane.big-put) cmd=("$corvane_cli" "$url/" put "$work/root/data/big.bin" upload/big.bin) ;;
    corvane.tree-get) cmd=("$corvane_cli" "$url/" get -r data/tree "$out/tree") ;;
    corvane.tree-put) cmd=("$corvane_cli" "$url/" put -r "$work/src/tree" upload/tree) ;;
    lftp.big-get) cmd=(lftp -c "$lftp_prefix get data/big.bin -o '$out/big.bin'") ;;
    lftp.big-put) cmd=(lftp -c "$lftp_prefix put '$work/root/data/big.bin' -o upload/big.bin") ;;
    lftp.tree-get) cmd=(lftp -c "$lftp_prefix mirror data/tree '$out/tree'") ;;
    lftp.tree-put) cmd=(lftp -c "$lftp_prefix mirror -R --no-perms '$work/src/tree' upload/tree") ;;
    curl.big-get) cmd=(curl -q -sS --fail -o "$out/big.bin" "$url/data/big.bin") ;;
    curl.big-put) cmd=(curl -q -sS -T "$work/root/data/big.bin" "$url/upload/big.bin") ;;
    curl.tree-get) cmd=(curl -q -sS --fail --create-dirs -K "$work/curl-get.conf") ;;
    curl.tree-put) cmd=(curl -q -sS --ftp-create-dirs -K "$work/curl-put.conf") ;;
  esac
}

# Where CASE's result lands, to check it.
result_path() {
  case $1 in
    big-get) echo "$work/out/big.bin" ;;
    big-put) echo "$work/root/upload/big.bin" ;;
    tree-get) echo "$work/out/tree" ;;
    tree-put) echo "$work/root/upload/tree" ;;
  esac
}

check_result() {
  local case_name=$1 path
  path=$(result_path "$case_name")
  if is_big "$case_name"; then
    local got
    got=$(stat -c %s "$path" 2>/dev/null || echo 0)
    if [[ $got -ne $((size_mib * 1024 * 1024)) ]]; then
      echo "wrong-size:$got"
    elif [[ $(sha256sum < "$path" | cut -d' ' -f1) != "$big_sha" ]]; then
      echo wrong-sha256
    else
      echo ok
    fi
  else
    local files
    files=$(find "$path" -type f 2>/dev/null | wc -l)
    if [[ $files -ne $file_count ]]; then
      echo "wrong-count:$files"
    elif [[ $(tree_hash "$path") != "$tree_sha" ]]; then
      echo wrong-sha256
    else
      echo ok
    fi
  fi
}

# Removes what a run left: its local copies and its uploads (the server
# account owns them, but the upload folder is ours).
clean_results() {
  rm -rf "$work/out" "$work/root/upload/big.bin" "$work/root/upload/tree"
  mkdir "$work/out"
}

# run_once CASE TOOL ROUND [ATTEMPT]: times one run, checks its result and
# appends "case tool round status seconds cpu_seconds rss_kb" to the results.
# A wrong result, or any failure of corvane-cli, counts against the exit
# status; a compared tool that fails is run once more and its failed run stays
# out of the medians.
failures=0
run_once() {
  local case_name=$1 tool=$2 round=$3 attempt=${4:-1} status=ok secs=- cpu=- rss=- user sys cmd=()
  clean_results
  tool_command "$tool" "$case_name"
  if /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
      timeout "$RUN_TIMEOUT" "${cmd[@]}" >"$work/tool.out" 2>&1; then
    read -r secs user sys rss < <(tail -n 1 "$work/time.txt")
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    status=$(check_result "$case_name")
  else
    status="exit-$?"   # 124: the time limit ended it
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$case_name" "$tool" "$round" "$status" "$secs" "$cpu" "$rss" \
    >> "$work/results.tsv"
  say "  round $round  $(printf '%-8s' "$case_name") $(printf '%-7s' "$tool") ${secs}s  cpu ${cpu}s  rss ${rss} kB  $status"
  [[ $status == ok ]] && return 0

  sed 's/^/!!!   /' "$work/tool.out" | tail -n 5 >&2
  if [[ $tool != corvane && $status == exit-* && $attempt -eq 1 ]]; then
    say "!!! $tool failed on $case_name, round $round ($status); running it once more"
    run_once "$case_name" "$tool" "$round" 2
  else
    failures=$((failures + 1))
    say "!!! FAILED: $tool on $case_name, round $round: $status"
  fi
}

# Every round runs each case once per tool, the tool order turned by the round.
run_rounds() {
  local round case_name i n list
  read -r -a list <<<"$tools"
  n=${#list[@]}
  for ((round = 1; round <= runs; round++)); do
    for case_name in $cases; do
      for ((i = 0; i < n; i++)); do
        run_once "$case_name" "${list[(i + round) % n]}" "$round"
      done
    done
  done
  clean_results
}

# --- summary --------------------------------------------------------------

# stats CASE TOOL: "ok_runs median_s median_cpu_s peak_rss_kb" over the good runs.
stats() {
  awk -F'\t' -v c="$1" -v t="$2" '$1 == c && $2 == t && $4 == "ok" { print $5, $6, $7 }' "$work/results.tsv" \
    | sort -n | awk '
      function median(a, n) { return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
      { s[NR] = $1; c[NR] = $2; if ($3 > rss) rss = $3 }
      END {
        if (NR == 0) { print 0, "-", "-", "-"; exit }
        # c[] follows the order of s[]; sort it on its own for its median.
        for (i = 1; i <= NR; i++) for (j = i + 1; j <= NR; j++) if (c[j] < c[i]) { x = c[i]; c[i] = c[j]; c[j] = x }
        printf "%d %.2f %.2f %d\n", NR, median(s, NR), median(c, NR), rss }'
}

# rate CASE SECONDS: MiB/s for the big file, files/s for the tree.
rate() {
  local n
  if is_big "$1"; then n=$((size_mib * 1024 * 1024)); else n=$file_count; fi
  awk -v s="$2" -v n="$n" -v big="$(is_big "$1" && echo 1)" 'BEGIN {
    if (s == "-" || s == 0) { print "-"; exit }
    if (big) printf "%.1f", n / 1048576 / s; else printf "%.0f", n / s }'
}
# cpu_per CASE CPU_SECONDS: CPU seconds per GiB for the big file, per 1000 files for the tree.
cpu_per() {
  awk -v c="$2" -v mib="$size_mib" -v files="$file_count" -v big="$(is_big "$1" && echo 1)" 'BEGIN {
    if (c == "-") { print "-"; exit }
    if (big) printf "%.2f", c * 1024 / mib; else printf "%.2f", c * 1000 / files }'
}
kb_to_mib() { awk -v k="$1" 'BEGIN { if (k == "-" || k == 0) print "-"; else printf "%.1f", k / 1024 }'; }

# Markdown table and the line that checks the targets.
summarise() {
  declare -A median
  local case_name tool n med cpu rss unit per checks=() verdict mine theirs worst=0 need
  echo
  echo "| case | tool | good runs | median s | rate | CPU s | peak RSS MiB |"
  echo "|---|---|---|---|---|---|---|"
  for case_name in $cases; do
    if is_big "$case_name"; then unit="MiB/s" per="per GiB"; else unit="files/s" per="per 1000 files"; fi
    for tool in $tools; do
      read -r n med cpu rss < <(stats "$case_name" "$tool")
      median[$case_name.$tool]=$med
      printf '| %s | %s | %s/%s | %s | %s %s | %s %s | %s |\n' "$case_name" "$tool" "$n" "$runs" "$med" \
        "$(rate "$case_name" "$med")" "$unit" "$(cpu_per "$case_name" "$cpu")" "$per" "$(kb_to_mib "$rss")"
      if [[ $tool == corvane && $rss != - && $rss -gt $worst ]]; then worst=$rss; fi
    done
  done
  echo
  if [[ " $tools " != *" corvane "* ]]; then
    echo "Targets: not checked, corvane-cli did not run"
    return
  fi
  if [[ " $tools " == *" lftp "* ]]; then
    for case_name in $cases; do
      mine=$(rate "$case_name" "${median[$case_name.corvane]}")
      theirs=$(rate "$case_name" "${median[$case_name.lftp]}")
      if is_big "$case_name"; then need=1.0; else need=0.9; fi
      verdict=$(awk -v m="$mine" -v t="$theirs" -v f="$need" \
        'BEGIN { print (m != "-" && t != "-" && m >= t * f) ? "met" : "MISSED" }')
      checks+=("$case_name: corvane $mine vs lftp $theirs (>= ${need} x) $verdict")
    done
  else
    checks+=("lftp did not run, rates not compared")
  fi
  verdict=$( ((worst > 0 && worst < RSS_LIMIT_KB)) && echo met || echo MISSED)
  checks+=("peak RSS: corvane $(kb_to_mib "$worst") MiB (< 64) $verdict")
  printf 'Targets: %s' "${checks[0]}"
  printf '; %s' "${checks[@]:1}"
  echo
}

# --- main -----------------------------------------------------------------

big_sha=""
tree_sha=""
base=""

main() {
  parse_args "$@"
  ensure_tools
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  umask 022

  base=${TMPDIR_BENCH:-/dev/shm}
  work=$(mktemp -d "$base/ftp-bench.XXXXXX")
  mkdir -p "$work/out"
  : > "$work/results.tsv"

  start_vsftpd
  make_data

  local load_before
  load_before=$(uptime | sed 's/.*load average: //')
  say "Rounds: $runs; cases: $cases; tools: $tools"
  [[ " $tools " == *" curl "* && ( " $cases " == *" tree-"* ) ]] \
    && say "curl has no recursive mode: its tree runs are one transfer per file from the list of files, in one invocation"
  run_rounds
  stop_vsftpd

  echo "FTP benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
    "load average before ${load_before}, after $(uptime | sed 's/.*load average: //');" \
    "vsftpd on loopback, files on $base; big file $size_mib MiB, tree $file_count files of 1-16 KiB;" \
    "passive mode, binary; curl's tree runs get the file list (it cannot list recursively)."
  summarise
  [[ -n $raw_copy ]] && cp "$work/results.tsv" "$raw_copy"
  if ((failures > 0)); then
    say "!!! $failures run(s) failed or came out wrong; see the lines marked !!! above"
    exit 1
  fi
  exit 0
}

main "$@"
