#!/usr/bin/env bash
# Takes the README's screenshots: runs tarnwell-screenshots under Xvfb, which drives Tarnwell's window
# on the built-in simulated supply through its pages (connect, play a demo program, save and open the
# record, switch to Chinese) and saves the pictures as docs/*.png, and the DataRecord page once more
# at device pixel ratio 2 as docs/record-en-2x.png.
# TARNWELL_BUILD_DIR picks the build directory (default build/release, as run.sh uses).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tarnwell_install_deps
tarnwell_ensure_cjk_font

build="${TARNWELL_BUILD_DIR:-build/release}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_TESTS=OFF -DTARNWELL_BENCH=OFF
fi
cmake --build "$build" --target tarnwell-screenshots

mkdir -p docs
# Every port is the simulator here, whatever the caller's shell maps; a fixed locale and
# screen keep the pictures the same from run to run.
for n in 1 2 3 4 5 6 7; do unset "TARNWELL_COM$n"; done
unset TARNWELL_SIM_LOAD_OHMS
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1
xvfb-run -a -s "-screen 0 1280x800x24" timeout 180 "$build/tools/tarnwell-screenshots" docs

# The DataRecord page once more as a 200 % desktop shows it (the AppStream metadata lists it):
# the same tour at twice the device pixels, of which only that picture is kept.
hidpi="$(mktemp -d)"
trap 'rm -rf "$hidpi"' EXIT
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2560x1600x24" timeout 180 "$build/tools/tarnwell-screenshots" "$hidpi" >/dev/null
cp "$hidpi/record-en.png" docs/record-en-2x.png
echo docs/record-en-2x.png
