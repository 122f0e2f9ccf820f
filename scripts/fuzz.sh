#!/usr/bin/env bash
# Runs every fuzz target: fuzz.sh --seconds N (each for N seconds) or fuzz.sh --runs N (N executions each).
# The seed corpora stay as committed; new inputs go to build/fuzz/corpus-work/<name>.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=(-max_total_time=30)
case "${1:-}" in
  --seconds) limit=(-max_total_time="$2") ;;
  --runs)    limit=(-runs="$2") ;;
  "") ;;
  *) echo "usage: fuzz.sh [--seconds N | --runs N]" >&2; exit 2 ;;
esac
scripts/setup.sh
scripts/build.sh fuzz
status=0
for program in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$program" ] || continue
  name=$(basename "$program"); name=${name#fuzz_}
  work="build/fuzz/corpus-work/$name"; mkdir -p "$work"
  echo "== fuzz $name"
  # Each fuzzer's own result decides whether its log is shown; status is the run's as a whole.
  passed=1
  "$program" "${limit[@]}" -print_final_stats=1 "$work" "tests/fuzz/corpus/$name" 2>"build/fuzz/$name.log" || passed=0
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|INFO: Loaded|#[0-9]+ *DONE)' "build/fuzz/$name.log" || true
  if [ $passed -eq 0 ]; then
    status=1
    tail -50 "build/fuzz/$name.log"
  fi
done
exit $status
