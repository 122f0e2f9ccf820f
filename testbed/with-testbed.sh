#!/usr/bin/env bash
# Runs one test command beside its own loopback test server:
#   with-testbed.sh [--direct] [--small-disk] [WINE-RUN PREFIX] COMMAND [ARGS...]
#
# In a cross build ctest passes scripts/wine-run.sh and the build's Wine prefix first; the test CA is
# then trusted inside that prefix (once) with the helper named by TAMSEL_TRUST_CA_EXE. The server is
# stopped on every exit path; the exit code is the command's.
#
# Normally the server is the system's HTTP proxy. --direct runs the command on a private network
# (scripts/direct-net.sh) where the test hosts' names lead to the server itself, on port 80, with no
# proxy: plain http only, in a Wine prefix of its own (PREFIX-direct) whose server stops afterwards.
# Exits 77 (skipped) where the machine makes no private network.
#
# --small-disk runs the command with a 4 MiB tmpfs (scripts/small-disk.sh) that the Wine prefix, one of
# its own (PREFIX-disk, whose server runs beside the mount and stops afterwards), sees as drive T:; the
# command finds "T:" in TAMSEL_SMALL_DISK and the size in TAMSEL_SMALL_DISK_BYTES, or, where no tmpfs
# can be mounted, the reason in TAMSEL_SMALL_DISK_SKIPPED.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/lib.sh
. "$here/../scripts/lib.sh"

DIRECT_HOSTS=(www.norvik.example svc.norvik.example files.norvik.example mirror.norvik.example)
SMALL_DISK_DRIVE=T:
direct=""
disk=""
while [ $# -gt 0 ]; do
  case "$1" in
    --direct) direct=1 ;;
    --small-disk) disk=1 ;;
    *) break ;;
  esac
  shift
done
options=(${direct:+--direct} ${disk:+--small-disk})
if [ -n "$direct" ] && [ "${TAMSEL_DIRECT_NET:-}" != inside ]; then
  exec "$here/../scripts/direct-net.sh" "${DIRECT_HOSTS[@]}" -- "$0" "${options[@]}" "$@"
fi
if [ -n "$disk" ] && [ -z "${TAMSEL_SMALL_DISK_UNIX:-}${TAMSEL_SMALL_DISK_SKIPPED:-}" ]; then
  exec "$here/../scripts/small-disk.sh" -- "$0" "${options[@]}" "$@"
fi

runner=()
prefix=""
if [ $# -ge 3 ] && [ "$(basename "$1")" = wine-run.sh ]; then
  prefix="$2"
  [ -n "$direct" ] && prefix="$prefix-direct"
  [ -n "${TAMSEL_SMALL_DISK_UNIX:-}" ] && prefix="$prefix-disk"
  runner=("$1" "$prefix")
  shift 2
  # The server of a run that was killed would still serve the prefix from that run's mount namespace.
  [ -n "${TAMSEL_SMALL_DISK_UNIX:-}" ] && stop_wine_prefix "$prefix"
fi

workdir="$(mktemp -d "${TMPDIR:-/tmp}/testbed.XXXXXX")"
server_pid=""
cleanup() {
  stop_server "$server_pid"
  # A prefix whose server runs on a network or beside a mount of this run's own stops with it.
  [ -n "$direct${TAMSEL_SMALL_DISK_UNIX:-}" ] && [ -n "$prefix" ] && stop_wine_prefix "$prefix"
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

# The small disk becomes the prefix's drive T:, a link in its dosdevices folder, which Wine reads at each
# path it resolves.
give_small_disk() {
  [ -n "${TAMSEL_SMALL_DISK_UNIX:-}" ] || return 0
  if [ -z "$prefix" ]; then
    export TAMSEL_SMALL_DISK_SKIPPED="the small disk is a drive of a Wine prefix, and this run has none"
    return 0
  fi
  # Wine makes drives C: and Z: only in a dosdevices folder it creates itself, so a new prefix is made
  # first; its server, started here, runs in this mount namespace and sees the mount.
  if [ ! -d "$prefix/dosdevices" ]; then
    "${runner[@]}" cmd /c exit 0 </dev/null >"$workdir/prefix.log" 2>&1 || true
  fi
  if ! ln -sfn "$TAMSEL_SMALL_DISK_UNIX" "$prefix/dosdevices/${SMALL_DISK_DRIVE,,}"; then
    cat "$workdir/prefix.log" >&2 2>/dev/null
    return 1
  fi
  export TAMSEL_SMALL_DISK="$SMALL_DISK_DRIVE"
}
if ! give_small_disk; then
  echo "with-testbed: could not make $SMALL_DISK_DRIVE the small disk in $prefix" >&2
  exit 1
fi

"${runner[@]}" "$@"
