#!/usr/bin/env bash
# Runs a command with a small, empty volume of its own: small-disk.sh -- COMMAND [ARGS...]
#
# A tmpfs of TAMSEL_SMALL_DISK_BYTES (4 MiB) is mounted at a fresh folder, named to the command in
# TAMSEL_SMALL_DISK_UNIX, inside a mount namespace of the command's own: the mount is seen by nothing
# else and ends with the namespace, whatever ends the command (kill -9 included); the machine's mounts
# are untouched. Root makes the namespace directly; anyone else through a user namespace, where the
# machine allows it. Where no tmpfs can be mounted (a container that refuses namespaces), the command
# runs all the same with TAMSEL_SMALL_DISK_SKIPPED saying why, so that the tests that need the volume
# skip themselves and say so, and the others run. The exit code is the command's.
set -euo pipefail
if [ "${1:-}" != -- ] || [ $# -lt 2 ]; then
  echo "usage: small-disk.sh -- COMMAND [ARGS...]" >&2
  exit 2
fi
shift
export TAMSEL_SMALL_DISK_BYTES=4194304

if [ "${TAMSEL_SMALL_DISK_STATE:-}" != inside ]; then
  for options in "-m" "-r -m"; do
    read -ra flags <<<"$options"
    if unshare "${flags[@]}" true 2>/dev/null; then
      exec env TAMSEL_SMALL_DISK_STATE=inside unshare "${flags[@]}" "$0" -- "$@"
    fi
  done
  exec env TAMSEL_SMALL_DISK_SKIPPED="this machine makes no mount namespace (unshare -m refused), so no small disk" "$@"
fi
unset TAMSEL_SMALL_DISK_STATE

folder="$(mktemp -d "${TMPDIR:-/tmp}/small-disk.XXXXXX")"
# The namespace takes the mount with it; the folder outside is what is left to remove.
trap 'umount "$folder" 2>/dev/null || true; rmdir "$folder" 2>/dev/null || true' EXIT
if error=$(mount -t tmpfs -o "size=$TAMSEL_SMALL_DISK_BYTES,mode=0755" tamsel-small-disk "$folder" 2>&1); then
  export TAMSEL_SMALL_DISK_UNIX="$folder"
else
  export TAMSEL_SMALL_DISK_SKIPPED="mounting a tmpfs failed: ${error//$'\n'/ }"
fi
# A signal sent to the whole group (Ctrl+C, timeout) reaches the command too: this shell waits for it to
# end, cleaned up, rather than ending first and taking the volume from under it.
trap : HUP INT TERM
"$@"
