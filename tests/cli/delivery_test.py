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

CLI = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else "fennick-cli"

END = "2026-12-05 02:15:00"  # --end of every run, a clock time of UTC+8
PAGE = "report_05-12-26.html"
END_EPOCH = calendar.timegm(time.strptime(END, "%Y-%m-%d %H:%M:%S")) - 8 * 3600


def dump_line(job_id, policy, start, status="0", client="client1"):
    """A 40-field job of bpdbjobs.txt that goes to out.txt, CR LF ended."""
    fields = [""] * 40
    fields[0] = str(job_id)
    fields[1] = "other"
    fields[3] = status
    fields[4] = policy
    fields[5] = "Daily"
    fields[6] = client
    fields[8] = str(start)
    fields[9] = "3661"
    fields[10] = str(start + 3661)
    fields[14] = "1024"
    fields[15] = "12"
    fields[22] = "0"
    fields[27] = "3"
    fields[40 - 1 - 19] = "1"
    fields[40 - 1 - 20] = "5000"
    return ",".join(fields).encode("latin-1") + b"\r\n"


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
                m = re.match(r'^(fennick_\w+)\{folder="(.*)"\} (\S+)$', line.rstrip("\n"))
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
                         "%s: 3 jobs, 2 failed, 1 daily policy not found\n" % page)
        self.assertEqual(self.read("bpdbjobs.txt"), self.jobs(failed=2))
        self.assertFalse([n for n in os.listdir(self.dir) if n.startswith(".")])

        [(to, message)] = self.mails(1)
        self.assertEqual(sorted(to), ["admins@example.com", "boss@example.com",
                                      "ops@example.com"])
        self.assertEqual(message["Subject"],
                         "Backup Report 05-12-26: 2 failed, 1 daily policy not found (3 jobs)")
        self.assertEqual(message["From"].addresses[0].addr_spec, "fennick@example.com")
        self.assertEqual(len(message["To"].addresses), 3)
        self.assertEqual(message["MIME-Version"], "1.0")
        self.assertRegex(message["Message-ID"], r"^<[^<>@\s]+@[^<>@\s]+>$")
        sent = email.utils.parsedate_to_datetime(message["Date"]).timestamp()
        self.assertLessEqual(before - 2, sent)
        self.assertLessEqual(sent, time.time() + 2)
        self.assertEqual(message.get_content_type(), "multipart/alternative")
        plain, html = message.get_payload()
        self.assertEqual(plain.get_content_type(), "text/plain")
        self.assertEqual(html.get_content_type(), "text/html")
        text = plain.get_content()
        for wanted in ["PolA", "host0", "host1", "1000", "1001", "PolC", page]:
            self.assertIn(wanted, text)
        self.assertNotIn("PolB", text)  # its job succeeded
        with open(page, "rb") as f:
            self.assertEqual(html.get_payload(decode=True), f.read())
        # And a browser reads the HTML part as the page: every job a row.
        rows = self.rendered_rows(html.get_payload(decode=True), html.get_content_charset())
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
        plain, html = message.get_payload()
        self.assertEqual(plain.get_content_charset(), "windows-1252")
        self.assertIn("Pol\u00e9", plain.get_content())
        self.assertEqual(html.get_content_charset(), "windows-1252")
        self.assertEqual(html.get_payload(decode=True), self.read(PAGE))

        self.recorder.messages.clear()
        run = self.run_cli("--mail-to", "ops@example.com", "--sendmail", shutil.which("msmtp"),
                           "--mail-max-bytes", "100")
        self.assertEqual(run.returncode, 0, run.stderr)
        [(_, message)] = self.mails(1)
        self.assertIsNone(message.get_body(("html",)))
        text = message.get_body(("plain",)).get_content()
        self.assertIn(os.path.join(self.dir, PAGE), text)
        self.assertIn("100", text)

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


class AlertRules(unittest.TestCase):
    def test_the_example_alert_rules_pass_promtool(self):
        rules = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                             "packaging", "examples", "fennick-alerts.yml")
        check = subprocess.run(["promtool", "check", "rules", rules], capture_output=True,
                               timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
