#!/usr/bin/env bash
# Configures and builds one flavour: build.sh i686|x86_64|native|fuzz  (into build/<flavour>).
set -euo pipefail
cd "$(dirname "$0")/.."
flavour="$1"; shift || true
case "$flavour" in
  i686|x86_64) args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$flavour.cmake -DCMAKE_BUILD_TYPE=Release) ;;
  native)      args=(-DTAMSEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  fuzz)        args=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DTAMSEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  bench)       args=(-DTAMSEL_BENCH=ON -DCMAKE_BUILD_TYPE=Release) ;;
  *) echo "usage: build.sh i686|x86_64|native|fuzz|bench" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" -G Ninja "${args[@]}" "$@" >/dev/null
cmake --build "build/$flavour"
