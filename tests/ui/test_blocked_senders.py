#!/usr/bin/env python3
"""UI tests of tavlo.exe's blocked senders under Wine.

The same set-up as test_tavlo_exe.py (its Xvfb, Wine prefix and driver): the
program is driven by posted window messages only. The block-sender dialog is
opened by the main window's buttons (posted WM_COMMAND 1070 and 1072) and by
a double click on list box 1075 (a posted LBN_DBLCLK), filled with
WM_SETTEXT and closed with posted WM_COMMAND; message boxes are read through
their children's texts and answered with posted WM_COMMAND. The checks look
at the list box, the buttons, the bytes of "Blocklist.txt", the Dovecot
mailbox, the tray icon's tooltip and a screenshot
(artifacts/block-sender-dialog.png).

tavlo.exe keeps "Blocklist.txt" in its own folder: the suite runs a copy of
the program (with its Sound and Animation folders) in WORK/program, so that
the file never lies beside the build's tavlo.exe that other suites start.

Environment: as test_tavlo_exe.py; TAVLO_DOVECOT_ENV names the Dovecot test
instance (the sweep case skips without it). This module adds and owns the
mailbox of nora.
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import test_tavlo_exe as ui  # noqa: E402  (the session, the driver, the test case)

harness = ui.harness
Driver = ui.Driver

WM_COMMAND = 0x0111
ID_OK, ID_CANCEL, ID_YES, ID_NO = 1, 2, 6, 7
CMD_CHECK_MAIL = 32792
ID_ADD, ID_DELETE, ID_EDIT, ID_LIST = 1070, 1071, 1072, 1075
LBN_DBLCLK = 2
ID_GROUP, ID_LABEL, ID_ADDRESS, ID_NOTE = 1140, 1141, 1139, 1120
ADD_CAPTION = "Add blocked sender / domain"
EDIT_CAPTION = "Change blocked sender / domain"
NOTE = ("Enter a sender's email address or domain to add this to the list of blocked senders. "
        "NOTE! All e-mails from that address or domain will be deleted from the mail server "
        "and this action cannot be undone, so please be very careful.")
EMPTY_FIELD = "Type Email address or Domain name."
DIALOG_RGB = (197, 209, 223)
USER = "nora"
PASSWORD = "nora-secret"

PROGRAM = os.path.join(ui.WORK, "program")
BLOCKLIST = os.path.join(PROGRAM, "Blocklist.txt")


def setUpModule():
    ui.setUpModule()
    # The copy of the program whose folder holds the file under test.
    shutil.rmtree(PROGRAM, ignore_errors=True)
    os.makedirs(PROGRAM)
    built = os.path.dirname(os.path.abspath(ui.EXE))
    shutil.copy2(ui.EXE, os.path.join(PROGRAM, "tavlo.exe"))
    for folder in ("Sound", "Animation"):
        if os.path.isdir(os.path.join(built, folder)):
            shutil.copytree(os.path.join(built, folder), os.path.join(PROGRAM, folder))
    ui.EXE = os.path.join(PROGRAM, "tavlo.exe")


def tearDownModule():
    ui.tearDownModule()


def remove_blocklist():
    if os.path.isdir(BLOCKLIST):
        shutil.rmtree(BLOCKLIST)
    elif os.path.exists(BLOCKLIST):
        os.unlink(BLOCKLIST)


def question(text):
    return "Are you sure you want to delete %s as blocked sender / domain?" % text


class BlockedSendersTest(ui.TavloTestCase):
    def setUp(self):
        super().setUp()
        remove_blocklist()
        Driver.ok("reg-set-int", "App", "Animate", 0)
        Driver.ok("reg-set-int", "App", "CheckForUpdates", 0)

    def tearDown(self):
        super().tearDown()
        remove_blocklist()

    # --- Helpers ---------------------------------------------------------------

    def listing(self):
        """(selected index, items) of list box 1075."""
        lines = Driver.ok("list", "main", ID_LIST)
        return int(lines[0]), lines[1:]

    def wait_listing(self, items, selected, timeout=10.0):
        """Waits until list box 1075 shows items with that selection."""
        deadline = time.monotonic() + timeout
        while True:
            now = self.listing()
            if now == (selected, items) or time.monotonic() > deadline:
                self.assertEqual(now, (selected, items))
                return
            time.sleep(0.1)

    def blocklist(self):
        with open(BLOCKLIST, "rb") as f:
            return f.read()

    def buttons_enabled(self):
        """"1" or "0" for Delete and Edit."""
        return ["".join(Driver.run("item-enabled", "main", i)[1]) for i in (ID_DELETE, ID_EDIT)]

    def open_dialog(self, caption, *how):
        """Opens the block-sender dialog by a posted message (how) and
        returns its window."""
        Driver.ok(*how)
        code, lines = Driver.run("wait-window", caption, ui.START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the dialog %r did not open" % caption)
        return "hwnd:" + lines[0]

    def add(self, text):
        dialog = self.open_dialog(ADD_CAPTION, "post", "main", WM_COMMAND, ID_ADD, 0)
        Driver.ok("set-text", dialog, ID_ADDRESS, text)
        self.close(dialog, ID_OK)

    def delete(self, answer):
        Driver.ok("post", "main", WM_COMMAND, ID_DELETE, 0)
        return self.answer_box(answer)

    def pixel(self, shot, x, y):
        text = subprocess.run(["convert", shot, "-format", "%%[pixel:p{%d,%d}]" % (x, y), "info:"],
                              capture_output=True, check=True, timeout=30).stdout.decode()
        return text.replace("srgb", "").replace("rgb", "")

    # --- Cases -----------------------------------------------------------------

    def test_add_edit_and_delete_keep_list_box_and_file_in_step(self):
        self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        self.assertEqual(self.listing(), (-1, []))
        self.assertEqual(self.buttons_enabled(), ["0", "0"])
        self.assertFalse(os.path.exists(BLOCKLIST))

        # Add: the dialog's English texts over the template's.
        dialog = self.open_dialog(ADD_CAPTION, "post", "main", WM_COMMAND, ID_ADD, 0)
        shown = self.texts(dialog)
        self.assertEqual(shown[ID_GROUP], "Block e-mail address or domain")
        self.assertEqual(shown[ID_LABEL], "Email Address / Domain")
        self.assertEqual(shown[ID_NOTE], NOTE)
        self.assertEqual(shown[ID_ADDRESS], "")
        self.assertEqual(shown[ID_OK], "OK")
        self.assertEqual(shown[ID_CANCEL], "Cancel")
        self.assert_dialog_colours(dialog)

        # OK on an empty field: the message, and the dialog stays open.
        Driver.ok("post", dialog, WM_COMMAND, ID_OK, 0)
        self.assertEqual(self.answer_box(ID_OK), [EMPTY_FIELD])
        self.assertEqual(Driver.run("find", dialog)[0], 0, "the dialog closed")
        self.assertFalse(os.path.exists(BLOCKLIST))

        # A text: the list box shows it selected, the buttons wake, the file
        # holds it with CR LF.
        Driver.ok("set-text", dialog, ID_ADDRESS, "spam@junk.example")
        self.close(dialog, ID_OK)
        self.wait_listing(["spam@junk.example"], 0)
        self.assertEqual(self.buttons_enabled(), ["1", "1"])
        self.assertEqual(self.blocklist(), b"spam@junk.example\r\n")

        # Kept as typed (letter case); shown sorted, stored in order.
        self.add("Abc.Example")
        self.wait_listing(["Abc.Example", "spam@junk.example"], 0)
        self.assertEqual(self.blocklist(), b"spam@junk.example\r\nAbc.Example\r\n")

        # Edit by the button: the entry's text; Cancel keeps everything.
        dialog = self.open_dialog(EDIT_CAPTION, "post", "main", WM_COMMAND, ID_EDIT, 0)
        self.assertEqual(self.texts(dialog)[ID_ADDRESS], "Abc.Example")
        Driver.ok("set-text", dialog, ID_ADDRESS, "changed.example")
        self.close(dialog, ID_CANCEL)
        self.wait_listing(["Abc.Example", "spam@junk.example"], 0)
        self.assertEqual(self.blocklist(), b"spam@junk.example\r\nAbc.Example\r\n")

        # Edit by a double click on the other item: OK replaces it in the
        # sorted list box and in its place in the file.
        Driver.ok("select", "main", ID_LIST, 1)
        dialog = self.open_dialog(EDIT_CAPTION, "notify", "main", ID_LIST, LBN_DBLCLK)
        self.assertEqual(self.texts(dialog)[ID_ADDRESS], "spam@junk.example")
        Driver.ok("set-text", dialog, ID_ADDRESS, "aaa.example")
        self.close(dialog, ID_OK)
        self.wait_listing(["aaa.example", "Abc.Example"], 0)
        self.assertEqual(self.blocklist(), b"aaa.example\r\nAbc.Example\r\n")

        # Delete: No keeps the entry, the file and the selection.
        Driver.ok("select", "main", ID_LIST, 1)
        self.assertEqual(self.delete(ID_NO), [question("Abc.Example")])
        self.wait_listing(["aaa.example", "Abc.Example"], 1)
        self.assertEqual(self.blocklist(), b"aaa.example\r\nAbc.Example\r\n")

        # Yes removes it; the item before it is selected.
        self.assertEqual(self.delete(ID_YES), [question("Abc.Example")])
        self.wait_listing(["aaa.example"], 0)
        self.assertEqual(self.blocklist(), b"aaa.example\r\n")
        self.assertEqual(self.buttons_enabled(), ["1", "1"])

        # The last entry: Delete and Edit grey, the file empty.
        self.assertEqual(self.delete(ID_YES), [question("aaa.example")])
        self.wait_listing([], -1)
        self.assertEqual(self.buttons_enabled(), ["0", "0"])
        self.assertEqual(self.blocklist(), b"")

    def assert_dialog_colours(self, dialog):
        """The dialog, its frame and its static texts stand on the dialog
        colour (screenshot artifacts/block-sender-dialog.png)."""
        shot = os.path.join(ui.ARTIFACTS, "block-sender-dialog.png")
        subprocess.run(["import", "-window", "root", "-display", ui.Session.display, shot],
                       check=True, timeout=30)
        ok_left, ok_top, _, ok_bottom = [int(v) for v in
                                         Driver.ok("item-rect", dialog, ID_OK)[0].split()]
        places = {
            # Bare dialog left of the OK button.
            "dialog": (ok_left - 20, (ok_top + ok_bottom) // 2),
        }
        for control in (ID_LABEL, ID_GROUP, ID_NOTE):
            left, top, right, bottom = [int(v) for v in
                                        Driver.ok("item-rect", dialog, control)[0].split()]
            # The label's text ends before its right edge; the note's last
            # line ends before its bottom.
            places["control %d" % control] = (right - 2, bottom - 2)
        for where, (x, y) in places.items():
            self.assertIn("(%d,%d,%d)" % DIALOG_RGB, self.pixel(shot, x, y), where)

    def test_blocklist_beside_the_program_is_shown_at_start(self):
        with open(BLOCKLIST, "wb") as f:
            f.write(b"a\r\n\r\nb")
        self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        self.wait_listing(["", "a", "b"], -1)
        self.assertEqual(self.buttons_enabled(), ["0", "0"])

        # Selecting an item wakes the buttons; the empty entry can be
        # deleted like any other, and the file is written back whole.
        Driver.ok("select", "main", ID_LIST, 0)
        deadline = time.monotonic() + 10
        while self.buttons_enabled() != ["1", "1"] and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(self.buttons_enabled(), ["1", "1"])
        self.assertEqual(self.delete(ID_YES), [question("")])
        self.wait_listing(["a", "b"], -1)
        self.assertEqual(self.blocklist(), b"a\r\nb\r\n")

        # A text of blanks only is not empty: added as it is.
        self.add("   ")
        self.wait_listing(["   ", "a", "b"], 0)
        self.assertEqual(self.blocklist(), b"a\r\nb\r\n   \r\n")

    def test_a_file_that_cannot_be_written_is_reported_by_name(self):
        # A folder in the file's place: it cannot be read (an empty list,
        # no message) and not replaced.
        os.makedirs(BLOCKLIST)
        try:
            self.start_main_window()
            Driver.ok("wait-visible", "main", 1, 10000)
            self.wait_listing([], -1)
            before = sorted(os.listdir(PROGRAM))

            dialog = self.open_dialog(ADD_CAPTION, "post", "main", WM_COMMAND, ID_ADD, 0)
            Driver.ok("set-text", dialog, ID_ADDRESS, "x.example")
            Driver.ok("post", dialog, WM_COMMAND, ID_OK, 0)
            shown = self.answer_box(ID_OK)
            self.assertEqual(len(shown), 1, shown)
            written = "An error occurred while writing to %s." % ui.windows_path(BLOCKLIST)
            self.assertTrue(shown[0].lower().startswith(written.lower()), shown)
            # What the command did before saving stays; nothing is left
            # behind in the program's folder.
            self.wait_listing(["x.example"], 0)
            self.assertEqual(self.buttons_enabled(), ["1", "1"])
            self.assertTrue(os.path.isdir(BLOCKLIST))
            self.assertEqual(sorted(os.listdir(PROGRAM)), before)
        finally:
            remove_blocklist()

    def test_check_deletes_only_the_blocked_senders_mail(self):
        env_file = os.environ.get("TAVLO_DOVECOT_ENV")
        if not env_file or not os.path.exists(env_file):
            self.skipTest("TAVLO_DOVECOT_ENV does not name a running Dovecot test instance")
        dovecot = harness.load_env(env_file)
        directory = dovecot["dir"]
        harness.add_user(directory, USER, PASSWORD)
        harness.reset(directory, USER)
        # A blocked sender's mail (a sub-domain of the blocked domain, with a
        # display name) between two messages of a friend.
        kept = harness.deliver(directory, USER, "friend@example.org", "Hello", count=1)
        blocked = harness.deliver(directory, USER, "Spam Bot <bot@mail.junk.example>",
                                  "Offer", count=2)
        kept += harness.deliver(directory, USER, "friend@example.org", "Again", count=1)
        server = "%s:%d" % (dovecot["host"], dovecot["ports"]["pop3"])
        Driver.ok("add-account", "Work", USER, PASSWORD, server, "NORMAL", "POP3")

        # The first check (5.3 s after the start) counts all four.
        self.start_main_window()
        _, marker = Driver.ok("wait-marker", 0, "0", 30000)[0].split(" ", 1)
        self.assertEqual(marker, kept[-1])
        self.assertEqual(self.wait_tip("Work 4 mail."), "Work 4 mail.")
        self.assertEqual(sorted(self.mailbox()), sorted(kept + blocked))

        # Block the domain through the window (hidden, as with accounts).
        self.add("junk.example")
        self.wait_listing(["junk.example"], 0)
        self.assertEqual(self.blocklist(), b"junk.example\r\n")

        # "Check For Mail": the blocked sender's mail is gone from the
        # server, the friend's stays and is what the tooltip counts.
        Driver.ok("post", "main", WM_COMMAND, CMD_CHECK_MAIL, 0)
        deadline = time.monotonic() + 30
        while sorted(self.mailbox()) != sorted(kept) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(sorted(self.mailbox()), sorted(kept))
        self.assertEqual(self.wait_tip("Work 2 mail."), "Work 2 mail.")
        # The marker is the unique id of message number 2 in the listing
        # taken before the deletions: the first blocked message. The next
        # check, on the renumbered mailbox, takes the newest message's id.
        self.assertEqual(Driver.ok("markers"), [blocked[0]])
        Driver.ok("post", "main", WM_COMMAND, CMD_CHECK_MAIL, 0)
        _, marker = Driver.ok("wait-marker", 0, blocked[0], 30000)[0].split(" ", 1)
        self.assertEqual(marker, kept[-1])
        self.assertEqual(sorted(self.mailbox()), sorted(kept))
        self.assertEqual(self.wait_tip("Work 2 mail."), "Work 2 mail.")

    def mailbox(self):
        """The Maildir file names (the POP3 unique ids) of nora's messages."""
        path = harness.maildir(harness.load_env(os.environ["TAVLO_DOVECOT_ENV"])["dir"], USER)
        names = []
        for sub in ("new", "cur"):
            # Dovecot adds ":2,FLAGS" when it moves a message to cur.
            names += [n.split(":", 1)[0] for n in os.listdir(os.path.join(path, sub))]
        return names

    def wait_tip(self, wanted, timeout=20.0):
        """The tray tooltip that equals wanted, or the last ones seen."""
        deadline = time.monotonic() + timeout
        while True:
            tips = Driver.ok("tray-tips")
            if wanted in tips or time.monotonic() > deadline:
                return wanted if wanted in tips else tips
            time.sleep(0.2)


if __name__ == "__main__":
    unittest.main()
