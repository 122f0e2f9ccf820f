#!/usr/bin/env bash
# Runs one test command beside its own loopback test server: with-testbed.sh [WINE-RUN PREFIX] COMMAND [ARGS...]
#
# In a cross build ctest passes scripts/wine-run.sh and the build's Wine prefix first; the test CA is
# then trusted inside that prefix (once) with the helper named by TAMSEL_TRUST_CA_EXE. The server is
# stopped on every exit path; the exit code is the command's.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/lib.sh
. "$here/../scripts/lib.sh"

runner=()
prefix=""
if [ $# -ge 3 ] && [ "$(basename "$1")" = wine-run.sh ]; then
  runner=("$1" "$2")
  prefix="$2"
  shift 2
fi

workdir="$(mktemp -d "${TMPDIR:-/tmp}/testbed.XXXXXX")"
server_pid=""
cleanup() {
  stop_server "$server_pid"
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The CAs outlive the run in a cross build, so that the prefix trusts them once and for all.
certdir="$workdir/certs"
[ -n "$prefix" ] && certdir="$(dirname "$prefix")/testbed-certs"

/usr/bin/python3 "$here/server.py" --port-file "$workdir/port" --parent-pid $$ --cert-dir "$certdir" &
server_pid=$!
if ! wait_for_port_file "$workdir/port" "$server_pid" 30; then
  echo "with-testbed: the test server did not start" >&2
  exit 1
fi
port="$(port_in "$workdir/port" http)"
export http_proxy="http://127.0.0.1:$port" TAMSEL_TESTBED_PORT="$port"

trust_ca() {
  local helper="${TAMSEL_TRUST_CA_EXE:-}"
  [ -n "$prefix" ] && [ -n "$helper" ] || return 0
  local marker
  marker="$prefix/.testbed-ca-$(sha256sum "$certdir/ca.der" | cut -c1-16)"
  (
    flock 9
    [ -f "$marker" ] && exit 0
    # Wine may leave daemons behind (its server, services): they must not inherit the lock or
    # ctest's output pipe, or ctest waits for them.
    if "${runner[@]}" "$helper" "$(windows_path "$certdir/ca.der")" </dev/null >"$workdir/trust.log" 2>&1 9>&-; then
      touch "$marker"
    else
      cat "$workdir/trust.log" >&2
      exit 1
    fi
  ) 9>"$prefix.testbed-ca.lock"
}
if ! trust_ca; then
  echo "with-testbed: could not trust the test CA in $prefix" >&2
  exit 1
fi

"${runner[@]}" "$@"
