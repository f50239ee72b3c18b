#!/usr/bin/env python3
"""End-to-end tests of `tavlo check` with IMAP accounts against a real Dovecot.

    test_check_imap.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN. The server
is the instance named by $TAVLO_DOVECOT_ENV, the one with a certificate of
another CA by $TAVLO_DOVECOT_IMPOSTOR_ENV (their env.json files, as the ctest
fixture "dovecot" sets them); without them the module starts private
instances of its own. This module owns the mailboxes of judy and dave. Every
test gets a fresh, empty data folder (TAVLO_HOME).

What a check of an IMAP account must do (RFC 3501): LOGIN, STATUS "INBOX"
(UNSEEN), STATUS "INBOX" (UIDNEXT) only when unseen mail exists, LOGOUT; the
count is the number of unseen messages, the marker the decimal UIDNEXT. A
login that fails shows the "Error Message" box, which the Linux front end
writes to standard error, and the cycle goes on with the next account.
"""

import imaplib
import os
import shutil
import ssl
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "scripts"))
sys.path.insert(0, HERE)

import dovecot_harness as harness  # noqa: E402
import test_check_pop3 as cli  # noqa: E402  (the data folder and its tavlo runs)

CA = os.path.join(REPO, "tests", "data", "tls", "ca.crt")
BOX_TEXT = (": Connection error! Verify your user name, password and incoming mail server.\n\n"
            "If you have a firewall on your computer, allow Tavlo full access to the Internet.")

SERVER = None    # env of the Dovecot instance
IMPOSTOR = None  # env of the instance whose certificate comes from another CA
_OWN_DIRS = []


def _instance(variable, cert):
    env_file = os.environ.get(variable)
    if env_file:
        return harness.load_env(env_file)
    folder = tempfile.mkdtemp(prefix="tavlo-dovecot-imap-%s-" % cert)
    _OWN_DIRS.append(folder)
    return harness.start(folder, cert=cert)


def setUpModule():
    global SERVER, IMPOSTOR
    try:
        SERVER = _instance("TAVLO_DOVECOT_ENV", "server")
        IMPOSTOR = _instance("TAVLO_DOVECOT_IMPOSTOR_ENV", "impostor")
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    for folder in _OWN_DIRS:
        harness.stop(folder)
        shutil.rmtree(folder, ignore_errors=True)


def password(user, server=None):
    return (server or SERVER)["users"][user]["password"]


def imap_session(user, server=None):
    """Python's own IMAP client, logged in."""
    server = server or SERVER
    imap = imaplib.IMAP4("127.0.0.1", server["ports"]["imap"], timeout=10)
    imap.login(user, password(user, server))
    return imap


def uidnext(user, server=None):
    imap = imap_session(user, server)
    try:
        typ, data = imap.status("INBOX", "(UIDNEXT)")
        assert typ == "OK", data
        return data[0].decode().split("UIDNEXT")[1].strip(" )")
    finally:
        imap.logout()


def mark_all_seen(user, server=None):
    imap = imap_session(user, server)
    try:
        imap.select("INBOX")
        imap.store("1:*", "+FLAGS.SILENT", "(\\Seen)")
    finally:
        imap.logout()


class ImapCheckTestCase(unittest.TestCase):
    def setUp(self):
        self.home = cli.TavloHome()
        self.addCleanup(self.home.remove)

    def check(self, trust=CA):
        """One `tavlo check`: (standard output, standard error) as text."""
        result = self.home.run("check", trust=trust)
        self.assertEqual(result.returncode, 0, result.stderr.decode("latin-1", "replace"))
        return result.stdout.decode("latin-1"), result.stderr.decode("latin-1")

    def mailbox(self, user, count, server=None):
        """Empties the user's mailbox and delivers count unseen messages."""
        server = server or SERVER
        harness.reset(server["dir"], user)
        harness.deliver(server["dir"], user, "Sender <sender@example.test>", "Test mail", count)

    def add(self, name, user, secret=None, use_tls=False, server=None):
        server = server or SERVER
        port = server["ports"]["imaps" if use_tls else "imap"]
        host = "localhost" if use_tls else "127.0.0.1"
        args = ["accounts", "add", "--name", name, "--server", "%s:%d" % (host, port),
                "--user", user, "--type", "IMAP"]
        if use_tls:
            args.append("--ssl")
        secret = password(user, server) if secret is None else secret
        result = self.home.run(*args, password=secret)
        self.assertEqual(result.returncode, 0, result.stderr.decode("latin-1", "replace"))

    def assert_boxes(self, stderr, names):
        """stderr holds exactly the boxes of these accounts, in this order."""
        expected = "".join("Error Message: %s%s\n" % (name, BOX_TEXT) for name in names)
        self.assertEqual(stderr, expected)


class UnseenMailTest(ImapCheckTestCase):
    def test_unseen_count_and_uidnext_marker(self):
        self.mailbox("judy", 3)
        self.add("Work", "judy")
        self.assertEqual(self.check(), ("Work 3 mail.\n", ""))
        marker = uidnext("judy")
        self.assertEqual(self.home.markers(), [marker])

        # Unchanged: the same line again, the same marker.
        self.assertEqual(self.check(), ("Work 3 mail.\n", ""))
        self.assertEqual(self.home.markers(), [marker])

        harness.deliver(SERVER["dir"], "judy", "late@example.test", "Later", 1)
        self.assertEqual(self.check(), ("Work 4 mail.\n", ""))
        self.assertEqual(self.home.markers(), [uidnext("judy")])
        self.assertEqual(int(self.home.markers()[0]), int(marker) + 1)

    def test_read_mail_is_not_reported_and_the_marker_stays(self):
        self.mailbox("judy", 2)
        mark_all_seen("judy")
        self.add("Work", "judy")
        self.assertEqual(self.check(), ("", ""))
        self.assertEqual(self.home.markers(), ["0"])

    def test_password_with_spaces_quotes_and_backslash(self):
        self.mailbox("dave", 1)
        self.assertIn('"', password("dave"))
        self.assertIn("\\", password("dave"))
        self.add("Dave", "dave")
        self.assertEqual(self.check(), ("Dave 1 mail.\n", ""))


class LoginFailureTest(ImapCheckTestCase):
    def test_wrong_password_shows_the_box_and_the_next_account_is_checked(self):
        self.mailbox("judy", 2)
        self.add("Wrong", "judy", secret="not-the-password")
        self.add("Right", "judy")
        out, err = self.check()
        self.assertEqual(out, "Right 2 mail.\n")
        self.assert_boxes(err, ["Wrong"])
        self.assertEqual(self.home.markers(), ["0", uidnext("judy")])

    def test_server_where_nothing_listens(self):
        self.mailbox("judy", 1)
        result = self.home.run("accounts", "add", "--name", "Gone", "--server",
                               "127.0.0.1:%d" % cli.closed_port(), "--user", "judy",
                               "--type", "IMAP", password="x")
        self.assertEqual(result.returncode, 0)
        self.add("Here", "judy")
        out, err = self.check()
        self.assertEqual(out, "Here 1 mail.\n")
        self.assert_boxes(err, ["Gone"])


class ImapsTest(ImapCheckTestCase):
    def test_trusted_server_is_checked_over_tls(self):
        self.mailbox("judy", 1)
        self.add("Secure", "judy", use_tls=True)
        self.assertEqual(self.check(), ("Secure 1 mail.\n", ""))
        self.assertEqual(self.home.markers(), [uidnext("judy")])

    def test_servers_that_cannot_be_verified_are_refused(self):
        self.mailbox("judy", 1)
        self.mailbox("judy", 1, IMPOSTOR)
        self.add("Impostor", "judy", use_tls=True, server=IMPOSTOR)
        self.add("Plain", "judy")
        out, err = self.check()
        self.assertEqual(out, "Plain 1 mail.\n")
        self.assert_boxes(err, ["Impostor"])

        # The test CA's own server, but the CA not trusted.
        self.home = cli.TavloHome()
        self.addCleanup(self.home.remove)
        self.add("Untrusted", "judy", use_tls=True)
        out, err = self.check(trust=None)
        self.assertEqual(out, "")
        self.assert_boxes(err, ["Untrusted"])


def main():
    return cli.run_tests("test_check_imap.py", lambda binary: setattr(cli, "TAVLO", binary))


if __name__ == "__main__":
    sys.exit(main())
