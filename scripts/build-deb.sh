#!/usr/bin/env bash
# Builds the Debian package the Debian way (dpkg-buildpackage -b, debian/)
# from a copy of this tree's files as they are now, tracked and new, without
# build folders, into the folder $1: fennick-cli_*.deb, its -dbgsym package,
# the .changes and .buildinfo, and build.log. DEB_BUILD_OPTIONS passes
# through (e.g. "nocheck parallel=2").
# --as-exported: the copy's files group-writable and the build under umask
# 002, as a tree that `git archive` wrote there would be.
set -euo pipefail
exported=0
if [[ "${1:-}" == --as-exported ]]; then
  exported=1
  shift
fi
[[ $# -eq 1 ]] || { echo "usage: build-deb.sh [--as-exported] OUTDIR" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
# dpkg-buildpackage writes the packages beside the tree it builds.
src="$out/fennick"
rm -rf "$src"
mkdir "$src"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # A file deleted but not yet committed is not there to copy.
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do
      if [[ -e "$f" || -L "$f" ]]; then printf '%s\0' "$f"; fi
    done | tar -c --null -T - -f -) | tar -x -C "$src"
else
  tar -c -C "$root" --exclude='./build*' --exclude=./demo --exclude=./debian/fennick-cli . |
    tar -x -C "$src"
fi
if ((exported)); then
  chmod -R g+w "$src"
  umask 002
fi

started="$SECONDS"
if ! (cd "$src" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 60 "$out/build.log"
  echo "build-deb.sh: dpkg-buildpackage failed; the whole log: $out/build.log" >&2
  exit 1
fi
rm -rf "$src"
echo "build-deb.sh: $(cd "$out" && ls -- *.deb | tr '\n' ' ')in $((SECONDS - started)) s"
