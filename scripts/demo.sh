#!/usr/bin/env bash
# Builds fennick, installs it into demo/ and plays a server's last 14 nights
# there: each morning fennick-cli reads the dump as the server held it then
# (its last 3 nights), mails the summary to a stand-in sendmail that keeps
# the message, writes the JSON and adds the night to the job history. Then it
# says where the mail, its HTML summary, the page, the history page and the
# JSON are.
#
# Every date is fixed and every time is read in UTC, so two runs on any
# machine, in any zone, on any day, write the same nights.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
demo="$root/demo"
marker="$demo/.fennick-demo"

bash scripts/install-deps.sh
mkdir -p build-logs
log="$root/build-logs/demo-build.log"
if ! {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release &&
    cmake --build build -j"$(nproc)" --target fennick fennick-cli
} >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "demo: the build failed; whole log: $log" >&2
  exit 1
fi

# The folder is removed whole on every run, so only one that this script
# made is: it carries the marker (or, from earlier versions of this script,
# the installed fennick-cli). A link is never followed.
if [ -L "$demo" ] || { [ -e "$demo" ] && [ ! -e "$marker" ] && [ ! -x "$demo/fennick-cli" ]; }; then
  echo "demo: $demo was not made by this script; move it away and run again" >&2
  exit 1
fi
rm -rf "$demo"
cmake --install build --prefix "$demo" >/dev/null
echo "Made by scripts/demo.sh, which removes this folder when it runs again." >"$marker"

# The settings that fennick-cli would otherwise take from the environment.
unset FENNICK_DUMP_COMMAND FENNICK_MAIL_TO FENNICK_MAIL_WHEN FENNICK_METRICS \
  FENNICK_HISTORY FENNICK_ZONE

cp packaging/examples/status_codes.txt "$demo/"
cat >"$demo/policy_intervals.txt" <<'EOF'
# The policies that do not run daily, and the days within which each must
# have succeeded before the window's end.
weekly_fs_01=7
weekly_archive_01=7
EOF
cat >"$demo/sendmail" <<'EOF'
#!/bin/sh
# Stands in for the mail system: keeps the message it is handed.
cat >"$(dirname "$0")/outbox.eml"
EOF
chmod 755 "$demo/sendmail"

# The nights' dumps and the policy list. Night N's window ends at 06:00 UTC
# on December N, 2026; its jobs start from 20:00 the evening before.
mkdir "$demo/nights"
python3 - "$demo" <<'PY'
import calendar
import os
import random
import sys

demo = sys.argv[1]
DAY = 86400
NIGHTS = 14
KEPT = 3  # the nights the server's job database still holds each morning
FIRST_END = calendar.timegm((2026, 12, 1, 6, 0, 0))
rng = random.Random(14)  # random() only: the same numbers on every Python 3

DAILY = {
    "daily_fs_01": ["srv001", "srv002", "srv003"],
    "daily_fs_02": ["srv004", "srv005"],
    "daily_db_01": ["srv006", "srv007", "srv008"],
    "daily_db_02": ["srv009", "srv010"],
    "daily_mail_01": ["srv011", "srv012"],
    "daily_web_01": ["srv013", "srv014", "srv015"],
    "daily_app_01": ["srv016", "srv017"],
    "daily_app_02": ["srv018", "srv019"],
    "daily_vm_01": ["esx01", "esx02", "esx03"],
    "daily_vm_02": ["esx04", "esx05"],
    "daily_erp_01": ["srv020", "srv021"],
    "daily_crm_01": ["srv022"],
}
WEEKLY = {"weekly_fs_01": (["srv030", "srv031"], (1, 8)),
          "weekly_archive_01": (["srv032"], (4,))}

# What makes the nights worth reading; every other job succeeds.
FLAKY = ("daily_app_01", "srv017")         # fails now and then
FLAKY_NIGHTS = (3, 8)
BROKEN = ("daily_db_02", "srv010")         # fails every night from night 11
RETIRED = "daily_crm_01"                   # no job after night 9
PARTIAL = ("daily_fs_02", "srv005")        # partly succeeds on the last night
EMPTY = ("daily_db_01", "srv007")          # writes nothing on the last night
RUNNING = {("daily_vm_01", "esx02"), ("daily_vm_01", "esx03"), ("daily_vm_02", "esx05")}


class Stream:
    def __init__(self, policy, schedule, kind, client, retention):
        self.policy, self.schedule, self.kind = policy, schedule, kind
        self.client = client + ".corp.local"
        self.retention = retention
        self.kbytes = int((2 + 118 * rng.random()) * 1048576)  # 2 to 120 GiB
        self.rate = int(40000 + 110000 * rng.random())        # KB/s
        self.offset = int(6 * 3600 * rng.random())           # after 20:00


streams = []
for policy, clients in DAILY.items():
    for client in clients:
        streams.append(Stream(policy, "Daily_Diff_Incr", "1", client, "3"))
weekly = []
for policy, (clients, nights) in WEEKLY.items():
    for client in clients:
        weekly.append((Stream(policy, "Weekly_Full", "0", client, "5"), nights))


def job(stream, start, status, kbytes, elapsed, state="3"):
    return {"stream": stream, "start": start, "status": status, "kbytes": kbytes,
            "elapsed": elapsed, "state": state}


def done(stream, start, status="0", share=1.0):
    kbytes = int(stream.kbytes * share * (0.9 + 0.2 * rng.random()))
    return job(stream, start, status, kbytes, kbytes // stream.rate + 60)


def failed(stream, start, status):
    return job(stream, start, status, 0, int(60 + 240 * rng.random()))


def night_jobs(night):
    end = FIRST_END + (night - 1) * DAY
    evening = end - 10 * 3600
    jobs = []
    for stream in streams:
        key = (stream.policy, stream.client.split(".")[0])
        start = evening + stream.offset + int(600 * rng.random())
        if stream.policy == RETIRED and night > 9:
            continue
        if night == NIGHTS and key in RUNNING:
            # Started late and not done when the dump was taken at 05:55.
            start = end - int(3600 * (0.3 + 0.8 * rng.random()))
            elapsed = end - 300 - start
            kbytes = int(stream.kbytes * (0.3 + 0.4 * rng.random()))
            jobs.append(job(stream, start, "", kbytes, elapsed, state="1"))
        elif key == BROKEN and night > NIGHTS - 4:
            jobs.append(failed(stream, start, "58"))
        elif key == FLAKY and night in FLAKY_NIGHTS:
            jobs.append(failed(stream, start, "58"))
        elif key == FLAKY and night == NIGHTS:
            # Failed, and the retry 45 minutes later made it good.
            jobs.append(failed(stream, start, "13"))
            jobs.append(done(stream, start + 2700))
        elif key == PARTIAL and night == NIGHTS:
            jobs.append(done(stream, start, "1", share=0.6))
        elif key == EMPTY and night == NIGHTS:
            jobs.append(job(stream, start, "0", 0, 95))
        else:
            jobs.append(done(stream, start))
    for stream, nights in weekly:
        if night in nights:
            jobs.append(done(stream, end - 4 * 3600 + int(600 * rng.random())))
    return jobs


def line(job_id, job):
    """A 40-field job line of the dump that goes to the page's jobs (out.txt)."""
    stream = job["stream"]
    fields = [""] * 40
    fields[0] = str(job_id)
    fields[1] = "Backup"
    fields[2] = job["state"]
    fields[3] = job["status"]
    fields[4] = stream.policy
    fields[5] = stream.schedule
    fields[6] = stream.client
    fields[7] = "media01"
    fields[8] = str(job["start"])
    fields[9] = str(job["elapsed"])
    fields[10] = str(job["start"] + job["elapsed"])
    fields[14] = str(job["kbytes"])
    fields[15] = str(job["kbytes"] // 900)
    fields[22] = stream.kind
    fields[27] = stream.retention
    fields[40 - 1 - 19] = "1"  # the routing mark: a job of the page
    fields[40 - 1 - 20] = str(job["kbytes"] // max(job["elapsed"], 1))
    return ",".join(fields).encode("latin-1") + b"\r\n"


nights = {night: night_jobs(night) for night in range(1, NIGHTS + 1)}
# Job ids grow with the start times, as the server gives them out.
ordered = sorted((j for jobs in nights.values() for j in jobs), key=lambda j: j["start"])
ids = {id(j): 300001 + n for n, j in enumerate(ordered)}
for night in range(1, NIGHTS + 1):
    held = [j for n in range(max(1, night - KEPT + 1), night + 1) for j in nights[n]]
    held.sort(key=lambda j: (j["start"], ids[id(j)]), reverse=True)  # newest first
    with open(os.path.join(demo, "nights", "bpdbjobs-%02d.txt" % night), "wb") as f:
        f.write(b"".join(line(ids[id(j)], j) for j in held))
with open(os.path.join(demo, "policy_list.txt"), "wb") as f:
    f.write(b"".join(policy.encode() + b"\r\n" for policy in DAILY))
PY

# One run a morning, oldest first, so the history grows night by night.
summary=""
for night in $(seq 1 14); do
  nn="$(printf '%02d' "$night")"
  cp "$demo/nights/bpdbjobs-$nn.txt" "$demo/bpdbjobs.txt"
  rm -f "$demo/outbox.eml"
  start="$(date -u -d "2026-11-30 +$((night - 1)) days" +%F) 06:00:00"
  end="$(date -u -d "2026-11-30 +$night days" +%F) 06:00:00"
  summary="$("$demo/fennick-cli" --dir "$demo" --zone UTC --start "$start" --end "$end" \
    --json "$demo/night.json" --mail-to demo@example.com --sendmail "$demo/sendmail")"
  if [ ! -s "$demo/outbox.eml" ]; then
    echo "demo: night $nn sent no mail" >&2
    exit 1
  fi
  mv "$demo/outbox.eml" "$demo/mail-$nn.eml"
done

mail="$demo/mail-14.eml"
subject="$(python3 - "$mail" "$demo/mail-summary.html" <<'PY'
import email
import email.policy
import sys

with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=email.policy.default)
with open(sys.argv[2], "w", encoding="utf-8") as f:
    f.write(message.get_body(("html",)).get_content())
print(message["subject"])
PY
)"

page="$(ls "$demo"/report_14-12-26.html)"
echo "Played 14 nights (windows ending at 06:00 UTC, 12/01/2026 to 12/14/2026) in $demo"
echo "Summary: $summary"
echo "Mail subject: $subject"
echo
echo "Where to look:"
echo "  The last mail (as sent):     $mail (every night's: mail-01.eml .. mail-14.eml)"
echo "  The mail's HTML summary:     $demo/mail-summary.html"
echo "  Report page:                 $page"
if [ -e "$demo/history.html" ]; then
  echo "  The history's page:          $demo/history.html"
else
  echo "  The history's page:          not written (this fennick-cli writes no history.html)"
fi
echo "  What needs action, as JSON:  $demo/night.json"
echo "Open the .html files in a browser, e.g. xdg-open $demo/mail-summary.html"
