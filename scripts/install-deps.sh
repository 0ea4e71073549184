#!/usr/bin/env bash
# Installs what building, testing, packaging and running fennick needs on a
# fresh Debian machine. Prints one line; the package manager's own output goes
# to build-logs/setup.log, and only its tail is shown when it fails. Extra
# package names given as arguments are installed the same way (CI's fuzzing
# needs). It also makes the locale de_DE.UTF-8, so that no test is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-dev, debhelper and file: the Debian package (debian/, built with
# dpkg-buildpackage). pkgconf, libgmime-3.0-dev, nlohmann-json3-dev and
# libhowardhinnant-date-dev: the mail, the JSON findings and the rest of
# debian/control's Build-Depends. libsqlite3-dev: the job history; sqlite3:
# the tests that query it as an operator would.
# xvfb, xdotool, xclip and chromium: the end-to-end tests (tests/e2e), a real
# X server, a hand on it, its clipboard, and a browser that opens the pages.
# libcli11-dev: fennick-cli's options. msmtp, python3-aiosmtpd, prometheus and
# systemd: the real parts of the delivery tests (a sendmail client, an SMTP
# server, promtool, systemd-analyze). locales: the number tests that also run
# under a German locale (decimal comma). man-db, groff-base and lintian: the
# manual page's test and the package's check.
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev faketime
  dpkg-dev debhelper pkgconf libgmime-3.0-dev nlohmann-json3-dev libhowardhinnant-date-dev file
  libsqlite3-dev sqlite3
  xvfb xdotool xclip chromium libcli11-dev msmtp python3-aiosmtpd prometheus systemd locales man-db groff-base lintian "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

mkdir -p build-logs
log="$PWD/build-logs/setup.log"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if ((${#missing[@]} == 0)); then
  line="setup: all ${#packages[@]} packages present"
else
  : >"$log"
  # Another apt may hold the lock for a while; wait for it rather than fail.
  if {
    $SUDO apt-get update -q &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -o DPkg::Lock::Timeout=600 \
        "${missing[@]}"
  } >>"$log" 2>&1; then
    added="$(grep -oE '[0-9]+ newly installed' "$log" | tail -n 1 | cut -d' ' -f1)"
    line="setup: installed ${missing[*]} (${added:-?} packages with their dependencies; log: $log)"
  else
    status=$?
    tail -n 25 "$log" >&2
    echo "setup: installing ${missing[*]} failed (exit $status); the whole log: $log" >&2
    exit "$status"
  fi
fi

# The locales package holds the German locale's source, not the locale.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  if $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 >>"$log" 2>&1; then
    line+="; made the locale de_DE.UTF-8"
  else
    status=$?
    tail -n 25 "$log" >&2
    echo "setup: making the locale de_DE.UTF-8 failed (exit $status); the whole log: $log" >&2
    exit "$status"
  fi
fi
echo "$line"
