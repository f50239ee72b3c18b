#!/usr/bin/env python3
"""UI tests of tavlo.exe's About box and of the fader under Wine.

The same set-up as test_tavlo_exe.py (its Xvfb, Wine prefix and driver): the
program is driven by posted window messages only. The About box opens by the
"About Tavlo..." command (32773) and by the system menu's item 16; its texts
are read from its controls and a screenshot is kept
(artifacts/about-box.png). Closing it (OK, the close box) and closing the
main window to the tray each leave a fader: a layered, click-through,
top-most tool window owned by the main window that lives about half a second.

Environment: as test_tavlo_exe.py.
"""

import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import test_tavlo_exe as ui  # noqa: E402  (the session, the driver, the test case)

Driver = ui.Driver

WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
WM_SYSCOMMAND = 0x0112
ID_OK = 1
CMD_ABOUT = 32773
CMD_CLOSE = 32776
SC_ABOUT = 16
CAPTION = "About Tavlo"
ID_HOMEPAGE, ID_EMAIL, ID_PICTURE = 1027, 1097, 1130

FADER_CLASS = "TavloFaderWindow"
WS_EX_TOPMOST, WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW, WS_EX_LAYERED = 0x8, 0x20, 0x80, 0x80000
FADER_STYLES = WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED


def setUpModule():
    ui.setUpModule()


def tearDownModule():
    ui.tearDownModule()


class AboutBoxTest(ui.TavloTestCase):
    def setUp(self):
        super().setUp()
        # No update check leaving the machine while the tests run.
        Driver.ok("reg-set-int", "App", "CheckForUpdates", 0)

    def texts(self, window):
        result = {}
        for line in Driver.ok("texts", window):
            number, _cls, text = (line.split(" ", 2) + [""])[:3]
            result.setdefault(int(number), text)
        return result

    def all_texts(self, window):
        """Every child's text, the unnumbered statics' too."""
        return [(line.split(" ", 2) + [""])[2] for line in Driver.ok("texts", window)]

    def open_box(self, message, wparam):
        Driver.ok("post", "main", message, wparam, 0)
        code, lines = Driver.run("wait-window", CAPTION, ui.START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the About box did not open")
        return "hwnd:" + lines[0]

    def assert_fades(self, target, message, wparam, main, rect=None):
        """Posts the message and checks the fader that comes and goes."""
        code, lines = Driver.run("post-watch", target, message, wparam, 0, FADER_CLASS, 5000)
        self.assertEqual(code, 0, "no fader, or it stayed: %r" % lines)
        fields = lines[0].split()
        exstyle, owner = int(fields[1]), fields[2]
        self.assertEqual(exstyle & FADER_STYLES, FADER_STYLES, hex(exstyle))
        self.assertEqual(owner, main, "the fader's owner is not the main window")
        self.assertEqual(fields[3], "1", "the fader is not visible")
        if rect is not None:
            self.assertEqual(tuple(int(v) for v in fields[4:8]), rect)
        seen, gone = (int(v) for v in lines[1].split())
        print("fader seen %d ms, gone %d ms after the post" % (seen, gone), file=sys.stderr)
        # 21 ticks of 25 ms; a loaded machine stretches the timer, never
        # shortens it.
        self.assertGreaterEqual(gone - seen, 400)
        self.assertLessEqual(gone, 3000)

    def test_about_command_opens_the_box_and_ok_leaves_a_fader(self):
        Driver.ok("reg-set-int", "App", "Minimized", 1)
        _, main = self.start_main_window()
        box = self.open_box(WM_COMMAND, CMD_ABOUT)
        self.assertEqual(Driver.reg_int("Minimized"), 0)
        shown = self.texts(box)
        self.assertEqual(shown[ID_HOMEPAGE], "Homepage: http://www.tavlo.se/quendel/en")
        self.assertEqual(shown[ID_EMAIL], "E-mail: support@tavlo.se")
        self.assertIn("Tavlo v1.8", self.all_texts(box))
        self.assertEqual(shown[ID_OK], "OK")
        os.makedirs(ui.ARTIFACTS, exist_ok=True)
        subprocess.run(["import", "-window", "root", "-display", ui.Session.display,
                        os.path.join(ui.ARTIFACTS, "about-box.png")], check=True, timeout=30)
        rect = tuple(int(v) for v in Driver.ok("rect", box)[0].split())
        self.assert_fades(box, WM_COMMAND, ID_OK, main, rect)
        self.assertEqual(Driver.run("find", CAPTION)[0], 1, "the About box stayed")

    def test_system_menu_item_opens_the_box_and_its_close_box_leaves_a_fader(self):
        _, main = self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        box = self.open_box(WM_SYSCOMMAND, SC_ABOUT)
        self.assertEqual(self.texts(box)[ID_EMAIL], "E-mail: support@tavlo.se")
        self.assert_fades(box, WM_CLOSE, 0, main)
        self.assertEqual(Driver.run("find", CAPTION)[0], 1, "the About box stayed")

    def test_closing_the_main_window_to_the_tray_leaves_a_fader(self):
        _, main = self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        rect = tuple(int(v) for v in Driver.ok("rect", "main")[0].split())
        self.assert_fades("main", WM_COMMAND, CMD_CLOSE, main, rect)
        self.assertEqual(Driver.run("visible", "main")[1], ["0"])
        self.assertEqual(self.wait_reg_int("Minimized", 1), 1)


if __name__ == "__main__":
    unittest.main()
