#!/usr/bin/env python3
"""Tests of the per-user installer tavlo-setup.exe under Wine.

The same set-up as test_tavlo_exe.py (its Xvfb, a fresh Wine prefix and the
driver). A silent install puts tavlo.exe, Sound\\Pling.wav and
Animation\\Tavlo.scr into the user's LOCALAPPDATA\\Programs\\Tavlo, a Start-menu
shortcut, and the uninstall entry; the installed program starts from there.
A silent uninstall ends the running program, removes its files, shortcut,
entry and log-on (Run) value, and keeps the user's settings.

Environment: as test_tavlo_exe.py, and
    TAVLO_SETUP   the built tavlo-setup.exe
"""

import glob
import os
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import test_tavlo_exe as ui  # noqa: E402  (the session, the driver, the test case)

Driver = ui.Driver
SETUP = os.environ.get("TAVLO_SETUP", "")

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavlo"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
PROGRAM_FILES = ["tavlo.exe", os.path.join("Sound", "Pling.wav"),
                 os.path.join("Animation", "Tavlo.scr")]


def setUpModule():
    if not SETUP:
        raise unittest.SkipTest("TAVLO_SETUP names the installer under test")
    if not os.path.exists(SETUP):
        raise RuntimeError("%s does not exist: build the installer target" % SETUP)
    ui.setUpModule()


def tearDownModule():
    ui.tearDownModule()


def reg_values(key):
    """The values of a registry key of the prefix as {name: data}; None
    when the key does not exist."""
    result = subprocess.run(["wine", "reg", "query", key], env=ui.Session.env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.decode("utf-8", "replace").replace("\r", "").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2] if len(parts) > 2 else ""
    return values


def host_path(windows_path):
    """The host path of a C: path of the prefix."""
    drive, rest = windows_path[:2], windows_path[2:]
    assert drive.upper() == "C:", windows_path
    return os.path.join(ui.PREFIX, "drive_c", *[p for p in rest.split("\\") if p])


def start_menu_shortcuts():
    return glob.glob(os.path.join(ui.PREFIX, "drive_c", "users", "*", "AppData", "Roaming",
                                  "Microsoft", "Windows", "Start Menu", "Programs", "Tavlo.lnk"))


class InstallerTest(ui.TavloTestCase):
    def run_wine(self, args, timeout=180):
        return subprocess.run(["wine"] + args, env=ui.Session.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode

    def wait_until(self, test, timeout=60.0):
        deadline = time.monotonic() + timeout
        while not test():
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)
        return True

    def test_silent_install_start_and_silent_uninstall(self):
        self.assertEqual(self.run_wine([ui.windows_path(SETUP), "/S"]), 0)

        entry = reg_values(UNINSTALL_KEY)
        self.assertIsNotNone(entry, "no uninstall entry")
        for name in ("DisplayName", "DisplayVersion", "Publisher", "UninstallString",
                     "InstallLocation"):
            self.assertTrue(entry.get(name), "%s missing: %r" % (name, entry))
        self.assertEqual(entry["DisplayName"], "Tavlo")
        self.assertRegex(entry["DisplayVersion"], r"^\d+\.\d+\.\d+$")
        location = entry["InstallLocation"]
        self.assertTrue(location.lower().endswith(r"\appdata\local\programs\tavlo"), location)
        folder = host_path(location)
        for name in PROGRAM_FILES:
            self.assertTrue(os.path.isfile(os.path.join(folder, name)), name)
        self.assertEqual(len(start_menu_shortcuts()), 1, "no Start-menu shortcut")
        uninstaller = entry["UninstallString"].strip('"')
        self.assertTrue(os.path.isfile(host_path(uninstaller)), uninstaller)

        # The installed program starts from its folder: its window appears,
        # it writes its settings and its log-on entry naming that folder.
        installed_exe = location + "\\tavlo.exe"
        process = subprocess.Popen(["wine", installed_exe], env=ui.Session.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        self.processes.append(process)
        code, _ = Driver.run("wait-window", "main", ui.START_TIMEOUT_MS)
        self.assertEqual(code, 0, "the installed program's window did not appear")
        self.assertEqual(self.wait_reg_int("Minimized", 0), 0)
        autostart = Driver.ok("autostart")[0].strip('"')
        self.assertEqual(autostart.lower(), installed_exe.lower())
        Driver.ok("reg-set-int", "App", "SearchForMail", 4)

        # The silent uninstaller hands over to a copy of itself and returns:
        # the effects are awaited.
        self.assertEqual(self.run_wine([uninstaller, "/S"]), 0)
        try:
            exit_code = process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.fail("the uninstaller did not end the running program")
        self.assertEqual(exit_code, 1, "not ended through its Exit command")
        self.assertTrue(self.wait_until(lambda: reg_values(UNINSTALL_KEY) is None),
                        "the uninstall entry stayed")
        self.assertTrue(self.wait_until(lambda: not os.path.exists(folder)),
                        "left behind: %r" % (os.listdir(folder) if os.path.exists(folder) else None))
        self.assertEqual(start_menu_shortcuts(), [], "the shortcut stayed")
        self.assertNotIn("tavlo", {k.lower() for k in (reg_values(RUN_KEY) or {})},
                         "the Run value stayed")
        # The user's settings stay.
        self.assertEqual(Driver.reg_int("SearchForMail"), 4)


if __name__ == "__main__":
    unittest.main()
