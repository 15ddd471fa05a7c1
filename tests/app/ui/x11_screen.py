#!/usr/bin/python3
"""The X screen for the desktop screenshots, through libX11 and libXtst only (no image tools):
  x11_screen.py grab FILE.png             writes the whole screen as a PNG
  x11_screen.py find RRGGBB X Y W H       prints "X Y", the centre of the pixels near that colour
                                          in the rectangle; exits 1 when there are none
  x11_screen.py click X Y                 moves the pointer there and clicks the first button
  x11_screen.py move X Y                  moves the pointer there
  x11_screen.py background RRGGBB         paints the desktop behind the windows in that colour"""
import ctypes
import struct
import sys
import zlib

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
Window = ctypes.c_ulong


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = Window
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XDefaultScreen.argtypes = [ctypes.c_void_p]
x11.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XGetImage.restype = ctypes.POINTER(XImage)
x11.XGetImage.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XSetWindowBackground.argtypes = [ctypes.c_void_p, Window, ctypes.c_ulong]
x11.XClearWindow.argtypes = [ctypes.c_void_p, Window]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

ALL_PLANES = ~0 & 0xFFFFFFFFFFFFFFFF
Z_PIXMAP = 2


def open_display():
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    return display


def screen_rgb(display):
    """The screen as (width, height, rows of RGB bytes)."""
    screen = x11.XDefaultScreen(display)
    width, height = x11.XDisplayWidth(display, screen), x11.XDisplayHeight(display, screen)
    image = x11.XGetImage(display, x11.XDefaultRootWindow(display), 0, 0, width, height,
                          ALL_PLANES, Z_PIXMAP)
    if not image:
        sys.exit("cannot read the screen")
    if image.contents.bits_per_pixel != 32:
        sys.exit("only 24-bit screens (32 bits a pixel) are read")
    stride = image.contents.bytes_per_line
    raw = ctypes.string_at(image.contents.data, stride * height)
    x11.XFree(image)
    rows = []
    for y in range(height):
        line = raw[y * stride:y * stride + width * 4]
        # Little-endian BGRX pixels to RGB.
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows), 6)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
                  + chunk(b"IEND", b""))


def find(rows, colour, left, top, width, height, tolerance=40):
    target = bytes.fromhex(colour)
    xs, ys = [], []
    for y in range(top, min(top + height, len(rows))):
        row = rows[y]
        for x in range(left, min(left + width, len(row) // 3)):
            pixel = row[3 * x:3 * x + 3]
            if all(abs(pixel[i] - target[i]) <= tolerance for i in range(3)):
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return sum(xs) // len(xs), sum(ys) // len(ys)


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    display = open_display()
    if command == "grab" and len(sys.argv) == 3:
        width, height, rows = screen_rgb(display)
        write_png(sys.argv[2], width, height, rows)
    elif command == "find" and len(sys.argv) == 7:
        _, _, rows = screen_rgb(display)
        spot = find(rows, sys.argv[2], *(int(v) for v in sys.argv[3:7]))
        if spot is None:
            sys.exit(1)
        print(*spot)
    elif command in ("click", "move") and len(sys.argv) == 4:
        x, y = int(sys.argv[2]), int(sys.argv[3])
        xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
        x11.XSync(display, 0)
        if command == "click":
            xtst.XTestFakeButtonEvent(display, 1, 1, 30)
            xtst.XTestFakeButtonEvent(display, 1, 0, 60)
            x11.XSync(display, 0)
    elif command == "background" and len(sys.argv) == 3:
        # A 24-bit TrueColor screen takes the RGB value as its pixel.
        root = x11.XDefaultRootWindow(display)
        x11.XSetWindowBackground(display, root, int(sys.argv[2], 16))
        x11.XClearWindow(display, root)
        x11.XSync(display, 0)
    else:
        sys.exit(__doc__)
    x11.XCloseDisplay(display)


main()
