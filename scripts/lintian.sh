#!/usr/bin/env bash
# Builds the Debian package from a built folder (default build/) into its
# package/ folder and checks it with lintian; fails on any error or warning.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$build/package"
rm -rf "$out"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$build/cpack.log" 2>&1; then
  cat "$build/cpack.log"
  echo "lintian.sh: cpack could not build the package from $build" >&2
  exit 1
fi
debs=("$out"/fennick-cli_*.deb)
echo "lintian ${debs[*]}"
# The informational tags are shown but pass.
lintian --display-info --fail-on error,warning "${debs[@]}"
echo "lintian.sh: no error or warning"
