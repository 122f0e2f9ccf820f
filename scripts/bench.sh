#!/usr/bin/env bash
# Measures the agent against plain WinINet and urlmon over loopback, under Wine, and prints the ratios.
#
#   scripts/bench.sh [--arch i686|x86_64] [--runs N] [--quick]
#
# Builds tamsel_bench.exe in build/perf-<arch>, starts tests/bench/bench_server.py (HTTP proxy + FTP)
# and reports, all in one run on the same machine:
#   1. the server alone (curl), so that the source is known not to be the bottleneck;
#   2. download throughput, 64 MiB and 512 MiB: FetchToFile of the file's own URL, FetchToFile of a
#      URL that answers its Location look with a 302 to the file, the raw 64 KiB WinINet loop and
#      URLDownloadToFileA; FTP: FetchToFile against a raw FtpOpenFileA loop (medians of N runs);
#   3. what the Location look costs: opening the file's URL, and closing it unread; and how long a
#      download cancelled at its first report takes to return;
#   4. peak resident memory (VmHWM) of the Wine process while FetchToFile stores 16 MiB to 2 GiB;
#   5. latency of one QueryDownload against the same three requests made directly (median of 50);
#   6. the markup reader's benchmark, when scripts/bench-markup.sh exists.
# --quick: 3 runs, smaller files and 10 latency rounds, to try the script out. Not part of test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
. scripts/lib.sh
root="$PWD"

arch=i686 runs=5 quick=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --quick) quick=1; runs=3; shift ;;
    *) echo "usage: bench.sh [--arch i686|x86_64] [--runs N] [--quick]" >&2; exit 2 ;;
  esac
done

MiB=$((1024 * 1024))
if [ $quick -eq 1 ]; then
  sizes=($((16 * MiB)) $((64 * MiB))); memory_sizes=($((16 * MiB)) $((256 * MiB))); rounds=10
else
  sizes=($((64 * MiB)) $((512 * MiB))); memory_sizes=($((16 * MiB)) $((256 * MiB)) $((1024 * MiB)) $((2048 * MiB)))
  rounds=50
fi

build="build/perf-$arch"
prefix="$root/$build/wineprefix"
data="$root/$build/bench-data"
work="$(mktemp -d "${TMPDIR:-/tmp}/tamsel-bench.XXXXXX")"
server_pid=""

cleanup() {
  stop_server "$server_pid"
  stop_wine_prefix "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tamsel_bench >/dev/null
bench_exe="$root/$build/tests/bench/tamsel_bench.exe"

bench() { scripts/wine-run.sh "$prefix" "$bench_exe" "$@"; }
value() { sed -n "s/^$1=//p" | tr -d '\r' | tail -1; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mib_per_s() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", bytes / s / 1048576; else print "n/a" }'; }

# FTP serves pattern files made once per build folder.
mkdir -p "$data"
for size in "${sizes[@]}"; do
  /usr/bin/python3 -B -c 'import sys; sys.path.insert(0, "testbed"); import loopback
loopback.write_pattern_file(sys.argv[1], int(sys.argv[2]))' "$data/f$size.bin" "$size"
done

/usr/bin/python3 tests/bench/bench_server.py --port-file "$work/ports" --ftp-root "$data" --parent-pid $$ &
server_pid=$!
wait_for_port_file "$work/ports" "$server_pid" 10
http_port=$(port_in "$work/ports" http)
ftp_port=$(port_in "$work/ports" ftp)
export http_proxy="http://127.0.0.1:$http_port"
target="$work/target.bin"
target_win="$(windows_path "$target")"

echo "== machine: $(nproc) cores, $(uptime | sed 's/.*load/load/'), $(wine --version), $arch"
bench look http://www.norvik.example/ >/dev/null  # the prefix exists and the server answers

# seconds of one run of: bench COMMAND URL; the target is removed first so that every method creates it.
one_run() {
  rm -f "$target"
  local out
  out=$(bench "$1" "$2" "$target_win") || { echo "bench $1 $2 failed" >&2; echo 0; return; }
  [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" = "$3" ] || echo "bench $1 $2: wrong size" >&2
  printf '%s\n' "$out" | value seconds
}
median_seconds() {
  for _ in $(seq "$runs"); do one_run "$@"; done | median
}

echo "== 1. the server alone (curl through the proxy port, ${sizes[-1]} bytes, $runs runs)"
curl_rates=$(for _ in $(seq "$runs"); do
  curl -s -o /dev/null -x "$http_proxy" "http://files.norvik.example/size/${sizes[-1]}" -w '%{speed_download}\n'
done | median)
echo "   median $(awk -v r="$curl_rates" 'BEGIN { printf "%.0f", r / 1048576 }') MiB/s"

echo "== 2. download throughput (median of $runs runs; MiB/s; ratio = speed against the raw loop)"
printf '   %-10s %-34s %9s %9s %7s\n' size method seconds MiB/s ratio
summary=()
for size in "${sizes[@]}"; do
  direct="http://files.norvik.example/size/$size"
  raw=$(median_seconds raw "$direct" "$size")
  declare -A took=(
    [fetch]=$(median_seconds fetch "$direct" "$size")
    [fetch-moved]=$(median_seconds fetch "http://files.norvik.example/moved/$size" "$size")
    [raw]=$raw
    [urlmon]=$(median_seconds urlmon "$direct" "$size")
    [fetch-ftp]=$(median_seconds fetch "ftp://127.0.0.1:$ftp_port/f$size.bin" "$size")
    [rawftp]=$(median_seconds rawftp "ftp://127.0.0.1:$ftp_port/f$size.bin" "$size")
  )
  rm -rf "$prefix/drive_c/users/${USER:-$(id -un)}/AppData/Local/Microsoft/Windows/INetCache/"* 2>/dev/null || true
  for method in fetch fetch-moved raw urlmon fetch-ftp rawftp; do
    base=$raw; [[ $method == *ftp ]] && base=${took[rawftp]}
    printf '   %-10s %-34s %9.3f %9s %7s\n' "$((size / MiB))MiB" "$method" "${took[$method]}" \
           "$(mib_per_s "$size" "${took[$method]}")" "$(ratio "$base" "${took[$method]}")"
  done
  summary+=("$((size / MiB)) MiB: FetchToFile/raw loop $(ratio "$raw" "${took[fetch]}")x (302 first: $(ratio "$raw" "${took[fetch-moved]}")x)," \
            "FetchToFile/URLDownloadToFileA $(ratio "${took[urlmon]}" "${took[fetch]}")x (302 first: $(ratio "${took[urlmon]}" "${took[fetch-moved]}")x)," \
            "FTP FetchToFile/raw $(ratio "${took[rawftp]}" "${took[fetch-ftp]}")x")
  unset took
done

echo "== 3. the Location look of a URL that answers with the file itself (open, then close unread)"
for size in "${sizes[@]}"; do
  out=$(bench look "http://files.norvik.example/size/$size")
  close_ms=$(printf '%s\n' "$out" | value close_ms)
  printf '   %4d MiB: open %.1f ms, close %.0f ms (%s MiB/s drained)\n' "$((size / MiB))" \
         "$(printf '%s\n' "$out" | value open_ms)" "$close_ms" "$(mib_per_s "$size" "$(awk -v m="$close_ms" 'BEGIN { print m / 1000 }')")"
done

echo "== 3b. a cancel at the first report (1 %), after a 302 look: how soon FetchToFile returns"
for size in "${sizes[@]}"; do
  rm -f "$target"
  out=$(bench cancel "http://files.norvik.example/moved/$size" "$target_win")
  printf '   %4d MiB: FetchToFile returned after %.2f s, %s bytes kept\n' "$((size / MiB))" \
         "$(printf '%s\n' "$out" | value seconds)" "$(stat -c %s "$target")"
done

echo "== 4. peak resident memory of the Wine process during FetchToFile (VmHWM; a 302 look first)"
peak_kib() {
  local nonce="tamsel-bench-$$-$RANDOM" pids pid best=0 hwm
  rm -f "$target"
  coproc HOLD { bench fetch "http://files.norvik.example/moved/$1" "$target_win" --hold "$nonce"; }
  local line
  while IFS= read -r line <&"${HOLD[0]}"; do [[ $line == held=1* ]] && break; done
  pids=$(grep -l -a "$nonce" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3 || true)
  for pid in $pids; do
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "${hwm:-0}" -gt "$best" ] && best=$hwm
  done
  echo >&"${HOLD[1]}"
  wait "$HOLD_PID" 2>/dev/null || true
  [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" = "$1" ] || echo "memory run $1: wrong size" >&2
  echo "$best"
}
memory_line=""
for size in "${memory_sizes[@]}"; do
  kib=$(peak_kib "$size")
  printf '   %5d MiB: %6d KiB\n' "$((size / MiB))" "$kib"
  memory_line+="$((size / MiB)) MiB: $((kib / 1024)) MiB; "
done

echo "== 5. latency: one QueryDownload against the same three requests made directly (median of $rounds)"
agent_ms=$(bench query http://svc.norvik.example/svc CODE-1234 "$rounds" | value median_ms)
raw_out=$(bench rawquery http://www.norvik.example/ http://svc.norvik.example/svc CODE-1234 "$rounds")
raw_ms=$(printf '%s\n' "$raw_out" | value median_ms)
steps_out=$(bench querysteps http://svc.norvik.example/svc CODE-1234 "$rounds")
printf '   QueryDownload %.2f ms, raw WinINet %.2f ms, ratio %s\n' "$agent_ms" "$raw_ms" "$(ratio "$agent_ms" "$raw_ms")"
for step in probe look post lookups; do
  printf '   %-8s agent %7.2f ms   raw %7s ms\n' "$step" "$(printf '%s\n' "$steps_out" | value "${step}_median_ms")" \
         "$(printf '%s\n' "$raw_out" | value "${step}_median_ms" | awk '{ if ($1 != "") printf "%.2f", $1; else print "-" }')"
done

echo "== 6. markup reader"
if [ -x scripts/bench-markup.sh ]; then
  scripts/bench-markup.sh
else
  echo "   scripts/bench-markup.sh is not there: skipped"
fi

echo "== summary ($arch, $(uptime | sed 's/.*load/load/'))"
printf '   %s\n' "${summary[@]}"
echo "   peak memory: $memory_line"
printf '   QueryDownload / raw requests: %s\n' "$(ratio "$agent_ms" "$raw_ms")"
