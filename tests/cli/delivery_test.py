#!/usr/bin/python3
"""fennick-cli's morning through the real parts: a dump command that runs, a
mail that goes through a real sendmail client (msmtp) to a real SMTP server
(aiosmtpd on 127.0.0.1) and is read back with Python's email package, and a
metrics file that promtool checks.

Usage: delivery_test.py FENNICK_CLI [unittest arguments]
"""

import calendar
import email
import email.policy
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from aiosmtpd.controller import Controller

from job_lines import job_line

CLI = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else "fennick-cli"

END = "2026-12-05 02:15:00"  # --end of every run, a clock time of UTC+8
PAGE = "report_05-12-26.html"
END_EPOCH = calendar.timegm(time.strptime(END, "%Y-%m-%d %H:%M:%S")) - 8 * 3600


def dump_line(job_id, policy, start, status="0", client="client1"):
    """A job of a Daily schedule that goes to out.txt."""
    return job_line(job_id, policy, start, status, client, elapsed=3661, kbytes=1024, files=12)


CONFIG = b"".join(b"RL%02d=level %d\r\n" % (n, n) for n in range(29))


def running_soon(pid):
    """Whether `pid` still runs a second later; an unreaped zombie has ended."""
    deadline = time.time() + 1
    while True:
        try:
            with open("/proc/%d/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except (FileNotFoundError, ProcessLookupError):
            return False
        if state in ("Z", "X"):
            return False
        if time.time() > deadline:
            return True
        time.sleep(0.05)


def free_port():
    # The controller checks its server by connecting to the port it was
    # given, so it needs a real one: the system picks it here.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Recorder:
    """Keeps every message the SMTP server is given."""

    def __init__(self):
        self.messages = []
        self.arrived = threading.Event()

    async def handle_DATA(self, server, session, envelope):
        self.messages.append((envelope.rcpt_tos, envelope.content))
        self.arrived.set()
        return "250 OK"


class Morning(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.recorder = Recorder()
        cls.port = free_port()
        cls.smtp = Controller(cls.recorder, hostname="127.0.0.1", port=cls.port)
        cls.smtp.start()

    @classmethod
    def tearDownClass(cls):
        cls.smtp.stop()

    def setUp(self):
        self.recorder.messages.clear()
        self.work = tempfile.mkdtemp(prefix="fennick-delivery-")
        self.dir = os.path.join(self.work, "reports")
        os.mkdir(self.dir)
        # msmtp reads its settings from $HOME/.msmtprc, which must be private.
        self.home = os.path.join(self.work, "home")
        os.mkdir(self.home)
        self.write_msmtprc(self.port)
        self.write("fennick_config.txt", CONFIG)
        self.write("policy_list.txt", b"PolA\r\nPolB\r\nPolC\r\n")

    def tearDown(self):
        shutil.rmtree(self.work)

    def write_msmtprc(self, port):
        rc = os.path.join(self.home, ".msmtprc")
        with open(rc, "w") as f:
            f.write("account default\nhost 127.0.0.1\nport %d\nfrom fennick@example.com\n"
                    "auth off\ntls off\n" % port)
        os.chmod(rc, 0o600)

    def write(self, name, data, where=None):
        with open(os.path.join(where or self.dir, name), "wb") as f:
            f.write(data)

    def read_work(self, name):
        with open(os.path.join(self.work, name), "rb") as f:
            return f.read()

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def jobs(self, failed=1, policy_a=b"PolA"):
        """A dump with `failed` failed jobs of PolA and one good job of PolB;
        PolC has none, so it is not found."""
        lines = [dump_line(1000 + n, policy_a.decode("latin-1"), END_EPOCH - 600 - n,
                           status="2", client="host%d" % n) for n in range(failed)]
        lines.append(dump_line(900, "PolB", END_EPOCH - 7200, status="0"))
        return b"".join(lines)

    def run_cli(self, *arguments, timeout=60):
        environment = {k: v for k, v in os.environ.items() if not k.startswith("FENNICK_")}
        environment["HOME"] = self.home
        environment["TZ"] = "UTC"
        return subprocess.run([CLI, "--dir", self.dir, "--end", END, *arguments],
                              capture_output=True, timeout=timeout, env=environment)

    def run_with(self, arguments, env=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                 timeout=60):
        environment = {k: v for k, v in os.environ.items() if not k.startswith("FENNICK_")}
        environment.update({"HOME": self.home, "TZ": "UTC"}, **(env or {}))
        own = [] if "--dir" in arguments else ["--dir", self.dir]
        own += [] if "--end" in arguments else ["--end", END]
        process = subprocess.Popen([CLI, *own, *arguments],
                                   stdout=stdout, stderr=stderr, env=environment)
        out, err = process.communicate(timeout=timeout)
        return process.returncode, out or b"", err or b""

    def mails(self, expected):
        # msmtp has handed the message over before fennick-cli ends, but the
        # server's handler runs on its own thread.
        deadline = time.time() + 10
        while len(self.recorder.messages) < expected and time.time() < deadline:
            time.sleep(0.05)
        time.sleep(0.2)  # and nothing more arrives
        self.assertEqual(len(self.recorder.messages), expected)
        return [(to, email.message_from_bytes(data, policy=email.policy.default))
                for to, data in self.recorder.messages]

    def rendered_rows(self, html, charset):
        """The table rows headless Chromium makes of the page, as text."""
        part = os.path.join(self.work, "part.html")
        # Saved as a mail client would show it: with the charset the part
        # declares.
        with open(part, "wb") as f:
            f.write(b'<meta charset="%s">' % charset.encode() + html)
        profile = tempfile.mkdtemp(prefix="chromium-", dir=self.work)
        dom = subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile, "--dump-dom", "file://" + part],
            capture_output=True, timeout=60)
        self.assertEqual(dom.returncode, 0, dom.stderr[-2000:])
        text = dom.stdout.decode("utf-8")
        self.assertIn("Backup Report", text)
        return re.findall(r"<tr[^>]*>(.*?)</tr>", text, flags=re.S | re.I)

    def metrics(self, path):
        with open(path, "rb") as text:
            check = subprocess.run(["promtool", "check", "metrics"], stdin=text,
                                   capture_output=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        values = {}
        with open(path) as f:
            for line in f:
                m = re.match(r'^(fennick_\w+)\{folder="([^"]*)"\} (\S+)$', line.rstrip("\n"))
                if m:
                    self.assertEqual(m.group(2), self.dir)
                    values[m.group(1)] = float(m.group(3))
        return values

    def test_a_run_with_every_option_delivers_the_page_and_the_metrics(self):
        source = os.path.join(self.work, "source.txt")
        self.write("source.txt", self.jobs(failed=2), where=self.work)
        self.write("bpdbjobs.txt", b"stale,\r\n")
        metrics = os.path.join(self.work, "fennick.prom")
        before = time.time()
        run = self.run_cli("--dump-command", "echo dumping >&2; cat '%s'" % source,
                           "--dump-timeout", "30",
                           "--mail-to", "admins@example.com, ops@example.com",
                           "--mail-to", "boss@example.com",
                           "--mail-from", "Fennick <fennick@example.com>",
                           "--sendmail", shutil.which("msmtp"), "--mail-when", "always",
                           "--mail-max-bytes", "1000000", "--metrics", metrics, "--check")
        self.assertEqual(run.returncode, 4, run.stderr)  # --check: a job failed
        self.assertIn(b"dumping", run.stderr)  # the command's stderr passes through
        page = os.path.join(self.dir, PAGE)
        self.assertEqual(run.stdout.decode(),
                         "%s: 3 jobs, 2 failed, 1 daily policy not found; "
                         "all policies: 3 jobs, 2 streams still failing, 0 recovered; "
                         "nights: %s\n" % (page, os.path.join(self.dir, "history.html")))
        self.assertEqual(self.read("bpdbjobs.txt"), self.jobs(failed=2))
        self.assertFalse([n for n in os.listdir(self.dir) if n.startswith(".")])

        [(to, message)] = self.mails(1)
        self.assertEqual(sorted(to), ["admins@example.com", "boss@example.com",
                                      "ops@example.com"])
        self.assertFalse(message.defects)
        self.assertEqual(message["Subject"],
                         "Backup Report 05-12-26: 2 still failing, 1 daily policy not found "
                         "(3 jobs)")
        self.assertEqual(message["From"].addresses[0].addr_spec, "fennick@example.com")
        self.assertEqual(len(message["To"].addresses), 3)
        self.assertEqual(message["MIME-Version"], "1.0")
        self.assertRegex(message["Message-ID"], r"^<[^<>@\s]+@[^<>@\s]+>$")
        sent = email.utils.parsedate_to_datetime(message["Date"]).timestamp()
        self.assertLessEqual(before - 2, sent)
        self.assertLessEqual(sent, time.time() + 2)
        # The summary first, as text and HTML, then the page as it lies on disk.
        self.assertEqual(message.get_content_type(), "multipart/mixed")
        summary, attachment = message.get_payload()
        self.assertEqual(summary.get_content_type(), "multipart/alternative")
        plain, html = summary.get_payload()
        self.assertEqual(plain.get_content_type(), "text/plain")
        self.assertEqual(html.get_content_type(), "text/html")
        text = plain.get_content()
        for wanted in ["PolA", "host0", "host1", "1000", "1001", "PolC", page]:
            self.assertIn(wanted, text)
        # Its job succeeded: it needs no action, and shows in the nights only.
        needs, nights = text.split("Last 14 nights")
        self.assertNotIn("PolB", needs)
        self.assertIn("PolB", nights)
        self.assertEqual(attachment.get_content_type(), "text/html")
        self.assertEqual(attachment.get_content_disposition(), "attachment")
        self.assertEqual(attachment.get_filename(), PAGE)
        with open(page, "rb") as f:
            self.assertEqual(attachment.get_payload(decode=True), f.read())
        # And a browser reads the attachment as the page: every job a row.
        rows = self.rendered_rows(attachment.get_payload(decode=True),
                                  attachment.get_content_charset())
        self.assertEqual(sum("host" in row for row in rows), 2)

        values = self.metrics(metrics)
        self.assertEqual(values["fennick_report_success"], 1)
        self.assertEqual(values["fennick_report_jobs"], 3)
        self.assertEqual(values["fennick_report_failed_jobs"], 2)
        self.assertEqual(values["fennick_report_policies_not_found"], 1)
        self.assertGreaterEqual(values["fennick_report_last_success_timestamp_seconds"],
                                before - 2)
        self.assertEqual(values["fennick_report_last_success_timestamp_seconds"],
                         values["fennick_report_last_run_timestamp_seconds"])
        self.assertGreaterEqual(values["fennick_report_duration_seconds"], 0)

        # The next morning's run fails: the mail says so, the metrics keep
        # the last success.
        os.remove(os.path.join(self.dir, "policy_list.txt"))
        time.sleep(1.1)
        failed = self.run_cli("--mail-to", "ops@example.com", "--sendmail",
                              shutil.which("msmtp"), "--mail-when", "failure",
                              "--metrics", metrics)
        self.assertEqual(failed.returncode, 1)
        self.assertIn(b"fennick: File not found:", failed.stderr)
        message = self.mails(2)[1][1]
        self.assertTrue(message["Subject"].startswith("Backup Report FAILED: File not found:"),
                        message["Subject"])
        self.assertIn("policy_list.txt", message.get_body(("plain",)).get_content())
        later = self.metrics(metrics)
        self.assertEqual(later["fennick_report_success"], 0)
        self.assertGreater(later["fennick_report_last_run_timestamp_seconds"],
                           values["fennick_report_last_run_timestamp_seconds"])
        for kept in ["fennick_report_last_success_timestamp_seconds", "fennick_report_jobs",
                     "fennick_report_failed_jobs", "fennick_report_policies_not_found"]:
            self.assertEqual(later[kept], values[kept], kept)

    def test_mail_when_decides_which_runs_mail(self):
        self.write("bpdbjobs.txt", self.jobs(failed=0))
        self.write("policy_list.txt", b"PolB\r\n")  # all well
        msmtp = shutil.which("msmtp")
        for when, mails in [("failure", 0), ("attention", 0), ("always", 1)]:
            run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", msmtp,
                               "--mail-when", when)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(len(self.mails(mails)), mails, when)
            self.recorder.messages.clear()
        self.write("bpdbjobs.txt", self.jobs(failed=0) + dump_line(901, "PolB", END_EPOCH - 60))
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", msmtp)
        self.assertEqual(run.returncode, 0, run.stderr)
        [(_, message)] = self.mails(1)
        self.assertEqual(message["Subject"], "Backup Report 05-12-26: all 2 jobs succeeded")

    def test_8bit_text_and_a_page_over_the_limit(self):
        # A policy name in windows-1252 (not UTF-8): the parts declare it so.
        self.write("policy_list.txt", b"Pol\xe9\r\nPolB\r\n")
        self.write("bpdbjobs.txt", self.jobs(failed=1, policy_a=b"Pol\xe9"))
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", shutil.which("msmtp"))
        self.assertEqual(run.returncode, 0, run.stderr)
        [(_, message)] = self.mails(1)
        self.assertFalse(message.defects)
        summary, attachment = message.get_payload()
        plain, html = summary.get_payload()
        # The summary in UTF-8, the 8-bit name read as windows-1252; the page
        # keeps its own bytes and says which charset they are.
        self.assertEqual(plain.get_content_charset(), "utf-8")
        self.assertIn("Pol\u00e9", plain.get_content())
        self.assertIn("Pol\u00e9", html.get_content())
        self.assertEqual(attachment.get_content_charset(), "windows-1252")
        self.assertEqual(attachment.get_payload(decode=True), self.read(PAGE))

        self.recorder.messages.clear()
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", shutil.which("msmtp"),
                           "--mail-max-bytes", "100")
        self.assertEqual(run.returncode, 0, run.stderr)
        [(_, message)] = self.mails(1)
        self.assertEqual([part.get_content_type() for part in message.walk()],
                         ["multipart/mixed", "multipart/alternative", "text/plain",
                          "text/html"])
        text = message.get_body(("plain",)).get_content()
        self.assertIn(os.path.join(self.dir, PAGE), text)
        self.assertIn("limit of 100", text)

    def test_mail_that_cannot_be_sent_exits_3_and_keeps_the_page(self):
        self.write("bpdbjobs.txt", self.jobs())
        self.write_msmtprc(1)  # nobody listens on port 1
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", shutil.which("msmtp"))
        self.assertEqual(run.returncode, 3, run.stderr)
        self.assertIn(shutil.which("msmtp").encode(), run.stderr)
        self.assertIn(b"<!--", self.read(PAGE))
        missing = self.run_cli("--mail-to", "ops@example.com", "--sendmail",
                               os.path.join(self.work, "no-such-sendmail"))
        self.assertEqual(missing.returncode, 3, missing.stderr)
        self.assertIn(b"no-such-sendmail", missing.stderr)

    def test_a_dump_command_that_fails_leaves_the_dump_as_it_was(self):
        old = self.jobs()
        self.write("bpdbjobs.txt", old)
        # The hanging command's sleeps note their ids, so that only they are
        # looked for, not whatever else on the machine sleeps as long.
        pids = os.path.join(self.work, "sleeps")
        cases = [
            ("fails after part of its output",
             "head -c 100 bpdbjobs.txt; echo 'cannot reach the master' >&2; exit 3",
             [b"exit", b"3", b"cannot reach the master"]),
            ("is killed", "head -c 100 bpdbjobs.txt; kill -9 $$", [b"signal 9"]),
            ("hangs", "echo partial; sleep 30 & echo $! >> '%s'; sleep 30 & echo $! >> '%s'; wait"
             % (pids, pids), [b"ran longer than"]),
            ("writes nothing", "true", [b"nothing"]),
        ]
        for name, command, words in cases:
            with self.subTest(name):
                started = time.time()
                run = self.run_cli("--dump-command", command, "--dump-timeout", "1.5")
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertLess(time.time() - started, 15)
                line = run.stderr.decode("latin-1").splitlines()[-1]
                self.assertTrue(line.startswith("fennick: Command failed"), line)
                for word in words:
                    self.assertIn(word.decode(), line)
                self.assertEqual(self.read("bpdbjobs.txt"), old)
                self.assertFalse([n for n in os.listdir(self.dir) if n.startswith(".")])
                self.assertFalse(os.path.exists(os.path.join(self.dir, PAGE)))
        # The hanging command's sleeps were stopped with it.
        with open(pids) as f:
            sleeps = [int(line) for line in f]
        self.assertEqual(len(sleeps), 2)
        for pid in sleeps:
            self.assertFalse(running_soon(pid), pid)

    def test_a_run_during_a_slow_dump_sees_a_whole_dump(self):
        old = self.jobs(failed=1)
        new = self.jobs(failed=40)
        self.write("bpdbjobs.txt", old)
        self.write("new.txt", new, where=self.work)
        # Tells it has started, writes half the new dump, waits, then the rest.
        half = len(new) // 2
        started = os.path.join(self.work, "started")
        command = (": > '%s'; head -c %d '%s'; sleep 2; tail -c +%d '%s'"
                   % (started, half, os.path.join(self.work, "new.txt"), half + 1,
                      os.path.join(self.work, "new.txt")))
        environment = {k: v for k, v in os.environ.items() if not k.startswith("FENNICK_")}
        slow = subprocess.Popen([CLI, "--dir", self.dir, "--end", END, "--dump-command", command],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment)
        # The command runs, so the slow run holds the folder: however loaded the
        # machine, the second run starts after the first took the lock.
        deadline = time.time() + 30
        while not os.path.exists(started) and time.time() < deadline:
            time.sleep(0.05)
        self.assertTrue(os.path.exists(started))
        other = self.run_cli()
        slow_out, slow_err = slow.communicate(timeout=60)
        self.assertEqual(slow.returncode, 0, slow_err)
        self.assertEqual(other.returncode, 0, other.stderr)
        # The second run waited for the first and read the new dump whole.
        self.assertIn(b"41 jobs, 40 failed", other.stdout)
        self.assertIn(b"41 jobs, 40 failed", slow_out)
        self.assertEqual(self.read("bpdbjobs.txt"), new)


class NeedsAction(Morning):
    """The morning mail as a backup admin reads it: what needs action first,
    failures that fixed themselves apart, and the same findings as JSON and
    metrics."""

    for name in [n for n in dir(Morning) if n.startswith("test_")]:
        locals()[name] = None
    del name

    def rendered(self, html, width):
        """The summary as headless Chromium lays it out `width` pixels wide:
        its DOM, and how wide its content is."""
        part = os.path.join(self.work, "summary-%d.html" % width)
        # The test's own probe; the mail's HTML has no script of its own. A
        # headless window is never narrower than 500 pixels, so the page is
        # laid out as `width` pixels by giving its root that width.
        probe = (b"<script>document.documentElement.style.width = '%dpx';"
                 b"addEventListener('load', () => document.body.setAttribute("
                 b"'data-scroll', document.body.scrollWidth))</script>" % width)
        with open(part, "wb") as f:
            f.write(html.encode("utf-8").replace(b"</body>", probe + b"</body>"))
        profile = tempfile.mkdtemp(prefix="chromium-", dir=self.work)
        dom = subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile,
             "--window-size=%d,900" % width, "--dump-dom", "file://" + part],
            capture_output=True, timeout=60)
        self.assertEqual(dom.returncode, 0, dom.stderr[-2000:])
        text = dom.stdout.decode("utf-8")
        scroll = int(re.search(r'data-scroll="(\d+)"', text).group(1))
        return text, scroll

    def test_the_mail_json_and_metrics_agree_on_what_needs_action(self):
        day = 86400
        end = END_EPOCH
        lines = [
            # PolA/host0 failed and nothing made it good; its last success
            # lies in the lookback.
            (1010, "PolA", end - 600, "150", "host0"),
            (1001, "PolA", end - 3 * day, "0", "host0"),
            # PolA/host1 failed and its rerun succeeded.
            (1009, "PolA", end - 4000, "0", "host1"),
            (1008, "PolA", end - 5000, "196", "host1"),
            # PolA/host2 failed; its success came after the window's end.
            (1020, "PolA", end + 600, "1", "host2"),
            (1007, "PolA", end - 3000, "58", "host2"),
            # A weekly policy nobody listed fails too.
            (1006, "PolW", end - 1000, "13", "hostW"),
            # PolB is well, and one of its jobs still runs.
            (1005, "PolB", end - 7200, "0", "client1"),
            (1011, "PolB", end - 100, "", "client2"),
            # PolC, a daily policy, ran last two days ago and failed.
            (1002, "PolC", end - 2 * day, "13", "hostC"),
            (1000, "PolC", end - 4 * day, "0", "hostC"),
        ]
        lines.sort(key=lambda line: -line[2])
        dump = b"".join(dump_line(*line) for line in lines)
        # A line in the lookback that cannot be read as a job is skipped.
        dump = dump.replace(dump_line(1001, "PolA", end - 3 * day, "0", "host0"),
                            dump_line(1001, "PolA", end - 3 * day, "0", "host0")
                            + b"broken,line\r\n")
        self.write("bpdbjobs.txt", dump)
        self.write("status_codes.txt", b"150=termination requested by administrator\r\n"
                   b"not a code\r\n196=backup window closed\r\n")
        prom = os.path.join(self.work, "fennick.prom")
        findings = os.path.join(self.work, "findings.json")
        code, out, err = self.run_with(["--mail-to", "ops@example.com", "--sendmail",
                                        shutil.which("msmtp"), "--metrics", prom,
                                        "--json", findings, "--lookback", "7"])
        self.assertEqual(code, 0, err)
        self.assertEqual(err, b"fennick-cli: status_codes.txt line 2: not CODE=text, skipped\n")
        # The page's jobs of daily policies first (the running one not failed),
        # then every policy's window jobs, which the mail and the JSON count.
        self.assertTrue(out.endswith(b": 6 jobs, 3 failed, 1 still running, 1 daily policy "
                                     b"not found; all policies: 7 jobs, 2 streams still "
                                     b"failing, 2 recovered; nights: "
                                     + os.path.join(self.dir, "history.html").encode() + b"\n"),
                        out)

        [(_, message)] = self.mails(1)
        self.assertFalse(message.defects)
        for part in message.walk():
            self.assertFalse(part.defects, part.get_content_type())
        self.assertEqual(message["Subject"], "Backup Report 05-12-26: 2 still failing, "
                         "1 daily policy not found (2 recovered, 7 jobs)")
        summary, attachment = message.get_payload()
        self.assertEqual(attachment.get_payload(decode=True), self.read(PAGE))
        text = summary.get_payload()[0].get_content()
        lines_of = text.splitlines()
        self.assertEqual(lines_of[0], message["Subject"])
        # The window's jobs, and how many of them the page shows.
        self.assertTrue(lines_of[2].startswith(
            "7 jobs, 6 of them of daily policies (on the page), from "), lines_of[2])
        # Needs action: the daily policy first, with its status's meaning and
        # last success; then the policy nobody listed.
        host0 = next(i for i, l in enumerate(lines_of) if "host0" in l)
        weekly = next(i for i, l in enumerate(lines_of) if "hostW" in l)
        recovered = next(i for i, l in enumerate(lines_of) if l.startswith("Recovered"))
        self.assertLess(host0, weekly)
        self.assertLess(weekly, recovered)
        self.assertIn("150 (termination requested by administrator)", lines_of[host0])
        self.assertIn("PolW (not daily)", lines_of[weekly])
        # Nothing is claimed of the time before the oldest job read.
        self.assertRegex(lines_of[weekly], r"none since \d\d/\d\d/\d{4} \d\d:\d\d:\d\d")
        self.assertIn("Still running or queued: 1 job.", text)
        self.assertIn("1 line of the dump outside the window could not be read", text)

        html = summary.get_payload()[1].get_content()
        self.assertNotIn("<script", html.lower())
        self.assertNotRegex(html, r"(src|href)=")
        for width in (360, 800):
            dom, scroll = self.rendered(html, width)
            self.assertLessEqual(scroll, width, "scrolls sideways at %d px" % width)
            self.assertLess(dom.index('class="failing"'), dom.index('class="recovered"'))
            self.assertLess(dom.index("host0"), dom.index("hostW"))

        with open(findings) as f:
            document = json.load(f)
        window_start = end - day
        self.assertEqual(document["success"], True)
        self.assertNotIn("error", document)
        self.assertEqual(document["folder"], self.dir)
        self.assertEqual(document["page"], os.path.join(self.dir, PAGE))
        self.assertEqual(document["window"], {"start": window_start, "end": end})
        self.assertEqual(document["lookback_days"], 7)
        self.assertEqual(document["dump_out_of_order"], False)
        in_window = [l for l in lines if window_start <= l[2] <= end]
        self.assertEqual(document["counts"], {
            "jobs": len(in_window), "page_jobs": 6, "page_failed": 3, "page_highlighted": 4,
            "failed": 4, "recovered": 2,
            "running": 1, "partial": 0, "failing": 2, "not_found": 1, "skipped_lines": 1,
            "left_out_of_page": 0, "overdue": 0, "suspicious": 0})
        # Each failing stream's last 14 nights, night 0 (failed now) first.
        nights = [entry.pop("nights") for entry in document["failing"]]
        self.assertEqual([len(n) for n in nights], [14, 14])
        self.assertEqual([n[0] for n in nights], ["failed", "failed"])
        self.assertEqual(document["failing"], [
            {"policy": "PolA", "client": "host0", "schedule": "Daily", "daily": True,
             "status": "150", "meaning": "termination requested by administrator",
             "job_id": "1010", "start": end - 600, "failed_jobs": 1,
             "last_success": end - 3 * day, "failing_since": end - 600,
             "failed_since_success": 1},
            {"policy": "PolW", "client": "hostW", "schedule": "Daily", "daily": False,
             "status": "13", "meaning": None, "job_id": "1006", "start": end - 1000,
             "failed_jobs": 1, "last_success": None, "failing_since": end - 1000,
             "failed_since_success": 1}])
        self.assertEqual(document["history"]["file"],
                         os.path.join(self.dir, "fennick_history.db"))
        self.assertIsNone(document["history"]["error"])
        self.assertEqual(document["history"]["known_since"], min(l[2] for l in lines))
        self.assertEqual(document["not_found"], [
            {"policy": "PolC", "last_job": end - 2 * day, "last_success": end - 4 * day}])
        self.assertEqual(document["recovered"], [
            {"policy": "PolA", "client": "host2", "schedule": "Daily", "job_id": "1007",
             "status": "58", "start": end - 3000, "recovered_by": "1020"},
            {"policy": "PolA", "client": "host1", "schedule": "Daily", "job_id": "1008",
             "status": "196", "start": end - 5000, "recovered_by": "1009"}])

        values = self.metrics(prom)
        self.assertEqual(values["fennick_report_failing_streams"], 2)
        self.assertEqual(values["fennick_report_recovered_jobs"], 2)
        self.assertEqual(values["fennick_report_running_jobs"], 1)
        self.assertEqual(values["fennick_report_mail_delivered"], 1)
        with open(prom) as f:
            policies = dict(re.findall(
                r'^fennick_policy_last_success_timestamp_seconds\{folder="[^"]*",'
                r'policy="([^"]*)"\} (\S+)$', f.read(), flags=re.M))
        self.assertEqual(policies, {"PolA": str(end + 600), "PolB": str(end - 7200),
                                    "PolC": str(end - 4 * day)})

        # A failed run: the JSON says so and keeps no stale findings.
        os.remove(os.path.join(self.dir, "policy_list.txt"))
        code, _, err = self.run_with(["--json", findings])
        self.assertEqual(code, 1, err)
        with open(findings) as f:
            document = json.load(f)
        self.assertEqual(document["success"], False)
        self.assertIn("policy_list.txt", document["error"])
        self.assertIsNone(document["counts"])


    def test_the_last_nights_grid_reads_at_360_and_800_pixels(self):
        """The mail's grid of the last 14 nights, from a real run, laid out by
        headless Chromium: the nights of each row in order, each cell with its
        sign, and no page that scrolls sideways."""
        day = 86400
        end = END_EPOCH
        # Jobs on nights 0 to 11 only: nights 12 and 13 ended before the
        # earliest known job. PolA/host0 fails on nights 0 and 3, PolB has no
        # job on night 5, PolC partly succeeds on night 2.
        lines = []
        for k in range(12):
            start = end - 600 - k * day
            lines.append((2000 + k, "PolA", start, "13" if k in (0, 3) else "0", "host0"))
            if k != 5:
                lines.append((2100 + k, "PolB", start - 60, "0", "client1"))
            lines.append((2200 + k, "PolC", start - 120, "1" if k == 2 else "0", "hostC"))
        lines.sort(key=lambda line: -line[2])
        self.write("bpdbjobs.txt", b"".join(dump_line(*line) for line in lines))
        code, _, err = self.run_with(["--mail-to", "ops@example.com", "--sendmail",
                                      shutil.which("msmtp"), "--lookback", "20"])
        self.assertEqual(code, 0, err)
        [(_, message)] = self.mails(1)
        self.assertFalse(message.defects)
        for part in message.walk():
            self.assertFalse(part.defects, part.get_content_type())
        summary, _ = message.get_payload()
        text, html = (p.get_content() for p in summary.get_payload())

        ok, failed, partial, none, unknown = "\u2713", "\u2717", "!", "\u00b7", "?"
        def signs(states):  # night 0 first, shown the oldest first
            return "".join(reversed(states))
        rows = {
            "PolA": signs([failed, ok, ok, failed] + [ok] * 8 + [unknown] * 2),
            "PolB": signs([ok] * 5 + [none] + [ok] * 6 + [unknown] * 2),
            "PolC": signs([ok, ok, partial] + [ok] * 9 + [unknown] * 2),
        }
        rows["PolA / host0 / Daily"] = rows["PolA"]
        # The text part (CR LF ended, as mail is): each row's name, then its
        # signs.
        text = text.replace("\r\n", "\n")
        grid = text[text.index("Last 14 nights\n"):]
        self.assertIn("the oldest night is on the left", grid.lower())
        for name, shown in rows.items():
            self.assertRegex(grid, r"\n  %s +%s\n" % (re.escape(name), re.escape(shown)))

        part = os.path.join(self.work, "grid.html")
        probe = ("<script>document.documentElement.style.width = '%dpx';"
                 "addEventListener('load', () => { const b = document.body;"
                 "b.setAttribute('data-scroll', document.documentElement.scrollWidth);"
                 "b.setAttribute('data-body', b.scrollWidth);"
                 "const w = document.querySelector('table').parentElement;"
                 "b.setAttribute('data-grid', w.scrollWidth - w.clientWidth);"
                 "b.setAttribute('data-cells', JSON.stringify([...document.querySelectorAll("
                 "'tr')].filter(r => r.querySelector('td[data-night]')).map(r => [r.cells[0]"
                 ".title, [...r.querySelectorAll('td[data-night]')].map(c => [c.dataset.night,"
                 " c.textContent, getComputedStyle(c).backgroundColor])])))})</script>")
        for width in (360, 800):
            with open(part, "wb") as f:
                f.write(html.replace("</body>", probe % width + "</body>").encode("utf-8"))
            profile = tempfile.mkdtemp(prefix="chromium-", dir=self.work)
            dom = subprocess.run(
                ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                 "--user-data-dir=" + profile, "--window-size=%d,1400" % width, "--dump-dom",
                 "file://" + part], capture_output=True, timeout=60)
            self.assertEqual(dom.returncode, 0, dom.stderr[-2000:])
            body = re.search(r"<body[^>]*>", dom.stdout.decode("utf-8")).group(0)
            value = lambda name: re.search(r'%s="([^"]*)"' % name, body).group(1)
            # The body never scrolls sideways. At 800 pixels neither does the
            # document (a headless window is at least 500 wide, so only there
            # is the window the width) and the grid fits whole; on a phone it
            # may scroll in its own block.
            self.assertLessEqual(int(value("data-body")), width)
            if width == 800:
                self.assertLessEqual(int(value("data-scroll")), width)
                self.assertEqual(int(value("data-grid")), 0)
            cells = json.loads(value("data-cells").replace("&quot;", '"'))
            self.assertEqual([name for name, _ in cells], list(rows))
            colours = {}
            for name, row in cells:
                self.assertEqual([int(c[0]) for c in row], list(range(13, -1, -1)), name)
                self.assertEqual("".join(c[1] for c in row), rows[name], name)
                for _, sign, colour in row:
                    colours.setdefault(sign, set()).add(colour)
            # One colour to each sign, a different one to each.
            self.assertTrue(all(len(c) == 1 for c in colours.values()), colours)
            self.assertEqual(len(set.union(*colours.values())), len(colours))


class BadInput(Morning):
    """Bad input never harms the host, never stops the report for a delivery
    setting, and never loses the failure mail."""

    # Morning's own tests run once, in Morning.
    for name in [n for n in dir(Morning) if n.startswith("test_")]:
        locals()[name] = None
    del name

    def closed_pipe(self):
        """The writing end of a pipe whose reader has gone, as after `| true`."""
        read, write = os.pipe()
        os.close(read)
        return write

    def full_pipe(self):
        """A pipe that nobody reads, filled up: the next write would block."""
        read, write = os.pipe()
        os.set_blocking(write, False)
        try:
            while True:
                os.write(write, b"x" * 65536)
        except BlockingIOError:
            pass
        os.set_blocking(write, True)
        self.addCleanup(os.close, read)
        return write

    def special(self, kind):
        path = os.path.join(self.work, "special-" + kind)
        if kind == "fifo":
            os.mkfifo(path)
        elif kind == "device":
            os.mknod(path, 0o666 | 0o020000, os.makedev(1, 3))  # as /dev/null is
        elif kind == "socket":
            sock = socket.socket(socket.AF_UNIX)
            sock.bind(path)
            self.addCleanup(sock.close)
        elif kind == "folder":
            os.mkdir(path)
        return path

    def test_each_bad_input_gets_the_sound_behaviour(self):
        msmtp = shutil.which("msmtp")
        mail = ["--mail-to", "ops@example.com", "--sendmail", msmtp]
        prom = os.path.join(self.work, "fennick.prom")
        partial = os.path.join(self.work, "partial-sendmail")
        with open(partial, "w") as f:
            f.write("#!/bin/sh\nhead -c 1000 >/dev/null\nexit 0\n")
        os.chmod(partial, 0o755)
        target = os.path.join(self.work, "target.prom")
        link = os.path.join(self.work, "link.prom")
        newline_dir = os.path.join(self.work, "a\nb")

        # name, setup() -> (arguments, env, stdout, stderr), status, stderr words,
        # mails expected, check(stderr)
        def plain(*arguments, env=None):
            return lambda: (list(arguments), env, subprocess.PIPE, subprocess.PIPE)

        def special_metrics(kind):
            def setup():
                return (["--metrics", self.special(kind)] + mail, None, subprocess.PIPE,
                        subprocess.PIPE)
            return setup

        def link_metrics():
            with open(target, "w") as f:
                f.write("old\n")
            os.symlink(target, link)
            return (["--metrics", link], None, subprocess.PIPE, subprocess.PIPE)

        def long_field():
            # A failure whose message holds a 5,000-letter field.
            self.write("bpdbjobs.txt", self.jobs().replace(b",3661,", b"," + b"X" * 5000 + b",", 1))
            return (mail + ["--metrics", prom], None, subprocess.PIPE, subprocess.PIPE)

        def closed_stdout():
            return (mail + ["--metrics", prom], None, self.closed_pipe(), subprocess.PIPE)

        def closed_stderr_failed_run():
            os.remove(os.path.join(self.dir, "policy_list.txt"))
            return (mail + ["--metrics", prom], None, subprocess.PIPE, self.closed_pipe())

        def blocked_stderr_dump():
            return (["--dump-command", "head -c 4000000 /dev/zero >&2; sleep 30",
                     "--dump-timeout", "2"], None, subprocess.PIPE, self.full_pipe())

        def fifo_dump():
            os.remove(os.path.join(self.dir, "bpdbjobs.txt"))
            os.mkfifo(os.path.join(self.dir, "bpdbjobs.txt"))
            return ([], None, subprocess.PIPE, subprocess.PIPE)

        def folder_with_newline():
            shutil.copytree(self.dir, newline_dir)
            os.remove(os.path.join(newline_dir, "policy_list.txt"))
            return (["--dir", newline_dir], None, subprocess.PIPE, subprocess.PIPE)

        def background_writer():
            # The command ends at once; what it left behind writes one more
            # (older) job a second later, into the output it was given.
            with open(os.path.join(self.work, "late.sh"), "w") as f:
                f.write("sleep 1; cat '%s'\n" % os.path.join(self.work, "late.txt"))
            self.write("late.txt", dump_line(1, "PolB", END_EPOCH - 80000), where=self.work)
            return (["--dump-command", "cat '%s'; setsid sh '%s' &"
                     % (os.path.join(self.work, "source.txt"), os.path.join(self.work, "late.sh"))],
                    None, subprocess.PIPE, subprocess.PIPE)

        cases = [
            ("metrics on a device", special_metrics("device"), 3, [b"special-device"], 1),
            ("metrics on a FIFO", special_metrics("fifo"), 3, [b"special-fifo"], 1),
            ("metrics on a socket", special_metrics("socket"), 3, [b"special-socket"], 1),
            ("metrics on a folder", special_metrics("folder"), 3, [b"special-folder"], 1),
            ("metrics through a link", link_metrics, 0, [], 0),
            ("metrics in a folder not made yet",
             plain(env={"FENNICK_METRICS": os.path.join(self.work, "none", "f.prom")}),
             3, [b"none/f.prom"], 0),
            ("a blank metrics path", plain("--metrics", " "), 2, [b"blank"], 0),
            ("a long failure message", long_field, 1, [b"Type mismatch", b"X" * 5000], 1),
            ("a closed standard output", closed_stdout, 0, [], 1),
            ("a failed run with a closed standard error", closed_stderr_failed_run, 1, [], 1),
            ("a mail program that takes part of the message",
             plain("--mail-to", "ops@example.com", "--sendmail", partial), 3,
             [b"partial-sendmail", b"1000 of"], 0),
            ("mail settings without a recipient",
             plain("--metrics", prom, env={"FENNICK_MAIL_WHEN": "always"}), 3,
             [b"FENNICK_MAIL_WHEN is set but FENNICK_MAIL_TO is not"], 0),
            ("an empty address", plain(env={"FENNICK_MAIL_TO": ","}), 2,
             [b"FENNICK_MAIL_TO has an empty address"], 0),
            ("a dump command whose error output nobody reads", blocked_stderr_dump, 1, [], 0),
            ("a name that is not UTF-8", plain(*mail, "--mail-from", b"Zo\xeb <z@example.com>"),
             2, [b"not UTF-8"], 0),
            ("a dump that is a FIFO", fifo_dump, 1, [b"bpdbjobs.txt"], 0),
            ("a date the pickers cannot take", plain("--end", "0099-12-31 00:00:00"), 2,
             [b"1601-01-01"], 0),
            ("a folder name with a newline", folder_with_newline, 1, [b"a\\nb"], 0),
            ("a dump command that leaves a writer behind", background_writer, 0, [], 0),
            ("a dump command that prints an empty line", plain("--dump-command", "echo"), 1,
             [b"empty"], 0),
        ]
        for name, setup, status, words, mails in cases:
            with self.subTest(name):
                # A folder and a mailbox of its own for each case.
                self.recorder.messages.clear()
                self.dir = tempfile.mkdtemp(prefix="case-", dir=self.work)
                self.write("fennick_config.txt", CONFIG)
                self.write("policy_list.txt", b"PolA\r\nPolB\r\nPolC\r\n")
                if os.path.exists(prom):
                    os.remove(prom)
                self.write("bpdbjobs.txt", self.jobs())
                self.write("source.txt", self.jobs(failed=3), where=self.work)
                dump_before = self.read("bpdbjobs.txt")
                arguments, env, stdout, stderr = setup()
                if status == 2:
                    self.write("out.txt", b"earlier\r\n")
                started = time.time()
                code, _, err = self.run_with(arguments, env, stdout, stderr)
                for end in (stdout, stderr):
                    if end not in (subprocess.PIPE, None):
                        os.close(end)
                self.assertEqual(code, status, err)
                self.assertLess(time.time() - started, 30)
                for word in words:
                    self.assertIn(word, err)
                # Every message is whole lines, one per problem.
                for line in err.splitlines():
                    self.assertTrue(line.startswith(b"fennick"), line[:200])
                received = self.mails(mails)
                for _, message in received:
                    self.assertFalse(message.defects)
                    for field in message.raw_items():
                        for line in ("%s: %s" % field).encode("utf-8", "surrogateescape") \
                                .split(b"\n"):
                            self.assertLessEqual(len(line), 998)
                if status == 2:
                    # Refused before any file is touched.
                    self.assertEqual(self.read("out.txt"), b"earlier\r\n")
                elif status in (0, 3) and name != "a dump command that leaves a writer behind":
                    self.assertTrue(os.path.exists(os.path.join(self.dir, PAGE)))
                if name.startswith("metrics on a"):
                    kind = name.split()[-1].lower()
                    path = os.path.join(self.work, "special-" + kind)
                    self.assertTrue(os.path.exists(path))
                    self.assertIn(kind.encode(), err.lower())
                    if kind == "device":
                        self.assertTrue(stat_is_char_device(path))
                    leftovers = [n for n in os.listdir(self.work) if n.startswith(".")]
                    self.assertFalse(leftovers)
                elif name == "metrics through a link":
                    self.assertTrue(os.path.islink(link))
                    self.assertIn(b"fennick_report_success", open(target, "rb").read())
                    self.assertNotIn("fennick_report_mail_delivered", open(target).read())
                elif name == "a long failure message":
                    subject = received[0][1]["Subject"]
                    self.assertTrue(subject.startswith("Backup Report FAILED: Type mismatch"))
                    self.assertTrue(subject.endswith("\u2026"), subject[-20:])
                    body = received[0][1].get_body(("plain",)).get_content()
                    self.assertIn("X" * 5000, body)
                elif name in ("a closed standard output",
                              "a failed run with a closed standard error"):
                    values = self.metrics(prom)
                    self.assertEqual(values["fennick_report_success"], 1 if status == 0 else 0)
                    self.assertEqual(values["fennick_report_mail_delivered"], 1)
                elif name == "mail settings without a recipient":
                    self.assertEqual(self.metrics(prom)["fennick_report_success"], 1)
                elif name == "a dump that is a FIFO":
                    self.assertIn(b"FIFO", err)
                elif name == "a folder name with a newline":
                    self.assertEqual(len(err.splitlines()), 1, err)
                elif name == "a dump command that leaves a writer behind":
                    # The output ended when its last writer closed it; nothing
                    # reaches the installed dump afterwards.
                    installed = self.read("bpdbjobs.txt")
                    self.assertEqual(installed, self.jobs(failed=3) + self.read_work("late.txt"))
                    time.sleep(1.5)
                    self.assertEqual(self.read("bpdbjobs.txt"), installed)
                elif name == "a dump command that prints an empty line":
                    self.assertEqual(self.read("bpdbjobs.txt"), dump_before)
                if name.startswith("a dump"):
                    self.assertFalse([n for n in os.listdir(self.dir) if n.startswith(".")])

    def test_non_ascii_names_are_encoded_and_a_failed_mail_shows_in_the_metrics(self):
        self.write("bpdbjobs.txt", self.jobs())
        prom = os.path.join(self.work, "fennick.prom")
        code, _, err = self.run_with(["--mail-to", "Zo\u00eb Admin <ops@example.com>",
                                      "--mail-from", "Zo\u00eb Backup <z@example.com>",
                                      "--sendmail", shutil.which("msmtp"), "--metrics", prom])
        self.assertEqual(code, 0, err)
        [(to, message)] = self.mails(1)
        self.assertEqual(to, ["ops@example.com"])
        self.assertFalse(message.defects)
        for field in ("From", "To"):
            self.assertFalse(message[field].defects, field)
            raw = dict(message.raw_items())[field]
            self.assertTrue(all(ord(c) < 128 for c in raw), raw)
        self.assertEqual(message["From"].addresses[0].display_name, "Zo\u00eb Backup")
        self.assertEqual(message["From"].addresses[0].addr_spec, "z@example.com")
        self.assertEqual(message["To"].addresses[0].display_name, "Zo\u00eb Admin")
        self.assertEqual(self.metrics(prom)["fennick_report_mail_delivered"], 1)

        self.write_msmtprc(1)  # nobody listens on port 1
        code, _, err = self.run_with(["--mail-to", "ops@example.com", "--sendmail",
                                      shutil.which("msmtp"), "--metrics", prom])
        self.assertEqual(code, 3, err)
        values = self.metrics(prom)
        self.assertEqual(values["fennick_report_success"], 1)
        self.assertEqual(values["fennick_report_mail_delivered"], 0)


class MailBounds(Morning):
    """What the dump and status_codes.txt hold never makes the mail larger than
    its limit, nor puts a byte in it that a reader cannot see."""

    # Morning's own tests run once, in Morning.
    for name in [n for n in dir(Morning) if n.startswith("test_")]:
        locals()[name] = None
    del name

    def raw_mails(self, expected):
        """The messages as the SMTP server took them, and as parsed."""
        parsed = self.mails(expected)
        return [(data, message) for (_, data), (_, message)
                in zip(self.recorder.messages, parsed)]

    def test_long_empty_and_control_byte_meanings_and_names_reach_the_mail_visible(self):
        # A meaning of a megabyte, in UTF-8, whose cut falls inside a letter;
        # control bytes in it and in policy names; a meaning left empty.
        long_meaning = ("cannot\r read\x00 the \x1b[31mtapes " + "\u00e9" * (1 << 19)).encode()
        self.write("status_codes.txt", b"13=" + long_meaning + b"\r\n2=\r\n58=tape\x1bfull\r\n")
        names = [b"Pol\x1bA", b"Pol\rC", b"Pol\x00D"]
        self.write("policy_list.txt", b"".join(n + b"\r\n" for n in names) + b"PolB\r\n")
        self.write("bpdbjobs.txt", b"".join(
            [dump_line(1000 + n, name.decode("latin-1"), END_EPOCH - 600 - n, status=status)
             for n, (name, status) in enumerate(zip(names, ["2", "13", "58"]))]
            + [dump_line(900, "PolB", END_EPOCH - 7200)]))
        findings = os.path.join(self.home, "findings.json")
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", shutil.which("msmtp"),
                           "--json", findings)
        self.assertEqual(run.returncode, 0, run.stderr)
        [(raw, message)] = self.raw_mails(1)
        self.assertFalse(message.defects)
        summary, attachment = message.get_payload()
        self.assertEqual(attachment.get_payload(decode=True), self.read(PAGE))
        # The JSON's meanings are the mail's: cut, so that no row repeats the megabyte.
        self.assertLess(os.path.getsize(findings), 20_000)
        with open(findings) as f:
            meanings = {s["status"]: s["meaning"] for s in json.load(f)["failing"]}
        self.assertEqual(len(meanings["13"].encode()), 199 + 3)
        self.assertTrue(meanings["13"].endswith("\u2026"))
        self.assertEqual(meanings["58"], "tape\u241bfull")
        # The page's base64 and a summary of a few kilobytes, not of the megabyte.
        self.assertLess(len(raw) - len(attachment.get_payload()), 100_000)

        # The line ends as they came over SMTP, CR LF, made LF.
        plain, html = (part.get_content().replace("\r\n", "\n")
                       for part in summary.get_payload())
        shown = ("cannot\u240d read\u2400 the \u241b[31mtapes " + "\u00e9" * 82 + "\u2026")
        self.assertEqual(len(shown[:-1].encode()), 199)  # the next letter would make 201
        for text in (plain, html):
            self.assertIsNone(re.search(r"[\x00-\x09\x0b-\x1f\x7f]", text))
            self.assertNotIn("\ufffd", text)
            self.assertNotIn("()", text)
            for name in ("Pol\u241bA", "Pol\u240dC", "Pol\u2400D"):
                self.assertIn(name, text)
            self.assertIn("13 (%s)" % shown, text)
            self.assertIn("58 (tape\u241bfull)", text)
        # The empty meaning's status alone.
        self.assertIn("Status:</span> 2 &middot;", html)

    def test_the_limit_bounds_the_whole_mail_and_a_page_that_would_break_it_stays_out(self):
        msmtp = shutil.which("msmtp")
        # A page of about 9 MB, under the default limit of 10485760 bytes, whose
        # base64 is not.
        self.write("bpdbjobs.txt", self.jobs(failed=1) + b"".join(
            dump_line(2000 + n, "PolB", END_EPOCH - 7300 - n, client="client%d" % n)
            for n in range(38000)))
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", msmtp)
        self.assertEqual(run.returncode, 0, run.stderr)
        big = len(self.read(PAGE))
        self.assertLess(big, 10485760)
        self.assertGreater(big * 4 // 3, 10485760)
        [(raw, message)] = self.raw_mails(1)
        self.assertEqual(len(list(message.iter_attachments())), 0)
        self.assertIn("The page: %s (not attached: it has %d bytes, and the mail with it would "
                      "be larger than the limit of 10485760)" % (os.path.join(self.dir, PAGE), big),
                      message.get_body(("plain",)).get_content())
        self.assertLessEqual(len(raw), 10485760)

        # A smaller page, and limits about the whole mail with it.
        self.write("bpdbjobs.txt", self.jobs(failed=1) + b"".join(
            dump_line(2000 + n, "PolB", END_EPOCH - 7300 - n, client="client%d" % n)
            for n in range(2000)))
        self.recorder.messages.clear()
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", msmtp)
        self.assertEqual(run.returncode, 0, run.stderr)
        [(raw, message)] = self.raw_mails(1)
        self.assertEqual(len(list(message.iter_attachments())), 1)
        # The limit counts what the server takes; the Message-ID's length may
        # change by a byte or two between runs.
        for limit, attached in [(len(raw) + 50, True), (len(raw) - 50, False)]:
            with self.subTest(limit=limit):
                self.recorder.messages.clear()
                run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", msmtp,
                                   "--mail-max-bytes", str(limit))
                self.assertEqual(run.returncode, 0, run.stderr)
                [(raw, message)] = self.raw_mails(1)
                self.assertFalse(message.defects)
                self.assertLessEqual(len(raw), limit)
                self.assertEqual(len(list(message.iter_attachments())), int(attached))
                text = message.get_body(("plain",)).get_content()
                if attached:
                    self.assertIn("The page (attached): ", text)
                else:
                    self.assertIn("and the mail with it would be larger than the limit of %d)"
                                  % limit, text)


def stat_is_char_device(path):
    import stat
    return stat.S_ISCHR(os.lstat(path).st_mode)


class AlertRules(unittest.TestCase):
    def test_the_example_alert_rules_pass_promtool(self):
        rules = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                             "packaging", "examples", "fennick-alerts.yml")
        check = subprocess.run(["promtool", "check", "rules", rules], capture_output=True,
                               timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
