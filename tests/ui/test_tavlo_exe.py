#!/usr/bin/env python3
"""UI tests of tavlo.exe under Wine.

The suite runs on the Linux host. It starts a virtual X display of its own
(Xvfb), a throwaway Wine prefix whose default desktop is Wine's desktop with
taskbar and notification area, and then tavlo.exe and the driver
tavlo_uidriver.exe inside it. The program is driven only by posted window
messages; the checks look at its windows, its tray icon, its registry values
and a screenshot.

Environment (ctest sets it):
    TAVLO_EXE          the built tavlo.exe
    TAVLO_UIDRIVER     the built tavlo_uidriver.exe
    TAVLO_UI_WORK      folder for the Wine prefix and the artifacts
                       (artifacts/popup.png)
    TAVLO_UI_WINEPREFIX  optional: the prefix folder (default WORK/wineprefix);
                       it is deleted and created afresh
    TAVLO_DOVECOT_ENV  optional: env.json of the Dovecot test instance; the
                       mail case skips without it
"""

import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import dovecot_harness as harness  # noqa: E402

EXE = os.environ.get("TAVLO_EXE", "")
DRIVER = os.environ.get("TAVLO_UIDRIVER", "")
WORK = os.environ.get("TAVLO_UI_WORK", os.path.join(os.getcwd(), "ui-work"))
PREFIX = os.environ.get("TAVLO_UI_WINEPREFIX", os.path.join(WORK, "wineprefix"))
ARTIFACTS = os.path.join(WORK, "artifacts")

DESKTOP_SIZE = (1024, 768)
FIRST_DISPLAY = 80

# Window messages and commands of the main window.
WM_PAINT = 0x000F
WM_COMMAND = 0x0111
ID_CANCEL = 2
CMD_CLOSE = 32776
CMD_EXIT = 32771

# The popup's skin is 148 x 120 pixels and stands 15 pixels inside the work
# area's right edge; its flat panel has this colour.
SKIN_W, SKIN_H, RIGHT_INSET = 148, 120, 15
PANEL_RGB = (197, 209, 223)

# Message boxes without a caption of their own carry the application's name.
BOX = "tavlo"

# Generous: a Wine process start is well under a second here, but the
# machine is shared.
START_TIMEOUT_MS = 20000
END_TIMEOUT_S = 15


class Session:
    """The X display, the Wine prefix and its server, shared by all tests."""

    xvfb = None
    display = None
    env = None
    wineserver = None

    @classmethod
    def start(cls):
        cls.display, cls.xvfb = cls._start_xvfb()
        cls.env = dict(os.environ)
        cls.env.update({
            "DISPLAY": cls.display,
            "WINEPREFIX": PREFIX,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree=;mshtml=",
        })
        shutil.rmtree(PREFIX, ignore_errors=True)
        os.makedirs(PREFIX)
        cls._start_wineserver()
        cls.wine(["wineboot"], timeout=180)
        # Every program of the prefix runs on one desktop that has a taskbar
        # with a notification area, so that window look-ups of the driver see
        # tavlo.exe's windows.
        explorer = r"HKCU\Software\Wine\Explorer"
        cls.wine(["reg", "add", explorer, "/v", "Desktop", "/d", "Default", "/f"])
        cls.wine(["reg", "add", explorer + r"\Desktops", "/v", "Default",
                  "/d", "%dx%d" % DESKTOP_SIZE, "/f"])
        cls.wine(["reg", "add", explorer + r"\Desktops\Default", "/v", "EnableShell",
                  "/t", "REG_DWORD", "/d", "1", "/f"])
        # wineboot brought up a desktop of the old settings: start afresh.
        subprocess.run(["wineserver", "-k"], env=cls.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-w"], env=cls.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        cls._start_wineserver()
        # The first window look-up brings the desktop up; its process lives
        # on, so it must not inherit a pipe of ours.
        cls.wine([DRIVER, "wait-window", "class:Shell_TrayWnd", "20000"], check=False)
        if Driver.run("find", "class:Shell_TrayWnd")[0] != 0:
            raise RuntimeError("Wine's desktop has no taskbar")

    @classmethod
    def _start_wineserver(cls):
        if cls.wineserver is not None:
            cls.wineserver.wait(timeout=60)  # told to end by "wineserver -k"
        # Detached, so that no Wine helper holds the test runner's pipes.
        cls.wineserver = subprocess.Popen(["wineserver", "-p"], env=cls.env,
                                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, start_new_session=True)

    @classmethod
    def stop(cls):
        if cls.env is not None:
            subprocess.run(["wineserver", "-k"], env=cls.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        if cls.wineserver is not None:
            cls.wineserver.wait(timeout=60)
            cls.wineserver = None
        if cls.xvfb is not None:
            cls.xvfb.terminate()
            cls.xvfb.wait(timeout=15)

    @staticmethod
    def _start_xvfb():
        for n in range(FIRST_DISPLAY, FIRST_DISPLAY + 40):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            process = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", "%dx%dx24" % DESKTOP_SIZE, "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if process.poll() is not None:
                    break  # lost a race for the display: try the next
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    return ":%d" % n, process
                time.sleep(0.05)
            if process.poll() is None:
                process.kill()
                process.wait()
        raise RuntimeError("no free X display from :%d up" % FIRST_DISPLAY)

    @classmethod
    def wine(cls, args, timeout=60, check=True):
        # Output to nowhere: helpers that Wine starts (services, the desktop)
        # outlive the call and would hold a pipe open.
        subprocess.run(["wine"] + args, env=cls.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                       check=check)


def setUpModule():
    if not EXE or not DRIVER:
        raise unittest.SkipTest("TAVLO_EXE and TAVLO_UIDRIVER name the programs under test")
    os.makedirs(ARTIFACTS, exist_ok=True)
    try:
        Session.start()
    except BaseException:
        Session.stop()
        raise


def tearDownModule():
    Session.stop()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Driver:
    """tavlo_uidriver.exe: one command per call."""

    @staticmethod
    def run(*args, timeout=60):
        result = subprocess.run(["wine", DRIVER] + [str(a) for a in args], env=Session.env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        lines = result.stdout.decode("latin-1").replace("\r", "").splitlines()
        return result.returncode, lines

    @classmethod
    def ok(cls, *args, timeout=60):
        """Runs a command that must succeed; its output lines."""
        code, lines = cls.run(*args, timeout=timeout)
        if code != 0:
            raise AssertionError("driver %s: exit code %d, output %r" % (args, code, lines))
        return lines

    @classmethod
    def reg_int(cls, name, section="App"):
        code, lines = cls.run("reg-int", section, name)
        return int(lines[0]) if code == 0 else None


class TavloTestCase(unittest.TestCase):
    def setUp(self):
        self.processes = []
        # A first start: no settings, no accounts, no autostart entry, and no
        # copy of the program left running.
        Driver.ok("wait-gone", "main", 10000)
        Driver.ok("reset")

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                Driver.run("post", "main", WM_COMMAND, CMD_EXIT, 0)
                try:
                    process.wait(timeout=END_TIMEOUT_S)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()

    def start_tavlo(self):
        process = subprocess.Popen(["wine", EXE], env=Session.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def start_main_window(self):
        """Starts tavlo.exe and waits for its main window; (process, window)."""
        process = self.start_tavlo()
        code, lines = Driver.run("wait-window", "main", START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the main window did not appear")
        return process, lines[0]

    def wait_reg_int(self, name, value, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            now = Driver.reg_int(name)
            if now == value or time.monotonic() > deadline:
                return now
            time.sleep(0.1)

    def wait_exit(self, process):
        try:
            return process.wait(timeout=END_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            self.fail("tavlo.exe did not end")

    @staticmethod
    def texts(window):
        """{id: text} of a window's children."""
        result = {}
        for line in Driver.ok("texts", window):
            number, _cls, text = (line.split(" ", 2) + [""])[:3]
            result.setdefault(int(number), text)
        return result

    def close(self, dialog, button):
        """Presses a dialog's button by a posted command; the dialog ends."""
        Driver.ok("post", dialog, WM_COMMAND, button, 0)
        self.assertEqual(Driver.run("wait-gone", dialog, 10000)[0], 0, "the dialog stayed")

    def answer_box(self, button):
        """The texts of the application's message box (its longer ones: not
        the buttons), after it was answered with button."""
        code, lines = Driver.run("wait-window", BOX, START_TIMEOUT_MS)
        self.assertEqual(code, 0, "no message box")
        box = "hwnd:" + lines[0]
        texts = [t for t in self.texts(box).values() if len(t) > 12]
        Driver.ok("post", box, WM_COMMAND, button, 0)
        self.assertEqual(Driver.run("wait-gone", box, 10000)[0], 0, "the box stayed")
        return texts

    def tray_window(self):
        code, lines = Driver.run("wait-window", "class:TavloTrayWindow", START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the tray's window does not exist")
        return "hwnd:" + lines[0]

    def assert_tray_icon(self, tray, present):
        code, _ = Driver.run("wait-tray-icon", tray, 1 if present else 0, 10000)
        self.assertEqual(code, 0, "tray icon expected %s" % ("present" if present else "removed"))


class StartAndEndTest(TavloTestCase):
    def test_first_start_without_accounts_shows_the_window(self):
        process, _ = self.start_main_window()
        self.assertEqual(Driver.run("wait-visible", "main", 1, 10000)[0], 0,
                         "the main window is not visible")
        self.assertEqual(self.wait_reg_int("Minimized", 0), 0)
        self.assert_tray_icon(self.tray_window(), True)
        # The autostart entry names the executable with the extension in
        # capitals, as the program's own path is reported by the system.
        autostart = Driver.ok("autostart")[0].strip('"')
        self.assertEqual(autostart.lower(), windows_path(EXE).lower())
        self.assertTrue(autostart.endswith(".EXE"), autostart)
        self.assertEqual(Driver.ok("markers"), [])
        self.assertIsNone(process.poll())

    def test_second_copy_hands_over_to_the_first_and_exits_with_0(self):
        first, window = self.start_main_window()
        Driver.ok("post", "main", WM_COMMAND, CMD_CLOSE, 0)
        Driver.ok("wait-visible", "main", 0, 10000)
        self.assertEqual(self.wait_reg_int("Minimized", 1), 1)

        second = self.start_tavlo()
        self.assertEqual(self.wait_exit(second), 0)
        self.assertEqual(Driver.ok("wait-visible", "main", 1, 10000), ["1"])
        self.assertEqual(Driver.reg_int("Minimized"), 0)
        self.assertEqual(Driver.ok("find", "main"), [window], "the first copy's window")
        self.assertEqual(Driver.ok("foreground"), [window])
        # The handed-over window is meant to be shown: a repaint keeps it.
        Driver.ok("post", "main", WM_PAINT, 0, 0)
        time.sleep(1.0)
        self.assertEqual(Driver.ok("visible", "main"), ["1"])
        self.assertIsNone(first.poll(), "the first copy ended")

    def test_exit_removes_the_tray_icon_and_ends_with_1(self):
        process, _ = self.start_main_window()
        tray = self.tray_window()
        self.assert_tray_icon(tray, True)
        Driver.ok("post", "main", WM_COMMAND, CMD_EXIT, 0)
        self.assertEqual(self.wait_exit(process), 1)
        self.assert_tray_icon(tray, False)

    def test_escape_in_the_visible_window_ends_the_program(self):
        process, _ = self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        tray = self.tray_window()
        self.assert_tray_icon(tray, True)
        Driver.ok("post", "main", WM_COMMAND, ID_CANCEL, 0)
        # The modal run ends normally, unlike "Exit".
        self.assertEqual(self.wait_exit(process), 0)
        self.assert_tray_icon(tray, False)
        self.assertEqual(Driver.run("find", "main")[0], 1)

    def test_closed_window_hides_again_when_shown_and_repainted(self):
        process, _ = self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        Driver.ok("post", "main", WM_COMMAND, CMD_CLOSE, 0)
        Driver.ok("wait-visible", "main", 0, 10000)
        self.assertEqual(self.wait_reg_int("Minimized", 1), 1)
        # Something else shows the window; its next paint hides it again
        # while "Minimized" is 1.
        Driver.ok("show", "main")
        Driver.ok("redraw", "main")
        Driver.ok("post", "main", WM_PAINT, 0, 0)
        self.assertEqual(Driver.run("wait-visible", "main", 0, 5000)[0], 0,
                         "the closed window stayed visible after a repaint")
        time.sleep(1.0)
        self.assertEqual(Driver.run("visible", "main")[1], ["0"])
        self.assertEqual(Driver.reg_int("Minimized"), 1)
        self.assertIsNone(process.poll())

    def test_main_window_picture_moves(self):
        """Control 1130 plays GIF 291: two screenshots of its rectangle taken
        a few hundred milliseconds apart differ."""
        self.start_main_window()
        Driver.ok("wait-visible", "main", 1, 10000)
        left, top, right, bottom = [int(v) for v in Driver.ok("item-rect", "main", 1130)[0].split()]
        # The control takes the picture's size (48 x 32).
        self.assertEqual((right - left, bottom - top), (48, 32))
        os.makedirs(ARTIFACTS, exist_ok=True)
        shots = []
        crop = "%dx%d+%d+%d" % (right - left, bottom - top, left, top)
        # The frames show 60 to 1200 ms each: a difference within two seconds
        # of 400 ms steps is certain.
        for n in range(6):
            shot = os.path.join(ARTIFACTS, "picture-%d.png" % n)
            subprocess.run(["import", "-window", "root", "-display", Session.display,
                            "-crop", crop, "+repage", shot], check=True, timeout=30)
            raw = subprocess.run(["convert", shot, "rgb:-"], capture_output=True, check=True,
                                 timeout=30).stdout
            self.assertEqual(len(raw), (right - left) * (bottom - top) * 3)
            shots.append(raw)
            if len(set(shots)) > 1:
                break
            time.sleep(0.4)
        self.assertGreater(len(set(shots)), 1, "control 1130 did not change in %d shots" % len(shots))
        # Not an empty area: the picture has the envelope's ink in it.
        self.assertGreater(len(set(shots[0][i:i + 3] for i in range(0, len(shots[0]), 3))), 2)

    def test_out_of_range_settings_do_not_stop_the_start(self):
        for name, value in (("SearchForMail", 45), ("MailClient", 7), ("Minimized", 2)):
            Driver.ok("reg-set-int", "App", name, value)
        process, _ = self.start_main_window()
        self.assertEqual(Driver.run("wait-visible", "main", 1, 10000)[0], 0)
        self.assertEqual(self.wait_reg_int("Minimized", 0), 0)
        time.sleep(2.0)
        self.assertIsNone(process.poll(), "tavlo.exe ended")
        self.assertEqual(Driver.ok("visible", "main"), ["1"])


class MailAnnouncementTest(TavloTestCase):
    USER = "ui-tester"
    PASSWORD = "ui-secret"

    def setUp(self):
        env_file = os.environ.get("TAVLO_DOVECOT_ENV")
        if not env_file or not os.path.exists(env_file):
            self.skipTest("TAVLO_DOVECOT_ENV does not name a running Dovecot test instance")
        super().setUp()
        self.dovecot = harness.load_env(env_file)
        directory = self.dovecot["dir"]
        harness.add_user(directory, self.USER, self.PASSWORD)
        harness.reset(directory, self.USER)
        self.uidls = harness.deliver(directory, self.USER, "sender@example.org",
                                     "UI test", count=2)

    def test_pop3_mail_is_checked_after_5_3_s_and_announced_by_the_popup(self):
        server = "%s:%d" % (self.dovecot["host"], self.dovecot["ports"]["pop3"])
        Driver.ok("add-account", "Work", self.USER, self.PASSWORD, server, "NORMAL", "POP3")
        # The announcement's animation is a full-screen program that would
        # cover the popup; the automatic update check would leave the test
        # machine.
        Driver.ok("reg-set-int", "App", "Animate", 0)
        Driver.ok("reg-set-int", "App", "CheckForUpdates", 0)
        left, top, right, bottom = [int(v) for v in Driver.ok("work-area")[0].split()[:4]]
        shown = (right - RIGHT_INSET - SKIN_W, bottom - SKIN_H, right - RIGHT_INSET, bottom)

        started = time.time()
        process = self.start_tavlo()
        track = subprocess.Popen(["wine", DRIVER, "track", "class:TavloNotifierWindow", "16000"],
                                 env=Session.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            Driver.ok("wait-window", "main", START_TIMEOUT_MS)
            self.assertEqual(self.wait_reg_int("Minimized", 1), 1)
            self.assertEqual(Driver.run("visible", "main")[1], ["0"],
                             "with an account the window starts hidden")
            self.assert_tray_icon(self.tray_window(), True)

            seen, marker = Driver.ok("wait-marker", 0, "0", 20000)[0].split(" ", 1)
            after = float(seen) - started
            print("first check seen %.2f s after the start" % after, file=sys.stderr)
            # 5.3 s after the window's start; the start of Wine and of the
            # program come on top.
            self.assertGreaterEqual(after, 5.0)
            self.assertLessEqual(after, 9.5)
            self.assertEqual(marker, self.uidls[-1])

            code, lines = Driver.run("wait-rect", "class:TavloNotifierWindow", *shown, 10000)
            self.assertEqual(code, 0, "popup at %s, expected %s" % (lines, shown))
            shot = os.path.join(ARTIFACTS, "popup.png")
            subprocess.run(["import", "-window", "root", "-display", Session.display, shot],
                           check=True, timeout=30)
            # The screenshot shows the popup's panel between frame and text.
            pixel = subprocess.run(
                ["convert", shot, "-format", "%%[pixel:p{%d,%d}]" % (shown[0] + 7, shown[1] + 60),
                 "info:"], capture_output=True, check=True, timeout=30).stdout.decode()
            self.assertIn("(%d,%d,%d)" % PANEL_RGB, pixel.replace("srgb", "").replace("rgb", ""))
        finally:
            out, _ = track.communicate(timeout=60)
        self.assert_slide(out.decode().replace("\r", "").splitlines(), shown)
        self.assertIsNone(process.poll())

    def assert_slide(self, lines, shown):
        """The tracked popup rose from the work area's bottom, stood at the
        shown place, sank back and was hidden."""
        states = [line.split()[1:] for line in lines]
        visible = [[int(v) for v in s[1:]] for s in states if s[0] == "1"]
        self.assertTrue(visible, "the popup was never visible: %r" % lines)
        moving = [r for r in visible if r[2] > r[0]]
        self.assertTrue(all(r[0] == shown[0] and r[2] == shown[2] for r in moving),
                        "the popup left the right edge's column: %r" % lines)
        self.assertEqual(min(r[1] for r in moving), shown[1])
        self.assertTrue(any(r[1] > shown[1] for r in moving[:3]), "no rise: %r" % lines)
        self.assertEqual(states[-1][0], "0", "the popup was not hidden again: %r" % lines)


if __name__ == "__main__":
    unittest.main()
