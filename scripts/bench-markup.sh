#!/usr/bin/env bash
# Builds the markup benchmark natively (Release) and prints the reply reader's time beside pugixml's
# on the same replies, with the ratio (reader / pugixml; below 1 means the reader is faster).
#   scripts/bench-markup.sh [--repetitions N]
set -euo pipefail
cd "$(dirname "$0")/.."
repetitions=5
[ "${1:-}" = "--repetitions" ] && repetitions="$2"
scripts/setup.sh
dir=build/bench
cmake -S . -B "$dir" -G Ninja -DTAMSEL_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target bench_markup >/dev/null
out="$dir/bench_markup.json"
"$dir/bench/bench_markup" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json >/dev/null
/usr/bin/python3 - "$out" <<'PY'
import json, sys
medians = {b["run_name"]: b["cpu_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
           if b.get("aggregate_name") == "median"}
for case in sorted({name.split("/", 1)[1] for name in medians}):
    reader, pugi = medians.get("Reader/" + case), medians.get("Pugixml/" + case)
    if reader and pugi:
        print(f"   {case:16} reader {reader:8.0f} ns   pugixml {pugi:8.0f} ns   ratio {reader / pugi:.2f}")
PY
