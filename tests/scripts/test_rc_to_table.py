#!/usr/bin/env python3
"""Tests of scripts/rc-to-table.py on the fixture tests/data/rc/fixture.rc.

The fixture holds the syntax the coming templates use (octal and hex
escapes, "" quotes, continuation lines, style expressions with | and NOT,
hex numbers, #if, comments, statements over several lines). The table the
script reads is checked against values worked out by hand and, where the
resource compiler of the Windows build is at hand (TAVLO_WINDRES, or
x86_64-w64-mingw32-windres on PATH), against the binary resources it makes
of the same fixture: every dialog, control, menu item and string must agree.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCRIPT = os.path.join(ROOT, "scripts", "rc-to-table.py")
FIXTURE_DIR = os.path.join(ROOT, "tests", "data", "rc")
FIXTURE = os.path.join(FIXTURE_DIR, "fixture.rc")


def run_script(rc_path, *extra):
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "table.json")
        done = subprocess.run([sys.executable, SCRIPT, *extra, "--json", rc_path, out],
                              capture_output=True, text=True)
        table = None
        if done.returncode == 0:
            with open(out, encoding="ascii") as f:
                table = json.load(f)
        return done.returncode, done.stderr, table


def by_id(items):
    return {item["id"]: item for item in items}


# --- The binary resources (.res) the resource compiler writes ------------------------

ORDINAL_CLASSES = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
                   0x84: "ScrollBar", 0x85: "ComboBox"}


def read_name(data, pos):
    if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    chars = []
    while True:
        c = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if c == 0:
            return "".join(chars), pos
        chars.append(chr(c))


def align4(pos):
    return (pos + 3) & ~3


def read_res(path):
    with open(path, "rb") as f:
        data = f.read()
    pos = 0
    while pos < len(data):
        size, header = struct.unpack_from("<II", data, pos)
        rtype, p = read_name(data, pos + 8)
        name, p = read_name(data, p)
        yield rtype, name, data[pos + header:pos + header + size]
        pos = align4(pos + header + size)


def signed16(v):
    return v - 0x10000 if v & 0x8000 else v


def signed32(v):
    return v - 0x100000000 if v & 0x80000000 else v


def decode_dialog(data):
    extended = struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    if extended:
        _, _, _, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
        pos = 26
    else:
        style, ex_style, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
        pos = 18
    _, pos = read_name(data, pos)  # menu
    _, pos = read_name(data, pos)  # class
    caption, pos = read_name(data, pos)
    font, points = "", 0
    if style & 0x40:
        points = struct.unpack_from("<H", data, pos)[0]
        pos += 6 if extended else 2
        font, pos = read_name(data, pos)
    controls = []
    for _ in range(count):
        pos = align4(pos)
        if extended:
            _, c_ex, c_style, x1, y1, w1, h1, cid = struct.unpack_from("<IIIhhhhI", data, pos)
            pos += 24
            cid = signed32(cid)
        else:
            c_style, c_ex, x1, y1, w1, h1, cid = struct.unpack_from("<IIhhhhH", data, pos)
            pos += 18
            cid = signed16(cid)
        cls, pos = read_name(data, pos)
        text, pos = read_name(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        pos += 2 + extra
        controls.append({"className": ORDINAL_CLASSES.get(cls, cls) if isinstance(cls, int)
                         else cls, "id": cid, "text": text, "style": c_style,
                         "exStyle": c_ex, "units": [x1, y1, w1, h1]})
    return {"caption": caption, "style": style, "exStyle": ex_style, "font": font,
            "fontPoints": points, "units": [x, y, cx, cy], "controls": controls}


def decode_menu(data):
    pos = 4  # version and header size
    popups = []
    current = None
    while pos < len(data):
        flags = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if flags & 0x10:  # a popup
            text, pos = read_name(data, pos)
            current = {"text": text, "items": []}
            popups.append(current)
            continue
        command = struct.unpack_from("<H", data, pos)[0]
        text, pos = read_name(data, pos + 2)
        current["items"].append({"command": command, "text": text})
    return popups


def decode_strings(block, data):
    strings = {}
    pos = 0
    for i in range(16):
        length = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if length:
            strings[(block - 1) * 16 + i] = data[pos:pos + 2 * length].decode("utf-16-le")
        pos += 2 * length
    return strings


def decode_init_data(data):
    """Records of a dialog's initial data (type 240): control, message, text
    up to its zero; the walk ends at a zero control id."""
    records = []
    pos = 0
    while pos + 2 <= len(data) and struct.unpack_from("<H", data, pos)[0] != 0:
        control, message, length = struct.unpack_from("<HHI", data, pos)
        body = data[pos + 8:pos + 8 + length]
        records.append({"control": signed16(control), "message": message,
                        "text": body[:body.index(b"\0")].decode("cp1252")})
        pos += 8 + length
    return records


def cp1252(text):
    return text.encode("latin-1").decode("cp1252")


class FixtureTableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        code, err, cls.table = run_script(FIXTURE)
        if code != 0:
            raise AssertionError("rc-to-table failed: " + err)
        cls.dialogs = by_id(cls.table["dialogs"])

    def control(self, dialog, cid):
        return next(c for c in self.dialogs[dialog]["controls"] if c["id"] == cid)

    def test_texts_with_escapes_quotes_and_continuation_lines(self):
        cases = [
            (233, None, "Fler inst\xe4llningar"),  # defined over two lines, octal
            (1089, None, "Skr\xe4ppost - Blockerad avs\xe4ndare / dom\xe4n"),
            (233, 1108, "Uppgifter f\xf6r e-postkonto"),
            (233, 1118, 'till exempel "Arbete" eller "Ola (Telia)".'),  # "" quotes
            (233, 1137, "Hj\xe4lp // not a comment"),  # hex escape; // inside a text
            (1089, 1120, "Ange en avs\xe4ndares e-postadress eller dom\xe4n. OBS! All "
                         "e-post fr\xe5n denna adress raderas."),  # a text over two lines
            (233, 4, "Testa kontoinst\xe4llningar"),
        ]
        for dialog, cid, text in cases:
            with self.subTest(dialog=dialog, control=cid):
                if cid is None:
                    self.assertEqual(self.dialogs[dialog]["caption"], text)
                else:
                    self.assertEqual(self.control(dialog, cid)["text"], text)

    def test_styles_of_statements_expressions_and_not(self):
        cases = [
            # A statement's default style; an explicit one replaces it but
            # keeps the statement's base; NOT clears; #define'd styles.
            (233, 1109, "LTEXT", "Static", 0x50020000, 0),
            (233, 1118, "LTEXT", "Static", 0x50000000, 0),  # NOT WS_GROUP
            (233, 1007, "EDITTEXT", "Edit", 0x50810080, 0),  # id by a define of a define
            (233, 1136, "COMBOBOX", "ComboBox", 0x50210103, 0),
            (233, 1089, "CONTROL", "Button", 0x50010003, 0),
            (233, 1201, "AUTORADIOBUTTON", "Button", 0x50020009, 0),
            (233, 1202, "RADIOBUTTON", "Button", 0x50010004, 0),
            (233, 1137, "CONTROL", "Static", 0x50000100, 0),  # a hex number
            (233, 1140, "ICON", "Static", 0x50000003, 0),
            (233, 1301, "CHECKBOX", "Button", 0x58010002, 0),
            (233, 1302, "AUTOCHECKBOX", "Button", 0x50000003, 0),  # NOT WS_TABSTOP
            (233, 1303, "RTEXT", "Static", 0x50020002, 0),  # style from #if
            (233, 1304, "CTEXT", "Static", 0x50001001, 0x00020000),
            (233, 1305, "LISTBOX", "ListBox", 0x50A00103, 0),
            (233, 4, "PUSHBUTTON", "Button", 0x50010000, 0),
            (233, 1, "DEFPUSHBUTTON", "Button", 0x50010001, 0),
            (1089, 1139, "EDITTEXT", "Edit", 0x50010080, 0x200),  # NOT WS_BORDER
            (100, 1, "DEFPUSHBUTTON", "Button", 0x50030001, 0),
        ]
        for dialog, cid, statement, cls, style, ex_style in cases:
            with self.subTest(dialog=dialog, control=cid):
                c = self.control(dialog, cid)
                self.assertEqual(c["statement"], statement)
                self.assertEqual(c["className"], cls)
                self.assertEqual(hex(c["style"]), hex(style))
                self.assertEqual(hex(c["exStyle"]), hex(ex_style))

    def test_dialogs_fonts_and_pixels(self):
        cases = [
            # id, style, ex style, base units, client pixels
            (233, 0x80C800C0, 0, [6, 13], [380, 336]),
            (1089, 0x80C800C8, 0x180, [6, 13], [381, 206]),  # MS Shell Dlg 8
            (100, 0x80C80000, 0, [8, 16], [432, 268]),  # no font: the system font
        ]
        for dialog, style, ex_style, units, pixels in cases:
            with self.subTest(dialog=dialog):
                d = self.dialogs[dialog]
                self.assertEqual(hex(d["style"]), hex(style))
                self.assertEqual(hex(d["exStyle"]), hex(ex_style))
                self.assertEqual(d["baseUnits"], units)
                self.assertEqual(d["pixels"], pixels)
        # Rectangles: MulDiv of each of x, y, cx, cy, rounded half away.
        self.assertEqual(self.control(233, 1136)["pixels"], [120, 98, 345, 212])
        self.assertEqual(self.control(233, -1)["textResource"], 257)
        self.assertEqual(self.control(233, 1140)["textResource"], 281)
        self.assertEqual(self.control(100, -1)["pixels"], [80, 20, 318, 36])

    def test_menus_strings_icons_and_bitmaps(self):
        self.assertEqual(self.table["menus"], [{"id": 215, "popups": [
            {"text": "&Arkiv", "items": [
                {"command": 32792, "text": "S\xf6k efter e-post"},
                {"command": 0, "text": ""},
                {"command": 32793, "text": "Inst\xe4llningar..."}]},
            {"text": "Hj\xe4lp", "items": [{"command": 32773, "text": 'Om "Tavlo"'}]}]}])
        self.assertEqual(self.table["strings"], [
            {"id": 102, "text": "Checking for new mail"},
            {"id": 105, "text": "&Om Tavlo\tAlt+O"},
            {"id": 111, "text": "Line one\nline two \\ done"}])
        self.assertEqual(self.table["icons"], [281])
        self.assertEqual(self.table["bitmaps"], [{"id": 257, "size": [5, 3]}])

    def test_dialog_init_data(self):
        cb, lb = 0x0403, 0x0401
        self.assertEqual(self.dialogs[233]["initData"], [
            {"control": 1136, "message": cb, "text": "Custom"},
            {"control": 1136, "message": cb, "text": "Gmail"},
            {"control": 1309, "message": cb, "text": "POP3"},
            {"control": 1309, "message": cb, "text": "IMAP"},
            # The text ends at its first zero; the rest of the record is skipped.
            {"control": 1305, "message": lb, "text": "Skr\xe4ppost"},
            {"control": 1309, "message": cb, "text": ""},
        ])
        self.assertEqual(self.dialogs[1089]["initData"], [])


class ScriptFailureTest(unittest.TestCase):
    """What the script does not understand stops it with the place."""

    def test_refusals(self):
        cases = [
            ('1 DIALOGEX 0,0,10,10\nFONT 9, "Comic Sans MS"\nBEGIN\nEND\n',
             "no base units known for the font Comic Sans MS 9"),
            ("1 DIALOGEX 0,0,10,10\nBEGIN\n    SPINNER 5, 1, 1, 1, 1\nEND\n",
             "unknown control statement 'SPINNER'"),
            # windres gives PUSHBOX a style of its own: not read rather than read wrong.
            ('1 DIALOGEX 0,0,10,10\nBEGIN\n    PUSHBOX "x", 5, 1, 1, 1, 1\nEND\n',
             "unknown control statement 'PUSHBOX'"),
            ('#define F(x) x\n1 MENU\nBEGIN\n POPUP "a"\n BEGIN\n  MENUITEM "b", F(2)\n'
             ' END\nEND\n', "F is a function-like macro"),
            ('STRINGTABLE\nBEGIN\n 1 "\\q"\nEND\n', "unknown escape \\q"),
            ('STRINGTABLE\nBEGIN\n 1 "a"\n 1 "b"\nEND\n', "string 1 appears twice"),
            ('#include "missing.h"\n', "cannot find missing.h"),
            ("#if 1\n", "#if without #endif"),
            # Dialog init data: cut short, a message other than the two item
            # messages, a text without its zero, a control that is no combo
            # box, data without a template.
            ('1 DIALOGEX 0,0,10,10\nBEGIN\n COMBOBOX 5,1,1,1,1\nEND\n'
             '1 240\nBEGIN\n 5, 0x0403, 9L, "ab\\0"\nEND\n', "dialog init data 1 is cut short"),
            ('1 DIALOGEX 0,0,10,10\nBEGIN\n COMBOBOX 5,1,1,1,1\nEND\n'
             '1 240\nBEGIN\n 5, 0x0143, 3L, "ab\\0"\nEND\n', "message 0x0143 is not read"),
            ('1 DIALOGEX 0,0,10,10\nBEGIN\n COMBOBOX 5,1,1,1,1\nEND\n'
             '1 240\nBEGIN\n 5, 0x0403, 2L, "ab"\nEND\n', "a text without its terminating zero"),
            ('1 DIALOGEX 0,0,10,10\nBEGIN\n LISTBOX 5,1,1,1,1\nEND\n'
             '1 240\nBEGIN\n 5, 0x0403, 3L, "ab\\0"\nEND\n', "control 5 is not a ComboBox"),
            ('2 240\nBEGIN\n 5, 0x0403, 3L, "ab\\0"\nEND\n',
             "dialog init data 2 has no dialog template"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for text, message in cases:
                with self.subTest(message=message):
                    path = os.path.join(folder, "bad.rc")
                    with open(path, "w", encoding="latin-1") as f:
                        f.write(text)
                    code, err, _ = run_script(path)
                    self.assertEqual(code, 1)
                    self.assertIn(message, err)
                    self.assertIn("bad.rc:", err)


def find_windres():
    named = os.environ.get("TAVLO_WINDRES")
    if named:
        return named
    return shutil.which("x86_64-w64-mingw32-windres")


@unittest.skipIf(find_windres() is None, "no resource compiler (windres) here")
class WindresAgreementTest(unittest.TestCase):
    """The table says what the Windows build's resource compiler makes."""

    @classmethod
    def setUpClass(cls):
        code, err, cls.table = run_script(FIXTURE)
        if code != 0:
            raise AssertionError(err)
        cls.folder = tempfile.TemporaryDirectory()
        res = os.path.join(cls.folder.name, "fixture.res")
        subprocess.run([find_windres(), "-I", FIXTURE_DIR, FIXTURE, "-O", "res", "-o", res],
                       check=True, capture_output=True)
        cls.dialogs, cls.menus, cls.strings, cls.init_data = {}, {}, {}, {}
        for rtype, name, data in read_res(res):
            if rtype == 240:
                cls.init_data[name] = decode_init_data(data)
            elif rtype == 5:
                cls.dialogs[name] = decode_dialog(data)
            elif rtype == 4:
                cls.menus[name] = decode_menu(data)
            elif rtype == 6:
                cls.strings.update(decode_strings(name, data))

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_every_dialog_and_control_agrees(self):
        self.assertEqual(sorted(self.dialogs), sorted(d["id"] for d in self.table["dialogs"]))
        for d in self.table["dialogs"]:
            real = self.dialogs[d["id"]]
            with self.subTest(dialog=d["id"]):
                self.assertEqual(real["caption"], cp1252(d["caption"]))
                self.assertEqual(hex(real["style"]), hex(d["style"]))
                self.assertEqual(hex(real["exStyle"]), hex(d["exStyle"]))
                self.assertEqual(real["font"], d["font"])
                self.assertEqual(real["fontPoints"], d["fontPoints"])
                self.assertEqual(real["units"], d["units"])
                self.assertEqual(len(real["controls"]), len(d["controls"]))
            for mine, theirs in zip(d["controls"], real["controls"]):
                with self.subTest(dialog=d["id"], control=mine["id"], text=mine["text"]):
                    self.assertEqual(theirs["id"], mine["id"])
                    self.assertEqual(theirs["className"].lower(), mine["className"].lower())
                    expected_text = mine["textResource"] or cp1252(mine["text"])
                    self.assertEqual(theirs["text"], expected_text)
                    self.assertEqual(hex(theirs["style"]), hex(mine["style"]))
                    self.assertEqual(hex(theirs["exStyle"]), hex(mine["exStyle"]))
                    self.assertEqual(theirs["units"], mine["units"])

    def test_dialog_init_data_agrees(self):
        expected = {d["id"]: [dict(r, text=cp1252(r["text"])) for r in d["initData"]]
                    for d in self.table["dialogs"] if d["initData"]}
        self.assertEqual(self.init_data, expected)
        self.assertTrue(expected)

    def test_menus_and_strings_agree(self):
        for m in self.table["menus"]:
            expected = [{"text": cp1252(p["text"]),
                         "items": [{"command": i["command"], "text": cp1252(i["text"])}
                                   for i in p["items"]]} for p in m["popups"]]
            self.assertEqual(self.menus[m["id"]], expected)
        self.assertEqual(self.strings, {s["id"]: cp1252(s["text"]) for s in self.table["strings"]})


if __name__ == "__main__":
    unittest.main()
