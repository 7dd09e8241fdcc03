#!/usr/bin/env python3
"""Compiles tralmo.rc with windres and checks the compiled resources: the
dialog templates control by control (class, id, exact style, rectangle,
text), the menu, the icon groups image by image and the bitmaps.

    python3 resources/check_resources.py [--windres PROG] [--rc FILE] [--dump]

Exit status 0 when everything matches. --dump prints the decoded dialogs.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

RT_BITMAP, RT_MENU, RT_DIALOG, RT_GROUP_ICON, RT_ICON = 2, 4, 5, 14, 3
ATOMS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox", 0x84: "ScrollBar",
         0x85: "ComboBox"}

# Window and control styles, as in the platform headers.
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
WS_EX_TOOLWINDOW = 0x80
CHILD = WS_CHILD | WS_VISIBLE
SS_LEFT, SS_CENTER, SS_ICON, SS_LEFTNOWORDWRAP, SS_BITMAP, SS_SUNKEN = 0, 1, 3, 0xC, 0xE, 0x1000
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX = 0, 1, 3
ES_AUTOHSCROLL = 0x80
TBS_VERT, TBS_BOTH, TBS_NOTICKS = 2, 8, 0x10

MODAL = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT

DESCRIPTION = "\r\n".join([
    "Description:",
    "[%title%] - song title",
    "[%state%] - song state",
    "Example: winamp [%state%]:[%title%]",
    "",
    "Also you can use some new features for Protocol 7(API v.3.0):",
    '<SS type="smile">:-)</SS>',
    '<FONT COLOR="#FF0010">Red</FONT>',
    "<BLINK>Blinking text</BLINK>",
    "<B>Bold text</B>",
    "<I>Italics</I>",
    "<U>Underlined</U>",
])

EDIT = CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL
CHECK = CHILD | BS_AUTOCHECKBOX | WS_TABSTOP

# (class, id, style, (x, y, cx, cy), text); an int text is a resource ordinal.
EXPECTED_DIALOGS = {
    100: dict(style=MODAL, exstyle=0, rect=(0, 0, 187, 83), title="Tralmo plugin", controls=[
        ("Button", 1, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, (69, 65, 50, 14), "OK"),
        ("Static", -1, CHILD | SS_LEFT, (35, 5, 146, 26),
         "Tralmo plug-in displays title and current state of the playing song near your name "
         "in the Skype's Contact lists of your friends."),
        ("Static", -1, CHILD | SS_CENTER | SS_SUNKEN, (7, 33, 174, 24),
         "\nThanks for using Tralmo plugin:)"),
        ("Static", -1, CHILD | SS_ICON, (8, 6, 0, 0), 201),
    ]),
    105: dict(style=WS_POPUP | DS_MODALFRAME | DS_SETFONT, exstyle=WS_EX_TOOLWINDOW,
              rect=(0, 0, 73, 76), title="", controls=[
        ("Static", -1, CHILD | SS_LEFTNOWORDWRAP | WS_GROUP, (4, 2, 25, 10), "Volume"),
        ("MSCTLS_TRACKBAR32", 106, CHILD | TBS_VERT | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP,
         (10, 10, 13, 61), ""),
        ("Static", -1, CHILD | SS_LEFTNOWORDWRAP | WS_GROUP, (33, 2, 35, 10), "Tray Icons"),
    ] + [("Static", -1, CHILD | SS_BITMAP, (34, 13 + 11 * i, 11, 10), 401 + i) for i in range(5)]
      + [("Button", 1000 + i, CHECK, (51, 13 + 11 * i, 12, 10), "") for i in range(5)]),
    110: dict(style=MODAL, exstyle=0, rect=(0, 0, 220, 210), title="Tralmo plugin", controls=[
        ("Static", -1, CHILD | SS_ICON, (5, 15, 0, 0), 201),
        ("Static", -1, CHILD | SS_LEFT, (5, 70, 210, 95), DESCRIPTION),
        ("Edit", 1101, EDIT, (5, 172, 210, 12), ""),
        ("Button", 1005, CHECK, (33, 5, 167, 10), "Show plugin icon in tray"),
        ("Button", 1006, CHECK, (33, 15, 167, 10), "Allow html tags (Only for Protocol 7 (API v.3.0))"),
        ("Button", 107, CHECK, (33, 25, 167, 10), "Stop on call"),
        ("Button", 108, CHECK, (33, 35, 65, 10), "Set mood on exit"),
        ("Edit", 1102, EDIT, (33, 46, 177, 12), ""),
        ("Button", 1, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, (55, 190, 50, 14), "OK"),
        ("Button", 2, CHILD | BS_PUSHBUTTON | WS_TABSTOP, (112, 190, 50, 14), "Cancel"),
    ]),
}

# (popup title, [(text, command)]); None text marks a separator.
EXPECTED_MENU = ("Tralmo", [("Options", 109), (None, 0), ("Active", 104), ("About", 103)])

# Icon group -> [(width, bits per pixel)], all images square. The tray draws
# its icons at the system's small-icon size: 16 at 96 DPI, 20 at 120, 24 at
# 144, 32 at 192.
MAIN_XP = [(size, bpp) for bpp in (8, 32, 24) for size in (32, 24, 20, 16)] + [(16, 4)]
MAIN_OLD = [(16, 4), (20, 4), (24, 4)]
BUTTON = [(16, 4), (20, 4), (24, 4), (32, 4)]
EXPECTED_ICONS = {201: MAIN_XP, 202: MAIN_OLD}
EXPECTED_ICONS.update({n: BUTTON for n in list(range(301, 306)) + list(range(1301, 1306))})
EXPECTED_BITMAPS = {n: (16, 16, 8) for n in range(401, 406)}


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n=4):
        self.pos = (self.pos + n - 1) // n * n

    def sz(self):
        out = []
        while True:
            ch = self.take("H")
            if ch == 0:
                return "".join(out)
            out.append(chr(ch))

    def sz_or_ord(self):
        first = struct.unpack_from("<H", self.data, self.pos)[0]
        if first == 0xFFFF:
            self.pos += 2
            return self.take("H")
        return self.sz()


def read_res(data):
    """{(type, name): bytes} of a .res file; ordinals are ints."""
    out = {}
    r = Reader(data)
    while r.pos + 8 <= len(data):
        start = r.pos
        size, header = r.take("II")
        rtype = r.sz_or_ord()
        name = r.sz_or_ord()
        r.pos = start + header
        if rtype != 0:
            if (rtype, name) in out:
                raise ValueError("duplicate resource %r" % ((rtype, name),))
            out[(rtype, name)] = data[r.pos:r.pos + size]
        r.pos += size
        r.align()
    return out


def parse_dialogex(data):
    r = Reader(data)
    version, signature = r.take("HH")
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    _help, exstyle, style, count = r.take("IIIH")
    rect = r.take("hhhh")
    menu, wclass, title = r.sz_or_ord(), r.sz_or_ord(), r.sz()
    font = None
    if style & DS_SETFONT:
        size, weight, italic, charset = r.take("HHBB")
        font = (size, r.sz(), weight, italic, charset)
    controls = []
    for _ in range(count):
        r.align()
        _help, cexstyle, cstyle = r.take("III")
        crect = r.take("hhhh")
        cid = r.take("i")
        cclass = r.sz_or_ord()
        cclass = ATOMS.get(cclass, cclass)
        text = r.sz_or_ord()
        extra = r.take("H")
        r.pos += extra
        controls.append(dict(cls=cclass, id=cid, style=cstyle, exstyle=cexstyle, rect=crect,
                             text=text))
    return dict(style=style, exstyle=exstyle, rect=rect, menu=menu, wclass=wclass, title=title,
                font=font, controls=controls)


def parse_menu(data):
    r = Reader(data)
    if r.take("HH") != (0, 0):
        raise ValueError("not a standard menu template")

    def items():
        out = []
        while True:
            flags = r.take("H")
            if flags & 0x10:  # MF_POPUP
                out.append((flags, r.sz(), items()))
            else:
                out.append((flags, r.take("H"), r.sz()))
            if flags & 0x80:  # MF_END
                return out

    return items()


class Checker:
    def __init__(self):
        self.failures = []

    def eq(self, what, got, want):
        if got != want:
            self.failures.append("%s: got %r, want %r" % (what, got, want))


def check_dialogs(res, c, dump):
    for number, want in EXPECTED_DIALOGS.items():
        data = res.get((RT_DIALOG, number))
        if data is None:
            c.failures.append("dialog %d is missing" % number)
            continue
        got = parse_dialogex(data)
        if dump:
            print("dialog %d style %#x exstyle %#x rect %r title %r font %r" % (
                number, got["style"], got["exstyle"], got["rect"], got["title"], got["font"]))
            for ctl in got["controls"]:
                print("  %-18s %5d %#010x %#x %r %r" % (ctl["cls"], ctl["id"], ctl["style"],
                                                       ctl["exstyle"], ctl["rect"], ctl["text"]))
        d = "dialog %d" % number
        c.eq(d + " style", hex(got["style"]), hex(want["style"]))
        c.eq(d + " exstyle", hex(got["exstyle"]), hex(want["exstyle"]))
        c.eq(d + " rect", got["rect"], want["rect"])
        c.eq(d + " title", got["title"], want["title"])
        c.eq(d + " menu and class", (got["menu"], got["wclass"]), ("", ""))
        c.eq(d + " font", got["font"][:2] if got["font"] else None, (8, "Tahoma"))
        c.eq(d + " control count", len(got["controls"]), len(want["controls"]))
        for i, (ctl, (cls, cid, style, rect, text)) in enumerate(zip(got["controls"],
                                                                     want["controls"])):
            w = "%s control %d" % (d, i + 1)
            c.eq(w + " class", str(ctl["cls"]).upper(), cls.upper())
            c.eq(w + " id", ctl["id"], cid)
            c.eq(w + " style", hex(ctl["style"]), hex(style))
            c.eq(w + " exstyle", ctl["exstyle"], 0)
            c.eq(w + " rect", ctl["rect"], rect)
            c.eq(w + " text", ctl["text"], text)


def check_menu(res, c):
    data = res.get((RT_MENU, "POPMENU"))
    if data is None:
        c.failures.append('menu "POPMENU" is missing')
        return
    top = parse_menu(data)
    c.eq("menu top level", [(f & 0x10, t) for f, t, _ in top], [(0x10, EXPECTED_MENU[0])])
    got = []
    for flags, cmd, text in top[0][2]:
        # Enabled and unchecked: no flag but the end marker.
        c.eq("menu item %r flags" % text, flags & ~0x80, 0)
        got.append((text or None, cmd))
    c.eq("menu items", got, EXPECTED_MENU[1])


def icon_images(res, group):
    data = res[(RT_GROUP_ICON, group)]
    r = Reader(data)
    _reserved, kind, count = r.take("HHH")
    out = []
    for _ in range(count):
        w, h, colours, _res, planes, bpp, size, ident = r.take("BBBBHHIH")
        image = res[(RT_ICON, ident)]
        hsize, iw, ih, iplanes, ibpp = struct.unpack_from("<IiiHH", image)
        out.append(dict(entry=(w or 256, h or 256, colours, planes, bpp, size),
                        header=(hsize, iw, ih, iplanes, ibpp), length=len(image), data=image))
    return kind, out


def check_icons(res, c):
    for group, want in EXPECTED_ICONS.items():
        if (RT_GROUP_ICON, group) not in res:
            c.failures.append("icon group %d is missing" % group)
            continue
        kind, images = icon_images(res, group)
        g = "icon group %d" % group
        c.eq(g + " type", kind, 1)
        c.eq(g + " images", [(im["entry"][0], im["entry"][4]) for im in images], want)
        for im, (size, bpp) in zip(images, want):
            colours = 1 << bpp if bpp < 8 else 0
            c.eq(g + " entry of %dx%d %d-bit" % (size, size, bpp), im["entry"],
                 (size, size, colours, 1, bpp, im["length"]))
            c.eq(g + " header of %dx%d %d-bit" % (size, size, bpp), im["header"],
                 (40, size, 2 * size, 1, bpp))
            stride = lambda bits: (size * bits + 31) // 32 * 4
            palette = 4 << bpp if bpp <= 8 else 0
            c.eq(g + " size of %dx%d %d-bit" % (size, size, bpp), im["length"],
                 40 + palette + size * (stride(bpp) + stride(1)))
    def image_data(group):
        return [im["data"] for im in icon_images(res, group)[1]]

    same = [image_data(301 + i) == image_data(1301 + i)
            for i in range(5) if (RT_GROUP_ICON, 301 + i) in res
            and (RT_GROUP_ICON, 1301 + i) in res]
    c.eq("button icons for old and new systems alike", all(same), True)


def check_bitmaps(res, c):
    for number, (w, h, bpp) in EXPECTED_BITMAPS.items():
        data = res.get((RT_BITMAP, number))
        if data is None:
            c.failures.append("bitmap %d is missing" % number)
            continue
        c.eq("bitmap %d header" % number, struct.unpack_from("<IiiHH", data), (40, w, h, 1, bpp))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--windres", default="i686-w64-mingw32-windres")
    ap.add_argument("--rc", default=os.path.join(HERE, "tralmo.rc"))
    ap.add_argument("--dump", action="store_true")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "tralmo.res")
        try:
            subprocess.run([args.windres, "-I", os.path.dirname(HERE), "-O", "res", args.rc,
                            "-o", out], check=True)
        except (OSError, subprocess.CalledProcessError) as e:
            print("FAIL the resource script does not compile:", e)
            return 2
        with open(out, "rb") as f:
            res = read_res(f.read())
    c = Checker()
    check_dialogs(res, c, args.dump)
    check_menu(res, c)
    check_icons(res, c)
    check_bitmaps(res, c)
    for failure in c.failures:
        print("FAIL", failure)
    print("%d resources, %d failures" % (len(res), len(c.failures)))
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
