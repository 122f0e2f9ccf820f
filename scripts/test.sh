#!/usr/bin/env bash
# Runs every test: the native suite under ASan/UBSan, the 32-bit and 64-bit Windows suites under Wine,
# and a short run of each fuzzer. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

stop_wine() {
  for arch in i686 x86_64; do
    [ -d "build/$arch/wineprefix" ] && WINEPREFIX="$PWD/build/$arch/wineprefix" wineserver -k 2>/dev/null || true
  done
}
trap stop_wine EXIT

status=0
run_suite() {
  local flavour="$1"
  echo "== $flavour"
  scripts/build.sh "$flavour"
  ctest --test-dir "build/$flavour" --output-on-failure -j2 || status=1
}

run_suite native
run_suite i686
run_suite x86_64
if [ -x scripts/fuzz.sh ]; then
  scripts/fuzz.sh --seconds "${TAMSEL_FUZZ_SECONDS:-30}" || status=1
fi
exit $status
