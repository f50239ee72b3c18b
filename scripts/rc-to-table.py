#!/usr/bin/env python3
"""Turns a resource script (.rc) into the resource table of the headless port.

Usage: rc-to-table.py [-I DIR]... [--json] INPUT.rc OUTPUT

Reads the dialog templates (DIALOG, DIALOGEX), menus (MENU), the string
table, and the icon and bitmap statements of INPUT.rc, with the #define lines
of the headers it includes, and writes OUTPUT: by default a C++ source that
defines tavlo::res::ProgramResources() (declared in res/ResourceTable.h),
with --json the same table as JSON (for the script's own tests).

The meaning of every statement follows the resource compiler the Windows
build uses (windres): the default styles of the control statements, the
explicit style that replaces the default except for the statement's base
style, NOT to clear bits, CAPTION adding WS_CAPTION, FONT adding DS_SETFONT.
Texts are byte strings in the script's code page (#pragma code_page, 1252
here): "\\344" and "\\xE4" escapes, "" for a quote, the usual \\n \\t \\\\.

Rectangles are given in dialog units and in pixels of the template's font,
whose base units (average character width and height at 96 dpi) are known
below; a template in a font without known figures is an error, so that a
new font gets its figures before it gets a wrong size.

A dialog's initial data (a user-defined resource of type 240 under the
template's id: records of control id, message, 32-bit length and text, the
bytes the Windows dialog init data holds) becomes the template's list of
combo box and list box items; each record must name a combo box or list box
of that template.

Icons and bitmaps are listed by id; a bitmap's size comes from its file when
the file is found on the include path (it may be generated), else 0 x 0.
Files of other named types with a numbered id (the GIFs: `291 GIF "x.gif"`)
are embedded byte for byte; such a file must be found.
Unknown resource types with a BEGIN ... END block are skipped; anything the
script does not understand inside what it reads stops it with the file and
line, never a silently different table.
"""

import json
import os
import re
import struct
import sys

# --- Windows constants that the resource compiler knows from <winresrc.h> ---

WINDOWS_CONSTANTS = {
    # Window styles.
    "WS_OVERLAPPED": 0x00000000, "WS_POPUP": 0x80000000, "WS_CHILD": 0x40000000,
    "WS_MINIMIZE": 0x20000000, "WS_VISIBLE": 0x10000000, "WS_DISABLED": 0x08000000,
    "WS_CLIPSIBLINGS": 0x04000000, "WS_CLIPCHILDREN": 0x02000000,
    "WS_MAXIMIZE": 0x01000000, "WS_CAPTION": 0x00C00000, "WS_BORDER": 0x00800000,
    "WS_DLGFRAME": 0x00400000, "WS_VSCROLL": 0x00200000, "WS_HSCROLL": 0x00100000,
    "WS_SYSMENU": 0x00080000, "WS_THICKFRAME": 0x00040000, "WS_GROUP": 0x00020000,
    "WS_TABSTOP": 0x00010000, "WS_MINIMIZEBOX": 0x00020000, "WS_MAXIMIZEBOX": 0x00010000,
    "WS_TILED": 0x00000000, "WS_ICONIC": 0x20000000, "WS_SIZEBOX": 0x00040000,
    "WS_OVERLAPPEDWINDOW": 0x00CF0000, "WS_POPUPWINDOW": 0x80880000,
    "WS_CHILDWINDOW": 0x40000000,
    # Extended window styles.
    "WS_EX_DLGMODALFRAME": 0x00000001, "WS_EX_NOPARENTNOTIFY": 0x00000004,
    "WS_EX_TOPMOST": 0x00000008, "WS_EX_ACCEPTFILES": 0x00000010,
    "WS_EX_TRANSPARENT": 0x00000020, "WS_EX_MDICHILD": 0x00000040,
    "WS_EX_TOOLWINDOW": 0x00000080, "WS_EX_WINDOWEDGE": 0x00000100,
    "WS_EX_CLIENTEDGE": 0x00000200, "WS_EX_CONTEXTHELP": 0x00000400,
    "WS_EX_RIGHT": 0x00001000, "WS_EX_LEFT": 0x00000000, "WS_EX_RTLREADING": 0x00002000,
    "WS_EX_LTRREADING": 0x00000000, "WS_EX_LEFTSCROLLBAR": 0x00004000,
    "WS_EX_RIGHTSCROLLBAR": 0x00000000, "WS_EX_CONTROLPARENT": 0x00010000,
    "WS_EX_STATICEDGE": 0x00020000, "WS_EX_APPWINDOW": 0x00040000,
    "WS_EX_LAYERED": 0x00080000, "WS_EX_NOINHERITLAYOUT": 0x00100000,
    "WS_EX_LAYOUTRTL": 0x00400000, "WS_EX_COMPOSITED": 0x02000000,
    "WS_EX_NOACTIVATE": 0x08000000,
    # Dialog styles.
    "DS_ABSALIGN": 0x01, "DS_SYSMODAL": 0x02, "DS_LOCALEDIT": 0x20, "DS_SETFONT": 0x40,
    "DS_MODALFRAME": 0x80, "DS_NOIDLEMSG": 0x100, "DS_SETFOREGROUND": 0x200,
    "DS_3DLOOK": 0x0004, "DS_FIXEDSYS": 0x0008, "DS_NOFAILCREATE": 0x0010,
    "DS_CONTROL": 0x0400, "DS_CENTER": 0x0800, "DS_CENTERMOUSE": 0x1000,
    "DS_CONTEXTHELP": 0x2000, "DS_SHELLFONT": 0x48,
    # Static controls.
    "SS_LEFT": 0x00, "SS_CENTER": 0x01, "SS_RIGHT": 0x02, "SS_ICON": 0x03,
    "SS_BLACKRECT": 0x04, "SS_GRAYRECT": 0x05, "SS_WHITERECT": 0x06,
    "SS_BLACKFRAME": 0x07, "SS_GRAYFRAME": 0x08, "SS_WHITEFRAME": 0x09,
    "SS_USERITEM": 0x0A, "SS_SIMPLE": 0x0B, "SS_LEFTNOWORDWRAP": 0x0C,
    "SS_OWNERDRAW": 0x0D, "SS_BITMAP": 0x0E, "SS_ENHMETAFILE": 0x0F,
    "SS_ETCHEDHORZ": 0x10, "SS_ETCHEDVERT": 0x11, "SS_ETCHEDFRAME": 0x12,
    "SS_TYPEMASK": 0x1F, "SS_REALSIZECONTROL": 0x40, "SS_NOPREFIX": 0x80,
    "SS_NOTIFY": 0x100, "SS_CENTERIMAGE": 0x200, "SS_RIGHTJUST": 0x400,
    "SS_REALSIZEIMAGE": 0x800, "SS_SUNKEN": 0x1000, "SS_EDITCONTROL": 0x2000,
    "SS_ENDELLIPSIS": 0x4000, "SS_PATHELLIPSIS": 0x8000, "SS_WORDELLIPSIS": 0xC000,
    # Buttons.
    "BS_PUSHBUTTON": 0x0, "BS_DEFPUSHBUTTON": 0x1, "BS_CHECKBOX": 0x2,
    "BS_AUTOCHECKBOX": 0x3, "BS_RADIOBUTTON": 0x4, "BS_3STATE": 0x5,
    "BS_AUTO3STATE": 0x6, "BS_GROUPBOX": 0x7, "BS_USERBUTTON": 0x8,
    "BS_AUTORADIOBUTTON": 0x9, "BS_PUSHBOX": 0xA, "BS_OWNERDRAW": 0xB,
    "BS_TYPEMASK": 0xF, "BS_LEFTTEXT": 0x20, "BS_TEXT": 0x0, "BS_ICON": 0x40,
    "BS_BITMAP": 0x80, "BS_LEFT": 0x100, "BS_RIGHT": 0x200, "BS_CENTER": 0x300,
    "BS_TOP": 0x400, "BS_BOTTOM": 0x800, "BS_VCENTER": 0xC00, "BS_PUSHLIKE": 0x1000,
    "BS_MULTILINE": 0x2000, "BS_NOTIFY": 0x4000, "BS_FLAT": 0x8000,
    "BS_RIGHTBUTTON": 0x20,
    # Edit controls.
    "ES_LEFT": 0x0, "ES_CENTER": 0x1, "ES_RIGHT": 0x2, "ES_MULTILINE": 0x4,
    "ES_UPPERCASE": 0x8, "ES_LOWERCASE": 0x10, "ES_PASSWORD": 0x20,
    "ES_AUTOVSCROLL": 0x40, "ES_AUTOHSCROLL": 0x80, "ES_NOHIDESEL": 0x100,
    "ES_OEMCONVERT": 0x400, "ES_READONLY": 0x800, "ES_WANTRETURN": 0x1000,
    "ES_NUMBER": 0x2000,
    # List boxes.
    "LBS_NOTIFY": 0x1, "LBS_SORT": 0x2, "LBS_NOREDRAW": 0x4, "LBS_MULTIPLESEL": 0x8,
    "LBS_OWNERDRAWFIXED": 0x10, "LBS_OWNERDRAWVARIABLE": 0x20, "LBS_HASSTRINGS": 0x40,
    "LBS_USETABSTOPS": 0x80, "LBS_NOINTEGRALHEIGHT": 0x100,
    "LBS_MULTICOLUMN": 0x200, "LBS_WANTKEYBOARDINPUT": 0x400,
    "LBS_EXTENDEDSEL": 0x800, "LBS_DISABLENOSCROLL": 0x1000, "LBS_NODATA": 0x2000,
    "LBS_NOSEL": 0x4000, "LBS_COMBOBOX": 0x8000, "LBS_STANDARD": 0xA00003,
    # Combo boxes.
    "CBS_SIMPLE": 0x1, "CBS_DROPDOWN": 0x2, "CBS_DROPDOWNLIST": 0x3,
    "CBS_OWNERDRAWFIXED": 0x10, "CBS_OWNERDRAWVARIABLE": 0x20,
    "CBS_AUTOHSCROLL": 0x40, "CBS_OEMCONVERT": 0x80, "CBS_SORT": 0x100,
    "CBS_HASSTRINGS": 0x200, "CBS_NOINTEGRALHEIGHT": 0x400,
    "CBS_DISABLENOSCROLL": 0x800, "CBS_UPPERCASE": 0x2000, "CBS_LOWERCASE": 0x4000,
    # Scroll bars.
    "SBS_HORZ": 0x0, "SBS_VERT": 0x1, "SBS_TOPALIGN": 0x2, "SBS_LEFTALIGN": 0x2,
    "SBS_BOTTOMALIGN": 0x4, "SBS_RIGHTALIGN": 0x4, "SBS_SIZEBOX": 0x8,
    "SBS_SIZEGRIP": 0x10,
    # Standard command ids.
    "IDOK": 1, "IDCANCEL": 2, "IDABORT": 3, "IDRETRY": 4, "IDIGNORE": 5,
    "IDYES": 6, "IDNO": 7, "IDCLOSE": 8, "IDHELP": 9,
    # Languages (only read, never used).
    "LANG_NEUTRAL": 0x00, "LANG_ENGLISH": 0x09, "LANG_SWEDISH": 0x1D,
    "SUBLANG_NEUTRAL": 0x00, "SUBLANG_DEFAULT": 0x01, "SUBLANG_ENGLISH_US": 0x01,
    "SUBLANG_SWEDISH": 0x01,
    "RC_INVOKED": 1,
}

# The window classes CONTROL may name (in any case), under the names the
# window system reports.
KNOWN_CLASSES = {
    "button": "Button", "edit": "Edit", "static": "Static", "listbox": "ListBox",
    "scrollbar": "ScrollBar", "combobox": "ComboBox",
}

WS_CHILD_VISIBLE = 0x50000000
WS_TABSTOP = 0x00010000
WS_GROUP = 0x00020000
WS_BORDER = 0x00800000

# statement: (class, base style, default style, has text). An explicit
# style replaces the default but keeps the base (and WS_CHILD | WS_VISIBLE).
CONTROL_STATEMENTS = {
    "LTEXT": ("Static", 0x0, 0x0 | WS_GROUP, True),
    "RTEXT": ("Static", 0x2, 0x2 | WS_GROUP, True),
    "CTEXT": ("Static", 0x1, 0x1 | WS_GROUP, True),
    "ICON": ("Static", 0x3, 0x3, True),
    "PUSHBUTTON": ("Button", 0x0 | WS_TABSTOP, 0x0 | WS_TABSTOP, True),
    "DEFPUSHBUTTON": ("Button", 0x1 | WS_TABSTOP, 0x1 | WS_TABSTOP, True),
    "CHECKBOX": ("Button", 0x2 | WS_TABSTOP, 0x2 | WS_TABSTOP, True),
    "AUTOCHECKBOX": ("Button", 0x3 | WS_TABSTOP, 0x3 | WS_TABSTOP, True),
    "RADIOBUTTON": ("Button", 0x4, 0x4 | WS_TABSTOP, True),
    "AUTORADIOBUTTON": ("Button", 0x9, 0x9 | WS_TABSTOP, True),
    "STATE3": ("Button", 0x5, 0x5 | WS_TABSTOP, True),
    "AUTO3STATE": ("Button", 0x6, 0x6 | WS_TABSTOP, True),
    "GROUPBOX": ("Button", 0x7, 0x7, True),
    "EDITTEXT": ("Edit", WS_BORDER | WS_TABSTOP, WS_BORDER | WS_TABSTOP, False),
    "LISTBOX": ("ListBox", 0x1 | WS_BORDER, 0x1 | WS_BORDER, False),
    "COMBOBOX": ("ComboBox", 0x0, 0x1 | WS_TABSTOP, False),
    "SCROLLBAR": ("ScrollBar", 0x0, 0x0, False),
}

# Dialog base units (pixels per 4 horizontal and per 8 vertical dialog
# units) of the fonts the templates use, at 96 dpi.
FONT_FIGURES = {
    ("ms sans serif", 8): (6, 13),
    ("ms shell dlg", 8): (6, 13),
    ("ms shell dlg 2", 8): (6, 13),
    ("microsoft sans serif", 8): (6, 13),
    ("tahoma", 8): (6, 13),
    ("segoe ui", 9): (7, 15),
}
SYSTEM_FONT_FIGURES = (8, 16)  # a template without a font of its own

# The resource type of a dialog's initial data, and the two messages of its
# records (the 16-bit numbers the resource toolchain keeps).
RT_DLGINIT = 240
INIT_LB_ADDSTRING = 0x0401
INIT_CB_ADDSTRING = 0x0403


class RcError(Exception):
    pass


# --- Preprocessing -----------------------------------------------------------


class Source:
    """The lines of the script after the preprocessor, with where they came from."""

    def __init__(self, include_dirs):
        self.include_dirs = include_dirs
        self.defines = {}
        self.lines = []  # (file, line number, text)
        self.code_page = 1252

    def error(self, where, message):
        raise RcError(f"{where[0]}:{where[1]}: {message}")

    def find(self, name, relative_to):
        for folder in [os.path.dirname(relative_to)] + self.include_dirs:
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                return path
        return None

    def read(self, path):
        with open(path, "rb") as f:
            # Bytes stay bytes: latin-1 maps each one to one character.
            text = f.read().decode("latin-1")
        text = text.replace("\r\n", "\n").replace("\r", "\n")
        raw = text.split("\n")
        # Continuation lines: a backslash at the end joins the next line.
        joined = []
        i = 0
        while i < len(raw):
            start = i
            line = raw[i]
            while line.endswith("\\") and i + 1 < len(raw):
                i += 1
                line = line[:-1] + raw[i]
            joined.append((start + 1, line))
            i += 1
        return strip_comments(joined)

    def process(self, path):
        stack = []  # for each open #if: (taking now, taken before, outer taking)
        taking = True
        for number, line in self.read(path):
            where = (path, number)
            stripped = line.strip()
            if stripped.startswith("#"):
                directive = stripped[1:].strip()
                word = re.match(r"[a-z_]*", directive).group(0)
                rest = directive[len(word):].strip()
                if word in ("ifdef", "ifndef"):
                    name = rest.split()[0] if rest else self.error(where, "#%s needs a name" % word)
                    value = (name in self.defines or name in WINDOWS_CONSTANTS) == (word == "ifdef")
                    stack.append((taking and value, value, taking))
                    taking = taking and value
                elif word == "if":
                    value = taking and self.evaluate_condition(rest, where)
                    stack.append((value, value, taking))
                    taking = value
                elif word == "elif":
                    if not stack:
                        self.error(where, "#elif without #if")
                    _, taken, outer = stack.pop()
                    value = outer and not taken and self.evaluate_condition(rest, where)
                    stack.append((value, taken or value, outer))
                    taking = value
                elif word == "else":
                    if not stack:
                        self.error(where, "#else without #if")
                    _, taken, outer = stack.pop()
                    stack.append((outer and not taken, True, outer))
                    taking = outer and not taken
                elif word == "endif":
                    if not stack:
                        self.error(where, "#endif without #if")
                    taking = stack.pop()[2]
                elif not taking:
                    continue
                elif word == "include":
                    m = re.match(r'"([^"]+)"|<([^>]+)>', rest)
                    if not m:
                        self.error(where, "#include needs a file name")
                    if m.group(2) is not None:
                        continue  # a system header: its constants are built in
                    found = self.find(m.group(1), path)
                    if found is None:
                        self.error(where, "cannot find %s" % m.group(1))
                    self.process(found)
                elif word == "define":
                    m = re.match(r"([A-Za-z_][A-Za-z0-9_]*)(\()?\s*(.*)$", rest)
                    if not m:
                        self.error(where, "bad #define")
                    if m.group(2):
                        # Function-like macros never appear in resource
                        # headers; one would be expanded wrongly below.
                        self.defines[m.group(1)] = None
                    else:
                        self.defines[m.group(1)] = (m.group(3).strip(), where)
                elif word == "undef":
                    self.defines.pop(rest.split()[0], None)
                elif word == "pragma":
                    m = re.match(r"code_page\s*\(\s*(\d+|DEFAULT)\s*\)", rest)
                    if m:
                        if m.group(1) not in ("1252", "DEFAULT"):
                            self.error(where, "only code page 1252 is read")
                    # Other pragmas (once) change nothing here.
                elif word == "error":
                    self.error(where, "#error " + rest)
                else:
                    self.error(where, "unknown directive #" + word)
                continue
            if taking:
                self.lines.append((path, number, line))
        if stack:
            self.error((path, "end"), "#if without #endif")

    def evaluate_condition(self, text, where):
        text = re.sub(
            r"defined\s*\(\s*([A-Za-z_]\w*)\s*\)|defined\s+([A-Za-z_]\w*)",
            lambda m: "1" if (m.group(1) or m.group(2)) in self.defines
            or (m.group(1) or m.group(2)) in WINDOWS_CONSTANTS else "0",
            text)
        tokens = Tokens(tokenize(text, where), self, where)
        value = tokens.condition()
        if not tokens.at_end():
            self.error(where, "cannot read the condition " + text)
        return value != 0


def strip_comments(lines):
    """Removes // and /* */ comments outside string literals."""
    out = []
    in_block = False
    for number, line in lines:
        result = []
        i = 0
        while i < len(line):
            if in_block:
                end = line.find("*/", i)
                if end < 0:
                    i = len(line)
                    continue
                in_block = False
                i = end + 2
                result.append(" ")
                continue
            c = line[i]
            if c == '"':
                j = i + 1
                while j < len(line):
                    if line[j] == "\\":
                        j += 2
                        continue
                    if line[j] == '"':
                        if j + 1 < len(line) and line[j + 1] == '"':
                            j += 2
                            continue
                        break
                    j += 1
                result.append(line[i:j + 1])
                i = j + 1
                continue
            if line.startswith("//", i):
                break
            if line.startswith("/*", i):
                in_block = True
                i += 2
                continue
            result.append(c)
            i += 1
        out.append((number, "".join(result)))
    return out


# --- Tokens ---------------------------------------------------------------------

TOKEN = re.compile(
    r'\s*(?:(?P<string>L?"(?:[^"\\]|\\.|"")*")'
    r"|(?P<number>0[xX][0-9A-Fa-f]+[uUlL]*|\d+[uUlL]*)"
    r"|(?P<name>[A-Za-z_][A-Za-z0-9_]*)"
    r"|(?P<punct>&&|\|\||==|!=|<=|>=|[,|&+\-~()!{}*/<>=^]))")


def tokenize(text, where):
    tokens = []
    pos = 0
    while pos < len(text):
        if text[pos:].strip() == "":
            break
        m = TOKEN.match(text, pos)
        if not m or m.end() == pos:
            raise RcError(f"{where[0]}:{where[1]}: cannot read {text[pos:].strip()!r}")
        pos = m.end()
        kind = m.lastgroup
        tokens.append((kind, m.group(kind), where))
    return tokens


def unescape(literal, where):
    """The bytes of a string literal, as a latin-1 str (one char per byte)."""
    body = literal[1:-1] if not literal.startswith("L") else literal[2:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == '"' and body[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
            continue
        if c != "\\":
            out.append(c)
            i += 1
            continue
        i += 1
        if i >= len(body):
            raise RcError(f"{where[0]}:{where[1]}: a string ends in a backslash")
        e = body[i]
        simple = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "\\": "\\", '"': '"', "'": "'"}
        if e in simple:
            out.append(simple[e])
            i += 1
        elif e in "01234567":
            m = re.match(r"[0-7]{1,3}", body[i:])
            out.append(chr(int(m.group(0), 8) & 0xFF))
            i += len(m.group(0))
        elif e in "xX":
            m = re.match(r"[0-9A-Fa-f]{1,2}", body[i + 1:])
            if not m:
                raise RcError(f"{where[0]}:{where[1]}: \\x without digits")
            out.append(chr(int(m.group(0), 16)))
            i += 1 + len(m.group(0))
        else:
            raise RcError(f"{where[0]}:{where[1]}: unknown escape \\{e}")
    return "".join(out)


class Tokens:
    """A token stream with the #defines expanded, and expressions on it."""

    def __init__(self, tokens, source, where):
        self.items = list(tokens)
        self.pos = 0
        self.source = source
        self.where = where

    def error(self, message):
        where = self.items[self.pos][2] if self.pos < len(self.items) else self.where
        raise RcError(f"{where[0]}:{where[1]}: {message}")

    def expand(self):
        # Replaces a defined name at the current position by its tokens.
        seen = set()
        while self.pos < len(self.items):
            kind, value, where = self.items[self.pos]
            if kind != "name" or value not in self.source.defines:
                return
            if value in seen:
                self.error("%s refers to itself" % value)
            seen.add(value)
            definition = self.source.defines[value]
            if definition is None:
                self.error("%s is a function-like macro" % value)
            self.items[self.pos:self.pos + 1] = tokenize(definition[0], where)

    def peek(self):
        self.expand()
        return self.items[self.pos] if self.pos < len(self.items) else (None, None, self.where)

    def at_end(self):
        return self.peek()[0] is None

    def next(self):
        token = self.peek()
        if token[0] is None:
            self.error("unexpected end")
        self.pos += 1
        return token

    def is_word(self, *words):
        kind, value, _ = self.peek()
        return kind == "name" and value.upper() in words

    def accept(self, punct):
        kind, value, _ = self.peek()
        if kind == "punct" and value == punct:
            self.pos += 1
            return True
        return False

    def expect(self, punct):
        if not self.accept(punct):
            self.error("expected %r, found %r" % (punct, self.peek()[1]))

    def string(self):
        kind, value, where = self.next()
        if kind != "string":
            self.pos -= 1
            self.error("expected a text, found %r" % value)
        return unescape(value, where)

    # Conditions of #if: || && == != < > <= >= over expressions.
    def condition(self):
        value = self.conjunction()
        while self.accept("||"):
            right = self.conjunction()
            value = 1 if value or right else 0
        return value

    def conjunction(self):
        value = self.comparison()
        while self.accept("&&"):
            right = self.comparison()
            value = 1 if value and right else 0
        return value

    def comparison(self):
        value = self.expression()
        for op, test in (("==", lambda a, b: a == b), ("!=", lambda a, b: a != b),
                         ("<=", lambda a, b: a <= b), (">=", lambda a, b: a >= b),
                         ("<", lambda a, b: a < b), (">", lambda a, b: a > b)):
            if self.accept(op):
                return 1 if test(value, self.expression()) else 0
        return value

    # Expressions: | & + - and unary ~ - NOT, on 32-bit values.
    def expression(self):
        value = self.term()
        while True:
            if self.accept("|"):
                value |= self.term()
            elif self.accept("&"):
                value &= self.term()
            elif self.accept("+"):
                value += self.term()
            elif self.accept("-"):
                value -= self.term()
            else:
                return value & 0xFFFFFFFF

    def term(self):
        if self.accept("~"):
            return ~self.term() & 0xFFFFFFFF
        if self.accept("-"):
            return -self.term() & 0xFFFFFFFF
        if self.accept("!"):
            return 0 if self.term() else 1
        if self.accept("("):
            value = self.expression()
            self.expect(")")
            return value
        kind, value, _ = self.next()
        if kind == "number":
            return self.number_value(value)
        if kind == "name" and value in WINDOWS_CONSTANTS:
            return WINDOWS_CONSTANTS[value]
        self.pos -= 1
        self.error("expected a number, found %r" % value)

    @staticmethod
    def number_value(text):
        return int(text.rstrip("uUlL"), 0 if text[:2].lower() == "0x" else 10)

    def style(self, start):
        """A style expression of a statement, ORed into start; NOT clears."""
        value = start
        while True:
            if self.is_word("NOT"):
                self.next()
                value &= ~self.term() & 0xFFFFFFFF
            else:
                value |= self.term()
            if not self.accept("|"):
                return value

    def signed(self):
        value = self.expression()
        return value - 0x100000000 if value & 0x80000000 else value


# --- The resource script -----------------------------------------------------------


class Parser:
    def __init__(self, source):
        self.source = source
        tokens = []
        for path, number, line in source.lines:
            tokens.extend(tokenize(line, (path, number)))
        self.t = Tokens(tokens, source, (source.lines[-1][0], "end") if source.lines else ("?", 0))
        self.dialogs = []
        self.menus = []
        self.strings = {}
        self.icons = []
        self.bitmaps = []
        self.init_data = {}
        self.data = []  # (number, type, file) of the custom types

    def begin(self):
        if self.t.is_word("BEGIN"):
            self.t.next()
        else:
            self.t.expect("{")

    def at_end_of_block(self):
        if self.t.is_word("END"):
            self.t.next()
            return True
        return self.t.accept("}")

    def skip_block(self):
        depth = 0
        while True:
            kind, value, _ = self.t.next()
            if (kind == "name" and value.upper() == "BEGIN") or value == "{":
                depth += 1
            elif (kind == "name" and value.upper() == "END") or value == "}":
                depth -= 1
                if depth == 0:
                    return

    def common_options(self):
        # LANGUAGE, CHARACTERISTICS and VERSION change nothing here.
        while self.t.is_word("LANGUAGE", "CHARACTERISTICS", "VERSION"):
            word = self.t.next()[1].upper()
            self.t.expression()
            if word == "LANGUAGE":
                self.t.expect(",")
                self.t.expression()

    def parse(self):
        while not self.t.at_end():
            if self.t.is_word("LANGUAGE"):
                self.common_options()
                continue
            if self.t.is_word("STRINGTABLE"):
                self.t.next()
                self.string_table()
                continue
            kind, value, where = self.t.next()
            if kind == "number" or (kind == "name" and value in WINDOWS_CONSTANTS):
                self.t.pos -= 1
                name = self.t.signed()
            elif kind in ("name", "string"):
                name = value  # a named resource
            else:
                self.t.pos -= 1
                self.t.error("expected a resource, found %r" % value)
            kind, rtype, where = self.t.next()
            upper = rtype.upper() if kind == "name" else None
            if upper in ("DIALOG", "DIALOGEX"):
                self.dialog(self.number_name(name, where), upper == "DIALOGEX")
            elif upper == "MENU":
                self.menu(self.number_name(name, where))
            elif upper in ("MENUEX",):
                self.t.error("MENUEX is not read")
            elif upper == "ICON":
                self.t.string()
                self.icons.append(self.number_name(name, where))
            elif upper == "BITMAP":
                self.bitmaps.append((self.number_name(name, where), self.t.string()))
            elif kind == "number" and self.t.number_value(rtype) == RT_DLGINIT:
                self.dialog_init(self.number_name(name, where), where)
            else:
                # Any other type: a file, or a block of data. Files of a
                # named type with a numbered id are kept (the GIFs).
                self.common_options()
                if self.t.peek()[0] == "string":
                    path = self.t.string()
                    if upper is not None and isinstance(name, int):
                        self.data.append((name, rtype, path))
                else:
                    self.skip_block()

    def data_block(self):
        """The bytes of a user-defined resource's data block, as windres
        stores them: a number is a 16-bit word (32 bits with an L suffix), a
        string its bytes without a terminating zero."""
        self.common_options()
        self.begin()
        data = bytearray()
        while not self.at_end_of_block():
            if self.t.peek()[0] == "string":
                data += self.t.string().encode("latin-1")
            else:
                start = self.t.pos
                value = self.t.expression()
                long = any(k == "number" and v[-1:] in "lL"
                           for k, v, _ in self.t.items[start:self.t.pos])
                data += struct.pack("<I" if long else "<H",
                                    value & (0xFFFFFFFF if long else 0xFFFF))
            self.t.accept(",")
        return bytes(data)

    def dialog_init(self, number, where):
        """A dialog's initial data (type 240): records of control id, message,
        32-bit length and that many bytes, up to a zero id. Only the combo box
        and list box item records (CB_ADDSTRING 0x0403, LB_ADDSTRING 0x0401,
        as the resource toolchain numbers them) are meaningful; their text
        ends at its zero byte."""
        data = self.data_block()
        records = []
        pos = 0
        while pos + 2 <= len(data):
            control, = struct.unpack_from("<H", data, pos)
            if control == 0:
                break
            if pos + 8 > len(data):
                raise RcError(f"{where[0]}:{where[1]}: dialog init data {number} is cut short")
            message, length = struct.unpack_from("<HI", data, pos + 2)
            body = data[pos + 8:pos + 8 + length]
            if len(body) != length:
                raise RcError(f"{where[0]}:{where[1]}: dialog init data {number} is cut short")
            if message not in (INIT_CB_ADDSTRING, INIT_LB_ADDSTRING):
                raise RcError(f"{where[0]}:{where[1]}: dialog init data {number}: "
                              f"message 0x{message:04X} is not read")
            if b"\0" not in body:
                raise RcError(f"{where[0]}:{where[1]}: dialog init data {number}: "
                              f"a text without its terminating zero")
            records.append({"control": control - 0x10000 if control & 0x8000 else control,
                            "message": message,
                            "text": body[:body.index(b"\0")].decode("latin-1")})
            pos += 8 + length
        if number in self.init_data:
            raise RcError(f"{where[0]}:{where[1]}: dialog init data {number} appears twice")
        self.init_data[number] = records

    def number_name(self, name, where):
        if not isinstance(name, int):
            raise RcError(f"{where[0]}:{where[1]}: resource {name} needs a number")
        return name

    def string_table(self):
        self.common_options()
        self.begin()
        while not self.at_end_of_block():
            kind, value, where = self.t.peek()
            number = self.t.expression()
            self.t.accept(",")
            text = self.t.string()
            if number in self.strings:
                raise RcError(f"{where[0]}:{where[1]}: string {number} appears twice")
            self.strings[number] = text

    def menu(self, number):
        self.common_options()
        self.begin()
        popups = []
        while not self.at_end_of_block():
            if not self.t.is_word("POPUP"):
                self.t.error("a menu bar holds popups only here")
            self.t.next()
            title = self.t.string()
            self.begin()
            items = []
            while not self.at_end_of_block():
                if self.t.is_word("POPUP"):
                    self.t.error("nested popups are not read")
                if not self.t.is_word("MENUITEM"):
                    self.t.error("expected MENUITEM, found %r" % self.t.peek()[1])
                self.t.next()
                if self.t.is_word("SEPARATOR"):
                    self.t.next()
                    items.append({"command": 0, "text": ""})
                    continue
                text = self.t.string()
                self.t.expect(",")
                command = self.t.expression()
                if self.t.accept(","):
                    self.t.error("menu item options are not read")
                items.append({"command": command, "text": text})
            popups.append({"text": title, "items": items})
        self.menus.append({"id": number, "popups": popups})

    def dialog(self, number, extended):
        x = self.t.signed()
        self.t.expect(",")
        y = self.t.signed()
        self.t.expect(",")
        cx = self.t.signed()
        self.t.expect(",")
        cy = self.t.signed()
        if extended and self.t.accept(","):
            self.t.expression()  # help id
        style = None
        ex_style = 0
        caption = ""
        has_caption = False
        font = None
        while True:
            if self.t.is_word("STYLE"):
                self.t.next()
                style = self.t.style(0)
            elif self.t.is_word("EXSTYLE"):
                self.t.next()
                ex_style = self.t.style(0)
            elif self.t.is_word("CAPTION"):
                self.t.next()
                caption = self.t.string()
                has_caption = True
            elif self.t.is_word("FONT"):
                self.t.next()
                size = self.t.expression()
                self.t.expect(",")
                face = self.t.string()
                while self.t.accept(","):
                    self.t.expression()  # weight, italic, character set
                font = (face, size)
            elif self.t.is_word("MENU", "CLASS"):
                self.t.error("dialogs with a menu or a class of their own are not read")
            elif self.t.is_word("LANGUAGE", "CHARACTERISTICS", "VERSION"):
                self.common_options()
            else:
                break
        if style is None:
            style = 0x80000000 | 0x00800000 | 0x00080000  # WS_POPUP | WS_BORDER | WS_SYSMENU
        if has_caption:
            style |= 0x00C00000  # WS_CAPTION
        if font is not None:
            style |= 0x40  # DS_SETFONT
            figures = FONT_FIGURES.get((font[0].lower(), font[1]))
            if figures is None:
                self.t.error("no base units known for the font %s %d: add its figures"
                             % (font[0], font[1]))
        else:
            figures = SYSTEM_FONT_FIGURES
        controls = []
        self.begin()
        while not self.at_end_of_block():
            controls.append(self.control(extended, figures))
        self.dialogs.append({
            "id": number, "caption": caption, "style": style, "exStyle": ex_style,
            "font": font[0] if font else "", "fontPoints": font[1] if font else 0,
            "baseUnits": list(figures), "units": [x, y, cx, cy],
            "pixels": [mul_div(cx, figures[0], 4), mul_div(cy, figures[1], 8)],
            "controls": controls,
        })

    def control_text(self):
        if self.t.peek()[0] == "string":
            return self.t.string(), 0
        return "", self.t.signed()

    def control(self, extended, figures):
        kind, word, where = self.t.next()
        statement = word.upper() if kind == "name" else ""
        text, text_resource = "", 0
        ex_style = 0
        if statement == "CONTROL":
            text, text_resource = self.control_text()
            self.t.expect(",")
            number = self.t.signed()
            self.t.expect(",")
            cls = self.t.string()
            cls = KNOWN_CLASSES.get(cls.lower(), cls)
            self.t.expect(",")
            style = self.t.style(WS_CHILD_VISIBLE)
            rect = self.rectangle()
            if self.t.accept(","):
                ex_style = self.t.style(0)
                if extended and self.t.accept(","):
                    self.t.expression()  # help id
        elif statement in CONTROL_STATEMENTS:
            cls, base, default, has_text = CONTROL_STATEMENTS[statement]
            if has_text:
                text, text_resource = self.control_text()
                self.t.expect(",")
            number = self.t.signed()
            if statement == "ICON":
                self.t.expect(",")
                x = self.t.signed()
                self.t.expect(",")
                y = self.t.signed()
                rect = [x, y, 0, 0]
                if self.t.accept(","):
                    # The resource compiler of the build ignores the size:
                    # the icon sizes the control.
                    self.t.signed()
                    self.t.expect(",")
                    self.t.signed()
            else:
                rect = self.rectangle()
            style = default | WS_CHILD_VISIBLE
            if self.t.accept(","):
                style = self.t.style(base | WS_CHILD_VISIBLE)
                if self.t.accept(","):
                    ex_style = self.t.style(0)
                    if extended and self.t.accept(","):
                        self.t.expression()  # help id
        else:
            self.t.pos -= 1
            self.t.error("unknown control statement %r" % word)
        x, y, cx, cy = rect
        left = mul_div(x, figures[0], 4)
        top = mul_div(y, figures[1], 8)
        return {
            "statement": statement, "className": cls, "id": number, "text": text,
            "textResource": text_resource, "style": style, "exStyle": ex_style,
            "units": [x, y, cx, cy],
            "pixels": [left, top, left + mul_div(cx, figures[0], 4),
                       top + mul_div(cy, figures[1], 8)],
        }

    def rectangle(self):
        values = []
        for _ in range(4):
            self.t.expect(",")
            values.append(self.t.signed())
        return values


def mul_div(value, numerator, denominator):
    """MulDiv: the product divided, rounded half away from zero."""
    product = value * numerator
    quotient, remainder = divmod(abs(product), denominator)
    if remainder * 2 >= denominator:
        quotient += 1
    return quotient if product >= 0 else -quotient


def bitmap_size(path):
    """Width and height of a .bmp file, or None."""
    try:
        with open(path, "rb") as f:
            header = f.read(26)
    except OSError:
        return None
    if len(header) < 26 or header[:2] != b"BM":
        return None
    size = struct.unpack_from("<I", header, 14)[0]
    if size == 12:
        width, height = struct.unpack_from("<HH", header, 18)
    else:
        width, height = struct.unpack_from("<ii", header, 18)
    return [width, abs(height)]


def read_table(rc_path, include_dirs):
    source = Source(include_dirs)
    source.process(rc_path)
    parser = Parser(source)
    parser.parse()
    bitmaps = []
    for number, name in parser.bitmaps:
        found = source.find(name, rc_path)
        bitmaps.append({"id": number, "size": (bitmap_size(found) if found else None) or [0, 0]})
    for d in parser.dialogs:
        d["initData"] = parser.init_data.pop(d["id"], [])
        classes = {c["id"]: c["className"] for c in d["controls"]}
        for record in d["initData"]:
            wanted = "ComboBox" if record["message"] == INIT_CB_ADDSTRING else "ListBox"
            if classes.get(record["control"]) != wanted:
                raise RcError("%s: dialog init data %d: control %d is not a %s of the template"
                              % (rc_path, d["id"], record["control"], wanted))
    if parser.init_data:
        raise RcError("%s: dialog init data %d has no dialog template"
                      % (rc_path, min(parser.init_data)))
    data = []
    for number, rtype, name in parser.data:
        found = source.find(name, rc_path)
        if found is None:
            raise RcError("%s: file %s of resource %d not found" % (rc_path, name, number))
        with open(found, "rb") as f:
            data.append({"id": number, "type": rtype, "hex": f.read().hex()})
    for kind, items in (("dialog", parser.dialogs), ("menu", parser.menus)):
        ids = [item["id"] for item in items]
        if len(ids) != len(set(ids)):
            raise RcError("%s: a %s id appears twice" % (rc_path, kind))
    return {
        "dialogs": parser.dialogs,
        "menus": parser.menus,
        "strings": [{"id": k, "text": v} for k, v in sorted(parser.strings.items())],
        "icons": sorted(parser.icons),
        "bitmaps": sorted(bitmaps, key=lambda b: b["id"]),
        "data": sorted(data, key=lambda d: (d["type"], d["id"])),
    }


# --- C++ output -----------------------------------------------------------------------


def cpp_string(text):
    out = ['"']
    for c in text:
        b = ord(c)
        if c in '"\\':
            out.append("\\" + c)
        elif 0x20 <= b < 0x7F:
            out.append(c)
        else:
            # Always three digits: the escape cannot take in a digit after it.
            out.append("\\%03o" % b)
    out.append('"')
    return "".join(out)


def cpp_rect(r, sized):
    if sized:
        return "{%d, %d, %d, %d}" % (r[0], r[1], r[0] + r[2], r[1] + r[3])
    return "{%d, %d, %d, %d}" % tuple(r)


def to_cpp(table, rc_name):
    lines = [
        "// Generated by scripts/rc-to-table.py from %s; edit that file instead." % rc_name,
        '#include "res/ResourceTable.h"',
        "",
        "namespace tavlo::res {",
        "",
        "namespace {",
        "",
        "port::ResourceTable MakeTable() {",
        "    port::ResourceTable table;",
    ]
    for d in table["dialogs"]:
        lines.append("    table.dialogs.push_back(port::DialogResource{")
        lines.append("        .id = %d," % d["id"])
        lines.append("        .caption = %s," % cpp_string(d["caption"]))
        lines.append("        .style = 0x%08Xu," % d["style"])
        lines.append("        .exStyle = 0x%08Xu," % d["exStyle"])
        lines.append("        .fontFace = %s," % cpp_string(d["font"]))
        lines.append("        .fontPoints = %d," % d["fontPoints"])
        lines.append("        .baseUnits = {%d, %d}," % tuple(d["baseUnits"]))
        lines.append("        .units = %s," % cpp_rect(d["units"], True))
        lines.append("        .pixels = {%d, %d}," % tuple(d["pixels"]))
        lines.append("        .controls = {")
        for c in d["controls"]:
            lines.append(
                "            {.statement = %s, .className = %s, .id = %d, .text = %s, "
                ".textResource = %d, .style = 0x%08Xu, .exStyle = 0x%08Xu, .units = %s, "
                ".pixels = %s}," % (
                    cpp_string(c["statement"]), cpp_string(c["className"]), c["id"],
                    cpp_string(c["text"]), c["textResource"], c["style"], c["exStyle"],
                    cpp_rect(c["units"], True), cpp_rect(c["pixels"], False)))
        lines.append("        },")
        lines.append("        .initData = {")
        for r in d["initData"]:
            lines.append("            {.control = %d, .message = 0x%04Xu, .text = %s}," % (
                r["control"], r["message"], cpp_string(r["text"])))
        lines.append("        },")
        lines.append("    });")
    for m in table["menus"]:
        lines.append("    table.menus.push_back(port::MenuResource{%d, {" % m["id"])
        for p in m["popups"]:
            items = ", ".join("{%d, %s}" % (i["command"], cpp_string(i["text"]))
                              for i in p["items"])
            lines.append("        {%s, {%s}}," % (cpp_string(p["text"]), items))
        lines.append("    }});")
    for s in table["strings"]:
        lines.append("    table.strings.push_back({%d, %s});" % (s["id"], cpp_string(s["text"])))
    for i in table["icons"]:
        lines.append("    table.icons.push_back(%d);" % i)
    for b in table["bitmaps"]:
        lines.append("    table.bitmaps.push_back({%d, {%d, %d}});" % (b["id"], *b["size"]))
    for d in table["data"]:
        raw = bytes.fromhex(d["hex"])
        lines.append("    table.data.push_back({%d, %s, std::string(" % (d["id"], cpp_string(d["type"])))
        for i in range(0, len(raw), 48):
            lines.append("        %s" % cpp_string(raw[i:i + 48].decode("latin-1")))
        lines.append("        , %d)});" % len(raw))
    lines += [
        "    return table;",
        "}",
        "",
        "} // namespace",
        "",
        "const port::ResourceTable& ProgramResources() {",
        "    static const port::ResourceTable table = MakeTable();",
        "    return table;",
        "}",
        "",
        "} // namespace tavlo::res",
        "",
    ]
    return "\n".join(lines)


def main(argv):
    include_dirs = []
    as_json = False
    args = []
    i = 0
    while i < len(argv):
        if argv[i] == "-I" and i + 1 < len(argv):
            include_dirs.append(argv[i + 1])
            i += 2
        elif argv[i].startswith("-I") and len(argv[i]) > 2:
            include_dirs.append(argv[i][2:])
            i += 1
        elif argv[i] == "--json":
            as_json = True
            i += 1
        else:
            args.append(argv[i])
            i += 1
    if len(args) != 2:
        sys.stderr.write(__doc__)
        return 2
    rc_path, output = args
    try:
        table = read_table(rc_path, include_dirs)
    except RcError as e:
        sys.stderr.write("rc-to-table: %s\n" % e)
        return 1
    if as_json:
        text = json.dumps(table, indent=1, ensure_ascii=True) + "\n"
    else:
        text = to_cpp(table, os.path.basename(rc_path))
    # Written only when it changes, so that an unchanged table compiles once.
    try:
        with open(output, encoding="latin-1") as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    tmp = output + ".tmp"
    with open(tmp, "w", encoding="latin-1", newline="\n") as f:
        f.write(text)
    os.replace(tmp, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
