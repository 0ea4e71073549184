#!/usr/bin/env bash
# Runs the example queries of README.md's job history, as the README writes
# them, with the sqlite3 shell on a history that fennick-cli $1 makes from a
# dump that fennick_gendump $2 writes, and checks what they print against
# the run's JSON and against queries of another form. The queries are read
# from README.md $3 between their markers, so that the two cannot drift.
set -euo pipefail
program="$1"
gendump="$2"
readme="$3"
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
command -v sqlite3 >/dev/null || fail "no sqlite3 here (Debian package sqlite3)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

awk -v dir="$work" '
    /^<!-- history query: .* -->$/ { n++; file = dir "/query" n ".sql"; inside = 1; next }
    /^<!-- end of history query -->$/ { inside = 0; next }
    inside && /^    / { print substr($0, 5) > file }
' "$readme"
for n in 1 2 3; do
    [[ -s "$work/query$n.sql" ]] || fail "README.md has no history query $n between markers"
done
[[ ! -e "$work/query4.sql" ]] || fail "README.md has more than the three history queries"

# A dump of ten days up to now, in which the client of the busiest stream
# fails from four days ago and another client has no jobs from five days ago.
now="$(date +%s)"
folder="$work/folder"
"$gendump" "$folder" --jobs 30000 --span-days 10 --policies 200 --seed 3 --now "$now" >/dev/null
read -r policy client schedule < <(awk -F, '{ print $5, $7, $6 }' "$folder/bpdbjobs.txt" |
    sort | uniq -c | sort -k1,1nr -k2 | awk 'NR == 1 { print $2, $3, $4 }')
gone="$(awk -F, -v c="$client" '$7 != c { print $7 }' "$folder/bpdbjobs.txt" | sort -u | awk 'NR == 1')"
awk -F, -v OFS=, -v c="$client" -v g="$gone" -v broke=$((now - 4 * 86400)) \
    -v left=$((now - 5 * 86400)) \
    '$7 == c && $9 >= broke { $4 = "58" } $7 == g && $9 >= left { next } { print }' \
    "$folder/bpdbjobs.txt" >"$work/dump" && mv "$work/dump" "$folder/bpdbjobs.txt"

# The morning report of two days ago (06:00 in the report zone, UTC+8),
# reading the whole dump into the history.
day="$(date -u -d "@$((now + 8 * 3600 - 2 * 86400))" +%F)"
night="$(date -u -d "$day -1 day" +%F)"
"$program" --dir "$folder" --end "$day 06:00:00" --lookback 10 --json "$work/run.json" --quiet ||
    fail "fennick-cli exited with $?"
history="$folder/fennick_history.db"
[[ -f "$history" ]] || fail "the run made no $history"
ask() { sqlite3 -readonly -batch "$history" "$@"; }

# A stream's last ten jobs: the README's stream replaced by the busiest one.
sed -e "s/policy = '[^']*'/policy = '$policy'/" -e "s/client = '[^']*'/client = '$client'/" \
    -e "s/schedule = '[^']*'/schedule = '$schedule'/" "$work/query1.sql" >"$work/stream.sql"
grep -q "'$client'" "$work/stream.sql" || fail "query 1 names no client to replace: $(cat "$work/query1.sql")"
jobs="$(ask "SELECT COUNT(*) FROM jobs WHERE policy = '$policy' AND client = '$client' AND schedule = '$schedule'")"
((jobs > 0)) || fail "the history holds no job of $policy $client $schedule"
last="$(ask <"$work/stream.sql")"
rows="$(grep -c . <<<"$last")"
((rows == (jobs < 10 ? jobs : 10))) || fail "query 1 gave $rows rows of the stream's $jobs jobs: $last"
cut -d'|' -f2 <<<"$last" | sort -rc || fail "query 1 is not newest first: $last"

# Failed jobs per night: the night before the report's morning is its window.
counts="$(python3 -c 'import json, sys; c = json.load(open(sys.argv[1]))["counts"]; print(c["jobs"], c["failed"])' "$work/run.json")"
nights="$(ask <"$work/query2.sql")"
row="$(grep "^$night|" <<<"$nights")" || fail "query 2 has no night $night: $nights"
[[ "$(cut -d'|' -f2,3 --output-delimiter=' ' <<<"$row")" == "$counts" ]] ||
    fail "query 2 gave $row for the night $night, the run's JSON counts $counts"
(($(grep -c . <<<"$nights") <= 30)) || fail "query 2 gave more than 30 nights: $nights"

# Clients without a success in three days, against a query of another form.
listed="$(ask <"$work/query3.sql" | cut -d'|' -f1 | sort)"
expected="$(ask "SELECT client FROM jobs EXCEPT SELECT client FROM jobs WHERE status IN ('0', '1')
    AND started >= CAST(strftime('%s', 'now', '-3 days') AS INTEGER)" | sort)"
[[ "$listed" == "$expected" ]] ||
    fail "query 3 listed $(grep -c . <<<"$listed") clients ($(head -c 200 <<<"$listed" | tr '\n' ' ')...), not [$(tr '\n' ' ' <<<"$expected")]"
grep -qx "$client" <<<"$listed" || fail "query 3 left out $client, failing for four days"
grep -qx "$gone" <<<"$listed" || fail "query 3 left out $gone, without jobs for five days"

echo "the README's history queries ran on $(ask 'SELECT COUNT(*) FROM jobs') jobs: $rows jobs of $policy $client $schedule, night $night $counts as the JSON says, clients without a success: $(tr '\n' ' ' <<<"$listed")"
