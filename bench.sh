#!/usr/bin/env bash
# Builds (Release) and runs every benchmark program; each figure is a "BENCH <name> <value> <unit>" line.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
tarnwell_install_deps

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_TESTS=OFF -DTARNWELL_BENCH=ON
cmake --build build/bench

export QT_QPA_PLATFORM=offscreen
status=0
for bin in build/bench/bench/bench_*; do
  [ -f "$bin" ] && [ -x "$bin" ] || continue
  echo "== $(basename "$bin")"
  "$bin" || status=1
done
exit $status
