#!/usr/bin/env python3
"""End-to-end tests of `tavlo settings list` and `tavlo settings set`: the
values of the options dialog and its OK, one value at a time.

    test_settings.py [TAVLO_BIN] [unittest options]

The tavlo binary comes from the first argument or from $TAVLO_BIN. Every
test gets a fresh data folder and its own autostart folder.
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts"))
sys.path.insert(0, HERE)

import test_check_pop3 as cli  # noqa: E402  (the data folder and its tavlo runs)

NAMES = ["SearchForMail", "Sound", "Animate", "Autostart", "CheckForUpdates",
         "AutostartEmailProgram", "MyMailClient", "MySound", "MyAnimation", "UpdateHost",
         "Proxy"]


def text(data):
    return data.decode("latin-1")


class SettingsCommandsTest(cli.TavloTestCase):
    def listed(self):
        result = self.home.run("settings", "list")
        self.assertEqual(result.returncode, 0, text(result.stderr))
        return [tuple(line.split("\t")) for line in text(result.stdout).splitlines()]

    def value(self, name):
        return dict(self.listed())[name]

    def set(self, name, value):
        result = self.home.run("settings", "set", name, value)
        self.assertEqual(result.returncode, 0, text(result.stderr))

    def autostart_entry(self):
        return os.path.join(self.home.path, "xdg", "autostart",
                            os.path.basename(cli.TAVLO) + ".desktop")

    def test_a_fresh_folder_lists_the_defaults_in_order(self):
        folder = os.path.dirname(cli.TAVLO)
        self.assertEqual(self.listed(), [
            ("SearchForMail", "9"), ("Sound", "1"), ("Animate", "1"), ("Autostart", "1"),
            ("CheckForUpdates", "1"), ("AutostartEmailProgram", "0"), ("MyMailClient", ""),
            ("MySound", os.path.join(folder, "Sound", "Pling.wav")),
            ("MyAnimation", os.path.join(folder, "Animation", "Tavlo.scr")),
            ("UpdateHost", "www.tavlo.se"), ("Proxy", "")])

    def test_set_values_are_listed_and_kept(self):
        cases = [("SearchForMail", "29"), ("SearchForMail", "0"), ("Sound", "0"),
                 ("Animate", "0"), ("CheckForUpdates", "0"), ("AutostartEmailProgram", "1"),
                 ("MyMailClient", "/usr/bin/mail client"), ("MySound", "/tmp/ding.wav"),
                 ("MyAnimation", "/tmp/show.scr"), ("UpdateHost", "127.0.0.1:8080"),
                 ("UpdateHost", "updates.example.org")]
        for name, value in cases:
            with self.subTest(name=name, value=value):
                self.set(name, value)
                self.assertEqual(self.value(name), value)
        self.assertEqual(self.value("SearchForMail"), "0")

    def test_empty_media_paths_store_the_default_files(self):
        folder = os.path.dirname(cli.TAVLO)
        for name, default in [("MySound", os.path.join(folder, "Sound", "Pling.wav")),
                              ("MyAnimation", os.path.join(folder, "Animation", "Tavlo.scr"))]:
            with self.subTest(name=name):
                self.set(name, "/elsewhere/file")
                self.set(name, "")
                self.assertEqual(self.value(name), default)
                self.assertIn(default.encode(), b"".join(self.home.snapshot().values()))

    def test_autostart_writes_and_removes_the_entry_at_once(self):
        self.assertFalse(os.path.exists(self.autostart_entry()))
        self.set("Autostart", "1")
        self.assertTrue(os.path.exists(self.autostart_entry()))
        self.set("Autostart", "0")
        self.assertFalse(os.path.exists(self.autostart_entry()))
        self.assertEqual(self.value("Autostart"), "0")

    def test_unknown_names_and_values_out_of_range_are_refused_and_store_nothing(self):
        self.set("Sound", "0")
        before = self.home.snapshot()
        cases = [("Minimized", "1"), ("Nothing", "0"), ("SearchForMail", "30"),
                 ("SearchForMail", "-1"), ("SearchForMail", "ten"), ("SearchForMail", ""),
                 ("Sound", "2"), ("Autostart", "yes"), ("MySound", "a\nb"),
                 ("UpdateHost", "host:0"), ("UpdateHost", "host:65536"),
                 ("UpdateHost", "host/path"), ("UpdateHost", "user@host")]
        for name, value in cases:
            with self.subTest(name=name, value=value):
                result = self.home.run("settings", "set", name, value)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, b"")
                self.assertIn(name.encode(), result.stderr)
                self.assertEqual(self.home.snapshot(), before)
        self.assertFalse(os.path.exists(self.autostart_entry()))

    def test_wrong_use_is_a_usage_error(self):
        for args in [("settings",), ("settings", "set", "Sound"), ("settings", "list", "x"),
                     ("settings", "remove", "Sound")]:
            with self.subTest(args=args):
                self.assertEqual(self.home.run(*args).returncode, 2)


def main():
    return cli.run_tests("test_settings.py", lambda binary: setattr(cli, "TAVLO", binary))


if __name__ == "__main__":
    sys.exit(main())
