#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UBSan and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
tarnwell_install_deps

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=ON -DTARNWELL_BENCH=OFF
cmake --build build/asan

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build/asan --output-on-failure -j2
