#!/usr/bin/env bash
# Builds fennick, fills demo/ with the program and fresh sample data whose jobs
# lie in the last two days, and runs the unattended job there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target fennick fennick_gendump
rm -rf demo && mkdir demo
cp build/fennick demo/
build/bench/fennick_gendump demo --span-hours 48
# The program reads and writes the files beside itself, wherever it is started.
demo/fennick -q
echo "Report page: $(ls "$PWD"/demo/report_*.html)"
