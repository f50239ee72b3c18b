#!/usr/bin/env python3
"""End-to-end tests of `tavlo accounts test` and `tavlo accounts edit` against a
real Dovecot: the account dialog's Test Account Settings and OK, run on stored
accounts.

    test_accounts.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN; the server
is the instance named by $TAVLO_DOVECOT_ENV, else a private one. This module
owns the mailbox of lena. Every test gets a fresh data folder.
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "scripts"))
sys.path.insert(0, HERE)

import dovecot_harness as harness  # noqa: E402
import test_check_pop3 as cli  # noqa: E402  (the data folder and its tavlo runs)

SUCCEEDED = "Congratulations! The test of your account settings completed successfully.\n"
FAILED = ("The test of your account settings failed! Verify your user name, password and "
          "incoming mail server.\n\nIf you have a firewall on your computer, allow Tavlo full "
          "access to the Internet.\n")
IMAP_WARNING = "Blocked senders / domains does not work with IMAP in this version of Tavlo"

USER = "lena"


def setUpModule():
    cli.setUpModule()  # the fixture's Dovecot, or a private one


def tearDownModule():
    cli.tearDownModule()


def text(data):
    return data.decode("latin-1")


class AccountCommandsTest(cli.TavloTestCase):
    # protocol key, --type, TLS
    PROTOCOLS = [("pop3", "POP3", False), ("pop3s", "POP3", True),
                 ("imap", "IMAP", False), ("imaps", "IMAP", True)]

    def add(self, name, protocol="pop3", kind="POP3", tls=False, password=None, port=None):
        port = cli.SERVER["ports"][protocol] if port is None else port
        args = ["accounts", "add", "--name", name, "--server",
                "%s:%d" % ("localhost" if tls else "127.0.0.1", port), "--user", USER,
                "--type", kind]
        if tls:
            args.append("--ssl")
        if password is None:
            password = cli.SERVER["users"][USER]["password"]
        result = self.home.run(*args, password=password)
        self.assertEqual(result.returncode, 0, text(result.stderr))

    def account_test(self, *args):
        return self.home.run("accounts", "test", *args)

    def test_each_protocol_with_the_right_and_a_wrong_password(self):
        for protocol, kind, tls in self.PROTOCOLS:
            for right in (True, False):
                with self.subTest(protocol=protocol, right=right):
                    self.home = self.new_home()
                    self.add("Box", protocol, kind, tls,
                             password=None if right else "not-lenas")
                    result = self.account_test("--name", "Box")
                    self.assertEqual(text(result.stdout), SUCCEEDED if right else FAILED)
                    self.assertEqual(result.returncode, 0 if right else 1)
                    self.assertEqual(text(result.stderr), "")

    def test_unreachable_server_and_untrusted_certificate_fail(self):
        self.add("Closed", port=cli.closed_port())
        result = self.account_test("--name", "Closed")
        self.assertEqual((result.returncode, text(result.stdout)), (1, FAILED))
        # TLS that cannot be verified fails like a refused login.
        self.add("Untrusted", "pop3s", tls=True)
        result = self.home.run("accounts", "test", "--name", "Untrusted", trust=None)
        self.assertEqual((result.returncode, text(result.stdout)), (1, FAILED))

    def test_nth_picks_among_accounts_of_one_name(self):
        self.add("Work", password="wrong")
        self.add("Work")
        first = self.account_test("--name", "Work")
        second = self.account_test("--name", "Work", "--nth", "2")
        self.assertEqual((first.returncode, text(first.stdout)), (1, FAILED))
        self.assertEqual((second.returncode, text(second.stdout)), (0, SUCCEEDED))
        missing = self.account_test("--name", "Work", "--nth", "3")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("no account named 'Work' with that number", text(missing.stderr))
        self.assertEqual(self.account_test("--nth", "1").returncode, 2)

    def test_edit_keeps_the_marker_and_the_new_settings_pass_the_test(self):
        harness.reset(cli.SERVER["dir"], USER)
        uidls = harness.deliver(cli.SERVER["dir"], USER, "Sender <s@example.test>", "Hello", 2)
        self.add("Old", password="wrong")
        self.add("Other")
        self.check()  # the wrong password finds nothing: marker stays "0"
        self.assertEqual(self.home.markers(), ["0", uidls[-1]])

        # The second account: renamed, to IMAP over TLS; the marker stays.
        result = self.home.run("accounts", "edit", "--name", "Other", "--new-name", "Renamed",
                               "--type", "imap", "--ssl", "--server",
                               "localhost:%d" % cli.SERVER["ports"]["imaps"])
        self.assertEqual(result.returncode, 0, text(result.stderr))
        self.assertEqual(text(result.stderr), "tavlo: %s\n" % IMAP_WARNING)
        self.assertEqual(self.home.accounts()[1],
                         ("Renamed", "IMAP", "SSL", USER,
                          "localhost:%d" % cli.SERVER["ports"]["imaps"], uidls[-1]))
        self.assertEqual(self.account_test("--name", "Renamed").returncode, 0)

        # The first: a new password from standard input makes its test pass.
        result = self.home.run("accounts", "edit", "--name", "Old", "--password",
                               password=cli.SERVER["users"][USER]["password"])
        self.assertEqual(result.returncode, 0, text(result.stderr))
        self.assertEqual(self.home.accounts()[0][1:3], ("POP3", "NORMAL"))
        self.assertEqual(self.account_test("--name", "Old").returncode, 0)

    def test_edit_refusals_change_nothing(self):
        self.add("Box")
        before = self.home.snapshot()
        cases = [
            (["--new-name", ""], 1,
             "Type a descriptive name for the account, for example, Work or Dave(ISP)"),
            (["--user", ""], 1, "Type User Name"),
            (["--server", ""], 1, "Type your Incoming Mail Server"),
            (["--password"], 1, "Type Password"),  # an empty line
            (["--server", "host:0"], 2, "HOST:PORT"),
            (["--ssl", "--no-ssl"], 2, "exclude each other"),
            (["--type", "SMTP"], 2, "--type must be POP3 or IMAP"),
        ]
        for extra, code, message in cases:
            with self.subTest(extra=extra):
                result = self.home.run("accounts", "edit", "--name", "Box", *extra, password="")
                self.assertEqual(result.returncode, code, text(result.stderr))
                self.assertIn(message, text(result.stderr))
                self.assertEqual(self.home.snapshot(), before)
        # The store cannot give this password back: refused, nothing written.
        result = self.home.run("accounts", "edit", "--name", "Box", "--password",
                               password=" 234567890abcdefgh")
        self.assertEqual(result.returncode, 1)
        self.assertIn("The password cannot be stored", text(result.stderr))
        self.assertEqual(self.home.snapshot(), before)
        result = self.home.run("accounts", "edit", "--name", "Nobody", "--user", "x")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.home.snapshot(), before)


def main():
    return cli.run_tests("test_accounts.py", lambda binary: setattr(cli, "TAVLO", binary))


if __name__ == "__main__":
    sys.exit(main())
