#!/usr/bin/env bash
# Configures and builds into build/ at the repository root, warnings as
# errors, then runs every test. A test that did not run or was skipped (a
# tool missing on this machine) fails the run: setup installs every tool.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build -j"$(nproc)"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
ctest --test-dir build --output-on-failure -j"$(nproc)" | tee "$log"
if grep -q '^The following tests did not run:' "$log"; then
  echo "test.sh: the tests listed above did not run; bash scripts/install-deps.sh" \
    "installs what they need" >&2
  exit 1
fi
