# What the scripts that start loopback servers and Wine programs share; sourced, never run.
# shellcheck shell=bash
# The port-file format (`name=port` lines) is the one testbed/loopback.py writes.

# The path as a Windows program under Wine sees it: Wine maps the Unix root to drive Z:.
windows_path() { printf 'Z:%s' "$(realpath -ms "$1")" | tr / '\\'; }

# Stops the wineserver of a prefix and the prefix's programs, if the prefix exists.
stop_wine_prefix() {
  if [ -d "$1" ]; then WINEPREFIX="$1" wineserver -k 2>/dev/null || true; fi
}

# Stops a background server started by this shell, if one was started (PID may be empty).
stop_server() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# wait_for_port_file FILE PID SECONDS: until the server PID has written FILE. Fails, saying why,
# when the server ends first or the file does not come in time.
wait_for_port_file() {
  local file="$1" pid="$2" seconds="$3" _
  for _ in $(seq $((seconds * 10))); do
    [ -s "$file" ] && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "the server ended before it wrote $file" >&2
      return 1
    fi
    sleep 0.1
  done
  [ -s "$file" ] && return 0
  echo "no port file $file within $seconds s" >&2
  return 1
}

# port_in FILE NAME: the port named NAME (http, ftp) in a port file.
port_in() { sed -n "s/^$2=//p" "$1"; }
