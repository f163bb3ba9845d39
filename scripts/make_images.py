#!/usr/bin/env python3
"""Draws the updater's pictures (flat icons, backgrounds and strips) into
ui/images/img/ as PNG files.

Only the Python standard library is used: shapes are rasterised with 4x4
supersampling for smooth edges and written by a minimal PNG encoder
(zlib + struct). The output is deterministic, so re-running the script on an
unchanged file gives byte-identical pictures.

    scripts/make_images.py [output-folder]
"""

import math
import os
import struct
import sys
import zlib

SS = 4  # samples per pixel along each axis

GOLD = (255, 212, 1)
GOLD_DARK = (220, 180, 0)
BLUE = (0, 44, 118)
BLUE_MID = (55, 104, 147)
WHITE = (255, 255, 255)
GREY_LIGHT = (215, 215, 215)
GREY = (155, 155, 155)
GREY_DARK = (80, 80, 80)
CHARCOAL = (50, 50, 50)
GREEN = (40, 150, 60)


class Canvas:
    def __init__(self, w, h, fill=None):
        self.w = w
        self.h = h
        # premultiplied-free RGBA floats, 0..1 for alpha
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]
        if fill:
            self.rect(0, 0, w, h, fill)

    # -- compositing -------------------------------------------------------
    def blend(self, x, y, color, coverage, alpha=1.0):
        a = coverage * alpha
        if a <= 0.0:
            return
        p = self.px[y * self.w + x]
        out_a = a + p[3] * (1.0 - a)
        if out_a <= 0.0:
            return
        for i in range(3):
            p[i] = (color[i] * a + p[i] * p[3] * (1.0 - a)) / out_a
        p[3] = out_a

    def shape(self, inside, bbox, color, alpha=1.0):
        """Fills every pixel of bbox by the fraction of samples where inside(x, y) holds.
        color may be a tuple or a function (x, y) -> tuple."""
        x0, y0, x1, y1 = bbox
        x0 = max(0, int(math.floor(x0)))
        y0 = max(0, int(math.floor(y0)))
        x1 = min(self.w, int(math.ceil(x1)))
        y1 = min(self.h, int(math.ceil(y1)))
        offsets = [(i + 0.5) / SS for i in range(SS)]
        total = SS * SS
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if inside(x + ox, y + oy):
                            hits += 1
                if hits:
                    c = color(x + 0.5, y + 0.5) if callable(color) else color
                    self.blend(x, y, c, hits / total, alpha)

    # -- primitives --------------------------------------------------------
    def rect(self, x, y, w, h, color, alpha=1.0):
        self.shape(lambda px, py: x <= px < x + w and y <= py < y + h, (x, y, x + w, y + h), color, alpha)

    def round_rect(self, x, y, w, h, r, color, alpha=1.0):
        def inside(px, py):
            if not (x <= px < x + w and y <= py < y + h):
                return False
            cx = min(max(px, x + r), x + w - r)
            cy = min(max(py, y + r), y + h - r)
            return (px - cx) ** 2 + (py - cy) ** 2 <= r * r

        self.shape(inside, (x, y, x + w, y + h), color, alpha)

    def circle(self, cx, cy, r, color, alpha=1.0):
        self.shape(lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r,
                   (cx - r, cy - r, cx + r, cy + r), color, alpha)

    def ring(self, cx, cy, r, width, color, alpha=1.0, start=None, end=None):
        """Ring of the given width centred on radius r; optional arc in degrees
        (0 = right, counter-clockwise as seen on screen)."""
        inner = (r - width / 2.0) ** 2
        outer = (r + width / 2.0) ** 2

        def inside(px, py):
            d = (px - cx) ** 2 + (py - cy) ** 2
            if not (inner <= d <= outer):
                return False
            if start is None:
                return True
            ang = math.degrees(math.atan2(cy - py, px - cx)) % 360.0
            if start <= end:
                return start <= ang <= end
            return ang >= start or ang <= end

        e = r + width
        self.shape(inside, (cx - e, cy - e, cx + e, cy + e), color, alpha)

    def line(self, x0, y0, x1, y1, width, color, alpha=1.0):
        """Segment with round caps."""
        half = width / 2.0
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9

        def inside(px, py):
            t = ((px - x0) * dx + (py - y0) * dy) / length2
            t = min(1.0, max(0.0, t))
            qx, qy = x0 + t * dx, y0 + t * dy
            return (px - qx) ** 2 + (py - qy) ** 2 <= half * half

        self.shape(inside, (min(x0, x1) - half, min(y0, y1) - half, max(x0, x1) + half, max(y0, y1) + half),
                   color, alpha)

    def polyline(self, points, width, color, alpha=1.0):
        for (a, b) in zip(points, points[1:]):
            self.line(a[0], a[1], b[0], b[1], width, color, alpha)

    def polygon(self, points, color, alpha=1.0):
        n = len(points)

        def inside(px, py):
            c = False
            j = n - 1
            for i in range(n):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c

        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.shape(inside, (min(xs), min(ys), max(xs), max(ys)), color, alpha)

    # -- output ------------------------------------------------------------
    def png(self):
        rows = bytearray()
        for y in range(self.h):
            rows.append(0)  # filter: none
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                rows += bytes((int(round(r)), int(round(g)), int(round(b)), int(round(a * 255))))

        def chunk(tag, data):
            body = tag + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
                + chunk(b"IEND", b""))


def vgradient(top, bottom, y0, y1):
    def color(x, y):
        t = min(1.0, max(0.0, (y - y0) / float(max(1, y1 - y0))))
        return tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3))

    return color


def radial(inner, outer, cx, cy, r):
    def color(x, y):
        t = min(1.0, math.hypot(x - cx, y - cy) / r)
        return tuple(inner[i] + (outer[i] - inner[i]) * t for i in range(3))

    return color


# ---------------------------------------------------------------------------
# Tool bar icons, 30 x 30: white line art when off, gold when on.
# ---------------------------------------------------------------------------

def icon_remote(color):
    c = Canvas(30, 30)
    # two screens linked by a curved arrow: help from a distance
    c.round_rect(2, 5, 13, 10, 1.5, color)
    c.rect(4, 7, 9, 6, CHARCOAL, 0.6)
    c.rect(7, 15, 3, 3, color)
    c.round_rect(15, 13, 13, 10, 1.5, color)
    c.rect(17, 15, 9, 6, CHARCOAL, 0.6)
    c.rect(20, 23, 3, 3, color)
    c.polyline([(18, 4), (23, 4), (25, 9)], 1.8, color)
    c.polygon([(22.5, 8.5), (27.5, 8.5), (25, 12)], color)
    return c


def icon_manual(color):
    c = Canvas(30, 30)
    # a package box with an arrow into it
    c.polygon([(4, 14), (15, 19), (26, 14), (26, 25), (15, 29), (4, 25)], color)
    c.polygon([(4, 14), (15, 9.5), (26, 14), (15, 19)], color, 0.55)
    c.line(15, 19, 15, 29, 1.2, CHARCOAL, 0.5)
    c.line(15, 1.5, 15, 8, 3, color)
    c.polygon([(10.5, 7), (19.5, 7), (15, 12.5)], color)
    return c


def icon_info(color):
    c = Canvas(30, 30)
    c.ring(15, 15, 12.5, 2.4, color)
    c.circle(15, 8.8, 2, color)
    c.round_rect(13.3, 12.5, 3.4, 10.5, 1.2, color)
    return c


def icon_reports(color):
    c = Canvas(30, 30)
    # an envelope with an alert dot
    c.round_rect(2, 8, 24, 17, 2, color)
    c.polyline([(3.5, 9.5), (14, 18), (24.5, 9.5)], 2, CHARCOAL)
    c.circle(24, 8, 5.2, CHARCOAL)
    c.circle(24, 8, 4.2, color)
    c.rect(23.2, 5, 1.6, 3.6, CHARCOAL)
    c.rect(23.2, 9.6, 1.6, 1.6, CHARCOAL)
    return c


def icon_language(color):
    c = Canvas(30, 30)
    # a globe: outline, meridian ellipse, equator and two parallels
    c.ring(15, 15, 12, 2, color)
    c.shape(lambda x, y: abs(((x - 15) / 5.5) ** 2 + ((y - 15) / 12) ** 2 - 1) < 0.16, (8, 2, 22, 28), color)
    c.line(3.5, 15, 26.5, 15, 1.6, color)
    c.line(6, 9, 24, 9, 1.3, color)
    c.line(6, 21, 24, 21, 1.3, color)
    return c


def icon_minimize():
    c = Canvas(30, 30)
    c.round_rect(7, 19, 16, 3, 1.5, WHITE)
    return c


def icon_close():
    c = Canvas(30, 30)
    c.line(9, 9, 21, 21, 3, WHITE)
    c.line(21, 9, 9, 21, 3, WHITE)
    return c


# ---------------------------------------------------------------------------
# Logos and backgrounds
# ---------------------------------------------------------------------------

def aster_mark(c, cx, cy, r, color, centre=None):
    """An eight-pointed star of rounded rays: the updater's own mark."""
    for k in range(8):
        a = math.radians(k * 45 + 22.5)
        c.line(cx, cy, cx + r * math.cos(a), cy - r * math.sin(a), r * 0.28, color)
    c.circle(cx, cy, r * 0.34, centre or color)


def app_icon():
    c = Canvas(64, 64)
    c.round_rect(2, 2, 60, 60, 12, vgradient(BLUE_MID, BLUE, 2, 62))
    aster_mark(c, 32, 32, 21, GOLD, BLUE)
    return c


def maker_logo():
    c = Canvas(80, 36)
    # an oval badge with a swoosh
    c.shape(lambda x, y: ((x - 40) / 37.0) ** 2 + ((y - 18) / 15.0) ** 2 <= 1, (3, 3, 77, 33), BLUE)
    c.shape(lambda x, y: abs(((x - 40) / 33.0) ** 2 + ((y - 18) / 11.5) ** 2 - 1) < 0.09, (6, 6, 74, 30), GOLD)
    c.line(20, 23, 60, 13, 4, GOLD)
    c.circle(40, 18, 4, WHITE)
    return c


def footer_strip(width, mark):
    c = Canvas(width, 30)
    c.rect(0, 0, width, 30, vgradient((70, 70, 70), (30, 30, 30), 0, 30))
    c.rect(0, 0, width, 1, GOLD_DARK)
    if mark:
        aster_mark(c, width / 2.0 - 34, 15, 10, GOLD)
        for i in range(5):
            c.round_rect(width / 2.0 - 18 + i * 12, 11, 9, 8, 2, GREY_LIGHT, 0.85)
    else:
        c.circle(width / 2.0 - 30, 15, 9, GOLD)
        c.circle(width / 2.0 - 30, 15, 4, BLUE)
        for i in range(4):
            c.round_rect(width / 2.0 - 14 + i * 12, 11, 9, 8, 2, GREY_LIGHT, 0.85)
    return c


def bar_logo():
    c = Canvas(8, 30)
    c.rect(0, 0, 8, 30, vgradient((70, 70, 70), (30, 30, 30), 0, 30))
    c.rect(0, 0, 8, 1, GOLD_DARK)
    return c


def background():
    # stretched over the whole window, so a small smooth gradient is enough
    c = Canvas(32, 256)
    c.rect(0, 0, 32, 256, vgradient((104, 104, 104), (38, 38, 38), 0, 256))
    return c


def logo_left():
    c = Canvas(250, 250)
    # a gauge: rim, scale ticks, needle
    c.circle(125, 125, 110, radial((90, 90, 90), (45, 45, 45), 125, 110, 110))
    c.ring(125, 125, 108, 6, GOLD_DARK)
    for k in range(11):
        a = math.radians(225 - k * 27)
        r0 = 82 if k % 5 else 72
        c.line(125 + r0 * math.cos(a), 125 - r0 * math.sin(a), 125 + 96 * math.cos(a), 125 - 96 * math.sin(a),
               4 if k % 5 == 0 else 2.5, WHITE)
    c.ring(125, 125, 90, 5, (220, 60, 40), start=315, end=340)
    a = math.radians(60)
    c.line(125, 125, 125 + 80 * math.cos(a), 125 - 80 * math.sin(a), 5, GOLD)
    c.circle(125, 125, 12, GOLD)
    c.circle(125, 125, 5, CHARCOAL)
    return c


def logo_right(mark):
    c = Canvas(250, 250)
    # a hand-held instrument with its screen and keys
    c.round_rect(55, 12, 140, 226, 22, vgradient((90, 90, 90), (40, 40, 40), 12, 238))
    c.round_rect(62, 19, 126, 212, 17, CHARCOAL, 0.6)
    c.round_rect(70, 30, 110, 92, 6, vgradient(BLUE_MID, BLUE, 30, 122))
    if mark:
        aster_mark(c, 125, 76, 30, GOLD, BLUE)
    else:
        c.polyline([(80, 100), (100, 80), (118, 92), (140, 58), (170, 70)], 4, GOLD)
    for row in range(2):
        for col in range(3):
            c.round_rect(78 + col * 33, 138 + row * 30, 26, 20, 5, GREY_LIGHT)
    c.circle(125, 210, 12, GOLD)
    c.circle(125, 210, 6, GOLD_DARK)
    return c


def download_button():
    c = Canvas(180, 180)
    c.circle(90, 92, 86, (0, 0, 0), 0.25)  # soft shadow
    c.circle(90, 88, 84, vgradient(GOLD, (150, 124, 1), 4, 172))
    c.ring(90, 88, 78, 3, WHITE, 0.6)
    c.circle(90, 88, 70, vgradient(BLUE_MID, BLUE, 18, 158))
    c.round_rect(78, 40, 24, 58, 5, WHITE)
    c.polygon([(56, 92), (124, 92), (90, 128)], WHITE)
    c.round_rect(56, 134, 68, 8, 4, WHITE)
    return c


# ---------------------------------------------------------------------------
# Small pictures of the step pages and the dialogs
# ---------------------------------------------------------------------------

def arrow_step():
    c = Canvas(16, 36)
    c.polyline([(4, 10), (11, 18), (4, 26)], 2.5, GREY)
    return c


def ok_icon():
    c = Canvas(30, 30)
    c.circle(15, 15, 13, GREEN)
    c.polyline([(8.5, 15.5), (13, 20), (21.5, 10.5)], 3, WHITE)
    return c


def back_icon():
    c = Canvas(30, 30)
    c.circle(15, 15, 13, GREY_DARK)
    c.line(9.5, 15, 21.5, 15, 3, WHITE)
    c.polyline([(15, 9), (9, 15), (15, 21)], 3, WHITE)
    return c


def combo_indicator():
    c = Canvas(12, 8)
    c.polygon([(1, 1.5), (11, 1.5), (6, 7)], GREY_DARK)
    return c


def scroll_arrow(direction):
    c = Canvas(9, 9)
    points = {
        "up": [(1, 6.5), (8, 6.5), (4.5, 2)],
        "down": [(1, 2.5), (8, 2.5), (4.5, 7)],
        "left": [(6.5, 1), (6.5, 8), (2, 4.5)],
        "right": [(2.5, 1), (2.5, 8), (7, 4.5)],
    }[direction]
    c.polygon(points, (113, 113, 113))
    return c


def list_arrow(color):
    c = Canvas(12, 20)
    c.polyline([(3, 3), (9, 10), (3, 17)], 2.6, color)
    return c


PICTURES = {
    "icon_aster.png": app_icon,
    "footer_aster.png": lambda: footer_strip(300, True),
    "bkg_logo_right_aster.png": lambda: logo_right(True),
    "bkg_adattabile.png": background,
    "supporto_remoto.png": lambda: icon_remote(GOLD),
    "supporto_remoto_off.png": lambda: icon_remote(WHITE),
    "aggiornamento_manuale.png": lambda: icon_manual(GOLD),
    "aggiornamento_manuale_off.png": lambda: icon_manual(WHITE),
    "informazioni.png": lambda: icon_info(GOLD),
    "informazioni_off.png": lambda: icon_info(WHITE),
    "segnalazioni_online.png": lambda: icon_reports(GOLD),
    "segnalazioni_online_off.png": lambda: icon_reports(WHITE),
    "selezione_lingua.png": lambda: icon_language(GOLD),
    "selezione_lingua_off.png": lambda: icon_language(WHITE),
    "logo_ov.png": maker_logo,
    "icon_minimize.png": icon_minimize,
    "icon_close.png": icon_close,
    "bkg_logo_left.png": logo_left,
    "bkg_logo_right.png": lambda: logo_right(False),
    "button_download.png": download_button,
    "arrow_step.png": arrow_step,
    "ok.png": ok_icon,
    "indietro.png": back_icon,
    "combo_indicator.png": combo_indicator,
    "footer.png": lambda: footer_strip(300, False),
    "bgBarraLogo.png": bar_logo,
    "arrow_menu_scrollbar_up.png": lambda: scroll_arrow("up"),
    "arrow_menu_scrollbar_down.png": lambda: scroll_arrow("down"),
    "arrow_menu_scrollbar_left.png": lambda: scroll_arrow("left"),
    "arrow_menu_scrollbar_right.png": lambda: scroll_arrow("right"),
    "arrow_off_opz.png": lambda: list_arrow(GREY),
    "arrow_on_opz.png": lambda: list_arrow(GOLD_DARK),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "ui", "images", "img")
    os.makedirs(out, exist_ok=True)
    total = 0
    for name, draw in sorted(PICTURES.items()):
        data = draw().png()
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        total += len(data)
    print("%d pictures, %d bytes" % (len(PICTURES), total))


if __name__ == "__main__":
    main()
