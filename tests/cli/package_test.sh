#!/usr/bin/env bash
# Builds the fennick-cli Debian package from the build folder $1 into a
# scratch folder, unpacks it into a scratch root and checks what a server
# gets: the program without Qt, a timer that is not enabled, the documents
# Debian asks for, and a run.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack could not build the package"
fi
debs=("$work"/out/fennick-cli_*.deb)
[[ -f "${debs[0]}" ]] || fail "no fennick-cli_*.deb in $(ls "$work/out")"
deb="${debs[0]}"

info="$(dpkg-deb -I "$deb")"
echo "$info"
grep -qx ' Package: fennick-cli' <<<"$info" || fail "the package is not named fennick-cli"
depends="$(sed -n 's/^ Depends: //p' <<<"$info")"
[[ "$depends" == *libc6* ]] || fail "Depends does not come from the program's libraries: $depends"
if grep -qi 'qt' <<<"$depends"; then fail "Depends names Qt: $depends"; fi

# Nothing enables the timer on installation.
dpkg-deb -e "$deb" "$work/control"
if grep -rqs -e 'enable' -e 'start' "$work/control"/{preinst,postinst} 2>/dev/null; then
    fail "a maintainer script enables or starts something"
fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
program="$root/usr/bin/fennick-cli"
[[ -x "$program" ]] || fail "no /usr/bin/fennick-cli"
if ldd "$program" | grep -qi 'libQt'; then fail "fennick-cli links Qt"; fi
units=""
for dir in usr/lib/systemd/system lib/systemd/system; do
    [[ -f "$root/$dir/fennick.timer" ]] && units="$root/$dir"
done
[[ -n "$units" ]] || fail "no fennick.timer under (usr/)lib/systemd/system"
[[ -f "$units/fennick.service" ]] || fail "no fennick.service beside the timer"
grep -qx 'OnCalendar=\*-\*-\* 06:00:00' "$units/fennick.timer" || fail "the timer does not fire at 06:00"
grep -qx 'Persistent=true' "$units/fennick.timer" || fail "the timer does not make up a missed run"
grep -qx 'ExecStart=/usr/bin/fennick-cli --dir /var/lib/fennick $FENNICK_OPTIONS' \
    "$units/fennick.service" || fail "the service does not run fennick-cli on /var/lib/fennick"
grep -qx 'EnvironmentFile=-/etc/default/fennick' "$units/fennick.service" ||
    fail "the service does not read /etc/default/fennick"
# The settings file is the operator's: dpkg keeps it on upgrade, and nothing
# in it is set until the operator sets it.
grep -qx '/etc/default/fennick' "$work/control/conffiles" || fail "/etc/default/fennick is no conffile"
if grep -v '^#' "$root/etc/default/fennick" | grep -q .; then
    fail "/etc/default/fennick sets something"
fi
for variable in FENNICK_DUMP_COMMAND FENNICK_MAIL_TO FENNICK_MAIL_WHEN FENNICK_METRICS FENNICK_OPTIONS; do
    grep -q "^#$variable=" "$root/etc/default/fennick" || fail "/etc/default/fennick lacks $variable"
done
# Hardened: what systemd itself rates the unit as it is packaged.
exposure="$(systemd-analyze security --offline=true "$units/fennick.service" 2>&1 |
    sed -n 's/.*Overall exposure level for fennick.service: \([0-9.]*\).*/\1/p')"
echo "exposure: $exposure"
[[ -n "$exposure" ]] || fail "systemd-analyze gave no exposure level"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure $exposure is above 2.0"
[[ -d "$root/var/lib/fennick" ]] || fail "no /var/lib/fennick"
for example in fennick_config.txt policy_list.txt; do
    [[ -f "$root/usr/share/doc/fennick-cli/examples/$example" ]] || fail "no example $example"
done
[[ -f "$root/usr/share/doc/fennick-cli/copyright" ]] || fail "no copyright file"
# gzip -n leaves out the name and the time, so two builds make one package.
for doc in usr/share/man/man1/fennick-cli.1.gz usr/share/doc/fennick-cli/changelog.gz; do
    [[ -f "$root/$doc" ]] || fail "no /$doc"
    [[ "$(od -An -tx1 -N8 "$root/$doc" | tr -d ' ')" == 1f8b080000000000 ]] ||
        fail "/$doc keeps a file name or a time: not made with gzip -n"
done
# A new version needs its changelog entry.
version="$(sed -n 's/^ Version: //p' <<<"$info")"
newest="$(gzip -dc "$root/usr/share/doc/fennick-cli/changelog.gz" | sed -n 1p)"
[[ "$newest" == "fennick-cli ($version) "* ]] ||
    fail "the changelog's newest entry is '$newest', the package's version $version"

# A run on the examples and one job of Daily_FileServer at 01:00 on
# 5 December (report zone), which is 17:00 UTC the day before.
data="$work/data"
mkdir "$data"
cp "$root"/usr/share/doc/fennick-cli/examples/*.txt "$data/"
start="$(date -u -d '2026-12-04 17:00:00' +%s)"
fields=(4711 other '' 0 Daily_FileServer Daily client1 '' "$start" 3725 $((start + 3725))
    '' '' '' 2048 17 '' '' '' 512 1 '' 0 '' '' '' '' 3 '' '' '' '' '' '' '' '' '' '' '' '')
(IFS=,; printf '%s\r\n' "${fields[*]}") >"$data/bpdbjobs.txt"
summary="$("$program" --dir "$data" --end '2026-12-05 02:15:00')" || fail "the packaged program failed"
echo "$summary"
expected="$data/report_05-12-26.html: 1 job, 0 failed, 2 daily policies not found"
[[ "$summary" == "$expected" ]] || fail "summary: expected '$expected'"
grep -q 'Daily_FileServer' "$data/report_05-12-26.html" || fail "the page lacks the job's policy"
echo "package test passed"
