#!/usr/bin/env bash
# Runs one test command beside its own loopback test server:
#   with-testbed.sh [--direct] [WINE-RUN PREFIX] COMMAND [ARGS...]
#
# In a cross build ctest passes scripts/wine-run.sh and the build's Wine prefix first; the test CA is
# then trusted inside that prefix (once) with the helper named by TAMSEL_TRUST_CA_EXE. The server is
# stopped on every exit path; the exit code is the command's.
#
# Normally the server is the system's HTTP proxy. --direct runs the command on a private network
# (scripts/direct-net.sh) where the test hosts' names lead to the server itself, on port 80, with no
# proxy: plain http only, in a Wine prefix of its own (PREFIX-direct) whose server stops afterwards.
# Exits 77 (skipped) where the machine makes no private network.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/lib.sh
. "$here/../scripts/lib.sh"

DIRECT_HOSTS=(www.norvik.example svc.norvik.example files.norvik.example mirror.norvik.example)
direct=""
if [ "${1:-}" = --direct ]; then
  shift
  if [ "${TAMSEL_DIRECT_NET:-}" != inside ]; then
    exec "$here/../scripts/direct-net.sh" "${DIRECT_HOSTS[@]}" -- "$0" --direct "$@"
  fi
  direct=1
fi

runner=()
prefix=""
if [ $# -ge 3 ] && [ "$(basename "$1")" = wine-run.sh ]; then
  prefix="$2"
  [ -n "$direct" ] && prefix="$2-direct"
  runner=("$1" "$prefix")
  shift 2
fi

workdir="$(mktemp -d "${TMPDIR:-/tmp}/testbed.XXXXXX")"
server_pid=""
cleanup() {
  stop_server "$server_pid"
  [ -n "$direct" ] && [ -n "$prefix" ] && stop_wine_prefix "$prefix"
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The CAs outlive the run in a cross build, so that the prefix trusts them once and for all.
certdir="$workdir/certs"
[ -n "$prefix" ] && certdir="$(dirname "$prefix")/testbed-certs"

port_option=()
[ -n "$direct" ] && port_option=(--port 80)
/usr/bin/python3 "$here/server.py" --port-file "$workdir/port" --parent-pid $$ --cert-dir "$certdir" "${port_option[@]}" &
server_pid=$!
if ! wait_for_port_file "$workdir/port" "$server_pid" 30; then
  echo "with-testbed: the test server did not start" >&2
  exit 1
fi
port="$(port_in "$workdir/port" http)"
export TAMSEL_TESTBED_PORT="$port"
[ -z "$direct" ] && export http_proxy="http://127.0.0.1:$port"

trust_ca() {
  local helper="${TAMSEL_TRUST_CA_EXE:-}"
  [ -n "$prefix" ] && [ -n "$helper" ] && [ -z "$direct" ] || return 0
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
