#!/usr/bin/env bash
# Builds fennick, installs it into demo/ with fresh sample data whose jobs
# lie in the two days before the unattended run's window ends, runs the
# unattended job there and prints what its page shows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target fennick fennick-cli fennick_gendump
rm -rf demo
cmake --install build --prefix demo >/dev/null
# The unattended run reads the machine's clock time as a time of the report
# zone (UTC+8): its window ends at the epoch of that clock time read as UTC+8,
# which is 8 hours before the present only on a machine at UTC+8 itself. The
# newest sample jobs start there, so they lie inside the window on a machine
# in any zone.
clock_as_utc="$(date -u -d "$(date '+%Y-%m-%d %H:%M:%S')" +%s)"
window_end=$((clock_as_utc - 28800))
build/bench/fennick_gendump demo --span-hours 48 --now "$window_end"
# The program reads and writes the files beside itself, wherever it is started.
demo/fennick -q
echo "Report page: $(ls "$PWD"/demo/report_*.html)"
# The same unattended run once more, by the command-line program, which says
# what the page shows.
echo "Summary: $(demo/fennick-cli --dir demo)"
