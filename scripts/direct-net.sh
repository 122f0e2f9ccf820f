#!/usr/bin/env bash
# Runs a command on a private network where only loopback exists and the given host names resolve to
# 127.0.0.1, with no proxy: direct-net.sh HOST... -- COMMAND [ARGS...]
#
# A server on 127.0.0.1:80 there is what WinINet reaches for http://HOST/ when it goes to the host
# itself, as a host without a proxy does; the machine's own network and hosts file are untouched. The
# command needs a Wine server of its own: one started outside would make its connections from the
# outside network. Exits 77 (skipped) where the machine cannot make a private network (a container
# that refuses namespaces), and with the command's code otherwise.
set -euo pipefail
hosts=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do hosts+=("$1"); shift; done
if [ $# -lt 2 ] || [ ${#hosts[@]} -eq 0 ]; then
  echo "usage: direct-net.sh HOST... -- COMMAND [ARGS...]" >&2
  exit 2
fi
shift

if [ "${TAMSEL_DIRECT_NET:-}" != inside ]; then
  # Root makes the namespaces directly; anyone else through a user namespace, where the machine allows it.
  for options in "-n -m" "-r -n -m"; do
    read -ra flags <<<"$options"
    if unshare "${flags[@]}" true 2>/dev/null; then
      exec env TAMSEL_DIRECT_NET=inside unshare "${flags[@]}" "$0" "${hosts[@]}" -- "$@"
    fi
  done
  echo "direct-net: this machine makes no private network (unshare -n -m refused): skipped" >&2
  exit 77
fi

ip link set lo up
hosts_file="$(mktemp "${TMPDIR:-/tmp}/direct-net-hosts.XXXXXX")"
trap 'rm -f "$hosts_file"' EXIT
printf '127.0.0.1 localhost %s\n::1 localhost\n' "${hosts[*]}" >"$hosts_file"
chmod 644 "$hosts_file"
mount --bind "$hosts_file" /etc/hosts
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
# A signal sent to the whole group (Ctrl+C, timeout) reaches the command too: this shell waits for it to
# end, cleaned up, rather than ending first and leaving it running on the private network.
trap : HUP INT TERM
"$@"
