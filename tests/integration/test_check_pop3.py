#!/usr/bin/env python3
"""End-to-end tests of `tavlo check` with POP3 accounts against a real Dovecot.

    test_check_pop3.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN. The server
is the instance named by $TAVLO_DOVECOT_ENV (its env.json, as the ctest
fixture "dovecot" sets it); without it the module starts a private instance
of its own. This module owns the mailboxes of alice, bob and carol. Every
test gets a fresh, empty data folder (TAVLO_HOME).
"""

import os
import poplib
import shutil
import socket
import ssl
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

TLS_DIR = os.path.join(REPO, "tests", "data", "tls")
CA = os.path.join(TLS_DIR, "ca.crt")

TAVLO = None   # path of the binary under test
SERVER = None  # env of the Dovecot instance
_OWN_SERVER_DIR = None


def setUpModule():
    global SERVER, _OWN_SERVER_DIR
    env_file = os.environ.get("TAVLO_DOVECOT_ENV")
    if env_file:
        SERVER = harness.load_env(env_file)
    else:
        _OWN_SERVER_DIR = tempfile.mkdtemp(prefix="tavlo-dovecot-")
        SERVER = harness.start(_OWN_SERVER_DIR)


def tearDownModule():
    if _OWN_SERVER_DIR:
        harness.stop(_OWN_SERVER_DIR)
        shutil.rmtree(_OWN_SERVER_DIR, ignore_errors=True)


def closed_port():
    """A loopback port where nothing listens (it was free a moment ago)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def server_uidls(server, user, use_tls=False):
    """The UIDL listing as Python's own POP3 client sees it."""
    if use_tls:
        context = ssl.create_default_context(cafile=CA)
        pop = poplib.POP3_SSL("localhost", server["ports"]["pop3s"], context=context, timeout=10)
    else:
        pop = poplib.POP3("127.0.0.1", server["ports"]["pop3"], timeout=10)
    try:
        pop.user(user)
        pop.pass_(server["users"][user]["password"])
        return [line.split()[1].decode("latin-1") for line in pop.uidl()[1]]
    finally:
        pop.quit()


class TavloHome:
    """A data folder of its own and the tavlo commands run on it."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="tavlo-home-")

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, *args, password=None, trust=CA, timeout=60):
        env = dict(os.environ)
        # Nothing may reach the real user's folders.
        env["TAVLO_HOME"] = self.path
        env["HOME"] = self.path
        env["XDG_CONFIG_HOME"] = os.path.join(self.path, "xdg")
        env.pop("SSL_CERT_DIR", None)
        if trust:
            env["SSL_CERT_FILE"] = trust
        else:
            env.pop("SSL_CERT_FILE", None)
        stdin = (password + "\n").encode("latin-1") if password is not None else b""
        return subprocess.run([TAVLO] + list(args), input=stdin, capture_output=True, env=env,
                              timeout=timeout)

    def add_account(self, test, name, user, password, port, use_tls=False, host="127.0.0.1"):
        args = ["accounts", "add", "--name", name, "--server", "%s:%d" % (host, port),
                "--user", user, "--type", "POP3"]
        if use_tls:
            args.append("--ssl")
        result = self.run(*args, password=password)
        test.assertEqual(result.returncode, 0, result.stderr.decode("latin-1", "replace"))

    def accounts(self):
        """(name, type, security, user, server, marker) per account."""
        result = self.run("accounts", "list")
        assert result.returncode == 0, result.stderr
        return [tuple(line.split("\t")) for line in result.stdout.decode("latin-1").splitlines()]

    def markers(self):
        return [account[5] for account in self.accounts()]

    def snapshot(self):
        """Every file below the folder with its bytes."""
        files = {}
        for folder, _dirs, names in os.walk(self.path):
            for name in names:
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, self.path)] = f.read()
        return files


class TavloTestCase(unittest.TestCase):
    def setUp(self):
        self.home = self.new_home()

    def new_home(self):
        home = TavloHome()
        self.addCleanup(home.remove)
        return home

    def check(self, trust=CA, timeout=60):
        result = self.home.run("check", trust=trust, timeout=timeout)
        self.assertEqual(result.returncode, 0, result.stderr.decode("latin-1", "replace"))
        return result.stdout

    def mailbox(self, user, count, server=None):
        """Empties the user's mailbox and delivers count messages; their UIDLs."""
        server = server or SERVER
        harness.reset(server["dir"], user)
        return harness.deliver(server["dir"], user, "Sender <sender@example.test>", "Test mail",
                               count)

    def add(self, name, user, password=None, use_tls=False, server=None, port=None):
        server = server or SERVER
        if password is None:
            password = server["users"][user]["password"]
        if port is None:
            port = server["ports"]["pop3s" if use_tls else "pop3"]
        self.home.add_account(self, name, user, password, port, use_tls,
                              host="localhost" if use_tls else "127.0.0.1")


class SingleAccountChecks:
    """One POP3 account through a whole life: plain and over TLS (mixin)."""

    USER = None
    USE_TLS = False

    def add_box(self):
        self.add("Box", self.USER, use_tls=self.USE_TLS)

    def test_empty_mailbox_reports_nothing(self):
        self.mailbox(self.USER, 0)
        self.add_box()
        self.assertEqual(self.check(), b"")
        self.assertEqual(self.home.markers(), ["0"])

    def test_new_mail_is_reported_and_marked_with_the_uidl_of_the_last_message(self):
        delivered = self.mailbox(self.USER, 2)
        self.add_box()
        self.assertEqual(self.check(), b"Box 2 mail.\n")
        on_server = server_uidls(SERVER, self.USER, self.USE_TLS)
        self.assertEqual(on_server, delivered)
        self.assertEqual(self.home.markers(), [on_server[1]])

    def test_marker_survives_a_restart_and_changes_with_new_mail(self):
        self.mailbox(self.USER, 2)
        self.add_box()
        self.assertEqual(self.check(), b"Box 2 mail.\n")
        marker = self.home.markers()
        # A second process on the same data folder: same report, same marker.
        self.assertEqual(self.check(), b"Box 2 mail.\n")
        self.assertEqual(self.home.markers(), marker)

        newest = harness.deliver(SERVER["dir"], self.USER, "late@example.test", "Later", 1)
        self.assertEqual(self.check(), b"Box 3 mail.\n")
        self.assertEqual(self.home.markers(), newest)
        self.assertNotEqual(newest, marker)


class PlainPop3Test(SingleAccountChecks, TavloTestCase):
    USER = "alice"
    USE_TLS = False


class Pop3sTest(SingleAccountChecks, TavloTestCase):
    USER = "bob"
    USE_TLS = True


class SilentServer:
    """Accepts connections and never says a word (a hung server)."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.accepted = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        self.listener.settimeout(0.1)
        held = []
        while not self._stop.is_set():
            try:
                conn, _addr = self.listener.accept()
                self.accepted += 1
                held.append(conn)
            except socket.timeout:
                pass
            except OSError:
                break
        for conn in held:
            conn.close()

    def close(self):
        self._stop.set()
        self._thread.join()
        self.listener.close()


class SeveralAccountsTest(TavloTestCase):
    def test_unreachable_server_after_an_account_with_mail(self):
        delivered = self.mailbox("alice", 5)
        self.add("First", "alice")
        self.add("Second", "carol", port=closed_port())
        self.assertEqual(self.check(), b"First 5 mail.\n")
        self.assertEqual(self.home.markers(), [delivered[4], "0"])

    def test_wrong_password_contributes_nothing_and_the_next_account_is_checked(self):
        self.mailbox("alice", 1)
        delivered = self.mailbox("carol", 2)
        self.add("Wrong", "alice", password="not-alices-password")
        self.add("Right", "carol")
        self.assertEqual(self.check(), b"Right 2 mail.\n")
        self.assertEqual(self.home.markers(), ["0", delivered[1]])

    def test_accounts_with_the_same_name_both_report(self):
        first = self.mailbox("alice", 1)
        second = self.mailbox("carol", 3)
        self.add("Same", "alice")
        self.add("Same", "carol")
        self.assertEqual(self.check(), b"Same 1 mail.\nSame 3 mail.\n")
        self.assertEqual(self.home.markers(), [first[0], second[2]])

    def test_hung_server_costs_two_read_timeouts_and_the_next_account_is_checked(self):
        # The greeting never comes (5 s), then QUIT gets no reply (5 s).
        delivered = self.mailbox("alice", 2)
        silent = SilentServer()
        self.addCleanup(silent.close)
        self.add("Hung", "carol", port=silent.port)
        self.add("Good", "alice")
        started = time.monotonic()
        report = self.check(timeout=120)
        elapsed = time.monotonic() - started
        self.assertEqual(report, b"Good 2 mail.\n")
        self.assertEqual(silent.accepted, 1)
        self.assertGreaterEqual(elapsed, 9.0)
        self.assertLess(elapsed, 16.0)
        self.assertEqual(self.home.markers(), ["0", delivered[1]])


class TlsRefusalTest(TavloTestCase):
    """POP3S servers that cannot be verified contribute nothing.

    Each cycle also asks the same server over plain POP3, which must report:
    so the silence of the TLS account is the verification's doing.
    """

    CERTS = ("impostor", "selfsigned", "wronghost")

    @classmethod
    def setUpClass(cls):
        cls.folders = {}
        cls.servers = {}
        try:
            for cert in cls.CERTS:
                folder = tempfile.mkdtemp(prefix="tavlo-dovecot-%s-" % cert)
                cls.folders[cert] = folder
                cls.servers[cert] = harness.start(folder, cert=cert)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for folder in cls.folders.values():
            harness.stop(folder)
            shutil.rmtree(folder, ignore_errors=True)

    def assert_only_plain_reports(self, server, trust):
        self.mailbox("alice", 1, server)
        self.add("Secure", "alice", use_tls=True, server=server)
        self.add("Plain", "alice", server=server)
        self.assertEqual(self.check(trust=trust), b"Plain 1 mail.\n")
        self.assertEqual(self.home.markers()[0], "0")

    def test_test_ca_not_trusted_without_ssl_cert_file(self):
        self.assert_only_plain_reports(SERVER, trust=None)
        # The same data folder with the CA trusted: now it is reported.
        self.assertEqual(self.check(trust=CA), b"Secure 1 mail.\nPlain 1 mail.\n")

    def test_certificates_that_do_not_verify_against_the_test_ca(self):
        for cert in self.CERTS:
            with self.subTest(cert=cert):
                self.home = self.new_home()
                self.assert_only_plain_reports(self.servers[cert], trust=CA)


class FrontEndTest(TavloTestCase):
    def test_check_without_accounts(self):
        self.assertEqual(self.check(), b"")

    def test_bad_arguments_print_usage_and_change_nothing(self):
        self.mailbox("alice", 1)
        self.add("Box", "alice")
        before = self.home.snapshot()
        cases = [
            [],
            ["frobnicate"],
            ["check", "--bogus"],
            ["accounts"],
            ["accounts", "add", "--name", "X", "--server", "127.0.0.1:110", "--user", "u",
             "--type", "SMTP"],
            ["accounts", "add", "--name", "X", "--user", "u"],
            ["accounts", "add", "--name", "X", "--server", "127.0.0.1:110", "--user", "u",
             "--colour", "red"],
            ["accounts", "remove"],
            ["accounts", "remove", "--name", "Box", "--nth", "first"],
        ]
        for args in cases:
            with self.subTest(args=args):
                result = self.home.run(*args, password="pw")
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(result.stdout, b"")
                self.assertIn(b"usage", result.stderr.lower())
                self.assertEqual(self.home.snapshot(), before)

    def test_unreadable_settings_file_is_set_aside_and_defaults_are_used(self):
        garbage = b"this is no settings file\n[broken\n\x00\xff\xfe\n"
        settings = os.path.join(self.home.path, "settings.reg")
        with open(settings, "wb") as f:
            f.write(garbage)
        result = self.home.run("check")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertNotEqual(result.stderr.strip(), b"")
        kept = [name for name, data in self.home.snapshot().items()
                if data == garbage and name != "settings.reg"]
        self.assertEqual(len(kept), 1, "the unreadable file is kept under another name")
        self.assertEqual(self.home.accounts(), [])


def run_tests(script, set_binary):
    """Runs the tests of the __main__ module with the tavlo binary from the
    first argument or $TAVLO_BIN, handed to set_binary; the exit status."""
    args = sys.argv[1:]
    if args and not args[0].startswith("-"):
        binary = os.path.abspath(args.pop(0))
    else:
        binary = os.environ.get("TAVLO_BIN")
    if not binary or not os.access(binary, os.X_OK):
        print(f"{script}: give the tavlo binary as the first argument or in TAVLO_BIN",
              file=sys.stderr)
        return 2
    set_binary(binary)
    program = unittest.main(argv=[sys.argv[0]] + args, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


def main():
    def set_binary(binary):
        global TAVLO
        TAVLO = binary
    return run_tests("test_check_pop3.py", set_binary)


if __name__ == "__main__":
    sys.exit(main())
