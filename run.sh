#!/usr/bin/env bash
# Installs what is missing, builds (Release) and starts Tarnwell on the built-in simulated supply.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
tarnwell_install_deps
tarnwell_ensure_cjk_font

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_TESTS=OFF -DTARNWELL_BENCH=OFF
cmake --build build/release

# A port named by TARNWELL_COM<n> still reaches that device; every other port is the simulator.
exec ./build/release/src/tarnwell --simulate "$@"
