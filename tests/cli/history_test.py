#!/usr/bin/python3
"""fennick-cli's memory over many mornings, through the real program: ten
nights in one folder, each night's dump holding only its last three days,
the mail handed to a sendmail stand-in that keeps it and the JSON read back;
older dumps imported into a new folder; and histories that cannot be used,
which must never cost the report nor be changed.

Usage: history_test.py FENNICK_CLI [unittest arguments]
"""

import calendar
import email
import email.policy
import hashlib
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

from job_lines import job_line

CLI = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else "fennick-cli"

ZONE = 8 * 3600  # the report zone, in which --start and --end are read
# Night n's window ends at BASE + n days (06:00 in the report zone).
BASE = calendar.timegm(time.strptime("2026-11-30 06:00:00", "%Y-%m-%d %H:%M:%S")) - ZONE
DAY = 86400
KEPT_NIGHTS = 3  # what the server's job database still holds each morning


def clock(epoch):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(epoch + ZONE))


def shown(epoch):
    """A time as the summary shows it: the report zone, MM/DD/YYYY."""
    return time.strftime("%m/%d/%Y %H:%M:%S", time.gmtime(epoch + ZONE))


def dump_line(job_id, policy, start, status, client="client1"):
    """A job of a Daily schedule that goes to out.txt."""
    return job_line(job_id, policy, start, status, client, elapsed=600, kbytes=2048, files=10)


def night_jobs(night):
    """The jobs of night `night`, one hour into its window: PolA's client1
    succeeds on night 1 only and fails from then on; PolB runs (and
    succeeds) on nights 1 to 5 only; PolC succeeds every night."""
    start = BASE + (night - 1) * DAY + 3600
    jobs = [(night * 10 + 1, "PolA", start, "0" if night == 1 else "58"),
            (night * 10 + 3, "PolC", start + 60, "0")]
    if night <= 5:
        jobs.append((night * 10 + 2, "PolB", start + 30, "0"))
    return jobs


def dump_of(night):
    """The dump as it stands on the morning after `night`: its last three
    nights, newest job first."""
    jobs = [job for n in range(max(1, night - KEPT_NIGHTS + 1), night + 1) for job in night_jobs(n)]
    jobs.sort(key=lambda job: job[2], reverse=True)
    return b"".join(dump_line(*job) for job in jobs)


SENDMAIL = """#!/bin/sh
# Keeps the message the run hands over, one file per message.
cat > "$(dirname "$0")/mail-$$.eml"
"""


class Nights(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="fennick-history-")
        self.dir = self.folder("reports")
        self.sendmail = os.path.join(self.work, "mailbox", "sendmail")
        os.mkdir(os.path.dirname(self.sendmail))
        with open(self.sendmail, "w") as f:
            f.write(SENDMAIL)
        os.chmod(self.sendmail, 0o755)

    def tearDown(self):
        shutil.rmtree(self.work)

    def folder(self, name):
        path = os.path.join(self.work, name)
        os.mkdir(path)
        with open(os.path.join(path, "fennick_config.txt"), "wb") as f:
            f.write(b"RL03=1 month\r\n")
        with open(os.path.join(path, "policy_list.txt"), "wb") as f:
            f.write(b"PolA\r\nPolB\r\nPolC\r\n")
        return path

    def run_night(self, night, *extra, folder=None):
        folder = folder or self.dir
        with open(os.path.join(folder, "bpdbjobs.txt"), "wb") as f:
            f.write(dump_of(night))
        end = BASE + night * DAY
        for old in self.mails():
            os.remove(old)
        json_file = os.path.join(self.work, "night.json")
        done = subprocess.run(
            [CLI, "--dir", folder, "--start", clock(end - DAY), "--end", clock(end),
             "--json", json_file, "--mail-to", "ops@example.com", "--sendmail", self.sendmail,
             *extra],
            capture_output=True, timeout=60)
        with open(json_file) as f:
            report = json.load(f)
        mails = self.mails()
        return done, report, self.read_mail(mails[0]) if mails else None

    def mails(self):
        box = os.path.dirname(self.sendmail)
        return [os.path.join(box, name) for name in os.listdir(box) if name.endswith(".eml")]

    @staticmethod
    def read_mail(path):
        with open(path, "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        text = message.get_body(("plain",)).get_content()
        html = message.get_body(("html",)).get_content()
        return text, html

    def failing(self, report, policy):
        entries = [entry for entry in report["failing"] if entry["policy"] == policy]
        self.assertEqual(len(entries), 1, report["failing"])
        return entries[0]

    def test_the_tenth_night_knows_what_only_the_history_holds(self):
        for night in range(1, 11):
            done, report, mail = self.run_night(night)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIsNone(report["history"]["error"])
        night1 = BASE + 3600
        end = BASE + 10 * DAY
        history = report["history"]
        self.assertEqual(history["file"], os.path.join(self.dir, "fennick_history.db"))
        # Three jobs a night for five nights, two for the other five.
        self.assertEqual(history["jobs"], 25)
        self.assertEqual(history["known_since"], night1)
        # Only the tenth night's jobs were new; the two nights before it
        # were recorded by the runs that saw them.
        self.assertEqual(history["recorded"], 2)

        stream = self.failing(report, "PolA")
        self.assertEqual(stream["last_success"], night1)
        self.assertEqual(stream["failing_since"], BASE + DAY + 3600)
        self.assertEqual(stream["failed_since_success"], 9)
        # The window's own count stays the dump's.
        self.assertEqual(stream["failed_jobs"], 1)
        missing = [entry for entry in report["not_found"] if entry["policy"] == "PolB"]
        self.assertEqual(missing[0]["last_job"], BASE + 4 * DAY + 3630)
        self.assertEqual(missing[0]["last_success"], BASE + 4 * DAY + 3630)

        text, html = mail
        for part in (text, html):
            self.assertIn(shown(night1) + ", 9 days before", part)
            self.assertIn(shown(BASE + DAY + 3600), part)  # failing since
            self.assertIn(shown(BASE + 4 * DAY + 3630) + ", 5 days before", part)
            self.assertNotIn("none in", part)
        self.assertIn("Failing since", text)
        self.assertIn("Failed since last success", text)

        # The same morning without the history knows only the dump's three
        # nights, and says so rather than "none in 7 days".
        done, report, mail = self.run_night(10, "--no-history")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIsNone(report["history"])
        stream = self.failing(report, "PolA")
        self.assertIsNone(stream["last_success"])
        self.assertEqual(stream["failing_since"], BASE + 7 * DAY + 3600)
        self.assertEqual(stream["failed_since_success"], 3)
        self.assertIn("none since " + shown(BASE + 7 * DAY + 3600), mail[0])
        # --no-history read nothing and wrote nothing.
        rows = sqlite3.connect(os.path.join(self.dir, "fennick_history.db")).execute(
            "SELECT COUNT(*) FROM jobs").fetchone()[0]
        self.assertEqual(rows, 25)

    def test_an_overdue_policy_and_a_success_that_saved_nothing_reach_the_mail_and_json(self):
        """PolW (every 3 days) succeeded on night 1 only; PolQ (every 30
        days) never ran, so the known jobs cannot judge it yet; PolS wrote
        3 GiB in 10 minutes every night and, on night 8, nothing in almost
        four hours. Each dump holds three nights: the five earlier successes
        of night 8 come from the history."""
        folder = self.folder("intervals")
        with open(os.path.join(folder, "policy_intervals.txt"), "wb") as f:
            f.write(b"# weekly and monthly\nPolW=3\nPolQ=30\nPolX=every week\n")

        def jobs_of(night):
            start = BASE + (night - 1) * DAY + 3600
            saved = (0, 14000) if night == 8 else (3145728, 600)
            jobs = [job_line(night * 10 + 1, "PolS", start, "0", "client1", elapsed=saved[1],
                             kbytes=saved[0], files=10)]
            if night == 1:
                jobs.append(dump_line(night * 10 + 2, "PolW", start - 60, "0"))
            return jobs

        for night in range(1, 9):
            lines = [line for n in range(max(1, night - KEPT_NIGHTS + 1), night + 1)
                     for line in jobs_of(n)]
            with open(os.path.join(folder, "bpdbjobs.txt"), "wb") as f:
                f.write(b"".join(reversed(lines)))
            for old in self.mails():
                os.remove(old)
            end = BASE + night * DAY
            json_file = os.path.join(self.work, "intervals.json")
            done = subprocess.run(
                [CLI, "--dir", folder, "--start", clock(end - DAY), "--end", clock(end),
                 "--json", json_file, "--mail-to", "ops@example.com", "--sendmail",
                 self.sendmail],
                capture_output=True, timeout=60)
            self.assertIn(b"policy_intervals.txt line 4: not POLICY=DAYS (1 to 366), skipped",
                          done.stderr)
        with open(json_file) as f:
            report = json.load(f)
        (path,) = self.mails()
        with open(path, "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        self.assertEqual(message.defects, [])
        for part in message.walk():
            self.assertEqual(part.defects, [], part.get_content_type())
        text = message.get_body(("plain",)).get_content()
        html = message.get_body(("html",)).get_content()

        night_one = BASE + 3600 - 60
        self.assertEqual(report["overdue"], [{"policy": "PolW", "interval_days": 3,
                                              "last_success": night_one,
                                              "last_job": night_one}])
        (suspicious,) = report["suspicious"]
        self.assertEqual(suspicious["policy"], "PolS")
        self.assertEqual(suspicious["job_id"], "81")
        self.assertEqual(suspicious["reasons"], ["no data", "small", "long"])
        self.assertEqual((suspicious["kbytes"], suspicious["elapsed"]), (0, 14000))
        self.assertEqual((suspicious["usual_kbytes"], suspicious["usual_elapsed"]),
                         (3145728, 600))
        self.assertEqual((report["counts"]["overdue"], report["counts"]["suspicious"]), (1, 1))
        self.assertIn("overdue", message["Subject"])
        for part in (text, html):
            self.assertIn("PolW", part)
            self.assertIn(shown(night_one), part)
            self.assertIn("Succeeded, but check", part)
            self.assertIn("wrote 0 KB; usually 3.0 GB", part)
            self.assertIn("ran 3 h 53 min; usually 10 min", part)
        self.assertLess(text.index("PolW"), text.index("Succeeded, but check"))

    def test_the_history_days_keep_only_the_recent_rows(self):
        for night in range(1, 6):
            done, report, _ = self.run_night(night, "--history-days", "2")
            self.assertEqual(done.returncode, 0, done.stderr)
        # Night 5's window starts at BASE + 4 days: rows before BASE + 2 days go.
        db = sqlite3.connect(os.path.join(self.dir, "fennick_history.db"))
        oldest = db.execute("SELECT MIN(started) FROM jobs").fetchone()[0]
        self.assertGreaterEqual(oldest, BASE + 2 * DAY)
        self.assertEqual(report["history"]["jobs"],
                         db.execute("SELECT COUNT(*) FROM jobs").fetchone()[0])

    def test_imported_older_dumps_reach_the_next_run(self):
        kept = []
        for night in (1, 4, 7):
            path = os.path.join(self.work, "kept-%d.txt" % night)
            with open(path, "wb") as f:
                f.write(dump_of(night))
            kept.append(path)
        done = subprocess.run([CLI, "--dir", self.dir, "import", *kept], capture_output=True,
                              timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.decode().splitlines()
        self.assertEqual(len(lines), 4, lines)
        # Night 1 alone, nights 2 to 4, nights 5 to 7 (PolB gone after 5).
        self.assertTrue(lines[0].startswith("3 of 3 jobs recorded from "), lines)
        self.assertTrue(lines[2].startswith("7 of 7 jobs recorded from "), lines)
        self.assertTrue(lines[-1].endswith(": 19 jobs"), lines)
        # Importing the same dumps again changes nothing.
        again = subprocess.run([CLI, "--dir", self.dir, "import", *kept], capture_output=True,
                               timeout=60)
        self.assertTrue(again.stdout.decode().startswith("0 of 3 jobs recorded"), again.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "out.txt")))

        done, report, _ = self.run_night(10)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.failing(report, "PolA")["last_success"], BASE + 3600)

        usage = subprocess.run([CLI, "--dir", self.dir, "--no-history", "import", kept[0]],
                               capture_output=True, timeout=60)
        self.assertEqual(usage.returncode, 2)
        usage = subprocess.run([CLI, "--dir", self.dir, "--json", "x.json", "import", kept[0]],
                               capture_output=True, timeout=60)
        self.assertEqual(usage.returncode, 2)

    def test_two_folders_share_one_history(self):
        shared = os.path.join(self.work, "shared.db")
        other = self.folder("other")
        self.run_night(1, "--history", shared)
        done, report, _ = self.run_night(2, "--history", shared, folder=other)
        self.assertEqual(done.returncode, 0, done.stderr)
        # The second folder's dump holds nights 1 and 2: night 1's rows were
        # there, night 2's are its own.
        self.assertEqual(report["history"]["jobs"], 6)
        self.assertEqual(report["history"]["recorded"], 3)

    def test_a_history_that_cannot_be_used_never_costs_the_report_and_stays_as_it_was(self):
        self.run_night(1)
        good = os.path.join(self.dir, "fennick_history.db")
        damaged = os.path.join(self.work, "damaged.db")
        with open(good, "rb") as f:
            data = bytearray(f.read())
        data[4096:8192] = b"\xa5" * 4096  # the table's first page
        with open(damaged, "wb") as f:
            f.write(data)
        other_program = os.path.join(self.work, "other.db")
        sqlite3.connect(other_program).execute("CREATE TABLE t (x)").connection.commit()
        newer = os.path.join(self.work, "newer.db")
        shutil.copy(good, newer)
        db = sqlite3.connect(newer)
        db.execute("PRAGMA user_version = 2")
        db.commit()
        db.close()
        text = os.path.join(self.work, "notes.txt")
        with open(text, "wb") as f:
            f.write(b"not a database\n")
        empty = os.path.join(self.work, "empty")
        open(empty, "wb").close()
        cases = [
            (damaged, "malformed"),
            (other_program, "another program"),
            (newer, "newer"),
            (text, "not an SQLite database"),
            (empty, "not an SQLite database"),
            (self.work, "not a regular file"),
        ]
        for path, reason in cases:
            with self.subTest(path=os.path.basename(path)):
                before = digest(path)
                done, report, mail = self.run_night(2, "--history", path)
                self.assertEqual(done.returncode, 3, done.stderr)
                self.assertIn(path, done.stderr.decode())
                self.assertIn(reason, done.stderr.decode())
                self.assertTrue(os.path.exists(os.path.join(self.dir, report["page"])))
                self.assertIn(reason, report["history"]["error"])
                self.assertIsNone(report["history"]["jobs"])
                self.assertIn("History not read", mail[0])
                self.assertIn("History not read", mail[1])
                self.assertEqual(digest(path), before)


def digest(path):
    if os.path.isdir(path):
        return sorted(os.listdir(path))
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


if __name__ == "__main__":
    unittest.main()
