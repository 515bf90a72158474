#!/usr/bin/python3
"""Draws the user interface artwork into resources/imgs/, and the application
icon of the desktop menu into resources/linux/icons/ (hicolor theme sizes).

Every image is drawn at 8x its size and scaled down, which gives clean
anti-aliased edges with PIL's plain drawing primitives. Colours come from the
palette of qml/appSettings/GlobalSettings.qml. Needs python3-pil and
fonts-open-sans (Debian). Run from anywhere:

    /usr/bin/python3 tools/gen_artwork.py
"""

import math
import os

from PIL import Image, ImageDraw, ImageFont

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "imgs")
ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "linux", "icons", "hicolor")
APP_ID = "pt.quorva.QuorvaLink"
FONTS = "/usr/share/fonts/truetype/open-sans"
SS = 8  # supersampling factor

TITLE = "#303A4D"
SUBTITLE = "#7C8EA7"
GREY_BG = "#F5F7F9"
BLUE = "#0082F2"
LIGHT = "#BFE0FC"
WHITE = "#FFFFFF"
GREEN = "#21CB97"
SWITCH = "#64B0F2"
SCROLL = "#C5CDDB"
NO_RESULTS = "#8F9EBD"
LIST = "#7588AB"
HOVER = "#E6F3FE"
ALERT = "#F5A623"
RED = "#E5484D"
DARK_BLUE = "#006DCC"


class Canvas:
    """A transparent image drawn in logical pixels, supersampled."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.img = Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))
        self.d = ImageDraw.Draw(self.img)

    @staticmethod
    def s(v):
        return int(round(v * SS))

    def box(self, x0, y0, x1, y1):
        return [self.s(x0), self.s(y0), self.s(x1), self.s(y1)]

    def rrect(self, x0, y0, x1, y1, r, fill=None, outline=None, width=0):
        self.d.rounded_rectangle(self.box(x0, y0, x1, y1), radius=self.s(r), fill=fill, outline=outline,
                                 width=self.s(width))

    def rect(self, x0, y0, x1, y1, fill):
        self.d.rectangle(self.box(x0, y0, x1, y1), fill=fill)

    def circle(self, cx, cy, r, fill=None, outline=None, width=0):
        self.d.ellipse(self.box(cx - r, cy - r, cx + r, cy + r), fill=fill, outline=outline, width=self.s(width))

    def line(self, pts, fill, width, round_caps=True):
        spts = [(self.s(x), self.s(y)) for x, y in pts]
        self.d.line(spts, fill=fill, width=self.s(width), joint="curve")
        if round_caps:
            for x, y in (pts[0], pts[-1]):
                self.circle(x, y, width / 2, fill=fill)

    def arc(self, centre, r, start, end, fill, width):
        """A ring segment whose stroke is centred on radius r; angles clockwise from 3 o'clock."""
        cx, cy = centre
        o = r + width / 2
        self.d.arc(self.box(cx - o, cy - o, cx + o, cy + o), start, end, fill=fill, width=self.s(width))

    def poly(self, pts, fill):
        self.d.polygon([(self.s(x), self.s(y)) for x, y in pts], fill=fill)

    def text(self, x, y, txt, size, fill, weight="Semibold", anchor="la"):
        font = ImageFont.truetype(os.path.join(FONTS, "OpenSans-%s.ttf" % weight), self.s(size))
        self.d.text((self.s(x), self.s(y)), txt, font=font, fill=fill, anchor=anchor)

    def text_width(self, txt, size, weight="Semibold"):
        font = ImageFont.truetype(os.path.join(FONTS, "OpenSans-%s.ttf" % weight), self.s(size))
        return font.getlength(txt) / SS

    def result(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)

    def save(self, name):
        self.result().save(os.path.join(OUT, name), optimize=True)


def with_alpha(hex_colour, alpha):
    hex_colour = hex_colour.lstrip("#")
    return tuple(int(hex_colour[i:i + 2], 16) for i in (0, 2, 4)) + (alpha,)


# --- the product mark: two interlocking rings (a chain link) ---------------

def draw_mark(c, x, y, size, ring, accent):
    """The Quorva Link mark in a size x size square at (x, y)."""
    r = size * 0.27
    w = size * 0.12
    left = (x + size * 0.36, y + size * 0.5)
    right = (x + size * 0.64, y + size * 0.5)
    c.arc(right, r, 0, 360, accent, w)
    c.arc(left, r, 0, 360, ring, w)
    # The right ring passes over the left one at the lower crossing: the rings interlock.
    c.arc(right, r, 100, 150, accent, w)


def draw_wordmark(c, x, baseline, size, colour, accent, suffix=True):
    c.text(x, baseline, "Quorva", size, colour, "Bold", anchor="ls")
    if suffix:
        wx = x + c.text_width("Quorva", size, "Bold") + size * 0.22
        c.text(wx, baseline, "Link", size, accent, "Light", anchor="ls")


def product_logo(name, w, h, colour, accent):
    c = Canvas(w, h)
    mark = h * 0.92
    draw_mark(c, 0, (h - mark) / 2, mark, colour, accent)
    # The wordmark fills the width left of the mark, never taller than half the height.
    unit = c.text_width("Quorva", 1, "Bold") + 0.22 + c.text_width("Link", 1, "Light")
    size = min(h * 0.5, (w - mark * 1.12) / unit)
    draw_wordmark(c, mark * 1.08, h * 0.5 + size * 0.36, size, colour, accent)
    c.save(name)


def maker_logo(name, w, h, colour, accent):
    """The maker's logo: a rounded square with a 'q' counter and the name."""
    c = Canvas(w, h)
    m = h * 0.9
    y0 = (h - m) / 2
    c.rrect(0, y0, m, y0 + m, m * 0.26, fill=accent)
    ink = WHITE if accent != WHITE else BLUE
    c.circle(m * 0.45, y0 + m * 0.44, m * 0.2, outline=ink, width=m * 0.11)
    c.line([(m * 0.6, y0 + m * 0.3), (m * 0.6, y0 + m * 0.8)], ink, m * 0.11)
    c.text(m * 1.25, h * 0.5, "quorva", h * 0.72, colour, "Bold", anchor="lm")
    c.save(name)


# --- sprites and icons --------------------------------------------------------

def busy_sheet(name, colour):
    """12 frames of a 12-spoke spinner; the bright spoke moves one step per frame."""
    frames = 12
    sheet = Image.new("RGBA", (64 * frames, 64), (0, 0, 0, 0))
    for f in range(frames):
        c = Canvas(64, 64)
        for i in range(12):
            age = (f - i) % 12  # 0 is the head of the tail
            alpha = int(255 * max(0.18, 1.0 - age / 9.0))
            ang = math.radians(i * 30 - 90)
            p0 = (32 + 13 * math.cos(ang), 32 + 13 * math.sin(ang))
            p1 = (32 + 24 * math.cos(ang), 32 + 24 * math.sin(ang))
            c.line([p0, p1], with_alpha(colour, alpha), 5)
        sheet.paste(c.result(), (64 * f, 0))
    sheet.save(os.path.join(OUT, name), optimize=True)


def copy_key():
    c = Canvas(20, 20)
    c.rrect(6.5, 1.5, 18.5, 13.5, 2.5, outline=SUBTITLE, width=1.6)
    c.rrect(1.5, 6.5, 13.5, 18.5, 2.5, fill=WHITE, outline=SUBTITLE, width=1.6)
    c.save("copy-key.png")


def systray(name, size, on):
    c = Canvas(size, size)
    k = size / 64.0
    c.rrect(2 * k, 2 * k, 62 * k, 62 * k, 14 * k, fill=BLUE if on else "#8F9EBD")
    # printer: paper in, body, paper out
    c.rect(21 * k, 13 * k, 43 * k, 26 * k, WHITE)
    c.rrect(11 * k, 22 * k, 53 * k, 42 * k, 5 * k, fill=WHITE)
    c.rect(19 * k, 35 * k, 45 * k, 51 * k, WHITE)
    c.rect(19 * k, 35 * k, 45 * k, 37 * k, BLUE if on else "#8F9EBD")
    c.rect(23 * k, 41 * k, 41 * k, 43 * k, LIGHT if on else "#D5DBE6")
    c.rect(23 * k, 46 * k, 35 * k, 48 * k, LIGHT if on else "#D5DBE6")
    # state dot
    c.circle(51 * k, 51 * k, 10 * k, fill=WHITE)
    c.circle(51 * k, 51 * k, 7 * k, fill=GREEN if on else RED)
    c.save(name)


def arrow():
    c = Canvas(24, 24)
    c.line([(9, 5), (16, 12), (9, 19)], SUBTITLE, 2.4)
    c.save("icon-arrow.png")


def version_icons():
    c = Canvas(18, 18)
    c.circle(9, 9, 8.5, fill=ALERT)
    c.line([(9, 4.5), (9, 10.2)], WHITE, 2)
    c.circle(9, 13.3, 1.2, fill=WHITE)
    c.save("qlk-version-alert.png")

    c = Canvas(18, 18)
    c.circle(9, 9, 8.5, fill=GREEN)
    c.line([(5, 9.3), (8, 12.2), (13.2, 6.3)], WHITE, 1.9)
    c.save("qlk-version-updated.png")

    c = Canvas(18, 18)
    c.line([(4, 4), (14, 14)], SUBTITLE, 1.8)
    c.line([(14, 4), (4, 14)], SUBTITLE, 1.8)
    c.save("qlk-version-close.png")


# --- illustrations (95 x 92) -------------------------------------------------

def illustration_base(c):
    c.circle(47.5, 48, 40, fill=HOVER)
    c.rrect(12, 80, 83, 84, 2, fill=LIGHT)


def illustration_printer():
    c = Canvas(95, 92)
    illustration_base(c)
    c.rect(30, 18, 65, 40, WHITE)
    c.rrect(30, 18, 65, 40, 1, outline=LIGHT, width=1.5)
    c.rrect(16, 34, 79, 64, 7, fill=BLUE)
    c.rrect(16, 34, 79, 42, 7, fill=DARK_BLUE)
    c.rect(16, 38, 79, 42, DARK_BLUE)
    c.circle(70, 49, 2.6, fill=GREEN)
    # receipt coming out
    c.poly([(28, 56), (67, 56), (67, 80), (63, 77), (59, 80), (55, 77), (51, 80), (47, 77), (43, 80), (39, 77),
            (35, 80), (31, 77), (28, 80)], WHITE)
    for i, w in enumerate((30, 22, 26)):
        c.rect(33, 61 + i * 5, 33 + w, 62.6 + i * 5, SCROLL)
    c.rect(24, 54, 71, 57, TITLE)
    c.save("illustration-1.png")


def illustration_terminal():
    c = Canvas(95, 92)
    illustration_base(c)
    # card behind the terminal
    c.rrect(47, 14, 80, 36, 3, fill=GREEN)
    c.rect(47, 19, 80, 23, TITLE)
    c.rrect(26, 10, 64, 82, 8, fill=TITLE)
    c.rrect(31, 16, 59, 36, 3, fill=LIGHT)
    c.rect(35, 22, 52, 24, BLUE)
    c.rect(35, 27, 46, 29, BLUE)
    for row in range(3):
        for col in range(3):
            c.rrect(32 + col * 9.5, 42 + row * 8, 38 + col * 9.5, 47 + row * 8, 1.5,
                    fill=WHITE if (row, col) != (2, 2) else GREEN)
    c.rrect(32, 67, 57, 71, 1.5, fill=SUBTITLE)
    c.save("illustration-2.png")


def illustration_update():
    c = Canvas(95, 92)
    illustration_base(c)
    # a cloud with a download arrow
    c.circle(36, 42, 14, fill=BLUE)
    c.circle(54, 36, 18, fill=BLUE)
    c.circle(70, 46, 11, fill=BLUE)
    c.rrect(22, 42, 81, 57, 7.5, fill=BLUE)
    c.line([(51, 34), (51, 60)], WHITE, 5)
    c.line([(41, 52), (51, 62), (61, 52)], WHITE, 5)
    c.rrect(28, 70, 74, 76, 3, fill=GREEN)
    c.save("illustration-3.png")


def no_data():
    c = Canvas(288, 164)
    c.circle(144, 84, 74, fill=HOVER)
    # an open, empty box
    c.poly([(96, 78), (144, 94), (192, 78), (192, 132), (144, 148), (96, 132)], LIGHT)
    c.poly([(144, 94), (192, 78), (192, 132), (144, 148)], "#A9D3FA")
    c.poly([(96, 78), (144, 62), (192, 78), (144, 94)], "#8CC4F7")
    c.poly([(96, 78), (144, 94), (124, 112), (76, 96)], "#D6EBFD")
    c.poly([(192, 78), (144, 94), (164, 112), (212, 96)], "#CFE7FD")
    # dots and a question mark floating above
    c.circle(60, 40, 5, fill=LIGHT)
    c.circle(228, 52, 7, fill=LIGHT)
    c.circle(214, 26, 4, fill=SCROLL)
    c.text(144, 46, "?", 34, NO_RESULTS, "Bold", anchor="mm")
    c.save("no-data-graphic.png")


def app_icon(size):
    """The program's icon: the mark on a rounded blue square."""
    k = size / 256.0
    c = Canvas(size, size)
    c.rrect(8 * k, 8 * k, 248 * k, 248 * k, 56 * k, fill=BLUE)
    draw_mark(c, 40 * k, 40 * k, 176 * k, WHITE, LIGHT)
    return c


def install_ico():
    img = app_icon(256).result()
    img.save(os.path.join(OUT, "install.ico"),
             sizes=[(16, 16), (24, 24), (32, 32), (48, 48), (64, 64), (128, 128), (256, 256)])


def menu_icons():
    # Each size drawn on its own, not scaled from the largest: small sizes stay sharp.
    for size in (16, 22, 24, 32, 48, 64, 128, 256, 512):
        folder = os.path.join(ICONS, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        app_icon(size).result().save(os.path.join(folder, APP_ID + ".png"), optimize=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    busy_sheet("busy_indicator.png", TITLE)
    busy_sheet("busy_indicator_white.png", WHITE)
    copy_key()
    for on in (True, False):
        state = "on" if on else "off"
        systray("ic_systray_%s.png" % state, 64, on)
        systray("ic_systray_%s@2x.png" % state, 128, on)
    arrow()
    version_icons()
    illustration_printer()
    illustration_terminal()
    illustration_update()
    no_data()
    maker_logo("logo_quorva_cabecalho.png", 175, 30, TITLE, BLUE)
    maker_logo("qlk-logo-white.png", 300, 52, WHITE, WHITE)
    product_logo("qlk-icon-splashscreen.png", 314, 90, WHITE, LIGHT)
    product_logo("qlk-icon-top.png", 198, 60, WHITE, LIGHT)
    install_ico()
    menu_icons()


if __name__ == "__main__":
    main()
