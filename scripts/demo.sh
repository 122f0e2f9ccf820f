#!/usr/bin/env bash
# Runs the demo: the 32-bit DLL registered in a Wine prefix of its own, the local demo download service,
# and the command-line host through a lookup, a big download with its progress bar, a download that
# breaks and resumes in the same call into a folder named in other scripts, one whose file server keeps
# breaking and that finishes from a mirror, a busy server's Retry-After waited out (and, allowed less,
# exit code 37), a tampered file refused by its digest while the file of that name stays as it was, and
# a refused code. Every download proves the SHA-256 that the
# service names. Installs what is missing
# and builds what is out of date first; stops all it started on any exit. TAMSEL_DEMO_DIR (default
# build/demo) is where its prefix, service and downloads live.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
. scripts/lib.sh
root="$PWD"
build="$root/build/i686"
demo=$(realpath -m "${TAMSEL_DEMO_DIR:-$root/build/demo}")
prefix="$demo/wineprefix"
service_url=http://service.norvik.example/activate
shown="${demo#"$root/"}"  # as the step titles show it
unicode_folder="$demo/downloads/Загрузки 下载"
export WINEDEBUG=-all
# Wine turns the arguments into UTF-16, and the host's UTF-8 output back, through the locale.
export LC_ALL=C.UTF-8

service_pid=""
cleanup() {
  stop_server "$service_pid"
  stop_wine_prefix "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step() { printf '\n== %s\n' "$*"; }
fail() { echo "demo: $*" >&2; exit 1; }
tamsel() { "$root/scripts/wine-run.sh" "$prefix" "$build/bin/tamsel.exe" "$@"; }

scripts/setup.sh
mkdir -p "$unicode_folder"

step "Building the 32-bit NorvikTamselAgent.dll and tamsel.exe (build/i686)"
# An existing build tree only brings the two programs up to date; a new one is made whole.
if ! { [ -f "$build/build.ninja" ] && cmake --build "$build" --target NorvikTamselAgent tamsel; } \
     >"$demo/build.log" 2>&1; then
  echo "(building all of build/i686, tests included: a few minutes the first time)"
  scripts/build.sh i686 >"$demo/build.log" 2>&1 || { tail -30 "$demo/build.log" >&2; fail "the build failed ($shown/build.log)"; }
fi
echo "built"

step "Registering the DLL: wine regsvr32 NorvikTamselAgent.dll"
[ -f "$prefix/.ready" ] || echo "(first run: making the demo's Wine prefix, about half a minute)"
status=0
"$root/scripts/wine-run.sh" "$prefix" regsvr32 /s "$(windows_path "$build/bin/NorvikTamselAgent.dll")" || status=$?
[ $status -eq 0 ] || fail "regsvr32 failed with exit code $status"
echo "registered"

step "Starting the demo download service"
rm -f "$demo/ports"
# 64 MiB/s: fast, yet slow enough to watch the bar. What it does with ranges and breaks goes to
# said.txt, shown after the download it concerns.
/usr/bin/python3 -B testbed/demo_service.py --work "$demo/service" --port-file "$demo/ports" \
  --parent-pid $$ --rate-kib 65536 >"$demo/said.txt" &
service_pid=$!
wait_for_port_file "$demo/ports" "$service_pid" 60 || fail "the demo service did not start ($shown/service/service.log)"
http_port=$(port_in "$demo/ports" http)
ftp_port=$(port_in "$demo/ports" ftp)
export http_proxy="http://127.0.0.1:$http_port"
echo "listening on 127.0.0.1:$http_port (http, as the proxy of every URL) and 127.0.0.1:$ftp_port (ftp)"

step "tamsel lookup http://www.norvik.example/lookup NTS-1000-2024 en manual"
tamsel lookup http://www.norvik.example/lookup NTS-1000-2024 en manual

step "tamsel get $service_url DEMO-BIG-0001 $shown/downloads"
tamsel get "$service_url" DEMO-BIG-0001 "$(windows_path "$demo/downloads")"

step "tamsel get $service_url DEMO-FLAKY-0005 \"$shown/downloads/Загрузки 下载\"   (breaks once at 40 %)"
said=$(wc -l <"$demo/said.txt")
tamsel get "$service_url" DEMO-FLAKY-0005 "$(windows_path "$unicode_folder")"
echo "-- what the service did:"
tail -n +$((said + 1)) "$demo/said.txt"

step "tamsel get $service_url DEMO-FAILOVER-0007 $shown/downloads   (the files host always breaks at 30 %; two mirrors)"
said=$(wc -l <"$demo/said.txt")
tamsel get "$service_url" DEMO-FAILOVER-0007 "$(windows_path "$demo/downloads")"
echo "-- what the service did:"
tail -n +$((said + 1)) "$demo/said.txt"

step "tamsel get $service_url DEMO-BUSY-0008 $shown/downloads --max-wait 1   (503, Retry-After: 2)"
said=$(wc -l <"$demo/said.txt")
status=0
tamsel get "$service_url" DEMO-BUSY-0008 "$(windows_path "$demo/downloads")" --max-wait 1 || status=$?
[ $status -eq 37 ] || fail "expected exit code 37 (AGENT_E_RETRY_LATER), got $status"
echo "-- what the service did:"
tail -n +$((said + 1)) "$demo/said.txt"
echo "exit code 37, as expected: the server asked for longer than --max-wait allows"

step "tamsel get $service_url DEMO-BUSY-0008 $shown/downloads   (503, Retry-After: 2, waited out)"
said=$(wc -l <"$demo/said.txt")
tamsel get "$service_url" DEMO-BUSY-0008 "$(windows_path "$demo/downloads")"
echo "-- what the service did:"
tail -n +$((said + 1)) "$demo/said.txt"

step "tamsel get $service_url DEMO-TAMPERED-0006 $shown/downloads   (served with one byte changed at 70 %)"
kept="$demo/downloads/tamsel-tools.bin"
printf 'the tamsel-tools.bin installed last year\n' >"$kept"
before=$(sha256sum "$kept")
said=$(wc -l <"$demo/said.txt")
status=0
tamsel get "$service_url" DEMO-TAMPERED-0006 "$(windows_path "$demo/downloads")" || status=$?
[ $status -eq 31 ] || fail "expected exit code 31 (AGENT_E_DIGEST_MISMATCH), got $status"
echo "-- what the service did:"
tail -n +$((said + 1)) "$demo/said.txt"
[ "$(sha256sum "$kept")" = "$before" ] || fail "the existing tamsel-tools.bin was changed"
if ls -A "$demo/downloads" | grep -q '^tamsel-tools\.bin\.tamsel-'; then fail "a partial file of the tampered download was left"; fi
echo "exit code 31, as expected; the existing tamsel-tools.bin is as it was: $(cat "$kept")"

step "tamsel get $service_url DEMO-USED-0004 $shown/downloads   (a used-up code)"
status=0
tamsel get "$service_url" DEMO-USED-0004 "$(windows_path "$demo/downloads")" || status=$?
[ $status -eq 13 ] || fail "expected exit code 13 (AGENT_E_SERVICE_STATUS), got $status"
echo "exit code 13, as expected"

# The same flow from a script, through the automation interface and Wine's own VBScript engine; its
# OnProgress handler prints a line per report.
step "cscript //nologo kit/examples/get.vbs $service_url DEMO-SMALL-0002 $shown/downloads/script"
mkdir -p "$demo/downloads/script"
status=0
"$root/scripts/wine-run.sh" "$prefix" cscript //nologo "$(windows_path "$root/kit/examples/get.vbs")" \
  "$service_url" DEMO-SMALL-0002 "$(windows_path "$demo/downloads/script")" | tr -d '\r' || status=$?
[ $status -eq 0 ] || fail "get.vbs failed with exit code $status"

step "Done"
