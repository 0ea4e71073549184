#!/usr/bin/env bash
# Builds fennick, fills demo/ with fresh sample data and runs the unattended job there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target fennick fennick_gendump
rm -rf demo && mkdir demo
build/bench/fennick_gendump demo
(cd demo && ../build/src/app/fennick -q)
echo "Report page: $(ls "$PWD"/demo/report_*.html)"
