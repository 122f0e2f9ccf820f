#!/usr/bin/env bash
# Runs a Windows program under Wine in a given prefix: wine-run.sh PREFIX PROGRAM [ARGS...]
# The first call makes the prefix. The wineserver is kept running (persistent) so that later starts
# skip Wine's set-up; it and the prefix's own background programs are started here with no inherited
# output or lock, so that they never hold a caller's pipe (ctest waits for its pipes to close).
set -euo pipefail
export WINEPREFIX="$1"; shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY
mkdir -p "$WINEPREFIX"
(
  flock 9
  # Exit code 0: a new server was started (2: one was running already).
  if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    if [ -f "$WINEPREFIX/.ready" ]; then
      wineboot </dev/null >/dev/null 2>&1 9>&- || true
    else
      wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
      touch "$WINEPREFIX/.ready"
    fi
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
