#!/usr/bin/env python3
"""End-to-end tests of `tavlo run` (the program's life on the real clock)
against a real Dovecot.

    test_run.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN. The server
is the instance named by $TAVLO_DOVECOT_ENV (as the ctest fixture "dovecot"
sets it); without it the module starts a private instance of its own. This
module adds and owns the user "kim".
"""

import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "scripts"))

import dovecot_harness as harness  # noqa: E402
import test_check_pop3 as cli  # noqa: E402  (runs the tests)

USER = "kim"
PASSWORD = "kim-secret"
LINE = re.compile(r"^\d\d:\d\d:\d\d (.*)$")
# The first check runs 5.3 s after start; the rest is slack for a slow machine.
FIRST_CHECK_DEADLINE = 12.0

TAVLO = None
SERVER = None
_OWN_SERVER_DIR = None


def setUpModule():
    global SERVER, _OWN_SERVER_DIR
    env_file = os.environ.get("TAVLO_DOVECOT_ENV")
    if env_file:
        directory = harness.load_env(env_file)["dir"]
    else:
        _OWN_SERVER_DIR = tempfile.mkdtemp(prefix="tavlo-dovecot-")
        directory = harness.start(_OWN_SERVER_DIR)["dir"]
    harness.add_user(directory, USER, PASSWORD)
    SERVER = harness.load_env(directory)


def tearDownModule():
    if _OWN_SERVER_DIR:
        harness.stop(_OWN_SERVER_DIR)
        shutil.rmtree(_OWN_SERVER_DIR, ignore_errors=True)


class Run:
    """A `tavlo run` process whose output lines are collected as they come."""

    def __init__(self, env):
        self.process = subprocess.Popen([TAVLO, "run"], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.lines = queue.Queue()
        self.seen = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("latin-1").rstrip("\n"))
        self.lines.put(None)

    def wait_for(self, prefix, deadline):
        """Lines (without their time) up to the first that starts with prefix."""
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("no %r line in time; got %r" % (prefix, self.seen))
            try:
                line = self.lines.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError("ended before a %r line; got %r" % (prefix, self.seen))
            match = LINE.match(line)
            if not match:
                raise AssertionError("line without a time: %r" % line)
            self.seen.append(match.group(1))
            if match.group(1).startswith(prefix):
                return self.seen

    def stop(self, sig=signal.SIGTERM):
        """Sends the signal; the exit status and the lines still printed."""
        self.process.send_signal(sig)
        status = self.process.wait(timeout=15)
        self._reader.join(timeout=5)
        rest = []
        while True:
            line = self.lines.get_nowait()
            if line is None:
                break
            rest.append(LINE.match(line).group(1))
        return status, rest

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._reader.join(timeout=5)
        self.process.stdout.close()
        self.process.stderr.close()


class RunTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="tavlo-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.env = dict(os.environ)
        # Nothing may reach the real user's folders (the autostart entry);
        # no sound player is found, so the sound is only printed.
        self.env.update(TAVLO_HOME=self.home, HOME=self.home, PATH="/nonexistent",
                        XDG_CONFIG_HOME=os.path.join(self.home, "xdg"))

    def start(self):
        run = Run(self.env)
        self.addCleanup(run.kill)
        return run

    def add_account(self):
        port = SERVER["ports"]["pop3"]
        result = subprocess.run(
            [TAVLO, "accounts", "add", "--name", "Inbox", "--server", "127.0.0.1:%d" % port,
             "--user", USER, "--type", "POP3"],
            input=(PASSWORD + "\n").encode(), capture_output=True, env=self.env, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)

    def settings(self):
        with open(os.path.join(self.home, "settings.reg"), encoding="latin-1") as f:
            return f.read()

    def test_first_check_announces_the_mail_and_a_signal_ends_the_run(self):
        harness.reset(SERVER["dir"], USER)
        uidls = harness.deliver(SERVER["dir"], USER, "Ann <ann@example.test>", "Hello", 2)
        self.add_account()
        started = time.monotonic()
        run = self.start()
        deadline = started + FIRST_CHECK_DEADLINE
        seen = run.wait_for("tray:", deadline)
        self.assertEqual(seen, ['tray: icon 281 "Checking for new mail"'])
        # With accounts the window starts hidden: nothing but the tray yet.
        seen = run.wait_for("popup:", deadline)
        self.assertIn("popup: Tavlo | Inbox 2 mail.", seen)
        self.assertIn('tray: icon 173 "Inbox 2 mail."', seen)
        sounds = [line for line in seen if line.startswith("sound:")]
        self.assertEqual(sounds, ["sound: " + os.path.join(os.path.dirname(
            os.path.realpath(TAVLO)), "Sound", "Pling.wav")])
        self.assertGreaterEqual(time.monotonic() - started, 5.0, "the first check waits 5.3 s")
        self.assertFalse(any(line.startswith("window:") for line in seen), seen)
        # The newest message's unique id is the account's marker now.
        self.assertIn(uidls[-1], self.settings())

        # A second run on the same data folder leaves at once.
        second = subprocess.run([TAVLO, "run"], capture_output=True, env=self.env, timeout=10)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(second.stdout, b"")
        self.assertIn(b"tavlo run: already running", second.stderr)

        status, rest = run.stop(signal.SIGTERM)
        self.assertEqual(status, 0)
        self.assertIn("tray: removed", rest)

    def test_without_accounts_the_window_shows_and_no_check_runs(self):
        run = self.start()
        seen = run.wait_for("window:", time.monotonic() + 5)
        self.assertEqual(seen, ['tray: icon 281 "Checking for new mail"', "window: shown"])
        # Past the time of the first check: nothing more happens.
        time.sleep(6.5)
        status, rest = run.stop(signal.SIGINT)
        self.assertEqual(status, 0)
        self.assertEqual(rest[0], "tray: removed")
        self.assertFalse([line for line in rest if line.split(":")[0] in ("popup", "sound")],
                         rest)
        self.assertNotIn("Accounts", self.settings())


def main():
    def set_binary(binary):
        global TAVLO
        TAVLO = binary
    return cli.run_tests("test_run.py", set_binary)


if __name__ == "__main__":
    sys.exit(main())
