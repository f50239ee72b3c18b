#!/usr/bin/env python3
"""End-to-end tests of `tavlo blocked` and of the sweep that `tavlo check` runs
with a blocked list, against a real Dovecot.

    test_blocked.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN; the server
is the instance named by $TAVLO_DOVECOT_ENV, else a private one. This module
owns the mailbox of tess. Every test gets a fresh data folder (TAVLO_HOME),
where the list lives as Blocklist.txt.
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

EMPTY_TEXT = b"Type Email address or Domain name.\n"
USER = "tess"



def setUpModule():
    cli.setUpModule()  # the fixture's Dovecot, or a private one


def tearDownModule():
    cli.tearDownModule()


def crlf(*entries):
    """The file of these entries: each followed by CR LF."""
    return b"".join(e + b"\r\n" for e in entries)


class BlockedTestCase(cli.TavloTestCase):
    def path(self):
        return os.path.join(self.home.path, "Blocklist.txt")

    def file(self):
        """The bytes of Blocklist.txt, None when there is none."""
        try:
            with open(self.path(), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def write_file(self, data):
        with open(self.path(), "wb") as f:
            f.write(data)

    def blocked(self, *args):
        return self.home.run("blocked", *args)

    def ok(self, *args):
        result = self.blocked(*args)
        self.assertEqual((result.returncode, result.stderr), (0, b""), args)
        return result.stdout

    def listed(self):
        return self.ok("list")


class BlockedCommandsTest(BlockedTestCase):
    def test_add_edit_remove_keep_the_file_in_list_order(self):
        self.assertEqual(self.listed(), b"")
        self.assertIsNone(self.file(), "listing writes nothing")

        # (command, file afterwards); texts are kept exactly: case, blanks.
        steps = [
            (["add", "spam.test"], crlf(b"spam.test")),
            (["add", "Joe@Example.COM"], crlf(b"spam.test", b"Joe@Example.COM")),
            (["add", "  padded.test  "],
             crlf(b"spam.test", b"Joe@Example.COM", b"  padded.test  ")),
            (["add", "   "], crlf(b"spam.test", b"Joe@Example.COM", b"  padded.test  ", b"   ")),
            (["add", "aaa.test"],
             crlf(b"spam.test", b"Joe@Example.COM", b"  padded.test  ", b"   ", b"aaa.test")),
            (["edit", "Joe@Example.COM", "joe@example.com"],
             crlf(b"spam.test", b"joe@example.com", b"  padded.test  ", b"   ", b"aaa.test")),
            (["remove", "   "], crlf(b"spam.test", b"joe@example.com", b"  padded.test  ",
                                     b"aaa.test")),
            (["remove", "spam.test"], crlf(b"joe@example.com", b"  padded.test  ", b"aaa.test")),
            (["edit", "  padded.test  ", "padded.test"],
             crlf(b"joe@example.com", b"padded.test", b"aaa.test")),
        ]
        for args, expected in steps:
            with self.subTest(args=args):
                self.assertEqual(self.ok(*args), b"")
                self.assertEqual(self.file(), expected)
                self.assertEqual(self.listed(), expected.replace(b"\r\n", b"\n"))

        for entry in ("aaa.test", "joe@example.com", "padded.test"):
            self.ok("remove", entry)
        self.assertEqual(self.file(), b"", "the empty list is an empty file")
        self.assertEqual(self.listed(), b"")

    def test_equal_entries_are_told_apart_by_nth(self):
        for entry in ("a.test", "b.test", "a.test", "a.test"):
            self.ok("add", entry)
        steps = [
            (["edit", "a.test", "c.test", "--nth", "2"],
             crlf(b"a.test", b"b.test", b"c.test", b"a.test")),
            (["remove", "a.test", "--nth", "2"], crlf(b"a.test", b"b.test", b"c.test")),
            (["edit", "a.test", "d.test"], crlf(b"d.test", b"b.test", b"c.test")),
            (["remove", "c.test", "--nth", "1"], crlf(b"d.test", b"b.test")),
        ]
        for args, expected in steps:
            with self.subTest(args=args):
                self.ok(*args)
                self.assertEqual(self.file(), expected)

    def test_what_is_refused_changes_nothing(self):
        self.ok("add", "a.test")
        self.ok("add", "Case.Test")
        before = self.file()
        # (arguments, exit status, standard error or None for "some text")
        cases = [
            (["add", ""], 1, EMPTY_TEXT),
            (["edit", "a.test", ""], 1, EMPTY_TEXT),
            (["edit", "case.test", "x.test"], 1, None),  # letter case counts here
            (["remove", "nowhere.test"], 1, None),
            (["remove", "a.test", "--nth", "2"], 1, None),
            (["edit", "a.test", "x.test", "--nth", "2"], 1, None),
        ]
        for args, status, stderr in cases:
            with self.subTest(args=args):
                result = self.blocked(*args)
                self.assertEqual(result.returncode, status)
                self.assertEqual(result.stdout, b"")
                if stderr is None:
                    self.assertNotEqual(result.stderr, b"")
                else:
                    self.assertEqual(result.stderr, stderr)
                self.assertEqual(self.file(), before)

    # The window's field is one line; a text with a line feed, given on the
    # command line, would be stored as one entry and read back as two.
    def test_text_with_a_line_feed_is_refused(self):
        self.ok("add", "a.test")
        result = self.blocked("add", "spam.test\nok.test")
        self.assertEqual(result.returncode, 1)
        self.assertNotEqual(result.stderr, b"")
        self.assertEqual(self.file(), crlf(b"a.test"))
        self.assertEqual(self.listed(), b"a.test\n")

    def test_empty_text_on_an_empty_folder_writes_no_file(self):
        result = self.blocked("add", "")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", EMPTY_TEXT))
        self.assertIsNone(self.file())

    def test_bad_arguments_print_usage_and_change_nothing(self):
        self.ok("add", "a.test")
        before = self.home.snapshot()
        cases = [
            [],
            ["frobnicate"],
            ["add"],
            ["add", "x.test", "y.test"],
            ["add", "x.test", "--nth", "1"],
            ["edit"],
            ["edit", "a.test"],
            ["edit", "a.test", "b.test", "--nth"],
            ["edit", "a.test", "b.test", "--nth", "0"],
            ["edit", "a.test", "b.test", "--nth", "two"],
            ["edit", "a.test", "b.test", "c.test"],
            ["remove"],
            ["remove", "a.test", "--nth", "-1"],
            ["remove", "a.test", "--nth", "1", "--nth", "1"],
            ["remove", "a.test", "--bogus"],
            ["list", "extra"],
        ]
        for args in cases:
            with self.subTest(args=args):
                result = self.blocked(*args)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, b"")
                self.assertIn(b"usage", result.stderr.lower())
                self.assertEqual(self.home.snapshot(), before)


class BlocklistFileTest(BlockedTestCase):
    def test_files_written_by_hand_or_damaged_load(self):
        long_line = b"x" * 1000000
        # (file bytes, what `blocked list` prints)
        cases = [
            (b"only.test", b"only.test\n"),                       # no line end
            (b"a\r\n\r\nb", b"a\n\nb\n"),                          # empty line, last without end
            (b"lf.test\nonly.test\n", b"lf.test\nonly.test\n"),   # LF line ends
            (b"cr\rinside\r\n", b"cr\rinside\n"),                 # a lone CR is text
            (b"a.test\r\nb\x00hidden\r\n\x00\x00\r\nc.test", b"a.test\nb\n\nc.test\n"),  # NULs
            (long_line, long_line + b"\n"),
            (long_line + b"\r\n" + long_line + b"\r\n", long_line + b"\n" + long_line + b"\n"),
        ]
        for data, listed in cases:
            with self.subTest(data=data[:40]):
                self.write_file(data)
                self.assertEqual(self.listed(), listed)
                self.assertEqual(self.file(), data, "reading changes nothing")

    def test_a_loaded_file_is_saved_back_as_its_list(self):
        self.write_file(b"a\r\n\r\nb")
        self.ok("add", "new.test")
        self.assertEqual(self.file(), crlf(b"a", b"", b"b", b"new.test"))

    def test_files_beyond_the_caps_are_listed_in_part_and_never_rewritten(self):
        several_mb = b"".join(b"domain%07d.test\r\n" % i for i in range(400000))  # 7.6 MB
        many = b"e\n" * 150000
        for data in (several_mb, many):
            with self.subTest(size=len(data)):
                self.write_file(data)
                lines = self.listed().split(b"\n")
                self.assertEqual(lines.pop(), b"")
                entries = data.replace(b"\r\n", b"\n").split(b"\n")[:-1]
                self.assertGreater(len(lines), 0)
                self.assertLess(len(lines), len(entries))
                self.assertEqual(lines, entries[:len(lines)], "whole entries from the top")
                result = self.blocked("add", "one-more.test")
                self.assertEqual(result.returncode, 1)
                self.assertNotEqual(result.stderr, b"")
                self.assertEqual(self.file(), data, "a file read in part is not rewritten")


class CheckWithBlockedListTest(BlockedTestCase):
    def logouts(self):
        return harness.pop3_logouts(cli.SERVER["dir"], USER)

    def logged(self, action):
        """Runs action, which opens one POP3 session of the user; its result
        and the session as the server logged it (waited for)."""
        before = len(self.logouts())
        result = action()
        sessions = harness.pop3_logouts(cli.SERVER["dir"], USER, wait_for=before + 1)
        self.assertEqual(len(sessions), before + 1)
        return result, sessions[before]

    def check_session(self):
        """`tavlo check`; its report and its POP3 session."""
        return self.logged(self.check)

    def uidls(self):
        return self.logged(lambda: cli.server_uidls(cli.SERVER, USER))[0]

    def test_check_deletes_the_blocked_domains_mail_and_counts_the_rest(self):
        harness.reset(cli.SERVER["dir"], USER)
        ids = []
        for sender in ("Friend <friend@ok.test>", "Offers <offers@spam.test>",
                       "friend@ok.test", "news@mail.spam.test", "OFFERS@SPAM.TEST",
                       "Deep <x@a.b.spam.test>"):
            ids += harness.deliver(cli.SERVER["dir"], USER, sender, "From " + sender, 1)
        kept = [ids[0], ids[2], ids[5]]
        self.add("Box", USER)
        self.ok("add", "spam.test")

        report, session = self.check_session()
        self.assertEqual(report, b"Box 3 mail.\n")
        self.assertEqual((session["retr"], session["deleted"]), (6, 3))
        self.assertEqual(self.uidls(), kept)
        # The id of message 3 of the listing the session began with.
        self.assertEqual(self.home.markers(), [ids[2]])

        # A new process retrieves every message again; nothing is deleted;
        # the renumbered mailbox gives the newest id.
        report, session = self.check_session()
        self.assertEqual(report, b"Box 3 mail.\n")
        self.assertEqual((session["retr"], session["deleted"]), (3, 0))
        self.assertEqual(self.home.markers(), [ids[5]])

        # Without the entry the list is empty: nothing is retrieved or
        # deleted any more.
        self.ok("remove", "spam.test")
        late = harness.deliver(cli.SERVER["dir"], USER, "offers@spam.test", "Late offer", 1)
        report, session = self.check_session()
        self.assertEqual(report, b"Box 4 mail.\n")
        self.assertEqual((session["retr"], session["deleted"]), (0, 0))
        self.assertEqual(self.uidls(), kept + late)


def main():
    def set_binary(binary):
        cli.TAVLO = binary
    return cli.run_tests("test_blocked.py", set_binary)


if __name__ == "__main__":
    sys.exit(main())
