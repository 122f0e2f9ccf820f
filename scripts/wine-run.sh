#!/usr/bin/env bash
# Runs a Windows program under Wine in a given prefix: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made on first use; a persistent wineserver spares every later start its set-up.
set -euo pipefail
export WINEPREFIX="$1"; shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.ready"
  fi
) 9>"$WINEPREFIX.lock"
wineserver -p 2>/dev/null || true
exec wine "$@"
