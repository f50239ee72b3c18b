#!/usr/bin/env python3
"""Generates the binary resources of tavlo.exe and its default sound.

Usage: make-resources.py OUTPUT_FOLDER

Writes, from nothing but this script (Python standard library only):
  mail.ico      icon 173, mail announced (16x16 and 32x32, 32-bit)
  quiet.ico     icon 281, quiet; also the window icon
  skin.bmp      bitmap 268, the popup's background (148 x 120, 24-bit)
  accounts.bmp  bitmap 252, decoration of the accounts group
  blocked.bmp   bitmap 305, decoration of the blocked-senders group
  account.bmp   bitmap 257, decoration of the account dialog's group
  startup.bmp   bitmap 258, decoration of the options dialog's "Startup" group
  tavlo.gif     GIF 291, the main window's animated picture
  options.gif   GIF 301, the options dialog's animated picture (49 x 29,
                15 frames of 2 hundredths each)
  Pling.wav     the default new-mail sound (16-bit PCM mono)
"""

import math
import os
import struct
import sys

PANEL = (197, 209, 223)
INK = (40, 62, 112)
PAPER = (250, 250, 244)
FLAP = (214, 222, 236)
GOLD = (255, 206, 64)
RED = (214, 40, 40)
WHITE = (255, 255, 255)


class Canvas:
    """RGBA pixels, top row first; alpha 0 is transparent."""

    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [[tuple(fill) for _ in range(width)] for _ in range(height)]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = tuple(colour) + ((255,) if len(colour) == 3 else ())

    def get(self, x, y):
        return self.pixels[y][x]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills x0..x1, y0..y1 inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.set(x, y0, colour)
            self.set(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.set(x0, y, colour)
            self.set(x1, y, colour)

    def line(self, x0, y0, x1, y1, colour, width=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i / steps
            y = y0 + (y1 - y0) * i / steps
            for dx in range(width):
                for dy in range(width):
                    self.set(int(round(x)) + dx, int(round(y)) + dy, colour)

    def disc(self, cx, cy, radius, colour):
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
                    self.set(x, y, colour)

    def ring(self, cx, cy, radius, thickness, colour):
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                d = math.hypot(x - cx, y - cy)
                if radius - thickness < d <= radius:
                    self.set(x, y, colour)


def envelope(c, x0, y0, x1, y1, body=PAPER, ink=INK):
    """A closed envelope filling x0..x1, y0..y1."""
    c.rect(x0, y0, x1, y1, body)
    mid_x = (x0 + x1) / 2
    tip_y = y0 + (y1 - y0) * 0.55
    # The flap: a shaded triangle from the top corners to the tip.
    for y in range(y0, int(tip_y) + 1):
        t = (y - y0) / max(tip_y - y0, 1)
        half = (mid_x - x0) * (1 - t)
        for x in range(int(math.ceil(mid_x - half)), int(mid_x + half) + 1):
            c.set(x, y, FLAP)
    c.line(x0, y0, int(round(mid_x)), int(round(tip_y)), ink)
    c.line(x1, y0, int(round(mid_x)), int(round(tip_y)), ink)
    c.line(x0, y1, int(round(mid_x - (x1 - x0) * 0.12)), int(round(tip_y + 1)), ink)
    c.line(x1, y1, int(round(mid_x + (x1 - x0) * 0.12)), int(round(tip_y + 1)), ink)
    c.frame(x0, y0, x1, y1, ink)


# --- Pictures ---------------------------------------------------------------


def icon_picture(size, announced):
    c = Canvas(size, size)
    if size == 16:
        envelope(c, 0, 3, 15, 13, GOLD if announced else PAPER)
        if announced:
            c.disc(12.5, 3.5, 3.2, RED)
            c.set(12, 2, WHITE)
            c.set(12, 3, WHITE)
            c.set(12, 5, WHITE)
    else:
        envelope(c, 1, 7, 30, 26, GOLD if announced else PAPER)
        c.line(2, 27, 30, 27, (20, 30, 60, 110))  # a soft shadow
        if announced:
            c.disc(25, 7, 6.2, RED)
            c.rect(24, 3, 25, 8, WHITE)
            c.rect(24, 10, 25, 11, WHITE)
    return c


def skin_picture():
    width, height = 148, 120
    c = Canvas(width, height, PANEL + (255,))
    light = [(255, 255, 255), (236, 241, 247), (222, 229, 239), (209, 219, 231)]
    dark = [(86, 100, 128), (118, 132, 158), (148, 162, 186), (174, 187, 205)]
    for i in range(4):
        # Top and left edges catch the light, bottom and right lie in shade.
        for x in range(i, width - i):
            c.set(x, i, light[i])
            c.set(x, height - 1 - i, dark[i])
        for y in range(i, height - i):
            c.set(i, y, light[i])
            c.set(width - 1 - i, y, dark[i])
    # Envelope and magnifier in the lower right corner (x 114..141, y 84..112).
    envelope(c, 114, 84, 136, 100)
    c.disc(132, 102, 5, (226, 238, 250))
    c.ring(132, 102, 6.5, 2, INK)
    c.line(136, 106, 140, 110, INK, width=2)
    c.set(141, 112, INK)
    c.set(141, 111, INK)
    c.set(140, 112, INK)
    return c


def accounts_picture():
    c = Canvas(16, 16, PANEL + (255,))
    envelope(c, 0, 3, 15, 13)
    return c


def blocked_picture():
    c = Canvas(16, 16, PANEL + (255,))
    c.disc(7.5, 7.5, 7.6, RED)
    c.rect(3, 6, 12, 9, WHITE)
    return c


def account_picture():
    # An envelope with a gold key-ring: the settings of one mailbox.
    c = Canvas(16, 16, PANEL + (255,))
    envelope(c, 0, 5, 12, 14)
    c.ring(12, 4, 3.2, 1.4, GOLD)
    return c


def startup_picture():
    # A power symbol: the program starts with Windows.
    c = Canvas(16, 16, PANEL + (255,))
    c.ring(7.5, 8.5, 6.0, 1.6, INK)
    c.rect(6, 1, 9, 6, PANEL)
    c.rect(7, 0, 8, 8, INK)
    return c


def animation_frames():
    """An envelope that hops and lands, with a glint on landing."""
    width, height = 48, 32
    offsets = [0, -2, -5, -7, -8, -7, -5, -2, 0, 0, 0, 0]
    frames = []
    for i, dy in enumerate(offsets):
        c = Canvas(width, height, PANEL + (255,))
        shadow_half = 14 + dy // 2
        c.line(24 - shadow_half, 29, 24 + shadow_half, 29, (150, 162, 184))
        envelope(c, 11, 10 + dy, 36, 26 + dy, GOLD if i >= 8 else PAPER)
        if i in (9, 10):
            for (gx, gy) in ((40, 6), (7, 8)):
                c.line(gx - 2, gy, gx + 2, gy, WHITE)
                c.line(gx, gy - 2, gx, gy + 2, WHITE)
        frames.append(c)
    delays = [12, 6, 6, 6, 8, 6, 6, 6, 10, 12, 12, 120]  # hundredths of a second
    return frames, delays


def options_frames():
    """A cog wheel turning one tooth per frame (the options dialog)."""
    width, height = 49, 29
    teeth = 15
    frames = []
    for i in range(teeth):
        c = Canvas(width, height, PANEL + (255,))
        cx, cy = 24, 14
        c.disc(cx, cy, 9, INK)
        for tooth in range(teeth):
            # One tooth in three is long, so the turn shows.
            angle = 2 * math.pi * (tooth + i / 3.0) / teeth
            reach = 12 if tooth % 3 == 0 else 11
            c.line(cx + int(round(8 * math.cos(angle))), cy + int(round(8 * math.sin(angle))),
                   cx + int(round(reach * math.cos(angle))), cy + int(round(reach * math.sin(angle))),
                   INK, 2)
        c.disc(cx, cy, 4, GOLD)
        c.disc(cx, cy, 2, PANEL)
        frames.append(c)
    return frames, [2] * teeth


# --- File formats -----------------------------------------------------------


def bmp_bytes(c):
    """A 24-bit bottom-up BMP (BITMAPFILEHEADER + BITMAPINFOHEADER)."""
    row_size = (c.width * 3 + 3) & ~3
    rows = []
    for y in range(c.height - 1, -1, -1):
        row = bytearray()
        for x in range(c.width):
            r, g, b, _ = c.get(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, c.width, c.height, 1, 24, 0, len(pixels), 2835, 2835,
                       0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def ico_bytes(images):
    """An .ico of 32-bit images (BGRA and an AND mask)."""
    entries = []
    blobs = []
    offset = 6 + 16 * len(images)
    for c in images:
        xor = bytearray()
        for y in range(c.height - 1, -1, -1):
            for x in range(c.width):
                r, g, b, a = c.get(x, y)
                xor += bytes((b, g, r, a))
        mask_row = ((c.width + 31) // 32) * 4
        mask = bytearray()
        for y in range(c.height - 1, -1, -1):
            row = bytearray(mask_row)
            for x in range(c.width):
                if c.get(x, y)[3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        info = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        blob = info + bytes(xor) + bytes(mask)
        entries.append(struct.pack("<BBBBHHII", c.width % 256, c.height % 256, 0, 0, 1, 32,
                                   len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def lzw_encode(indices, min_code_size):
    """GIF's variable-width LZW (least significant bit first), as sub-blocks."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buffer = 0
    bit_count = 0

    def emit(code, width):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += width
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    current = ()
    for index in indices:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], width)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            # The decoder widens its codes once the table reaches 2^width.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        current = (index,)
    if current:
        emit(table[current], width)
    emit(end, width)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    blocks = bytearray()
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return bytes(blocks)


def gif_bytes(frames, delays):
    """An animated GIF89a that loops for ever, one global palette."""
    palette = []
    lookup = {}
    indexed = []
    for c in frames:
        data = []
        for y in range(c.height):
            for x in range(c.width):
                rgb = c.get(x, y)[:3]
                if rgb not in lookup:
                    lookup[rgb] = len(palette)
                    palette.append(rgb)
                data.append(lookup[rgb])
        indexed.append(data)
    if len(palette) > 256:
        raise ValueError("more than 256 colours")
    bits = max(2, (len(palette) - 1).bit_length())
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    width, height = frames[0].width, frames[0].height
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0)
    for rgb in palette:
        out += bytes(rgb)
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for data, delay in zip(indexed, delays):
        out += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, 0x04, delay, 0, 0)  # keep the frame
        out += struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0)
        out.append(bits)
        out += lzw_encode(data, bits)
    out.append(0x3B)
    return bytes(out)


def wav_bytes():
    """A two-tone chime: E6 then C6, each a bell-like decaying tone."""
    rate = 22050
    length = int(rate * 0.75)
    notes = [(1318.51, 0.0), (1046.50, 0.17)]
    samples = []
    for n in range(length):
        t = n / rate
        value = 0.0
        for frequency, start in notes:
            if t < start:
                continue
            u = t - start
            attack = min(u / 0.004, 1.0)
            envelope_ = attack * math.exp(-u * 6.0)
            value += envelope_ * (math.sin(2 * math.pi * frequency * u) +
                                  0.35 * math.sin(2 * math.pi * 2 * frequency * u) * math.exp(-u * 8))
        fade = min((length - n) / (rate * 0.05), 1.0)  # no click at the end
        samples.append(int(max(-1.0, min(1.0, 0.32 * value * fade)) * 32767))
    data = struct.pack("<%dh" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack(
        "<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def write_file(path, data):
    """Replaces the file at once, so a build never sees half of it."""
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    folder = argv[1]
    os.makedirs(folder, exist_ok=True)
    frames, delays = animation_frames()
    outputs = {
        "mail.ico": ico_bytes([icon_picture(16, True), icon_picture(32, True)]),
        "quiet.ico": ico_bytes([icon_picture(16, False), icon_picture(32, False)]),
        "skin.bmp": bmp_bytes(skin_picture()),
        "accounts.bmp": bmp_bytes(accounts_picture()),
        "blocked.bmp": bmp_bytes(blocked_picture()),
        "account.bmp": bmp_bytes(account_picture()),
        "startup.bmp": bmp_bytes(startup_picture()),
        "tavlo.gif": gif_bytes(frames, delays),
        "options.gif": gif_bytes(*options_frames()),
        "Pling.wav": wav_bytes(),
    }
    for name, data in outputs.items():
        write_file(os.path.join(folder, name), data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
