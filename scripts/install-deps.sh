#!/usr/bin/env bash
# Installs what building, testing and running fennick needs on a fresh Debian machine.
set -euo pipefail
# The last four serve the end-to-end tests (tests/e2e): a real X server, a
# hand on it, its clipboard, and a browser that opens the pages.
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev faketime
  xvfb xdotool xclip chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi
