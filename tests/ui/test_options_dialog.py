#!/usr/bin/env python3
"""UI tests of tavlo.exe's options dialog ("Settings...") under Wine.

The same set-up as test_tavlo_exe.py (its Xvfb, Wine prefix and driver): the
program is driven by posted window messages only. The interval is chosen
with CB_SETCURSEL and a posted CBN_SELCHANGE, OK and Cancel are posted
WM_COMMANDs; the checks look at the dialog's texts, the registry, the next
check's timing and screenshots (artifacts/options-dialog.png and
artifacts/options-picture-N.png).

Environment: as test_tavlo_exe.py; TAVLO_DOVECOT_ENV names the Dovecot test
instance (the timing case skips without it). This module adds and owns the
mailbox of olga.
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
ID_OK, ID_CANCEL = 1, 2
CMD_SETTINGS = 32793
ID_INTERVAL, ID_PICTURE, ID_SOUND_FILE = 1033, 1133, 1041
CAPTION = "Settings"
USER = "olga"
PASSWORD = "olga-secret"


def setUpModule():
    ui.setUpModule()


def tearDownModule():
    ui.tearDownModule()


class OptionsDialogTest(ui.TavloTestCase):
    def open_dialog(self):
        Driver.ok("post", "main", WM_COMMAND, CMD_SETTINGS, 0)
        code, lines = Driver.run("wait-window", CAPTION, ui.START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the options dialog did not open")
        return "hwnd:" + lines[0]

    def shot(self, name, crop=None):
        os.makedirs(ui.ARTIFACTS, exist_ok=True)
        path = os.path.join(ui.ARTIFACTS, name)
        args = ["import", "-window", "root", "-display", ui.Session.display]
        if crop:
            args += ["-crop", crop, "+repage"]
        subprocess.run(args + [path], check=True, timeout=30)
        return path

    def test_texts_picture_cancel_and_ok(self):
        Driver.ok("reg-set-int", "App", "Autostart", 0)
        Driver.ok("reg-set-int", "App", "SearchForMail", 45)
        self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)

        dialog = self.open_dialog()
        shown = self.texts(dialog)
        self.assertEqual(shown[1108], "Startup")
        self.assertEqual(shown[1044], "Start Tavlo when I start Windows")
        self.assertEqual(shown[1069], "Play")
        self.assertEqual(shown[ID_CANCEL], "Cancel")
        self.assertEqual(shown[ID_INTERVAL], "10")  # 45 is out of range
        self.shot("options-dialog.png")

        # The picture plays: two shots of control 1133 a few hundred
        # milliseconds apart differ (15 frames of 20 ms).
        left, top, right, bottom = [int(v) for v in
                                    Driver.ok("item-rect", dialog, ID_PICTURE)[0].split()]
        crop = "%dx%d+%d+%d" % (right - left, bottom - top, left, top)
        shots = []
        for n in range(6):
            path = self.shot("options-picture-%d.png" % n, crop)
            shots.append(subprocess.run(["convert", path, "rgb:-"], capture_output=True,
                                        check=True, timeout=30).stdout)
            if len(set(shots)) > 1:
                break
            time.sleep(0.3)
        self.assertGreater(len(set(shots)), 1, "control 1133 did not change")

        # Cancel stores nothing, even what was changed.
        Driver.ok("select", dialog, ID_INTERVAL, 2)
        Driver.ok("set-text", dialog, ID_SOUND_FILE, "C:\\nothing.wav")
        self.close(dialog, ID_CANCEL)
        self.assertEqual(Driver.reg_int("SearchForMail"), 45)
        for name in ("Sound", "CheckForUpdates"):
            self.assertIsNone(Driver.reg_int(name), "%s was stored on Cancel" % name)

        # OK stores the choice and the values of the dialog.
        dialog = self.open_dialog()
        Driver.ok("select", dialog, ID_INTERVAL, 29)
        self.close(dialog, ID_OK)
        self.assertEqual(self.wait_reg_int("SearchForMail", 29), 29)
        self.assertEqual(Driver.reg_int("Sound"), 1)
        self.assertEqual(Driver.reg_int("Autostart"), 0)
        self.assertEqual(Driver.run("autostart")[0], 1, "an autostart entry appeared")

    def test_ok_restarts_the_check_timer_without_a_check(self):
        env_file = os.environ.get("TAVLO_DOVECOT_ENV")
        if not env_file or not os.path.exists(env_file):
            self.skipTest("TAVLO_DOVECOT_ENV does not name a running Dovecot test instance")
        dovecot = harness.load_env(env_file)
        harness.add_user(dovecot["dir"], USER, PASSWORD)
        harness.reset(dovecot["dir"], USER)
        first = harness.deliver(dovecot["dir"], USER, "sender@example.org", "Options", count=1)
        server = "%s:%d" % (dovecot["host"], dovecot["ports"]["pop3"])
        for name in ("Animate", "CheckForUpdates", "Autostart"):
            Driver.ok("reg-set-int", "App", name, 0)
        Driver.ok("add-account", "Work", USER, PASSWORD, server, "NORMAL", "POP3")
        self.start_main_window()
        # The first check, 5.3 s after the start, takes the newest message.
        seen, marker = Driver.ok("wait-marker", 0, "0", 30000)[0].split(" ", 1)
        self.assertEqual(marker, first[-1])

        # One minute from OK on; no check at once.
        later = harness.deliver(dovecot["dir"], USER, "sender@example.org", "Options", count=1)
        dialog = self.open_dialog()
        Driver.ok("select", dialog, ID_INTERVAL, 0)
        pressed = float(Driver.ok("now")[0])
        self.close(dialog, ID_OK)
        self.assertEqual(self.wait_reg_int("SearchForMail", 0), 0)
        code, lines = Driver.run("wait-marker", 0, marker, 90000)
        self.assertEqual(code, 0, "no check within 90 s of OK")
        seen, new_marker = lines[0].split(" ", 1)
        after = float(seen) - pressed
        print("next check seen %.2f s after OK" % after, file=sys.stderr)
        self.assertGreaterEqual(after, 55.0)
        self.assertLessEqual(after, 70.0)
        self.assertEqual(new_marker, later[-1])


if __name__ == "__main__":
    unittest.main()
