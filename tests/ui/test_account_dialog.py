#!/usr/bin/env python3
"""UI tests of tavlo.exe's account dialog and account commands under Wine.

The same set-up as test_tavlo_exe.py (its Xvfb, Wine prefix and driver): the
program is driven by posted window messages only. The dialog's fields are
set with WM_SETTEXT, its buttons pressed with posted WM_COMMAND, message
boxes read through their children's texts and answered with posted
WM_COMMAND; the checks look at the windows, the registry and a screenshot
(artifacts/account-dialog.png).

Environment: as test_tavlo_exe.py; TAVLO_DOVECOT_ENV names the Dovecot test
instance (the tests skip without it). This module owns the mailbox of mona.
"""

import os
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
ID_OK, ID_YES, ID_NO = 1, 6, 7
CMD_ADD, CMD_DELETE, CMD_EDIT = 1069, 1067, 1068
ID_NAME, ID_PASSWORD, ID_SERVER, ID_USER, ID_TEST = 1007, 1004, 1009, 1072, 4
ADD_CAPTION = "Add a new e-mail account"
EDIT_CAPTION = "View or change e-mail account settings"
SUCCEEDED = "Congratulations! The test of your account settings completed successfully."
FAILED = ("The test of your account settings failed! Verify your user name, password and "
          "incoming mail server.||If you have a firewall on your computer, allow Tavlo full "
          "access to the Internet.")
USER = "mona"


def setUpModule():
    ui.setUpModule()


def tearDownModule():
    ui.tearDownModule()


class AccountDialogTest(ui.TavloTestCase):
    def setUp(self):
        env_file = os.environ.get("TAVLO_DOVECOT_ENV")
        if not env_file or not os.path.exists(env_file):
            self.skipTest("TAVLO_DOVECOT_ENV does not name a running Dovecot test instance")
        super().setUp()
        self.dovecot = harness.load_env(env_file)
        self.password = self.dovecot["users"][USER]["password"]
        harness.reset(self.dovecot["dir"], USER)
        self.uidls = harness.deliver(self.dovecot["dir"], USER, "sender@example.org",
                                     "Account dialog test", count=2)
        self.server = "%s:%d" % (self.dovecot["host"], self.dovecot["ports"]["pop3"])
        Driver.ok("reg-set-int", "App", "Animate", 0)
        Driver.ok("reg-set-int", "App", "CheckForUpdates", 0)

    def open_dialog(self, command, caption):
        Driver.ok("post", "main", WM_COMMAND, command, 0)
        code, lines = Driver.run("wait-window", caption, ui.START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the account dialog did not open")
        return "hwnd:" + lines[0]

    def fill(self, dialog, name, user, password, server):
        for control, value in ((ID_NAME, name), (ID_USER, user), (ID_PASSWORD, password),
                               (ID_SERVER, server)):
            Driver.ok("set-text", dialog, control, value)

    def test_add_test_edit_and_delete_through_the_dialog(self):
        _, main = self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        self.assertEqual(Driver.ok("item-enabled", "main", CMD_ADD), ["1"])

        dialog = self.open_dialog(CMD_ADD, ADD_CAPTION)
        shown = self.texts(dialog)
        self.assertEqual(shown[1108], "Account Settings")
        self.assertEqual(shown[4], "Test Account Settings")
        self.fill(dialog, "Work", USER, self.password, self.server)
        shot = os.path.join(ui.ARTIFACTS, "account-dialog.png")
        subprocess.run(["import", "-window", "root", "-display", ui.Session.display, shot],
                       check=True, timeout=30)

        # The test button: success, then a wrong password's failure; the
        # dialog stays open after each.
        Driver.ok("post", dialog, WM_COMMAND, ID_TEST, 0)
        self.assertEqual(self.answer_box(ID_OK), [SUCCEEDED])
        Driver.ok("set-text", dialog, ID_PASSWORD, "not-monas")
        Driver.ok("post", dialog, WM_COMMAND, ID_TEST, 0)
        self.assertEqual(self.answer_box(ID_OK), [FAILED])
        self.assertEqual(Driver.run("find", dialog)[0], 0, "the dialog closed")

        # OK stores the account; its first check runs about 5 s later.
        Driver.ok("set-text", dialog, ID_PASSWORD, self.password)
        pressed = float(Driver.ok("now")[0])
        Driver.ok("post", dialog, WM_COMMAND, ID_OK, 0)
        self.assertEqual(Driver.run("wait-gone", dialog, 10000)[0], 0)
        seen, marker = Driver.ok("wait-marker", 0, "0", 20000)[0].split(" ", 1)
        after = float(seen) - pressed
        print("first check seen %.2f s after OK" % after, file=sys.stderr)
        self.assertGreaterEqual(after, 4.5)
        self.assertLessEqual(after, 9.0)
        self.assertEqual(marker, self.uidls[-1])
        self.assertEqual(Driver.ok("accounts"),
                         ["Work\tPOP3\tNORMAL\t%s\t%s\t%s" % (USER, self.server, marker)])
        self.assertEqual(Driver.ok("item-enabled", "main", CMD_DELETE), ["1"])

        # Edit: renamed, the marker kept.
        dialog = self.open_dialog(CMD_EDIT, EDIT_CAPTION)
        self.assertEqual(self.texts(dialog)[ID_NAME], "Work")
        Driver.ok("set-text", dialog, ID_NAME, "Home")
        Driver.ok("post", dialog, WM_COMMAND, ID_OK, 0)
        self.assertEqual(Driver.run("wait-gone", dialog, 10000)[0], 0)
        deadline = time.monotonic() + 10
        while Driver.ok("accounts")[0].split("\t")[0] != "Home" and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(Driver.ok("accounts"),
                         ["Home\tPOP3\tNORMAL\t%s\t%s\t%s" % (USER, self.server, marker)])

        # Delete: No keeps it, Yes removes it and greys Delete and Edit.
        Driver.ok("post", "main", WM_COMMAND, CMD_DELETE, 0)
        self.assertEqual(self.answer_box(ID_NO),
                         ["Are you sure you want to delete your account (Home)?"])
        self.assertEqual(len(Driver.ok("accounts")), 1)
        Driver.ok("post", "main", WM_COMMAND, CMD_DELETE, 0)
        self.assertEqual(self.answer_box(ID_YES),
                         ["Are you sure you want to delete your account (Home)?"])
        deadline = time.monotonic() + 10
        while Driver.ok("accounts") and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(Driver.ok("accounts"), [])
        self.assertEqual(Driver.run("item-enabled", "main", CMD_DELETE)[1], ["0"])
        self.assertEqual(Driver.run("item-enabled", "main", CMD_EDIT)[1], ["0"])
        self.assertEqual(Driver.ok("find", "main"), [main])


if __name__ == "__main__":
    unittest.main()
