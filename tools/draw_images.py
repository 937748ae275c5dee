#!/usr/bin/python3
"""Draws the module's images (node strips, about images, icons and the
illustrations of the HTML help pages) and writes them as uncompressed 24-bit
bottom-up BMP files under res/images and res/html.

Standard library only. Run from anywhere: python3 tools/draw_images.py
"""

import os
import struct

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

# Colour where nothing is drawn in the node strips; the console treats it as transparent.
TRANSPARENT = (0, 128, 128)

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
DARK = (56, 60, 68)
GREY = (128, 132, 140)
SILVER = (196, 200, 206)
LIGHT = (228, 230, 234)
FOLDER = (244, 204, 86)
FOLDER_LIGHT = (255, 232, 150)
FOLDER_DARK = (176, 128, 24)
FOLDER_BACK = (214, 168, 52)
BOARD = (24, 128, 72)
BOARD_DARK = (10, 80, 40)
TRACE = (200, 170, 70)
CHIP = (36, 36, 42)
PIN = (210, 210, 214)
LED_GREEN = (40, 230, 80)
LED_AMBER = (255, 170, 0)
BLUE = (40, 96, 200)
BLUE_LIGHT = (150, 190, 250)
NAVY = (16, 36, 84)
GOLD = (232, 184, 40)
GOLD_DARK = (150, 104, 10)
RED = (200, 30, 30)


class Canvas:
    def __init__(self, width, height, background=TRANSPARENT):
        self.width = width
        self.height = height
        self.rows = [[background] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.rows[y][x] = colour

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the pixels x0..x1, y0..y1 (inclusive)."""
        for y in range(max(y0, 0), min(y1, self.height - 1) + 1):
            for x in range(max(x0, 0), min(x1, self.width - 1) + 1):
                self.rows[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.put(x, y0, colour)
            self.put(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.put(x0, y, colour)
            self.put(x1, y, colour)

    def box(self, x0, y0, x1, y1, inside, edge):
        self.fill(x0, y0, x1, y1, inside)
        self.frame(x0, y0, x1, y1, edge)

    def line(self, x0, y0, x1, y1, colour):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx = 1 if x0 < x1 else -1
        sy = 1 if y0 < y1 else -1
        err = dx + dy
        while True:
            self.put(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                break
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def polygon(self, points, colour):
        """Fills the pixels whose centres lie inside the polygon (even-odd rule)."""
        ys = [p[1] for p in points]
        xs = [p[0] for p in points]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            cy = y + 0.5
            for x in range(int(min(xs)), int(max(xs)) + 1):
                cx = x + 0.5
                inside = False
                j = len(points) - 1
                for i in range(len(points)):
                    xi, yi = points[i]
                    xj, yj = points[j]
                    if (yi > cy) != (yj > cy) and cx < (xj - xi) * (cy - yi) / (yj - yi) + xi:
                        inside = not inside
                    j = i
                if inside:
                    self.put(x, y, colour)

    def disc(self, cx, cy, r, colour):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def gradient(self, x0, y0, x1, y1, top, bottom):
        span = max(y1 - y0, 1)
        for y in range(y0, y1 + 1):
            t = (y - y0) / span
            colour = tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))
            self.fill(x0, y, x1, y, colour)

    def save(self, path):
        stride = (self.width * 3 + 3) & ~3
        padding = b"\0" * (stride - self.width * 3)
        pixels = bytearray()
        for row in reversed(self.rows):  # bottom-up
            for r, g, b in row:
                pixels += bytes((b, g, r))
            pixels += padding
        header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(header + info + pixels)
        print("wrote %s (%dx%d, %d bytes)" % (os.path.relpath(path, ROOT), self.width, self.height, 54 + len(pixels)))


class Pen:
    """Draws on a 16-unit grid placed at (ox, oy) and scaled by k pixels per unit.
    Boxes cover whole grid cells; their edges stay one pixel wide at every scale."""

    def __init__(self, canvas, ox, oy, k):
        self.c = canvas
        self.ox = ox
        self.oy = oy
        self.k = k

    def x(self, u):
        return self.ox + int(round(u * self.k))

    def y(self, u):
        return self.oy + int(round(u * self.k))

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the grid cells x0..x1-1, y0..y1-1."""
        self.c.fill(self.x(x0), self.y(y0), self.x(x1) - 1, self.y(y1) - 1, colour)

    def box(self, x0, y0, x1, y1, inside, edge):
        self.c.box(self.x(x0), self.y(y0), self.x(x1) - 1, self.y(y1) - 1, inside, edge)

    def hline(self, x0, x1, y, colour):
        """A one-pixel line along the top of grid row y."""
        self.c.fill(self.x(x0), self.y(y), self.x(x1) - 1, self.y(y), colour)

    def polygon(self, points, colour):
        self.c.polygon([(self.ox + px * self.k, self.oy + py * self.k) for px, py in points], colour)

    def outline(self, points, colour):
        pts = [(min(self.x(px), self.ox + 16 * self.k - 1), min(self.y(py), self.oy + 16 * self.k - 1)) for px, py in points]
        for i in range(len(pts)):
            a, b = pts[i], pts[(i + 1) % len(pts)]
            self.c.line(a[0], a[1], b[0], b[1], colour)

    def disc(self, cx, cy, r, colour):
        self.c.disc(self.ox + cx * self.k, self.oy + cy * self.k, r * self.k, colour)

    def led(self, x, y, colour):
        """A light of one grid cell (2x2 pixels and more at larger scales)."""
        self.fill(x, y, x + 1, y + 1, colour)


# ---------------------------------------------------------------- node images

def closed_folder(p):
    p.box(1, 2, 7, 5, FOLDER_BACK, FOLDER_DARK)           # tab
    p.box(1, 4, 15, 14, FOLDER, FOLDER_DARK)              # body
    p.hline(2, 14, 5, FOLDER_LIGHT)                        # top highlight
    p.c.put(p.x(1), p.y(4), FOLDER_DARK)


def open_folder(p):
    p.box(1, 2, 7, 5, FOLDER_BACK, FOLDER_DARK)           # tab
    p.box(1, 4, 14, 14, FOLDER_BACK, FOLDER_DARK)         # back wall
    p.box(3, 5, 12, 9, WHITE, GREY)                       # a sheet inside
    flap = [(3.5, 7), (16, 7), (13, 14), (1, 14)]
    p.polygon(flap, FOLDER)
    p.outline([(3.5, 7), (15.5, 7), (13, 13.5), (1, 13.5)], FOLDER_DARK)
    p.hline(4, 15, 8, FOLDER_LIGHT)


def server(p, lit=False):
    front = BLUE_LIGHT if lit else SILVER
    p.box(3, 0, 13, 16, front, DARK)                      # tower case
    p.fill(12, 1, 13, 15, GREY)                           # right-hand shade
    for top in (2, 6):                                    # two drive bays
        p.box(4, top, 12, top + 3, LIGHT if not lit else WHITE, DARK)
        p.hline(5, 9, top + 1, GREY)
    for y in (10, 12):                                    # vents
        p.hline(5, 9, y, GREY if not lit else BLUE)
    p.led(5, 14, LED_GREEN)
    p.led(7, 14, LED_AMBER if lit else GREY)
    p.box(10, 11, 13, 14, DARK, DARK)                     # power button
    p.led(11, 12, LED_GREEN if lit else SILVER)


def chip(p):
    p.box(0, 1, 16, 15, BOARD, BOARD_DARK)                # circuit board
    for x in (2, 13):                                     # traces to the edges
        p.hline(x, x + 1, 3, TRACE)
        p.fill(x, 3, x + 1, 13, TRACE)
    p.hline(2, 5, 12, TRACE)
    p.hline(11, 14, 3, TRACE)
    p.box(5, 5, 11, 11, CHIP, BLACK)                      # the chip
    for i in ((6, 9) if p.k == 1 else (6, 7.5, 9)):       # pins on all four sides
        p.led(i, 4, PIN)
        p.led(i, 11, PIN)
        p.led(4, i, PIN)
        p.led(11, i, PIN)
    p.led(6, 6, GREY)                                     # pin-one mark


def key(p):
    p.disc(5, 8, 4, GOLD_DARK)                            # ring
    p.disc(5, 8, 3, GOLD)
    p.disc(4, 8, 1.2, TRANSPARENT if p.c.rows[0][0] == TRANSPARENT else WHITE)
    p.box(8, 7, 15, 10, GOLD, GOLD_DARK)                  # shaft
    p.box(11, 9, 13, 12, GOLD, GOLD_DARK)                 # teeth
    p.box(13, 9, 15, 13, GOLD, GOLD_DARK)
    p.fill(8, 7, 9, 10, GOLD)


def rack(p):
    p.box(2, 0, 14, 16, DARK, BLACK)                      # cabinet
    for top in (1, 5, 9):                                 # three rack units
        p.box(3, top, 13, top + 3, SILVER, BLACK)
        p.hline(4, 9, top + 1, GREY)
        p.led(11, top + 1, LED_GREEN)
    p.box(3, 13, 13, 15, GREY, BLACK)                     # empty slot
    p.fill(3, 15, 4, 16, BLACK)                           # feet
    p.fill(12, 15, 13, 16, BLACK)


def padlock(p):
    p.box(4, 1, 12, 10, SILVER, DARK)                     # shackle
    p.fill(6, 3, 10, 10, TRANSPARENT if p.c.rows[0][0] == TRANSPARENT else WHITE)
    p.c.frame(p.x(6) - 1, p.y(3) - 1, p.x(10), p.y(10), DARK)
    p.fill(6, 3, 10, 8, TRANSPARENT if p.c.rows[0][0] == TRANSPARENT else WHITE)
    p.box(2, 7, 14, 16, GOLD, GOLD_DARK)                  # body
    p.hline(3, 13, 8, (255, 226, 120))
    p.disc(8, 11, 1.5, BLACK)                             # keyhole
    p.fill(7.5, 11, 8.5, 14, BLACK)


NODE_IMAGES = [closed_folder, open_folder, server, lambda p: server(p, lit=True), chip, key]


def node_strip(size):
    canvas = Canvas(size * len(NODE_IMAGES), size)
    for index, draw in enumerate(NODE_IMAGES):
        draw(Pen(canvas, index * size, 0, size // 16))
    return canvas


# ---------------------------------------------------------------- pixel text

FONT = {
    "A": "01110 10001 10001 11111 10001 10001 10001",
    "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01110 10001 10000 10000 10000 10001 01110",
    "D": "11110 10001 10001 10001 10001 10001 11110",
    "E": "11111 10000 10000 11110 10000 10000 11111",
    "F": "11111 10000 10000 11110 10000 10000 10000",
    "G": "01110 10001 10000 10111 10001 10001 01111",
    "H": "10001 10001 10001 11111 10001 10001 10001",
    "I": "01110 00100 00100 00100 00100 00100 01110",
    "J": "00111 00010 00010 00010 00010 10010 01100",
    "K": "10001 10010 10100 11000 10100 10010 10001",
    "L": "10000 10000 10000 10000 10000 10000 11111",
    "M": "10001 11011 10101 10101 10001 10001 10001",
    "N": "10001 10001 11001 10101 10011 10001 10001",
    "O": "01110 10001 10001 10001 10001 10001 01110",
    "P": "11110 10001 10001 11110 10000 10000 10000",
    "Q": "01110 10001 10001 10001 10101 10010 01101",
    "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110",
    "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110",
    "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010",
    "X": "10001 10001 01010 00100 01010 10001 10001",
    "Y": "10001 10001 01010 00100 00100 00100 00100",
    "Z": "11111 00001 00010 00100 01000 10000 11111",
    "0": "01110 10001 10011 10101 11001 10001 01110",
    "1": "00100 01100 00100 00100 00100 00100 01110",
    "2": "01110 10001 00001 00010 00100 01000 11111",
    "3": "11110 00001 00001 01110 00001 00001 11110",
    "4": "00010 00110 01010 10010 11111 00010 00010",
    "5": "11111 10000 11110 00001 00001 10001 01110",
    "6": "00110 01000 10000 11110 10001 10001 01110",
    "7": "11111 00001 00010 00100 01000 01000 01000",
    "8": "01110 10001 10001 01110 10001 10001 01110",
    "9": "01110 10001 10001 01111 00001 00010 01100",
    ":": "00000 00100 00100 00000 00100 00100 00000",
    ".": "00000 00000 00000 00000 00000 01100 01100",
    ",": "00000 00000 00000 00000 01100 00100 01000",
    "*": "00000 00100 10101 01110 10101 00100 00000",
    "-": "00000 00000 00000 11111 00000 00000 00000",
    "?": "01110 10001 00001 00010 00100 00000 00100",
    " ": "00000 00000 00000 00000 00000 00000 00000",
}


def text(canvas, x, y, message, colour, scale=1):
    """Writes upper-case pixel text; each glyph is 5x7 cells plus one cell of spacing."""
    for ch in message.upper():
        rows = FONT.get(ch, FONT["?"]).split()
        for gy, row in enumerate(rows):
            for gx, bit in enumerate(row):
                if bit == "1":
                    canvas.fill(x + gx * scale, y + gy * scale, x + gx * scale + scale - 1, y + gy * scale + scale - 1, colour)
        x += 6 * scale
    return x


def text_width(message, scale=1):
    return len(message) * 6 * scale - scale


# ---------------------------------------------------------------- larger pictures

def about_image():
    canvas = Canvas(96, 64)
    canvas.gradient(0, 0, 95, 63, (34, 70, 140), (10, 22, 52))
    server(Pen(canvas, 6, 8, 3))                          # 48x48 server
    chip(Pen(canvas, 60, 18, 2))                          # 32x32 board
    for x in range(46, 60, 3):                            # dotted link between them
        canvas.fill(x, 33, x + 1, 34, LED_GREEN)
    canvas.fill(0, 60, 95, 63, (8, 16, 36))
    return canvas


def snapin_icon():
    canvas = Canvas(32, 32)
    rack(Pen(canvas, 0, 0, 2))
    chip(Pen(canvas, 16, 16, 1))                          # small board in the corner
    return canvas


def banner():
    canvas = Canvas(256, 48)
    canvas.gradient(0, 0, 255, 47, (38, 80, 156), (12, 26, 60))
    rack(Pen(canvas, 8, 8, 2))
    chip(Pen(canvas, 44, 16, 1))
    canvas.fill(40, 23, 43, 24, LED_GREEN)
    x = text(canvas, 70, 10, "FERRODEX", WHITE, 2)
    text(canvas, 70, 30, "LINUX SERVER HARDWARE", BLUE_LIGHT)
    text(canvas, 230, 10, "1.1", LED_AMBER)
    canvas.fill(0, 46, 255, 47, LED_AMBER)
    return canvas


def tree_window(width, height, lines, menu_at, menu_items, highlight):
    """A console tree with a context menu opened on one of its lines.
    lines: (indent, image drawer, label); menu_at: index of the clicked line."""
    canvas = Canvas(width, height, WHITE)
    canvas.frame(0, 0, width - 1, height - 1, GREY)
    for row, (indent, draw, label) in enumerate(lines):
        y = 4 + row * 18
        x = 4 + indent * 12
        icon = Canvas(16, 16, WHITE)
        draw(Pen(icon, 0, 0, 1))
        for iy in range(16):
            for ix in range(16):
                if icon.rows[iy][ix] != TRANSPARENT:
                    canvas.put(x + ix, y + iy, icon.rows[iy][ix])
        if row == menu_at:
            canvas.fill(x + 18, y + 2, x + 20 + text_width(label), y + 12, BLUE)
            text(canvas, x + 20, y + 4, label, WHITE)
        else:
            text(canvas, x + 20, y + 4, label, BLACK)
    # the context menu, opened just below and right of the clicked line
    mx = 4 + lines[menu_at][0] * 12 + 40
    my = 4 + menu_at * 18 + 12
    mw = max(text_width(item) for item in menu_items) + 16
    mh = len(menu_items) * 11 + 4
    canvas.fill(mx + 2, my + 2, mx + mw + 2, my + mh + 2, GREY)   # shadow
    canvas.box(mx, my, mx + mw, my + mh, LIGHT, DARK)
    for i, item in enumerate(menu_items):
        iy = my + 2 + i * 11
        if i == highlight:
            canvas.fill(mx + 2, iy, mx + mw - 2, iy + 10, BLUE)
            text(canvas, mx + 8, iy + 2, item, WHITE)
        else:
            text(canvas, mx + 8, iy + 2, item, BLACK)
    # the mouse pointer on the chosen item
    px, py = mx + 12 + text_width(menu_items[highlight]), my + 2 + highlight * 11 + 5
    arrow = [(0, 0), (0, 10), (3, 7), (5, 11), (7, 10), (5, 6), (9, 6)]
    canvas.polygon([(px + ax, py + ay) for ax, ay in arrow], WHITE)
    canvas.polygon([(px + ax + 0.5, py + ay + 0.5) for ax, ay in arrow[:3]], WHITE)
    for i in range(len(arrow)):
        a, b = arrow[i], arrow[(i + 1) % len(arrow)]
        canvas.line(px + a[0], py + a[1], px + b[0], py + b[1], BLACK)
    return canvas


def add_group_picture():
    lines = [(0, server, "MY LINUX SERVERS")]
    return tree_window(168, 76, lines, 0, ["ADD GROUP", "SAVE PASSWORDS", "ABOUT FERRODEX"], 0)


def add_host_picture():
    lines = [(0, server, "MY LINUX SERVERS"), (1, open_folder, "OFFICE"), (2, server, "DB1")]
    return tree_window(168, 76, lines, 1, ["ADD HOST", "DELETE GROUP"], 0)


def host_dialog_picture():
    canvas = Canvas(160, 80, LIGHT)
    canvas.frame(0, 0, 159, 79, DARK)
    canvas.gradient(1, 1, 158, 11, BLUE, NAVY)            # title bar
    text(canvas, 4, 3, "ADD A NEW HOST", WHITE)
    canvas.box(150, 3, 156, 9, SILVER, DARK)
    canvas.line(151, 4, 155, 8, BLACK)
    canvas.line(155, 4, 151, 8, BLACK)
    fields = [("HOST:", "SRV1.LAN", 84), ("PORT:", "22", 30), ("LOGIN:", "ROOT", 60), ("PASSWORD:", "******", 60)]
    for i, (label, value, width) in enumerate(fields):
        y = 16 + i * 12
        text(canvas, 6, y + 2, label, BLACK)
        canvas.box(62, y, 62 + width, y + 10, WHITE, GREY)
        text(canvas, 65, y + 2, value, BLACK)
    canvas.fill(4, 64, 155, 64, GREY)
    for x, label, edge in ((70, "OK", BLACK), (112, "CANCEL", GREY)):
        canvas.box(x, 67, x + 40, 77, SILVER, edge)
        text(canvas, x + 20 - text_width(label) // 2, 69, label, BLACK)
    padlock(Pen(canvas, 136, 42, 1))
    return canvas


def no_connection_picture():
    canvas = Canvas(112, 40, WHITE)
    rack(Pen(canvas, 4, 4, 2))                            # this computer
    server(Pen(canvas, 76, 4, 2))                         # the remote host
    for x in range(40, 74, 4):                            # the broken link
        if not 50 <= x <= 62:
            canvas.fill(x, 19, x + 1, 20, GREY)
    canvas.disc(56, 20, 8, RED)                           # a red cross
    for d in range(-4, 5):
        canvas.fill(55 + d, 19 + d, 56 + d, 20 + d, WHITE)
        canvas.fill(55 + d, 19 - d, 56 + d, 20 - d, WHITE)
    return canvas


def main():
    images = os.path.join(ROOT, "res", "images")
    html = os.path.join(ROOT, "res", "html")
    node_strip(16).save(os.path.join(images, "bitmap_113.bmp"))
    node_strip(32).save(os.path.join(images, "bitmap_105.bmp"))

    small = Canvas(16, 16)
    rack(Pen(small, 0, 0, 1))
    small.save(os.path.join(images, "bitmap_108.bmp"))
    large = Canvas(32, 32)
    rack(Pen(large, 0, 0, 2))
    large.save(os.path.join(images, "bitmap_107.bmp"))
    snapin_icon().save(os.path.join(images, "icon_109.bmp"))
    lock = Canvas(32, 32)
    padlock(Pen(lock, 0, 0, 2))
    lock.save(os.path.join(images, "icon_132.bmp"))
    about_image().save(os.path.join(images, "bitmap_202.bmp"))

    banner().save(os.path.join(html, "banner.bmp"))
    add_group_picture().save(os.path.join(html, "addgroup.bmp"))
    add_host_picture().save(os.path.join(html, "addhost.bmp"))
    host_dialog_picture().save(os.path.join(html, "hostdialog.bmp"))
    no_connection_picture().save(os.path.join(html, "noconnection.bmp"))


if __name__ == "__main__":
    main()
