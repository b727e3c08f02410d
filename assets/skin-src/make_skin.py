#!/usr/bin/python3
"""Draws Quorvex's skin, caution pictures and program icon.

Run:  /usr/bin/python3 assets/skin-src/make_skin.py [OUTPUT_ASSETS_DIR]
(default: the assets/ folder beside this script). Needs python3-pil and
fonts-ipafont-gothic. Every picture is drawn at four times its size and
scaled down, so edges and labels come out smooth. Edit the palette or the
drawing functions below and run the script again; the BMPs are committed
so a build run in place finds them without this step.
"""

import os
import sys

from PIL import Image, ImageDraw, ImageFont

S = 4  # supersampling factor
SWITCH_PANEL = None  # drawn first: buttons take their background from it

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.dirname(HERE)

JP_FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
LATIN = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

# Palette: a calm slate-blue frame, dark panels for the white status text,
# green for "on", amber for the selected mode.
FRAME_TOP = (52, 74, 98)
FRAME_BOTTOM = (33, 48, 66)
FRAME_ACCENT = (92, 170, 196)
FRAME_OFF_TOP = (104, 112, 122)
FRAME_OFF_BOTTOM = (82, 88, 96)
FRAME_OFF_ACCENT = (140, 148, 156)
PANEL_TOP = (38, 54, 72)
PANEL_BOTTOM = (27, 39, 53)
PANEL_EDGE = (70, 94, 120)
INSET = (18, 27, 37)
INSET_EDGE = (58, 80, 104)
LABEL = (196, 214, 230)
DIM = (120, 138, 156)
ON_TOP = (88, 196, 120)
ON_BOTTOM = (42, 140, 74)
OFF_TOP = (84, 96, 110)
OFF_BOTTOM = (58, 68, 80)
MODE_ON_TOP = (246, 190, 88)
MODE_ON_BOTTOM = (212, 140, 40)
WHITE = (255, 255, 255)


def font(path, px):
    return ImageFont.truetype(path, px * S)


def canvas(w, h, colour=(0, 0, 0)):
    img = Image.new("RGB", (w * S, h * S), colour)
    return img, ImageDraw.Draw(img)


def finish(img, name):
    w, h = img.size[0] // S, img.size[1] // S
    small = img.resize((w, h), Image.LANCZOS)
    path = os.path.join(OUT, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    small.save(path)
    return small


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def vgradient(d, box, top, bottom, radius=0):
    """Vertical gradient inside box (already scaled), optional rounded corners."""
    x0, y0, x1, y1 = box
    h = max(1, y1 - y0)
    if radius == 0:
        for y in range(y0, y1):
            d.line([(x0, y), (x1 - 1, y)], fill=mix(top, bottom, (y - y0) / h))
        return
    mask = Image.new("L", (x1 - x0, y1 - y0), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, x1 - x0 - 1, y1 - y0 - 1], radius, fill=255)
    grad = Image.new("RGB", (x1 - x0, y1 - y0))
    gd = ImageDraw.Draw(grad)
    for y in range(y1 - y0):
        gd.line([(0, y), (x1 - x0, y)], fill=mix(top, bottom, y / h))
    d._image.paste(grad, (x0, y0), mask)


def sc(*v):
    return [x * S for x in v]


def text_centre(d, cx, cy, text, fnt, fill, bold=False):
    box = d.textbbox((0, 0), text, font=fnt, stroke_width=S // 2 if bold else 0)
    w, h = box[2] - box[0], box[3] - box[1]
    d.text((cx - w / 2 - box[0], cy - h / 2 - box[1]), text, font=fnt, fill=fill,
           stroke_width=S // 2 if bold else 0, stroke_fill=fill)


def text_at(d, x, y, text, fnt, fill, bold=False):
    d.text((x, y), text, font=fnt, fill=fill, stroke_width=S // 2 if bold else 0, stroke_fill=fill)


# ---------------------------------------------------------------- frame

def eye_emblem(d, cx, cy, r, iris, ring=WHITE):
    """The program's mark: an eye-shaped lens."""
    d.ellipse([cx - r, cy - r * 0.62, cx + r, cy + r * 0.62], outline=ring, width=max(S, int(r / 7)))
    d.ellipse([cx - r * 0.42, cy - r * 0.42, cx + r * 0.42, cy + r * 0.42], fill=iris)
    d.ellipse([cx - r * 0.17, cy - r * 0.17, cx + r * 0.17, cy + r * 0.17], fill=(16, 24, 32))
    d.ellipse([cx - r * 0.30, cy - r * 0.32, cx - r * 0.12, cy - r * 0.14], fill=WHITE)


def frame_top(active):
    img, d = canvas(650, 25)
    top, bottom, accent = (FRAME_TOP, FRAME_BOTTOM, FRAME_ACCENT) if active else (
        FRAME_OFF_TOP, FRAME_OFF_BOTTOM, FRAME_OFF_ACCENT)
    vgradient(d, sc(0, 0, 650, 25), top, bottom)
    d.line(sc(0, 0, 650, 0), fill=mix(top, WHITE, 0.35), width=S)
    d.line([(5 * S, 24 * S), (645 * S, 24 * S)], fill=accent, width=S)
    eye_emblem(d, 16 * S, 12.5 * S, 8 * S, accent)
    title = font(LATIN_BOLD, 12)
    text_at(d, 30 * S, 5 * S, "Quorvex", title, WHITE if active else (224, 228, 232))
    text_at(d, 98 * S, 5 * S, "ウェブカメラ監視", font(JP_FONT, 12),
            (210, 226, 238) if active else (200, 204, 208))
    return img


def frame_piece(w, h, active, side):
    img, d = canvas(w, h)
    top, bottom, accent = (FRAME_TOP, FRAME_BOTTOM, FRAME_ACCENT) if active else (
        FRAME_OFF_TOP, FRAME_OFF_BOTTOM, FRAME_OFF_ACCENT)
    if side == "bottom":
        vgradient(d, sc(0, 0, w, h), bottom, mix(bottom, (0, 0, 0), 0.3))
        d.line(sc(0, 0, w, 0), fill=accent, width=S)
    else:
        d.rectangle(sc(0, 0, w, h), fill=bottom)
        edge = 0 if side == "left" else w - 1
        d.line(sc(edge, 0, edge, h), fill=mix(bottom, (0, 0, 0), 0.35), width=S)
        inner = w - 1 if side == "left" else 0
        d.line(sc(inner, 0, inner, h), fill=accent, width=S)
    return img


def title_button(kind, pressed):
    img, d = canvas(18, 18)
    vgradient(d, sc(0, 0, 18, 18), FRAME_TOP, FRAME_BOTTOM)
    if kind == "close":
        face = (196, 72, 64) if pressed else (168, 84, 76)
    else:
        face = (62, 128, 158) if pressed else (78, 104, 132)
    top = mix(face, (0, 0, 0), 0.25) if pressed else mix(face, WHITE, 0.2)
    vgradient(d, sc(1, 1, 17, 17), top, face, radius=4 * S)
    d.rounded_rectangle(sc(1, 1, 17, 17), 4 * S, outline=mix(face, (0, 0, 0), 0.4), width=S)
    off = S if pressed else 0
    pen = int(1.8 * S)
    if kind == "close":
        d.line([(6 * S + off, 6 * S + off), (12 * S + off, 12 * S + off)], fill=WHITE, width=pen)
        d.line([(12 * S + off, 6 * S + off), (6 * S + off, 12 * S + off)], fill=WHITE, width=pen)
    else:  # to the tray: a bar at the bottom
        d.line([(5 * S + off, 12 * S + off), (13 * S + off, 12 * S + off)], fill=WHITE, width=pen)
        d.polygon([(9 * S + off, 10 * S + off), (6 * S + off, 6 * S + off), (12 * S + off, 6 * S + off)],
                  fill=WHITE)
    return img


# ---------------------------------------------------------------- panels

def panel_base(w, h):
    img, d = canvas(w, h)
    vgradient(d, sc(0, 0, w, h), PANEL_TOP, PANEL_BOTTOM)
    d.rectangle(sc(0, 0, w, h), outline=PANEL_EDGE, width=S)
    return img, d


def inset(d, box, radius=4):
    d.rounded_rectangle(sc(*box), radius * S, fill=INSET, outline=INSET_EDGE, width=S)


def logo():
    img, d = canvas(320, 120)
    vgradient(d, sc(0, 0, 320, 120), (46, 72, 98), (24, 36, 50))
    # soft rings behind the mark
    for i, r in enumerate((52, 40, 28)):
        c = mix((46, 72, 98), FRAME_ACCENT, 0.10 + 0.08 * i)
        d.ellipse(sc(58 - r, 60 - r, 58 + r, 60 + r), outline=c, width=2 * S)
    eye_emblem(d, 58 * S, 60 * S, 34 * S, FRAME_ACCENT)
    text_at(d, 108 * S, 22 * S, "Quorvex", font(LATIN_BOLD, 34), WHITE)
    text_at(d, 110 * S, 66 * S, "ウェブカメラ監視システム", font(JP_FONT, 14), LABEL)
    d.line(sc(110, 88, 306, 88), fill=FRAME_ACCENT, width=S)
    text_at(d, 110 * S, 94 * S, "動体検知・警告・メール通知", font(JP_FONT, 11), DIM)
    d.rectangle(sc(0, 0, 320, 120), outline=PANEL_EDGE, width=S)
    return img


def base_state():
    img, d = panel_base(320, 120)
    # insets under the six text lines (window coordinates minus (5, 145))
    inset(d, (4, 6, 316, 48))
    inset(d, (16, 49, 294, 71))
    d.line(sc(155, 53, 155, 67), fill=INSET_EDGE, width=S)
    inset(d, (72, 72, 248, 114))
    # little status lamps beside the counters
    for y, c in ((82, (88, 196, 120)), (102, (230, 96, 80))):
        d.ellipse(sc(58, y - 5, 68, y + 5), fill=c, outline=mix(c, (0, 0, 0), 0.4), width=S)
    return img


def group(d, box, label, fnt):
    x0, y0, x1, y1 = box
    d.rounded_rectangle(sc(*box), 6 * S, outline=PANEL_EDGE, width=S)
    tb = d.textbbox((0, 0), label, font=fnt)
    w = (tb[2] - tb[0]) / S + 8
    cx = (x0 + x1) / 2
    d.rectangle([(cx - w / 2) * S, (y0 - 1) * S, (cx + w / 2) * S, (y0 + 1) * S],
                fill=mix(PANEL_TOP, PANEL_BOTTOM, y0 / 240))
    text_centre(d, cx * S, y0 * S, label, fnt, LABEL)


def base_sw():
    img, d = panel_base(320, 240)
    small = font(JP_FONT, 11)
    # captions above the three on/off switches (switches at y 294..316 in the window)
    for cx, label in ((58 - 5, "開始・停止"), (165 - 5, "プレビュー"), (272 - 5, "メール")):
        text_centre(d, cx * S, 16 * S, label, font(JP_FONT, 12), LABEL, bold=True)
    d.line(sc(14, 62, 306, 62), fill=PANEL_EDGE, width=S)
    # mode group (switches at x 31..85, y 382..468)
    group(d, (14, 92, 94, 212), "動作モード", small)
    # settings group (buttons at 135..195 / 242..302, y 395..455)
    group(d, (112, 92, 306, 212), "設定", small)
    text_centre(d, 160 * S, 226 * S, "右クリックでメニュー", font(JP_FONT, 10), DIM)
    return img


def base_log():
    img, d = panel_base(320, 240)
    text_at(d, 10 * S, 7 * S, "イベントログ", font(JP_FONT, 12), LABEL, bold=True)
    text_at(d, 122 * S, 9 * S, "（ダブルクリックで画像表示）", font(JP_FONT, 10), DIM)
    # the list box sits at (8, 26)-(313, 232) in this panel
    inset(d, (6, 24, 315, 234), radius=3)
    return img


# ---------------------------------------------------------------- switches

def under(x, y, w, h):
    """The switch panel's pixels under a button at window position (x, y)."""
    img = SWITCH_PANEL.crop(((x - 5) * S, (y - 265) * S, (x - 5 + w) * S, (y - 265 + h) * S))
    return img, ImageDraw.Draw(img)


def toggle(on):
    """62 x 22 on/off switch shared by start/stop, preview and mail."""
    img, d = under(27, 294, 62, 22)
    top, bottom = (ON_TOP, ON_BOTTOM) if on else (OFF_TOP, OFF_BOTTOM)
    vgradient(d, sc(1, 1, 61, 21), top, bottom, radius=10 * S)
    d.rounded_rectangle(sc(1, 1, 61, 21), 10 * S, outline=mix(bottom, (0, 0, 0), 0.45), width=S)
    knob_x = 50 if on else 12
    d.ellipse(sc(knob_x - 8, 3, knob_x + 8, 19), fill=(236, 240, 244),
              outline=mix(bottom, (0, 0, 0), 0.5), width=S)
    lbl = font(LATIN_BOLD, 10)
    if on:
        text_centre(d, 24 * S, 11 * S, "ON", lbl, WHITE)
    else:
        text_centre(d, 38 * S, 11 * S, "OFF", lbl, (196, 204, 212))
    return img


def mode_switch(n, on):
    img, d = under(31, 382 + 32 * (n - 1), 54, 22)
    top, bottom = (MODE_ON_TOP, MODE_ON_BOTTOM) if on else (OFF_TOP, OFF_BOTTOM)
    vgradient(d, sc(1, 1, 53, 21), top, bottom, radius=5 * S)
    d.rounded_rectangle(sc(1, 1, 53, 21), 5 * S, outline=mix(bottom, (0, 0, 0), 0.45), width=S)
    label = "モード" + "１２３"[n - 1]
    text_centre(d, 27 * S, 11.5 * S, label, font(JP_FONT, 11), (48, 30, 6) if on else (214, 222, 230),
                bold=True)
    return img


def gear(d, cx, cy, r, colour):
    import math
    pts = []
    teeth = 8
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        rr = r if (i % 4) in (0, 1) else r * 0.78
        pts.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    d.polygon(pts, fill=colour)
    d.ellipse([cx - r * 0.35, cy - r * 0.35, cx + r * 0.35, cy + r * 0.35], fill=PANEL_BOTTOM)


def bell(d, cx, cy, r, colour):
    d.pieslice([cx - r, cy - r, cx + r, cy + r * 1.1], 180, 360, fill=colour)
    d.rectangle([cx - r, cy, cx + r, cy + r * 0.55], fill=colour)
    d.polygon([(cx - r * 1.25, cy + r * 0.75), (cx + r * 1.25, cy + r * 0.75), (cx + r, cy + r * 0.45),
               (cx - r, cy + r * 0.45)], fill=colour)
    d.ellipse([cx - r * 0.28, cy + r * 0.7, cx + r * 0.28, cy + r * 1.18], fill=colour)


def settings_button(kind, pressed):
    img, d = under(135 if kind == "basic" else 242, 395, 60, 60)
    face_top, face_bottom = ((44, 62, 82), (60, 86, 112)) if pressed else ((78, 106, 136), (50, 70, 92))
    vgradient(d, sc(2, 2, 58, 58), face_top, face_bottom, radius=9 * S)
    d.rounded_rectangle(sc(2, 2, 58, 58), 9 * S, outline=FRAME_ACCENT if pressed else (30, 42, 56),
                        width=S)
    off = S if pressed else 0
    icon = (170, 224, 240) if pressed else (220, 232, 242)
    if kind == "basic":
        gear(d, 30 * S + off, 23 * S + off, 12 * S, icon)
        label = "基本設定"
    else:
        bell(d, 30 * S + off, 21 * S + off, 10 * S, icon)
        label = "警告設定"
    text_centre(d, 30 * S + off, 47 * S + off, label, font(JP_FONT, 11), WHITE, bold=True)
    return img


# ---------------------------------------------------------------- caution pictures

def caution(frame):
    img, d = canvas(320, 240)
    if frame == 1:
        bg_top, bg_bottom, band, text, stripe = (196, 40, 36), (122, 18, 20), (252, 214, 60), WHITE, (40, 20, 10)
    else:
        bg_top, bg_bottom, band, text, stripe = (252, 214, 60), (230, 170, 30), (150, 24, 24), (120, 16, 16), (40, 20, 10)
    vgradient(d, sc(0, 0, 320, 240), bg_top, bg_bottom)
    # hazard stripes top and bottom
    for y0 in (0, 212):
        d.rectangle(sc(0, y0, 320, y0 + 28), fill=band)
        for x in range(-40, 340, 28):
            d.polygon([((x) * S, (y0 + 28) * S), ((x + 14) * S, (y0 + 28) * S), ((x + 28) * S, y0 * S),
                       ((x + 14) * S, y0 * S)], fill=stripe)
    # warning triangle
    cx, cy = 160, 86
    tri = [(cx * S, (cy - 44) * S), ((cx + 50) * S, (cy + 40) * S), ((cx - 50) * S, (cy + 40) * S)]
    d.polygon(tri, fill=text)
    inner = [(cx * S, (cy - 30) * S), ((cx + 38) * S, (cy + 33) * S), ((cx - 38) * S, (cy + 33) * S)]
    d.polygon(inner, fill=bg_top)
    text_centre(d, cx * S, (cy + 10) * S, "！", font(JP_FONT, 40), text, bold=True)
    text_centre(d, 160 * S, 152 * S, "警　告", font(JP_FONT, 34), text, bold=True)
    text_centre(d, 160 * S, 188 * S, "動体を検知しました", font(JP_FONT, 16), text, bold=True)
    return img


# ---------------------------------------------------------------- icon

def icon(size):
    img, d = canvas(size, size, (0, 0, 0))
    img = Image.new("RGBA", (size * S, size * S), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    r = size * S
    d.rounded_rectangle([0, 0, r - 1, r - 1], int(r * 0.2), fill=FRAME_BOTTOM + (255,))
    vgradient(d, [int(r * 0.04), int(r * 0.04), int(r * 0.96), int(r * 0.96)], FRAME_TOP, FRAME_BOTTOM,
              radius=int(r * 0.17))
    eye_emblem(d, r / 2, r / 2, r * 0.38, FRAME_ACCENT)
    d.ellipse([r * 0.74, r * 0.14, r * 0.88, r * 0.28], fill=(230, 80, 70, 255))
    small = img.resize((size, size), Image.LANCZOS)
    return small


def main():
    for active, suffix in ((True, "1"), (False, "2")):
        finish(frame_top(active), "img/frm1%s.bmp" % suffix)
        finish(frame_piece(650, 5, active, "bottom"), "img/frm2%s.bmp" % suffix)
        finish(frame_piece(5, 480, active, "left"), "img/frm3%s.bmp" % suffix)
        finish(frame_piece(5, 480, active, "right"), "img/frm4%s.bmp" % suffix)
    finish(logo(), "img/logo.bmp")
    finish(base_state(), "img/base_state.bmp")
    global SWITCH_PANEL
    SWITCH_PANEL = base_sw()
    finish(SWITCH_PANEL, "img/base_sw.bmp")
    finish(base_log(), "img/base_log.bmp")
    finish(title_button("tray", False), "img/btn11.bmp")
    finish(title_button("tray", True), "img/btn12.bmp")
    finish(title_button("close", False), "img/btn21.bmp")
    finish(title_button("close", True), "img/btn22.bmp")
    finish(settings_button("basic", False), "img/set_c_off.bmp")
    finish(settings_button("basic", True), "img/set_c_on.bmp")
    finish(settings_button("warn", False), "img/set_hm_off.bmp")
    finish(settings_button("warn", True), "img/set_hm_on.bmp")
    finish(toggle(False), "img/sw_off.bmp")
    finish(toggle(True), "img/sw_on.bmp")
    for n in (1, 2, 3):
        finish(mode_switch(n, False), "img/mosw%doff.bmp" % n)
        finish(mode_switch(n, True), "img/mosw%don.bmp" % n)
    finish(caution(1), "img/caution1.bmp")
    finish(caution(2), "img/caution2.bmp")
    for size in (16, 22, 24, 32, 48, 64, 128, 256):
        path = os.path.join(OUT, "icons/hicolor/%dx%d/apps/quorvex.png" % (size, size))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        icon(size).save(path)
    icon(256).save(os.path.join(OUT, "icons/quorvex.png"))


if __name__ == "__main__":
    main()
