#!/usr/bin/env bash
# The interop stage: tamsel.exe (32-bit) against real servers from Debian's packages, nginx, squid and
# vsftpd, on a private network where the product's host names are 127.0.0.1: interop.sh [CASE...]
#
# The cases are tests/interop/cases.py (CASE: a name or a prefix of names; all by default), the servers'
# configurations testbed/interop/. Installs what is missing and builds what is out of date in
# build/i686 first. Everything lives in build/interop: its Wine prefix (made on first use, its
# wineserver started on the private network and stopped afterwards), its test CA, and run/, made anew
# each run and kept for a look: the servers' configurations and logs, the served files, the downloads.
# Exits 77 (skipped) where the machine makes no private network; ends every process it started on
# every exit path.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
. scripts/lib.sh
root="$PWD"
build="$root/build/i686"
work="$root/build/interop"
prefix="$work/wineprefix"
hosts=(www.norvik.example service.norvik.example files.norvik.example mirror.norvik.example)

if [ "${TAMSEL_DIRECT_NET:-}" != inside ]; then
  scripts/setup.sh
  mkdir -p "$work"
  # An existing build tree only brings the three programs up to date; a new one is made whole.
  if ! { [ -f "$build/build.ninja" ] && cmake --build "$build" --target NorvikTamselAgent tamsel tamsel_trust_ca; } \
       >"$work/build.log" 2>&1; then
    scripts/build.sh i686 >"$work/build.log" 2>&1 || { tail -30 "$work/build.log" >&2; exit 1; }
  fi
  # A wineserver of the prefix that runs outside would make the prefix's connections from outside.
  stop_wine_prefix "$prefix"
  exec scripts/direct-net.sh "${hosts[@]}" -- "$0" "$@"
fi

runner_pid=""
# Kills a process and everything it started, children first.
kill_tree() {
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do kill_tree "$child"; done
  kill -KILL "$1" 2>/dev/null || true
}
cleanup() {
  stop_server "$runner_pid"
  # The runner stops its servers and removes its list of them; a list still there names servers that a
  # runner killed before its clean-up left behind.
  if [ -f "$work/run/pids" ]; then
    while read -r pid; do kill_tree "$pid"; done <"$work/run/pids"
    rm -f "$work/run/pids"
  fi
  stop_wine_prefix "$prefix"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

export LC_ALL=C.UTF-8
/usr/bin/python3 -B tests/interop/run_interop.py --build "$build" --work "$work" \
  --wine-run "$root/scripts/wine-run.sh" "$@" &
runner_pid=$!
status=0
wait "$runner_pid" || status=$?
runner_pid=""
exit $status
