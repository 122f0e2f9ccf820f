#!/usr/bin/env bash
# Measures the agent against plain WinINet and urlmon over loopback, under Wine, and prints the ratios.
#
#   scripts/bench.sh [--arch i686|x86_64] [--runs N] [--quick] [--round-trips]
#
# Builds tamsel_bench.exe in build/perf-<arch>, starts bench/bench_server.py (HTTP proxy + FTP)
# and reports, all in one run on the same machine:
#   1. the server alone (curl), so that the source is known not to be the bottleneck;
#   2. download throughput, 64 MiB and 512 MiB, with CPU seconds (user + kernel of the Wine process)
#      per GiB stored: the raw WinINet loop with 64 KiB, 256 KiB and 1 MiB reads; FetchToFile of the
#      file's own URL, of a URL that answers its Location look with a 302 to the file, and with a
#      progress sink; FetchToFileEx with safe replacement and resume, and with safe replacement alone
#      against FetchToFileVerified with the file's digest, beside the platform's SHA-256 of the same
#      bytes in memory (which of the link and the hashing binds the verified download); the same
#      download from JScript (InvTamselAgent2's Download with an OnProgress handler, under Wine's
#      cscript, timed inside the script, so without a CPU figure); URLDownloadToFileA; FTP:
#      FetchToFile against a raw FtpOpenFileA loop (medians of N rounds, each round running every
#      method once, so that a burst of load falls on all of them; the copies Wine's FTP leaves in the
#      WinINet cache folder are cleared after every raw FTP run). Ratios are against the
#      fastest of the three raw loops, and the sink and FetchToFileEx rows also against FetchToFile;
#   3. what the Location look costs: opening the file's URL, and closing it unread; and how long a
#      download cancelled at its first report takes to return;
#   4. peak resident memory (VmHWM) of the Wine process while FetchToFile stores 16 MiB to 2 GiB;
#   5. latency of one QueryDownload against the same three requests made directly (median of 50);
#   6. the markup reader's benchmark, when scripts/bench-markup.sh exists;
#   7. round trips: a 100 KiB file over a played link of 50 ms round-trip time (a second instance of the
#      source that waits one round trip before a new connection's first request and one before every
#      reply), with the connections and requests each method made: the raw loop, URLDownloadToFileA,
#      FetchToFile and FetchToFileEx on a fresh object (file at the look and after a 302), and
#      QueryDownload then FetchToFileEx on one object, the file on a host of its own and on the
#      service's (medians of N rounds, with the fastest and slowest). Twice: through the proxy, and
#      direct, as on a machine without one (scripts/direct-net.sh: a private network where the hosts'
#      names lead to the source on 127.0.0.1:80; skipped where the machine makes none).
#   8. the resilient download (FetchToFileResilient over one URL), round after round beside
#      FetchToFileVerified, with the digest and without: a clean download; one that the source cuts at 5
#      random points (new ones each round), which the call resumes by itself after waits of at most
#      100 ms (the policy's maxRetryWaitMs); and, apart, the rate cap: 4 MiB/s over 32 MiB, the rate over
#      every 2 s window between progress reports against the cap. Medians with the fastest and slowest
#      round; the ratios are taken round by round (cut against the same round's clean time plus the
#      cut run's own waits) before their median.
#   9. parallel ranges: FetchToFileResilient with connections 4 and 1, interleaved in alternating order,
#      of 128 MiB over a played link of 50 ms round trip and 4 MiB/s per connection and of 512 MiB over
#      the plain loopback link (medians of N runs, with the fastest and slowest), and the peak memory of
#      each on the played link.
# --quick: 3 runs, smaller files and 10 latency rounds, to try the script out. --round-trips: only 7.
# --resilient: only 8. --ranges: only 9.
# Not part of test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
. scripts/lib.sh
root="$PWD"

arch=i686 runs=5 quick=0 round_trips_only=0 direct_link=0 resilient_only=0 ranges_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --quick) quick=1; runs=3; shift ;;
    --round-trips) round_trips_only=1; shift ;;
    --ranges) ranges_only=1; shift ;;
    --direct-link) direct_link=1; round_trips_only=1; shift ;;  # section 7's direct table (internal)
    --resilient) resilient_only=1; shift ;;
    *) echo "usage: bench.sh [--arch i686|x86_64] [--runs N] [--quick] [--round-trips] [--resilient] [--ranges]" >&2; exit 2 ;;
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
# The direct link's Wine server lives on its private network: a prefix of its own, stopped with it.
[ $direct_link -eq 1 ] && prefix="$root/$build/wineprefix-direct"
data="$root/$build/bench-data"
work="$(mktemp -d "${TMPDIR:-/tmp}/tamsel-bench.XXXXXX")"
server_pid="" link_pid=""

cleanup() {
  stop_server "$server_pid"
  stop_server "$link_pid"
  stop_wine_prefix "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tamsel_bench NorvikTamselAgent >/dev/null
bench_exe="$root/$build/bench/tamsel_bench.exe"

bench() { scripts/wine-run.sh "$prefix" "$bench_exe" "$@"; }
# The script row: the Release DLL registered in the bench prefix, driven by JScript. `wine cscript`
# starts the 32-bit script host even in a 64-bit prefix: the 64-bit one needs the 64-bit loader.
script_bench() {
  local script
  script="$(windows_path "$root/bench/bench_download.js")"
  if [ "$arch" = x86_64 ]; then
    WINEPREFIX="$prefix" WINEDEBUG=-all "$(command -v wine64 || echo /usr/lib/wine/wine64)" cscript //nologo "$script" "$@"
  else
    scripts/wine-run.sh "$prefix" cscript //nologo "$script" "$@"
  fi
}
# Wine's FTP file handle copies every byte it reads into a file of the WinINet cache folder
# (Content.IE5/<folder>/f<size>[n] for f<size>.bin) and never indexes it, so nothing ever ages it out: a
# raw FtpOpenFileA loop leaves a copy of the whole file per run (the agent deletes its own). Cleared
# after each raw FTP run, the indexed entries of the HTTP rows left alone; once filled the disk.
cache_folder="$prefix/drive_c/users/${USER:-$(id -un)}/AppData/Local/Microsoft/Windows/INetCache"
clear_ftp_cache_copies() { find "$cache_folder" -type f -name "f$1\[*" -delete 2>/dev/null || true; }
value() { sed -n "s/^$1=//p" | tr -d '\r' | tail -1; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mib_per_s() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", bytes / s / 1048576; else print "n/a" }'; }
# The peak resident memory (VmHWM, KiB) of the Wine process of one bench run (the command and its
# arguments), held at its end with --hold and found by a nonce on its command line; the target goes first.
held_peak_kib() {
  local nonce="tamsel-bench-$$-$RANDOM" pids pid best=0 hwm line
  rm -f "$target"
  coproc HOLD { bench "$@" --hold "$nonce"; }
  while IFS= read -r line <&"${HOLD[0]}"; do [[ $line == held=1* ]] && break; done
  pids=$(grep -l -a "$nonce" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3 || true)
  for pid in $pids; do
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "${hwm:-0}" -gt "$best" ] && best=$hwm
  done
  echo >&"${HOLD[1]}"
  wait "$HOLD_PID" 2>/dev/null || true
  echo "$best"
}

# FTP serves pattern files made once per build folder.
mkdir -p "$data"
for size in "${sizes[@]}"; do
  /usr/bin/python3 -B -c 'import sys; sys.path.insert(0, "testbed"); import loopback
loopback.write_pattern_file(sys.argv[1], int(sys.argv[2]))' "$data/f$size.bin" "$size"
done

target="$work/target.bin"
target_win="$(windows_path "$target")"
if [ $direct_link -eq 0 ]; then
  /usr/bin/python3 bench/bench_server.py --port-file "$work/ports" --ftp-root "$data" --parent-pid $$ &
  server_pid=$!
  wait_for_port_file "$work/ports" "$server_pid" 10
  http_port=$(port_in "$work/ports" http)
  ftp_port=$(port_in "$work/ports" ftp)
  export http_proxy="http://127.0.0.1:$http_port"
  echo "== machine: $(nproc) cores, $(uptime | sed 's/.*load/load/'), $(wine --version), $arch"
  bench look http://www.norvik.example/ >/dev/null  # the prefix exists and the server answers
fi
scripts/wine-run.sh "$prefix" regsvr32 /s "$(windows_path "$root/$build/bin/NorvikTamselAgent.dll")"

# Section 7: each method's median time over the played link, and the connections and requests of its
# last run (they are the same in every run). "proxy": the source is the system's HTTP proxy, as
# everywhere else here. "direct": the source is the hosts themselves on port 80, as on a machine
# without a proxy; run only inside scripts/direct-net.sh (see --direct-link).
round_trips() {
  local link="$1" log="$work/link.log" size=$((100 * 1024)) method out before took spread
  local port_option=()
  [ "$link" = direct ] && port_option=(--port 80)
  echo "== 7. round trips ($link): 100 KiB over a link of 50 ms round-trip time (median of $runs; connections and requests made)"
  : >"$log"
  /usr/bin/python3 bench/bench_server.py --port-file "$work/link-ports" --ftp-root "$data" --parent-pid $$ \
                   --latency-ms 50 --log "$log" "${port_option[@]}" &
  link_pid=$!
  wait_for_port_file "$work/link-ports" "$link_pid" 10
  if [ "$link" = proxy ]; then
    local -x http_proxy
    http_proxy="http://127.0.0.1:$(port_in "$work/link-ports" http)"
  fi
  local files=http://files.norvik.example svc=http://svc.norvik.example/svc/$size
  local methods=(raw64 urlmon fetch fetch-moved fetchex fetchex-moved queryfetchex queryfetchex-here)
  declare -A label=(
    [raw64]="raw loop (InternetOpenUrl + reads)" [urlmon]="URLDownloadToFileA"
    [fetch]="FetchToFile, file at the look" [fetch-moved]="FetchToFile, 302 first"
    [fetchex]="FetchToFileEx, file at the look" [fetchex-moved]="FetchToFileEx, 302 first"
    [queryfetchex]="QueryDownload + FetchToFileEx"
    [queryfetchex-here]="the same, file on the service's host"
  )
  declare -A command=(
    [raw64]="raw64 $files/size/$size" [urlmon]="urlmon $files/size/$size" [fetch]="fetch $files/size/$size"
    [fetch-moved]="fetch $files/moved/$size" [fetchex]="fetchex $files/size/$size"
    [fetchex-moved]="fetchex $files/moved/$size" [queryfetchex]="queryfetchex $svc CODE-1234"
    [queryfetchex-here]="queryfetchex http://svc.norvik.example/svc-here/$size CODE-1234"
  )
  declare -A times=() connections=() requests=()
  for _ in $(seq "$runs"); do
    for method in "${methods[@]}"; do
      rm -f "$target"
      before=$(wc -l <"$log")
      # shellcheck disable=SC2086  # the command and its arguments, split on purpose
      out=$(bench ${command[$method]} "$target_win") || { echo "$method failed" >&2; continue; }
      [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" = "$size" ] || { echo "$method: wrong size" >&2; continue; }
      times[$method]+="$(printf '%s\n' "$out" | value seconds)"$'\n'
      connections[$method]=$(tail -n +"$((before + 1))" "$log" | grep -c '^connect$' || true)
      requests[$method]=$(tail -n +"$((before + 1))" "$log" | grep -vc '^connect$' || true)
    done
  done
  local raw_ms
  raw_ms=$(printf '%s' "${times[raw64]}" | grep . | median | awk '{ printf "%.0f", $1 * 1000 }')
  printf '   %-36s %8s %10s %8s %11s %8s\n' method ms "rounds" "x raw" connections requests
  for method in "${methods[@]}"; do
    took=$(printf '%s' "${times[$method]}" | grep . | median | awk '{ printf "%.0f", $1 * 1000 }')
    spread=$(printf '%s' "${times[$method]}" | grep . | sort -g |
             awk 'NR == 1 { low = $1 } { high = $1 } END { if (NR) printf "%.0f-%.0f", low * 1000, high * 1000 }')
    printf '   %-36s %8s %10s %8s %11s %8s\n' "${label[$method]}" "$took" "$spread" "$(ratio "$took" "$raw_ms")" \
           "${connections[$method]:-?}" "${requests[$method]:-?}"
  done
  stop_server "$link_pid"
  link_pid=""
}
# Both links in one run: through the proxy, then direct on a private network where the machine makes one.
round_trips_both_links() {
  round_trips proxy
  local status=0
  scripts/direct-net.sh www.norvik.example svc.norvik.example files.norvik.example -- \
    scripts/bench.sh --arch "$arch" --runs "$runs" --direct-link || status=$?
  if [ $status -eq 77 ]; then
    echo "== 7. round trips (direct): skipped, this machine makes no private network"
  elif [ $status -ne 0 ]; then
    return "$status"
  fi
}
# "median (fastest-slowest)" of a column of numbers, to the given decimals.
spread_of() {
  sort -g | awk -v d="${1:-3}" '{ v[NR] = $1 } END { if (NR) printf "%.*f (%.*f-%.*f)", d, v[int((NR + 1) / 2)], d, v[1], d, v[NR]; else print "n/a" }'
}
# Section 8, in one function so that --resilient can run it alone. Fills resilient_summary.
resilient_summary=()
resilient_downloads() {
  local size=${sizes[-1]} files=http://files.norvik.example max_wait=100 digest cuts method out round
  local methods=(verified clean cut plain plain-cut)
  declare -A label=(
    [verified]="FetchToFileVerified, digest" [clean]="FetchToFileResilient, digest"
    [cut]="  the same, cut 5 times" [plain]="FetchToFileResilient, no digest"
    [plain-cut]="  the same, cut 5 times"
  )
  declare -A times=() waits=() tries=()
  local clean_ratios="" cut_ratios="" plain_cut_ratios=""
  echo "== 8. the resilient download, $((size / MiB)) MiB (median of $runs rounds, fastest-slowest; cuts at 5 random points, waits of at most $max_wait ms)"
  digest=$(bench hash "$size" | value sha256)
  for round in $(seq "$runs"); do
    cuts=$(shuf -i 1-$((size - 1)) -n 5 | sort -n | paste -sd,)
    declare -A took=() waited=()
    for method in "${methods[@]}"; do
      local args=()
      case $method in
        verified) args=(fetchverified "$files/size/$size" "$target_win" "$digest") ;;
        clean) args=(resilient "$files/size/$size" "$target_win" "$digest") ;;
        cut) args=(resilient "$files/cuts/$size/$cuts" "$target_win" "$digest" "$max_wait") ;;
        plain) args=(resilient "$files/size/$size" "$target_win" -) ;;
        plain-cut) args=(resilient "$files/cuts/$size/$cuts" "$target_win" - "$max_wait") ;;
      esac
      rm -f "$target"
      out=$(bench "${args[@]}") || { echo "$method failed: round $round left out" >&2; continue; }
      [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" = "$size" ] || { echo "$method: wrong size, round $round left out" >&2; continue; }
      took[$method]=$(printf '%s\n' "$out" | value seconds)
      waited[$method]=$(printf '%s\n' "$out" | value waited_ms | awk '{ printf "%.3f", ($1 == "" ? 0 : $1) / 1000 }')
      times[$method]+="${took[$method]}"$'\n'
      waits[$method]+="${waited[$method]}"$'\n'
      tries[$method]+="$(printf '%s\n' "$out" | value attempts)"$'\n'
    done
    [ -n "${took[verified]:-}" ] && [ -n "${took[clean]:-}" ] && clean_ratios+="$(ratio "${took[verified]}" "${took[clean]}")"$'\n'
    [ -n "${took[cut]:-}" ] && [ -n "${took[clean]:-}" ] &&
      cut_ratios+="$(awk -v c="${took[cut]}" -v b="${took[clean]}" -v w="${waited[cut]}" 'BEGIN { printf "%.3f", c / (b + w) }')"$'\n'
    [ -n "${took[plain-cut]:-}" ] && [ -n "${took[plain]:-}" ] &&
      plain_cut_ratios+="$(awk -v c="${took[plain-cut]}" -v b="${took[plain]}" -v w="${waited[plain-cut]}" 'BEGIN { printf "%.3f", c / (b + w) }')"$'\n'
    unset took waited
  done
  printf '   %-36s %24s %9s %20s %9s\n' method seconds MiB/s "waits, s" attempts
  for method in "${methods[@]}"; do
    local median
    median=$(printf '%s' "${times[$method]:-}" | grep . | median)
    printf '   %-36s %24s %9s %20s %9s\n' "${label[$method]}" "$(printf '%s' "${times[$method]:-}" | grep . | spread_of 3)" \
           "$(mib_per_s "$size" "${median:-0}")" "$(printf '%s' "${waits[$method]:-}" | grep . | spread_of 3)" \
           "$(printf '%s' "${tries[$method]:-}" | grep . | median | awk '{ printf "%d", $1 }')"
  done
  resilient_summary+=("FetchToFileResilient clean / FetchToFileVerified, $((size / MiB)) MiB: $(printf '%s' "$clean_ratios" | grep . | spread_of 2)x the speed (goal at least 0.97x)"
                      "cut 5 times, with the digest: $(printf '%s' "$cut_ratios" | grep . | spread_of 2)x the clean time plus its waits (goal at most 1.2x)"
                      "cut 5 times, without a digest: $(printf '%s' "$plain_cut_ratios" | grep . | spread_of 2)x the clean time plus its waits")
  printf '   %s\n' "${resilient_summary[@]}"

  local cap=$((4 * MiB)) rate_size=$((32 * MiB)) windows="" medians="" worst="" lowest="" highest="" gaps=""
  [ $quick -eq 1 ] && rate_size=$((16 * MiB))
  echo "== 8b. the rate cap: $((cap / MiB)) MiB/s over $((rate_size / MiB)) MiB, the rate over each 2 s window between progress reports ($runs runs)"
  for round in $(seq "$runs"); do
    rm -f "$target"
    out=$(bench ratecap "$files/size/$rate_size" "$target_win" "$cap") || { echo "ratecap failed: run left out" >&2; continue; }
    [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" = "$rate_size" ] || { echo "ratecap: wrong size, run left out" >&2; continue; }
    windows+="$(printf '%s\n' "$out" | value windows)"$'\n'
    medians+="$(printf '%s\n' "$out" | value window_median | awk -v c="$cap" '{ printf "%.3f", $1 * 100 / c }')"$'\n'
    lowest+="$(printf '%s\n' "$out" | value window_min | awk -v c="$cap" '{ printf "%.3f", $1 * 100 / c }')"$'\n'
    highest+="$(printf '%s\n' "$out" | value window_max | awk -v c="$cap" '{ printf "%.3f", $1 * 100 / c }')"$'\n'
    worst+="$(printf '%s\n' "$out" | value worst_deviation_pct)"$'\n'
    gaps+="$(printf '%s\n' "$out" | value longest_gap_ms)"$'\n'
  done
  echo "   windows per run: $(printf '%s' "$windows" | grep . | spread_of 0)"
  echo "   window rate, % of the cap: median $(printf '%s' "$medians" | grep . | spread_of 2); lowest $(printf '%s' "$lowest" | grep . | spread_of 2); highest $(printf '%s' "$highest" | grep . | spread_of 2)"
  echo "   worst window's distance from the cap, %: $(printf '%s' "$worst" | grep . | spread_of 2) (goal at most 5)"
  echo "   longest time between two progress reports, ms: $(printf '%s' "$gaps" | grep . | spread_of 0) (goal at most 500)"
  resilient_summary+=("rate cap $((cap / MiB)) MiB/s: the worst 2 s window $(printf '%s' "$worst" | grep . | spread_of 2) % from the cap (goal at most 5 %)")
}
# Section 9: one file over connections 4 and 1 (FetchToFileResilient), interleaved in the same run, on a
# played link of 50 ms round trip and 4 MiB/s per connection and on the plain loopback link; then the
# peak memory of each on the played link, the difference set against the bound (connections x slice).
ranges_peak_kib() { held_peak_kib fetchranges "$1" "$target_win" "$2"; }
parallel_ranges() {
  local rate=$((4 * MiB)) link key out took spread size run=0 order
  # The loopback link is fast enough for 128 MiB to end before a second connection may open; 512 MiB runs
  # past that second on a quiet machine.
  declare -A size_of=([played]=$((128 * MiB)) [loopback]=$((512 * MiB)))
  [ $quick -eq 1 ] && size_of=([played]=$((32 * MiB)) [loopback]=$((64 * MiB)))
  echo "== 9. parallel ranges: connections 4 against 1, interleaved, in alternating order (median of $runs, fastest-slowest)"
  /usr/bin/python3 bench/bench_server.py --port-file "$work/ranges-ports" --ftp-root "$data" --parent-pid $$ \
                   --latency-ms 50 --rate-per-connection "$rate" &
  link_pid=$!
  wait_for_port_file "$work/ranges-ports" "$link_pid" 10
  declare -A proxy=([played]="http://127.0.0.1:$(port_in "$work/ranges-ports" http)" [loopback]="$http_proxy")
  declare -A times=() most=()
  for _ in $(seq "$runs"); do
    run=$((run + 1))
    order="4 1"
    [ $((run % 2)) -eq 0 ] && order="1 4"
    for link in played loopback; do
      size=${size_of[$link]}
      for connections in $order; do
        key="$link-$connections"
        rm -f "$target"
        out=$(http_proxy="${proxy[$link]}" bench fetchranges "http://files.norvik.example/ranged/$size" "$target_win" \
                "$connections") ||
          { echo "$key failed: run left out" >&2; continue; }
        [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" = "$size" ] || { echo "$key: wrong size" >&2; continue; }
        times[$key]+="$(printf '%s\n' "$out" | value seconds)"$'\n'
        most[$key]=$(printf '%s\n' "$out" | value connections)
      done
    done
  done
  printf '   %-52s %11s %8s %15s %9s %6s\n' link connections s "fastest-slowest" MiB/s "x one"
  declare -A median_of=()
  for link in played loopback; do
    for connections in 1 4; do
      key="$link-$connections"
      median_of[$key]=$(printf '%s' "${times[$key]}" | grep . | median)
      spread=$(printf '%s' "${times[$key]}" | grep . | sort -g |
               awk 'NR == 1 { low = $1 } { high = $1 } END { if (NR) printf "%.2f-%.2f", low, high }')
      took=${median_of[$key]}
      size=${size_of[$link]}
      printf '   %-52s %11s %8.2f %15s %9s %6s\n' \
             "$((size / MiB)) MiB, $([ $link = played ] && echo '50 ms round trip, 4 MiB/s per connection' ||
                                     echo 'plain loopback')" \
             "$connections (${most[$key]:-?})" "${took:-0}" "$spread" "$(mib_per_s "$size" "$took")" \
             "$(ratio "${median_of[$link-1]}" "$took")"
    done
    summary+=("connections 4 / 1, $link link: $(ratio "${median_of[$link-1]}" "${median_of[$link-4]}")x")
  done
  local one four slice bound url="http://files.norvik.example/ranged/${size_of[played]}"
  size=${size_of[played]}
  one=$(http_proxy="${proxy[played]}" ranges_peak_kib "$url" 1)
  four=$(http_proxy="${proxy[played]}" ranges_peak_kib "$url" 4)
  # The slices of the rest: an eighth of it for four connections, 4 to 16 MiB.
  slice=$(( size / 8 < 4 * MiB ? 4 * MiB : (size / 8 > 16 * MiB ? 16 * MiB : size / 8) ))
  bound=$(( 4 * slice / 1024 ))
  printf '   peak memory on the played link: connections 1 %d KiB, 4 %d KiB: %d KiB above, bound 4 x %d MiB = %d KiB\n' \
         "$one" "$four" "$((four - one))" "$((slice / MiB))" "$bound"
  summary+=("connections 4 memory above 1: $(((four - one) / 1024)) MiB (bound $((bound / 1024)) MiB)")
  stop_server "$link_pid"
  link_pid=""
}
if [ $ranges_only -eq 1 ]; then
  summary=()
  parallel_ranges
  printf '   %s\n' "${summary[@]}"
  exit 0
fi
if [ $direct_link -eq 1 ]; then
  round_trips direct
  exit 0
fi
if [ $resilient_only -eq 1 ]; then
  resilient_downloads
  exit 0
fi
if [ $round_trips_only -eq 1 ]; then
  round_trips_both_links
  exit 0
fi

# "seconds cpu_seconds" of one run of: bench COMMAND URL SIZE; the target is removed first so that
# every method creates it. A run that fails or stores the wrong size prints nothing but its complaint,
# so that it does not count in the median.
# A fourth argument and after go to the command after the path (the digest of fetchverified).
one_run() {
  rm -f "$target"
  local out
  if [ "$1" = script ]; then
    out=$(script_bench "$2" "$target_win") || { echo "script $2 failed: run left out" >&2; return; }
  else
    out=$(bench "$1" "$2" "$target_win" "${@:4}") || { echo "bench $1 $2 failed: run left out" >&2; return; }
  fi
  if [ "$(stat -c %s "$target" 2>/dev/null || echo 0)" != "$3" ]; then
    echo "bench $1 $2: wrong size, run left out" >&2
    return
  fi
  echo "$(printf '%s\n' "$out" | value seconds) $(printf '%s\n' "$out" | value cpu_seconds)"
}
# "seconds cpu_seconds": the median of each column of "seconds cpu_seconds" lines; "0 0" for none.
medians() {
  local pairs
  pairs=$(printf '%s' "$1" | grep . || true)
  [ -n "$pairs" ] || { echo "0 0"; return; }
  echo "$(printf '%s\n' "$pairs" | cut -d' ' -f1 | median) $(printf '%s\n' "$pairs" | cut -d' ' -f2 | median)"
}
cpu_per_gib() { awk -v c="$1" -v bytes="$2" 'BEGIN { if (c != "") printf "%.2f", c / (bytes / 1073741824); else print "n/a" }'; }

echo "== 1. the server alone (curl through the proxy port, ${sizes[-1]} bytes, $runs runs)"
curl_rates=$(for _ in $(seq "$runs"); do
  curl -s -o /dev/null -x "$http_proxy" "http://files.norvik.example/size/${sizes[-1]}" -w '%{speed_download}\n'
done | median)
echo "   median $(awk -v r="$curl_rates" 'BEGIN { printf "%.0f", r / 1048576 }') MiB/s"

echo "== 2. download throughput (median of $runs runs; CPU s/GiB: user + kernel seconds of the Wine process per GiB stored)"
echo "   x raw: speed against the fastest raw loop (FTP rows: against the raw FTP loop); x fetch: against FetchToFile"
echo "   (file at the look); CPU x raw: CPU per GiB against the fastest raw loop's"
row() { printf '   %-7s %-30s %8s %8s %9s %6s %7s %9s\n' "$@"; }
row size method seconds MiB/s "CPU s/GiB" "x raw" "x fetch" "CPU x raw"
methods=(raw64 raw256 raw1024 fetch fetch-moved fetchsink fetchex fetchsafe fetchverified hash script urlmon
         fetch-ftp rawftp)
declare -A label=(
  [raw64]="raw loop, 64 KiB reads" [raw256]="raw loop, 256 KiB reads" [raw1024]="raw loop, 1 MiB reads"
  [fetch]="FetchToFile, file at the look" [fetch-moved]="FetchToFile, 302 first"
  [fetchsink]="FetchToFile with a sink" [fetchex]="FetchToFileEx safe+resume"
  [fetchsafe]="FetchToFileEx safe" [fetchverified]="FetchToFileVerified, digest" [hash]="SHA-256 in memory, no transfer"
  [script]="JScript Download+OnProgress"
  [urlmon]="URLDownloadToFileA" [fetch-ftp]="FetchToFile over FTP" [rawftp]="raw FtpOpenFileA loop"
)
# The verified download against the one it is measured by: FetchToFileEx with safe replacement when
# the platform hashes faster than the link brings bytes, else the hashing alone.
verified_line() {
  local size=$1 verified=$2 safe=$3 hashing=$4 binds=$3 name="the link (FetchToFileEx safe)"
  awk -v h="$hashing" -v s="$safe" 'BEGIN { exit !(h > s) }' && binds=$hashing name="SHA-256 (in memory)"
  echo "FetchToFileVerified $(mib_per_s "$size" "$verified") MiB/s = $(ratio "$safe" "$verified")x FetchToFileEx safe ($(mib_per_s "$size" "$safe") MiB/s); SHA-256 in memory $(mib_per_s "$size" "$hashing") MiB/s; $name binds: $(ratio "$binds" "$verified")x of it (goal 0.90x)"
}
summary=()
for size in "${sizes[@]}"; do
  direct="http://files.norvik.example/size/$size"
  ftp="ftp://127.0.0.1:$ftp_port/f$size.bin"
  declare -A command=(
    [raw64]="raw64 $direct" [raw256]="raw256 $direct" [raw1024]="raw1024 $direct" [fetch]="fetch $direct"
    [fetch-moved]="fetch http://files.norvik.example/moved/$size" [fetchsink]="fetchsink $direct"
    [fetchex]="fetchex $direct" [urlmon]="urlmon $direct" [fetch-ftp]="fetch $ftp" [rawftp]="rawftp $ftp"
    [fetchsafe]="fetchsafe $direct" [fetchverified]="fetchverified $direct"
    [script]="script $direct"
  )
  digest=$(bench hash "$size" | value sha256)
  # Round after round of every method, so that a burst of load on the machine falls on all of them.
  declare -A pairs=() took=() cpu=()
  for _ in $(seq "$runs"); do
    for method in "${methods[@]}"; do
      if [ "$method" = hash ]; then
        out=$(bench hash "$size")
        pairs[hash]+="$(printf '%s\n' "$out" | value seconds) $(printf '%s\n' "$out" | value cpu_seconds)"$'\n'
        continue
      fi
      extra=(); [ "$method" = fetchverified ] && extra=("$digest")
      # shellcheck disable=SC2086  # the command and its URL, split on purpose
      pairs[$method]+="$(one_run ${command[$method]} "$size" "${extra[@]}")"$'\n'
      [ "$method" = rawftp ] && clear_ftp_cache_copies "$size"
    done
  done
  for method in "${methods[@]}"; do
    read -r "took[$method]" "cpu[$method]" < <(medians "${pairs[$method]}")
  done
  rm -rf "${cache_folder:?}/"* 2>/dev/null || true
  best=raw64
  for method in raw256 raw1024; do
    awk -v a="${took[$method]}" -v b="${took[$best]}" 'BEGIN { exit !(a > 0 && a < b) }' && best=$method
  done
  raw=${took[$best]}
  best_cpu=$(cpu_per_gib "${cpu[$best]}" "$size")
  ftp_cpu=$(cpu_per_gib "${cpu[rawftp]}" "$size")
  for method in "${methods[@]}"; do
    base=$raw base_cpu=$best_cpu; [[ $method == *ftp ]] && base=${took[rawftp]} base_cpu=$ftp_cpu
    against_fetch=""; [[ $method == fetchsink || $method == fetchex ]] && against_fetch=$(ratio "${took[fetch]}" "${took[$method]}")
    per_gib=$(cpu_per_gib "${cpu[$method]}" "$size")
    cpu_ratio=n/a; [ "$per_gib" = n/a ] || cpu_ratio=$(ratio "$per_gib" "$base_cpu")
    row "$((size / MiB))MiB" "${label[$method]}" "$(printf '%.3f' "${took[$method]}")" \
           "$(mib_per_s "$size" "${took[$method]}")" "$per_gib" "$(ratio "$base" "${took[$method]}")" \
           "$against_fetch" "$cpu_ratio"
  done
  fetch_cpu=$(cpu_per_gib "${cpu[fetch]}" "$size") moved_cpu=$(cpu_per_gib "${cpu[fetch-moved]}" "$size")
  summary+=("$((size / MiB)) MiB: the fastest raw loop: ${label[$best]#raw loop, }, $(mib_per_s "$size" "$raw") MiB/s, $best_cpu CPU s/GiB"
            "  FetchToFile/raw loop $(ratio "$raw" "${took[fetch]}")x (302 first: $(ratio "$raw" "${took[fetch-moved]}")x); CPU per GiB $(ratio "$fetch_cpu" "$best_cpu")x the raw loop's (302 first: $(ratio "$moved_cpu" "$best_cpu")x)"
            "  with a sink: $(ratio "$raw" "${took[fetchsink]}")x the raw loop, $(ratio "${took[fetch]}" "${took[fetchsink]}")x FetchToFile without one"
            "  FetchToFileEx safe+resume: $(ratio "$raw" "${took[fetchex]}")x the raw loop, $(ratio "${took[fetch]}" "${took[fetchex]}")x FetchToFile"
            "  $(verified_line "$size" "${took[fetchverified]}" "${took[fetchsafe]}" "${took[hash]}")"
            "  Download from JScript with OnProgress, same flags: $(ratio "${took[fetchex]}" "${took[script]}")x FetchToFileEx"
            "  FetchToFile/URLDownloadToFileA $(ratio "${took[urlmon]}" "${took[fetch]}")x (302 first: $(ratio "${took[urlmon]}" "${took[fetch-moved]}")x), FTP FetchToFile/raw $(ratio "${took[rawftp]}" "${took[fetch-ftp]}")x")
  unset pairs took cpu command
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
  local best
  best=$(held_peak_kib fetch "http://files.norvik.example/moved/$1" "$target_win")
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

round_trips_both_links
resilient_downloads
parallel_ranges

echo "== summary ($arch, $(uptime | sed 's/.*load/load/'))"
printf '   %s\n' "${summary[@]}" "${resilient_summary[@]}"
echo "   peak memory: $memory_line"
printf '   QueryDownload / raw requests: %s\n' "$(ratio "$agent_ms" "$raw_ms")"
