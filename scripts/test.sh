#!/usr/bin/env bash
# Runs every test: the native suite under ASan/UBSan, the 32-bit and 64-bit Windows suites under Wine,
# the vendor kit, the demo in a fresh folder, the interop stage against real servers, and a short run of
# each fuzzer. Installs what is missing first. Ends with one line counting the ctest entries, the kit,
# the demo and the interop stage that passed and failed.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
. scripts/lib.sh
scripts/setup.sh

stop_wine() {
  for arch in i686 x86_64; do stop_wine_prefix "$PWD/build/$arch/wineprefix"; done
}
trap stop_wine EXIT

status=0
passed=0
failed=0
skipped=0
run_suite() {
  local flavour="$1" log="build/ctest-$1.log" summary total bad skip
  echo "== $flavour"
  if ! scripts/build.sh "$flavour"; then
    status=1; failed=$((failed + 1)); return
  fi
  ctest --test-dir "build/$flavour" --output-on-failure -j2 2>&1 | tee "$log" || true
  # "100% tests passed, 0 tests failed out of 24"
  summary=$(grep -E 'tests failed out of [0-9]+' "$log" | tail -1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  if [ -z "$summary" ] || [ "$total" -eq 0 ] || [ "$bad" -ne 0 ]; then status=1; fi
  # A test that cannot run on this machine (one needing a private network) is counted apart.
  skip=$(grep -c '(Skipped)$' "$log" || true)
  passed=$((passed + ${total:-0} - ${bad:-0} - skip))
  failed=$((failed + ${bad:-1}))
  skipped=$((skipped + skip))
}

# Both flavours are built by now: the kit only packs them, and its test reads the zip.
run_kit() {
  local zip
  echo "== kit"
  if zip=$(scripts/package.sh | tail -1) && /usr/bin/python3 -B tests/kit/test_kit.py "$zip"; then
    passed=$((passed + 1))
  else
    status=1; failed=$((failed + 1))
  fi
}

# The README's demo command as a newcomer meets it: a folder of its own, made afresh (its Wine prefix
# included), removed afterwards.
run_demo() {
  local dir=build/demo-check
  echo "== demo"
  rm -rf "$dir"
  if TAMSEL_DEMO_DIR="$dir" scripts/demo.sh >build/demo-check.log 2>&1 && grep -q '^== Done' build/demo-check.log; then
    passed=$((passed + 1))
  else
    tail -30 build/demo-check.log
    status=1; failed=$((failed + 1))
  fi
  rm -rf "$dir"
}

# tamsel.exe against real servers from Debian (nginx, squid, vsftpd) on a private network of the stage's
# own; skipped where the machine makes none. Its own tally is printed again just before the last line.
interop_line=""
run_interop() {
  local code=0
  echo "== interop"
  timeout --kill-after=30 "${TAMSEL_INTEROP_SECONDS:-300}" scripts/interop.sh 2>&1 | tee build/interop.log \
    || code=${PIPESTATUS[0]}
  interop_line=$(grep -E '^interop: [0-9]+ passed, [0-9]+ failed$' build/interop.log | tail -1 || true)
  case $code in
    0) passed=$((passed + 1)) ;;
    77) skipped=$((skipped + 1)); interop_line="interop: skipped (no private network on this machine)" ;;
    *) status=1; failed=$((failed + 1)); [ -n "$interop_line" ] || interop_line="interop: failed (build/interop.log)" ;;
  esac
}

run_suite native
run_suite i686
run_suite x86_64
run_kit
run_demo
run_interop
if ! scripts/fuzz.sh --seconds "${TAMSEL_FUZZ_SECONDS:-30}"; then
  status=1; failed=$((failed + 1))
fi
echo "$interop_line (build/interop.log)"
echo "tests: $passed passed, $failed failed$([ $skipped -eq 0 ] || echo ", $skipped skipped (see build/ctest-*.log, build/interop.log)")"
exit $status
