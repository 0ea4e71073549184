#!/usr/bin/env bash
# Builds the Debian package the Debian way (scripts/build-deb.sh: a copy of
# this tree, dpkg-buildpackage with the core tests) into $1/package (default
# build/package) and checks what it made with lintian; fails on any error or
# warning.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build}/package"
rm -rf "$out"
DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc)}" bash scripts/build-deb.sh "$out"
changes=("$out"/fennick_*.changes)
echo "lintian ${changes[*]}"
# The .changes names every package built; the informational tags are shown
# but pass.
lintian --display-info --fail-on error,warning "${changes[@]}"
echo "lintian.sh: no error or warning"
