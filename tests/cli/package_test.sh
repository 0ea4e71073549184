#!/usr/bin/env bash
# The fennick-cli package as a server gets it: built the Debian way from a
# copy of the source tree $1 laid out as `git archive` leaves it (files
# group-writable), installed on this machine with apt, run as the service
# runs it, its timer enabled and its metrics written; then purged, and
# nothing of it may be left but the operator's reports: the metrics files
# that fennick-cli recorded go, the .prom files that the settings name only
# inside another setting stay. A second round removes first and purges
# later. Needs root and a machine without the
# package (exit 77, skipped, otherwise); the package is purged again on any
# way out.
set -euo pipefail
source_dir="$1"
work="$(mktemp -d)"
installed=0
cleanup() {
    if ((installed)); then
        dpkg --purge fennick-cli >/dev/null 2>&1 || true
        # Made by this test, as checked below before the first install.
        rm -rf /var/lib/fennick /var/lib/fennick-cli
        rm -f /etc/systemd/system/timers.target.wants/fennick.timer
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
skip() {
    echo "SKIPPED: $*"
    exit 77
}
apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300 "$@" \
        >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get $*"; }
}
wants=/etc/systemd/system/timers.target.wants/fennick.timer

[[ "$(id -u)" == 0 ]] || skip "installing the package needs root"
status="$(dpkg-query -W -f='${db:Status-Abbrev}' fennick-cli 2>/dev/null || true)"
[[ -z "$status" || "$status" == un* ]] || skip "fennick-cli is on this machine ($status); the test purges only its own"
for path in /var/lib/fennick /var/lib/fennick-cli /etc/default/fennick "$wants"; do
    [[ ! -e "$path" && ! -L "$path" ]] || skip "$path is on this machine; the test removes only its own"
done

# The tests of the core ran with this build's CTest already.
started="$SECONDS"
DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
    bash "$source_dir/scripts/build-deb.sh" --as-exported "$work/out" || fail "the package did not build"
echo "built in $((SECONDS - started)) s"
debs=("$work"/out/fennick-cli_*.deb)
[[ -f "${debs[0]}" ]] || fail "no fennick-cli_*.deb in $(ls "$work/out")"
deb="${debs[0]}"

info="$(dpkg-deb -I "$deb")"
echo "$info"
grep -qx ' Package: fennick-cli' <<<"$info" || fail "the package is not named fennick-cli"
depends="$(sed -n 's/^ Depends: //p' <<<"$info")"
[[ "$depends" == *libc6* && "$depends" == *libstdc++6* ]] ||
    fail "Depends does not come from the program's libraries: $depends"
if grep -qi 'qt' <<<"$depends"; then fail "Depends names Qt: $depends"; fi
# The tree's group-writable files must not make a group-writable package.
modes="$({ dpkg-deb --ctrl-tarfile "$deb" | tar -tvf -; dpkg-deb -c "$deb"; })"
writable="$(grep -E '^[-d](.{4}|.{7})w' <<<"$modes" || true)"
[[ -z "$writable" ]] || fail "writable by group or others: $writable"
grep -Eq '^-rw-r--r-- .* \./conffiles$' <<<"$modes" || fail "conffiles is not 0644"
# What Debian's own checker finds in it: no error, no warning.
changes=("$work"/out/fennick_*.changes)
lintian --display-info --fail-on error,warning "${changes[@]}" || fail "lintian: see above"
echo "lintian: no error or warning"

installed=1
apt_get install "$deb"
echo "installed"
dpkg -L fennick-cli >"$work/listed"
# What each listed path is, to tell after the purge what may stay.
while IFS= read -r path; do
    [[ "$path" != /. ]] || continue
    if [[ -d "$path" ]]; then echo "d $path"; else echo "f $path"; fi
done <"$work/listed" >"$work/kinds"
doc=/usr/share/doc/fennick-cli
for path in /usr/bin/fennick-cli /usr/share/man/man1/fennick-cli.1.gz /etc/default/fennick \
    /var/lib/fennick "$doc/copyright" "$doc/changelog.gz" "$doc/README.Debian" \
    "$doc/examples/fennick_config.txt" "$doc/examples/policy_list.txt" "$doc/examples/fennick-alerts.yml"; do
    grep -qx "$path" "$work/listed" || fail "the package does not hold $path"
    [[ -e "$path" ]] || fail "$path was not installed"
done
if ldd /usr/bin/fennick-cli | grep -qi 'libQt'; then fail "fennick-cli links Qt"; fi
timer="$(grep -E '^(/usr)?/lib/systemd/system/fennick\.timer$' "$work/listed")" ||
    fail "no fennick.timer under (/usr)/lib/systemd/system"
service="${timer%.timer}.service"
grep -qx "$service" "$work/listed" || fail "no fennick.service beside the timer"
grep -qx 'OnCalendar=\*-\*-\* 06:00:00' "$timer" || fail "the timer does not fire at 06:00"
grep -qx 'Persistent=true' "$timer" || fail "the timer does not make up a missed run"
grep -qx 'ExecStart=/usr/bin/fennick-cli --dir /var/lib/fennick $FENNICK_OPTIONS' "$service" ||
    fail "the service does not run fennick-cli on /var/lib/fennick"
grep -qx 'EnvironmentFile=-/etc/default/fennick' "$service" ||
    fail "the service does not read /etc/default/fennick"
# Hardened: what systemd itself rates the unit as it is installed.
exposure="$(systemd-analyze security --offline=true "$service" 2>&1 |
    sed -n 's/.*Overall exposure level for fennick.service: \([0-9.]*\).*/\1/p')"
echo "exposure: $exposure"
[[ -n "$exposure" ]] || fail "systemd-analyze gave no exposure level"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure $exposure is above 2.0"
verified="$(systemd-analyze verify "$service" 2>&1)" && [[ -z "$verified" ]] ||
    fail "systemd-analyze verify $service: $verified"
grep -qx 'StateDirectory=fennick-cli' "$service" ||
    fail "the service has no state folder for the record of its metrics files"

# Installing enables nothing.
enabled="$(systemctl --root=/ is-enabled fennick.timer 2>&1 || true)"
[[ "$enabled" == disabled ]] || fail "after installing, fennick.timer is '$enabled'"
[[ ! -e "$wants" && ! -L "$wants" ]] || fail "installing made $wants"

# The settings are the operator's: dpkg keeps them on upgrade, and nothing
# in them is set until the operator sets it.
dpkg-query -W -f='${Conffiles}\n' fennick-cli | grep -q '^ /etc/default/fennick ' ||
    fail "/etc/default/fennick is no conffile"
if grep -v '^#' /etc/default/fennick | grep -q .; then fail "/etc/default/fennick sets something"; fi
for variable in FENNICK_DUMP_COMMAND FENNICK_MAIL_TO FENNICK_MAIL_WHEN FENNICK_METRICS FENNICK_OPTIONS; do
    grep -q "^#$variable=" /etc/default/fennick || fail "/etc/default/fennick lacks $variable"
done

# gzip -n leaves out the name and the time, so two builds make one package.
for gz in /usr/share/man/man1/fennick-cli.1.gz "$doc/changelog.gz"; do
    [[ "$(od -An -tx1 -N8 "$gz" | tr -d ' ')" == 1f8b080000000000 ]] ||
        fail "$gz keeps a file name or a time: not made with gzip -n"
done
version="$(dpkg-query -W -f='${Version}' fennick-cli)"
newest="$(gzip -dc "$doc/changelog.gz" | sed -n 1p)"
[[ "$newest" == "fennick ($version) "* ]] ||
    fail "the changelog's newest entry is '$newest', the package's version $version"

# A run as the service makes it, in /var/lib/fennick with the settings in
# its environment: the examples and one job of Daily_FileServer at 01:00 on
# 5 December (report zone), which is 17:00 UTC the day before.
data=/var/lib/fennick
cp "$doc"/examples/*.txt "$data/"
start="$(date -u -d '2026-12-04 17:00:00' +%s)"
fields=(4711 other '' 0 Daily_FileServer Daily client1 '' "$start" 3725 $((start + 3725))
    '' '' '' 2048 17 '' '' '' 512 1 '' 0 '' '' '' '' 3 '' '' '' '' '' '' '' '' '' '' '' '')
(IFS=,; printf '%s\r\n' "${fields[*]}") >"$data/bpdbjobs.txt"
metrics="$work/textfile/fennick.prom"
mkdir "$work/textfile"
# Another exporter's file beside it, which the purge must leave.
echo 'other_metric 1' >"$work/textfile/other.prom"
# And two that a FENNICK_METRICS= line names, but a line that is part of
# another setting, for systemd as for sh: inside a quoted value of several
# lines, and after a backslash that continues the line before.
quoted="$work/textfile/quoted.prom"
continued="$work/textfile/continued.prom"
echo 'other_metric 1' | tee "$quoted" >"$continued"
in_quotes="$(printf 'SITE_NOTE="over lines,\nFENNICK_METRICS=%s\nand on"' "$quoted")"
continuing="$(printf 'SITE_NOTE=first\\\nFENNICK_METRICS=%s' "$continued")"
cp /etc/default/fennick "$work/default"
# The package's settings with FENNICK_METRICS="$1", then the lines $2.
settings() {
    { cat "$work/default" && printf 'FENNICK_METRICS="%s"\n%s\n' "$1" "$2"; } >/etc/default/fennick
}
state=/var/lib/fennick-cli
record="$state/metrics-files"
# A run as fennick.service makes it, here outside systemd: STATE_DIRECTORY
# and its folder as systemd gives them for StateDirectory=fennick-cli.
run_as_service() {
    mkdir -p -m 0755 "$state"
    (set -a && . /etc/default/fennick && set +a && STATE_DIRECTORY="$state" \
        /usr/bin/fennick-cli --dir "$data" --end '2026-12-05 02:15:00' >/dev/null) ||
        fail "the installed program failed as the service"
}
settings "$metrics" "$in_quotes"
# By hand first, without STATE_DIRECTORY: the report and no record.
summary="$(set -a && . /etc/default/fennick && set +a &&
    /usr/bin/fennick-cli --dir "$data" --end '2026-12-05 02:15:00')" || fail "the installed program failed"
[[ ! -e "$state" ]] || fail "a run outside the service made $state"
echo "$summary"
expected="$data/report_05-12-26.html: 1 job, 0 failed, 2 daily policies not found"
[[ "$summary" == "$expected" ]] || fail "summary: expected '$expected'"
grep -q 'Daily_FileServer' "$data/report_05-12-26.html" || fail "the page lacks the job's policy"
grep -qx "fennick_report_success{folder=\"$data\"} 1" "$metrics" || fail "no success in $metrics"
run_as_service
[[ "$(cat "$record")" == "$metrics" ]] || fail "$record holds '$(cat "$record")', not $metrics"
# The setting changed since: the earlier file is kept in the record.
second="$work/textfile/second.prom"
settings "$second" "$in_quotes"
run_as_service
run_as_service  # the daily run again: listed once
[[ "$(cat "$record")" == "$metrics"$'\n'"$second" ]] || fail "$record holds '$(cat "$record")'"

systemctl --root=/ enable fennick.timer 2>&1
[[ -L "$wants" ]] || fail "enabling made no $wants"

apt_get purge fennick-cli
echo "purged"
status="$(dpkg-query -W -f='${db:Status-Abbrev}' fennick-cli 2>/dev/null || true)"
[[ -z "$status" || "$status" == un* ]] || fail "after the purge dpkg says '$status'"
# Every file the package held is gone; a folder it held stays only when
# another package holds it too, or when it is the report folder with the
# operator's files in it.
while read -r kind path; do
    if [[ "$kind" == f ]]; then
        [[ ! -e "$path" && ! -L "$path" ]] || fail "the purge left $path"
    elif [[ -d "$path" && "$path" != "$data" ]]; then
        dpkg -S "$path" >/dev/null 2>&1 || fail "the purge left the folder $path"
    fi
done <"$work/kinds"
[[ ! -e /etc/default/fennick ]] || fail "the purge left /etc/default/fennick"
[[ ! -e "$wants" && ! -L "$wants" ]] || fail "the purge left $wants"
left="$(find /var/lib/systemd/deb-systemd-helper-enabled /var/lib/systemd/deb-systemd-helper-masked \
    -name 'fennick*' 2>/dev/null || true)"
[[ -z "$left" ]] || fail "the purge left systemd state: $left"
[[ ! -e "$metrics" && ! -e "$second" ]] || fail "the purge left a metrics file: $(ls "$work/textfile")"
[[ -f "$work/textfile/other.prom" ]] || fail "the purge removed another exporter's file"
[[ -f "$quoted" ]] || fail "the purge removed $quoted, named inside another setting's quotes"
[[ ! -e /var/lib/fennick-cli ]] || fail "the purge left /var/lib/fennick-cli"
[[ -f "$data/report_05-12-26.html" && -f "$data/bpdbjobs.txt" ]] ||
    fail "the purge removed the operator's report or dump"

# Removed now, purged later: the record must outlive the removal.
apt_get install "$deb"
settings "$metrics" "$continuing"
run_as_service
apt_get remove fennick-cli
echo "removed"
[[ ! -e /usr/bin/fennick-cli ]] || fail "removing left /usr/bin/fennick-cli"
[[ -f /etc/default/fennick ]] || fail "removing took the settings"
[[ -f "$metrics" ]] || fail "removing took the metrics file before the purge"
[[ "$(cat "$record")" == "$metrics" ]] || fail "after removing, $record holds '$(cat "$record" 2>&1)'"
apt_get purge fennick-cli
echo "purged after removal"
[[ ! -e /etc/default/fennick ]] || fail "the later purge left /etc/default/fennick"
[[ ! -e "$metrics" ]] || fail "the later purge left the metrics file $metrics"
[[ -f "$work/textfile/other.prom" ]] || fail "the later purge removed another exporter's file"
[[ -f "$continued" ]] || fail "the later purge removed $continued, named after a continued line"
[[ ! -e /var/lib/fennick-cli ]] || fail "the later purge left /var/lib/fennick-cli"
echo "package test passed in $((SECONDS - started)) s"
